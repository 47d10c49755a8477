#pragma once

#include <optional>
#include <string>
#include <string_view>

// Rewrites a pattern in the expression object's syntax (the VBScript and
// JScript dialect) into an equivalent PCRE2 pattern, for a compile without
// UTF mode and with PCRE2_ALT_BSUX, PCRE2_MATCH_UNSET_BACKREF and, for
// IgnoreCase, PCRE2_CASELESS.
//
// Where the two dialects read the same text differently the result spells
// out the object's meaning:
//   .            any unit but a line feed
//   ^ $          with multiline, also just after / just before CR or LF;
//                without it, $ only at the very end of the subject
//   \v           the single character U+000B
//   \cX          a control character for a letter X, else a literal "c"
//   \n, \nn      a back-reference when that many groups were opened before
//                it, otherwise an octal escape (or a literal 8 or 9)
//   [] and [^]   nothing at all, and any unit
//   [\d-z]       a class escape and a literal hyphen, never a range
// Every literal is written as an escape or a plain letter, so nothing of the
// source can take on a PCRE2 meaning.
//
// Syntax that PCRE2 knows but the object does not is refused rather than
// read as an extension: look-behind, named groups, atomic groups,
// possessive quantifiers, inline options and comments ("(?" followed by
// anything but ":", "=" or "!"), "(*VERB)", and the escapes
// \A \z \Z \G \K \Q \E \p \P \h \H \R \X \g \k. Other letters after a
// backslash are the letter itself, as in the object.
//
// PCRE2 only folds ASCII letters without UCP, so with `ignoreCase` the
// non-ASCII letters that have a case partner in code page 936 (Latin-1,
// Greek, Cyrillic and the full-width Latin letters) are folded here, as
// classes holding both cases.
//
// Returns nothing when the pattern is refused; a pattern that passes can
// still be rejected by PCRE2 (an unbalanced parenthesis, a quantifier with
// nothing to repeat), which counts as invalid just the same.
std::optional<std::u16string> TranslatePattern(std::u16string_view pattern, bool ignoreCase,
                                               bool multiline);

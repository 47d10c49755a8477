#pragma once

#include <memory>
#include <optional>

#include "values/text.h"

class MatchCollection;
class RegExpObject;

// One regular expression run over one text, with answers about the matches:
// how many, the text of a match or of one of its groups, and where that text
// lies in the searched text. The pattern syntax and the matching are those
// of the expression object (platform/regexp.h); the matcher adds the options'
// defaults, 1-based numbering of matches and groups, results as Text, byte
// positions, and silence: nothing here reports an error, a failed step just
// leaves an empty result (the empty text, 0, false) and the matcher usable.
//
// Texts cross to the expression object as UTF-16 through the code page 936
// converter, so the hand-over is exact for every text the program holds.
//
// A matcher belongs to the thread that constructs it. Construction enters
// the thread's apartment count and destruction leaves it (the count the web
// request shares); a copy enters it as well, so that every matcher's
// destruction has an entry of its own to balance.
class RegexMatcher {
 public:
  RegexMatcher();
  ~RegexMatcher();
  // The copy refers to the same expression object and match collection and
  // has its own copy of the subject. Assignment leaves the counts as they
  // are: both sides have entered already.
  RegexMatcher(const RegexMatcher& other);
  RegexMatcher& operator=(const RegexMatcher& other);

  // Runs `pattern` over `subject` with a new expression object, dropping the
  // previous search. Omitted options: case ignored, multi-line, global, the
  // pattern taken as it is. With `replaceQuoteMarker`, every "#引号" of the
  // pattern becomes a double quote first. False only when the pattern is
  // invalid; a search that finds nothing is true. The subject is kept
  // either way.
  bool Search(const Text& pattern, const Text& subject, std::optional<bool> caseSensitive = std::nullopt,
              std::optional<bool> multiline = std::nullopt, std::optional<bool> global = std::nullopt,
              std::optional<bool> replaceQuoteMarker = std::nullopt);
  void NoOp() const;
  // The pattern of the last search after the marker replacement; empty
  // before the first.
  Text GetPattern() const;
  // The subject of the last search with its matches replaced; $1..$99, $&,
  // $`, $' and $$ in `replacement` are substituted. Empty before the first
  // search and after an invalid pattern.
  Text ReplaceMatches(const Text& replacement) const;
  int MatchCount() const;

  // The text of match `matchIndex` (from 1), empty when there is no such
  // match. With `position`, also stores where the text lies: see below.
  Text MatchText(int matchIndex, int* position = nullptr) const;
  // The text of group `subMatchIndex` (from 1) of match `matchIndex`, empty
  // for a group that took no part or does not exist. `position` as above,
  // measured from the start of the whole match.
  Text SubMatchText(int matchIndex, int subMatchIndex, int* position = nullptr) const;
  // The number of groups of the pattern, read from the first match; 0 when
  // nothing matched.
  int SubMatchCount() const;

  // About `position`: the object counts UTF-16 units and the matcher bytes,
  // so the byte offset is found by searching the subject for the returned
  // text from the 1-based byte position that equals the match's unit offset
  // (so one byte early in an ASCII subject, and never late, since no
  // character is fewer bytes than units), folding ASCII case when the search
  // ignored case. The result is that occurrence's 0-based byte offset, which
  // is an earlier occurrence than the match itself when one lies between
  // the start and the match, or -2 when there is none. An empty text is
  // found at 0 while any byte lies at or after the start.

 private:
  int PositionOf(const Text& sought, int firstIndex) const;

  std::shared_ptr<RegExpObject> expression_;
  std::shared_ptr<MatchCollection> matches_;
  Text subject_;
};

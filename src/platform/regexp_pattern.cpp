#include "platform/regexp_pattern.h"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

namespace {

// Linear case pairs beyond ASCII: units upper..upper+count-1 pair with
// lower..lower+count-1. Final sigma pairs with both sigmas, so that any of
// the three finds the other two directly.
struct CasePair {
  char16_t upper;
  char16_t lower;
  char16_t count;
};
constexpr std::array<CasePair, 11> kCasePairs{{
    {0x00C0, 0x00E0, 0x17},  // À..Ö / à..ö
    {0x00D8, 0x00F8, 0x07},  // Ø..Þ / ø..þ
    {0x0178, 0x00FF, 0x01},  // Ÿ / ÿ
    {0x0391, 0x03B1, 0x11},  // Α..Ρ / α..ρ
    {0x03A3, 0x03C3, 0x07},  // Σ..Ω / σ..ω
    {0x03A3, 0x03C2, 0x01},  // Σ / ς
    {0x03C2, 0x03C3, 0x01},  // ς / σ
    {0x0400, 0x0450, 0x10},  // Ѐ..Џ / ѐ..џ
    {0x0410, 0x0430, 0x20},  // А..Я / а..я
    {0xFF21, 0xFF41, 0x1A},  // Ａ..Ｚ / ａ..ｚ
    {0x0000, 0x0000, 0x00},  // (end)
}};

struct UnitRange {
  char32_t first;
  char32_t last;
};

// The case partners of every unit in [first, last] that PCRE2 would not fold
// by itself, as ranges.
void AddCasePartners(char32_t first, char32_t last, std::vector<UnitRange>& out) {
  for (const CasePair& pair : kCasePairs) {
    if (pair.count == 0) break;
    auto map = [&](char32_t from, char32_t to) {
      char32_t lo = std::max(first, from);
      char32_t hi = std::min<char32_t>(last, from + pair.count - 1);
      if (lo <= hi) out.push_back({lo - from + to, hi - from + to});
    };
    map(pair.upper, pair.lower);
    map(pair.lower, pair.upper);
  }
}

bool IsHexDigit(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}
int HexValue(char16_t c) {
  if (c <= u'9') return c - u'0';
  if (c >= u'a') return c - u'a' + 10;
  return c - u'A' + 10;
}
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsOctalDigit(char16_t c) { return c >= u'0' && c <= u'7'; }
bool IsAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

// Escapes that are PCRE2's own and mean nothing to the object.
bool IsRefusedEscape(char16_t c) {
  return std::u16string_view(u"AzZGKQEpPhHRXgk").find(c) != std::u16string_view::npos;
}

// One element of a character class, or one escaped atom outside a class.
struct Atom {
  bool isSet = false;   // \d \D \s \S \w \W (and \b \B outside a class)
  char16_t set = 0;     // the letter of the set escape
  char16_t unit = 0;    // the character otherwise
};

class Translator {
 public:
  Translator(std::u16string_view pattern, bool ignoreCase, bool multiline)
      : p_(pattern), ignoreCase_(ignoreCase), multiline_(multiline) {}

  std::optional<std::u16string> Run() {
    out_.reserve(p_.size() * 2 + 16);
    while (i_ < p_.size()) {
      if (!Term()) return std::nullopt;
    }
    return std::move(out_);
  }

 private:
  bool AtEnd() const { return i_ >= p_.size(); }
  char16_t Peek(std::size_t ahead = 0) const {
    return i_ + ahead < p_.size() ? p_[i_ + ahead] : char16_t(0);
  }
  bool Has(std::size_t ahead) const { return i_ + ahead < p_.size(); }

  // A unit written so that PCRE2 reads it as that unit and nothing else,
  // inside a class or out.
  static void AppendUnit(std::u16string& to, char32_t c) {
    if (c < 0x80 && (IsAsciiLetter(char16_t(c)) || IsDigit(char16_t(c)))) {
      to += char16_t(c);
    } else if (c < 0x80) {
      static const char16_t kHex[] = u"0123456789abcdef";
      to += u"\\x";
      to += kHex[c >> 4];
      to += kHex[c & 15];
    } else {
      // Without UTF mode any unit above ASCII is a plain literal, lone
      // surrogates included.
      to += char16_t(c);
    }
  }
  void PutUnit(char32_t c) { AppendUnit(out_, c); }

  void PutLiteral(char16_t c) {
    if (!ignoreCase_) {
      PutUnit(c);
      return;
    }
    std::vector<UnitRange> partners;
    AddCasePartners(c, c, partners);
    if (partners.empty()) {
      PutUnit(c);
      return;
    }
    out_ += u'[';
    PutUnit(c);
    for (const UnitRange& r : partners) PutUnit(r.first);
    out_ += u']';
  }

  bool Term() {
    // A lazy scan is only rewritten when the very next thing is a literal.
    std::optional<std::size_t> lazyScan = std::exchange(lazyScanAt_, std::nullopt);
    char16_t c = p_[i_];
    switch (c) {
      case u'\\':
        return Escape(lazyScan);
      case u'(':
        return Group();
      case u')':
      case u'|':
        out_ += c;
        ++i_;
        return true;
      case u'[':
        return Class();
      case u'.':
        out_ += u"[^\\x0a]";
        ++i_;
        return Quantifier();
      case u'^':
        out_ += multiline_ ? u"(?<![^\\x0a\\x0d])" : u"^";
        ++i_;
        return Quantifier();
      case u'$':
        out_ += multiline_ ? u"(?![^\\x0a\\x0d])" : u"\\z";
        ++i_;
        return Quantifier();
      case u'*':
      case u'+':
      case u'?':
        // A quantifier with nothing before it: PCRE2 refuses it as the
        // object does.
        return Quantifier();
      case u'{':
        if (QuantifierBraces()) return Quantifier();
        PutLiteral(c);
        ++i_;
        return Quantifier();
      default:
        ++i_;
        PutLiteralAfter(lazyScan, c);
        return Quantifier();
    }
  }

  // A lazy scan over any unit followed by a literal, "[\s\S]*?c", tries the
  // rest of the pattern at every unit although it can only succeed where a
  // c is. Skipping ahead to the next c, "(?:[^c]*+(?:c[^c]*+)*?)c", tries it
  // at the same places in the same order, so the matches and groups are the
  // same; it only wastes no time in between. Pages are searched with a few
  // such scans, and they take most of the time. The literal must be there:
  // not when a quantifier lets it be absent.
  void PutLiteralAfter(std::optional<std::size_t> lazyScan, char16_t c) {
    bool mayBeAbsent = Peek() == u'*' || Peek() == u'?' || (Peek() == u'{' && QuantifierBraces());
    if (lazyScan && !AtEnd() && mayBeAbsent) lazyScan.reset();
    if (lazyScan) {
      std::u16string units;
      AppendUnit(units, c);
      if (ignoreCase_) {
        std::vector<UnitRange> partners;
        AddCasePartners(c, c, partners);
        for (const UnitRange& r : partners) AppendUnit(units, r.first);
      }
      out_.resize(*lazyScan);
      out_ += u"(?:[^" + units + u"]*+(?:[" + units + u"][^" + units + u"]*+)*?)";
    }
    PutLiteral(c);
  }

  // Parses "{n}", "{n,}" or "{n,m}" at the cursor without consuming it.
  std::size_t BraceQuantifierLength() const {
    std::size_t k = i_ + 1;
    std::size_t digits = 0;
    while (k < p_.size() && IsDigit(p_[k])) ++k, ++digits;
    if (digits == 0) return 0;
    if (k < p_.size() && p_[k] == u',') {
      ++k;
      while (k < p_.size() && IsDigit(p_[k])) ++k;
    }
    if (k < p_.size() && p_[k] == u'}') return k + 1 - i_;
    return 0;
  }
  bool QuantifierBraces() const { return BraceQuantifierLength() != 0; }

  // An optional quantifier after an atom, with its lazy mark; a further "+"
  // would make it possessive.
  bool Quantifier() {
    if (AtEnd()) return true;
    char16_t c = Peek();
    std::size_t length = 0;
    if (c == u'*' || c == u'+' || c == u'?') {
      length = 1;
    } else if (c == u'{') {
      length = BraceQuantifierLength();
    }
    if (length == 0) return true;
    out_.append(p_.substr(i_, length));
    i_ += length;
    if (Peek() == u'?' && !AtEnd()) {
      out_ += u'?';
      ++i_;
    }
    if (!AtEnd() && Peek() == u'+') return false;
    return true;
  }

  bool Group() {
    if (Peek(1) == u'?' && Has(1)) {
      char16_t kind = Peek(2);
      if (!Has(2) || (kind != u':' && kind != u'=' && kind != u'!')) return false;
      out_.append(p_.substr(i_, 3));
      i_ += 3;
      return true;
    }
    if (Peek(1) == u'*' && Has(1)) return false;
    out_ += u'(';
    ++groupsOpened_;
    ++i_;
    return true;
  }

  // The octal escape at the cursor (a digit 0..7): up to three digits, the
  // value never above 0377.
  char16_t Octal() {
    int value = p_[i_++] - u'0';
    int more = value <= 3 ? 2 : 1;
    while (more-- > 0 && !AtEnd() && IsOctalDigit(Peek())) {
      value = value * 8 + (p_[i_++] - u'0');
    }
    return char16_t(value);
  }

  // Reads an escape after its backslash into `atom` (the cursor on the
  // letter); `inClass` selects the class meanings. False when refused.
  bool EscapeAtom(bool inClass, Atom& atom) {
    if (AtEnd()) return false;  // a trailing backslash
    char16_t e = p_[i_];
    switch (e) {
      case u'd': case u'D': case u's': case u'S': case u'w': case u'W':
        atom.isSet = true;
        atom.set = e;
        ++i_;
        return true;
      case u'b':
        ++i_;
        if (inClass) {
          atom.unit = 0x08;
        } else {
          atom.isSet = true;
          atom.set = e;
        }
        return true;
      case u'B':
        ++i_;
        if (inClass) {
          atom.unit = u'B';
        } else {
          atom.isSet = true;
          atom.set = e;
        }
        return true;
      case u'f': atom.unit = 0x0C; ++i_; return true;
      case u'n': atom.unit = 0x0A; ++i_; return true;
      case u'r': atom.unit = 0x0D; ++i_; return true;
      case u't': atom.unit = 0x09; ++i_; return true;
      case u'v': atom.unit = 0x0B; ++i_; return true;
      case u'c':
        if (Has(1) && IsAsciiLetter(Peek(1))) {
          atom.unit = char16_t(Peek(1) % 32);
          i_ += 2;
        } else {
          // Not a control escape: the "c" stands for itself and what
          // follows is read afresh.
          atom.unit = u'c';
          ++i_;
        }
        return true;
      case u'x':
        if (Has(2) && IsHexDigit(Peek(1)) && IsHexDigit(Peek(2))) {
          atom.unit = char16_t(HexValue(Peek(1)) * 16 + HexValue(Peek(2)));
          i_ += 3;
        } else {
          atom.unit = u'x';
          ++i_;
        }
        return true;
      case u'u':
        if (Has(4) && IsHexDigit(Peek(1)) && IsHexDigit(Peek(2)) && IsHexDigit(Peek(3)) &&
            IsHexDigit(Peek(4))) {
          atom.unit = char16_t(HexValue(Peek(1)) << 12 | HexValue(Peek(2)) << 8 |
                               HexValue(Peek(3)) << 4 | HexValue(Peek(4)));
          i_ += 5;
        } else {
          atom.unit = u'u';
          ++i_;
        }
        return true;
      default:
        break;
    }
    if (IsDigit(e)) {
      if (e >= u'8') {
        atom.unit = e;
        ++i_;
      } else {
        atom.unit = Octal();
      }
      return true;
    }
    if (IsRefusedEscape(e)) return false;
    atom.unit = e;
    ++i_;
    return true;
  }

  bool Escape(std::optional<std::size_t> lazyScan) {
    ++i_;  // the backslash
    // A decimal escape is a back-reference when that many groups have been
    // opened before it.
    if (!AtEnd() && IsDigit(Peek()) && Peek() != u'0') {
      std::size_t k = i_;
      long number = 0;
      while (k < p_.size() && IsDigit(p_[k])) {
        if (number <= 100000) number = number * 10 + (p_[k] - u'0');
        ++k;
      }
      if (number <= groupsOpened_) {
        out_ += u"\\g{";
        for (char16_t d : std::to_string(number)) out_ += d;
        out_ += u'}';
        i_ = k;
        return Quantifier();
      }
    }
    Atom atom;
    if (!EscapeAtom(false, atom)) return false;
    if (atom.isSet) {
      out_ += u'\\';
      out_ += atom.set;
    } else {
      PutLiteralAfter(lazyScan, atom.unit);
    }
    return Quantifier();
  }

  bool Class() {
    ++i_;  // the bracket
    bool negated = false;
    if (!AtEnd() && Peek() == u'^') {
      negated = true;
      ++i_;
    }
    std::vector<UnitRange> ranges;
    std::u16string sets;
    for (;;) {
      if (AtEnd()) return false;  // no closing bracket
      if (Peek() == u']') {
        ++i_;
        break;
      }
      Atom first;
      if (!ClassAtom(first)) return false;
      if (!first.isSet && Has(1) && Peek() == u'-' && Peek(1) != u']') {
        ++i_;
        Atom last;
        if (!ClassAtom(last)) return false;
        if (!last.isSet) {
          if (first.unit > last.unit) return false;
          ranges.push_back({first.unit, last.unit});
          continue;
        }
        // A range to a class escape: the hyphen is a literal of its own.
        ranges.push_back({first.unit, first.unit});
        ranges.push_back({u'-', u'-'});
        sets += u'\\';
        sets += last.set;
        continue;
      }
      if (first.isSet) {
        sets += u'\\';
        sets += first.set;
      } else {
        ranges.push_back({first.unit, first.unit});
      }
    }

    if (ranges.empty() && sets.empty()) {
      if (!negated) {
        out_ += u"(?!)";
        return Quantifier();
      }
      // "[^]": any unit at all
      negated = false;
      sets = u"\\s\\S";
    }
    if (!negated && MatchesEveryUnit(sets)) {
      std::size_t at = out_.size();
      out_ += u"[\\s\\S]";
      if (Peek() == u'*' && Peek(1) == u'?' && Has(1) && !(Has(2) && Peek(2) == u'+')) {
        out_ += u"*?";
        i_ += 2;
        lazyScanAt_ = at;
        return true;
      }
      return Quantifier();
    }
    if (ignoreCase_) {
      std::vector<UnitRange> partners;
      for (const UnitRange& r : ranges) AddCasePartners(r.first, r.last, partners);
      ranges.insert(ranges.end(), partners.begin(), partners.end());
    }
    out_ += negated ? u"[^" : u"[";
    for (const UnitRange& r : ranges) {
      PutUnit(r.first);
      if (r.last != r.first) {
        out_ += u'-';
        PutUnit(r.last);
      }
    }
    out_ += sets;
    out_ += u']';
    return Quantifier();
  }

  static bool MatchesEveryUnit(std::u16string_view sets) {
    auto has = [&](char16_t set) { return sets.find(set) != std::u16string_view::npos; };
    return (has(u's') && has(u'S')) || (has(u'd') && has(u'D')) || (has(u'w') && has(u'W'));
  }

  bool ClassAtom(Atom& atom) {
    char16_t c = p_[i_];
    if (c != u'\\') {
      atom.unit = c;
      ++i_;
      return true;
    }
    ++i_;
    return EscapeAtom(true, atom);
  }

  std::u16string_view p_;
  bool ignoreCase_;
  bool multiline_;
  std::size_t i_ = 0;
  long groupsOpened_ = 0;
  std::u16string out_;
  // Where "[\s\S]*?" was just written, while it is the last thing written.
  std::optional<std::size_t> lazyScanAt_;
};

}  // namespace

std::optional<std::u16string> TranslatePattern(std::u16string_view pattern, bool ignoreCase,
                                               bool multiline) {
  return Translator(pattern, ignoreCase, multiline).Run();
}

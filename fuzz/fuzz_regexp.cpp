// The expression object and the matcher over a fuzzed pattern and subject.
// Backtracking can make one match attempt run long (a 50-unit pattern took
// 46 s on 78 units of subject); the object's step budget ends such an
// attempt as failed, and the sizes here (64 units of pattern, 4 KiB of
// subject) keep the number of attempts per input small, so that every input
// ends within the run's time-out.
#include <cstdint>
#include <string>

#include "fuzz_input.h"
#include "pagetext/codepage936.h"
#include "pagetext/regex_matcher.h"
#include "platform/regexp.h"

namespace {

constexpr std::size_t kLongestPattern = 64;
constexpr std::size_t kLongestSubject = 4096;

unsigned char Fold(unsigned char byte) { return byte >= 'A' && byte <= 'Z' ? byte + ('a' - 'A') : byte; }

// Where the matcher says a text lies, the text is (or -2 for nowhere).
void CheckPosition(const Text& subject, const Text& text, int position, bool ignoreCase) {
  if (position == -2) return;
  FUZZ_CHECK(position >= 0 && static_cast<std::size_t>(position) + text.Length() <= subject.Length());
  const std::string_view at = subject.View().substr(position, text.Length());
  for (std::size_t i = 0; i < at.size(); ++i) {
    const auto x = static_cast<unsigned char>(at[i]);
    const auto y = static_cast<unsigned char>(text.View()[i]);
    FUZZ_CHECK(ignoreCase ? Fold(x) == Fold(y) : x == y);
  }
}

// A piece as UTF-16: through UTF-8 decoding, or byte for byte so that any
// unit below 0x100 (and nothing else) comes in.
std::u16string Units(std::string_view bytes, bool asUtf8) {
  if (asUtf8) return cp936::Utf8ToUtf16(bytes);
  return std::u16string(bytes.begin(), bytes.end());
}

void RunObject(std::u16string_view pattern, std::u16string_view subject, std::u16string_view replacement,
               std::uint8_t options) {
  RegExpObject object;
  object.SetPattern(pattern);
  object.SetIgnoreCase((options & 1) != 0);
  object.SetMultiline((options & 2) != 0);
  object.SetGlobal((options & 4) != 0);
  FUZZ_CHECK(object.Pattern() == pattern);

  const std::shared_ptr<MatchCollection> matches = object.Execute(std::u16string(subject));
  if (matches) {
    FUZZ_CHECK(object.Global() || matches->Count() <= 1);
    int previousEnd = 0;
    for (int i = 0; i < matches->Count(); ++i) {
      const std::optional<Match> match = matches->Item(i);
      FUZZ_CHECK(match.has_value());
      FUZZ_CHECK(match->FirstIndex() >= previousEnd);
      FUZZ_CHECK(static_cast<std::size_t>(match->FirstIndex()) + match->Length() <= subject.size());
      FUZZ_CHECK(match->Value() == subject.substr(match->FirstIndex(), match->Length()));
      previousEnd = match->FirstIndex() + match->Length();
      const SubMatchCollection groups = match->SubMatches();
      FUZZ_CHECK(groups.Count() == matches->GroupCount());
      for (int g = 0; g < groups.Count(); ++g) {
        const std::optional<std::u16string_view> group = groups.Item(g);
        FUZZ_CHECK(group.has_value() && group->size() <= subject.size());
      }
      FUZZ_CHECK(!groups.Item(groups.Count()).has_value() && !groups.Item(-1).has_value());
    }
    FUZZ_CHECK(!matches->Item(matches->Count()).has_value() && !matches->Item(-1).has_value());
  }
  const std::optional<std::u16string> replaced = object.Replace(subject, replacement);
  if (matches && replaced && matches->Count() == 0) FUZZ_CHECK(*replaced == subject);
}

void RunMatcher(const Text& pattern, const Text& subject, const Text& replacement, std::uint8_t options) {
  RegexMatcher matcher;
  const bool caseSensitive = (options & 8) != 0;
  if (!matcher.Search(pattern, subject, caseSensitive, (options & 16) != 0, (options & 32) != 0,
                      (options & 64) != 0)) {
    FUZZ_CHECK(matcher.MatchCount() == 0);
    FUZZ_CHECK(matcher.ReplaceMatches(replacement).IsEmpty());
    return;
  }
  const int count = matcher.MatchCount();
  FUZZ_CHECK(count >= 0);
  const int groups = matcher.SubMatchCount();
  FUZZ_CHECK(groups >= 0);
  for (int i = 1; i <= count; ++i) {
    int position = -1;
    const Text text = matcher.MatchText(i, &position);
    CheckPosition(subject, text, position, !caseSensitive);
    for (int g = 1; g <= groups + 1; ++g) {
      int groupPosition = -1;
      const Text group = matcher.SubMatchText(i, g, &groupPosition);
      if (g > groups) FUZZ_CHECK(group.IsEmpty());
      FUZZ_CHECK(groupPosition == -2 || groupPosition >= 0);
    }
  }
  FUZZ_CHECK(matcher.MatchText(count + 1).IsEmpty() && matcher.MatchText(0).IsEmpty());
  (void)matcher.ReplaceMatches(replacement);
  RegexMatcher copy(matcher);
  FUZZ_CHECK(copy.MatchCount() == count);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  const std::uint8_t options = input.Byte();
  const std::string_view pattern = input.Piece();
  const std::string_view subject = input.Piece();
  const std::string_view replacement = input.Piece();
  if (pattern.size() > kLongestPattern || subject.size() > kLongestSubject) return -1;

  const bool asUtf8 = (options & 128) != 0;
  RunObject(Units(pattern, asUtf8), Units(subject, asUtf8), Units(replacement, asUtf8), options);
  RunMatcher(Text(pattern), Text(subject), Text(replacement), options);
  return 0;
}

// The video post pattern over any page, through the matcher as the
// harvester runs it: every match's post id, slug and media id.
#include <cstdint>

#include "engine/video_post_pattern.h"
#include "fuzz_input.h"
#include "pagetext/codepage936.h"
#include "pagetext/regex_matcher.h"

namespace {
// The lazy pattern backtracks over the whole rest of the page for each
// article it tries; 64 KiB is plenty to show any structure.
constexpr std::size_t kLongestPage = 64 * 1024;

bool AllDigits(const Text& text) {
  for (char c : text.View()) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// Checked on units: in code page 936 a "_" byte may be the second byte of a
// character.
bool HasUnit(const Text& text, char16_t unit) {
  return TextToUtf16(text).find(unit) != std::u16string::npos;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kLongestPage) return -1;
  static const Text pattern = VideoPostPattern();
  const Text page(std::string_view(reinterpret_cast<const char*>(data), size));

  RegexMatcher matcher;
  if (!matcher.Search(pattern, page)) {
    // The pattern is valid, so only a match attempt that ran out of the
    // expression object's step budget fails the search; nothing is found.
    FUZZ_CHECK(matcher.MatchCount() == 0);
    return 0;
  }
  const int count = matcher.MatchCount();
  FUZZ_CHECK(count >= 0);
  if (count > 0) FUZZ_CHECK(matcher.SubMatchCount() == 6);
  for (int i = 1; i <= count; ++i) {
    int position = -1;
    const Text post = matcher.MatchText(i, &position);
    FUZZ_CHECK(!post.IsEmpty());
    FUZZ_CHECK(position == -2 || (position >= 0 && static_cast<std::size_t>(position) < page.Length()));
    for (int group : {2, 4, 6}) {
      int groupPosition = -1;
      const Text text = matcher.SubMatchText(i, group, &groupPosition);
      FUZZ_CHECK(text.Length() <= post.Length());
      FUZZ_CHECK(groupPosition == -2 || groupPosition >= 0);
      if (group == 2) FUZZ_CHECK(!text.IsEmpty() && AllDigits(text));
      // The slug and the media id are lazy runs of "." up to what follows
      // them: never across a line, and the media id never past a "_".
      if (group != 2) FUZZ_CHECK(!HasUnit(text, u'\n'));
      if (group == 6) FUZZ_CHECK(!HasUnit(text, u'_'));
    }
  }
  FUZZ_CHECK(matcher.SubMatchText(count + 1, 2).IsEmpty());
  return 0;
}

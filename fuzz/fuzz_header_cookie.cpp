// The header and cookie helpers over pieces of any bytes: header lines,
// markers, cookie texts and delimiters.
#include <cstdint>

#include "fuzz_input.h"
#include "values/text_ops.h"
#include "web/header_cookie_helpers.h"

namespace {

bool Contains(const Text& text, const Text& piece) {
  return text.View().find(piece.View()) != std::string_view::npos;
}

bool IsAscii(const Text& text) {
  for (char c : text.View()) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  const std::uint8_t options = input.Byte();
  const int startPosition = input.Short();
  const Text line(input.Piece());
  const Text startMarker(input.Piece());
  const Text endMarker(input.Piece());
  Text cookies(input.Piece());
  Text newCookies(input.Piece());
  const Text delimiter(input.Piece());

  const Text name = HeaderName(line);
  const Text value = HeaderValue(line);
  if (!Contains(line, Text(":"))) FUZZ_CHECK(name.IsEmpty() && value.IsEmpty());
  FUZZ_CHECK(Contains(line, name) && Contains(line, value));
  FUZZ_CHECK(name.Length() + value.Length() < line.Length() || line.IsEmpty());
  FUZZ_CHECK(Trim(name) == name && Trim(value) == value);

  const Text between = TextBetween(line, startMarker, endMarker, startPosition, (options & 1) != 0);
  FUZZ_CHECK(Contains(line, between));

  const Text oldCookies = cookies;
  const Text merged = MergeCookies(cookies, newCookies);
  FUZZ_CHECK(merged == cookies);
  FUZZ_CHECK(newCookies == RemoveAllSpaces(newCookies));
  for (const Text& item : Split(merged, Text("; "))) {
    const Text cookieName = CookieName(item);
    FUZZ_CHECK(Trim(cookieName) == cookieName);
    FUZZ_CHECK(Contains(item, cookieName));
  }
  // Merged cookies merged with themselves stay as they are. Only for ASCII
  // (a lone lead byte at an item's end swallows the ";" behind it on the
  // second pass, and cookies are ASCII on the wire), and not with an empty
  // last item ("a; " from "a;;"), which Split drops on the second pass.
  if (IsAscii(merged) && !merged.View().ends_with("; ")) {
    Text again = merged;
    Text same = merged;
    FUZZ_CHECK(MergeCookies(again, same) == merged);
    FUZZ_CHECK(!Contains(merged + Text("; "), Text("=deleted; ")));
  }

  const Text unique = RemoveDuplicateItems(line, delimiter);
  FUZZ_CHECK(unique.Length() <= line.Length());
  const Text uniqueCookies = RemoveDuplicateItems(oldCookies, delimiter);
  FUZZ_CHECK(uniqueCookies.Length() <= oldCookies.Length());
  return 0;
}

// The code page conversions over any bytes: UTF-8 to UTF-16 to code page
// 936 and back never fail, their lengths agree, and the page decoding's
// direct path gives what its two steps give.
#include <cstdint>
#include <string>

#include "fuzz_input.h"
#include "pagetext/codepage936.h"
#include "pagetext/page_decoding.h"

namespace {

bool HasLoneSurrogate(std::u16string_view units) {
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char16_t unit = units[i];
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
        ++i;
        continue;
      }
      return true;
    }
    if (unit >= 0xDC00 && unit <= 0xDFFF) return true;
  }
  return false;
}

void CheckUnits(std::u16string_view units) {
  const std::string ansi = cp936::Utf16ToCp936(units);
  FUZZ_CHECK(ansi.size() <= 2 * units.size());
  const std::u16string back = cp936::Cp936ToUtf16(ansi);
  // No character of the code page takes fewer bytes than units.
  FUZZ_CHECK(back.size() <= ansi.size());
  FUZZ_CHECK(cp936::Utf16ToCp936(back).size() <= 2 * back.size());

  const std::string utf8 = cp936::Utf16ToUtf8(units);
  FUZZ_CHECK(utf8.size() <= 3 * units.size());
  if (!HasLoneSurrogate(units)) FUZZ_CHECK(cp936::Utf8ToUtf16(utf8) == units);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  // The input as UTF-8, as a page's body arrives.
  const std::u16string units = cp936::Utf8ToUtf16(bytes);
  FUZZ_CHECK(units.size() <= bytes.size());
  CheckUnits(units);

  const Bytes body(bytes);
  const Bytes wide = Utf8ToWide(body);
  FUZZ_CHECK(wide.Length() == 2 * units.size());
  FUZZ_CHECK(Utf8ToAnsi(body) == WideToAnsi(wide));
  FUZZ_CHECK(WideToAnsi(Bytes(bytes)).Length() <= bytes.size());

  // The input as UTF-16 code units, lone surrogates and all, as the window
  // hands texts over.
  std::u16string raw(size / 2, u'\0');
  for (std::size_t i = 0; i < raw.size(); ++i) {
    raw[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
  }
  CheckUnits(raw);

  // The input as a Text, out to UTF-8 and UTF-16 and back in.
  const Text text(bytes);
  const std::u16string textUnits = TextToUtf16(text);
  FUZZ_CHECK(textUnits.size() <= text.Length());
  FUZZ_CHECK(TextFromUtf8(TextToUtf8(text)) == TextFromUtf16(textUnits));
  return 0;
}

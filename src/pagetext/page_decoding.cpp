#include "pagetext/page_decoding.h"

#include <string>

#include "pagetext/codepage936.h"

// The direct conversion gives the same bytes as Utf8ToWide followed by
// WideToAnsi (the tests hold it to that) without the UTF-16 copy of the page.
Text Utf8ToAnsi(const Bytes& body) { return TextFromUtf8(body.View()); }

Bytes Utf8ToWide(const Bytes& utf8) {
  std::u16string units = cp936::Utf8ToUtf16(utf8.View());
  std::string bytes(units.size() * 2, '\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    bytes[2 * i] = static_cast<char>(units[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<char>(units[i] >> 8);
  }
  return Bytes(std::move(bytes));
}

Text WideToAnsi(const Bytes& utf16) {
  std::string_view bytes = utf16.View();
  std::u16string units(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                     static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
  }
  // Text keeps the bytes before the first NUL, which is where the result ends.
  return Text(cp936::Utf16ToCp936(units));
}

#pragma once

#include <QString>
#include <string_view>

#include "pagetext/codepage936.h"
#include "values/text.h"

// Texts cross into and out of Qt here, through the program's one code page
// 936 converter (QString holds UTF-16).

inline QString ToQString(const Text& text) {
  std::u16string units = TextToUtf16(text);
  return QString::fromUtf16(units.data(), static_cast<qsizetype>(units.size()));
}

inline Text FromQString(const QString& string) {
  return TextFromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(string.utf16()),
                                           static_cast<std::size_t>(string.size())));
}

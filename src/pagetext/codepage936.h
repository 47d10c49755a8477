#pragma once

#include <string>
#include <string_view>

#include "values/text.h"

// The program's one definition of code page 936 and of the UTF-8 decoding it
// sits behind. Every boundary goes through here: pages (UTF-8 bytes), the
// window (UTF-16), the file system (UTF-8 paths) and the regular-expression
// engine (UTF-16 code units).
//
// The results are those of Windows' own converters with the settings the
// program uses: malformed UTF-8 is replaced rather than rejected, encoding
// uses code page 936 with its extra codes and best fit, '?' for the rest, and
// combines a base character with a following mark where the combination has
// a code.
namespace cp936 {

// UTF-8 to UTF-16 code units, never stopping at bad input: malformed bytes
// become U+FFFD by Windows' rule (see DecodeUtf8 in the source), which gives
// at most one unit per input byte.
std::u16string Utf8ToUtf16(std::string_view utf8);

// UTF-16 code units to code page 936 bytes (may contain NUL where the input
// does); works unit by unit, so a surrogate pair becomes "??".
std::string Utf16ToCp936(std::u16string_view units);

// Code page 936 bytes to UTF-16 code units, the inverse of the table. A lead
// byte (0x81..0xFE) that ends the input or is followed by no trail byte gives
// one U+FFFD and the byte after it is read afresh, so an ASCII byte behind a
// broken character is never lost and the result has at most one unit per
// byte. ICU's windows-936-2000 and node's gbk decoder do the same; what
// Windows does here is not confirmed.
std::u16string Cp936ToUtf16(std::string_view bytes);

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view units);

}  // namespace cp936

// Conversions between Text and the encodings outside the program.
Text TextFromUtf8(std::string_view utf8);
std::string TextToUtf8(const Text& text);
Text TextFromUtf16(std::u16string_view units);
std::u16string TextToUtf16(const Text& text);

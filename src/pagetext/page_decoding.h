#pragma once

#include "values/bytes.h"
#include "values/text.h"

// A fetched page's UTF-8 body as code page 936 text, through UTF-16, exactly
// as Windows' converters give it. Nothing is reported: bad input is replaced
// and the text stops at the first NUL the page holds.
Text Utf8ToAnsi(const Bytes& body);

// UTF-8 bytes to UTF-16 little-endian code units, two bytes each.
Bytes Utf8ToWide(const Bytes& utf8);

// UTF-16 little-endian code units to code page 936; an odd last byte is left
// out and the result ends at the first NUL.
Text WideToAnsi(const Bytes& utf16);

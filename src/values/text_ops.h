#pragma once

#include <cstdint>

#include "values/bytes.h"
#include "values/text.h"
#include "values/text_array.h"

// The text operations every other part of the program relies on. Positions
// are 1-based byte positions; a failed search gives -1. Scans move one
// character at a time, so a byte of 0x80 or above is taken together with the
// byte after it and nothing is ever found at the second byte of a double-byte
// character.

// Position of the first occurrence of `sought` at or after `start` (below 1
// counts as 1), or -1. An empty `sought` is found at 1 whenever at least one
// byte lies at or after `start`. `ignoreCase` folds ASCII letters only.
int Find(const Text& text, const Text& sought, int start = 1, bool ignoreCase = false);

// Parts by byte counts. A count of 0 or less gives the empty text; a count
// past the end gives what there is. Middle gives the empty text for a start
// below 1 or past the last byte. A cut may fall inside a double-byte character.
Text Left(const Text& text, int count);
Text Right(const Text& text, int count);
Text Middle(const Text& text, int start, int count);

// Only the space and the full-width space (A1 A1) count as spaces; tabs, CR
// and LF stay.
Text Trim(const Text& text);
Text RemoveAllSpaces(const Text& text);

// Pieces between delimiters. The empty text gives no piece; an empty
// delimiter gives the whole text as one piece; empty pieces between
// delimiters are kept, but none is added behind a final delimiter.
TextArray Split(const Text& text, const Text& delimiter);

// Every occurrence, left to right without overlap, bytes compared exactly
// and scanned character-wise like Find, so a replacement never splits a
// double-byte character. An empty `sought` leaves the text as it is.
Text Replace(const Text& text, const Text& sought, const Text& replacement);

// Leading white space, an optional sign and decimal digits; full-width
// characters A3 A1..A3 FE count as their ASCII twins and A1 A1 as a space.
// No leading digits gives 0; a value beyond 32 bits saturates at the nearest
// limit.
std::int32_t ToInteger(const Text& text);
Text IntegerToText(std::int32_t value);

Bytes TextToBytes(const Text& text);
Text BytesToText(const Bytes& bytes);  // up to the first NUL

#include "values/text_ops.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace {

constexpr unsigned char kFullWidthSpaceByte = 0xA1;

bool IsLeadByte(unsigned char byte) { return byte >= 0x80; }

// Bytes taken by the character that starts at `at`: two for a lead byte with
// a byte behind it, else one.
std::size_t CharacterWidth(std::string_view bytes, std::size_t at) {
  return IsLeadByte(static_cast<unsigned char>(bytes[at])) && at + 1 < bytes.size() ? 2 : 1;
}

unsigned char FoldAscii(unsigned char byte) {
  return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte + ('a' - 'A')) : byte;
}

bool MatchesAt(std::string_view text, std::size_t at, std::string_view sought, bool ignoreCase) {
  if (sought.size() > text.size() - at) return false;
  if (!ignoreCase) return text.compare(at, sought.size(), sought) == 0;
  for (std::size_t i = 0; i < sought.size(); ++i) {
    if (FoldAscii(static_cast<unsigned char>(text[at + i])) !=
        FoldAscii(static_cast<unsigned char>(sought[i])))
      return false;
  }
  return true;
}

// 0-based offset of the first occurrence at or after the 0-based `from`,
// moving character by character, or npos.
std::size_t FindFrom(std::string_view text, std::string_view sought, std::size_t from,
                     bool ignoreCase) {
  for (std::size_t at = from; at < text.size(); at += CharacterWidth(text, at)) {
    if (MatchesAt(text, at, sought, ignoreCase)) return at;
  }
  return std::string_view::npos;
}

bool IsSpaceAt(std::string_view bytes, std::size_t at) {
  if (bytes[at] == ' ') return true;
  return static_cast<unsigned char>(bytes[at]) == kFullWidthSpaceByte && at + 1 < bytes.size() &&
         static_cast<unsigned char>(bytes[at + 1]) == kFullWidthSpaceByte;
}

}  // namespace

int Find(const Text& text, const Text& sought, int start, bool ignoreCase) {
  const std::string_view bytes = text.View();
  if (start < 1) start = 1;
  if (static_cast<std::size_t>(start) > bytes.size()) return -1;
  if (sought.IsEmpty()) return 1;
  // The scan walks characters from the first byte, so that a start position
  // that falls on a second byte does not let a match begin there.
  std::size_t at = 0;
  const std::size_t from = static_cast<std::size_t>(start - 1);
  while (at < from) at += CharacterWidth(bytes, at);
  const std::size_t found = FindFrom(bytes, sought.View(), at, ignoreCase);
  return found == std::string_view::npos ? -1 : static_cast<int>(found + 1);
}

Text Left(const Text& text, int count) {
  if (count <= 0) return Text();
  return Text(text.View().substr(0, static_cast<std::size_t>(count)));
}

Text Right(const Text& text, int count) {
  if (count <= 0) return Text();
  const std::size_t n = std::min(static_cast<std::size_t>(count), text.Length());
  return Text(text.View().substr(text.Length() - n));
}

Text Middle(const Text& text, int start, int count) {
  if (start < 1 || static_cast<std::size_t>(start) > text.Length() || count <= 0) return Text();
  return Text(text.View().substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(count)));
}

Text Trim(const Text& text) {
  std::string_view bytes = text.View();
  while (!bytes.empty() && IsSpaceAt(bytes, 0)) bytes.remove_prefix(bytes[0] == ' ' ? 1 : 2);
  while (!bytes.empty()) {
    if (bytes.back() == ' ') {
      bytes.remove_suffix(1);
    } else if (bytes.size() >= 2 &&
               static_cast<unsigned char>(bytes[bytes.size() - 2]) == kFullWidthSpaceByte &&
               static_cast<unsigned char>(bytes.back()) == kFullWidthSpaceByte) {
      bytes.remove_suffix(2);
    } else {
      break;
    }
  }
  return Text(bytes);
}

Text RemoveAllSpaces(const Text& text) {
  const std::string_view bytes = text.View();
  std::string kept;
  kept.reserve(bytes.size());
  for (std::size_t at = 0; at < bytes.size();) {
    if (IsSpaceAt(bytes, at)) {
      at += bytes[at] == ' ' ? 1 : 2;
      continue;
    }
    const std::size_t width = CharacterWidth(bytes, at);
    kept.append(bytes.substr(at, width));
    at += width;
  }
  return Text(std::move(kept));
}

TextArray Split(const Text& text, const Text& delimiter) {
  TextArray pieces;
  const std::string_view bytes = text.View();
  if (bytes.empty()) return pieces;
  if (delimiter.IsEmpty()) {
    pieces.Append(text);
    return pieces;
  }
  std::size_t pieceStart = 0;
  for (std::size_t at = 0; at < bytes.size();) {
    if (MatchesAt(bytes, at, delimiter.View(), false)) {
      pieces.Append(Text(bytes.substr(pieceStart, at - pieceStart)));
      at += delimiter.Length();
      pieceStart = at;
    } else {
      at += CharacterWidth(bytes, at);
    }
  }
  if (pieceStart < bytes.size()) pieces.Append(Text(bytes.substr(pieceStart)));
  return pieces;
}

Text Replace(const Text& text, const Text& sought, const Text& replacement) {
  if (sought.IsEmpty()) return text;
  const std::string_view bytes = text.View();
  std::string result;
  result.reserve(bytes.size());
  std::size_t copiedUpTo = 0;
  for (std::size_t at = 0; at < bytes.size();) {
    if (MatchesAt(bytes, at, sought.View(), false)) {
      result.append(bytes.substr(copiedUpTo, at - copiedUpTo));
      result.append(replacement.View());
      at += sought.Length();
      copiedUpTo = at;
    } else {
      at += CharacterWidth(bytes, at);
    }
  }
  result.append(bytes.substr(std::min(copiedUpTo, bytes.size())));
  return Text(std::move(result));
}

std::int32_t ToInteger(const Text& text) {
  // Full-width forms first: A3 xx is the ASCII character xx - 0x80, A1 A1 a space.
  std::string ascii;
  const std::string_view bytes = text.View();
  ascii.reserve(bytes.size());
  for (std::size_t at = 0; at < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[at]);
    if (at + 1 < bytes.size()) {
      const auto trail = static_cast<unsigned char>(bytes[at + 1]);
      if (lead == 0xA3 && trail >= 0xA1 && trail <= 0xFE) {
        ascii.push_back(static_cast<char>(trail - 0x80));
        at += 2;
        continue;
      }
      if (lead == kFullWidthSpaceByte && trail == kFullWidthSpaceByte) {
        ascii.push_back(' ');
        at += 2;
        continue;
      }
    }
    const std::size_t width = CharacterWidth(bytes, at);
    ascii.append(bytes.substr(at, width));
    at += width;
  }

  std::size_t at = 0;
  auto isWhite = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  while (at < ascii.size() && isWhite(ascii[at])) ++at;
  bool negative = false;
  if (at < ascii.size() && (ascii[at] == '+' || ascii[at] == '-')) {
    negative = ascii[at] == '-';
    ++at;
  }
  // Accumulate towards the sign's limit so that INT32_MIN is reachable and
  // anything beyond either limit saturates.
  std::int64_t value = 0;
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  constexpr std::int64_t kMinMagnitude = kMax + 1;
  const std::int64_t limit = negative ? kMinMagnitude : kMax;
  for (; at < ascii.size() && ascii[at] >= '0' && ascii[at] <= '9'; ++at) {
    value = std::min(limit, value * 10 + (ascii[at] - '0'));
  }
  return static_cast<std::int32_t>(negative ? -value : value);
}

Text IntegerToText(std::int32_t value) {
  char buffer[16];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return Text(std::string_view(buffer, static_cast<std::size_t>(result.ptr - buffer)));
}

Bytes TextToBytes(const Text& text) { return Bytes(text.View()); }

Text BytesToText(const Bytes& bytes) { return Text(bytes.View()); }

#include "pagetext/codepage936.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "pagetext/cp936_table.h"

namespace {

constexpr char16_t kReplacement = 0xFFFD;
constexpr std::uint16_t kDefaultChar = '?';
constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

// Pages are mostly ASCII markup, so every loop first skips whole words of
// ASCII bytes. Returns the first byte at or after p that is not ASCII.
const unsigned char* SkipAscii(const unsigned char* p, const unsigned char* end) {
  while (end - p >= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    if (word & kHighBits) break;
    p += 8;
  }
  while (p != end && *p < 0x80) ++p;
  return p;
}

// The encoding direction, built once from the decoding table, the extra
// single-byte codes and the best fits. A code below 0x100 is one byte.
struct EncodeTable {
  std::uint16_t code[0x10000];
  // Units that are the mark of at least one composition, so that the common
  // case costs one bit test instead of a search.
  std::uint8_t mark_bits[0x10000 / 8];

  EncodeTable() {
    std::fill(std::begin(code), std::end(code), kDefaultChar);
    std::fill(std::begin(mark_bits), std::end(mark_bits), 0);
    for (std::uint16_t u = 0; u < 0x80; ++u) code[u] = u;
    code[0x20AC] = 0x80;
    code[0xF8F5] = 0xFF;
    for (int lead = 0; lead < cp936::table::kLeadCount; ++lead) {
      for (int trail = 0; trail < cp936::table::kTrailCount; ++trail) {
        char16_t u = cp936::table::kDoubleByte[lead][trail];
        if (u != 0) code[u] = static_cast<std::uint16_t>((0x81 + lead) << 8 | (0x40 + trail));
      }
    }
    for (const auto& fit : cp936::table::kBestFits) code[fit.unit] = fit.code;
    for (const auto& c : cp936::table::kCompositions) mark_bits[c.mark >> 3] |= 1u << (c.mark & 7);
  }

  bool IsMark(char16_t u) const { return mark_bits[u >> 3] & (1u << (u & 7)); }
};

const EncodeTable& Encoding() {
  static const EncodeTable table;
  return table;
}

// The code of base + mark written as one precomposed character, or 0.
std::uint16_t ComposedCode(char16_t base, char16_t mark) {
  using cp936::table::Composition;
  const auto* first = std::begin(cp936::table::kCompositions);
  const auto* last = std::end(cp936::table::kCompositions);
  const auto* it = std::lower_bound(first, last, Composition{mark, base, 0},
                                    [](const Composition& a, const Composition& b) {
                                      return a.mark != b.mark ? a.mark < b.mark : a.base < b.base;
                                    });
  return it != last && it->mark == mark && it->base == base ? it->code : 0;
}

// Decodes UTF-8 the way Windows does with flags 0, handing each run of
// ASCII bytes and each other UTF-16 unit to the sink:
// - C0, C1, F5..FF and a stray continuation byte: U+FFFD each;
// - a valid prefix cut short (by the end or a byte that is no continuation):
//   one U+FFFD, and that byte is read afresh;
// - a second byte that is a continuation but outside the lead's range
//   (overlong, surrogate, beyond U+10FFFF): one U+FFFD for the two bytes;
//   the continuation bytes behind them are then stray ones.
template <class Sink>
void DecodeUtf8(std::string_view utf8, Sink& sink) {
  const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
  const auto* const end = p + utf8.size();
  while (p != end) {
    unsigned lead = *p;
    if (lead < 0x80) {
      const auto* run = p;
      p = SkipAscii(p + 1, end);
      sink.Ascii(run, static_cast<std::size_t>(p - run));
      continue;
    }
    ++p;
    if (lead < 0xC2 || lead > 0xF4) {
      sink.Unit(kReplacement);
      continue;
    }
    int more;
    unsigned low = 0x80, high = 0xBF;
    char32_t cp;
    if (lead < 0xE0) {
      more = 1;
      cp = lead & 0x1F;
    } else if (lead < 0xF0) {
      more = 2;
      cp = lead & 0x0F;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else {
      more = 3;
      cp = lead & 0x07;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    }
    if (p == end || (*p & 0xC0) != 0x80) {
      sink.Unit(kReplacement);
      continue;
    }
    if (*p < low || *p > high) {
      ++p;
      sink.Unit(kReplacement);
      continue;
    }
    bool complete = true;
    for (int i = 0; i < more; ++i) {
      if (p == end || (*p & 0xC0) != 0x80) {
        complete = false;
        break;
      }
      cp = cp << 6 | (*p++ & 0x3F);
    }
    if (!complete) {
      sink.Unit(kReplacement);
    } else if (cp < 0x10000) {
      sink.Unit(static_cast<char16_t>(cp));
    } else {
      cp -= 0x10000;
      sink.Unit(static_cast<char16_t>(0xD800 + (cp >> 10)));
      sink.Unit(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
  }
}

// Each input byte gives at most one unit, so the caller sizes the buffer to
// the input's length.
struct Utf16Writer {
  char16_t* out;

  void Ascii(const unsigned char* bytes, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) out[i] = bytes[i];
    out += n;
  }
  void Unit(char16_t u) { *out++ = u; }
};

// Encodes unit by unit. For the composition check the bytes of the previous
// unit are kept in view: when the next unit is a mark that composes with it,
// they are overwritten with the precomposed character's code. A unit that was
// consumed by a composition does not start another one, so pairs are taken
// from left to right without overlapping.
struct Cp936Writer {
  const EncodeTable& table;
  char* out;
  char* previous_start = nullptr;  // null: nothing to compose with
  char16_t previous = 0;

  void Ascii(const unsigned char* bytes, std::size_t n) {
    std::memcpy(out, bytes, n);
    out += n;
    previous = bytes[n - 1];
    previous_start = out - 1;
  }

  void Unit(char16_t u) {
    if (previous_start != nullptr && table.IsMark(u)) {
      if (std::uint16_t code = ComposedCode(previous, u)) {
        out = previous_start;
        Put(code);
        previous_start = nullptr;
        return;
      }
    }
    previous = u;
    previous_start = out;
    Put(table.code[u]);
  }

  void Put(std::uint16_t code) {
    if (code < 0x100) {
      *out++ = static_cast<char>(code);
    } else {
      out[0] = static_cast<char>(code >> 8);
      out[1] = static_cast<char>(code & 0xFF);
      out += 2;
    }
  }
};

// UTF-8 to code page 936 without the UTF-16 copy in between; the same units
// go through the same writer, so the bytes equal those of the two steps. No
// unit gives more bytes than the UTF-8 that made it, so the input's length
// is enough room.
std::string Utf8ToCp936(std::string_view utf8) {
  std::string result(utf8.size(), '\0');
  Cp936Writer writer{Encoding(), result.data()};
  DecodeUtf8(utf8, writer);
  result.resize(static_cast<std::size_t>(writer.out - result.data()));
  return result;
}

}  // namespace

namespace cp936 {

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string result(utf8.size(), u'\0');
  Utf16Writer writer{result.data()};
  DecodeUtf8(utf8, writer);
  result.resize(static_cast<std::size_t>(writer.out - result.data()));
  return result;
}

std::string Utf16ToCp936(std::u16string_view units) {
  std::string result(units.size() * 2, '\0');
  Cp936Writer writer{Encoding(), result.data()};
  for (char16_t u : units) writer.Unit(u);
  result.resize(static_cast<std::size_t>(writer.out - result.data()));
  return result;
}

// A lead byte (0x81..0xFE) whose next byte is no trail byte, or that ends
// the input, gives U+FFFD on its own and the next byte is read afresh, so an
// ASCII byte behind a broken character is never lost.
std::u16string Cp936ToUtf16(std::string_view bytes) {
  std::u16string result(bytes.size(), u'\0');
  char16_t* out = result.data();
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* const end = p + bytes.size();
  while (p != end) {
    unsigned b = *p;
    if (b < 0x80) {
      const auto* stop = SkipAscii(p + 1, end);
      while (p != stop) *out++ = *p++;
      continue;
    }
    ++p;
    if (b == 0x80) {
      *out++ = 0x20AC;
    } else if (b == 0xFF) {
      *out++ = 0xF8F5;
    } else {
      char16_t u = 0;
      if (p != end && *p >= 0x40 && *p <= 0xFE) u = table::kDoubleByte[b - 0x81][*p - 0x40];
      if (u != 0) {
        ++p;
        *out++ = u;
      } else {
        *out++ = kReplacement;
      }
    }
  }
  result.resize(static_cast<std::size_t>(out - result.data()));
  return result;
}

std::string Utf16ToUtf8(std::u16string_view units) {
  std::string result;
  result.reserve(units.size() * 3);
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t cp = units[i];
    if (cp >= 0xD800 && cp < 0xE000) {
      if (cp < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (units[++i] - 0xDC00);
      } else {
        cp = kReplacement;
      }
    }
    if (cp < 0x80) {
      result += static_cast<char>(cp);
    } else if (cp < 0x800) {
      result += static_cast<char>(0xC0 | cp >> 6);
      result += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      result += static_cast<char>(0xE0 | cp >> 12);
      result += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      result += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      result += static_cast<char>(0xF0 | cp >> 18);
      result += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
      result += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      result += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return result;
}

}  // namespace cp936

// Only U+0000 encodes to a NUL byte and it composes with nothing, so
// converting just the bytes before the first NUL gives what converting all
// of them and cutting at the NUL would.
Text TextFromUtf8(std::string_view utf8) {
  return Text(Utf8ToCp936(utf8.substr(0, utf8.find('\0'))));
}

std::string TextToUtf8(const Text& text) {
  return cp936::Utf16ToUtf8(cp936::Cp936ToUtf16(text.View()));
}

Text TextFromUtf16(std::u16string_view units) {
  return Text(cp936::Utf16ToCp936(units.substr(0, units.find(u'\0'))));
}

std::u16string TextToUtf16(const Text& text) { return cp936::Cp936ToUtf16(text.View()); }

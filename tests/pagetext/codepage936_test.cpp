#include "pagetext/codepage936.h"

#include <gtest/gtest.h>
#include <unicode/ucnv.h>

#include <cstdint>
#include <memory>
#include <string>

namespace {

using namespace std::string_literals;

// Units as numbers, so that a failure prints something readable.
std::u16string U(std::initializer_list<char16_t> units) { return std::u16string(units); }

TEST(Utf8ToUtf16Test, WellFormed) {
  struct {
    std::string utf8;
    std::u16string units;
  } cases[] = {
      {"", u""},
      {"plain ascii 0123456789 <a href=\"x\">", u"plain ascii 0123456789 <a href=\"x\">"},
      {"\xE4\xB8\xAD\xE6\x96\x87", U({0x4E2D, 0x6587})},
      {"\xC2\x80\xDF\xBF", U({0x80, 0x7FF})},
      {"\xE0\xA0\x80\xEF\xBF\xBF", U({0x800, 0xFFFF})},
      {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", U({0xD800, 0xDC00, 0xDBFF, 0xDFFF})},
      {"\xEF\xBB\xBF\xEF\xBF\xBE", U({0xFEFF, 0xFFFE})},
      {"a\0b"s, U({'a', 0, 'b'})},
  };
  for (const auto& c : cases) EXPECT_EQ(cp936::Utf8ToUtf16(c.utf8), c.units) << c.utf8;
}

TEST(Utf8ToUtf16Test, MalformedInputIsReplacedTheWindowsWay) {
  constexpr char16_t R = 0xFFFD;
  struct {
    const char* rule;
    std::string utf8;
    std::u16string units;
  } cases[] = {
      {"C0 and C1, one each", "\xC0\x80" "a\xC1\xBF", U({R, R, 'a', R, R})},
      {"F5 to FF, one each", "\xF5\xF8\xFE\xFF", U({R, R, R, R})},
      {"F5 with continuations", "\xF5\x80\x80\x80", U({R, R, R, R})},
      {"lone continuation bytes", "\x80" "a\xBF\xBF", U({R, 'a', R, R})},
      {"C2 then no continuation", "\xC2" "A", U({R, 'A'})},
      {"E0 A0 then no continuation", "\xE0\xA0" "A", U({R, 'A'})},
      {"F0 90 80 then end", "\xF0\x90\x80", U({R})},
      {"truncated prefix then a full sequence", "\xE4\xB8\xE4\xB8\xAD", U({R, 0x4E2D})},
      {"truncated prefix then a lead", "\xF0\x90\xC3\xA9", U({R, 0xE9})},
      {"lead at the end", "ab\xE4", U({'a', 'b', R})},
      {"encoded surrogate ED A0 80", "\xED\xA0\x80", U({R, R})},
      {"overlong E0 80 AD", "\xE0\x80\xAD", U({R, R})},
      {"beyond U+10FFFF F4 90 80 80", "\xF4\x90\x80\x80", U({R, R, R})},
      {"overlong F0 80 80 80", "\xF0\x80\x80\x80", U({R, R, R})},
      {"out of range then ascii", "\xED\xBF" "x", U({R, 'x'})},
      {"ascii is never swallowed", "\xE4/\xF0\x9F." "\xC3" "\0"s, U({R, '/', R, '.', R, 0})},
  };
  for (const auto& c : cases) EXPECT_EQ(cp936::Utf8ToUtf16(c.utf8), c.units) << c.rule;
}

TEST(Utf16ToCp936Test, Mapping) {
  struct {
    const char* what;
    std::u16string units;
    std::string bytes;
  } cases[] = {
      {"empty", u"", ""},
      {"ascii and nul", U({'a', 0, '~', 0x7F}), "a\0~\x7F"s},
      {"chinese", U({0x4E2D, 0x6587}), "\xD6\xD0\xCE\xC4"},
      {"ideographic space", U({0x3000}), "\xA1\xA1"},
      {"euro", U({0x20AC}), "\x80"},
      {"F8F5", U({0xF8F5}), "\xFF"},
      {"user-defined area", U({0xE000, 0xE4C6, 0xE864, 0xE865}), "\xAA\xA1\xA1\x40\xFE\xA0?"},
      {"best fit to double bytes", U({0xC0, 0xA5, 0x3280, 0x3220}), "\xA8\xA4\xA3\xA4\xD2\xBB\xA2\xE5"},
      {"best fit to ascii", U({0xE2, 0xAD, 0xA6, 0xB2}), "a-|2"},
      {"compatibility ideograph", U({0xF900}), "\xD8\x4D"},
      {"no mapping", U({0xE4, 0xF1, 0xA9, 0xAE, 0x2122, 0x2022, 0xA0, 0x30FB, 0xFFFD}), "?????????"},
      {"default-ignorables are written", U({0x034F, 0x200B, 0xFEFF, 0x3164}), "????"},
      {"no control bytes for half-width forms", U({0xFFE9, 0xFFEA, 0xFFEB, 0xFFEC, 0xFFEE}), "?????"},
      {"surrogate pair", U({'a', 0xD83D, 0xDE00, 'b'}), "a??b"},
      {"lone surrogates", U({0xDC00, 'x', 0xD800}), "?x?"},
      {"e + acute", U({'e', 0x301}), "\xA8\xA6"},
      {"A + circumflex has no code", U({'A', 0x302}), "A?"},
      {"a + circumflex best fits", U({'a', 0x302}), "a"},
      {"u-umlaut + caron", U({0xFC, 0x30C}), "\xA8\xB7"},
      {"kana + voicing mark", U({0x304B, 0x3099}), "\xA4\xAC"},
      {"pairs do not overlap", U({'e', 0x301, 0x301}), "\xA8\xA6?"},
      {"mark alone", U({0x301, 'e'}), "?e"},
      {"composed char is no base", U({'u', 0x308, 0x304}), "\xA8\xB9?"},
      {"mark after a non-base", U({0x4E2D, 0x301}), "\xD6\xD0?"},
  };
  for (const auto& c : cases) EXPECT_EQ(cp936::Utf16ToCp936(c.units), c.bytes) << c.what;
}

TEST(Cp936ToUtf16Test, Decoding) {
  constexpr char16_t R = 0xFFFD;
  struct {
    const char* what;
    std::string bytes;
    std::u16string units;
  } cases[] = {
      {"empty", "", u""},
      {"ascii with nul", "a\0b"s, U({'a', 0, 'b'})},
      {"chinese", "\xD6\xD0\xCE\xC4", U({0x4E2D, 0x6587})},
      {"single-byte extras", "\x80\xFF", U({0x20AC, 0xF8F5})},
      {"user-defined area", "\xAA\xA1\xFE\xA0", U({0xE000, 0xE864})},
      {"lead alone at the end", "a\x81", U({'a', R})},
      {"lead before slash", "\x81/x", U({R, '/', 'x'})},
      {"lead before dot", "\xD6.", U({R, '.'})},
      {"lead before 7F", "\x81\x7F", U({R, 0x7F})},
      {"lead before FF", "\x81\xFF", U({R, 0xF8F5})},
      {"lead before a digit", "\x81" "0", U({R, '0'})},
  };
  for (const auto& c : cases) EXPECT_EQ(cp936::Cp936ToUtf16(c.bytes), c.units) << c.what;
}

TEST(Cp936Test, EveryCodeRoundTrips) {
  int codes = 0;
  int user_defined = 0;
  for (int b = 0; b < 0x100; ++b) {
    if (b >= 0x81 && b <= 0xFE) continue;
    std::string bytes(1, static_cast<char>(b));
    std::u16string units = cp936::Cp936ToUtf16(bytes);
    ASSERT_EQ(units.size(), 1u) << std::hex << b;
    ASSERT_EQ(cp936::Utf16ToCp936(units), bytes) << std::hex << b;
    ++codes;
  }
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      std::string bytes{static_cast<char>(lead), static_cast<char>(trail)};
      std::u16string units = cp936::Cp936ToUtf16(bytes);
      ASSERT_EQ(units.size(), 1u) << std::hex << lead << trail;
      ASSERT_NE(units[0], 0xFFFD) << std::hex << lead << trail;
      ASSERT_EQ(cp936::Utf16ToCp936(units), bytes) << std::hex << lead << trail;
      ++codes;
      if (units[0] >= 0xE000 && units[0] <= 0xE864) ++user_defined;
    }
  }
  EXPECT_EQ(codes, 130 + 23940);
  EXPECT_EQ(user_defined, 2149);
}

TEST(Utf16ToUtf8Test, Encoding) {
  struct {
    std::u16string units;
    std::string utf8;
  } cases[] = {
      {u"", ""},
      {U({'a', 0, 0x7F}), "a\0\x7F"s},
      {U({0x80, 0x7FF, 0x800, 0x4E2D, 0xFFFF}), "\xC2\x80\xDF\xBF\xE0\xA0\x80\xE4\xB8\xAD\xEF\xBF\xBF"},
      {U({0xD83D, 0xDE00}), "\xF0\x9F\x98\x80"},
      {U({0xD83D, 'a', 0xDE00}), "\xEF\xBF\xBD" "a\xEF\xBF\xBD"},
      {U({0xD800}), "\xEF\xBF\xBD"},
  };
  for (const auto& c : cases) EXPECT_EQ(cp936::Utf16ToUtf8(c.units), c.utf8);
}

TEST(TextConversionTest, Boundaries) {
  EXPECT_EQ(TextFromUtf8("\xE4\xB8\xAD/a\0b"s), Text("\xD6\xD0/a"));
  EXPECT_EQ(TextFromUtf8(""), Text());
  EXPECT_EQ(TextToUtf8(Text("\xD6\xD0\xCE\xC4.txt")), "\xE4\xB8\xAD\xE6\x96\x87.txt");
  EXPECT_EQ(TextToUtf8(Text("\x80\xFF\xAA\xA1")), "\xE2\x82\xAC\xEF\xA3\xB5\xEE\x80\x80");
  EXPECT_EQ(TextFromUtf16(U({0x4E2D, 'x', 0, 'y'})), Text("\xD6\xD0x"));
  EXPECT_EQ(TextFromUtf16(U({'e', 0x301})), Text("\xA8\xA6"));
  EXPECT_EQ(TextToUtf16(Text("\xD6\xD0x")), U({0x4E2D, 'x'}));
  EXPECT_EQ(TextToUtf16(Text()), u"");
}

// ICU's windows-936-2000 converter with fallbacks is the reference; the
// characters where it is known to differ from Windows are checked for what
// Windows writes instead.
struct ConverterCloser {
  void operator()(UConverter* c) const { ucnv_close(c); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

Converter OpenReference() {
  UErrorCode status = U_ZERO_ERROR;
  Converter converter(ucnv_open("windows-936-2000", &status));
  if (U_FAILURE(status)) return nullptr;
  ucnv_setFallback(converter.get(), true);
  return converter;
}

TEST(Cp936OracleTest, EveryBmpCharacterEncodesAsTheReference) {
  Converter icu = OpenReference();
  ASSERT_TRUE(icu);
  int compared = 0;
  int ignorables = 0;
  int control_fits = 0;
  for (std::uint32_t c = 0; c < 0x10000; ++c) {
    if (c >= 0xD800 && c < 0xE000) continue;
    char16_t unit = static_cast<char16_t>(c);
    char out[8];
    UErrorCode status = U_ZERO_ERROR;
    int32_t n = ucnv_fromUChars(icu.get(), out, sizeof out, &unit, 1, &status);
    ASSERT_FALSE(U_FAILURE(status)) << std::hex << c;
    std::string expected(out, static_cast<std::size_t>(n));
    std::string ours = cp936::Utf16ToCp936(std::u16string(1, unit));
    if (expected.empty()) {
      ++ignorables;
      EXPECT_EQ(ours, "?") << std::hex << c;
    } else if (c >= 0xFFE9 && c != 0xFFED && c <= 0xFFEE) {
      ++control_fits;
      EXPECT_EQ(ours, "?") << std::hex << c;
    } else {
      ++compared;
      EXPECT_EQ(ours, expected) << std::hex << c;
    }
  }
  EXPECT_EQ(ignorables, 65);
  EXPECT_EQ(control_fits, 5);
  EXPECT_GT(compared, 63000);
}

TEST(Cp936OracleTest, EveryByteSequenceDecodesAsTheReference) {
  Converter icu = OpenReference();
  ASSERT_TRUE(icu);
  auto reference = [&](const std::string& bytes) {
    char16_t out[8];
    UErrorCode status = U_ZERO_ERROR;
    int32_t n = ucnv_toUChars(icu.get(), out, 8, bytes.data(), static_cast<int32_t>(bytes.size()),
                              &status);
    return U_FAILURE(status) ? u"failed"s : std::u16string(out, static_cast<std::size_t>(n));
  };
  for (int b = 0; b < 0x100; ++b) {
    if (b >= 0x81 && b <= 0xFE) continue;
    std::string bytes(1, static_cast<char>(b));
    EXPECT_EQ(cp936::Cp936ToUtf16(bytes), reference(bytes)) << std::hex << b;
  }
  // Every lead byte before every byte, trail or not, and alone at the end.
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    std::string alone(1, static_cast<char>(lead));
    ASSERT_EQ(cp936::Cp936ToUtf16(alone), reference(alone)) << std::hex << lead;
    for (int next = 0; next < 0x100; ++next) {
      std::string bytes{static_cast<char>(lead), static_cast<char>(next)};
      ASSERT_EQ(cp936::Cp936ToUtf16(bytes), reference(bytes)) << std::hex << lead << ' ' << next;
    }
  }
  // GB18030's four-byte form is no part of code page 936.
  for (std::string bytes : {"\x81\x30\x81\x30"s, "\x84\x31\xA4\x39"s, "\xD6\xD0\xA1"s}) {
    EXPECT_EQ(cp936::Cp936ToUtf16(bytes), reference(bytes)) << ::testing::PrintToString(bytes);
  }
}

}  // namespace

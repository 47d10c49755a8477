#include "pagetext/page_decoding.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

using namespace std::string_literals;

Bytes B(std::string bytes) { return Bytes(std::move(bytes)); }

// What the two inner steps give together, for comparison with the direct path.
Text TwoSteps(const Bytes& body) { return WideToAnsi(Utf8ToWide(body)); }

TEST(Utf8ToAnsiTest, Cases) {
  struct {
    const char* name;
    std::string body;
    std::string text;
  } cases[] = {
      {"empty", "", ""},
      {"ascii", "<a href=\"/post/1\">video</a>\r\n\t", "<a href=\"/post/1\">video</a>\r\n\t"},
      {"chinese", "\xE4\xB8\xAD\xE6\x96\x87", "\xD6\xD0\xCE\xC4"},
      {"nul cuts the rest", "ab\0cd\xE4\xB8\xAD"s, "ab"},
      {"nul first", "\0abc"s, ""},
      {"last sequence cut short", "ab\xE4\xB8\xAD\xE6\x96", "ab\xD6\xD0?"},
      {"last lead alone", "x\xF0", "x?"},
      {"character outside the plane", "a\xF0\x9F\x98\x80" "b\xE4\xB8\xAD", "a??b\xD6\xD0"},
      {"byte-order mark", "\xEF\xBB\xBFx", "?x"},
      {"malformed bytes do not stop", "\xFF/\xC0." "\xE4\xB8\xAD", "?/?.\xD6\xD0"},
      {"euro and private use", "\xE2\x82\xAC\xEF\xA3\xB5\xEE\x80\x80", "\x80\xFF\xAA\xA1"},
      {"composition across the ascii run", "caf" "e\xCC\x81!", "caf\xA8\xA6!"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf8ToAnsi(B(c.body)), Text(c.text)) << c.name;
    EXPECT_EQ(TwoSteps(B(c.body)), Text(c.text)) << c.name;
  }
}

TEST(Utf8ToWideTest, LittleEndianUnits) {
  struct {
    std::string utf8;
    std::string utf16;
  } cases[] = {
      {"", ""},
      {"A", "A\0"s},
      {"\xE4\xB8\xAD", "\x2D\x4E"},
      {"a\0b"s, "a\0\0\0b\0"s},
      {"\xF0\x9F\x98\x80", "\x3D\xD8\x00\xDE"s},
      {"\xEF\xBB\xBF", "\xFF\xFE"},
      {"\xC3", "\xFD\xFF"},
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8ToWide(B(c.utf8)), B(c.utf16)) << c.utf8;
}

TEST(WideToAnsiTest, Cases) {
  struct {
    const char* name;
    std::string utf16;
    std::string text;
  } cases[] = {
      {"empty", "", ""},
      {"odd byte alone", "A", ""},
      {"odd last byte ignored", "A\0B\0C"s, "AB"},
      {"chinese", "\x2D\x4E\x87\x65", "\xD6\xD0\xCE\xC4"},
      {"nul unit cuts", "A\0\0\0B\0"s, "A"},
      {"surrogate pair", "\x3D\xD8\x00\xDEx\0"s, "??x"},
      {"lone surrogate", "\x00\xDCx\0"s, "?x"},
      {"composition", "e\0\x01\x03"s, "\xA8\xA6"},
  };
  for (const auto& c : cases) EXPECT_EQ(WideToAnsi(B(c.utf16)), Text(c.text)) << c.name;
}

// The direct path must give byte for byte what the two steps give, on pages
// of every kind of trouble: ASCII runs of all lengths, Chinese, marks that
// compose and marks that do not, truncated and malformed sequences, NULs.
TEST(Utf8ToAnsiTest, DirectPathEqualsTwoSteps) {
  const std::string pieces[] = {
      "a", "e", "u", "A", "<div class=\"post\">", "12345678", "\xE4\xB8\xAD", "\xE6\x96\x87",
      "\xCC\x81", "\xCC\x82", "\xCC\x88", "\xE3\x82\x99", "\xE3\x81\x8B", "\xC3\xBC", "\xC3\xA4",
      "\xF0\x9F\x98\x80", "\xED\xA0\x80", "\xE0\x80\xAD", "\xF4\x90\x80\x80", "\xC2", "\xE0\xA0",
      "\xF0\x90\x80", "\x80", "\xBF", "\xC0", "\xFF", "\0"s, "\xEF\xBB\xBF", "\xE2\x82\xAC",
      "\xEE\x80\x80", "\xEF\xA4\x80", "\xC2\xA0"};
  std::mt19937 random(936);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(pieces) - 1);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int round = 0; round < 3000; ++round) {
    std::string body;
    int count = round % 40;
    for (int i = 0; i < count; ++i) {
      if (round % 3 == 0) {
        body += static_cast<char>(byte(random));
      } else {
        body += pieces[pick(random)];
      }
    }
    ASSERT_EQ(Utf8ToAnsi(B(body)), TwoSteps(B(body))) << ::testing::PrintToString(body);
  }
}

}  // namespace

#include "values/text_ops.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

// 中 in code page 936 is D6 D0; its second byte D0 never starts a character.
const Text kZhong("\xD6\xD0");
const Text kFullWidthSpace("\xA1\xA1");

TEST(TextTest, StopsAtFirstNulAndComparesByteWise) {
  EXPECT_EQ(Text(std::string("ab\0cd", 5)), Text("ab"));
  EXPECT_EQ(Text(), Text(""));
  EXPECT_LT(Text("a"), Text("\x80"));  // unsigned bytes
  EXPECT_NE(Text("A"), Text("a"));
  EXPECT_EQ(Text("ab") + Text() + Text("c"), Text("abc"));
}

TEST(FindTest, Cases) {
  struct Case {
    const char* text;
    const char* sought;
    int start;
    bool ignoreCase;
    int expected;
  } cases[] = {
      {"abcbc", "bc", 3, false, 4},
      {"abcbc", "bc", 0, false, 2},
      {"abcbc", "bc", 1, false, 2},
      {"abcbc", "bc", -7, false, 2},
      {"abcbc", "bc", 6, false, -1},
      {"abc", "", 3, false, 1},
      {"abc", "", 4, false, -1},
      {"", "", 1, false, -1},
      {"aBc", "bC", 1, false, -1},
      {"aBc", "bC", 1, true, 2},
      {"x\xD6\xD0y", "\xD0", 1, false, -1},   // only inside 中
      {"x\xD6\xD0\xD0y", "\xD0", 1, false, 4},  // a lone D0 after 中... is a lead byte
      {"\xD6\xD0" "a", "a", 1, false, 3},
      {"\xC1\xE1" "a", "\xE1" "A", 1, true, -1},  // ignore-case never folds double-byte text
      {"ab", "abc", 1, false, -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Find(Text(c.text), Text(c.sought), c.start, c.ignoreCase), c.expected)
        << "find \"" << c.sought << "\" in \"" << c.text << "\" from " << c.start;
  }
}

TEST(FindTest, StartInsideDoubleByteCharacterDoesNotMatchItsSecondByte) {
  // "中a": starting at byte 2 (D0) must not read D0 as a character of its own.
  EXPECT_EQ(Find(Text("\xD6\xD0" "a"), Text("\xD0" "a"), 2), -1);
  EXPECT_EQ(Find(Text("\xD6\xD0" "a"), Text("a"), 2), 3);
}

TEST(PartsTest, LeftRightMiddle) {
  const Text five("abcde");
  EXPECT_EQ(Left(five, 0), Text());
  EXPECT_EQ(Left(five, -1), Text());
  EXPECT_EQ(Left(five, 9), five);
  EXPECT_EQ(Left(five, 2), Text("ab"));
  EXPECT_EQ(Right(five, 2), Text("de"));
  EXPECT_EQ(Right(five, 0), Text());
  EXPECT_EQ(Right(five, 99), five);
  EXPECT_EQ(Middle(five, 2, 3), Text("bcd"));
  EXPECT_EQ(Middle(five, 4, 99), Text("de"));
  EXPECT_EQ(Middle(five, 0, 2), Text());
  EXPECT_EQ(Middle(five, 6, 1), Text());
  EXPECT_EQ(Middle(five, 1, 0), Text());
  EXPECT_EQ(Left(kZhong, 1), Text("\xD6"));  // counts are bytes
}

TEST(TrimTest, OnlySpacesAndFullWidthSpaces) {
  EXPECT_EQ(Trim(Text("  a b  ")), Text("a b"));
  EXPECT_EQ(Trim(Text("\ta ")), Text("\ta"));
  EXPECT_EQ(Trim(kFullWidthSpace + Text("x") + kFullWidthSpace + Text(" ")), Text("x"));
  EXPECT_EQ(Trim(kFullWidthSpace), Text());
  EXPECT_EQ(Trim(Text("a\r\n")), Text("a\r\n"));
  // A1 A1 at the end only counts where it is a whole character... "\xA1" alone stays.
  EXPECT_EQ(Trim(Text("\xA1")), Text("\xA1"));
  EXPECT_EQ(RemoveAllSpaces(Text(" x = hello world ") + kFullWidthSpace + Text("!")),
            Text("x=helloworld!"));
  EXPECT_EQ(RemoveAllSpaces(Text("a\tb")), Text("a\tb"));
}

TEST(SplitTest, Cases) {
  struct Case {
    const char* text;
    const char* delimiter;
    std::vector<const char*> pieces;
  } cases[] = {
      {"a\r\n\r\nb", "\r\n", {"a", "", "b"}},
      {"a\r\nb\r\n", "\r\n", {"a", "b"}},
      {"\r\n", "\r\n", {""}},
      {"\r\na", "\r\n", {"", "a"}},
      {"abc", "\r\n", {"abc"}},
      {"", "\r\n", {}},
      {"a;b", "", {"a;b"}},
      {"\xB0\x3B;x", ";", {"\xB0\x3B", "x"}},  // 0x3B as a second byte does not split
  };
  for (const auto& c : cases) {
    std::vector<Text> expected;
    for (const char* piece : c.pieces) expected.emplace_back(piece);
    EXPECT_EQ(Split(Text(c.text), Text(c.delimiter)), TextArray(expected)) << c.text;
  }
}

TEST(ReplaceTest, LeftToRightWithoutOverlap) {
  EXPECT_EQ(Replace(Text("aaa"), Text("aa"), Text("b")), Text("ba"));
  EXPECT_EQ(Replace(Text("a#b#"), Text("#"), Text("##")), Text("a##b##"));
  EXPECT_EQ(Replace(Text("abc"), Text(""), Text("x")), Text("abc"));
  EXPECT_EQ(Replace(Text("\xB0\x3B;"), Text(";"), Text(",")), Text("\xB0\x3B,"));
}

TEST(ToIntegerTest, Cases) {
  struct Case {
    const char* text;
    std::int32_t expected;
  } cases[] = {
      {"12abc", 12},
      {"abc", 0},
      {"", 0},
      {"-7", -7},
      {"+8", 8},
      {"   42", 42},
      {"\t\r\n5", 5},
      {"\xA3\xB1\xA3\xB2", 12},           // １２
      {"\xA3\xAD\xA3\xB3", -3},           // －３
      {"\xA1\xA1" "9", 9},                // full-width space first
      {"- 1", 0},
      {"0", 0},
      {"2147483647", INT32_MAX},
      {"2147483648", INT32_MAX},
      {"99999999999999999999999", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"-2147483649", INT32_MIN},
      {"007", 7},
  };
  for (const auto& c : cases) EXPECT_EQ(ToInteger(Text(c.text)), c.expected) << c.text;
}

TEST(IntegerToTextTest, Decimal) {
  EXPECT_EQ(IntegerToText(0), Text("0"));
  EXPECT_EQ(IntegerToText(-42), Text("-42"));
  EXPECT_EQ(IntegerToText(INT32_MIN), Text("-2147483648"));
  EXPECT_EQ(IntegerToText(INT32_MAX), Text("2147483647"));
}

TEST(BytesTest, TextRoundTrip) {
  EXPECT_EQ(BytesToText(Bytes(std::string("ab\0cd", 5))), Text("ab"));
  EXPECT_EQ(TextToBytes(Text("ab")), Bytes(std::string("ab")));
  EXPECT_EQ(Bytes(std::string("a")) + Bytes(std::string("\0", 1)), Bytes(std::string("a\0", 2)));
}

TEST(TextArrayTest, OneBasedAndSafeOutsideRange) {
  TextArray array;
  array.Append(Text("a"));
  array.Append(Text("b"));
  EXPECT_EQ(array.Count(), 2);
  EXPECT_EQ(array.At(1), Text("a"));
  EXPECT_EQ(array.At(2), Text("b"));
  EXPECT_EQ(array.At(0), Text());
  EXPECT_EQ(array.At(3), Text());
}

}  // namespace

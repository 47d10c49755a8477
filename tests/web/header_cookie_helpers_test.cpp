#include "web/header_cookie_helpers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifdef BRELLOC_HAVE_CODEPAGE
#include "pagetext/codepage936.h"
#endif

namespace {

TextArray Array(std::vector<std::string> items) {
  TextArray array;
  for (const std::string& item : items) array.Append(Text(item));
  return array;
}

TEST(QuoteMarker, IsTheMarkerInCodePage936) {
  EXPECT_EQ(QuoteMarker(), Text("#\xD2\xFD\xBA\xC5"));
#ifdef BRELLOC_HAVE_CODEPAGE
  EXPECT_EQ(QuoteMarker(), TextFromUtf8("#\xE5\xBC\x95\xE5\x8F\xB7"));  // "#引号"
#endif
}

TEST(HeaderNameAndValue, SplitAtTheFirstColonAndTrim) {
  struct Case {
    const char* line;
    const char* name;
    const char* value;
  } cases[] = {
      {"Content-Type: text/html", "Content-Type", "text/html"},
      {"X-A: b:c", "X-A", "b:c"},
      {"Referer: http://a.b:8080/x", "Referer", "http://a.b:8080/x"},
      {"no colon here", "", ""},
      {"", "", ""},
      {":v", "", "v"},
      {"a:", "a", ""},
      {"X:\tv", "X", "\tv"},                    // a tab is not a space
      {"  Name  :  v  ", "Name", "v"},
      {"\xA1\xA1N\xA1\xA1:\xA1\xA1v\xA1\xA1", "N", "v"},  // full-width spaces
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(HeaderName(Text(c.line)), Text(c.name));
    EXPECT_EQ(HeaderValue(Text(c.line)), Text(c.value));
  }
}

TEST(CookieName, TakesThePartBeforeTheFirstEqualsSign) {
  struct Case {
    const char* item;
    const char* name;
  } cases[] = {
      {"sid=42", "sid"}, {"flag", "flag"}, {" b = 2", "b"}, {"=x", ""},
      {"a=b=c", "a"},    {"", ""},         {"  flag  ", "flag"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.item);
    EXPECT_EQ(CookieName(Text(c.item)), Text(c.name));
  }
}

TEST(TextBetween, CutsBetweenTheMarkers) {
  const std::string quote = "#\xD2\xFD\xBA\xC5";
  struct Case {
    std::string text;
    std::string start;
    std::string end;
    int startPosition;
    bool caseSensitive;
    std::string expected;
  } cases[] = {
      {"Set-Cookie: a=1; path=/", "set-cookie:", ";", 0, false, " a=1"},
      {"Set-Cookie: a=1; path=/", "set-cookie:", ";", 0, true, ""},
      {"Set-Cookie: a=1; path=/", "Set-Cookie:", ";", 0, true, " a=1"},
      {"<a id=\"x7\" href>", "id=" + quote, quote, 0, false, "x7"},
      {"<a id=\"\">", "id=" + quote, quote, 0, false, ""},  // end right behind start
      {"abc", "x", "c", 0, false, ""},                        // no start marker
      {"c;ab", "a", ";", 0, false, ""},                       // end only before start
      {"ab;ab:", "ab", ":", 0, false, ";ab"},
      {"[1][2]", "[", "]", 0, false, "1"},
      {"[1]x[2]", "[", "]", 5, false, "2"},  // skips the marker in the first four bytes
      {"[1][2]", "[", "]", 4, false, "2"},
      {"[1][2]", "[", "]", -3, false, "1"},
      {"ab;c", "", ";", 0, false, "ab"},
      {"ab;c", "a", "", 0, false, ""},  // an empty end marker never cuts anything
      {"", "a", ";", 0, false, ""},
      {"KEY=v;", "key=", ";", 0, false, "v"},
      {"x= v ;", "x=", ";", 0, false, " v "},  // not trimmed
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text + " | " + c.start + " | " + c.end);
    EXPECT_EQ(TextBetween(Text(c.text), Text(c.start), Text(c.end), c.startPosition, c.caseSensitive),
              Text(c.expected));
  }
}

TEST(TextBetween, DefaultsSearchFromTheStartIgnoringCase) {
  EXPECT_EQ(TextBetween(Text("Set-Cookie: a=1; x"), Text("SET-COOKIE:"), Text(";")), Text(" a=1"));
}

TEST(TextBetween, LeavesTheCallersMarkersAlone) {
  const Text start = Text("id=") + QuoteMarker();
  const Text end = QuoteMarker();
  EXPECT_EQ(TextBetween(Text("id=\"q\""), start, end), Text("q"));
  EXPECT_EQ(start, Text("id=") + QuoteMarker());
  EXPECT_EQ(end, QuoteMarker());
}

TEST(FindItem, GivesTheFirstOneBasedIndex) {
  struct Case {
    std::vector<std::string> array;
    std::string item;
    int expected;
  } cases[] = {
      {{}, "a", -1},        {{}, "", -1},          {{"a", "b", "a"}, "a", 1},
      {{"a", "b"}, "b", 2}, {{"a", "b"}, "B", -1}, {{"a", "", "b"}, "", 2},
      {{"a"}, "a ", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.item);
    EXPECT_EQ(FindItem(Array(c.array), Text(c.item)), c.expected);
  }
}

TEST(CookieListHasName, ComparesCookieNames) {
  struct Case {
    std::vector<std::string> list;
    std::string name;
    bool expected;
  } cases[] = {
      {{"a=1", "b"}, "b", true},  {{"a=1", "b"}, "a", true},   {{"a=1", "b"}, "a=1", false},
      {{"a=1"}, "A", false},      {{}, "a", false},            {{" a = 1"}, "a", true},
      {{"=x"}, "", true},         {{"a=1"}, "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CookieListHasName(Array(c.list), Text(c.name)), c.expected);
  }
}

TEST(RemoveDuplicateItems, KeepsTheFirstOfEachItem) {
  struct Case {
    const char* text;
    const char* delimiter;
    const char* expected;
  } cases[] = {
      {"x,y,x,z", ",", "x,y,z"},
      {"a; b; ", "; ", "a; b"},
      {"", "; ", ""},
      {"a", ",", "a"},
      {"a,,b,,", ",", "a,,b"},  // the empty item is kept once
      {"A,a", ",", "A,a"},
      {"a=1; a=1; a=2", "; ", "a=1; a=2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(RemoveDuplicateItems(Text(c.text), Text(c.delimiter)), Text(c.expected));
  }
}

TEST(MergeCookies, MergesAndRewritesBothVariables) {
  struct Case {
    const char* cookies;
    const char* newCookies;
    const char* merged;
    const char* newAfter;
  } cases[] = {
      {"a=1; b=2", "b=3; c=deleted", "b=3; a=1", "b=3;c=deleted"},
      {"a=1; c=5", "c=deleted", "a=1", "c=deleted"},
      {"a=1; a=2", "", "a=1", ""},
      {"", "a=1;a=1", "a=1", "a=1;a=1"},
      {"", "a=1;a=2", "a=1; a=2", "a=1;a=2"},
      {"x=hello world", "", "x=helloworld", ""},
      {"", "", "", ""},
      {"c=3", "a=1;b=2", "a=1; b=2; c=3", "a=1;b=2"},
      {"a=1", "flag", "flag; a=1", "flag"},
      {"short", "", "short", ""},  // shorter than "=deleted": compared whole, kept
      {"a=1", "b = 2 ; c=3", "b=2; c=3; a=1", "b=2;c=3"},
      {"a=1;\xA1\xA1" "b=2", "", "a=1; b=2", ""},  // full-width spaces go too
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.cookies) + " + " + c.newCookies);
    Text cookies(c.cookies);
    Text newCookies(c.newCookies);
    const Text result = MergeCookies(cookies, newCookies);
    EXPECT_EQ(result, Text(c.merged));
    EXPECT_EQ(cookies, Text(c.merged));
    EXPECT_EQ(newCookies, Text(c.newAfter));
  }
}

}  // namespace

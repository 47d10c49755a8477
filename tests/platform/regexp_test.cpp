#include "platform/regexp.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/regexp_pattern.h"

namespace {

std::string Narrow(std::u16string_view units) {
  std::string out;
  for (char16_t c : units) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char hex[12];
      std::snprintf(hex, sizeof hex, "\\u%04X", static_cast<unsigned>(c));
      out += hex;
    }
  }
  return out;
}

std::shared_ptr<RegExpObject> MakeExpression(std::u16string_view pattern, bool ignoreCase = false,
                                             bool multiline = false, bool global = true) {
  auto expression = std::make_shared<RegExpObject>();
  expression->SetIgnoreCase(ignoreCase);
  expression->SetMultiline(multiline);
  expression->SetGlobal(global);
  expression->SetPattern(pattern);
  return expression;
}

struct Found {
  int firstIndex;
  std::u16string value;
  friend bool operator==(const Found&, const Found&) = default;
  friend std::ostream& operator<<(std::ostream& out, const Found& f) {
    return out << f.firstIndex << ":\"" << Narrow(f.value) << '"';
  }
};

std::vector<Found> AllMatches(const MatchCollection& matches) {
  std::vector<Found> found;
  for (int i = 0; i < matches.Count(); ++i) {
    Match match = *matches.Item(i);
    found.push_back({match.FirstIndex(), std::u16string(match.Value())});
  }
  return found;
}

TEST(RegExpObject, NewObjectHasTheObjectsDefaults) {
  RegExpObject expression;
  EXPECT_FALSE(expression.IgnoreCase());
  EXPECT_FALSE(expression.Multiline());
  EXPECT_FALSE(expression.Global());
  EXPECT_EQ(expression.Pattern(), u"");
}

// Answers of the Windows object, with the options each case names.
TEST(RegExpObject, MatchesLikeTheWindowsObject) {
  struct Case {
    const char16_t* pattern;
    std::u16string subject;
    bool ignoreCase;
    bool multiline;
    bool global;
    std::vector<Found> expected;
  };
  const Case cases[] = {
      {u"", u"test", false, false, true, {{0, u""}, {1, u""}, {2, u""}, {3, u""}, {4, u""}}},
      {u"", u"test", false, false, false, {{0, u""}}},
      {u"^", u"a\r\nb", false, true, true, {{0, u""}, {2, u""}, {3, u""}}},
      {u"$", u"a\r\nb", false, true, true, {{1, u""}, {2, u""}, {4, u""}}},
      {u"^", u"a\r\nb", false, false, true, {{0, u""}}},
      {u"$", u"a\nb\n", false, false, true, {{4, u""}}},
      {u"^b", u"a\nb", false, false, true, {}},
      {u"^b$", u"a\nb\r\nc", false, true, true, {{2, u"b"}}},
      {u"\\u0041", u"xAy", false, false, true, {{1, u"A"}}},
      {u"\\u004", u"u004", false, false, true, {{0, u"u004"}}},
      {u"\\x41\\x4", u"Ax4", false, false, true, {{0, u"Ax4"}}},
      {u".", u"a\nb\r", false, false, true, {{0, u"a"}, {2, u"b"}, {3, u"\r"}}},
      {u"\\v", u"\v\t\n", false, false, true, {{0, u"\v"}}},
      {u"\\cJ\\c1", u"\nc1", false, false, true, {{0, u"\nc1"}}},
      {u"a*", u"aab", false, false, true, {{0, u"aa"}, {2, u""}, {3, u""}}},
      {u"a*?", u"aa", false, false, true, {{0, u""}, {1, u""}, {2, u""}}},
      {u"ab", u"abAB", false, false, true, {{0, u"ab"}}},
      {u"ab", u"abAB", true, false, true, {{0, u"ab"}, {2, u"AB"}}},
      {u"[a-c]+", u"xAbC", true, false, true, {{1, u"AbC"}}},
      {u"\u03b1\u0444\uff41", u"\u0391\u0424\uff21", true, false, true, {{0, u"\u0391\u0424\uff21"}}},
      {u"[\u03b1-\u03c9]", u"\u03a9", true, false, true, {{0, u"\u03a9"}}},
      {u"\u03c2", u"\u03c3\u03a3", true, false, true, {{0, u"\u03c3"}, {1, u"\u03a3"}}},
      {u"[]a", u"a", false, false, true, {}},
      {u"[^]", u"\n", false, false, true, {{0, u"\n"}}},
      {u"[\\d-z]+", u"5-z", false, false, true, {{0, u"5-z"}}},
      {u"[\\b]", u"\bb", false, false, true, {{0, u"\b"}}},
      {u"[[:alpha:]]", u"x", false, false, true, {}},
      {u"[[:alpha:]]", u"a]", false, false, true, {{0, u"a]"}}},
      {u"\\bcat\\b", u"cat concat cat", false, false, true, {{0, u"cat"}, {11, u"cat"}}},
      {u"(a)\\1", u"aa", false, false, true, {{0, u"aa"}}},
      {u"\\1(a)", u"\u0001a", false, false, true, {{0, u"\u0001a"}}},
      {u"\\101\\0", std::u16string(u"A\0", 2), false, false, true, {{0, std::u16string(u"A\0", 2)}}},
      {u"(a)\\18", u"aa8", false, false, true, {}},
      {u"\\8", u"8", false, false, true, {{0, u"8"}}},
      {u"a{2}", u"aaaaa", false, false, true, {{0, u"aa"}, {2, u"aa"}}},
      {u"a{,2}", u"a{,2}", false, false, true, {{0, u"a{,2}"}}},
      {u"x{", u"x{", false, false, true, {{0, u"x{"}}},
      {u"a]}", u"a]}", false, false, true, {{0, u"a]}"}}},
      {u"(?:a)(?=b)", u"ab", false, false, true, {{0, u"a"}}},
      {u"a(?!b)", u"abac", false, false, true, {{2, u"a"}}},
      {u"\\e\\/", u"e/", false, false, true, {{0, u"e/"}}},
      {u"\\s+", u" \t\u00a0", false, false, true, {{0, u" \t"}}},
      {u"\\w+", u"\u00e9ab_9", false, false, true, {{1, u"ab_9"}}},
      {u".", u"\xd800", false, false, true, {{0, u"\xd800"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.pattern) + " over " + Narrow(c.subject));
    auto expression = MakeExpression(c.pattern, c.ignoreCase, c.multiline, c.global);
    auto matches = expression->Execute(c.subject);
    ASSERT_NE(matches, nullptr);
    EXPECT_EQ(AllMatches(*matches), c.expected);
  }
}

// A lazy scan before a literal is rewritten to skip ahead to that literal;
// spelling the scan as a group keeps it as it is, so the two must agree.
TEST(RegExpObject, LazyScanBeforeALiteralMatchesAsWritten) {
  struct Case {
    std::u16string scan;  // the pattern around "@", where the scan goes
    std::u16string subject;
    bool ignoreCase;
  };
  const Case cases[] = {
      {u"a@b", u"xaxxbxxb ab", false},
      {u"<p>(@)</p>", u"<p>one</p>\n<p>two</p><p></p>", false},
      {u"(@)x", u"abxcdxx", false},
      {u"@b", u"aabab", false},
      {u"a@bc", u"abxbcbc", false},
      {u"a@B", u"a..b..B", true},
      {u"a@\u0391", u"a\u03b1\u0391", true},
      {u"a@\n", u"a\r\n\n", false},
      {u"a@b+", u"a-bb-b", false},
      {u"a@b*c", u"abbc-c", false},
      {u"a@b?", u"ab", false},
      {u"a@b{2}", u"ab-bb", false},
      {u"a@(b)", u"abab", false},
      {u"a@", u"aa", false},
      {u"a@b", u"", false},
  };
  for (const Case& c : cases) {
    std::size_t at = c.scan.find(u'@');
    std::u16string rewritten = c.scan.substr(0, at) + u"[\\s\\S]*?" + c.scan.substr(at + 1);
    std::u16string asWritten = c.scan.substr(0, at) + u"(?:[\\s\\S])*?" + c.scan.substr(at + 1);
    SCOPED_TRACE(Narrow(rewritten) + " over " + Narrow(c.subject));
    auto expected = MakeExpression(asWritten, c.ignoreCase)->Execute(c.subject);
    auto actual = MakeExpression(rewritten, c.ignoreCase)->Execute(c.subject);
    ASSERT_NE(expected, nullptr);
    ASSERT_NE(actual, nullptr);
    ASSERT_EQ(AllMatches(*actual), AllMatches(*expected));
    for (int i = 0; i < actual->Count(); ++i) {
      SubMatchCollection a = actual->Item(i)->SubMatches();
      SubMatchCollection e = expected->Item(i)->SubMatches();
      ASSERT_EQ(a.Count(), e.Count());
      for (int k = 0; k < a.Count(); ++k) EXPECT_EQ(a.Item(k), e.Item(k));
    }
  }
  EXPECT_NE(TranslatePattern(u"a[\\s\\S]*?b", false, false)->find(u"*+"), std::u16string::npos);
}

TEST(RegExpObject, SyntaxTheObjectLacksIsAnInvalidPattern) {
  const char16_t* patterns[] = {
      u"(?<=a)b", u"(?<!a)b", u"(?<n>a)", u"(?P<n>a)", u"(?'n'a)", u"(?>a)", u"a*+", u"a++", u"a?+",
      u"a{2}+", u"(?i)a", u"(?#note)a", u"(*UTF)a", u"(*ANY)a", u"(?|a)", u"(?1)", u"\\A", u"\\z", u"\\Z",
      u"\\G", u"a\\K", u"\\Qa\\E", u"\\p{L}", u"\\P{L}", u"\\h", u"\\R", u"\\X", u"\\k<n>", u"\\g1",
      // and plain syntax errors
      u"(", u"a)", u"[a", u"*", u"a**", u"[z-a]", u"a\\", u"a{2,1}",
  };
  for (const char16_t* pattern : patterns) {
    SCOPED_TRACE(Narrow(pattern));
    auto expression = MakeExpression(pattern);
    EXPECT_EQ(expression->Execute(u"a aa b ab"), nullptr);
    EXPECT_EQ(expression->Replace(u"a", u"b"), std::nullopt);
    EXPECT_EQ(expression->Pattern(), pattern);
  }
}

TEST(RegExpObject, ReplaceSubstitutesLikeTheWindowsObject) {
  struct Case {
    const char16_t* pattern;
    const char16_t* subject;
    const char16_t* replacement;
    bool global;
    const char16_t* expected;
  };
  const Case cases[] = {
      {u"", u"xxx", u"y", true, u"yxyxyxy"},
      {u"x", u"xxx", u"y", false, u"yxx"},
      {u"(a)(b)", u"xaby", u"[$2$1]", true, u"x[ba]y"},
      {u"b", u"abc", u"[$&]", true, u"a[b]c"},
      {u"b", u"abc", u"$$", true, u"a$c"},
      {u"b", u"abc", u"$`", true, u"aac"},
      {u"b", u"abc", u"$'", true, u"acc"},
      {u"(b)", u"abc", u"$2$0$", true, u"a$2$0$c"},
      {u"(b)", u"abc", u"$10", true, u"ab0c"},
      {u"(a)|b", u"ab", u"<$1>", true, u"<a><>"},
      {u"((((((((((b))))))))))", u"abc", u"$10$11", true, u"abb1c"},
      {u"q", u"abc", u"z", true, u"abc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.pattern) + " in " + Narrow(c.subject) + " by " + Narrow(c.replacement));
    auto expression = MakeExpression(c.pattern, false, false, c.global);
    std::optional<std::u16string> replaced = expression->Replace(c.subject, c.replacement);
    ASSERT_TRUE(replaced.has_value());
    EXPECT_EQ(Narrow(*replaced), Narrow(c.expected));
  }
}

TEST(RegExpObject, GroupsAreNumberedByOpeningParenthesesAndUnsetGroupsReadEmpty) {
  auto matches = MakeExpression(u"(a)(b)?((c)|d)")->Execute(u"ad");
  ASSERT_NE(matches, nullptr);
  ASSERT_EQ(matches->Count(), 1);
  EXPECT_EQ(matches->GroupCount(), 4);
  SubMatchCollection groups = matches->Item(0)->SubMatches();
  ASSERT_EQ(groups.Count(), 4);
  EXPECT_EQ(groups.Item(0), u"a");
  EXPECT_EQ(groups.Item(1), u"");
  EXPECT_EQ(groups.Item(2), u"d");
  EXPECT_EQ(groups.Item(3), u"");
  EXPECT_EQ(groups.Item(4), std::nullopt);
  EXPECT_EQ(groups.Item(-1), std::nullopt);
  EXPECT_EQ(matches->Item(1), std::nullopt);
  EXPECT_EQ(matches->Item(-1), std::nullopt);
}

TEST(RegExpObject, AnEmptyResultStillKnowsTheGroupCount) {
  auto matches = MakeExpression(u"(x)(y)")->Execute(u"abc");
  ASSERT_NE(matches, nullptr);
  EXPECT_EQ(matches->Count(), 0);
  EXPECT_EQ(matches->GroupCount(), 2);
}

TEST(RegExpObject, CollectionOutlivesItsObjectAndSubject) {
  std::shared_ptr<MatchCollection> matches;
  {
    auto expression = MakeExpression(u"b+");
    std::u16string subject = u"abbc";
    matches = expression->Execute(subject);
    subject.assign(u"zzzz");
  }
  ASSERT_NE(matches, nullptr);
  ASSERT_EQ(matches->Count(), 1);
  EXPECT_EQ(matches->Item(0)->Value(), u"bb");
  EXPECT_EQ(matches->Item(0)->FirstIndex(), 1);
  EXPECT_EQ(matches->Item(0)->Length(), 2);
}

TEST(RegExpObject, ChangingAPropertyTakesEffectOnTheNextCall) {
  RegExpObject expression;
  expression.SetGlobal(true);
  expression.SetPattern(u"A");
  EXPECT_EQ(expression.Execute(u"aA")->Count(), 1);
  expression.SetIgnoreCase(true);
  EXPECT_EQ(expression.Execute(u"aA")->Count(), 2);
  expression.SetGlobal(false);
  EXPECT_EQ(expression.Execute(u"aA")->Count(), 1);
  expression.SetPattern(u"(");
  EXPECT_EQ(expression.Execute(u"aA"), nullptr);
  expression.SetPattern(u"^a$");
  EXPECT_EQ(expression.Execute(u"x\na")->Count(), 0);
  expression.SetMultiline(true);
  EXPECT_EQ(expression.Execute(u"x\na")->Count(), 1);
}

// A lazy scan over several megabytes, and a repeated group over one: PCRE2's
// default JIT stack runs out long before this.
TEST(RegExpObject, LongSubjectsNeverFailAMatchThatExists) {
  const std::size_t kLength = 5 * 1024 * 1024;
  std::u16string subject = u"<a>" + std::u16string(kLength, u'x') + u"</a>";

  auto lazy = MakeExpression(u"<a>([\\s\\S]*?)</a>");
  auto matches = lazy->Execute(subject);
  ASSERT_NE(matches, nullptr);
  ASSERT_EQ(matches->Count(), 1);
  EXPECT_EQ(matches->Item(0)->SubMatches().Item(0)->size(), kLength);

  // A repeated group needs stack at each repetition.
  subject = u"<a>" + std::u16string(1024 * 1024, u'x') + u"</a>";
  auto grouped = MakeExpression(u"<a>(?:(x)|y)*</a>");
  matches = grouped->Execute(subject);
  ASSERT_NE(matches, nullptr);
  ASSERT_EQ(matches->Count(), 1);
  EXPECT_EQ(matches->Item(0)->Length(), static_cast<int>(subject.size()));

  auto missing = MakeExpression(u"<a>(?:(x)|y)*</b>");
  matches = missing->Execute(subject);
  ASSERT_NE(matches, nullptr);
  EXPECT_EQ(matches->Count(), 0);
}

TEST(RegExpObject, ObjectsOnDifferentThreadsShareNothing) {
  std::u16string subject;
  for (int i = 0; i < 2000; ++i) subject += u"<p>item" + std::u16string(1, u'0' + i % 10) + u"</p>\n";
  const int kThreads = 4;
  std::vector<int> counts(kThreads, -1);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      int total = 0;
      for (int round = 0; round < 20; ++round) {
        auto expression = MakeExpression(u"<p>item(\\d)</p>", true, true);
        auto matches = expression->Execute(subject);
        total += matches ? matches->Count() : -100000;
      }
      counts[t] = total;
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int count : counts) EXPECT_EQ(count, 20 * 2000);
}

}  // namespace

// Inputs the fuzz targets (fuzz/) turned up, kept here so that what they
// showed stays true in the ordinary test run.
#include <gtest/gtest.h>

#include <string>

#include "platform/regexp.h"
#include "values/text_ops.h"
#include "web/header_cookie_helpers.h"

namespace {

// fuzz_header_cookie: new cookies "a;;a" hold an empty item. It is kept once
// like any other item, so the merge ends in "; " and an empty item; merging
// that again loses it, since Split gives no piece behind a final delimiter.
// Every other merged text merges with itself into itself.
TEST(FuzzRegressions, AnEmptyCookieItemIsKeptOnceAndGoneAfterTheNextMerge) {
  Text cookies;
  Text newCookies("a;;a");
  EXPECT_EQ(MergeCookies(cookies, newCookies), Text("a; "));

  Text again = cookies;
  Text same = cookies;
  EXPECT_EQ(MergeCookies(again, same), Text("a"));

  Text settled("a=1; ; b=2");
  Text settledAgain = settled;
  EXPECT_EQ(MergeCookies(settled, settledAgain), Text("a=1; ; b=2"));
}

// fuzz_regexp: a repeated group holding a repetition, in front of a class
// that never matches, backtracks over every way of cutting the subject into
// its pieces (twice the work for every two more units). The object sets no
// step limit; whether it tries them all or gives up, it never reports a
// match that is not there.
TEST(FuzzRegressions, ExponentialBacktrackingNeverInventsAMatch) {
  for (const std::size_t length : {20u, 65u}) {
    RegExpObject expression;
    expression.SetPattern(u"(xx?)*?[\\s]");
    expression.SetGlobal(true);
    const std::shared_ptr<MatchCollection> matches = expression.Execute(std::u16string(length, u'x'));
    if (matches) {
      EXPECT_EQ(matches->Count(), 0) << length;
    }
  }
}

}  // namespace

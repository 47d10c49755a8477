#include "pagetext/regex_matcher.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "engine/service_hosts.h"
#include "engine/video_post_pattern.h"
#include "pagetext/codepage936.h"
#include "platform/apartment.h"

namespace {

Text T(const char* utf8) { return TextFromUtf8(utf8); }

constexpr std::optional<bool> kOmitted = std::nullopt;

TEST(RegexMatcher, FreshMatcherReadsEmpty) {
  RegexMatcher matcher;
  EXPECT_EQ(matcher.GetPattern(), Text());
  EXPECT_EQ(matcher.MatchCount(), 0);
  EXPECT_EQ(matcher.SubMatchCount(), 0);
  EXPECT_EQ(matcher.MatchText(1), Text());
  EXPECT_EQ(matcher.SubMatchText(1, 1), Text());
  EXPECT_EQ(matcher.ReplaceMatches(T("x")), Text());
  int position = 99;
  EXPECT_EQ(matcher.MatchText(1, &position), Text());
  EXPECT_EQ(position, -2);  // nothing to search in
  matcher.NoOp();
}

// Each option omitted, given true and given false, seen through what it does.
TEST(RegexMatcher, OptionsTakeTheirDefaultsWhenOmitted) {
  struct Case {
    const char* what;
    const char* pattern;
    const char* subject;
    std::optional<bool> caseSensitive;
    std::optional<bool> multiline;
    std::optional<bool> global;
    int count;
  };
  const Case cases[] = {
      {"case ignored by default", "A", "a", kOmitted, kOmitted, kOmitted, 1},
      {"case ignored when asked", "A", "a", false, kOmitted, kOmitted, 1},
      {"case sensitive", "A", "a", true, kOmitted, kOmitted, 0},
      {"multi-line by default", "^b$", "a\r\nb\r\nc", kOmitted, kOmitted, kOmitted, 1},
      {"multi-line when asked", "^b$", "a\r\nb\r\nc", kOmitted, true, kOmitted, 1},
      {"single-line", "^b$", "a\r\nb\r\nc", kOmitted, false, kOmitted, 0},
      {"global by default", "a", "aXa", kOmitted, kOmitted, kOmitted, 2},
      {"global when asked", "a", "aXa", kOmitted, kOmitted, true, 2},
      {"first match only", "a", "aXa", kOmitted, kOmitted, false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RegexMatcher matcher;
    EXPECT_TRUE(matcher.Search(T(c.pattern), T(c.subject), c.caseSensitive, c.multiline, c.global));
    EXPECT_EQ(matcher.MatchCount(), c.count);
  }
}

TEST(RegexMatcher, QuoteMarkerIsReplacedOnlyWhenAsked) {
  const Text pattern = T("href=#引号(.*?)#引号");
  const Text subject = T("<a href=\"x.html\">链接</a>");
  struct Case {
    std::optional<bool> replaceQuoteMarker;
    Text expectedPattern;
    int count;
  };
  const Case cases[] = {
      {kOmitted, pattern, 0},
      {false, pattern, 0},
      {true, T("href=\"(.*?)\""), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expectedPattern);
    RegexMatcher matcher;
    EXPECT_TRUE(matcher.Search(pattern, subject, kOmitted, kOmitted, kOmitted, c.replaceQuoteMarker));
    EXPECT_EQ(matcher.GetPattern(), c.expectedPattern);
    EXPECT_EQ(matcher.MatchCount(), c.count);
  }
  RegexMatcher matcher;
  matcher.Search(pattern, subject, kOmitted, kOmitted, kOmitted, true);
  EXPECT_EQ(matcher.SubMatchText(1, 1), T("x.html"));
}

TEST(RegexMatcher, InvalidPatternFailsSilently) {
  const char* patterns[] = {"(", "a)", "[a", "*", "(?<=a)b", "(?<n>a)"};
  for (const char* pattern : patterns) {
    SCOPED_TRACE(pattern);
    RegexMatcher matcher;
    EXPECT_FALSE(matcher.Search(T(pattern), T("a ab b")));
    EXPECT_EQ(matcher.MatchCount(), 0);
    EXPECT_EQ(matcher.SubMatchCount(), 0);
    EXPECT_EQ(matcher.MatchText(1), Text());
    EXPECT_EQ(matcher.SubMatchText(1, 1), Text());
    EXPECT_EQ(matcher.ReplaceMatches(T("x")), Text());
    EXPECT_EQ(matcher.GetPattern(), T(pattern));
    // and the matcher goes on working
    EXPECT_TRUE(matcher.Search(T("b"), T("a ab b")));
    EXPECT_EQ(matcher.MatchCount(), 2);
  }
}

TEST(RegexMatcher, ValidPatternWithoutMatchSucceeds) {
  RegexMatcher matcher;
  EXPECT_TRUE(matcher.Search(T("(x)(y)"), T("abc")));
  EXPECT_EQ(matcher.MatchCount(), 0);
  EXPECT_EQ(matcher.SubMatchCount(), 0);
  EXPECT_EQ(matcher.MatchText(1), Text());
}

TEST(RegexMatcher, GroupsAreNumberedFromOneAndMissingOnesReadEmpty) {
  RegexMatcher matcher;
  ASSERT_TRUE(matcher.Search(T("(a)(b)?"), T("ac")));
  EXPECT_EQ(matcher.SubMatchCount(), 2);
  struct Case {
    int match;
    int group;
    const char* text;
  };
  const Case cases[] = {
      {1, 1, "a"}, {1, 2, ""}, {1, 3, ""}, {1, 0, ""}, {1, -1, ""}, {2, 1, ""}, {0, 1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.match << "/" << c.group);
    EXPECT_EQ(matcher.SubMatchText(c.match, c.group), T(c.text));
  }
  EXPECT_EQ(matcher.MatchText(1), T("a"));
  EXPECT_EQ(matcher.MatchText(0), Text());
  EXPECT_EQ(matcher.MatchText(2), Text());
}

// Positions are byte offsets found by searching the subject for the text
// from the match's unit offset taken as a 1-based byte position.
TEST(RegexMatcher, PositionsFollowTheByteSearchRule) {
  struct Case {
    const char* what;
    const char* subject;
    const char* pattern;
    std::optional<bool> caseSensitive;
    int match;
    int group;  // 0 for the whole match
    const char* text;
    int position;
  };
  const Case cases[] = {
      {"second c", "abcabc", "c", kOmitted, 2, 0, "c", 5},
      {"first c", "abcabc", "c", kOmitted, 1, 0, "c", 2},
      {"after a double-byte character", "中a", "a", kOmitted, 1, 0, "a", 2},
      {"after two of them", "中文ab", "b", kOmitted, 1, 0, "b", 5},
      {"double-byte text sought", "a中b中", "中", kOmitted, 2, 0, "中", 4},
      {"overlapping earlier find", "aaaa", "aa", kOmitted, 2, 0, "aa", 1},
      {"group from the match's start", "xxabab", "a(b)", kOmitted, 2, 1, "b", 3},
      {"case folded find", "Bb", "b", kOmitted, 2, 0, "b", 0},
      {"exact find", "Bb", "b", true, 1, 0, "b", 1},
      {"empty match, bytes remain", "ab", "x*", kOmitted, 3, 0, "", 0},
      {"empty match, empty subject", "", "x*", kOmitted, 1, 0, "", -2},
      {"empty group", "ac", "a(b)?", kOmitted, 1, 1, "", 0},
      {"no such match", "abc", "b", kOmitted, 5, 0, "", 0},
      {"no such group", "abc", "b", kOmitted, 1, 4, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RegexMatcher matcher;
    ASSERT_TRUE(matcher.Search(T(c.pattern), T(c.subject), c.caseSensitive));
    int position = 99;
    Text text = c.group == 0 ? matcher.MatchText(c.match, &position)
                             : matcher.SubMatchText(c.match, c.group, &position);
    EXPECT_EQ(text, T(c.text));
    EXPECT_EQ(position, c.position);
  }
}

TEST(RegexMatcher, TextsCrossTheCodePageBothWays) {
  RegexMatcher matcher;
  ASSERT_TRUE(matcher.Search(T("标题：(\\S+?)。"), T("<p>标题：视频下载。其他</p>")));
  ASSERT_EQ(matcher.MatchCount(), 1);
  EXPECT_EQ(matcher.MatchText(1), T("标题：视频下载。"));
  EXPECT_EQ(matcher.SubMatchText(1, 1), T("视频下载"));
  EXPECT_EQ(matcher.ReplaceMatches(T("[$1]")), T("<p>[视频下载]其他</p>"));
  EXPECT_EQ(matcher.GetPattern(), T("标题：(\\S+?)。"));
}

TEST(RegexMatcher, ReplaceMatchesLeavesTheSearchAsItIs) {
  RegexMatcher matcher;
  ASSERT_TRUE(matcher.Search(T("\\d+"), T("a1b22")));
  EXPECT_EQ(matcher.ReplaceMatches(T("<$&>")), T("a<1>b<22>"));
  EXPECT_EQ(matcher.MatchCount(), 2);
  EXPECT_EQ(matcher.MatchText(2), T("22"));
  ASSERT_TRUE(matcher.Search(T("\\d+"), T("a1b22"), kOmitted, kOmitted, false));
  EXPECT_EQ(matcher.ReplaceMatches(T("$$")), T("a$b22"));
}

TEST(RegexMatcher, SecondSearchReplacesEverything) {
  RegexMatcher matcher;
  ASSERT_TRUE(matcher.Search(T("(a)"), T("aaa"), true));
  ASSERT_EQ(matcher.MatchCount(), 3);
  ASSERT_TRUE(matcher.Search(T("B"), T("xbx")));
  EXPECT_EQ(matcher.MatchCount(), 1);
  EXPECT_EQ(matcher.MatchText(1), T("b"));
  EXPECT_EQ(matcher.MatchText(2), Text());
  EXPECT_EQ(matcher.SubMatchCount(), 0);
  EXPECT_EQ(matcher.GetPattern(), T("B"));
  EXPECT_EQ(matcher.ReplaceMatches(T("-")), T("x-x"));
  EXPECT_FALSE(matcher.Search(T("("), T("new subject")));
  EXPECT_EQ(matcher.MatchCount(), 0);
  int position = 0;
  EXPECT_EQ(matcher.MatchText(1, &position), Text());
  EXPECT_EQ(position, 0);  // the new subject is searched: bytes remain
}

TEST(RegexMatcher, CopySharesTheResultsAndKeepsItsOwnSubject) {
  auto original = std::make_unique<RegexMatcher>();
  ASSERT_TRUE(original->Search(T("b(.)"), T("abcabd")));
  RegexMatcher copy(*original);
  original.reset();
  EXPECT_EQ(copy.MatchCount(), 2);
  EXPECT_EQ(copy.SubMatchText(2, 1), T("d"));
  EXPECT_EQ(copy.GetPattern(), T("b(.)"));
  EXPECT_EQ(copy.ReplaceMatches(T("")), T("aa"));
  int position = 0;
  EXPECT_EQ(copy.MatchText(2, &position), T("bd"));
  EXPECT_EQ(position, 4);
}

TEST(RegexMatcher, ApartmentCountStaysBalancedPerThread) {
  std::thread([] {
    EXPECT_EQ(apartment::Depth(), 0);
    {
      RegexMatcher matcher;
      EXPECT_EQ(apartment::Depth(), 1);
      {
        RegexMatcher copy(matcher);
        EXPECT_EQ(apartment::Depth(), 2);
        RegexMatcher other;
        other = copy;
        EXPECT_EQ(apartment::Depth(), 3);
      }
      EXPECT_EQ(apartment::Depth(), 1);
    }
    EXPECT_EQ(apartment::Depth(), 0);
  }).join();
}

// Pages as the blogging service serves them, with several kinds of posts.
struct Post {
  enum Kind { kVideo, kVideoNoMedia, kPhoto, kText } kind;
  std::string id;
  std::string slugPart;  // what follows the id in the post link, before "#notes"
  std::string mediaId;
};

std::string PostMarkup(const std::string& blog, const Post& post) {
  const std::string domain = service_hosts::kBlogDomain;
  const std::string media = service_hosts::kMediaHost;
  std::string kind = post.kind == Post::kPhoto ? "photo" : post.kind == Post::kText ? "text" : "video";
  std::string out = "<article class=\"post " + kind + "-post post-" + post.id + " has-caption\">\n";
  out += "  <div class=\"post-content\">\n";
  if (post.kind == Post::kVideo) {
    out += "    <div class=\"video-player\"><video poster=\"http://" + media + "/tumblr_" + post.mediaId +
           "_frame1.jpg\"><source src=\"http://" + blog + "." + domain + "/video_file/" + post.id +
           "/tumblr_" + post.mediaId + "\" type=\"video/mp4\"></video></div>\n";
  } else if (post.kind == Post::kPhoto) {
    out += "    <img src=\"http://" + media + "/tumblr_p" + post.id + "_500.jpg\" alt=\"照片\">\n";
  }
  out += "    <div class=\"caption\"><p>今天的视频 — a caption with <b>markup</b>, 引号 and a\n"
         "    second line.</p></div>\n  </div>\n";
  out += "  <footer class=\"post-meta\">\n";
  out += "    <span class=\"notes-pop-container\"><a class=\"notes\" href=\"http://" + blog + "." + domain +
         "/post/" + post.id + post.slugPart + "#notes\">12 notes</a></span>\n";
  if (post.kind == Post::kVideo) {
    out += "    <a class=\"share\" href=\"http://www." + domain + "/share?media=http://" + media + "/tumblr_" +
           post.mediaId + "_frame1.jpg&amp;id=" + post.id + "\">分享</a>\n";
  } else if (post.kind == Post::kPhoto) {
    out += "    <a class=\"share\" href=\"http://www." + domain + "/share?media=http://" + media +
           "/tumblr_p" + post.id + "_500.jpg\">分享</a>\n";
  }
  out += "  </footer>\n</article>\n";
  return out;
}

const std::vector<Post>& SamplePosts() {
  static const std::vector<Post> posts = {
      {Post::kVideo, "1001", "/my-cat", "abcDEF123"},
      {Post::kPhoto, "1002", "/a-photo", ""},
      {Post::kVideo, "1003", "", "xyz987"},
      {Post::kText, "1004", "/some-words", ""},
      {Post::kVideo, "1005", "/", "QQ55"},
      {Post::kVideoNoMedia, "1006", "/no-media", ""},
      {Post::kVideo, "1007", "/中文标题", "m7"},
  };
  return posts;
}

std::string PageHead() {
  return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>博客</title></head>\n<body>\n"
         "<section id=\"posts\">\n";
}
std::string PageTail() { return "</section>\n<footer>page 1</footer>\n</body></html>\n"; }

struct Expected {
  std::string id;
  std::string slug;
  std::string mediaId;
};

std::vector<Expected> ExpectedMatches() {
  std::vector<Expected> expected;
  for (const Post& post : SamplePosts()) {
    if (post.kind != Post::kVideo && post.kind != Post::kVideoNoMedia) continue;
    std::string slug = post.slugPart.empty() ? "" : post.slugPart.substr(1);
    expected.push_back({post.id, slug, post.mediaId});
  }
  return expected;
}

void ExpectPageMatches(const RegexMatcher& matcher, int repeats) {
  const std::vector<Expected> expected = ExpectedMatches();
  ASSERT_EQ(matcher.MatchCount(), static_cast<int>(expected.size()) * repeats);
  EXPECT_EQ(matcher.SubMatchCount(), 6);
  for (int i = 1; i <= matcher.MatchCount(); ++i) {
    const Expected& e = expected[(i - 1) % expected.size()];
    SCOPED_TRACE(testing::Message() << "match " << i << ", post " << e.id);
    EXPECT_EQ(matcher.SubMatchText(i, 2), T(e.id.c_str()));
    EXPECT_EQ(matcher.SubMatchText(i, 4), T(e.slug.c_str()));
    EXPECT_EQ(matcher.SubMatchText(i, 6), T(e.mediaId.c_str()));
    if (::testing::Test::HasFailure()) return;
  }
}

TEST(RegexMatcher, PagePatternFindsTheVideoPosts) {
  std::string page = PageHead();
  for (const Post& post : SamplePosts()) page += PostMarkup("cats", post);
  page += PageTail();

  RegexMatcher matcher;
  ASSERT_TRUE(matcher.Search(VideoPostPattern(), T(page.c_str())));
  ExpectPageMatches(matcher, 1);
  EXPECT_EQ(matcher.SubMatchText(1, 1), T("post video-post "));
  EXPECT_EQ(matcher.SubMatchText(3, 3), T("/"));
  EXPECT_EQ(matcher.SubMatchText(4, 5), Text());
  EXPECT_EQ(matcher.SubMatchText(1, 5).View().substr(0, 6), "media=");
}

TEST(RegexMatcher, PagePatternCopesWithAFiveMegabytePage) {
  const std::size_t kSize = 5 * 1024 * 1024;
  std::string posts;
  for (const Post& post : SamplePosts()) posts += PostMarkup("cats", post);
  std::string page = PageHead();
  int repeats = 0;
  while (page.size() < kSize) {
    page += posts;
    ++repeats;
  }
  page += PageTail();
  RegexMatcher matcher;
  ASSERT_TRUE(matcher.Search(VideoPostPattern(), T(page.c_str())));
  ExpectPageMatches(matcher, repeats);
}

TEST(RegexMatcher, PagePatternCopesWithOneFiveMegabytePost) {
  Post post{Post::kVideo, "2001", "/long-one", "big42"};
  std::string markup = PostMarkup("dogs", post);
  std::string filler;
  while (filler.size() < 5 * 1024 * 1024) filler += "<p>很长的文字 long text of one post</p>\n";
  // the bulk between the article's start and its notes, and more behind them
  std::size_t notes = markup.find("<span class=\"notes-pop-container\">");
  markup.insert(notes, filler);
  markup.insert(markup.find("</footer>"), filler);
  std::string page = PageHead() + markup + PostMarkup("dogs", {Post::kPhoto, "2002", "", ""}) + PageTail();

  RegexMatcher matcher;
  ASSERT_TRUE(matcher.Search(VideoPostPattern(), T(page.c_str())));
  ASSERT_EQ(matcher.MatchCount(), 1);
  EXPECT_EQ(matcher.SubMatchText(1, 2), T("2001"));
  EXPECT_EQ(matcher.SubMatchText(1, 4), T("long-one"));
  EXPECT_EQ(matcher.SubMatchText(1, 6), T("big42"));
}

}  // namespace

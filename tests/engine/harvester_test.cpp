#include "engine/harvester.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <mutex>

#include "fake_blog_service.h"
#include "pagetext/codepage936.h"
#include "platform/apartment.h"
#include "temp_folder.h"

namespace {

using testing_support::BlogPageMarkup;
using testing_support::EntryNames;
using testing_support::FakeBlogService;
using testing_support::ReadFile;
using testing_support::TempFolder;
using testing_support::Answer;
using testing_support::RedirectTo;
using testing_support::VideoAnswer;
using testing_support::VideoBytes;
using testing_support::VideoPost;
using testing_support::WriteFile;

const std::string kFailedList = "视频.txt";

std::string VideoUrl(const std::string& mediaId) { return "http://vt.tumblr.com/tumblr_" + mediaId + ".mp4"; }

class HarvesterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("BRELLOC_CONNECT_TO", service.ConnectTo().c_str(), 1);
    settings.videoFolder = TextFromUtf8(folder.Path().string());
    settings.failedListLock = &lock;
    settings.stallLimit = std::chrono::milliseconds(1500);
    settings.report = [this](const VideoReport& report) {
      std::lock_guard guard(reportsLock);
      reports.push_back(report);
    };
  }
  void TearDown() override { ::unsetenv("BRELLOC_CONNECT_TO"); }

  void Harvest(const std::string& blog, int page) {
    HarvestBlogPageWith(settings, TextFromUtf8(blog), page);
    EXPECT_EQ(apartment::Depth(), 0);
  }
  std::vector<std::string> VideoPaths() const { return service.PathsFor("vt.tumblr.com"); }
  std::string FailedList() const { return ReadFile(folder.Path() / kFailedList); }
  int Count(VideoOutcome outcome) const {
    int n = 0;
    for (const auto& report : reports) n += report.outcome == outcome;
    return n;
  }

  FakeBlogService service;
  TempFolder folder;
  std::mutex lock;
  HarvestSettings settings;
  std::mutex reportsLock;
  std::vector<VideoReport> reports;
};

TEST_F(HarvesterTest, SavesEachVideoUnderItsSlugOrFallbackName) {
  service.SetPage("cats", 3,
                  BlogPageMarkup("cats", {{"101", "my-cat", true, "aaa1"},
                                          {"102", "", true, "bbb2"},
                                          {"103", "", false, "ccc3"},
                                          {"104", "no-media", true, ""}}));
  const std::string a = VideoBytes(20000, 'a'), b = VideoBytes(10000, 'b'), c = VideoBytes(123456, 'c');
  service.SetVideo("aaa1", Answer(200, a));
  service.SetVideo("bbb2", Answer(200, b));
  service.SetVideo("ccc3", Answer(200, c));

  Harvest("cats", 3);

  EXPECT_EQ(service.PathsFor("cats.tumblr.com"), std::vector<std::string>{"/page/3"});
  EXPECT_EQ(VideoPaths(), (std::vector<std::string>{"/tumblr_aaa1.mp4", "/tumblr_bbb2.mp4", "/tumblr_ccc3.mp4"}));
  EXPECT_EQ(EntryNames(folder.Path()), (std::vector<std::string>{"cats_102.mp4", "cats_103.mp4", "my-cat.mp4"}));
  EXPECT_EQ(ReadFile(folder.Path() / "my-cat.mp4"), a);
  EXPECT_EQ(ReadFile(folder.Path() / "cats_102.mp4"), b);
  EXPECT_EQ(ReadFile(folder.Path() / "cats_103.mp4"), c);
  EXPECT_EQ(Count(VideoOutcome::Saved), 3);
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_EQ(reports[0].bytes, 20000);
  EXPECT_EQ(reports[0].address, Text(VideoUrl("aaa1")));
}

TEST_F(HarvesterTest, VideoRequestIsAPlainHttp10Get) {
  service.SetPage("cats", 1, BlogPageMarkup("cats", {{"1", "one", true, "m1"}}));
  service.SetVideo("m1", Answer(200, VideoBytes(10000)));
  Harvest("cats", 1);
  const auto requests = service.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].version, "HTTP/1.0");
  EXPECT_EQ(requests[1].headers.find("User-Agent")->second, "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)");
  EXPECT_EQ(requests[0].headers.find("Referer")->second, "http://cats.tumblr.com/page/1");
}

// Each case: one video post with one answer; whether a file stays and what
// the failed list holds afterwards.
TEST_F(HarvesterTest, KeepsOnlyWholeSuccessfulAnswersOfAtLeast10000Bytes) {
  struct Case {
    const char* name;
    VideoAnswer answer;
    bool kept;
  };
  const std::string big = VideoBytes(50000);
  const Case cases[] = {
      {"exactly 10000 bytes", Answer(200, VideoBytes(10000)), true},
      {"9999 bytes", Answer(200, VideoBytes(9999)), false},
      {"empty body", Answer(200, ""), false},
      {"404 with a large body", Answer(404, big), false},
      {"429 with a large body", Answer(429, big), false},
      {"body cut short", Answer(200, big, 20000), false},
      {"body stalls then drops", Answer(200, big, 30000, std::chrono::milliseconds(2500)), false},
      {"206 partial content", Answer(206, big), true},
  };
  std::string expectedList;
  int id = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string mediaId = "m" + std::to_string(++id);
    const std::string slug = "video-" + std::to_string(id);
    service.SetPage("dogs", id, BlogPageMarkup("dogs", {{std::to_string(id), slug, true, mediaId}}));
    service.SetVideo(mediaId, c.answer);
    Harvest("dogs", id);
    const auto file = folder.Path() / (slug + ".mp4");
    EXPECT_EQ(std::filesystem::exists(file), c.kept);
    if (c.kept) {
      EXPECT_EQ(ReadFile(file), c.answer.body);
    } else {
      expectedList += VideoUrl(mediaId) + "\r\n";
    }
    EXPECT_EQ(FailedList(), expectedList);
    // No temporary file is left behind, whatever happened.
    for (const auto& name : EntryNames(folder.Path())) EXPECT_EQ(name.find(".brelloc-"), std::string::npos);
  }
}

TEST_F(HarvesterTest, AnythingAtTheTargetPathMeansNoRequestAndNoLine) {
  WriteFile(folder.Path() / "zero.mp4", "");
  WriteFile(folder.Path() / "small.mp4", "tiny");
  service.SetPage("cats", 1,
                  BlogPageMarkup("cats", {{"1", "zero", true, "z"}, {"2", "small", true, "s"}}));
  service.SetVideo("z", Answer(200, VideoBytes(20000)));
  service.SetVideo("s", Answer(200, VideoBytes(20000)));
  Harvest("cats", 1);
  EXPECT_TRUE(VideoPaths().empty());
  EXPECT_FALSE(std::filesystem::exists(folder.Path() / kFailedList));
  EXPECT_EQ(ReadFile(folder.Path() / "small.mp4"), "tiny");
  EXPECT_EQ(Count(VideoOutcome::AlreadyOnDisk), 2);
}

TEST_F(HarvesterTest, TwoPostsWithOneName) {
  // The second finds the first's file when it stayed...
  service.SetPage("cats", 1, BlogPageMarkup("cats", {{"1", "same", true, "k1"}, {"2", "same", true, "k2"}}));
  service.SetVideo("k1", Answer(200, VideoBytes(10000)));
  service.SetVideo("k2", Answer(200, VideoBytes(10000)));
  Harvest("cats", 1);
  EXPECT_EQ(VideoPaths(), std::vector<std::string>{"/tumblr_k1.mp4"});

  // ...and is fetched, and recorded too, when the first was not kept.
  service.SetPage("cats", 2, BlogPageMarkup("cats", {{"3", "again", true, "s1"}, {"4", "again", true, "s2"}}));
  service.SetVideo("s1", Answer(200, "small"));
  service.SetVideo("s2", Answer(200, "small"));
  Harvest("cats", 2);
  EXPECT_EQ(FailedList(), VideoUrl("s1") + "\r\n" + VideoUrl("s2") + "\r\n");
}

TEST_F(HarvesterTest, UnusableNamesAreRecordedAndNeverFetched) {
  const std::string longSlug(300, 'x');
  service.SetPage("cats", 1,
                  BlogPageMarkup("cats", {{"1", "../escape", true, "u1"},
                                          {"2", "a/b", true, "u2"},
                                          {"3", "back\\slash", true, "u3"},
                                          {"4", longSlug, true, "u4"},
                                          {"5", "tab\there", true, "u5"},
                                          {"6", "..", true, "u6"},
                                          {"7", "猫的视频", true, "u7"}}));
  for (const char* id : {"u1", "u2", "u3", "u4", "u5", "u6", "u7"}) service.SetVideo(id, Answer(200, VideoBytes(10000)));
  Harvest("cats", 1);
  EXPECT_EQ(VideoPaths(), std::vector<std::string>{"/tumblr_u7.mp4"});
  EXPECT_EQ(FailedList(), VideoUrl("u1") + "\r\n" + VideoUrl("u2") + "\r\n" + VideoUrl("u3") + "\r\n" +
                              VideoUrl("u4") + "\r\n" + VideoUrl("u5") + "\r\n" + VideoUrl("u6") + "\r\n");
  EXPECT_EQ(EntryNames(folder.Path()), (std::vector<std::string>{"猫的视频.mp4", kFailedList}));
  EXPECT_FALSE(std::filesystem::exists(folder.Path().parent_path() / "escape.mp4"));
}

TEST_F(HarvesterTest, FailedListIsJoinedToALastLineWithoutBreak) {
  WriteFile(folder.Path() / kFailedList, "old line");
  service.SetPage("cats", 1, BlogPageMarkup("cats", {{"1", "small", true, "f1"}}));
  service.SetVideo("f1", Answer(200, "tiny"));
  Harvest("cats", 1);
  Harvest("cats", 1);  // a video failing again is recorded again
  EXPECT_EQ(FailedList(), "old line" + VideoUrl("f1") + "\r\n" + VideoUrl("f1") + "\r\n");
}

TEST_F(HarvesterTest, NothingHappensForAnEmptyNameOrAPageWithoutVideos) {
  Harvest("", 1);
  service.SetPage("cats", 1, BlogPageMarkup("cats", {{"1", "no-media", true, ""}}));
  Harvest("cats", 1);
  Harvest("nobody", 1);  // 404 page
  EXPECT_EQ(service.PathsFor("cats.tumblr.com"), std::vector<std::string>{"/page/1"});
  EXPECT_TRUE(VideoPaths().empty());
  EXPECT_TRUE(EntryNames(folder.Path()).empty());
}

TEST_F(HarvesterTest, MissingFolderRecordsNothingAndCreatesNothing) {
  settings.videoFolder = TextFromUtf8((folder.Path() / "gone").string());
  service.SetPage("cats", 1, BlogPageMarkup("cats", {{"1", "one", true, "g1"}}));
  service.SetVideo("g1", Answer(200, VideoBytes(10000)));
  Harvest("cats", 1);
  EXPECT_TRUE(VideoPaths().empty());
  EXPECT_TRUE(EntryNames(folder.Path()).empty());
  EXPECT_EQ(Count(VideoOutcome::Failed), 1);
}

TEST_F(HarvesterTest, RedirectedVideoIsFollowed) {
  const std::string body = VideoBytes(15000);
  service.SetPage("cats", 1, BlogPageMarkup("cats", {{"1", "moved", true, "r1"}}));
  service.SetVideo("r1", RedirectTo("http://vt.tumblr.com/tumblr_r2.mp4"));
  service.SetVideo("r2", Answer(200, body));
  Harvest("cats", 1);
  EXPECT_EQ(ReadFile(folder.Path() / "moved.mp4"), body);
}

}  // namespace

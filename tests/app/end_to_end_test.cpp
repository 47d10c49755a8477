// The whole job through the built program: a copy of it in a temporary
// folder (so that its video folder is there too), pointed at the fake
// blogging service through BRELLOC_CONNECT_TO.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "fake_blog_service.h"
#include "temp_folder.h"

namespace {

namespace fs = std::filesystem;
using testing_support::Answer;
using testing_support::BlogPageMarkup;
using testing_support::EntryNames;
using testing_support::FakeBlogService;
using testing_support::ReadFile;
using testing_support::TempFolder;
using testing_support::VideoBytes;

std::string VideoUrl(const std::string& mediaId) { return "http://vt.tumblr.com/tumblr_" + mediaId + ".mp4"; }

class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program = home.Path() / "brelloc";
    fs::copy_file(BRELLOC_PROGRAM, program);
    videos = home.Path() / "视频";
  }

  // Starts the program with `arguments`; its output goes to files in the
  // temporary folder.
  pid_t Start(const std::vector<std::string>& arguments) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::setenv("BRELLOC_CONNECT_TO", service.ConnectTo().c_str(), 1);
      ::freopen((home.Path() / "out.txt").c_str(), "w", stdout);
      ::freopen((home.Path() / "err.txt").c_str(), "w", stderr);
      ::freopen("/dev/null", "r", stdin);
      std::vector<char*> argv{program.string().data()};
      std::vector<std::string> copies = arguments;
      for (auto& argument : copies) argv.push_back(argument.data());
      argv.push_back(nullptr);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    return pid;
  }

  int Run(const std::vector<std::string>& arguments) {
    int status = 0;
    ::waitpid(Start(arguments), &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::vector<std::string> SortedPaths(const std::string& host) const {
    auto paths = service.PathsFor(host);
    std::sort(paths.begin(), paths.end());
    return paths;
  }

  FakeBlogService service;
  TempFolder home;
  fs::path program;
  fs::path videos;
};

TEST_F(EndToEndTest, HeadlessBatchOverTwoBlogsAndTwoPages) {
  const std::string a = VideoBytes(25000, 'a'), c = VideoBytes(10000, 'c'), d = VideoBytes(40000, 'd');
  service.SetPage("cats", 1, BlogPageMarkup("cats", {{"11", "first-cat", true, "a1"}, {"12", "small-cat", true, "b1"}}));
  service.SetPage("cats", 2, BlogPageMarkup("cats", {{"13", "", true, "c1"}}));
  service.SetPage("dogs", 1, BlogPageMarkup("dogs", {{"21", "good-dog", false, "d1"}, {"22", "", true, ""}}));
  // dogs has no page 2: the service answers 404 with a page without posts.
  service.SetVideo("a1", Answer(200, a));
  service.SetVideo("b1", Answer(200, "too small"));
  service.SetVideo("c1", Answer(200, c));
  service.SetVideo("d1", Answer(200, d));

  EXPECT_EQ(Run({"--headless", "--start", "1", "--pages", "2", "--threads", "3", "cats", "dogs"}), 0);

  EXPECT_EQ(EntryNames(videos),
            (std::vector<std::string>{"cats_13.mp4", "first-cat.mp4", "good-dog.mp4", "视频.txt"}));
  EXPECT_EQ(ReadFile(videos / "first-cat.mp4"), a);
  EXPECT_EQ(ReadFile(videos / "cats_13.mp4"), c);
  EXPECT_EQ(ReadFile(videos / "good-dog.mp4"), d);
  EXPECT_EQ(ReadFile(videos / "视频.txt"), VideoUrl("b1") + "\r\n");
  EXPECT_EQ(SortedPaths("cats.tumblr.com"), (std::vector<std::string>{"/page/1", "/page/2"}));
  EXPECT_EQ(SortedPaths("dogs.tumblr.com"), (std::vector<std::string>{"/page/1", "/page/2"}));
  EXPECT_EQ(SortedPaths("vt.tumblr.com"),
            (std::vector<std::string>{"/tumblr_a1.mp4", "/tumblr_b1.mp4", "/tumblr_c1.mp4", "/tumblr_d1.mp4"}));

  const std::string out = ReadFile(home.Path() / "out.txt");
  EXPECT_NE(out.find("学术视频下载完成"), std::string::npos) << out;
  EXPECT_NE(out.find("videos saved: 3, already on disk: 0, failed: 1"), std::string::npos) << out;

  // A second run finds everything on disk and asks for no video again, but
  // the small one, which fails and is recorded a second time.
  EXPECT_EQ(Run({"--headless", "--pages", "2", "--threads", "3", "cats", "dogs"}), 0);
  EXPECT_EQ(SortedPaths("vt.tumblr.com").size(), 5u);
  EXPECT_EQ(ReadFile(videos / "视频.txt"), VideoUrl("b1") + "\r\n" + VideoUrl("b1") + "\r\n");
  EXPECT_NE(ReadFile(home.Path() / "out.txt").find("videos saved: 0, already on disk: 3, failed: 1"),
            std::string::npos);
}

TEST_F(EndToEndTest, KilledDuringADownloadLeavesNoFileAtTheTargetPath) {
  const std::string big = VideoBytes(4 * 1024 * 1024, 'k');
  service.SetPage("cats", 1, BlogPageMarkup("cats", {{"1", "large", true, "big"}}));
  // Half of the body, then nothing for a while: the program is caught in
  // the middle of the download.
  service.SetVideo("big", Answer(200, big, static_cast<long long>(big.size() / 2), std::chrono::milliseconds(3000)));

  const pid_t pid = Start({"--headless", "--pages", "1", "cats"});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (service.PathsFor("vt.tumblr.com").empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));

  ASSERT_FALSE(service.PathsFor("vt.tumblr.com").empty());
  EXPECT_FALSE(fs::exists(videos / "large.mp4"));
  for (const auto& name : EntryNames(videos)) EXPECT_EQ(name.rfind(".brelloc-", 0), 0u) << name;

  // The next start sweeps away what the killed run left half-written.
  EXPECT_EQ(Run({"--headless"}), 2);  // no blogs
  EXPECT_TRUE(EntryNames(videos).empty());
}

}  // namespace

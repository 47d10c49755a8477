// A large batch through the built program: 2,000 blogs, 100 workers, and
// every video fails, so that twelve thousand lines reach the failed list
// from workers that run side by side. None may be lost or mixed with
// another, and the program's memory must not grow with the batch.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "fake_blog_service.h"
#include "headless_program.h"
#include "temp_folder.h"

namespace {

using namespace std::chrono_literals;
using testing_support::Answer;
using testing_support::BlogPageMarkup;
using testing_support::FakeBlogService;
using testing_support::HeadlessProgram;
using testing_support::ReadFile;
using testing_support::VideoAnswer;
using testing_support::VideoPost;
using testing_support::WaitForChild;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizers' shadow memory and quarantine make the figure meaningless,
// and their slowness alone keeps a hundred workers busy.
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
constexpr long kMemoryBoundKiB = 200 * 1024;

constexpr int kBlogs = 2000;
constexpr int kPostsPerBlog = 6;

// A number from a running process's status ("VmRSS:" in KiB, "Threads:");
// 0 once it is gone.
long StatusValue(pid_t pid, const std::string& key) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + key.size());
  }
  return 0;
}

TEST(LoadTest, TwoThousandBlogsWhereEveryVideoFails) {
  // Each failing answer is held back a little, so that a worker lives long
  // enough for about a hundred of them to run at once (workers start 10 ms
  // apart).
  FakeBlogService service(160);
  HeadlessProgram program(BRELLOC_PROGRAM);
  std::vector<std::string> arguments{"--pages", "1", "--threads", "100"};
  std::vector<std::string> expected;
  VideoAnswer gone = Answer(404, "gone");
  gone.delayBefore = kSanitized ? 0ms : 160ms;
  for (int b = 0; b < kBlogs; ++b) {
    char blog[16];
    std::snprintf(blog, sizeof blog, "load%04d", b);
    arguments.push_back(blog);
    std::vector<VideoPost> posts;
    for (int k = 0; k < kPostsPerBlog; ++k) {
      const std::string id = std::string(blog) + "v" + std::to_string(k);
      posts.push_back({std::to_string(1000 + k), "", k % 2 == 0, id});
      service.SetVideo(id, gone);
      expected.push_back("http://vt.tumblr.com/tumblr_" + id + ".mp4");
    }
    service.SetPage(blog, 1, BlogPageMarkup(blog, posts));
  }

  const auto started = std::chrono::steady_clock::now();
  const pid_t pid = program.Start(service.ConnectTo(), arguments);
  // Samples of the resident set while the batch runs, and the most
  // threads seen at once.
  std::atomic<bool> done{false};
  std::vector<long> samples;
  long mostThreads = 0;
  std::thread sampler([&] {
    while (!done.load()) {
      if (const long kib = StatusValue(pid, "VmRSS:"); kib > 0) samples.push_back(kib);
      mostThreads = std::max(mostThreads, StatusValue(pid, "Threads:"));
      std::this_thread::sleep_for(250ms);
    }
  });
  const testing_support::ChildEnd end = WaitForChild(pid);
  done = true;
  sampler.join();
  const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  EXPECT_TRUE(end.exited && end.exitStatus == 0) << "signal " << end.signal << "\n" << program.Errors();
  const std::string out = program.Output();
  EXPECT_NE(out.find("学术视频下载完成"), std::string::npos) << out;
  EXPECT_NE(out.find("videos saved: 0, already on disk: 0, failed: 12000"), std::string::npos) << out;

  const std::string list = ReadFile(program.VideoFolder() / "视频.txt");
  ASSERT_GE(list.size(), 2u);
  EXPECT_EQ(list.substr(list.size() - 2), "\r\n");
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < list.size();) {
    const std::size_t end = list.find("\r\n", start);
    if (end == std::string::npos) break;
    lines.push_back(list.substr(start, end - start));
    start = end + 2;
  }
  std::sort(lines.begin(), lines.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(lines.size(), expected.size());
  EXPECT_TRUE(lines == expected) << "lines lost, repeated or mixed";

  const long middle = samples.empty() ? 0 : samples[samples.size() / 2];
  const long last = samples.empty() ? 0 : samples.back();
  std::cout << "lines written: " << lines.size() << ", peak RSS " << end.peakRssKiB / 1024
            << " MiB (middle of the batch " << middle / 1024 << " MiB, near its end " << last / 1024
            << " MiB), at most " << mostThreads << " threads at once, " << seconds << " s\n";
  RecordProperty("lines", static_cast<int>(lines.size()));
  RecordProperty("peak_rss_kib", static_cast<int>(end.peakRssKiB));
  if (!kSanitized) {
    EXPECT_LT(end.peakRssKiB, kMemoryBoundKiB);
    // Flat: the second half of the batch needs no more than the first.
    EXPECT_LE(last, 2 * middle + 32 * 1024);
  }
}

}  // namespace

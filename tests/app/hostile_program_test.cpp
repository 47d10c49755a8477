// Faults that only a whole process meets: killed at any moment, a limit on
// the size of its files, a folder it may not write to as the user it runs
// as, and unsafe names coming in through its command line and pages.

#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "fake_blog_service.h"
#include "headless_program.h"
#include "temp_folder.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::Answer;
using testing_support::BlogPageMarkup;
using testing_support::ChildEnd;
using testing_support::EntryNames;
using testing_support::FakeBlogService;
using testing_support::HeadlessProgram;
using testing_support::Paced;
using testing_support::ReadFile;
using testing_support::VideoBytes;
using testing_support::VideoPost;
using testing_support::WaitForChild;
using testing_support::WriteFile;

const std::string kFailedList = "视频.txt";
const std::string kDoneMessage = "学术视频下载完成";

std::string VideoUrl(const std::string& mediaId) { return "http://vt.tumblr.com/tumblr_" + mediaId + ".mp4"; }

// The whole file in one read: the videos here are large, and the tests
// read them after every run.
std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::error_code error;
  const auto size = fs::file_size(path, error);
  std::string bytes(error ? 0 : size, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

bool IsStagedName(const std::string& name) {
  return name.rfind(".brelloc-", 0) == 0 && name.size() > 5 && name.compare(name.size() - 5, 5, ".part") == 0;
}

// The lines of a failed list; every one must be whole, that is end in CR LF.
std::vector<std::string> WholeLines(const std::string& list) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < list.size()) {
    const std::size_t end = list.find("\r\n", start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "unfinished last line: " << list.substr(start);
      break;
    }
    lines.push_back(list.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::vector<std::string> Sorted(std::vector<std::string> lines) {
  std::sort(lines.begin(), lines.end());
  return lines;
}

class HostileProgramTest : public ::testing::Test {
 protected:
  HostileProgramTest() : service(16), program(BRELLOC_PROGRAM) {}

  void ExpectFinished(const ChildEnd& end) {
    EXPECT_TRUE(end.exited && end.exitStatus == 0) << "signal " << end.signal << "\n" << program.Errors();
    EXPECT_NE(program.Output().find(kDoneMessage), std::string::npos) << program.Output();
  }

  FakeBlogService service;
  HeadlessProgram program;
};

TEST_F(HostileProgramTest, KilledAtRandomMomentsLeavesOnlyWholeVideosAndWholeLines) {
  // Six blogs, each with two large videos that take a while to arrive
  // between three that fail, worked three at a time: at any moment some
  // videos are half-written and some lines are being added.
  std::map<std::string, std::string> bodies;  // file name -> whole video
  std::set<std::string> failing;
  std::vector<std::string> blogs;
  for (int b = 0; b < 6; ++b) {
    const std::string blog = "kill-" + std::to_string(b);
    blogs.push_back(blog);
    std::vector<VideoPost> posts;
    for (int j = 0; j < 5; ++j) {
      const std::string id = "k" + std::to_string(b) + "p" + std::to_string(j);
      const std::string slug = blog + "-" + std::to_string(j);
      posts.push_back({std::to_string(100 + j), slug, true, id});
      if (j % 2 == 1) {
        std::string body = VideoBytes(2 * 1024 * 1024, static_cast<char>('a' + b * 5 + j));
        service.SetVideo(id, Paced(body, 2ms));
        bodies[slug + ".mp4"] = std::move(body);
      } else {
        service.SetVideo(id, Answer(404, "gone"));
        failing.insert(VideoUrl(id));
      }
    }
    service.SetPage(blog, 1, BlogPageMarkup(blog, posts));
  }
  std::vector<std::string> arguments{"--pages", "1", "--threads", "3"};
  arguments.insert(arguments.end(), blogs.begin(), blogs.end());
  const fs::path videos = program.VideoFolder();

  // What a folder may hold at any moment: whole videos, staged downloads
  // of a killed run, and a list of whole lines, each a failing address.
  const auto expectSound = [&](bool stagedAllowed) {
    for (const std::string& name : EntryNames(videos)) {
      if (name == kFailedList) continue;
      if (IsStagedName(name)) {
        EXPECT_TRUE(stagedAllowed) << name;
        continue;
      }
      const auto body = bodies.find(name);
      if (body == bodies.end()) {
        ADD_FAILURE() << "unexpected " << name;
      } else {
        EXPECT_TRUE(ReadWhole(videos / name) == body->second) << name << " is not whole";
      }
    }
    const std::vector<std::string> lines = WholeLines(ReadFile(videos / kFailedList));
    for (const std::string& line : lines) EXPECT_TRUE(failing.count(line)) << "mixed line: " << line;
    return lines.size();
  };
  const auto removeVideos = [&] {
    for (const std::string& name : EntryNames(videos)) {
      if (bodies.count(name)) fs::remove(videos / name);
    }
  };

  // One whole run first, which also tells how long a batch takes here.
  const auto started = std::chrono::steady_clock::now();
  ExpectFinished(program.Run(service.ConnectTo(), arguments));
  const auto batchTime =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
  EXPECT_EQ(EntryNames(videos).size(), bodies.size() + 1);
  EXPECT_EQ(expectSound(false), failing.size());

  const unsigned seed = std::random_device()();
  std::mt19937 random(seed);
  // Any moment from soon after the start (once the program is likely to be
  // loaded) to near the end of a batch; a run that ends before its moment
  // shows that batches have become quicker.
  const long earliest = batchTime.count() / 10;
  long latest = std::max<long>(earliest + 1, batchTime.count() * 9 / 10);
  int kills = 0;
  int killsMidDownload = 0;  // with a staged download left behind
  int attempts = 0;
  for (; kills < 20 && attempts < 60; ++attempts) {
    SCOPED_TRACE("seed " + std::to_string(seed) + ", attempt " + std::to_string(attempts));
    removeVideos();
    const pid_t pid = program.Start(service.ConnectTo(), arguments);
    std::this_thread::sleep_for(
        std::chrono::milliseconds(std::uniform_int_distribution<long>(earliest, latest)(random)));
    ::kill(pid, SIGKILL);
    const ChildEnd end = WaitForChild(pid);
    // A run that finished before the signal came is no kill; it must have
    // finished properly.
    if (end.signaled && end.signal == SIGKILL) {
      ++kills;
      const auto names = EntryNames(videos);
      killsMidDownload += std::any_of(names.begin(), names.end(), IsStagedName);
    } else {
      ExpectFinished(end);
      latest = std::max<long>(earliest + 1, latest * 4 / 5);
    }
    expectSound(true);
  }
  EXPECT_EQ(kills, 20);

  // The next whole run clears away what the killed ones left half-written.
  ExpectFinished(program.Run(service.ConnectTo(), arguments));
  EXPECT_EQ(EntryNames(videos).size(), bodies.size() + 1);
  const std::size_t lines = expectSound(false);
  EXPECT_GE(lines, 2 * failing.size());
  std::cout << "kills survived: " << kills << " of " << attempts << " runs, " << killsMidDownload
            << " of them in the middle of a download (seed " << seed << ", batch "
            << batchTime.count() << " ms); failed list: " << lines << " whole lines\n";
  RecordProperty("kills", kills);
  RecordProperty("failed_lines", static_cast<int>(lines));
}

TEST_F(HostileProgramTest, FileSizeLimitFailsOnlyTheVideosAboveIt) {
  // The limit stands for a full disk: a write past it fails with EFBIG (the
  // signal it would raise is ignored, as a shell with such a limit does).
  const std::string small = VideoBytes(100000, 's');
  service.SetPage("limit", 1,
                  BlogPageMarkup("limit", {{"1", "big", true, "lbig"}, {"2", "small", true, "lsmall"},
                                           {"3", "huge", true, "lhuge"}}));
  service.SetVideo("lbig", Answer(200, VideoBytes(1024 * 1024, 'b')));
  service.SetVideo("lsmall", Answer(200, small));
  service.SetVideo("lhuge", Paced(VideoBytes(4 * 1024 * 1024, 'h'), 1ms));

  const ChildEnd end = program.Run(service.ConnectTo(), {"--pages", "1", "limit"}, [] {
    const rlimit limit{300000, 300000};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::signal(SIGXFSZ, SIG_IGN);
  });

  ExpectFinished(end);
  const fs::path videos = program.VideoFolder();
  EXPECT_EQ(EntryNames(videos), (std::vector<std::string>{"small.mp4", kFailedList}));
  EXPECT_EQ(ReadFile(videos / "small.mp4"), small);
  EXPECT_EQ(Sorted(WholeLines(ReadFile(videos / kFailedList))),
            Sorted({VideoUrl("lbig"), VideoUrl("lhuge")}));
}

TEST_F(HostileProgramTest, ReadOnlyVideoFolder) {
  // Root writes anywhere, so when the tests run as root the program runs as
  // the unprivileged "nobody" instead. The list itself stays writable: the
  // failures are recorded, and no video is kept.
  const fs::path videos = program.VideoFolder();
  fs::create_directory(videos);
  WriteFile(videos / kFailedList, "");
  fs::permissions(program.Home(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                      fs::perms::others_read | fs::perms::others_exec);
  fs::permissions(videos / kFailedList, fs::perms::all & ~(fs::perms::owner_exec | fs::perms::group_exec |
                                                             fs::perms::others_exec));
  fs::permissions(videos, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                              fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  service.SetPage("locked", 1,
                  BlogPageMarkup("locked", {{"1", "good", true, "rgood"}, {"2", "small", true, "rsmall"}}));
  service.SetVideo("rgood", Answer(200, VideoBytes(20000)));
  service.SetVideo("rsmall", Answer(200, "tiny"));

  const bool root = ::geteuid() == 0;
  const auto becomeNobody = [root] {
    if (!root) return;
    const gid_t nobody = 65534;
    if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0) ::_exit(125);
  };
  if (root) {
    // Some containers give root no other user to become.
    const pid_t probe = ::fork();
    if (probe == 0) {
      becomeNobody();
      ::_exit(0);
    }
    const ChildEnd probed = WaitForChild(probe);
    if (!probed.exited || probed.exitStatus != 0) GTEST_SKIP() << "root cannot become another user here";
  }
  const ChildEnd end = program.Run(service.ConnectTo(), {"--pages", "1", "locked"}, becomeNobody);

  ExpectFinished(end);
  EXPECT_EQ(EntryNames(videos), std::vector<std::string>{kFailedList});
  EXPECT_EQ(Sorted(WholeLines(ReadFile(videos / kFailedList))), Sorted({VideoUrl("rgood"), VideoUrl("rsmall")}));
  fs::permissions(videos, fs::perms::owner_all, fs::perm_options::add);
}

TEST_F(HostileProgramTest, NamesFromThePageNeverLeaveTheFolder) {
  // Names that would lead out of the folder, that hold control characters
  // or that are too long are recorded as failures without a request; the
  // longest usable names, in one-byte and in Chinese characters, are kept.
  std::string longChinese, tooLongChinese;
  for (int i = 0; i < 83; ++i) longChinese += "长";  // 249 bytes in UTF-8, with ".mp4" 253
  tooLongChinese = longChinese + "长";                // 252, with ".mp4" 256
  const struct {
    std::string slug;
    bool kept;
  } names[] = {
      {"../escape", false},
      {"../../escape", false},
      {"a/b", false},
      {"back\\slash", false},
      {"..", false},
      {"bell\x07here", false},
      {"delete\x7fhere", false},
      {"return\rhere", false},
      {"escape\x1b[2J", false},
      {std::string(300, 'n'), false},
      {std::string(251, 'm'), true},
      {std::string(252, 'm'), false},
      {"猫的视频", true},
      {longChinese, true},
      {tooLongChinese, false},
      {"", true},  // the blog's name and the post id
  };
  std::vector<VideoPost> posts;
  std::map<std::string, std::string> kept;
  std::vector<std::string> failed;
  int number = 0;
  for (const auto& name : names) {
    ++number;
    const std::string id = "s" + std::to_string(number);
    posts.push_back({std::to_string(number), name.slug, true, id});
    const std::string body = VideoBytes(20000, static_cast<char>(number));
    service.SetVideo(id, Answer(200, body));
    if (name.kept) {
      kept[(name.slug.empty() ? "names_" + std::to_string(number) : name.slug) + ".mp4"] = body;
    } else {
      failed.push_back(VideoUrl(id));
    }
  }
  service.SetPage("names", 1, BlogPageMarkup("names", posts));

  ExpectFinished(program.Run(service.ConnectTo(), {"--pages", "1", "names"}));

  const fs::path videos = program.VideoFolder();
  std::vector<std::string> expected{kFailedList};
  for (const auto& [name, body] : kept) {
    expected.push_back(name);
    EXPECT_EQ(ReadFile(videos / name), body) << name;
  }
  EXPECT_EQ(EntryNames(videos), Sorted(expected));
  EXPECT_EQ(WholeLines(ReadFile(videos / kFailedList)), failed);
  // Nothing beside the folder, and only the kept videos were asked for.
  EXPECT_EQ(EntryNames(program.Home()), (std::vector<std::string>{"brelloc", "err.txt", "out.txt", "视频"}));
  EXPECT_EQ(service.PathsFor("vt.tumblr.com").size(), kept.size());
}

TEST_F(HostileProgramTest, PageThatMakesTheVideoPatternBacktrackStillEnds) {
  // Video articles with a notes container but no post link: from every
  // article the pattern tries every later container against the rest of
  // the page, so the work grows much faster than the page (unbounded, this
  // half megabyte takes hours). The batch must end all the same; a run
  // still going after half a minute is stopped here.
  std::string page;
  while (page.size() < 512 * 1024) {
    page += "<article class=\"video post-1\"><span class=\"notes-pop-container\">\n";
  }
  service.SetPage("backtrack", 1, page);

  const pid_t pid = program.Start(service.ConnectTo(), {"--pages", "1", "backtrack"});
  const std::optional<ChildEnd> end = testing_support::WaitForChildAtMost(pid, 30s);
  if (!end) {
    ::kill(pid, SIGKILL);
    WaitForChild(pid);
    FAIL() << "the batch is still searching the page after half a minute";
  }
  ExpectFinished(*end);
  EXPECT_TRUE(EntryNames(program.VideoFolder()).empty());
}

}  // namespace

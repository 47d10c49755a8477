#include "app/headless_front_end.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/batch_scheduler.h"
#include "pagetext/codepage936.h"

extern char** environ;

namespace {

using Calls = std::vector<std::pair<std::string, std::int32_t>>;

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

// Runs the front end in this process with a harvester that reports one
// video of each kind per call.
class HeadlessRun {
 public:
  Outcome Run(const std::vector<std::string>& arguments, const std::string& input = "",
              bool terminal = false) {
    std::istringstream in(input);
    std::ostringstream out;
    std::ostringstream err;
    int status = RunHeadless(ParseCommandLine(arguments), {in, out, err, terminal},
                             [this](const Text& blog, std::int32_t page, const VideoReporter& report) {
                               {
                                 std::lock_guard lock(mutex_);
                                 calls_.emplace_back(TextToUtf8(blog), page);
                               }
                               report({VideoOutcome::Saved, 20000, Text()});
                               report({VideoOutcome::Saved, 30000, Text()});
                               report({VideoOutcome::AlreadyOnDisk, 0, Text()});
                               report({VideoOutcome::Failed, 0, Text()});
                             });
    return {status, out.str(), err.str()};
  }
  Calls CallList() {
    std::lock_guard lock(mutex_);
    return calls_;
  }

 private:
  std::mutex mutex_;
  Calls calls_;
};

TEST(CommandLineTest, Parsing) {
  using Mode = CommandLine::Mode;
  struct Case {
    std::vector<std::string> arguments;
    Mode mode;
    std::string start, pages, threads;
    std::vector<std::string> blogs;
  } cases[] = {
      {{}, Mode::Window, "1", "5", "5", {}},
      {{"--help"}, Mode::Help, "1", "5", "5", {}},
      {{"-h"}, Mode::Help, "1", "5", "5", {}},
      {{"--headless", "--help"}, Mode::Help, "1", "5", "5", {}},
      {{"--version"}, Mode::Version, "1", "5", "5", {}},
      {{"--headless"}, Mode::Headless, "1", "5", "5", {}},
      {{"--headless", "--start", "3", "--pages", "abc", "--threads", "-2", "a", "b"},
       Mode::Headless, "3", "abc", "-2", {"a", "b"}},
      {{"a", "--start=0", "--headless", "--threads=", "甲"}, Mode::Headless, "0", "5", "", {"a", "甲"}},
      {{"--headless", "--", "--start", "-x"}, Mode::Headless, "1", "5", "5", {"--start", "-x"}},
      {{"--headless", ""}, Mode::Headless, "1", "5", "5", {""}},
      {{"--bogus"}, Mode::Invalid, "1", "5", "5", {}},
      {{"--headless", "-x"}, Mode::Invalid, "1", "5", "5", {}},
      {{"--headless", "--pages"}, Mode::Invalid, "1", "5", "5", {}},
      {{"blog"}, Mode::Invalid, "1", "5", "5", {}},
      {{"--start", "2"}, Mode::Invalid, "1", "5", "5", {}},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const std::string& a : c.arguments) joined += "[" + a + "]";
    SCOPED_TRACE(joined);
    CommandLine line = ParseCommandLine(c.arguments);
    EXPECT_EQ(line.mode, c.mode);
    if (c.mode == Mode::Invalid) {
      EXPECT_FALSE(line.problem.empty());
      continue;
    }
    EXPECT_EQ(line.startPage, c.start);
    EXPECT_EQ(line.pageCount, c.pages);
    EXPECT_EQ(line.threadCount, c.threads);
    EXPECT_EQ(line.blogs, c.blogs);
  }
}

TEST(HeadlessFrontEndTest, BatchFromArguments) {
  HeadlessRun run;
  Outcome outcome = run.Run({"--headless", "--start", "3", "--pages", "2", "--threads", "1", "a", "b"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.err,
            "Brelloc 第3页    1\nBrelloc 第3页    2\nBrelloc 第4页    1\nBrelloc 第4页    2\nBrelloc\n");
  EXPECT_EQ(outcome.out,
            "学术视频下载完成\nvideos saved: 8, already on disk: 4, failed: 4\n");
  const Calls calls = {{"a", 3}, {"b", 3}, {"a", 4}, {"b", 4}};
  EXPECT_EQ(run.CallList(), calls);
}

TEST(HeadlessFrontEndTest, BlogsFromStandardInputOnlyWithoutArguments) {
  struct Case {
    std::vector<std::string> blogArguments;
    std::string input;
    std::vector<std::string> blogs;
  } cases[] = {
      {{}, "a\n\nb\n", {"a", "", "b"}},
      {{}, "a\r\nb", {"a", "b"}},
      {{}, "\n", {""}},  // a lone line break is one empty blog, as in the box
      {{}, "a\n\n", {"a", ""}},
      {{}, "甲\n", {"甲"}},
      {{"x"}, "a\nb\n", {"x"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    std::vector<std::string> arguments = {"--headless", "--pages", "1", "--threads", "1"};
    arguments.insert(arguments.end(), c.blogArguments.begin(), c.blogArguments.end());
    HeadlessRun run;
    Outcome outcome = run.Run(arguments, c.input);
    EXPECT_EQ(outcome.status, 0);
    Calls calls;
    for (const std::string& blog : c.blogs) calls.emplace_back(blog, 1);
    EXPECT_EQ(run.CallList(), calls);
  }
}

TEST(HeadlessFrontEndTest, NoBlogsIsAnErrorOnStandardError) {
  HeadlessRun run;
  Outcome outcome = run.Run({"--headless"}, "");
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.err, "填入blog,以换行符隔开\n");
  EXPECT_EQ(outcome.out, "");
  EXPECT_TRUE(run.CallList().empty());
}

TEST(HeadlessFrontEndTest, NumberTextsSettleLikeTheBoxes) {
  HeadlessRun run;
  Outcome outcome =
      run.Run({"--headless", "--start", "abc", "--pages", "0", "--threads", "１", "a"});
  EXPECT_EQ(outcome.status, 0);
  Calls calls;
  for (int page = 1; page <= 5; ++page) calls.emplace_back("a", page);
  EXPECT_EQ(run.CallList(), calls);
}

TEST(HeadlessFrontEndTest, ProgressOnATerminalStaysOnOneLine) {
  HeadlessRun run;
  Outcome outcome = run.Run({"--headless", "--pages", "1", "--threads", "1", "a", "b"}, "", true);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.err,
            "\rBrelloc 第1页    1\x1b[K\rBrelloc 第1页    2\x1b[K\rBrelloc\x1b[K\n");
}

#ifdef BRELLOC_PROGRAM

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs the built program with `input` on its standard input and collects
// both output streams and the exit status.
class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "brelloc-program-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }

  Outcome Run(std::vector<std::string> arguments, const std::string& input = "") {
    std::ofstream(folder / "in", std::ios::binary) << input;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, (folder / "in").c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, (folder / "out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (folder / "err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    arguments.insert(arguments.begin(), BRELLOC_PROGRAM);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    int spawned = posix_spawn(&child, BRELLOC_PROGRAM, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return {-1, "", "cannot start " BRELLOC_PROGRAM};
    int status = 0;
    waitpid(child, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(folder / "out"),
            ReadAll(folder / "err")};
  }

  std::filesystem::path folder;
};

// These blog names make every page address point at a closed port on the
// loopback address, so that no request of the real harvester leaves the
// machine.
const std::string kBlogA = "127.0.0.1:1/a";
const std::string kBlogB = "127.0.0.1:1/b";

TEST_F(ProgramTest, HelpAndVersion) {
  Outcome help = Run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: brelloc", 0), 0u) << help.out;
  EXPECT_EQ(help.err, "");

  Outcome version = Run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "brelloc " BRELLOC_VERSION_TEXT "\n");
}

TEST_F(ProgramTest, BadCommandLines) {
  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{{"--bogus"}, {"blog"}, {"--headless", "--pages"}}) {
    Outcome outcome = Run(arguments);
    EXPECT_EQ(outcome.status, 64);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err.rfind("brelloc: ", 0), 0u) << outcome.err;
  }
}

TEST_F(ProgramTest, NoBlogs) {
  Outcome outcome = Run({"--headless"});
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err, "填入blog,以换行符隔开\n");
}

TEST_F(ProgramTest, BlogsFromArgumentsOrStandardInput) {
  const std::string progress =
      "Brelloc 第2页    1\nBrelloc 第2页    2\nBrelloc 第3页    1\nBrelloc 第3页    2\nBrelloc\n";
  const std::string result = "学术视频下载完成\nvideos saved: 0, already on disk: 0, failed: 0\n";

  Outcome fromArguments =
      Run({"--headless", "--start", "2", "--pages", "2", "--threads", "x", kBlogA, kBlogB});
  EXPECT_EQ(fromArguments.status, 0);
  EXPECT_EQ(fromArguments.err, progress);
  EXPECT_EQ(fromArguments.out, result);

  Outcome fromInput = Run({"--headless", "--start", "2", "--pages", "2"}, kBlogA + "\n" + kBlogB + "\n");
  EXPECT_EQ(fromInput.status, 0);
  EXPECT_EQ(fromInput.err, progress);
  EXPECT_EQ(fromInput.out, result);

  EXPECT_TRUE(std::filesystem::is_directory(
      std::filesystem::path(BRELLOC_PROGRAM).parent_path() / "视频"));
}

#endif  // BRELLOC_PROGRAM

}  // namespace

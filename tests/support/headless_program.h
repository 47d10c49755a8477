#pragma once

// The built program, copied into a temporary folder of its own (so that its
// video folder, "视频" beside it, is there too) and run headless in a child
// process pointed at a test server through BRELLOC_CONNECT_TO.

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "temp_folder.h"

namespace testing_support {

// How a child process ended.
struct ChildEnd {
  bool exited = false;
  int exitStatus = -1;
  bool signaled = false;
  int signal = 0;
  long peakRssKiB = 0;  // the child's largest resident set
};

inline ChildEnd WaitForChild(pid_t pid) {
  ChildEnd end;
  int status = 0;
  rusage usage{};
  if (::wait4(pid, &status, 0, &usage) != pid) return end;
  end.exited = WIFEXITED(status);
  end.exitStatus = end.exited ? WEXITSTATUS(status) : -1;
  end.signaled = WIFSIGNALED(status);
  end.signal = end.signaled ? WTERMSIG(status) : 0;
  end.peakRssKiB = usage.ru_maxrss;
  return end;
}

// Waits for the child to end, at most `limit`; nothing when it is still
// running then.
inline std::optional<ChildEnd> WaitForChildAtMost(pid_t pid, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    siginfo_t info{};
    // WNOWAIT leaves the child to be reaped, with its usage, below.
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return std::nullopt;
    if (info.si_pid == pid) break;
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return WaitForChild(pid);
}

class HeadlessProgram {
 public:
  // Runs in the child between fork and exec: limits, identities, signals.
  using ChildSetup = std::function<void()>;

  explicit HeadlessProgram(std::string programPath) {
    program_ = home_.Path() / "brelloc";
    std::filesystem::copy_file(programPath, program_);
  }

  const std::filesystem::path& Home() const { return home_.Path(); }
  std::filesystem::path VideoFolder() const { return home_.Path() / "视频"; }
  std::string Output() const { return ReadFile(home_.Path() / "out.txt"); }
  std::string Errors() const { return ReadFile(home_.Path() / "err.txt"); }

  // Starts `brelloc --headless <arguments>` with its output in files of the
  // home folder. Everything the child needs is prepared before the fork, so
  // that the child only calls what is safe there.
  pid_t Start(const std::string& connectTo, const std::vector<std::string>& arguments,
              const ChildSetup& setup = {}) const {
    std::vector<std::string> words{program_.string(), "--headless"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const std::string out = (home_.Path() / "out.txt").string();
    const std::string err = (home_.Path() / "err.txt").string();
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::setenv("BRELLOC_CONNECT_TO", connectTo.c_str(), 1);
      if (!std::freopen(out.c_str(), "w", stdout) || !std::freopen(err.c_str(), "w", stderr) ||
          !std::freopen("/dev/null", "r", stdin)) {
        ::_exit(126);
      }
      if (setup) setup();
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    return pid;
  }

  ChildEnd Run(const std::string& connectTo, const std::vector<std::string>& arguments,
               const ChildSetup& setup = {}) const {
    return WaitForChild(Start(connectTo, arguments, setup));
  }

 private:
  TempFolder home_;
  std::filesystem::path program_;
};

}  // namespace testing_support

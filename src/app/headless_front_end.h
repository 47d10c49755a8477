#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "engine/harvester.h"
#include "values/text.h"

// The command line:
//   brelloc                      opens the window
//   brelloc --headless [--start N] [--pages N] [--threads N] [BLOG ...]
//   brelloc --help | --version
struct CommandLine {
  enum class Mode { Window, Headless, Help, Version, Invalid };
  Mode mode = Mode::Window;
  // The texts the three number boxes would hold, as given (UTF-8); the batch
  // settles them exactly as it settles the boxes.
  std::string startPage = "1";
  std::string pageCount = "5";
  std::string threadCount = "5";
  std::vector<std::string> blogs;  // UTF-8; none means "read standard input"
  std::string problem;             // what is wrong, for Mode::Invalid
};

// `arguments` leaves out the program's name.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

std::string UsageText();
std::string VersionText();

// Exit statuses of the program.
inline constexpr int kExitDone = 0;
inline constexpr int kExitNoBlogs = 2;
inline constexpr int kExitUsage = 64;

// Harvests one blog's page and tells `report` about every video.
using ReportingHarvest =
    std::function<void(const Text& blog, std::int32_t page, const VideoReporter& report)>;

struct ConsoleStreams {
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
  bool errIsTerminal;  // progress rewrites one line in place instead of adding lines
};

// Runs one batch for a Mode::Headless command line, the blogs taken from it
// or, when it names none, one per line from `in`. Progress (each caption)
// goes to `err`; the final message goes to `out` with a summary line, or,
// when there is no blog, to `err`. Returns the exit status.
int RunHeadless(const CommandLine& commandLine, ConsoleStreams streams,
                const ReportingHarvest& harvest);

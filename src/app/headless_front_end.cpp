#include "app/headless_front_end.h"

#include <atomic>
#include <istream>
#include <map>
#include <ostream>
#include <string_view>

#include "engine/batch_scheduler.h"
#include "pagetext/codepage936.h"

#ifndef BRELLOC_VERSION
#define BRELLOC_VERSION "unknown"
#endif

namespace {

// Stands in for the window: keeps the control texts, prints each caption.
class ConsoleWindow : public BatchWindow {
 public:
  ConsoleWindow(std::map<BatchControl, Text> texts, std::ostream& progress, bool inPlace)
      : texts_(std::move(texts)), progress_(progress), inPlace_(inPlace) {}

  Text ControlText(BatchControl control) override { return texts_[control]; }
  void SetControlText(BatchControl control, const Text& text) override { texts_[control] = text; }
  void EnableControl(BatchControl, bool) override {}

  void SetCaption(const Text& caption) override {
    if (inPlace_) {
      // Back to the line's start, the caption, then clear what a longer
      // caption before it left behind.
      progress_ << '\r' << TextToUtf8(caption) << "\x1b[K" << std::flush;
      lineOpen_ = true;
    } else {
      progress_ << TextToUtf8(caption) << '\n' << std::flush;
    }
  }

  void ShowMessage(const Text& message, const Text&) override { messages_.push_back(message); }

  void EndProgress() {
    if (lineOpen_) progress_ << '\n' << std::flush;
    lineOpen_ = false;
  }
  const std::vector<Text>& Messages() const { return messages_; }

 private:
  std::map<BatchControl, Text> texts_;
  std::ostream& progress_;
  bool inPlace_;
  bool lineOpen_ = false;
  std::vector<Text> messages_;
};

struct VideoCounts {
  std::atomic<std::int64_t> saved{0};
  std::atomic<std::int64_t> alreadyOnDisk{0};
  std::atomic<std::int64_t> failed{0};

  void Count(const VideoReport& report) {
    switch (report.outcome) {
      case VideoOutcome::Saved: ++saved; break;
      case VideoOutcome::AlreadyOnDisk: ++alreadyOnDisk; break;
      case VideoOutcome::Failed: ++failed; break;
    }
  }
};

// The blog box's text: the lines joined by CR LF, as the box gives them.
std::string JoinLines(const std::vector<std::string>& lines) {
  std::string joined;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) joined += "\r\n";
    joined += lines[i];
  }
  return joined;
}

// Standard input as the blog box would hold it: every line break, LF or
// CR LF, becomes CR LF, so a lone line break is one empty blog, as in the
// box, and a final line break adds nothing.
std::string ReadBoxText(std::istream& in) {
  std::string text;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    text += line;
    if (!in.eof()) text += "\r\n";
  }
  return text;
}

bool TakesValue(std::string_view option) {
  return option == "--start" || option == "--pages" || option == "--threads";
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine result;
  bool headless = false;
  bool help = false;
  bool version = false;
  bool optionsEnded = false;
  bool batchArguments = false;

  auto invalid = [](std::string problem) {
    CommandLine bad;
    bad.mode = CommandLine::Mode::Invalid;
    bad.problem = std::move(problem);
    return bad;
  };

  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (optionsEnded || argument.empty() || argument[0] != '-') {
      result.blogs.push_back(argument);
      batchArguments = true;
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }
    if (argument == "--help" || argument == "-h") {
      help = true;
      continue;
    }
    if (argument == "--version") {
      version = true;
      continue;
    }
    if (argument == "--headless") {
      headless = true;
      continue;
    }

    std::string name = argument;
    std::string value;
    bool valueGiven = false;
    if (std::size_t equals = argument.find('='); equals != std::string::npos) {
      name = argument.substr(0, equals);
      value = argument.substr(equals + 1);
      valueGiven = true;
    }
    if (!TakesValue(name)) return invalid("unknown option " + argument);
    if (!valueGiven) {
      if (i + 1 >= arguments.size()) return invalid(name + " needs a value");
      value = arguments[++i];
    }
    if (name == "--start") result.startPage = value;
    if (name == "--pages") result.pageCount = value;
    if (name == "--threads") result.threadCount = value;
    batchArguments = true;
  }

  if (help) {
    result.mode = CommandLine::Mode::Help;
  } else if (version) {
    result.mode = CommandLine::Mode::Version;
  } else if (headless) {
    result.mode = CommandLine::Mode::Headless;
  } else if (batchArguments) {
    return invalid("blogs and page options need --headless");
  }
  return result;
}

std::string UsageText() {
  return "Usage: brelloc                 open the window\n"
         "       brelloc --headless [--start N] [--pages N] [--threads N] [BLOG ...]\n"
         "       brelloc --help | --version\n"
         "\n"
         "With --headless, no window is opened: from page N on, each BLOG's listing\n"
         "pages are harvested into the folder 视频 beside the program. Blogs come from\n"
         "the arguments or, when none is given, one per line from standard input.\n"
         "\n"
         "  --start N    first page (default 1)\n"
         "  --pages N    number of pages (default 5)\n"
         "  --threads N  blogs worked on at once (default 5)\n"
         "\n"
         "A value that is not a number of at least 1 means the default. Progress goes\n"
         "to standard error, the final message and a summary to standard output.\n"
         "Exit status: 0 batch finished, 2 no blog given, 64 bad command line.\n";
}

std::string VersionText() { return std::string("brelloc ") + BRELLOC_VERSION + "\n"; }

int RunHeadless(const CommandLine& commandLine, ConsoleStreams streams,
                const ReportingHarvest& harvest) {
  const std::string box =
      commandLine.blogs.empty() ? ReadBoxText(streams.in) : JoinLines(commandLine.blogs);

  ConsoleWindow window(
      {
          {BatchControl::BlogBox, TextFromUtf8(box)},
          {BatchControl::StartPageBox, TextFromUtf8(commandLine.startPage)},
          {BatchControl::PageCountBox, TextFromUtf8(commandLine.pageCount)},
          {BatchControl::ThreadCountBox, TextFromUtf8(commandLine.threadCount)},
      },
      streams.err, streams.errIsTerminal);

  VideoCounts counts;
  VideoReporter report = [&counts](const VideoReport& video) { counts.Count(video); };
  BatchSeams seams;
  seams.harvest = [&harvest, &report](const Text& blog, std::int32_t page) {
    if (harvest) harvest(blog, page, report);
  };
  RunBatch(window, seams);
  window.EndProgress();

  const bool noBlogs = BlogList.IsEmpty();
  std::ostream& messages = noBlogs ? streams.err : streams.out;
  for (const Text& message : window.Messages()) messages << TextToUtf8(message) << '\n';
  if (noBlogs) return kExitNoBlogs;

  streams.out << "videos saved: " << counts.saved.load()
              << ", already on disk: " << counts.alreadyOnDisk.load()
              << ", failed: " << counts.failed.load() << '\n'
              << std::flush;
  return kExitDone;
}

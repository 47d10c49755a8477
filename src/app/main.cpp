#include <unistd.h>

#include <QApplication>
#include <iostream>
#include <string>
#include <vector>

#include "app/folder_path.h"
#include "app/headless_front_end.h"
#include "app/main_window.h"
#include "engine/batch_scheduler.h"
#include "engine/harvester.h"

namespace {

int RunWindow(int argc, char** argv) {
  QApplication application(argc, argv);
  BatchSeams seams;
  seams.harvest = [](const Text& blog, std::int32_t page) { HarvestBlogPage(blog, page); };
  MainWindow window(std::move(seams));
  return RunUntilClosed(window);
}

int RunHeadlessProgram(const CommandLine& commandLine) {
  PrepareVideoFolder();
  return RunHeadless(commandLine, {std::cin, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1},
                     [](const Text& blog, std::int32_t page, const VideoReporter& report) {
                       HarvestBlogPage(blog, page, report);
                     });
}

}  // namespace

int main(int argc, char** argv) {
  const CommandLine commandLine = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  switch (commandLine.mode) {
    case CommandLine::Mode::Help:
      std::cout << UsageText();
      return kExitDone;
    case CommandLine::Mode::Version:
      std::cout << VersionText();
      return kExitDone;
    case CommandLine::Mode::Invalid:
      std::cerr << "brelloc: " << commandLine.problem << "\n\n" << UsageText();
      return kExitUsage;
    case CommandLine::Mode::Headless:
      return RunHeadlessProgram(commandLine);
    case CommandLine::Mode::Window:
      break;
  }
  return RunWindow(argc, argv);
}

// The time from starting the program to its window being on screen, on
// Qt's offscreen platform. The bench starts itself again as a child for
// every run, so each run pays for everything a real start pays for: exec,
// loading Qt and the other shared libraries, the platform plug-in, the
// fonts, the window's controls and its first paint.
//
//   window_start_bench [runs]
//
// A child (--child) opens the window and, once the window's first paint has
// been handled, writes two CLOCK_MONOTONIC readings to standard output: the
// entry to main() and that moment. The parent reads the clock just before
// it starts the child. Prints every run and the medians.

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "app/main_window.h"

extern char** environ;

namespace {

std::int64_t MonotonicNanoseconds() {
  timespec now {};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Notes the first paint of the window it watches; once that paint has been
// handled (and the picture flushed to the screen), reports and quits.
class FirstPaintWatch : public QObject {
 public:
  explicit FirstPaintWatch(std::int64_t mainEntry) : mainEntry_(mainEntry) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && !seen_) {
      seen_ = true;
      // Queued, so it runs after the paint event and its flush are done.
      QTimer::singleShot(0, this, [this] {
        std::printf("%lld %lld\n", static_cast<long long>(mainEntry_),
                    static_cast<long long>(MonotonicNanoseconds()));
        std::fflush(stdout);
        QApplication::quit();
      });
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  std::int64_t mainEntry_;
  bool seen_ = false;
};

int RunChild(int argc, char** argv, std::int64_t mainEntry) {
  QApplication application(argc, argv);
  FirstPaintWatch watch(mainEntry);
  MainWindow window{BatchSeams()};
  window.installEventFilter(&watch);
  window.show();
  return QApplication::exec();
}

// Owns the two ends of a pipe.
class Pipe {
 public:
  Pipe() {
    if (::pipe(ends_) != 0) ends_[0] = ends_[1] = -1;
  }
  ~Pipe() {
    CloseRead();
    CloseWrite();
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  bool ok() const { return ends_[0] >= 0; }
  int read() const { return ends_[0]; }
  int write() const { return ends_[1]; }
  void CloseRead() { Close(ends_[0]); }
  void CloseWrite() { Close(ends_[1]); }

 private:
  static void Close(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  int ends_[2];
};

struct Run {
  double startToShownMs = 0;
  double mainToShownMs = 0;
};

// Starts one child and reads its two clock readings; false when it did
// not report.
bool RunOnce(const char* self, Run& run) {
  Pipe pipe;
  if (!pipe.ok()) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe.write(), STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipe.read());
  char childFlag[] = "--child";
  char* childArguments[] = {const_cast<char*>(self), childFlag, nullptr};

  pid_t child = 0;
  const std::int64_t started = MonotonicNanoseconds();
  const int spawned = ::posix_spawn(&child, self, &actions, nullptr, childArguments, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return false;
  pipe.CloseWrite();

  std::string output;
  char buffer[256];
  for (;;) {
    const ssize_t got = ::read(pipe.read(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    output.append(buffer, static_cast<std::size_t>(got));
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }

  long long mainEntry = 0;
  long long shown = 0;
  if (std::sscanf(output.c_str(), "%lld %lld", &mainEntry, &shown) != 2) return false;
  run.startToShownMs = static_cast<double>(shown - started) / 1e6;
  run.mainToShownMs = static_cast<double>(shown - mainEntry) / 1e6;
  return true;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::int64_t mainEntry = MonotonicNanoseconds();
  if (argc > 1 && std::strcmp(argv[1], "--child") == 0) return RunChild(argc, argv, mainEntry);

  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
  // The window is drawn without a display; an explicit choice of platform
  // is left alone.
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);

  // The program's own path, so the child is exactly this binary.
  char self[4096];
  const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return 1;
  self[length] = '\0';

  std::vector<double> startToShown;
  std::vector<double> mainToShown;
  for (int i = 0; i < runs; ++i) {
    Run run;
    if (!RunOnce(self, run)) {
      std::fprintf(stderr, "window_start_bench: run %d did not report\n", i + 1);
      return 1;
    }
    std::printf("run %d: start to shown %.1f ms, main() to shown %.1f ms\n", i + 1, run.startToShownMs,
                run.mainToShownMs);
    startToShown.push_back(run.startToShownMs);
    mainToShown.push_back(run.mainToShownMs);
  }
  std::printf("median of %d: start to shown %.1f ms, main() to shown %.1f ms\n", runs, Median(startToShown),
              Median(mainToShown));
  return 0;
}

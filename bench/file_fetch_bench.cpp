// One large download through the file fetch, the way the harvester makes
// it: the body streamed into an open file. bench/run times curl on the same
// address in the same run and compares.
//
//   file_fetch_bench URL OUTPUT_FILE
//
// Prints one line: the seconds the fetch took, the bytes written, the final
// status, whether the body came whole (1 or 0), and the process's peak
// resident memory in KiB.

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "platform/file_fetch.h"
#include "values/text.h"

namespace {

// Owns an open file descriptor.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

long PeakResidentKiB() {
  struct rusage usage {};
  return ::getrusage(RUSAGE_SELF, &usage) == 0 ? usage.ru_maxrss : -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: file_fetch_bench URL OUTPUT_FILE\n");
    return 64;
  }
  Descriptor output(::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (output.get() < 0) {
    std::perror(argv[2]);
    return 1;
  }

  FileFetchOptions options;
  options.fd = output.get();
  const auto start = std::chrono::steady_clock::now();
  const FileFetchResult result = FetchFile(Text(argv[1]), options);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;

  std::printf("%.6f %llu %d %d %ld\n", took.count(), static_cast<unsigned long long>(result.bytesReceived),
              result.status, result.complete ? 1 : 0, PeakResidentKiB());
  return result.complete && result.status == 200 ? 0 : 1;
}

// The file side of a batch on its own, without network or pages: the CPU
// time to put COUNT videos of BYTES each into FOLDER the way the harvester
// does (a StagedFile: hidden temporary, write, Commit), and the plain way a
// download tool does (open, write, close). Gives the floor under the
// batch's CPU time that the file system sets on this machine.
//
//   file_floor_bench FOLDER [count bytes]
//
// Prints two lines, "staged" and "plain", each with user and system seconds.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/staged_file.h"
#include "values/text.h"

namespace {

double CpuSeconds() {
  struct rusage usage {};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool WriteAll(int fd, const std::string& bytes) {
  return ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 4) {
    std::fprintf(stderr, "usage: file_floor_bench FOLDER [count bytes]\n");
    return 64;
  }
  const std::string folder = argv[1];
  const int count = argc == 4 ? std::atoi(argv[2]) : 3000;
  const std::string body(argc == 4 ? static_cast<std::size_t>(std::atol(argv[3])) : 50000, 'v');
  const std::string staged = folder + "/staged";
  const std::string plain = folder + "/plain";
  if (::mkdir(staged.c_str(), 0755) != 0 || ::mkdir(plain.c_str(), 0755) != 0) {
    std::perror(folder.c_str());
    return 1;
  }

  // One of each in turn, so that both meet the file system in the same
  // state (it slows down after many recent deletions, for instance).
  double stagedSeconds = 0;
  double plainSeconds = 0;
  for (int i = 0; i < count; ++i) {
    const std::string name = "/video" + std::to_string(i) + ".mp4";
    double before = CpuSeconds();
    {
      StagedFile file{Text(staged.c_str())};
      if (!file.Valid() || !WriteAll(file.Descriptor(), body) ||
          file.Commit(Text((staged + name).c_str())) != StagedFile::CommitResult::Committed) {
        std::fprintf(stderr, "file_floor_bench: staged file %d failed\n", i);
        return 1;
      }
    }
    const double middle = CpuSeconds();
    stagedSeconds += middle - before;

    const int fd = ::open((plain + name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    const bool written = fd >= 0 && WriteAll(fd, body);
    if (fd >= 0) ::close(fd);
    if (!written) {
      std::fprintf(stderr, "file_floor_bench: plain file %d failed\n", i);
      return 1;
    }
    plainSeconds += CpuSeconds() - middle;
  }
  std::printf("staged %.3f s for %d files\n", stagedSeconds, count);
  std::printf("plain %.3f s for %d files\n", plainSeconds, count);
  return 0;
}

#include "platform/staged_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>

#include "pagetext/codepage936.h"

namespace {

constexpr std::string_view kPrefix = ".brelloc-";
constexpr std::string_view kSuffix = ".part";

// Moves `from` to `to` unless `to` already exists. renameat2 with
// RENAME_NOREPLACE does it in one step; file systems without it get a hard
// link, which fails the same way when the target is taken.
int MoveWithoutReplacing(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  if (::link(from.c_str(), to.c_str()) != 0) return errno;
  ::unlink(from.c_str());
  return 0;
}

}  // namespace

StagedFile::StagedFile(const Text& folder) {
  std::string pattern = TextToUtf8(folder);
  pattern += "/";
  pattern += kPrefix;
  pattern += "XXXXXX";
  pattern += kSuffix;
  fd_ = ::mkostemps(pattern.data(), static_cast<int>(kSuffix.size()), O_CLOEXEC);
  if (fd_ < 0) return;
  temporaryPath_ = std::move(pattern);
  // The lock goes with the descriptor: a killed program loses it at once.
  ::flock(fd_, LOCK_EX | LOCK_NB);
}

StagedFile::StagedFile(StagedFile&& other) noexcept
    : fd_(other.fd_), temporaryPath_(std::move(other.temporaryPath_)) {
  other.fd_ = -1;
  other.temporaryPath_.clear();
}

StagedFile::~StagedFile() { Discard(); }

void StagedFile::Discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temporaryPath_.empty()) ::unlink(temporaryPath_.c_str());
  temporaryPath_.clear();
}

StagedFile::CommitResult StagedFile::Commit(const Text& target) {
  if (fd_ < 0) return CommitResult::Failed;
  // The data must be on disk before the name says the file is finished,
  // or a power cut could leave a whole-looking name over missing bytes.
  const bool written = ::fdatasync(fd_) == 0;
  const bool closed = ::close(fd_) == 0;
  fd_ = -1;
  if (!written || !closed) {
    Discard();
    return CommitResult::Failed;
  }
  const int error = MoveWithoutReplacing(temporaryPath_, TextToUtf8(target));
  if (error == 0) {
    temporaryPath_.clear();
    return CommitResult::Committed;
  }
  Discard();
  return error == EEXIST ? CommitResult::TargetExists : CommitResult::Failed;
}

int RemoveAbandonedStagedFiles(const Text& folder) {
  const std::string native = TextToUtf8(folder);
  DIR* directory = ::opendir(native.c_str());
  if (directory == nullptr) return 0;
  int removed = 0;
  while (const dirent* entry = ::readdir(directory)) {
    const std::string_view name = entry->d_name;
    if (name.size() <= kPrefix.size() + kSuffix.size() || name.substr(0, kPrefix.size()) != kPrefix ||
        name.substr(name.size() - kSuffix.size()) != kSuffix) {
      continue;
    }
    const std::string path = native + "/" + std::string(name);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) continue;
    // Only a file nobody holds is abandoned.
    struct stat status {};
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        ::unlink(path.c_str()) == 0) {
      ++removed;
    }
    ::close(fd);
  }
  ::closedir(directory);
  return removed;
}

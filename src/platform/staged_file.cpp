#include "platform/staged_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include "pagetext/codepage936.h"

namespace {

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
  pattern += "/.brelloc-XXXXXX.part";
  fd_ = ::mkostemps(pattern.data(), 5, O_CLOEXEC);
  if (fd_ >= 0) temporaryPath_ = std::move(pattern);
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

#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>

#include "pagetext/codepage936.h"

namespace {

// Owns one open file descriptor.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      Close();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { Close(); }

  int Get() const { return fd_; }
  bool IsOpen() const { return fd_ >= 0; }
  // Hands the descriptor over to a new owner (fdopendir takes it).
  int Release() { return std::exchange(fd_, -1); }

 private:
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int fd_;
};

// Owns one directory stream (and with it the descriptor it was opened on).
class DirectoryStream {
 public:
  explicit DirectoryStream(DIR* dir) : dir_(dir) {}
  DirectoryStream(DirectoryStream&& other) noexcept : dir_(std::exchange(other.dir_, nullptr)) {}
  DirectoryStream& operator=(DirectoryStream&&) = delete;
  DirectoryStream(const DirectoryStream&) = delete;
  DirectoryStream& operator=(const DirectoryStream&) = delete;
  ~DirectoryStream() {
    if (dir_ != nullptr) ::closedir(dir_);
  }

  DIR* Get() const { return dir_; }

 private:
  DIR* dir_;
};

bool IsRoot(const std::string& path) {
  return !path.empty() && path.find_first_not_of('/') == std::string::npos;
}

bool IsBlank(const std::string& path) { return path.find_first_not_of(' ') == std::string::npos; }

// Empties the folder open at `folder`, depth first. Every entry is opened
// relative to its parent's descriptor with O_NOFOLLOW, so a link swapped in
// for a folder while we work is removed as a link, not walked into.
bool EmptyFolder(FileDescriptor folder) {
  int fd = folder.Get();
  DIR* raw = ::fdopendir(fd);
  if (raw == nullptr) return false;
  folder.Release();
  DirectoryStream stream(raw);

  bool emptied = true;
  while (dirent* entry = ::readdir(stream.Get())) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat info {};
    if (::fstatat(fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      emptied = false;
      continue;
    }
    if (S_ISDIR(info.st_mode)) {
      FileDescriptor child(
          ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!child.IsOpen() || !EmptyFolder(std::move(child)) ||
          ::unlinkat(fd, name.c_str(), AT_REMOVEDIR) != 0) {
        emptied = false;
      }
    } else if (::unlinkat(fd, name.c_str(), 0) != 0) {
      emptied = false;
    }
  }
  return emptied;
}

}  // namespace

bool PathExists(const Text& path) {
  struct stat info {};
  return ::lstat(TextToUtf8(path).c_str(), &info) == 0;
}

bool IsFolder(const Text& path) {
  std::string native = TextToUtf8(path);
  if (native.empty() || native.back() == '/') return false;
  struct stat info {};
  return ::stat(native.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool CreateOneFolder(const Text& path) {
  return ::mkdir(TextToUtf8(path).c_str(), 0777) == 0;
}

bool DeleteFolderTree(const Text& path) {
  std::string native = TextToUtf8(path);
  if (IsBlank(native) || IsRoot(native)) return false;
  // A trailing "/" would make the system follow a link at the last level.
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  if (IsRoot(native)) return false;

  FileDescriptor folder(::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!folder.IsOpen()) return false;
  if (!EmptyFolder(std::move(folder))) return false;
  return ::rmdir(native.c_str()) == 0;
}

std::int64_t FileSize(const Text& path) {
  struct stat info {};
  if (::stat(TextToUtf8(path).c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return -1;
  return static_cast<std::int64_t>(info.st_size);
}

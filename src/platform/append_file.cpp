#include "platform/append_file.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "pagetext/codepage936.h"

bool AppendToFile(const Text& path, std::string_view bytes) {
  const std::string native = TextToUtf8(path);
  // O_NONBLOCK changes nothing for a regular file, but makes a named pipe
  // that nobody reads fail at once instead of holding the caller (and any
  // lock it holds) for ever.
  const int fd = ::open(native.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd < 0) return false;
  std::size_t done = 0;
  off_t start = -1;  // where the first piece landed
  bool ok = true;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    if (done == 0) {
      const off_t end = ::lseek(fd, 0, SEEK_CUR);
      start = end < 0 ? -1 : end - static_cast<off_t>(n);
    }
    done += static_cast<std::size_t>(n);
  }
  // A full disk or a file size limit can let only the first part of the
  // bytes in. That part is taken back: left there, it would have the next
  // append joined to it.
  if (!ok && done > 0 && start >= 0) ::ftruncate(fd, start);
  return ::close(fd) == 0 && ok;
}

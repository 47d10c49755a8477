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
  bool ok = true;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  return ::close(fd) == 0 && ok;
}

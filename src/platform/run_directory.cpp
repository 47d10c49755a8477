#include "platform/run_directory.h"

#include <unistd.h>

#include <mutex>
#include <string>
#include <utility>

#include "pagetext/codepage936.h"

namespace {

std::mutex overrideMutex;
std::optional<Text> overridden;

Text ReadRunDirectory() {
  std::string target(4096, '\0');
  for (;;) {
    ssize_t length = ::readlink("/proc/self/exe", target.data(), target.size());
    if (length < 0) return Text();
    if (static_cast<std::size_t>(length) < target.size()) {
      target.resize(static_cast<std::size_t>(length));
      break;
    }
    target.resize(target.size() * 2);
  }
  std::size_t slash = target.rfind('/');
  if (slash == std::string::npos) return Text();
  return TextFromUtf8(std::string_view(target).substr(0, slash));
}

}  // namespace

Text RunDirectory() {
  {
    std::lock_guard lock(overrideMutex);
    if (overridden) return *overridden;
  }
  static const Text recorded = ReadRunDirectory();
  return recorded;
}

Text VideoFolder() {
  static const Text kFolderName = TextFromUtf8("/视频");
  return RunDirectory() + kFolderName;
}

void OverrideRunDirectory(std::optional<Text> directory) {
  std::lock_guard lock(overrideMutex);
  overridden = std::move(directory);
}

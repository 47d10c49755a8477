#include "engine/video_file_name.h"

#include <algorithm>

#include "pagetext/codepage936.h"

namespace {
constexpr std::size_t kLongestFileName = 255;
constexpr std::size_t kExtensionLength = 4;  // ".mp4"
}  // namespace

bool IsUsableVideoFileName(const Text& name) {
  if (name.IsEmpty()) return false;
  // The checks run on the name as the file system will see it.
  const std::string native = TextToUtf8(name);
  if (TextFromUtf8(native) != name) return false;
  if (native == "." || native == "..") return false;
  if (native.size() + kExtensionLength > kLongestFileName) return false;
  return std::none_of(native.begin(), native.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte == '/' || byte == '\\' || byte < 0x20 || byte == 0x7F;
  });
}

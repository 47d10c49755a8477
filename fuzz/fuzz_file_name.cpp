// The file-name safety rule over any name: whatever it accepts stays inside
// the video folder and fits the file system.
#include <cstdint>
#include <string>

#include "engine/video_file_name.h"
#include "fuzz_input.h"
#include "pagetext/codepage936.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Text name(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!IsUsableVideoFileName(name)) return 0;

  const std::string native = TextToUtf8(name);
  FUZZ_CHECK(!native.empty());
  FUZZ_CHECK(native != "." && native != "..");
  FUZZ_CHECK(native.size() <= 251);  // with ".mp4", the longest name the file system takes
  for (char c : native) {
    const auto byte = static_cast<unsigned char>(c);
    FUZZ_CHECK(byte != '/' && byte != '\\' && byte >= 0x20 && byte != 0x7F);
  }
  FUZZ_CHECK(TextFromUtf8(native) == name);
  return 0;
}

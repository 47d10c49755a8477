#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

// Cuts a fuzzer's input into a few leading option bytes and NUL-separated
// pieces. A Text never holds a NUL, so the pieces are exactly the texts the
// routines under test can be given.
class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size)
      : rest_(reinterpret_cast<const char*>(data), size) {}

  // 0 once the input is used up, so that short inputs still run.
  std::uint8_t Byte() {
    if (rest_.empty()) return 0;
    const auto byte = static_cast<std::uint8_t>(rest_.front());
    rest_.remove_prefix(1);
    return byte;
  }
  std::int16_t Short() {
    const unsigned low = Byte();
    const unsigned high = Byte();
    return static_cast<std::int16_t>(low | high << 8);
  }
  // Up to the next NUL (or the end), which is consumed.
  std::string_view Piece() {
    const std::size_t cut = rest_.find('\0');
    const std::string_view piece = rest_.substr(0, cut);
    rest_.remove_prefix(cut == std::string_view::npos ? rest_.size() : cut + 1);
    return piece;
  }
  std::string_view Rest() const { return rest_; }

 private:
  std::string_view rest_;
};

// An invariant that does not hold is a finding: say which and stop, so that
// libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                               \
  do {                                                                                      \
    if (!(condition)) {                                                                     \
      std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                         \
    }                                                                                       \
  } while (false)

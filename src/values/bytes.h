#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// A counted block of any bytes, NUL included: response bodies, file contents,
// UTF-16 data. Kept apart from Text so that a body is never taken for a text
// without the conversion that cuts it at its first NUL.
class Bytes {
 public:
  Bytes() = default;
  explicit Bytes(std::string data) : data_(std::move(data)) {}
  explicit Bytes(std::string_view data) : data_(data) {}

  const std::string& Data() const { return data_; }
  std::string& MutableData() { return data_; }
  std::string_view View() const { return data_; }
  std::size_t Length() const { return data_.size(); }
  bool IsEmpty() const { return data_.empty(); }

  Bytes& operator+=(const Bytes& tail) {
    data_ += tail.data_;
    return *this;
  }
  friend Bytes operator+(Bytes head, const Bytes& tail) { return head += tail; }
  friend bool operator==(const Bytes&, const Bytes&) = default;

 private:
  std::string data_;
};

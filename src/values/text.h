#pragma once

#include <compare>
#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>

// A text in code page 936: ASCII is one byte, a double-byte character two
// bytes with the first at 0x80 or above. A text never holds a NUL byte; the
// bytes of a constructor's argument stop at the first one. Lengths and
// positions count bytes.
//
// Text is its own type so that a UTF-8 std::string (a path on Linux, a Qt
// string's bytes) cannot be handed over where a code page 936 text belongs
// without a conversion that says so.
class Text {
 public:
  Text() = default;
  explicit Text(std::string_view bytes) : bytes_(UpToNul(bytes)) {}
  explicit Text(const char* bytes) : Text(std::string_view(bytes)) {}
  explicit Text(std::string&& bytes);

  const std::string& Bytes() const { return bytes_; }
  std::string_view View() const { return bytes_; }
  std::size_t Length() const { return bytes_.size(); }
  bool IsEmpty() const { return bytes_.empty(); }

  Text& operator+=(const Text& tail) {
    bytes_ += tail.bytes_;
    return *this;
  }
  friend Text operator+(Text head, const Text& tail) { return head += tail; }

  friend bool operator==(const Text&, const Text&) = default;
  // Byte-wise over unsigned bytes, as std::string compares char_traits<char>.
  friend std::strong_ordering operator<=>(const Text& a, const Text& b) {
    return a.bytes_.compare(b.bytes_) <=> 0;
  }

 private:
  static std::string_view UpToNul(std::string_view bytes) {
    return bytes.substr(0, bytes.find('\0'));
  }
  std::string bytes_;
};

// Test frameworks print a text as its bytes, escaping what is not printable ASCII.
inline std::ostream& operator<<(std::ostream& out, const Text& text) {
  out << '"';
  for (unsigned char c : text.View()) {
    if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"') {
      out << static_cast<char>(c);
    } else {
      static const char kHex[] = "0123456789ABCDEF";
      out << "\\x" << kHex[c >> 4] << kHex[c & 15];
    }
  }
  return out << '"';
}

#include "platform/connect_to.h"

#include <cstdlib>

namespace connect_to {

std::string EntryFor(std::string_view value) {
  const std::size_t colon = value.rfind(':');
  if (colon == std::string_view::npos || colon == 0) return {};
  const std::string_view host = value.substr(0, colon);
  const std::string_view port = value.substr(colon + 1);
  if (port.empty() || port.size() > 5) return {};
  long number = 0;
  for (char c : port) {
    if (c < '0' || c > '9') return {};
    number = number * 10 + (c - '0');
  }
  if (number < 1 || number > 65535) return {};
  // A bare IPv6 address would be cut at the wrong colon by libcurl.
  const bool bracketed = host.front() == '[' && host.back() == ']';
  if (!bracketed && host.find(':') != std::string_view::npos) return {};
  for (char c : host) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') return {};
  }
  return "::" + std::string(value);
}

std::string EntryFromEnvironment() {
  const char* value = std::getenv(kVariable);
  return value == nullptr ? std::string() : EntryFor(value);
}

}  // namespace connect_to

#pragma once

#include <string>
#include <string_view>

// The routing hook for tests and offline demos: when BRELLOC_CONNECT_TO holds
// HOST:PORT, every connection the program opens (pages, videos, redirect
// hops) goes to that address, while URLs, Host headers and TLS names stay
// what they are.
namespace connect_to {

inline constexpr const char* kVariable = "BRELLOC_CONNECT_TO";

// The libcurl connect-to entry ("::HOST:PORT", any host and port to
// HOST:PORT) for a HOST:PORT value; empty when the value is empty or not of
// that form (a port of 1 to 65535 is required; an IPv6 host goes in
// brackets).
std::string EntryFor(std::string_view value);

// EntryFor of the variable as it is now. Read per request, so a test can set
// it before the requests it routes.
std::string EntryFromEnvironment();

}  // namespace connect_to

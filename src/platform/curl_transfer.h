#pragma once

// The transfer loop shared by the request object and the file fetch: one
// request over a libcurl easy handle, with redirects followed here rather
// than by libcurl (at most 10, HTTP to HTTPS but never back, http and https
// only), idle limits instead of whole-transfer limits, and the final
// response's header block collected the way the request object reports it.
// Internal to src/platform.

#include <curl/curl.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace curl_transfer {

inline constexpr int kMaxRedirects = 10;

// Header names and URL schemes compare without regard to ASCII case.
inline bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}
// A header block above this size (one response, interim ones included) is
// refused like a transport failure rather than held in memory.
inline constexpr std::size_t kMaxHeaderBytes = 64 * 1024;

// Milliseconds; 0 or less waits for ever. The send and receive limits are
// idle limits: they run from the last byte that moved, not from the start.
struct Limits {
  int connectMs = 60000;
  int sendIdleMs = 30000;
  int receiveIdleMs = 30000;
};

struct Credentials {
  std::string user;
  std::string password;
};

struct Request {
  std::string method = "GET";
  std::string url;
  // Header lines exactly as they go on the wire, in order ("Name: value",
  // or "Name;" for a header with an empty value).
  std::vector<std::string> headers;
  // The request body; none sends no body (and no Content-Length).
  std::optional<std::string_view> body;
  bool http10 = false;
  bool followRedirects = true;
  // A libcurl proxy address ("http://host:port"); empty goes direct,
  // whatever the environment's proxy variables say.
  std::string proxy;
  std::optional<Credentials> proxyCredentials;
  std::optional<Credentials> serverCredentials;
  // Whether the certificate chain and the host name are checked on HTTPS.
  bool verifyPeer = true;
  bool verifyHost = true;
  Limits limits;
  long receiveBufferBytes = 0;    // 0: libcurl's own size
  std::uint64_t maxBodyBytes = 0;  // 0: no cap
};

// Receives the final response's body piece by piece; returning false stops
// the transfer (it then counts as broken off).
using BodySink = std::function<bool(std::string_view)>;

enum class Outcome {
  kComplete,   // the final response arrived whole
  kBrokenOff,  // the final response began but did not arrive whole
  kFailed,     // no usable response at all
};

struct Result {
  Outcome outcome = Outcome::kFailed;
  int status = 0;           // the final response's status; 0 without one
  std::string headerBlock;  // its header lines, each ending in CR LF, then CR LF
};

// Runs the request on `handle`, which keeps its connections between calls.
// The handle's options are reset first, so nothing leaks from one request
// into the next.
Result Perform(CURL* handle, const Request& request, const BodySink& sink);

// What to do with a redirect from `from` to `to` after `hopsSoFar` hops.
enum class RedirectStep { kFollow, kStop, kFail };
RedirectStep DecideRedirect(std::string_view from, std::string_view to, int hopsSoFar);

// The proxy address libcurl takes for a proxy server as the request object
// names it: "host", "host:port", "http://host:port", or a list of those
// separated by ";" or spaces, each optionally "scheme=host:port". The first
// entry counts, with port 80 when it names none (libcurl's own default would
// be 1080). Empty when there is no entry.
std::string ProxyUrl(std::string_view server);

}  // namespace curl_transfer

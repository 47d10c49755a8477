#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string_view>

#include "values/bytes.h"
#include "values/text.h"

// The HTTP file fetch: a direct, uncached HTTP/1.0 GET of one address, as a
// browser of old would download a file. It goes straight to the server
// whatever the environment's proxy variables say, sends only the User-Agent
// kFileFetchUserAgent and "Accept: */*", follows redirects like the request
// object (at most 10, HTTP to HTTPS but never back, http and https only) and
// hands back the body whatever the status.

inline constexpr const char* kFileFetchUserAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

struct FileFetchOptions {
  // Where the body goes. With a sink, piece by piece to it (returning false
  // stops the fetch, which then counts as broken off); otherwise with a
  // descriptor of 0 or more, written to that open file at its current
  // offset; otherwise into FileFetchResult::body.
  std::function<bool(std::string_view)> sink;
  int fd = -1;
  // A transfer during which no byte moves for this long is abandoned as
  // broken off.
  std::chrono::milliseconds stallLimit{60000};
  // Name resolution and connection together.
  std::chrono::milliseconds connectLimit{60000};
};

struct FileFetchResult {
  // The body when it goes into memory: all of it, or what arrived before the
  // transfer broke off. Empty for an empty or unparsable address, or when no
  // connection or response came about.
  Bytes body;
  // The final response's status; 0 when there was none.
  int status = 0;
  // Every announced byte arrived and the connection ended without an error.
  bool complete = false;
  // Body bytes handed on, in every mode.
  std::uint64_t bytesReceived = 0;
};

// Safe to call from several threads at once: each call has its own handle.
FileFetchResult FetchFile(const Text& url, const FileFetchOptions& options = {});

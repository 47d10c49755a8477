#include "platform/curl_transfer.h"

#include <algorithm>
#include <chrono>
#include <climits>

#include "platform/connect_to.h"
#include "platform/curl_handles.h"

namespace curl_transfer {
namespace {

using Clock = std::chrono::steady_clock;

// libcurl's 0 means its own 300 seconds, so "for ever" is the largest value
// it takes (about 24 days).
constexpr long kForeverMs = INT_MAX;
// What a redirect response's body may take while we wait to see whether it
// is followed (it is dropped when it is).
constexpr std::uint64_t kMaxHeldBodyBytes = 64ull * 1024 * 1024;

std::string_view Scheme(std::string_view url) {
  const std::size_t end = url.find("://");
  return end == std::string_view::npos ? std::string_view() : url.substr(0, end);
}

bool IsRedirectStatus(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// "HTTP/1.1 200 OK" -> 200; 0 when the line has no three-digit code.
int ParseStatus(std::string_view line) {
  const std::size_t space = line.find(' ');
  if (space == std::string_view::npos || line.size() < space + 4) return 0;
  int status = 0;
  for (std::size_t i = space + 1; i < space + 4; ++i) {
    if (line[i] < '0' || line[i] > '9') return 0;
    status = status * 10 + (line[i] - '0');
  }
  return status;
}

std::string_view HeaderNameOf(std::string_view line) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return {};
  std::string_view name = line.substr(0, colon);
  while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
  return name;
}

bool RequestNamesHeader(const Request& request, std::string_view name) {
  for (const std::string& line : request.headers) {
    const std::size_t end = line.find_first_of(":;");
    if (end != std::string::npos && EqualsIgnoringCase(std::string_view(line).substr(0, end), name)) {
      return true;
    }
  }
  return false;
}

// State of one hop (one request and its response).
struct Hop {
  const Request* request = nullptr;
  const BodySink* sink = nullptr;
  std::uint64_t uploadSize = 0;

  // The response being read. Interim (1xx) blocks are replaced by the next
  // status line; trailers behind a final block are ignored.
  bool atBlockStart = true;
  bool finalHeadersDone = false;
  int status = 0;
  bool sawLocation = false;
  std::string headerBlock;
  std::size_t headerBytes = 0;
  bool headersTooLarge = false;

  // A body that may belong to a redirect is held back until we know whether
  // the redirect is followed.
  bool bodyRouteDecided = false;
  bool holdBody = false;
  std::string heldBody;
  std::uint64_t bodyBytes = 0;
  bool capExceeded = false;
  bool sinkRefused = false;

  bool connected = false;
  Clock::time_point lastActivity = Clock::now();
  curl_off_t lastDown = -1;
  curl_off_t lastUp = -1;
  bool idleExpired = false;

  bool LooksLikeRedirect() const {
    return request->followRedirects && IsRedirectStatus(status) && sawLocation;
  }
};

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  Hop& hop = *static_cast<Hop*>(user);
  const size_t length = size * count;
  hop.lastActivity = Clock::now();
  hop.headerBytes += length;
  if (hop.headerBytes > kMaxHeaderBytes) {
    hop.headersTooLarge = true;
    return 0;
  }
  if (hop.finalHeadersDone) return length;

  std::string_view line(data, length);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);

  if (hop.atBlockStart && line.substr(0, 5) == "HTTP/") {
    hop.headerBlock.clear();
    hop.status = ParseStatus(line);
    hop.sawLocation = false;
    hop.atBlockStart = false;
    return length;
  }
  if (line.empty()) {
    hop.headerBlock += "\r\n";
    hop.atBlockStart = true;
    if (hop.status >= 200) hop.finalHeadersDone = true;
    return length;
  }
  hop.atBlockStart = false;
  hop.headerBlock.append(line);
  hop.headerBlock += "\r\n";
  if (EqualsIgnoringCase(HeaderNameOf(line), "location")) hop.sawLocation = true;
  return length;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  Hop& hop = *static_cast<Hop*>(user);
  const size_t length = size * count;
  hop.lastActivity = Clock::now();
  if (!hop.bodyRouteDecided) {
    hop.holdBody = hop.LooksLikeRedirect();
    hop.bodyRouteDecided = true;
  }
  hop.bodyBytes += length;
  const std::uint64_t cap = hop.holdBody ? (hop.request->maxBodyBytes != 0
                                                ? std::min(hop.request->maxBodyBytes, kMaxHeldBodyBytes)
                                                : kMaxHeldBodyBytes)
                                         : hop.request->maxBodyBytes;
  if (cap != 0 && hop.bodyBytes > cap) {
    hop.capExceeded = true;
    return 0;
  }
  if (hop.holdBody) {
    hop.heldBody.append(data, length);
    return length;
  }
  if (length != 0 && !(*hop.sink)(std::string_view(data, length))) {
    hop.sinkRefused = true;
    return 0;
  }
  return length;
}

int OnProgress(void* user, curl_off_t /*downTotal*/, curl_off_t downNow, curl_off_t /*upTotal*/,
               curl_off_t upNow) {
  Hop& hop = *static_cast<Hop*>(user);
  // Until the connection stands, the connect limit is the one that counts.
  if (!hop.connected) return 0;
  const Clock::time_point now = Clock::now();
  if (downNow != hop.lastDown || upNow != hop.lastUp) {
    hop.lastDown = downNow;
    hop.lastUp = upNow;
    hop.lastActivity = now;
    return 0;
  }
  const bool sending = upNow >= 0 && static_cast<std::uint64_t>(upNow) < hop.uploadSize;
  const int limitMs = sending ? hop.request->limits.sendIdleMs : hop.request->limits.receiveIdleMs;
  if (limitMs > 0 && now - hop.lastActivity >= std::chrono::milliseconds(limitMs)) {
    hop.idleExpired = true;
    return 1;
  }
  return 0;
}

int OnConnected(void* user, char* /*remoteIp*/, char* /*localIp*/, int /*remotePort*/,
                int /*localPort*/) {
  Hop& hop = *static_cast<Hop*>(user);
  hop.connected = true;
  hop.lastActivity = Clock::now();
  return CURL_PREREQFUNC_OK;
}

// Sets every option of one hop; false when libcurl refuses one that matters.
bool Configure(CURL* handle, const Request& request, const std::string& url,
               const std::string& method, std::optional<std::string_view> body, Hop& hop,
               const curl_handles::HeaderList& headers, const curl_handles::HeaderList& connectTo) {
  curl_easy_reset(handle);
  bool ok = true;
  auto set = [&](CURLoption option, auto value) {
    if (curl_easy_setopt(handle, option, value) != CURLE_OK) ok = false;
  };
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_URL, url.c_str());
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  set(CURLOPT_FOLLOWLOCATION, 0L);
  set(CURLOPT_HTTP_VERSION, request.http10 ? long{CURL_HTTP_VERSION_1_0} : long{CURL_HTTP_VERSION_1_1});
  set(CURLOPT_PROXY, request.proxy.c_str());
  if (!request.proxy.empty()) {
    set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    if (request.proxyCredentials) {
      set(CURLOPT_PROXYUSERNAME, request.proxyCredentials->user.c_str());
      set(CURLOPT_PROXYPASSWORD, request.proxyCredentials->password.c_str());
    }
  }
  if (request.serverCredentials) {
    set(CURLOPT_USERNAME, request.serverCredentials->user.c_str());
    set(CURLOPT_PASSWORD, request.serverCredentials->password.c_str());
  }
  if (!request.verifyPeer) set(CURLOPT_SSL_VERIFYPEER, 0L);
  if (!request.verifyHost) set(CURLOPT_SSL_VERIFYHOST, 0L);
  set(CURLOPT_CONNECTTIMEOUT_MS, request.limits.connectMs > 0 ? long{request.limits.connectMs} : kForeverMs);
  set(CURLOPT_HTTPHEADER, headers.Get());
  if (connectTo.Get() != nullptr) set(CURLOPT_CONNECT_TO, connectTo.Get());
  if (request.receiveBufferBytes > 0) set(CURLOPT_BUFFERSIZE, request.receiveBufferBytes);

  if (method == "HEAD") {
    set(CURLOPT_NOBODY, 1L);
  } else if (!body) {
    set(CURLOPT_HTTPGET, 1L);
    if (method != "GET") set(CURLOPT_CUSTOMREQUEST, method.c_str());
  } else {
    set(CURLOPT_POST, 1L);
    set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body->size()));
    set(CURLOPT_POSTFIELDS, body->data());
    if (method != "POST") set(CURLOPT_CUSTOMREQUEST, method.c_str());
  }

  set(CURLOPT_HEADERFUNCTION, &OnHeader);
  set(CURLOPT_HEADERDATA, static_cast<void*>(&hop));
  set(CURLOPT_WRITEFUNCTION, &OnBody);
  set(CURLOPT_WRITEDATA, static_cast<void*>(&hop));
  set(CURLOPT_NOPROGRESS, 0L);
  set(CURLOPT_XFERINFOFUNCTION, &OnProgress);
  set(CURLOPT_XFERINFODATA, static_cast<void*>(&hop));
  set(CURLOPT_PREREQFUNCTION, &OnConnected);
  set(CURLOPT_PREREQDATA, static_cast<void*>(&hop));
  return ok;
}

}  // namespace

std::string ProxyUrl(std::string_view server) {
  const std::size_t start = server.find_first_not_of("; ");
  if (start == std::string_view::npos) return {};
  server.remove_prefix(start);
  server = server.substr(0, server.find_first_of("; "));
  const std::size_t equals = server.find('=');
  if (equals != std::string_view::npos) server.remove_prefix(equals + 1);
  const std::size_t scheme = server.find("://");
  if (scheme != std::string_view::npos) server.remove_prefix(scheme + 3);
  while (!server.empty() && server.back() == '/') server.remove_suffix(1);
  if (server.empty()) return {};
  const std::size_t colon = server.rfind(':');
  const std::size_t bracket = server.rfind(']');
  const bool hasPort =
      colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket);
  return "http://" + std::string(server) + (hasPort ? "" : ":80");
}

RedirectStep DecideRedirect(std::string_view from, std::string_view to, int hopsSoFar) {
  const std::string_view target = Scheme(to);
  const bool toHttp = EqualsIgnoringCase(target, "http");
  if (!toHttp && !EqualsIgnoringCase(target, "https")) return RedirectStep::kFail;
  // Going from an encrypted page to a plain one is not followed: the
  // redirect response itself is what the caller gets.
  if (toHttp && EqualsIgnoringCase(Scheme(from), "https")) return RedirectStep::kStop;
  if (hopsSoFar >= kMaxRedirects) return RedirectStep::kFail;
  return RedirectStep::kFollow;
}

Result Perform(CURL* handle, const Request& request, const BodySink& sink) {
  Result result;
  if (handle == nullptr) return result;

  // libcurl adds Accept always, Content-Type with a body and Expect with a
  // large one; an empty "Name:" entry keeps each off the wire unless the
  // caller set it.
  curl_handles::HeaderList headers;
  for (const std::string& line : request.headers) {
    if (!headers.Append(line)) return result;
  }
  for (const char* name : {"Accept", "Expect", "Content-Type"}) {
    if (!RequestNamesHeader(request, name) && !headers.Append(std::string(name) + ":")) return result;
  }
  curl_handles::HeaderList connectTo;
  const std::string entry = connect_to::EntryFromEnvironment();
  if (!entry.empty() && !connectTo.Append(entry)) return result;

  std::string url = request.url;
  std::string method = request.method;
  std::optional<std::string_view> body = request.body;

  for (int hops = 0;; ++hops) {
    Hop hop;
    hop.request = &request;
    hop.sink = &sink;
    hop.uploadSize = body ? body->size() : 0;
    if (!Configure(handle, request, url, method, body, hop, headers, connectTo)) return result;

    const CURLcode code = curl_easy_perform(handle);
    if (code != CURLE_OK) {
      const bool finalBegun = hop.finalHeadersDone && !hop.LooksLikeRedirect() && !hop.capExceeded &&
                              !hop.headersTooLarge;
      if (finalBegun) {
        result.outcome = Outcome::kBrokenOff;
        result.status = hop.status;
        result.headerBlock = std::move(hop.headerBlock);
      }
      return result;
    }
    if (hop.status < 200) return result;

    if (hop.LooksLikeRedirect()) {
      char* target = nullptr;
      if (curl_easy_getinfo(handle, CURLINFO_REDIRECT_URL, &target) == CURLE_OK && target != nullptr) {
        switch (DecideRedirect(url, target, hops)) {
          case RedirectStep::kFail:
            return result;
          case RedirectStep::kFollow:
            url = target;
            // Like a browser: 303 always, and 301 or 302 after a POST, turn
            // the next request into a GET without a body.
            if (method != "HEAD" && (hop.status == 303 || ((hop.status == 301 || hop.status == 302) &&
                                                            method == "POST"))) {
              method = "GET";
              body.reset();
            }
            continue;
          case RedirectStep::kStop:
            break;
        }
      }
      if (!hop.heldBody.empty() && !sink(hop.heldBody)) {
        result.outcome = Outcome::kBrokenOff;
        result.status = hop.status;
        result.headerBlock = std::move(hop.headerBlock);
        return result;
      }
    }
    result.outcome = Outcome::kComplete;
    result.status = hop.status;
    result.headerBlock = std::move(hop.headerBlock);
    return result;
  }
}

}  // namespace curl_transfer

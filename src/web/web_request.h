#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "platform/http_request.h"
#include "values/bytes.h"
#include "values/text.h"

// The program's general web routine: one synchronous HTTP request, the
// response body as the result, and the response's headers, cookies and
// redirect address handed back through the parameters.

// A response body above this size counts as no response: a page is held in
// memory whole, and no page the program reads comes near it.
inline constexpr std::uint64_t kMaxResponseBodyBytes = 64ull * 1024 * 1024;

// The parameters after the address, with their defaults. Members marked
// in/out are read and written back; those marked out are only written.
struct WebRequestParams {
  int method = 0;              // 1 sends "POST", anything else "GET"
  Text postText;               // the body when postBytes is empty
  Text cookies;                // in/out: sent as the Cookie header; the merged cookies on return
  Text receivedCookies;        // out: the Set-Cookie items, joined by ";", without spaces
  Text requestHeaders;         // in/out: header lines; empty takes DefaultRequestHeaders(address)
  Text redirectAddress;        // in/out: the Location value, else the whole response header text
  bool noRedirect = false;     // true: redirects are not followed
  Bytes postBytes;             // the body when not empty
  Text proxy;                  // "host:port" of a proxy to go through
  Text responseHeaders;        // out: the response header block
  std::int32_t timeoutSeconds = 0;  // -1: the object's own; 0 or below: 15 s; else seconds
  Text proxyUser;              // used only with a proxy
  Text proxyPassword;
  std::optional<int> proxyCredentialsFlag;        // left out means 1 (for the proxy)
  std::shared_ptr<HttpRequest> requestObject;     // lent object; null creates a new one
};

// Makes the request object when the caller lends none; may return null,
// which ends the call at once with empty Bytes.
using HttpRequestFactory = std::function<std::shared_ptr<HttpRequest>()>;

// "Referer: <address>" and the Accept, Accept-Language, User-Agent and
// Content-Type lines, joined by CR LF, with none after the last.
Text DefaultRequestHeaders(const Text& address);

// Never throws and shows nothing: a request that gets no response gives
// empty Bytes and empty responseHeaders and receivedCookies. Safe on several
// threads at once as long as they do not share a lent object.
Bytes WebRequest(const Text& address, WebRequestParams& params,
                 const HttpRequestFactory& createRequestObject = HttpRequest::Create);

// The address alone, every other parameter left out and every output
// thrown away.
Bytes WebRequest(const Text& address);

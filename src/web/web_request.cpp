#include "web/web_request.h"

#include <climits>

#include "platform/apartment.h"
#include "values/text_ops.h"
#include "web/header_cookie_helpers.h"

namespace {

constexpr int kDefaultTimeoutMs = 15000;

// -1 keeps the object's own time-outs and is handled by the caller. The
// product is held to 32 bits: a caller above 2147483 seconds gets the
// longest limit there is rather than an overflow.
int TimeoutMs(std::int32_t seconds) {
  if (seconds < 1) return kDefaultTimeoutMs;
  const long long ms = static_cast<long long>(seconds) * 1000;
  return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

}  // namespace

Text DefaultRequestHeaders(const Text& address) {
  const Text crlf("\r\n");
  return Text("Referer: ") + address + crlf + Text("Accept: */*") + crlf +
         Text("Accept-Language: zh-cn") + crlf +
         Text("User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1; KRAVO; .NET CLR "
              "2.0.50727; .NET CLR 3.0.04506.648; .NET CLR 3.5.21022)") +
         crlf + Text("Content-Type: application/x-www-form-urlencoded");
}

Bytes WebRequest(const Text& address, WebRequestParams& params,
                 const HttpRequestFactory& createRequestObject) {
  // 1-2
  apartment::Enter();
  const Text method(params.method == 1 ? "POST" : "GET");

  // 3. A lent object is shared, not copied: whatever this request leaves in
  // it stays with the caller.
  std::shared_ptr<HttpRequest> object = params.requestObject;
  if (!object && createRequestObject) object = createRequestObject();
  if (!object) {
    apartment::Leave();
    return Bytes();
  }

  // 4-7. No result of the object is consulted: a refused step leaves the
  // request to fail further on, or to go out without that setting.
  if (params.timeoutSeconds != -1) {
    const int t = TimeoutMs(params.timeoutSeconds);
    object->SetTimeouts(t, t, t, t);
  }
  if (!params.proxy.IsEmpty()) {
    object->SetProxy(HttpRequest::kProxySettingProxy, params.proxy);
    if (!params.proxyUser.IsEmpty()) {
      object->SetProxyCredentials(params.proxyUser, params.proxyPassword,
                                  params.proxyCredentialsFlag.value_or(HttpRequest::kCredentialsForProxy));
    }
  }
  object->Open(method, address, false);
  if (params.noRedirect) object->SetOption(HttpRequest::kOptionEnableRedirects, 0);
  object->SetOption(HttpRequest::kOptionSslErrorIgnoreFlags, HttpRequest::kIgnoreAllCertificateErrors);
  object->SetResponseBodyLimit(kMaxResponseBodyBytes);

  // 8-10. The Cookie header goes first; a line without a colon becomes an
  // empty name, which the object refuses, so nothing is sent for it.
  if (params.requestHeaders.IsEmpty()) params.requestHeaders = DefaultRequestHeaders(address);
  if (!params.cookies.IsEmpty()) object->SetRequestHeader(Text("Cookie"), params.cookies);
  const Text crlf("\r\n");
  if (Find(params.requestHeaders, crlf) == -1) {
    object->SetRequestHeader(HeaderName(params.requestHeaders), HeaderValue(params.requestHeaders));
  } else {
    for (const Text& line : Split(params.requestHeaders, crlf)) {
      if (!line.IsEmpty()) object->SetRequestHeader(HeaderName(line), HeaderValue(line));
    }
  }

  // 11-13
  if (!params.postBytes.IsEmpty()) {
    object->Send(params.postBytes);
  } else {
    object->Send(params.postText);
  }
  Bytes body = object->ResponseBody();
  params.responseHeaders = object->GetAllResponseHeaders();

  // 14-16. Both tests are plain substring tests, so a Content-Location line
  // counts as a Location line, and the last matching line wins.
  const TextArray lines = Split(params.responseHeaders, crlf);
  params.receivedCookies = Text();
  const Text location("Location:");
  const Text setCookie("Set-Cookie");
  const Text cookieSeparator("; ");
  for (const Text& line : lines) {
    if (Find(line, location) != -1) params.redirectAddress = HeaderValue(line);
    if (Find(line, setCookie) != -1) {
      params.receivedCookies += Trim(TextBetween(line, Text("Set-Cookie:"), Text(";")));
      params.receivedCookies += cookieSeparator;
    }
  }
  params.receivedCookies =
      Left(params.receivedCookies, static_cast<int>(params.receivedCookies.Length()) - 2);

  // 17-18
  MergeCookies(params.cookies, params.receivedCookies);
  if (params.redirectAddress.IsEmpty()) params.redirectAddress = params.responseHeaders;

  // 19-20. Dropping our reference destroys a new object; a lent one lives on
  // with its caller.
  object.reset();
  apartment::Leave();
  return body;
}

Bytes WebRequest(const Text& address) {
  WebRequestParams discarded;
  return WebRequest(address, discarded);
}

#pragma once

#include <cstdint>
#include <memory>

#include "values/bytes.h"
#include "values/text.h"

// Our stand-in for the Windows HTTP request automation object: one request
// at a time over one libcurl easy handle, with that object's operations and
// defaults. It is shared like an automation object (copying the shared_ptr
// adds a reference, reset() drops it) so that a caller can lend one to a
// routine; one object is used by one thread at a time.
//
// Every operation reports success as a bool, as the object's calls succeed
// or fail; callers that follow the object's usage are free to ignore it.
// Texts cross unchanged: header names and values, the method, the address
// and a text body go on the wire as the code page 936 bytes they are.
class HttpRequest {
 public:
  // Milliseconds; 0 or -1 waits for ever. The defaults are the object's own.
  struct Timeouts {
    int resolve = 0;
    int connect = 60000;
    int send = 30000;
    int receive = 30000;
    friend bool operator==(const Timeouts&, const Timeouts&) = default;
  };

  // SetProxy settings: 0 and 1 go direct, 2 through the named server.
  static constexpr int kProxySettingDirect = 1;
  static constexpr int kProxySettingProxy = 2;
  // SetProxyCredentials flags: for the server, or for the proxy.
  static constexpr int kCredentialsForServer = 0;
  static constexpr int kCredentialsForProxy = 1;
  // SetOption indexes and values.
  static constexpr int kOptionSslErrorIgnoreFlags = 4;
  static constexpr int kOptionEnableRedirects = 6;
  static constexpr int kIgnoreUnknownAuthority = 0x0100;
  static constexpr int kIgnoreWrongUsage = 0x0200;
  static constexpr int kIgnoreNameMismatch = 0x1000;
  static constexpr int kIgnoreDateInvalid = 0x2000;
  static constexpr int kIgnoreAllCertificateErrors = 0x3300;

  // A new object; null when libcurl cannot provide a handle.
  static std::shared_ptr<HttpRequest> Create();

  ~HttpRequest();
  HttpRequest(const HttpRequest&) = delete;
  HttpRequest& operator=(const HttpRequest&) = delete;

  // All four in milliseconds. Name resolution has no limit of its own in
  // libcurl, so a finite resolve limit is added to the connect limit. Values
  // below -1 are refused and change nothing.
  bool SetTimeouts(int resolveMs, int connectMs, int sendMs, int receiveMs);

  // Setting 2 sends every request through `server` ("host" or "host:port";
  // port 80 when none is given; of a list, the first entry counts). Without
  // it the object goes direct: the environment's proxy variables are never
  // read.
  bool SetProxy(int setting, const Text& server);

  // Flag 1: credentials for the proxy; flag 0: for the server. Applied when
  // the proxy (or server) asks for them.
  bool SetProxyCredentials(const Text& user, const Text& password, int flag);

  // Starts a new request: forgets the headers and the response of the
  // previous one; time-outs, proxy, credentials and options stay. Only
  // synchronous requests are offered, so `async` true is refused.
  bool Open(const Text& method, const Text& url, bool async = false);

  // Option 6 (redirects on unless 0) and option 4 (certificate errors to
  // ignore, the kIgnore... bits). Other indexes are refused.
  bool SetOption(int option, int value);

  // Adds a header after those set before it. A name set again replaces the
  // earlier value in its place; an empty value removes the header. Names
  // that are not HTTP tokens, and values with CR or LF, are refused. Needs
  // Open first.
  bool SetRequestHeader(const Text& name, const Text& value);

  // Sends the request and waits for the whole response, within the
  // time-outs. A GET or HEAD with an empty body sends no body at all; any
  // other method sends the body, even an empty one. True when a response
  // arrived whole; otherwise the body and headers read as empty.
  bool Send(const Text& body);
  bool Send(const Bytes& body);

  // The last response's body, whatever its status.
  Bytes ResponseBody() const;
  // The last response's headers (the final one after redirects): no status
  // line, each line ending in CR LF, then an empty line.
  Text GetAllResponseHeaders() const;
  // The last response's status code; 0 without a response.
  int Status() const;

  // Beyond the Windows object: a response whose body grows past `maxBytes`
  // counts as no response (0 lifts the cap, the default).
  void SetResponseBodyLimit(std::uint64_t maxBytes);

  // What the object holds, for callers that lend it and for tests.
  Timeouts CurrentTimeouts() const;
  bool RedirectsEnabled() const;
  int IgnoredCertificateErrors() const;

 private:
  struct State;
  explicit HttpRequest(std::unique_ptr<State> state);
  bool SendBody(std::string_view body);

  std::unique_ptr<State> state_;
};

#include "platform/http_request.h"

#include <algorithm>
#include <climits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/curl_global.h"
#include "platform/curl_handles.h"
#include "platform/curl_transfer.h"

namespace {


// An HTTP token: visible ASCII without the separators.
bool IsToken(std::string_view name) {
  if (name.empty()) return false;
  for (unsigned char c : name) {
    if (c <= 0x20 || c >= 0x7F) return false;
    if (std::string_view("()<>@,;:\\\"/[]?={}").find(static_cast<char>(c)) != std::string_view::npos) {
      return false;
    }
  }
  return true;
}

// Milliseconds for the transfer: our 0 means for ever.
int Limit(int ms) { return ms > 0 ? ms : 0; }

}  // namespace

struct HttpRequest::State {
  curl_handles::Easy handle;
  Timeouts timeouts;
  std::string proxy;
  std::optional<curl_transfer::Credentials> proxyCredentials;
  std::optional<curl_transfer::Credentials> serverCredentials;
  bool redirects = true;
  int ignoredCertificateErrors = 0;
  std::uint64_t bodyLimit = 0;

  bool opened = false;
  std::string method;
  std::string url;
  std::vector<std::pair<std::string, std::string>> headers;

  std::string body;
  std::string headerBlock;
  int status = 0;
};

HttpRequest::HttpRequest(std::unique_ptr<State> state) : state_(std::move(state)) {}
HttpRequest::~HttpRequest() = default;

std::shared_ptr<HttpRequest> HttpRequest::Create() {
  if (!curl_global::EnsureInitialised()) return nullptr;
  auto state = std::make_unique<State>();
  state->handle.reset(curl_easy_init());
  if (!state->handle) return nullptr;
  return std::shared_ptr<HttpRequest>(new HttpRequest(std::move(state)));
}

bool HttpRequest::SetTimeouts(int resolveMs, int connectMs, int sendMs, int receiveMs) {
  for (int value : {resolveMs, connectMs, sendMs, receiveMs}) {
    if (value < -1) return false;
  }
  state_->timeouts = Timeouts{resolveMs, connectMs, sendMs, receiveMs};
  return true;
}

bool HttpRequest::SetProxy(int setting, const Text& server) {
  if (setting == 0 || setting == kProxySettingDirect) {
    state_->proxy.clear();
    return true;
  }
  if (setting != kProxySettingProxy) return false;
  std::string address = curl_transfer::ProxyUrl(server.View());
  if (address.empty()) return false;
  state_->proxy = std::move(address);
  return true;
}

bool HttpRequest::SetProxyCredentials(const Text& user, const Text& password, int flag) {
  curl_transfer::Credentials credentials{user.Bytes(), password.Bytes()};
  if (flag == kCredentialsForProxy) {
    state_->proxyCredentials = std::move(credentials);
  } else if (flag == kCredentialsForServer) {
    state_->serverCredentials = std::move(credentials);
  } else {
    return false;
  }
  return true;
}

bool HttpRequest::Open(const Text& method, const Text& url, bool async) {
  if (async || !IsToken(method.View()) || url.IsEmpty()) return false;
  state_->opened = true;
  state_->method = method.Bytes();
  state_->url = url.Bytes();
  state_->headers.clear();
  state_->body.clear();
  state_->headerBlock.clear();
  state_->status = 0;
  return true;
}

bool HttpRequest::SetOption(int option, int value) {
  switch (option) {
    case kOptionEnableRedirects:
      state_->redirects = value != 0;
      return true;
    case kOptionSslErrorIgnoreFlags:
      if ((value & ~kIgnoreAllCertificateErrors) != 0) return false;
      state_->ignoredCertificateErrors = value;
      return true;
    default:
      return false;
  }
}

bool HttpRequest::SetRequestHeader(const Text& name, const Text& value) {
  if (!state_->opened || !IsToken(name.View())) return false;
  if (value.View().find_first_of("\r\n") != std::string_view::npos) return false;
  auto& headers = state_->headers;
  for (auto it = headers.begin(); it != headers.end(); ++it) {
    if (curl_transfer::EqualsIgnoringCase(it->first, name.View())) {
      if (value.IsEmpty()) {
        headers.erase(it);
      } else {
        it->second = value.Bytes();
      }
      return true;
    }
  }
  if (!value.IsEmpty()) headers.emplace_back(name.Bytes(), value.Bytes());
  return true;
}

bool HttpRequest::Send(const Text& body) { return SendBody(body.View()); }
bool HttpRequest::Send(const Bytes& body) { return SendBody(body.View()); }

bool HttpRequest::SendBody(std::string_view body) {
  State& state = *state_;
  state.body.clear();
  state.headerBlock.clear();
  state.status = 0;
  if (!state.opened) return false;

  curl_transfer::Request request;
  request.method = state.method;
  request.url = state.url;
  for (const auto& [name, value] : state.headers) request.headers.push_back(name + ": " + value);
  if (!body.empty() || (state.method != "GET" && state.method != "HEAD")) request.body = body;
  request.followRedirects = state.redirects;
  request.proxy = state.proxy;
  request.proxyCredentials = state.proxyCredentials;
  request.serverCredentials = state.serverCredentials;
  // libcurl checks the chain and the name separately and cannot pass over
  // one kind of chain fault alone, so the chain goes unchecked only when an
  // untrusted authority, a wrong usage and an expired certificate are all
  // to be ignored.
  const int chainErrors = kIgnoreUnknownAuthority | kIgnoreWrongUsage | kIgnoreDateInvalid;
  request.verifyPeer = (state.ignoredCertificateErrors & chainErrors) != chainErrors;
  request.verifyHost = (state.ignoredCertificateErrors & kIgnoreNameMismatch) == 0;
  const Timeouts& t = state.timeouts;
  if (t.connect > 0) {
    const long long connect = static_cast<long long>(t.connect) + (t.resolve > 0 ? t.resolve : 0);
    request.limits.connectMs = static_cast<int>(std::min<long long>(connect, INT_MAX));
  } else {
    request.limits.connectMs = 0;
  }
  request.limits.sendIdleMs = Limit(t.send);
  request.limits.receiveIdleMs = Limit(t.receive);
  request.maxBodyBytes = state.bodyLimit;

  std::string received;
  const curl_transfer::Result result = curl_transfer::Perform(
      state.handle.get(), request, [&received](std::string_view piece) {
        received.append(piece);
        return true;
      });
  if (result.outcome != curl_transfer::Outcome::kComplete) return false;
  state.body = std::move(received);
  state.headerBlock = result.headerBlock;
  state.status = result.status;
  return true;
}

Bytes HttpRequest::ResponseBody() const { return Bytes(state_->body); }
Text HttpRequest::GetAllResponseHeaders() const { return Text(state_->headerBlock); }
int HttpRequest::Status() const { return state_->status; }

void HttpRequest::SetResponseBodyLimit(std::uint64_t maxBytes) { state_->bodyLimit = maxBytes; }

HttpRequest::Timeouts HttpRequest::CurrentTimeouts() const { return state_->timeouts; }
bool HttpRequest::RedirectsEnabled() const { return state_->redirects; }
int HttpRequest::IgnoredCertificateErrors() const { return state_->ignoredCertificateErrors; }

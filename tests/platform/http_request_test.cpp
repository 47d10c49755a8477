#include "platform/http_request.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/connect_to.h"
#include "platform/curl_transfer.h"
#include "values/text_ops.h"
#include "support/raw_http_server.h"
#include "support/scoped_env.h"
#include "support/test_certificate.h"

namespace {

using testing_support::CapturedRequest;
using testing_support::HttpResponse;
using testing_support::RawConnection;
using testing_support::RawHttpServer;

// Sets an environment variable for one test and puts the old value back.

// A loopback port that nothing listens on.
std::string RefusedUrl() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/";
}

RawHttpServer::Responder Answer(std::string response) {
  return [response](RawConnection& connection, const CapturedRequest&) {
    connection.Send(response);
    return true;
  };
}

std::shared_ptr<HttpRequest> NewRequest() {
  auto request = HttpRequest::Create();
  EXPECT_NE(request, nullptr);
  return request;
}

TEST(HttpRequest, StartsWithTheObjectsDefaults) {
  auto request = NewRequest();
  EXPECT_EQ(request->CurrentTimeouts(), (HttpRequest::Timeouts{0, 60000, 30000, 30000}));
  EXPECT_TRUE(request->RedirectsEnabled());
  EXPECT_EQ(request->IgnoredCertificateErrors(), 0);
  EXPECT_EQ(request->Status(), 0);
  EXPECT_TRUE(request->ResponseBody().IsEmpty());
  EXPECT_TRUE(request->GetAllResponseHeaders().IsEmpty());
}

TEST(HttpRequest, RecordsTimeoutsAndRefusesValuesBelowMinusOne) {
  auto request = NewRequest();
  EXPECT_TRUE(request->SetTimeouts(1, 2, 3, 4));
  EXPECT_EQ(request->CurrentTimeouts(), (HttpRequest::Timeouts{1, 2, 3, 4}));
  EXPECT_TRUE(request->SetTimeouts(-1, 0, -1, 0));
  EXPECT_EQ(request->CurrentTimeouts(), (HttpRequest::Timeouts{-1, 0, -1, 0}));
  EXPECT_FALSE(request->SetTimeouts(5, -2, 5, 5));
  EXPECT_EQ(request->CurrentTimeouts(), (HttpRequest::Timeouts{-1, 0, -1, 0}));
}

TEST(HttpRequest, SendsOnlyTheHeadersItWasGivenInOrder) {
  RawHttpServer server(Answer(HttpResponse(200, "hello")));
  auto request = NewRequest();
  ASSERT_TRUE(request->Open(Text("GET"), Text(server.Url("/p?q=1"))));
  EXPECT_TRUE(request->SetRequestHeader(Text("Zeta"), Text("1")));
  EXPECT_TRUE(request->SetRequestHeader(Text("Alpha"), Text("two: 2")));
  EXPECT_TRUE(request->Send(Text()));
  EXPECT_EQ(request->ResponseBody(), Bytes(std::string("hello")));

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].head, "GET /p?q=1 HTTP/1.1\r\nHost: " + server.HostPort() +
                                  "\r\nZeta: 1\r\nAlpha: two: 2\r\n\r\n");
}

TEST(HttpRequest, HeaderSetAgainReplacesAndEmptyValueRemoves) {
  RawHttpServer server(Answer(HttpResponse(200, "")));
  auto request = NewRequest();
  ASSERT_TRUE(request->Open(Text("GET"), Text(server.Url())));
  request->SetRequestHeader(Text("A"), Text("1"));
  request->SetRequestHeader(Text("B"), Text("2"));
  request->SetRequestHeader(Text("C"), Text("3"));
  request->SetRequestHeader(Text("a"), Text("4"));
  request->SetRequestHeader(Text("B"), Text());
  EXPECT_TRUE(request->Send(Text()));
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].headerLines,
            (std::vector<std::string>{"Host: " + server.HostPort(), "A: 4", "C: 3"}));
}

TEST(HttpRequest, RefusesBadHeadersAndHeadersBeforeOpen) {
  auto request = NewRequest();
  EXPECT_FALSE(request->SetRequestHeader(Text("A"), Text("1")));
  ASSERT_TRUE(request->Open(Text("GET"), Text("http://127.0.0.1:1/")));
  struct Case {
    const char* name;
    const char* value;
  } refused[] = {
      {"", ""}, {"", "v"}, {"A B", "v"}, {"A:", "v"}, {"A", "x\r\nInjected: 1"}, {"A", "x\ny"},
      {"\xD2\xFD", "v"},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(request->SetRequestHeader(Text(c.name), Text(c.value)));
  }
  EXPECT_TRUE(request->SetRequestHeader(Text("X-Ok"), Text("\xD2\xFD value")));
}

TEST(HttpRequest, OpenRefusesAsynchronousRequestsAndEmptyAddresses) {
  auto request = NewRequest();
  EXPECT_FALSE(request->Open(Text("GET"), Text("http://127.0.0.1/"), true));
  EXPECT_FALSE(request->Open(Text("GET"), Text()));
  EXPECT_FALSE(request->Open(Text(), Text("http://127.0.0.1/")));
  EXPECT_FALSE(request->Send(Text()));
}

TEST(HttpRequest, HeaderTextIsTheFinalResponseWithoutStatusLine) {
  RawHttpServer server([](RawConnection& connection, const CapturedRequest& request) {
    if (request.Target() == "/start") {
      connection.Send(HttpResponse(302, "moved", {"Location: /final", "X-Hop: 1"}, "Found"));
    } else {
      connection.Send(
          "HTTP/1.1 100 Continue\r\n\r\n"
          "HTTP/1.1 200 OK\r\nX-One: 1\nSet-Cookie: a=1; path=/\r\n"
          "Content-Length: 4\r\n\r\nbody");
    }
    return true;
  });
  auto request = NewRequest();
  ASSERT_TRUE(request->Open(Text("GET"), Text(server.Url("/start"))));
  EXPECT_TRUE(request->Send(Text()));
  EXPECT_EQ(request->Status(), 200);
  EXPECT_EQ(request->ResponseBody(), Bytes(std::string("body")));
  EXPECT_EQ(request->GetAllResponseHeaders(),
            Text("X-One: 1\r\nSet-Cookie: a=1; path=/\r\nContent-Length: 4\r\n\r\n"));
  EXPECT_EQ(server.Requests().size(), 2u);
}

TEST(HttpRequest, ErrorStatusBodiesAreBodies) {
  RawHttpServer server(Answer(HttpResponse(404, "not here", {}, "Not Found")));
  auto request = NewRequest();
  ASSERT_TRUE(request->Open(Text("GET"), Text(server.Url("/missing"))));
  EXPECT_TRUE(request->Send(Text()));
  EXPECT_EQ(request->Status(), 404);
  EXPECT_EQ(request->ResponseBody(), Bytes(std::string("not here")));
}

TEST(HttpRequest, RedirectsCanBeSwitchedOff) {
  RawHttpServer server([](RawConnection& connection, const CapturedRequest& request) {
    if (request.Target() == "/start") {
      connection.Send(HttpResponse(301, "see elsewhere", {"Location: /final"}, "Moved"));
    } else {
      connection.Send(HttpResponse(200, "final"));
    }
    return true;
  });
  for (bool follow : {true, false}) {
    SCOPED_TRACE(follow);
    auto request = NewRequest();
    ASSERT_TRUE(request->Open(Text("GET"), Text(server.Url("/start"))));
    if (!follow) {
      EXPECT_TRUE(request->SetOption(HttpRequest::kOptionEnableRedirects, 0));
    }
    EXPECT_TRUE(request->Send(Text()));
    EXPECT_EQ(request->Status(), follow ? 200 : 301);
    EXPECT_EQ(request->ResponseBody(), Bytes(std::string(follow ? "final" : "see elsewhere")));
    EXPECT_EQ(Find(request->GetAllResponseHeaders(), Text("Location: /final")) != -1, !follow);
  }
}

TEST(HttpRequest, FollowsTenRedirectsButNotEleven) {
  RawHttpServer server([](RawConnection& connection, const CapturedRequest& request) {
    const int hop = std::stoi(request.Target().substr(1));
    if (hop > 0) {
      connection.Send(HttpResponse(302, "", {"Location: /" + std::to_string(hop - 1)}, "Found"));
    } else {
      connection.Send(HttpResponse(200, "arrived"));
    }
    return true;
  });
  auto request = NewRequest();
  ASSERT_TRUE(request->Open(Text("GET"), Text(server.Url("/10"))));
  EXPECT_TRUE(request->Send(Text()));
  EXPECT_EQ(request->ResponseBody(), Bytes(std::string("arrived")));

  ASSERT_TRUE(request->Open(Text("GET"), Text(server.Url("/11"))));
  EXPECT_FALSE(request->Send(Text()));
  EXPECT_TRUE(request->ResponseBody().IsEmpty());
  EXPECT_TRUE(request->GetAllResponseHeaders().IsEmpty());
  EXPECT_EQ(request->Status(), 0);
}

TEST(HttpRequest, RedirectLoopEndsInNoResponse) {
  RawHttpServer server(Answer(HttpResponse(302, "", {"Location: /loop"}, "Found")));
  auto request = NewRequest();
  ASSERT_TRUE(request->Open(Text("GET"), Text(server.Url("/loop"))));
  EXPECT_FALSE(request->Send(Text()));
  EXPECT_TRUE(request->ResponseBody().IsEmpty());
  EXPECT_EQ(server.Requests().size(), 11u);
}

TEST(HttpRequest, OnlyHttpAndHttpsAreUsed) {
  RawHttpServer server(Answer(HttpResponse(302, "", {"Location: ftp://127.0.0.1/file"}, "Found")));
  auto request = NewRequest();
  ASSERT_TRUE(request->Open(Text("GET"), Text(server.Url("/"))));
  EXPECT_FALSE(request->Send(Text()));
  EXPECT_TRUE(request->ResponseBody().IsEmpty());

  for (const char* url : {"ftp://127.0.0.1/file", "file:///etc/hostname", "gopher://127.0.0.1/"}) {
    SCOPED_TRACE(url);
    ASSERT_TRUE(request->Open(Text("GET"), Text(url)));
    EXPECT_FALSE(request->Send(Text()));
    EXPECT_TRUE(request->ResponseBody().IsEmpty());
  }
}

TEST(HttpRequest, RedirectDecisions) {
  using curl_transfer::DecideRedirect;
  using curl_transfer::RedirectStep;
  struct Case {
    const char* from;
    const char* to;
    int hops;
    RedirectStep expected;
  } cases[] = {
      {"http://a/", "http://b/", 0, RedirectStep::kFollow},
      {"http://a/", "https://b/", 0, RedirectStep::kFollow},
      {"HTTP://a/", "HTTPS://b/", 9, RedirectStep::kFollow},
      {"https://a/", "https://b/", 0, RedirectStep::kFollow},
      {"https://a/", "http://b/", 0, RedirectStep::kStop},
      {"https://a/", "HTTP://b/", 10, RedirectStep::kStop},
      {"http://a/", "http://b/", 10, RedirectStep::kFail},
      {"http://a/", "ftp://b/", 0, RedirectStep::kFail},
      {"http://a/", "file:///etc/passwd", 0, RedirectStep::kFail},
      {"http://a/", "b/c", 0, RedirectStep::kFail},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.from) + " -> " + c.to);
    EXPECT_EQ(DecideRedirect(c.from, c.to, c.hops), c.expected);
  }
}

TEST(HttpRequest, PostSendsTextOrBytesWithoutAddedHeaders) {
  RawHttpServer server(Answer(HttpResponse(200, "ok")));
  auto request = NewRequest();
  const std::string binary("a\0b\xFF", 4);
  const std::string large(2 * 1024 * 1024, 'x');  // large enough for libcurl's Expect
  struct Case {
    std::optional<Text> text;
    std::optional<Bytes> bytes;
    std::string sent;
  } cases[] = {
      {Text("a=1&b=2"), std::nullopt, "a=1&b=2"},
      {Text(), std::nullopt, ""},
      {std::nullopt, Bytes(binary), binary},
      {std::nullopt, Bytes(large), large},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sent.size());
    const std::size_t before = server.Requests().size();
    ASSERT_TRUE(request->Open(Text("POST"), Text(server.Url("/form"))));
    request->SetRequestHeader(Text("X-Test"), Text("1"));
    EXPECT_TRUE(c.text ? request->Send(*c.text) : request->Send(*c.bytes));
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), before + 1);
    const CapturedRequest& sent = requests.back();
    EXPECT_EQ(sent.requestLine, "POST /form HTTP/1.1");
    EXPECT_EQ(sent.headerLines,
              (std::vector<std::string>{"Host: " + server.HostPort(), "X-Test: 1",
                                        "Content-Length: " + std::to_string(c.sent.size())}));
    EXPECT_EQ(sent.body, c.sent);
  }
}

TEST(HttpRequest, GetWithEmptyBodySendsNoBodyAtAll) {
  RawHttpServer server(Answer(HttpResponse(200, "ok")));
  auto request = NewRequest();
  ASSERT_TRUE(request->Open(Text("GET"), Text(server.Url())));
  EXPECT_TRUE(request->Send(Bytes()));
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].Header("Content-Length"), "");
  EXPECT_EQ(server.Requests()[0].head, "GET / HTTP/1.1\r\nHost: " + server.HostPort() + "\r\n\r\n");
}

TEST(HttpRequest, TransportFailureLeavesBodyAndHeadersEmpty) {
  auto request = NewRequest();
  ASSERT_TRUE(request->Open(Text("GET"), Text(RefusedUrl())));
  EXPECT_FALSE(request->Send(Text()));
  EXPECT_TRUE(request->ResponseBody().IsEmpty());
  EXPECT_TRUE(request->GetAllResponseHeaders().IsEmpty());
  EXPECT_EQ(request->Status(), 0);

  ASSERT_TRUE(request->Open(Text("GET"), Text("http://[::1")));
  EXPECT_FALSE(request->Send(Text()));
}

TEST(HttpRequest, HostileResponsesEndInNoResponse) {
  RawHttpServer server([](RawConnection& connection, const CapturedRequest& request) {
    const std::string target = request.Target();
    if (target == "/reset") {
      connection.Send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(100, 'x'));
      connection.Reset();
    } else if (target == "/short") {
      connection.Send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(100, 'x'));
      return false;
    } else if (target == "/huge-headers") {
      std::string head = "HTTP/1.1 200 OK\r\n";
      for (int i = 0; i < 2000; ++i) head += "X-Filler-" + std::to_string(i) + ": " + std::string(60, 'f') + "\r\n";
      connection.Send(head + "Content-Length: 2\r\n\r\nok");
    } else if (target == "/no-colon") {
      // libcurl refuses such a reply as malformed, so it counts as none.
      connection.Send("HTTP/1.1 200 OK\r\nNo colon at all\r\nContent-Length: 2\r\n\r\nok");
    } else if (target == "/garbage") {
      connection.Send("this is not HTTP at all\r\n\r\n");
      return false;
    } else if (target == "/silent") {
      connection.WaitForStop(std::chrono::seconds(60));
      return false;
    }
    return true;
  });
  auto request = NewRequest();
  request->SetTimeouts(1000, 1000, 1000, 1000);
  for (const char* target : {"/reset", "/short", "/huge-headers", "/no-colon", "/garbage", "/silent"}) {
    SCOPED_TRACE(target);
    ASSERT_TRUE(request->Open(Text("GET"), Text(server.Url(target))));
    EXPECT_FALSE(request->Send(Text()));
    EXPECT_TRUE(request->ResponseBody().IsEmpty());
    EXPECT_TRUE(request->GetAllResponseHeaders().IsEmpty());
  }
}

TEST(HttpRequest, BodyLimitCountsWhatArrives) {
  const std::string chunked =
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
      "400\r\n" + std::string(1024, 'a') + "\r\n400\r\n" + std::string(1024, 'b') + "\r\n0\r\n\r\n";
  RawHttpServer server(Answer(chunked));
  auto request = NewRequest();
  for (std::uint64_t limit : {std::uint64_t{0}, std::uint64_t{2048}, std::uint64_t{2047}}) {
    SCOPED_TRACE(limit);
    request->SetResponseBodyLimit(limit);
    ASSERT_TRUE(request->Open(Text("GET"), Text(server.Url())));
    const bool fits = limit == 0 || limit >= 2048;
    EXPECT_EQ(request->Send(Text()), fits);
    EXPECT_EQ(request->ResponseBody().Length(), fits ? 2048u : 0u);
  }
}

TEST(HttpRequest, ReceiveLimitIsAnIdleLimit) {
  // Six pieces, 300 ms apart: longer than the 1.5 s limit in all, but never
  // idle for anywhere near that long.
  RawHttpServer server([](RawConnection& connection, const CapturedRequest& request) {
    if (request.Target() == "/stall") {
      connection.Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc");
      connection.WaitForStop(std::chrono::seconds(60));
      return false;
    }
    connection.Send("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\n");
    for (char c : std::string("uvwxyz")) {
      if (connection.WaitForStop(std::chrono::milliseconds(300))) return false;
      connection.Send(std::string(1, c));
    }
    return true;
  });
  auto request = NewRequest();
  request->SetTimeouts(0, 5000, 1500, 1500);
  ASSERT_TRUE(request->Open(Text("GET"), Text(server.Url("/trickle"))));
  EXPECT_TRUE(request->Send(Text()));
  EXPECT_EQ(request->ResponseBody(), Bytes(std::string("uvwxyz")));

  ASSERT_TRUE(request->Open(Text("GET"), Text(server.Url("/stall"))));
  EXPECT_FALSE(request->Send(Text()));
  EXPECT_TRUE(request->ResponseBody().IsEmpty());
}

TEST(HttpRequest, SendLimitEndsAnUploadNobodyReads) {
  // A listener that never accepts: the kernel takes the connection and some
  // of the body, then the upload stalls. The receive limit is off, so only
  // the send limit can end the request.
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  socklen_t length = sizeof address;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);

  auto request = NewRequest();
  request->SetTimeouts(0, 5000, 1000, 0);
  ASSERT_TRUE(request->Open(Text("POST"),
                            Text("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/up")));
  EXPECT_FALSE(request->Send(Bytes(std::string(64 * 1024 * 1024, 'u'))));
  EXPECT_TRUE(request->ResponseBody().IsEmpty());
  ::close(listener);
}

TEST(HttpRequest, GoesThroughANamedProxyWithCredentials) {
  RawHttpServer proxy(Answer(HttpResponse(200, "via proxy")));
  auto request = NewRequest();
  EXPECT_TRUE(request->SetProxy(HttpRequest::kProxySettingProxy, Text(proxy.HostPort())));
  EXPECT_TRUE(request->SetProxyCredentials(Text("user"), Text("secret"), HttpRequest::kCredentialsForProxy));
  ASSERT_TRUE(request->Open(Text("GET"), Text("http://blog.example.invalid/page/1")));
  request->SetRequestHeader(Text("Accept"), Text("*/*"));
  EXPECT_TRUE(request->Send(Text()));
  EXPECT_EQ(request->ResponseBody(), Bytes(std::string("via proxy")));

  const auto requests = proxy.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].requestLine, "GET http://blog.example.invalid/page/1 HTTP/1.1");
  EXPECT_EQ(requests[0].Header("Host"), "blog.example.invalid");
  EXPECT_EQ(requests[0].Header("Proxy-Authorization"), "Basic dXNlcjpzZWNyZXQ=");
  EXPECT_EQ(requests[0].Header("Accept"), "*/*");
}

TEST(HttpRequest, ServerCredentialsGoToTheServer) {
  RawHttpServer server(Answer(HttpResponse(200, "ok")));
  auto request = NewRequest();
  EXPECT_TRUE(request->SetProxyCredentials(Text("u"), Text("p"), HttpRequest::kCredentialsForServer));
  EXPECT_FALSE(request->SetProxyCredentials(Text("u"), Text("p"), 7));
  ASSERT_TRUE(request->Open(Text("GET"), Text(server.Url())));
  EXPECT_TRUE(request->Send(Text()));
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].Header("Authorization"), "Basic dTpw");
  EXPECT_EQ(server.Requests()[0].Header("Proxy-Authorization"), "");
}

TEST(HttpRequest, ProxyAddresses) {
  struct Case {
    const char* server;
    const char* url;
  } cases[] = {
      {"proxy.lan:3128", "http://proxy.lan:3128"},
      {"proxy.lan", "http://proxy.lan:80"},
      {"http://proxy.lan/", "http://proxy.lan:80"},
      {"http=proxy.lan:8080;https=other:9", "http://proxy.lan:8080"},
      {"a:1 b:2", "http://a:1"},
      {"[::1]", "http://[::1]:80"},
      {"[::1]:8888", "http://[::1]:8888"},
      {"", ""},
      {" ; ", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.server);
    EXPECT_EQ(curl_transfer::ProxyUrl(c.server), c.url);
  }
  auto request = NewRequest();
  EXPECT_FALSE(request->SetProxy(HttpRequest::kProxySettingProxy, Text()));
  EXPECT_FALSE(request->SetProxy(3, Text("a:1")));
  EXPECT_TRUE(request->SetProxy(0, Text()));
}

TEST(HttpRequest, IgnoresTheEnvironmentsProxy) {
  RawHttpServer server(Answer(HttpResponse(200, "direct")));
  const std::string dead = RefusedUrl();
  testing_support::ScopedEnv http("http_proxy", dead.c_str());
  testing_support::ScopedEnv upper("HTTP_PROXY", dead.c_str());
  testing_support::ScopedEnv all("ALL_PROXY", dead.c_str());
  auto request = NewRequest();
  ASSERT_TRUE(request->Open(Text("GET"), Text(server.Url("/x"))));
  EXPECT_TRUE(request->Send(Text()));
  EXPECT_EQ(request->ResponseBody(), Bytes(std::string("direct")));
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].requestLine, "GET /x HTTP/1.1");
}

TEST(HttpRequest, ConnectToRoutesEveryConnectionKeepingTheNames) {
  RawHttpServer server([](RawConnection& connection, const CapturedRequest& request) {
    if (request.Target() == "/first") {
      connection.Send(HttpResponse(302, "", {"Location: http://other.example.invalid:8080/second"}, "Found"));
    } else {
      connection.Send(HttpResponse(200, "routed"));
    }
    return true;
  });
  testing_support::ScopedEnv route(connect_to::kVariable, server.HostPort().c_str());
  auto request = NewRequest();
  ASSERT_TRUE(request->Open(Text("GET"), Text("http://blog.example.invalid/first")));
  EXPECT_TRUE(request->Send(Text()));
  EXPECT_EQ(request->ResponseBody(), Bytes(std::string("routed")));
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].Header("Host"), "blog.example.invalid");
  EXPECT_EQ(requests[1].Header("Host"), "other.example.invalid:8080");
  EXPECT_EQ(requests[1].requestLine, "GET /second HTTP/1.1");
}

TEST(HttpRequest, ConnectToEntries) {
  struct Case {
    const char* value;
    const char* entry;
  } cases[] = {
      {"127.0.0.1:8080", "::127.0.0.1:8080"},
      {"localhost:1", "::localhost:1"},
      {"[::1]:65535", "::[::1]:65535"},
      {"", ""},
      {"127.0.0.1", ""},
      {"127.0.0.1:", ""},
      {":80", ""},
      {"127.0.0.1:0", ""},
      {"127.0.0.1:65536", ""},
      {"127.0.0.1:8x", ""},
      {"::1:80", ""},
      {"a b:80", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(connect_to::EntryFor(c.value), c.entry);
  }
}

// A TLS server with a self-signed certificate for 127.0.0.1, valid until 2126.
class TlsServer {
 public:
  explicit TlsServer(std::function<void(const httplib::Request&, httplib::Response&)> handler) {
    directory_ = std::filesystem::temp_directory_path() /
                 ("brelloc-tls-" + std::to_string(::getpid()) + "-" + std::to_string(++counter_));
    std::filesystem::create_directories(directory_);
    std::ofstream(directory_ / "cert.pem") << testing_support::kSelfSignedCertificatePem;
    std::ofstream(directory_ / "key.pem") << testing_support::kSelfSignedKeyPem;
    server_ = std::make_unique<httplib::SSLServer>((directory_ / "cert.pem").c_str(),
                                                   (directory_ / "key.pem").c_str());
    server_->Get(".*", handler);
    port_ = server_->bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~TlsServer() {
    server_->stop();
    thread_.join();
    std::filesystem::remove_all(directory_);
  }
  std::string Url(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  static inline int counter_ = 0;

  std::filesystem::path directory_;
  std::unique_ptr<httplib::SSLServer> server_;
  int port_ = 0;
  std::thread thread_;
};

TEST(HttpRequest, CertificateErrorsAreIgnoredOnlyWhenAsked) {
  TlsServer tls([](const httplib::Request&, httplib::Response& response) {
    response.set_content("secret page", "text/plain");
  });
  auto request = NewRequest();
  ASSERT_TRUE(request->Open(Text("GET"), Text(tls.Url("/"))));
  EXPECT_FALSE(request->Send(Text()));  // a self-signed certificate is not trusted

  EXPECT_FALSE(request->SetOption(HttpRequest::kOptionSslErrorIgnoreFlags, 0x0001));
  EXPECT_TRUE(request->SetOption(HttpRequest::kOptionSslErrorIgnoreFlags, HttpRequest::kIgnoreAllCertificateErrors));
  EXPECT_EQ(request->IgnoredCertificateErrors(), 0x3300);
  ASSERT_TRUE(request->Open(Text("GET"), Text(tls.Url("/"))));
  EXPECT_TRUE(request->Send(Text()));
  EXPECT_EQ(request->ResponseBody(), Bytes(std::string("secret page")));
}

TEST(HttpRequest, FollowsHttpToHttpsButNotBack) {
  RawHttpServer plain([](RawConnection& connection, const CapturedRequest& request) {
    if (request.Target().rfind("/up", 0) == 0) {
      connection.Send(HttpResponse(302, "", {"Location: " + request.Target().substr(3)}, "Found"));
    } else {
      connection.Send(HttpResponse(200, "plain page"));
    }
    return true;
  });
  const std::string plainUrl = plain.Url("/plain");
  TlsServer tls([plainUrl](const httplib::Request& request, httplib::Response& response) {
    if (request.path == "/down") {
      response.status = 302;
      response.set_header("Location", plainUrl);
      response.set_content("redirect body", "text/plain");
    } else {
      response.set_content("tls page", "text/plain");
    }
  });
  auto request = NewRequest();
  request->SetOption(HttpRequest::kOptionSslErrorIgnoreFlags, HttpRequest::kIgnoreAllCertificateErrors);

  ASSERT_TRUE(request->Open(Text("GET"), Text(plain.Url("/up" + tls.Url("/page")))));
  EXPECT_TRUE(request->Send(Text()));
  EXPECT_EQ(request->ResponseBody(), Bytes(std::string("tls page")));

  ASSERT_TRUE(request->Open(Text("GET"), Text(tls.Url("/down"))));
  EXPECT_TRUE(request->Send(Text()));
  EXPECT_EQ(request->Status(), 302);
  EXPECT_EQ(request->ResponseBody(), Bytes(std::string("redirect body")));
  for (const CapturedRequest& seen : plain.Requests()) EXPECT_NE(seen.Target(), "/plain");
}

TEST(HttpRequest, ObjectsOnSeveralThreadsAtOnce) {
  RawHttpServer server([](RawConnection& connection, const CapturedRequest& request) {
    connection.Send(HttpResponse(200, "echo " + request.Target()));
    return true;
  });
  std::vector<std::thread> threads;
  std::vector<int> successes(6, 0);
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 5; ++i) {
        auto request = HttpRequest::Create();
        const std::string target = "/" + std::to_string(t) + "-" + std::to_string(i);
        if (request && request->Open(Text("GET"), Text(server.Url(target))) && request->Send(Text()) &&
            request->ResponseBody() == Bytes("echo " + target)) {
          ++successes[t];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int count : successes) EXPECT_EQ(count, 5);
}

}  // namespace

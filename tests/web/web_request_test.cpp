#include "web/web_request.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/apartment.h"
#include "platform/connect_to.h"
#include "support/raw_http_server.h"
#include "support/scoped_env.h"

namespace {

using testing_support::CapturedRequest;
using testing_support::HttpResponse;
using testing_support::RawConnection;
using testing_support::RawHttpServer;

const char kUserAgent[] =
    "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1; KRAVO; .NET CLR 2.0.50727; .NET CLR "
    "3.0.04506.648; .NET CLR 3.5.21022)";


std::string RefusedUrl() {
  RawHttpServer gone([](RawConnection&, const CapturedRequest&) { return false; });
  return gone.Url("/");  // nothing listens there once `gone` is destroyed
}

RawHttpServer::Responder Answer(std::string response) {
  return [response](RawConnection& connection, const CapturedRequest&) {
    connection.Send(response);
    return true;
  };
}

TEST(WebRequest, TheAddressAloneSendsTheFiveDefaultHeaders) {
  RawHttpServer server(Answer(HttpResponse(200, "<html>page</html>")));
  testing_support::ScopedEnv route(connect_to::kVariable, server.HostPort().c_str());
  const Text address("http://someblog.example.invalid/page/3");

  const Bytes body = WebRequest(address);

  EXPECT_EQ(body, Bytes(std::string("<html>page</html>")));
  EXPECT_EQ(apartment::Depth(), 0);
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].head,
            std::string("GET /page/3 HTTP/1.1\r\n"
                        "Host: someblog.example.invalid\r\n"
                        "Referer: http://someblog.example.invalid/page/3\r\n"
                        "Accept: */*\r\n"
                        "Accept-Language: zh-cn\r\n"
                        "User-Agent: ") +
                kUserAgent +
                "\r\n"
                "Content-Type: application/x-www-form-urlencoded\r\n\r\n");
}

TEST(WebRequest, DefaultHeadersBlock) {
  EXPECT_EQ(DefaultRequestHeaders(Text("http://a.b:81/x?y")),
            Text(std::string("Referer: http://a.b:81/x?y\r\nAccept: */*\r\nAccept-Language: zh-cn\r\n"
                             "User-Agent: ") +
                 kUserAgent + "\r\nContent-Type: application/x-www-form-urlencoded"));
}

TEST(WebRequest, FillsTheCallersHeaderVariableWithTheDefaults) {
  RawHttpServer server(Answer(HttpResponse(200, "x")));
  WebRequestParams params;
  const Text address(server.Url("/p"));
  WebRequest(address, params);
  EXPECT_EQ(params.requestHeaders, DefaultRequestHeaders(address));
}

TEST(WebRequest, TimeoutTable) {
  RawHttpServer server(Answer(HttpResponse(200, "x")));
  struct Case {
    std::int32_t seconds;
    int ms;  // 7 stands for "left as the object had them"
  } cases[] = {{-1, 7}, {0, 15000}, {-5, 15000}, {INT32_MIN, 15000}, {1, 1000}, {30, 30000}, {2147483, 2147483000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.seconds);
    auto object = HttpRequest::Create();
    ASSERT_NE(object, nullptr);
    object->SetTimeouts(7, 7, 7, 7);
    WebRequestParams params;
    params.timeoutSeconds = c.seconds;
    params.requestObject = object;
    WebRequest(Text(server.Url()), params);
    EXPECT_EQ(object->CurrentTimeouts(), (HttpRequest::Timeouts{c.ms, c.ms, c.ms, c.ms}));
  }
}

TEST(WebRequest, ARealIdleTimeoutEndsInNoResponse) {
  RawHttpServer server([](RawConnection& connection, const CapturedRequest&) {
    connection.WaitForStop(std::chrono::seconds(60));
    return false;
  });
  WebRequestParams params;
  params.timeoutSeconds = 1;
  params.redirectAddress = Text("kept");
  const Bytes body = WebRequest(Text(server.Url("/slow")), params);
  EXPECT_TRUE(body.IsEmpty());
  EXPECT_TRUE(params.responseHeaders.IsEmpty());
  EXPECT_EQ(params.redirectAddress, Text("kept"));
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST(WebRequest, OnlyMethodOneIsPost) {
  RawHttpServer server(Answer(HttpResponse(200, "x")));
  for (int method : {0, 1, 2, -1}) {
    SCOPED_TRACE(method);
    WebRequestParams params;
    params.method = method;
    WebRequest(Text(server.Url("/m")), params);
    EXPECT_EQ(server.Requests().back().requestLine, method == 1 ? "POST /m HTTP/1.1" : "GET /m HTTP/1.1");
  }
}

TEST(WebRequest, PostSendsBytesBeforeText) {
  RawHttpServer server(Answer(HttpResponse(200, "x")));
  const std::string binary("\x01\0\x02", 3);
  struct Case {
    const char* text;
    std::string bytes;
    std::string sent;
  } cases[] = {
      {"a=1&b=2", "", "a=1&b=2"},
      {"", "", ""},
      {"ignored", binary, binary},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sent.size());
    WebRequestParams params;
    params.method = 1;
    params.postText = Text(c.text);
    params.postBytes = Bytes(c.bytes);
    WebRequest(Text(server.Url("/form")), params);
    const CapturedRequest sent = server.Requests().back();
    EXPECT_EQ(sent.body, c.sent);
    EXPECT_EQ(sent.Header("Content-Length"), std::to_string(c.sent.size()));
    EXPECT_EQ(sent.Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(sent.Header("Expect"), "");
  }
}

TEST(WebRequest, CallersHeadersReplaceTheDefaults) {
  RawHttpServer server(Answer(HttpResponse(200, "x")));
  struct Case {
    const char* headers;
    const char* cookies;
    std::vector<std::string> sent;  // after Host
  } cases[] = {
      {"X-Test: 1", "", {"X-Test: 1"}},
      {"X-Test: 1", "c=3; d=4", {"Cookie: c=3; d=4", "X-Test: 1"}},
      {"A: 1\r\n\r\nB: 2", "", {"A: 1", "B: 2"}},
      {"garbage\r\nB: 2\r\n", "", {"B: 2"}},
      {"no colon", "", {}},
      {"X-Url: http://a:1/b", "", {"X-Url: http://a:1/b"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.headers);
    WebRequestParams params;
    params.requestHeaders = Text(c.headers);
    params.cookies = Text(c.cookies);
    WebRequest(Text(server.Url("/h")), params);
    EXPECT_EQ(params.requestHeaders, Text(c.headers));
    std::vector<std::string> expected{"Host: " + server.HostPort()};
    expected.insert(expected.end(), c.sent.begin(), c.sent.end());
    EXPECT_EQ(server.Requests().back().headerLines, expected);
  }
}

TEST(WebRequest, TheCookieHeaderComesFirst) {
  RawHttpServer server(Answer(HttpResponse(200, "x")));
  WebRequestParams params;
  params.cookies = Text("sid=1");
  const Text address(server.Url("/c"));
  WebRequest(address, params);
  const std::vector<std::string> lines = server.Requests().back().headerLines;
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[1], "Cookie: sid=1");
  EXPECT_EQ(lines[2], "Referer: " + server.Url("/c"));
}

TEST(WebRequest, SetCookieLinesAndTheMerge) {
  struct Case {
    std::vector<std::string> responseHeaders;
    const char* cookiesIn;
    const char* received;
    const char* cookiesOut;
  } cases[] = {
      {{"Set-Cookie: a=1; path=/", "Set-Cookie: b=2; path=/"}, "", "a=1;b=2", "a=1; b=2"},
      {{"Set-Cookie: a=1; path=/", "Set-Cookie: b=2; path=/"}, "c=3", "a=1;b=2", "a=1; b=2; c=3"},
      {{"Set-Cookie: a=1"}, "", "", ""},
      {{"Set-Cookie: a=1", "Set-Cookie: b=2; path=/"}, "", ";b=2", "; b=2"},
      {{"Set-Cookie: x=hello world; path=/"}, "", "x=helloworld", "x=helloworld"},
      {{"Set-Cookie: b=deleted; path=/"}, "a=1; b=2", "b=deleted", "a=1"},
      {{"set-cookie: a=1; path=/"}, "z=9", "", "z=9"},  // the test is case-sensitive
      {{}, "a=1;  b=2", "", "a=1; b=2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cookiesIn);
    RawHttpServer server(Answer(HttpResponse(200, "x", c.responseHeaders)));
    WebRequestParams params;
    params.cookies = Text(c.cookiesIn);
    params.receivedCookies = Text("stale=1");
    WebRequest(Text(server.Url()), params);
    EXPECT_EQ(params.receivedCookies, Text(c.received));
    EXPECT_EQ(params.cookies, Text(c.cookiesOut));
  }
}

TEST(WebRequest, LocationLinesAndTheRedirectAddressFallback) {
  struct Case {
    std::vector<std::string> responseHeaders;
    const char* redirectIn;
    std::string redirectOut;  // "*" stands for the whole header text
  } cases[] = {
      {{"Location: /page:2"}, "", "/page:2"},
      {{"Location: /a", "Content-Location: /b"}, "", "/b"},
      {{"Content-Location: /b", "Location: /a"}, "old", "/a"},
      {{"location: /lower"}, "", "*"},  // the test is case-sensitive
      {{"X-Other: 1"}, "", "*"},
      {{"X-Other: 1"}, "given", "given"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.redirectOut);
    RawHttpServer server(Answer(HttpResponse(302, "moved", c.responseHeaders, "Found")));
    WebRequestParams params;
    params.noRedirect = true;
    params.redirectAddress = Text(c.redirectIn);
    const Bytes body = WebRequest(Text(server.Url()), params);
    EXPECT_EQ(body, Bytes(std::string("moved")));
    std::string headerText;
    for (const std::string& line : c.responseHeaders) headerText += line + "\r\n";
    headerText += "Content-Length: 5\r\n\r\n";
    EXPECT_EQ(params.responseHeaders, Text(headerText));
    EXPECT_EQ(params.redirectAddress, c.redirectOut == "*" ? Text(headerText) : Text(c.redirectOut));
  }
}

TEST(WebRequest, RedirectsAreFollowedUnlessSwitchedOff) {
  RawHttpServer server([](RawConnection& connection, const CapturedRequest& request) {
    if (request.Target() == "/old") {
      connection.Send(HttpResponse(302, "moved", {"Location: /new"}, "Found"));
    } else {
      connection.Send(HttpResponse(200, "new page"));
    }
    return true;
  });
  WebRequestParams following;
  EXPECT_EQ(WebRequest(Text(server.Url("/old")), following), Bytes(std::string("new page")));
  EXPECT_EQ(following.redirectAddress, following.responseHeaders);
  EXPECT_EQ(server.Requests().back().Header("Referer"), server.Url("/old"));

  WebRequestParams stopping;
  stopping.noRedirect = true;
  EXPECT_EQ(WebRequest(Text(server.Url("/old")), stopping), Bytes(std::string("moved")));
  EXPECT_EQ(stopping.redirectAddress, Text("/new"));
}

TEST(WebRequest, ErrorPagesAreReturnedLikeAnyBody) {
  RawHttpServer server(Answer(HttpResponse(404, "no such page", {}, "Not Found")));
  EXPECT_EQ(WebRequest(Text(server.Url("/gone"))), Bytes(std::string("no such page")));
}

TEST(WebRequest, GoesThroughTheProxyWithCredentials) {
  RawHttpServer proxy(Answer(HttpResponse(200, "proxied")));
  struct Case {
    const char* user;
    std::optional<int> flag;
    const char* proxyAuthorization;
    const char* authorization;
  } cases[] = {
      {"u", std::nullopt, "Basic dTpw", ""},
      {"u", 1, "Basic dTpw", ""},
      {"u", 0, "", "Basic dTpw"},  // a given 0 is read, not taken for "left out"
      {"", std::nullopt, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.user);
    WebRequestParams params;
    params.proxy = Text(proxy.HostPort());
    params.proxyUser = Text(c.user);
    params.proxyPassword = Text("p");
    params.proxyCredentialsFlag = c.flag;
    EXPECT_EQ(WebRequest(Text("http://blog.example.invalid/page/1"), params), Bytes(std::string("proxied")));
    const CapturedRequest seen = proxy.Requests().back();
    EXPECT_EQ(seen.requestLine, "GET http://blog.example.invalid/page/1 HTTP/1.1");
    EXPECT_EQ(seen.Header("Proxy-Authorization"), c.proxyAuthorization);
    EXPECT_EQ(seen.Header("Authorization"), c.authorization);
  }
}

TEST(WebRequest, CredentialsWithoutProxyAreNotUsed) {
  RawHttpServer server(Answer(HttpResponse(200, "direct")));
  WebRequestParams params;
  params.proxyUser = Text("u");
  params.proxyPassword = Text("p");
  params.proxyCredentialsFlag = 0;
  EXPECT_EQ(WebRequest(Text(server.Url("/d")), params), Bytes(std::string("direct")));
  const CapturedRequest seen = server.Requests().back();
  EXPECT_EQ(seen.requestLine, "GET /d HTTP/1.1");
  EXPECT_EQ(seen.Header("Proxy-Authorization"), "");
  EXPECT_EQ(seen.Header("Authorization"), "");
}

TEST(WebRequest, FailedObjectCreationLeavesEverythingAsGiven) {
  WebRequestParams params;
  params.cookies = Text("a=1;  b=2");
  params.receivedCookies = Text("r");
  params.redirectAddress = Text("somewhere");
  params.responseHeaders = Text("old");
  bool asked = false;
  const Bytes body = WebRequest(Text("http://127.0.0.1:9/"), params, [&asked] {
    asked = true;
    return std::shared_ptr<HttpRequest>();
  });
  EXPECT_TRUE(asked);
  EXPECT_TRUE(body.IsEmpty());
  EXPECT_EQ(params.cookies, Text("a=1;  b=2"));
  EXPECT_EQ(params.receivedCookies, Text("r"));
  EXPECT_TRUE(params.requestHeaders.IsEmpty());
  EXPECT_EQ(params.redirectAddress, Text("somewhere"));
  EXPECT_EQ(params.responseHeaders, Text("old"));
  EXPECT_EQ(apartment::Depth(), 0);
}

TEST(WebRequest, NoResponseStillRewritesCookiesAndHeaders) {
  const std::string url = RefusedUrl();
  struct Case {
    const char* redirectIn;
    const char* redirectOut;
  } cases[] = {{"kept", "kept"}, {"", ""}};
  for (const Case& c : cases) {
    WebRequestParams params;
    params.cookies = Text("a=1;  b=2");
    params.receivedCookies = Text("r");
    params.responseHeaders = Text("old");
    params.redirectAddress = Text(c.redirectIn);
    EXPECT_TRUE(WebRequest(Text(url), params).IsEmpty());
    EXPECT_EQ(params.cookies, Text("a=1; b=2"));
    EXPECT_TRUE(params.receivedCookies.IsEmpty());
    EXPECT_TRUE(params.responseHeaders.IsEmpty());
    EXPECT_EQ(params.requestHeaders, DefaultRequestHeaders(Text(url)));
    EXPECT_EQ(params.redirectAddress, Text(c.redirectOut));
    EXPECT_EQ(apartment::Depth(), 0);
  }
}

TEST(WebRequest, ALentObjectIsBorrowedNotTaken) {
  RawHttpServer server(Answer(HttpResponse(201, "made")));
  auto object = HttpRequest::Create();
  ASSERT_NE(object, nullptr);
  bool asked = false;
  WebRequestParams params;
  params.requestObject = object;
  params.noRedirect = true;
  EXPECT_EQ(WebRequest(Text(server.Url()), params, [&asked] {
              asked = true;
              return HttpRequest::Create();
            }),
            Bytes(std::string("made")));
  EXPECT_FALSE(asked);
  params.requestObject.reset();
  EXPECT_EQ(object.use_count(), 1);
  // The object keeps what the request left in it.
  EXPECT_EQ(object->Status(), 201);
  EXPECT_FALSE(object->RedirectsEnabled());
  EXPECT_EQ(object->IgnoredCertificateErrors(), HttpRequest::kIgnoreAllCertificateErrors);
}

TEST(WebRequest, HostileAnswersEndInEmptyResults) {
  RawHttpServer server([](RawConnection& connection, const CapturedRequest& request) {
    const std::string target = request.Target();
    if (target == "/loop") {
      connection.Send(HttpResponse(302, "", {"Location: /loop"}, "Found"));
      return true;
    } else if (target == "/ftp") {
      connection.Send(HttpResponse(302, "", {"Location: ftp://127.0.0.1/x"}, "Found"));
    } else if (target == "/reset") {
      connection.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(1000, 'x'));
      connection.Reset();
    } else if (target == "/no-colon") {
      connection.Send("HTTP/1.1 200 OK\r\nno colon\r\nContent-Length: 2\r\n\r\nok");
    } else if (target == "/huge-headers") {
      std::string head = "HTTP/1.1 200 OK\r\n";
      while (head.size() < 200 * 1024) head += "Set-Cookie: " + std::string(100, 'c') + "=1; path=/\r\n";
      connection.Send(head + "Content-Length: 2\r\n\r\nok");
    } else if (target == "/silent") {
      connection.WaitForStop(std::chrono::seconds(60));
    }
    return false;
  });
  for (const char* target : {"/loop", "/ftp", "/reset", "/no-colon", "/huge-headers", "/silent"}) {
    SCOPED_TRACE(target);
    WebRequestParams params;
    params.timeoutSeconds = 1;
    EXPECT_TRUE(WebRequest(Text(server.Url(target)), params).IsEmpty());
    EXPECT_TRUE(params.responseHeaders.IsEmpty());
    EXPECT_TRUE(params.receivedCookies.IsEmpty());
    EXPECT_EQ(apartment::Depth(), 0);
  }
}

TEST(WebRequest, BodiesOverTheCapCountAsNoResponse) {
  // Chunked, so that only counting what arrives can catch it.
  RawHttpServer server([](RawConnection& connection, const CapturedRequest&) {
    connection.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
    const std::string chunk(1024 * 1024, 'p');
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", chunk.size());
    for (std::uint64_t sent = 0; sent <= kMaxResponseBodyBytes; sent += chunk.size()) {
      if (!connection.Send(size + chunk + "\r\n")) return false;
    }
    connection.Send("0\r\n\r\n");
    return false;
  });
  WebRequestParams params;
  EXPECT_TRUE(WebRequest(Text(server.Url("/big")), params).IsEmpty());
  EXPECT_TRUE(params.responseHeaders.IsEmpty());
}

TEST(WebRequest, SeveralThreadsAtOnce) {
  RawHttpServer server([](RawConnection& connection, const CapturedRequest& request) {
    connection.Send(HttpResponse(200, "page " + request.Target(), {"Set-Cookie: t=" + request.Target().substr(1) + ";"}));
    return true;
  });
  std::vector<std::thread> threads;
  std::vector<int> good(6, 0);
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 5; ++i) {
        const std::string name = std::to_string(t) + "x" + std::to_string(i);
        WebRequestParams params;
        const Bytes body = WebRequest(Text(server.Url("/" + name)), params);
        if (body == Bytes("page /" + name) && params.cookies == Text("t=" + name) &&
            apartment::Depth() == 0) {
          ++good[t];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int count : good) EXPECT_EQ(count, 5);
}

}  // namespace

#include "platform/file_fetch.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/connect_to.h"
#include "support/raw_http_server.h"
#include "support/scoped_env.h"

namespace {

using testing_support::CapturedRequest;
using testing_support::HttpResponse;
using testing_support::RawConnection;
using testing_support::RawHttpServer;


std::string Pattern(std::size_t size) {
  std::string data(size, '\0');
  unsigned value = 12345;
  for (char& c : data) {
    value = value * 1103515245u + 12345u;
    c = static_cast<char>(value >> 24);
  }
  return data;
}

// Answers by path: /ok/<n> n bytes, /status/<code>, /short, /reset, /stall,
// /redirect, /close (no Content-Length, ends by closing).
RawHttpServer::Responder Videos() {
  return [](RawConnection& connection, const CapturedRequest& request) {
    const std::string target = request.Target();
    if (target.rfind("/ok/", 0) == 0) {
      connection.Send(HttpResponse(200, Pattern(std::stoul(target.substr(4)))));
    } else if (target.rfind("/status/", 0) == 0) {
      connection.Send(HttpResponse(std::stoi(target.substr(8)), "error page", {}, "Error"));
    } else if (target == "/short") {
      connection.Send("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n" + std::string(40, 's'));
      return false;
    } else if (target == "/reset") {
      connection.Send("HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(5000, 'r'));
      connection.Reset();
    } else if (target == "/stall") {
      connection.Send("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n" + std::string(30, 't'));
      connection.WaitForStop(std::chrono::seconds(60));
      return false;
    } else if (target == "/redirect") {
      connection.Send(HttpResponse(302, "moved", {"Location: /ok/20000"}, "Found"));
    } else if (target == "/close") {
      connection.Send("HTTP/1.0 200 OK\r\n\r\nuntil the end");
      return false;
    } else {
      connection.Send(HttpResponse(404, "no such video", {}, "Not Found"));
    }
    return true;
  };
}

TEST(FetchFile, SendsAPlainHttp10GetStraightToTheServer) {
  RawHttpServer server(Videos());
  testing_support::ScopedEnv proxy("http_proxy", "http://127.0.0.1:9/");
  testing_support::ScopedEnv upper("HTTP_PROXY", "http://127.0.0.1:9/");
  const FileFetchResult result = FetchFile(Text(server.Url("/ok/5")));
  EXPECT_TRUE(result.complete);
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].head,
            "GET /ok/5 HTTP/1.0\r\nHost: " + server.HostPort() +
                "\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)\r\nAccept: */*\r\n\r\n");
}

TEST(FetchFile, ReportsStatusAndCompleteness) {
  RawHttpServer server(Videos());
  struct Case {
    std::string path;
    std::string body;
    int status;
    bool complete;
  } cases[] = {
      {"/ok/30000", Pattern(30000), 200, true},
      {"/ok/0", "", 200, true},
      {"/status/404", "error page", 404, true},
      {"/status/500", "error page", 500, true},
      {"/redirect", Pattern(20000), 200, true},
      {"/close", "until the end", 200, true},
      {"/short", std::string(40, 's'), 200, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const FileFetchResult result = FetchFile(Text(server.Url(c.path)));
    EXPECT_EQ(result.body, Bytes(c.body));
    EXPECT_EQ(result.bytesReceived, c.body.size());
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.complete, c.complete);
  }
}

TEST(FetchFile, ResetMidBodyKeepsWhatArrived) {
  RawHttpServer server(Videos());
  const FileFetchResult result = FetchFile(Text(server.Url("/reset")));
  EXPECT_FALSE(result.complete);
  EXPECT_EQ(result.status, 200);
  // A reset may discard bytes still in flight, but never adds any.
  EXPECT_LE(result.body.Length(), 5000u);
  EXPECT_EQ(result.body.Data(), std::string(result.body.Length(), 'r'));
}

TEST(FetchFile, AbandonsATransferThatStalls) {
  RawHttpServer server(Videos());
  FileFetchOptions options;
  options.stallLimit = std::chrono::seconds(1);
  const FileFetchResult result = FetchFile(Text(server.Url("/stall")), options);
  EXPECT_FALSE(result.complete);
  EXPECT_EQ(result.status, 200);
  EXPECT_EQ(result.body, Bytes(std::string(30, 't')));
}

TEST(FetchFile, NothingForAddressesItCannotUse) {
  RawHttpServer server(Videos());
  for (const std::string& url : {std::string(), std::string("not an address"), std::string("http://"),
                                 std::string("ftp://127.0.0.1/video.mp4"), std::string("http://[::1")}) {
    SCOPED_TRACE(url);
    const FileFetchResult result = FetchFile(Text(url));
    EXPECT_TRUE(result.body.IsEmpty());
    EXPECT_FALSE(result.complete);
    EXPECT_EQ(result.status, 0);
  }
  EXPECT_TRUE(server.Requests().empty());
}

TEST(FetchFile, NothingWithoutAServer) {
  RawHttpServer* gone = new RawHttpServer(Videos());
  const std::string url = gone->Url("/ok/10");
  delete gone;
  const FileFetchResult result = FetchFile(Text(url));
  EXPECT_TRUE(result.body.IsEmpty());
  EXPECT_FALSE(result.complete);
  EXPECT_EQ(result.status, 0);
}

TEST(FetchFile, StreamsIntoAnOpenFile) {
  RawHttpServer server(Videos());
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  FileFetchOptions options;
  options.fd = ::fileno(file);
  const std::size_t size = 3 * 1024 * 1024 + 17;
  const FileFetchResult result = FetchFile(Text(server.Url("/ok/" + std::to_string(size))), options);
  EXPECT_TRUE(result.complete);
  EXPECT_TRUE(result.body.IsEmpty());
  EXPECT_EQ(result.bytesReceived, size);

  std::string written(size + 1, '\0');
  std::rewind(file);
  written.resize(std::fread(written.data(), 1, written.size(), file));
  std::fclose(file);
  EXPECT_EQ(written, Pattern(size));
}

TEST(FetchFile, StreamsIntoASinkThatCanStopIt) {
  RawHttpServer server(Videos());
  std::string received;
  FileFetchOptions options;
  options.sink = [&received](std::string_view piece) {
    received.append(piece);
    return true;
  };
  FileFetchResult result = FetchFile(Text(server.Url("/ok/100000")), options);
  EXPECT_TRUE(result.complete);
  EXPECT_EQ(received, Pattern(100000));

  options.sink = [](std::string_view) { return false; };
  result = FetchFile(Text(server.Url("/ok/100000")), options);
  EXPECT_FALSE(result.complete);
  EXPECT_EQ(result.bytesReceived, 0u);
}

TEST(FetchFile, RoutesThroughConnectToKeepingTheHost) {
  RawHttpServer server(Videos());
  testing_support::ScopedEnv route(connect_to::kVariable, server.HostPort().c_str());
  const FileFetchResult result = FetchFile(Text("http://vt.example.invalid/ok/10"));
  EXPECT_TRUE(result.complete);
  EXPECT_EQ(result.body, Bytes(Pattern(10)));
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].Header("Host"), "vt.example.invalid");
}

TEST(FetchFile, SeveralThreadsAtOnce) {
  RawHttpServer server(Videos());
  std::vector<std::thread> threads;
  std::vector<int> good(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 4; ++i) {
        const std::size_t size = 50000 + static_cast<std::size_t>(t * 10 + i);
        const FileFetchResult result = FetchFile(Text(server.Url("/ok/" + std::to_string(size))));
        if (result.complete && result.body == Bytes(Pattern(size))) ++good[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int count : good) EXPECT_EQ(count, 4);
}

}  // namespace

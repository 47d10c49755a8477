// Whole batches (RunBatch with a window that records what it is told, and
// the harvester as its workers) against servers that misbehave on purpose
// and folders that change or fail under the batch. Whatever happens, the
// batch must end with its completion message, no file may stand at a
// target path unless it is a whole video, no staged download may be left
// behind, and the failed list must hold exactly the addresses of the videos
// that were not kept.

#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/batch_scheduler.h"
#include "engine/harvester.h"
#include "fake_blog_service.h"
#include "pagetext/codepage936.h"
#include "raw_http_server.h"
#include "temp_folder.h"
#include "test_certificate.h"
#include "values/text_ops.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::BlogPageMarkup;
using testing_support::CapturedRequest;
using testing_support::EntryNames;
using testing_support::HttpResponse;
using testing_support::RawConnection;
using testing_support::RawHttpServer;
using testing_support::ReadFile;
using testing_support::TempFolder;
using testing_support::VideoBytes;
using testing_support::WriteFile;

using Responder = RawHttpServer::Responder;

const std::string kFailedList = "视频.txt";
const std::string kDoneMessage = "学术视频下载完成";
const std::string kVideoHost = "vt.tumblr.com";
// The longest a responder holds a connection open; the server's destructor
// wakes it sooner.
constexpr auto kHold = 120s;
// How long a test waits for something that should happen within moments.
constexpr auto kPatience = 60s;

std::string VideoTarget(const std::string& mediaId) { return "/tumblr_" + mediaId + ".mp4"; }
std::string VideoUrl(const std::string& mediaId) { return "http://" + kVideoHost + VideoTarget(mediaId); }
std::string BlogHost(const std::string& blog) { return blog + ".tumblr.com"; }

// A page with one video post whose slug and media id are both `name`.
std::string PostPage(const std::string& name) { return BlogPageMarkup(name, {{"7", name, true, name}}); }

std::string PageResponse(const std::string& markup) {
  return HttpResponse(200, markup, {"Content-Type: text/html; charset=utf-8"});
}

// The status line and header lines with the blank line, nothing else.
std::string Head(const std::string& statusLine, const std::vector<std::string>& headers) {
  std::string head = statusLine + "\r\n";
  for (const std::string& line : headers) head += line + "\r\n";
  return head + "\r\n";
}

std::string Chunk(std::string_view data) {
  char size[32];
  std::snprintf(size, sizeof size, "%zx\r\n", data.size());
  return size + std::string(data) + "\r\n";
}

// Header lines of about `bytes` bytes in all.
std::vector<std::string> FillerHeaders(std::size_t bytes) {
  std::vector<std::string> lines;
  for (std::size_t total = 0, i = 0; total < bytes; ++i) {
    lines.push_back("X-Filler-" + std::to_string(i) + ": " + std::string(1000, 'f'));
    total += lines.back().size() + 2;
  }
  return lines;
}

// Responders. Each ends its connection when it returns.
Responder Sends(std::string bytes) {
  return [bytes](RawConnection& connection, const CapturedRequest&) {
    connection.Send(bytes);
    return false;
  };
}

Responder SendsThenHolds(std::string bytes) {
  return [bytes](RawConnection& connection, const CapturedRequest&) {
    connection.Send(bytes);
    connection.WaitForStop(kHold);
    return false;
  };
}

Responder SendsThenResets(std::string bytes) {
  return [bytes](RawConnection& connection, const CapturedRequest&) {
    connection.Send(bytes);
    connection.Reset();
    return false;
  };
}

// The head a byte at a time and the body in small pieces, `pause` apart,
// with one long pause (still under any idle limit) half-way.
Responder Trickles(std::string head, std::string body, std::chrono::milliseconds pause,
                   std::chrono::milliseconds halfwayPause) {
  return [=](RawConnection& connection, const CapturedRequest&) {
    for (char byte : head) {
      if (!connection.Send(std::string_view(&byte, 1))) return false;
      std::this_thread::sleep_for(pause);
    }
    constexpr std::size_t kPiece = 64;
    for (std::size_t offset = 0; offset < body.size(); offset += kPiece) {
      if (offset / kPiece == body.size() / kPiece / 2) std::this_thread::sleep_for(halfwayPause);
      if (!connection.Send(std::string_view(body).substr(offset, kPiece))) return false;
      std::this_thread::sleep_for(pause);
    }
    return false;
  };
}

// `start`, then filler for ever: until the client gives up, or, should it
// never do so, up to a guard far above any cap.
Responder Endless(std::string start, bool chunked) {
  return [start, chunked](RawConnection& connection, const CapturedRequest&) {
    const std::string head = chunked ? Head("HTTP/1.1 200 OK", {"Content-Type: text/html", "Transfer-Encoding: chunked"})
                                     : Head("HTTP/1.1 200 OK", {"Content-Type: text/html", "Connection: close"});
    const std::string filler(64 * 1024, 'z');
    const auto framed = [chunked](const std::string& data) { return chunked ? Chunk(data) : data; };
    if (!connection.Send(head) || !connection.Send(framed(start))) return false;
    constexpr std::size_t kGuardBytes = 1024ull * 1024 * 1024;
    for (std::size_t sent = 0; sent < kGuardBytes; sent += filler.size()) {
      if (!connection.Send(framed(filler))) break;
    }
    return false;
  };
}

Responder RedirectsTo(const std::string& location, std::string body = "") {
  return Sends(HttpResponse(302, body, {"Location: " + location, "Content-Type: text/html"}, "Found"));
}

// Opened once by the test; waiters give up after a generous limit so that a
// broken test ends instead of hanging.
class Gate {
 public:
  void Open() {
    {
      std::lock_guard lock(mutex_);
      open_ = true;
    }
    changed_.notify_all();
  }
  void Wait() {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, kPatience, [this] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
};

class Arrivals {
 public:
  void Arrive() {
    {
      std::lock_guard lock(mutex_);
      ++count_;
    }
    changed_.notify_all();
  }
  bool WaitFor(int count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kPatience, [&] { return count_ >= count; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int count_ = 0;
};

// A loopback server that answers each request with the responder registered
// for its Host header and path; anything else gets a short 404.
class HostileService {
 public:
  HostileService()
      : server_([this](RawConnection& connection, const CapturedRequest& request) {
          return Dispatch(connection, request);
        }) {}

  void On(const std::string& host, const std::string& path, Responder responder) {
    std::lock_guard lock(mutex_);
    routes_[host + " " + path] = std::move(responder);
  }

  int Port() const { return server_.Port(); }
  std::string ConnectTo() const { return server_.HostPort(); }

  // How often `path` was asked of `host`.
  int Count(const std::string& host, const std::string& path) const {
    int count = 0;
    for (const CapturedRequest& request : server_.Requests()) {
      count += HostOf(request) == host && request.Target() == path;
    }
    return count;
  }

 private:
  static std::string HostOf(const CapturedRequest& request) {
    std::string host = request.Header("Host");
    return host.substr(0, host.find(':'));
  }

  bool Dispatch(RawConnection& connection, const CapturedRequest& request) {
    Responder responder;
    {
      std::lock_guard lock(mutex_);
      if (auto it = routes_.find(HostOf(request) + " " + request.Target()); it != routes_.end()) {
        responder = it->second;
      }
    }
    if (!responder) responder = Sends(HttpResponse(404, "not here", {}, "Not Found"));
    return responder(connection, request);
  }

  mutable std::mutex mutex_;
  std::map<std::string, Responder> routes_;
  RawHttpServer server_;  // last: it stops before the routes go
};

// Listens on one port and passes each connection on by its first byte: a
// TLS handshake to one server, anything else to another, so that a single
// BRELLOC_CONNECT_TO address serves plain and encrypted hops alike.
class ProtocolSplitter {
 public:
  ProtocolSplitter(int plainPort, int tlsPort) : plainPort_(plainPort), tlsPort_(tlsPort) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 64);
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
  }
  ~ProtocolSplitter() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
      for (int fd : open_) ::shutdown(fd, SHUT_RDWR);
    }
    ::shutdown(listener_, SHUT_RDWR);
    acceptor_.join();
    ::close(listener_);
    for (std::thread& relay : relays_) relay.join();
  }
  ProtocolSplitter(const ProtocolSplitter&) = delete;
  ProtocolSplitter& operator=(const ProtocolSplitter&) = delete;

  std::string ConnectTo() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  static sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
  }

  void AcceptLoop() {
    for (;;) {
      const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;
      std::lock_guard lock(mutex_);
      if (stopping_) {
        ::close(fd);
        return;
      }
      open_.push_back(fd);
      relays_.emplace_back([this, fd] { Relay(fd); });
    }
  }

  void Relay(int client) {
    pollfd wait{client, POLLIN, 0};
    unsigned char first = 0;
    int backend = -1;
    if (::poll(&wait, 1, 60000) == 1 && ::recv(client, &first, 1, MSG_PEEK) == 1) {
      backend = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      const sockaddr_in address = Loopback(first == 0x16 ? tlsPort_ : plainPort_);
      if (::connect(backend, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(backend);
        backend = -1;
      }
    }
    if (backend >= 0) {
      {
        std::lock_guard lock(mutex_);
        open_.push_back(backend);
        if (stopping_) ::shutdown(backend, SHUT_RDWR);
      }
      Pump(client, backend);
    }
    std::lock_guard lock(mutex_);
    for (int fd : {client, backend}) {
      if (fd < 0) continue;
      std::erase(open_, fd);
      ::close(fd);
    }
  }

  // Copies bytes both ways, passing on each side's end, until both ended or
  // one failed.
  static void Pump(int a, int b) {
    bool reading[2] = {true, true};
    const int from[2] = {a, b};
    const int to[2] = {b, a};
    char buffer[64 * 1024];
    while (reading[0] || reading[1]) {
      pollfd fds[2] = {{a, static_cast<short>(reading[0] ? POLLIN : 0), 0},
                       {b, static_cast<short>(reading[1] ? POLLIN : 0), 0}};
      if (::poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      for (int side = 0; side < 2; ++side) {
        if (!reading[side] || fds[side].revents == 0) continue;
        const ssize_t n = ::recv(from[side], buffer, sizeof buffer, 0);
        if (n < 0) return;
        if (n == 0) {
          reading[side] = false;
          ::shutdown(to[side], SHUT_WR);
          continue;
        }
        for (ssize_t done = 0; done < n;) {
          const ssize_t sent = ::send(to[side], buffer + done, static_cast<std::size_t>(n - done), MSG_NOSIGNAL);
          if (sent <= 0) return;
          done += sent;
        }
      }
    }
  }

  int plainPort_;
  int tlsPort_;
  int listener_ = -1;
  int port_ = 0;
  std::thread acceptor_;
  std::mutex mutex_;
  bool stopping_ = false;
  std::vector<int> open_;
  std::vector<std::thread> relays_;
};

// Stands in for the window and keeps what the batch told it.
class RecordingWindow : public BatchWindow {
 public:
  RecordingWindow(const std::vector<std::string>& blogs, int threads) {
    std::string box;
    for (const std::string& blog : blogs) box += (box.empty() ? "" : "\r\n") + blog;
    texts_[BatchControl::BlogBox] = TextFromUtf8(box);
    texts_[BatchControl::StartPageBox] = Text("1");
    texts_[BatchControl::PageCountBox] = Text("1");
    texts_[BatchControl::ThreadCountBox] = IntegerToText(threads);
  }
  Text ControlText(BatchControl control) override { return texts_[control]; }
  void SetControlText(BatchControl control, const Text& text) override { texts_[control] = text; }
  void EnableControl(BatchControl control, bool enabled) override { enabled_[control] = enabled; }
  void SetCaption(const Text& caption) override { caption_ = TextToUtf8(caption); }
  void ShowMessage(const Text& message, const Text&) override { messages_.push_back(TextToUtf8(message)); }

  const std::vector<std::string>& Messages() const { return messages_; }
  const std::string& Caption() const { return caption_; }
  bool Enabled(BatchControl control) { return enabled_[control]; }

 private:
  std::map<BatchControl, Text> texts_;
  std::map<BatchControl, bool> enabled_;
  std::string caption_;
  std::vector<std::string> messages_;
};

// One batch over page 1 of `blogs` with `threads` workers, each harvesting
// with `settings` and the batch's own DownloadLock. Checks that the batch
// ended as a batch ends: the controls given back, the caption restored, the
// completion message shown once.
void RunHarvestBatch(const std::vector<std::string>& blogs, int threads, const HarvestSettings& settings) {
  RecordingWindow window(blogs, threads);
  BatchSeams seams;
  seams.harvest = [&settings](const Text& blog, std::int32_t page) {
    HarvestSettings own = settings;
    own.failedListLock = &*DownloadLock;
    HarvestBlogPageWith(own, blog, page);
  };
  RunBatch(window, seams);
  EXPECT_EQ(window.Messages(), std::vector<std::string>{kDoneMessage});
  EXPECT_EQ(window.Caption(), "Brelloc");
  EXPECT_TRUE(window.Enabled(BatchControl::DownloadButton));
  EXPECT_TRUE(window.Enabled(BatchControl::BlogBox));
  EXPECT_EQ(ActiveWorkers.load(), 0);
}

std::vector<std::string> SortedLines(const std::vector<std::string>& addresses) {
  std::vector<std::string> lines = addresses;
  std::sort(lines.begin(), lines.end());
  return lines;
}

// The failed list's lines, sorted (workers finish in any order); each line
// must end in CR LF.
std::vector<std::string> FailedLines(const fs::path& folder) {
  const std::string list = ReadFile(folder / kFailedList);
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < list.size()) {
    const std::size_t end = list.find("\r\n", start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "unfinished last line: " << list.substr(start);
      lines.push_back(list.substr(start));
      break;
    }
    lines.push_back(list.substr(start, end - start));
    start = end + 2;
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

// `folder` holds exactly `files` (name -> whole body), no staged download,
// and a failed list of exactly `failedAddresses` (none: no list at all).
void ExpectFolderHolds(const fs::path& folder, const std::map<std::string, std::string>& files,
                       const std::vector<std::string>& failedAddresses) {
  std::vector<std::string> expectedNames;
  for (const auto& [name, body] : files) expectedNames.push_back(name);
  if (!failedAddresses.empty()) expectedNames.push_back(kFailedList);
  std::sort(expectedNames.begin(), expectedNames.end());
  EXPECT_EQ(EntryNames(folder), expectedNames);
  for (const auto& [name, body] : files) {
    const std::string found = ReadFile(folder / name);
    EXPECT_TRUE(found == body) << name << ": " << found.size() << " bytes, expected " << body.size();
  }
  if (!failedAddresses.empty()) {
    EXPECT_EQ(FailedLines(folder), SortedLines(failedAddresses));
  }
}

class HostileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    videos = root.Path() / "视频";
    fs::create_directory(videos);
    settings.videoFolder = TextFromUtf8(videos.string());
    // Short, so that a video that stops moving is given up well within the
    // page fetches' own 15 s, yet long enough for a whole video to keep
    // moving on a busy machine under a sanitizer.
    settings.stallLimit = 10s;
    Route(service.ConnectTo());
  }
  void TearDown() override { ::unsetenv("BRELLOC_CONNECT_TO"); }

  static void Route(const std::string& connectTo) { ::setenv("BRELLOC_CONNECT_TO", connectTo.c_str(), 1); }

  // A blog whose page 1 holds one video post named `name`.
  void PostBlog(const std::string& name) { service.On(BlogHost(name), "/page/1", Sends(PageResponse(PostPage(name)))); }

  TempFolder root;
  fs::path videos;
  HarvestSettings settings;
  HostileService service;
};

// What becomes of a case's one video.
enum class Fate {
  Saved,     // fetched and kept
  Failed,    // fetched, not kept, recorded
  PageLost,  // the page counts as no page: the video is never asked for
};

struct HostileCase {
  std::string name;     // the blog, and the slug and media id of its one video post
  Responder page;       // empty: the page with that post
  Responder video;      // empty: a whole video of 20000 bytes
  Fate fate;
  std::string keptBody;  // what a saved video holds when `video` is not empty
  std::function<void(const HostileService&)> check;
};

TEST_F(HostileTest, MisbehavingServersNeitherStopTheBatchNorLeaveHalfFiles) {
  const std::string hopBase = "http://" + BlogHost("ten-redirects") + "/hop/";
  const std::string body30k = VideoBytes(60000, 'h').substr(0, 30000);
  const std::string body60k = VideoBytes(60000, 'h');
  const std::string big = VideoBytes(1024 * 1024, 'b');
  const std::string ftpUrl = "ftp://127.0.0.1:" + std::to_string(service.Port()) + "/pub/";
  const fs::path localPage = root.Path() / "local-page.html";
  const fs::path localVideo = root.Path() / "local-video.mp4";
  const std::string localVideoBody = VideoBytes(20000, 'l');
  WriteFile(localPage, PostPage("redirect-to-file"));
  WriteFile(localVideo, localVideoBody);

  const auto requestsOf = [](std::string host, std::string path, int expected) {
    return [=](const HostileService& s) { EXPECT_EQ(s.Count(host, path), expected) << host << path; };
  };
  std::vector<std::string> cookies;
  for (int i = 0; cookies.size() * 40 < 60 * 1024; ++i) {
    cookies.push_back("Set-Cookie: cookie" + std::to_string(i) + "=" + std::string(10, 'c') + "; Path=/");
  }
  cookies.push_back("Content-Type: text/html");
  std::string cutPage = PostPage("page-stalls-after-post");
  const std::size_t afterPost = cutPage.find("</article>", cutPage.find("<article class=\"video")) + 10;

  // All cases run in one batch, one worker each, so that those that wait
  // out a time limit do so side by side.
  const std::vector<HostileCase> cases = {
      // Pages. One that stops moving is given up after 15 s; one that is
      // slow but keeps within every limit must still work.
      {"silent-page", SendsThenHolds(""), {}, Fate::PageLost, {}, {}},
      {"head-then-silence",
       SendsThenHolds(Head("HTTP/1.1 200 OK", {"Content-Length: 5000", "Content-Type: text/html"})), {},
       Fate::PageLost, {}, {}},
      {"page-stalls-after-post",
       SendsThenHolds(Head("HTTP/1.1 200 OK", {"Content-Length: " + std::to_string(cutPage.size())}) +
                      cutPage.substr(0, afterPost)),
       {}, Fate::PageLost, {}, {}},
      {"page-cut-short",
       Sends(Head("HTTP/1.1 200 OK", {"Content-Length: " + std::to_string(cutPage.size())}) +
             cutPage.substr(0, afterPost)),
       {}, Fate::PageLost, {}, {}},
      {"page-reset",
       SendsThenResets(Head("HTTP/1.1 200 OK", {"Content-Length: " + std::to_string(cutPage.size())}) +
                       cutPage.substr(0, afterPost)),
       {}, Fate::PageLost, {}, {}},
      {"trickling-page",
       Trickles(Head("HTTP/1.1 200 OK", {"Content-Type: text/html; charset=utf-8",
                                         "Content-Length: " + std::to_string(PostPage("trickling-page").size())}),
                PostPage("trickling-page"), 2ms, 3000ms),
       {}, Fate::Saved, {}, {}},
      {"endless-page", Endless(PostPage("endless-page"), false), {}, Fate::PageLost, {}, {}},
      {"endless-chunked-page", Endless(PostPage("endless-chunked-page"), true), {}, Fate::PageLost, {}, {}},
      {"eight-mib-page", Sends(PageResponse("<!--" + std::string(8 << 20, '-') + "-->" + PostPage("eight-mib-page"))),
       {}, Fate::Saved, {}, {}},
      {"huge-headers", Sends(HttpResponse(200, PostPage("huge-headers"), FillerHeaders(100 * 1024))), {},
       Fate::PageLost, {}, {}},
      {"large-headers", Sends(HttpResponse(200, PostPage("large-headers"), FillerHeaders(48 * 1024))), {},
       Fate::Saved, {}, {}},
      // A malformed header block counts as no response.
      {"header-without-colon",
       Sends(HttpResponse(200, PostPage("header-without-colon"), {"Content-Type: text/html", "No colon here"})), {},
       Fate::PageLost, {}, {}},
      {"no-status-line", Sends(PostPage("no-status-line")), {}, Fate::PageLost, {}, {}},
      {"cookie-flood", Sends(HttpResponse(200, PostPage("cookie-flood"), cookies)), {}, Fate::Saved, {}, {}},
      // The page text ends at its first NUL.
      {"nul-before-post", Sends(PageResponse(std::string("<p>\0</p>", 8) + PostPage("nul-before-post"))), {},
       Fate::PageLost, {}, {}},
      {"nul-after-post", Sends(PageResponse(PostPage("nul-after-post") + std::string("<p>\0</p>", 8))), {},
       Fate::Saved, {}, {}},
      {"redirect-loop", RedirectsTo("http://" + BlogHost("redirect-loop") + "/page/1"), {}, Fate::PageLost, {},
       requestsOf(BlogHost("redirect-loop"), "/page/1", 11)},
      {"ten-redirects", RedirectsTo(hopBase + "1"), {}, Fate::Saved, {}, {}},
      {"redirect-to-file", RedirectsTo("file://" + localPage.string()), {}, Fate::PageLost, {}, {}},
      {"redirect-to-ftp", RedirectsTo(ftpUrl + "page"), {}, Fate::PageLost, {}, {}},
      // Videos. Only a whole answer of 2xx is kept, whatever comes before
      // or after it.
      {"video-silent", {}, SendsThenHolds(""), Fate::Failed, {}, {}},
      {"video-head-then-silence", {}, SendsThenHolds(Head("HTTP/1.0 200 OK", {"Content-Length: 60000"})),
       Fate::Failed, {}, {}},
      {"video-stalls", {}, SendsThenHolds(Head("HTTP/1.0 200 OK", {"Content-Length: 60000"}) + body30k),
       Fate::Failed, {}, {}},
      {"video-resets", {}, SendsThenResets(Head("HTTP/1.0 200 OK", {"Content-Length: 60000"}) + body30k),
       Fate::Failed, {}, {}},
      {"video-announces-more", {}, Sends(Head("HTTP/1.0 200 OK", {"Content-Length: 60000"}) + body30k),
       Fate::Failed, {}, {}},
      {"video-last-chunk-missing", {},
       Sends(Head("HTTP/1.1 200 OK", {"Transfer-Encoding: chunked"}) + Chunk(body30k) + Chunk(body30k)),
       Fate::Failed, {}, {}},
      // What comes after the announced length is not the body's.
      {"video-announces-less", {}, Sends(Head("HTTP/1.0 200 OK", {"Content-Length: 20000"}) + body30k),
       Fate::Saved, body30k.substr(0, 20000), {}},
      {"video-until-close", {}, Sends(Head("HTTP/1.0 200 OK", {"Content-Type: video/mp4"}) + body60k),
       Fate::Saved, body60k, {}},
      {"video-trickles", {},
       Trickles(Head("HTTP/1.0 200 OK", {"Content-Length: 12000"}), body60k.substr(0, 12000), 1ms, 500ms),
       Fate::Saved, body60k.substr(0, 12000), {}},
      {"video-chunked", {},
       Sends(Head("HTTP/1.1 200 OK", {"Transfer-Encoding: chunked"}) + Chunk(body30k) + Chunk(body30k) + Chunk("")),
       Fate::Saved, body30k + body30k, {}},
      // Taken byte for byte, whatever the headers say of the body.
      {"video-labelled-gzip", {}, Sends(HttpResponse(200, body60k, {"Content-Encoding: gzip"})), Fate::Saved,
       body60k, {}},
      {"video-bad-length", {}, Sends(Head("HTTP/1.0 200 OK", {"Content-Length: 6e4"}) + body60k), Fate::Failed, {},
       {}},
      {"video-interim-only", {}, Sends("HTTP/1.1 100 Continue\r\n\r\n"), Fate::Failed, {}, {}},
      {"video-404-chunked", {},
       Sends(Head("HTTP/1.1 404 Not Found", {"Transfer-Encoding: chunked"}) + Chunk(big) + Chunk("")),
       Fate::Failed, {}, {}},
      {"video-429", {}, Sends(HttpResponse(429, big, {"Retry-After: 1"}, "Too Many Requests")), Fate::Failed, {},
       requestsOf(kVideoHost, VideoTarget("video-429"), 1)},
      {"video-huge-headers", {}, Sends(HttpResponse(200, body60k, FillerHeaders(100 * 1024))), Fate::Failed, {}, {}},
      {"video-no-status-line", {}, Sends(body60k), Fate::Failed, {}, {}},
      {"video-after-interim", {}, Sends("HTTP/1.1 100 Continue\r\n\r\n" + HttpResponse(200, body60k)), Fate::Saved,
       body60k, {}},
      {"video-header-without-colon", {}, Sends(HttpResponse(200, body60k, {"No colon here"})), Fate::Failed, {}, {}},
      {"video-redirect-loop", {}, RedirectsTo(VideoUrl("video-redirect-loop")), Fate::Failed, {},
       requestsOf(kVideoHost, VideoTarget("video-redirect-loop"), 11)},
      {"video-redirect-with-body", {}, RedirectsTo("http://" + kVideoHost + "/landing.mp4", big), Fate::Saved,
       body60k, {}},
      {"video-to-file", {}, RedirectsTo("file://" + localVideo.string()), Fate::Failed, {}, {}},
      {"video-to-ftp", {}, RedirectsTo(ftpUrl + "video.mp4"), Fate::Failed, {}, {}},
  };

  for (int hop = 1; hop <= 9; ++hop) {
    service.On(BlogHost("ten-redirects"), "/hop/" + std::to_string(hop),
               RedirectsTo(hop < 9 ? hopBase + std::to_string(hop + 1) : hopBase + "landing"));
  }
  service.On(BlogHost("ten-redirects"), "/hop/landing", Sends(PageResponse(PostPage("ten-redirects"))));
  service.On(kVideoHost, "/landing.mp4", Sends(HttpResponse(200, body60k)));

  std::vector<std::string> blogs;
  std::map<std::string, std::string> kept;
  std::vector<std::string> failed;
  char seed = 'A';
  for (const HostileCase& c : cases) {
    blogs.push_back(c.name);
    service.On(BlogHost(c.name), "/page/1", c.page ? c.page : Sends(PageResponse(PostPage(c.name))));
    std::string body = c.keptBody;
    if (c.video) {
      service.On(kVideoHost, VideoTarget(c.name), c.video);
    } else {
      body = VideoBytes(20000, seed++);
      service.On(kVideoHost, VideoTarget(c.name), Sends(HttpResponse(200, body)));
    }
    if (c.fate == Fate::Saved) kept[c.name + ".mp4"] = body;
    if (c.fate == Fate::Failed) failed.push_back(VideoUrl(c.name));
  }

  RunHarvestBatch(blogs, static_cast<int>(blogs.size()), settings);

  for (const HostileCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(service.Count(kVideoHost, VideoTarget(c.name)) > 0, c.fate != Fate::PageLost);
    if (c.check) c.check(service);
  }
  ExpectFolderHolds(videos, kept, failed);
}

TEST_F(HostileTest, NamesThatCollideBetweenTwoBlogsAtOnce) {
  // Two blogs with a post of the same name, both videos whole: one file,
  // one of the two bodies, no line. Then the same with one video too small:
  // the small one's failure must not take the good one's file. Every video
  // is held half-way until all four have arrived, so both of a pair are
  // written at the same time.
  settings.stallLimit = 30s;
  Arrivals arrived;
  const auto heldUntilAllArrive = [&arrived](std::string response) {
    return [&arrived, response](RawConnection& connection, const CapturedRequest&) {
      connection.Send(response.substr(0, response.size() / 2));
      arrived.Arrive();
      arrived.WaitFor(4);
      connection.Send(response.substr(response.size() / 2));
      return false;
    };
  };
  const std::string twinA = VideoBytes(300000, '1'), twinB = VideoBytes(300000, '2');
  const std::string goodPair = VideoBytes(300000, '3'), badPair = VideoBytes(9000, '4');
  const struct {
    std::string blog, mediaId, slug, body;
  } posts[] = {
      {"twin-a", "twina", "twin", twinA},
      {"twin-b", "twinb", "twin", twinB},
      {"pair-good", "pairgood", "pair", goodPair},
      {"pair-bad", "pairbad", "pair", badPair},
  };
  std::vector<std::string> blogs;
  for (const auto& post : posts) {
    blogs.push_back(post.blog);
    service.On(BlogHost(post.blog), "/page/1",
               Sends(PageResponse(BlogPageMarkup(post.blog, {{"5", post.slug, true, post.mediaId}}))));
    service.On(kVideoHost, VideoTarget(post.mediaId), heldUntilAllArrive(HttpResponse(200, post.body)));
  }

  RunHarvestBatch(blogs, 4, settings);

  const std::string twin = ReadFile(videos / "twin.mp4");
  EXPECT_TRUE(twin == twinA || twin == twinB) << twin.size() << " bytes";
  ExpectFolderHolds(videos, {{"twin.mp4", twin}, {"pair.mp4", goodPair}}, {VideoUrl("pairbad")});
}

TEST_F(HostileTest, HttpsWithASelfSignedCertificate) {
  // A page may move to HTTPS with any certificate, as pages are fetched with
  // certificate errors ignored; a video fetch trusts only what it can check.
  TempFolder keys;
  WriteFile(keys.Path() / "cert.pem", testing_support::kSelfSignedCertificatePem);
  WriteFile(keys.Path() / "key.pem", testing_support::kSelfSignedKeyPem);
  httplib::SSLServer tls((keys.Path() / "cert.pem").c_str(), (keys.Path() / "key.pem").c_str());
  std::mutex seenLock;
  std::vector<std::string> seen;
  tls.Get(".*", [&](const httplib::Request& request, httplib::Response& response) {
    const std::string host = request.get_header_value("Host");
    {
      std::lock_guard lock(seenLock);
      seen.push_back(host + request.path);
    }
    if (host == BlogHost("secure-page") && request.path == "/page/1") {
      response.set_content(PostPage("secure-page"), "text/html; charset=utf-8");
    } else {
      response.set_content(VideoBytes(20000, 's'), "video/mp4");
    }
  });
  const int tlsPort = tls.bind_to_any_port("127.0.0.1");
  std::thread tlsThread([&] { tls.listen_after_bind(); });
  ProtocolSplitter splitter(service.Port(), tlsPort);
  Route(splitter.ConnectTo());

  const std::string pageVideo = VideoBytes(20000, 'p');
  service.On(BlogHost("secure-page"), "/page/1", RedirectsTo("https://" + BlogHost("secure-page") + "/page/1"));
  service.On(kVideoHost, VideoTarget("secure-page"), Sends(HttpResponse(200, pageVideo)));
  PostBlog("secure-video");
  service.On(kVideoHost, VideoTarget("secure-video"), RedirectsTo("https://" + kVideoHost + VideoTarget("secure-video")));

  RunHarvestBatch({"secure-page", "secure-video"}, 2, settings);

  ExpectFolderHolds(videos, {{"secure-page.mp4", pageVideo}}, {VideoUrl("secure-video")});
  EXPECT_EQ(service.Count(kVideoHost, VideoTarget("secure-video")), 1);
  tls.stop();
  tlsThread.join();
  EXPECT_EQ(seen, std::vector<std::string>{BlogHost("secure-page") + "/page/1"});
}

// Videos held half-way until the test has taken the folder away (and, in
// the second case, made a new, empty one); a fourth blog's page is held too,
// so that its video starts only afterwards.
TEST_F(HostileTest, VideoFolderDeletedDuringTheBatch) {
  for (const bool recreated : {false, true}) {
    SCOPED_TRACE(recreated ? "deleted and made again" : "deleted");
    settings.stallLimit = 30s;
    HostileService held;
    Route(held.ConnectTo());
    fs::create_directories(videos);
    Gate gate;
    Arrivals arrived;
    const std::string late = VideoBytes(20000, 'L');
    std::vector<std::string> blogs;
    std::vector<std::string> inFlight;
    for (const std::string name : {"gone-1", "gone-2", "gone-3"}) {
      blogs.push_back(name);
      inFlight.push_back(VideoUrl(name));
      held.On(BlogHost(name), "/page/1", Sends(PageResponse(PostPage(name))));
      const std::string body = VideoBytes(60000, name.back());
      held.On(kVideoHost, VideoTarget(name), [&, body](RawConnection& connection, const CapturedRequest&) {
        connection.Send(HttpResponse(200, body).substr(0, 30000));
        arrived.Arrive();
        gate.Wait();
        connection.Send(HttpResponse(200, body).substr(30000));
        return false;
      });
    }
    blogs.push_back("gone-late");
    held.On(BlogHost("gone-late"), "/page/1", [&](RawConnection& connection, const CapturedRequest&) {
      gate.Wait();
      connection.Send(PageResponse(PostPage("gone-late")));
      return false;
    });
    held.On(kVideoHost, VideoTarget("gone-late"), Sends(HttpResponse(200, late)));

    std::thread batch([&] { RunHarvestBatch(blogs, 4, settings); });
    EXPECT_TRUE(arrived.WaitFor(3));
    fs::remove_all(videos);
    if (recreated) fs::create_directory(videos);
    gate.Open();
    batch.join();

    if (recreated) {
      // The videos in flight lost their staged files with the old folder.
      EXPECT_EQ(EntryNames(root.Path()), std::vector<std::string>{"视频"});
      ExpectFolderHolds(videos, {{"gone-late.mp4", late}}, inFlight);
    } else {
      // Nothing is written anywhere, and the folder is not made again.
      EXPECT_TRUE(EntryNames(root.Path()).empty());
    }
  }
}

TEST_F(HostileTest, VideoFolderReplacedByAFile) {
  // A read-only folder cannot be had when the tests run as root, who writes
  // anywhere; a file in the folder's place refuses every write whoever runs.
  // The program-level tests cover a read-only folder with a lesser user.
  fs::remove(videos);
  WriteFile(videos, "not a folder");
  PostBlog("good");
  service.On(kVideoHost, VideoTarget("good"), Sends(HttpResponse(200, VideoBytes(20000))));
  PostBlog("small");
  service.On(kVideoHost, VideoTarget("small"), Sends(HttpResponse(200, "tiny")));

  RunHarvestBatch({"good", "small"}, 2, settings);

  EXPECT_EQ(EntryNames(root.Path()), std::vector<std::string>{"视频"});
  EXPECT_EQ(ReadFile(videos), "not a folder");
}

TEST_F(HostileTest, FailedListThatCannotBeWritten) {
  // The lines are lost, as nothing else records them; the rest of the batch
  // goes on. A named pipe that nobody reads must not hold a worker (and with
  // it the lock of the list) for ever.
  const std::string good = VideoBytes(20000, 'g');
  PostBlog("good");
  service.On(kVideoHost, VideoTarget("good"), Sends(HttpResponse(200, good)));
  for (const std::string name : {"small-1", "small-2"}) {
    PostBlog(name);
    service.On(kVideoHost, VideoTarget(name), Sends(HttpResponse(404, "gone")));
  }
  const fs::path list = videos / kFailedList;
  for (const bool pipe : {false, true}) {
    SCOPED_TRACE(pipe ? "a named pipe" : "a folder");
    fs::remove_all(list);
    fs::remove_all(videos / "good.mp4");
    if (pipe) {
      ASSERT_EQ(::mkfifo(list.c_str(), 0644), 0);
    } else {
      fs::create_directory(list);
    }

    std::atomic<bool> finished{false};
    std::thread batch([&] {
      RunHarvestBatch({"small-1", "good", "small-2"}, 3, settings);
      finished = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!finished && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(20ms);
    if (!finished && pipe) {
      // A reader lets the stuck writers go, so that the test can end.
      ADD_FAILURE() << "the batch hangs on the pipe";
      const int reader = ::open(list.c_str(), O_RDONLY | O_NONBLOCK);
      batch.join();
      ::close(reader);
    } else {
      batch.join();
    }

    EXPECT_EQ(EntryNames(videos), (std::vector<std::string>{"good.mp4", kFailedList}));
    EXPECT_EQ(ReadFile(videos / "good.mp4"), good);
    if (!pipe) {
      EXPECT_TRUE(fs::is_directory(list));
      EXPECT_TRUE(fs::is_empty(list));
    }
  }
}

TEST_F(HostileTest, LinkAtATargetPathIsNotFollowed) {
  // A link that leads out of the folder, even to nothing, stands at the
  // target path like any file: nothing is fetched, written or recorded.
  const fs::path outside = root.Path() / "outside.mp4";
  fs::create_symlink(outside, videos / "linked.mp4");
  PostBlog("linked");
  service.On(kVideoHost, VideoTarget("linked"), Sends(HttpResponse(200, VideoBytes(20000))));

  RunHarvestBatch({"linked"}, 1, settings);

  EXPECT_FALSE(fs::exists(outside));
  EXPECT_TRUE(fs::is_symlink(videos / "linked.mp4"));
  EXPECT_EQ(EntryNames(videos), std::vector<std::string>{"linked.mp4"});
  EXPECT_EQ(service.Count(kVideoHost, VideoTarget("linked")), 0);
}

// Unmounts on the way out, whatever happened.
class TmpfsMount {
 public:
  TmpfsMount(const fs::path& at, const char* options) : at_(at) {
    mounted_ = ::mount("tmpfs", at.c_str(), "tmpfs", 0, options) == 0;
    error_ = errno;
  }
  ~TmpfsMount() {
    if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
  }
  TmpfsMount(const TmpfsMount&) = delete;
  TmpfsMount& operator=(const TmpfsMount&) = delete;
  bool Mounted() const { return mounted_; }
  int Error() const { return error_; }

 private:
  fs::path at_;
  bool mounted_ = false;
  int error_ = 0;
};

TEST_F(HostileTest, FullVideoFolder) {
  // One megabyte of room: two videos of 400000 bytes fit, a third does not,
  // a small fourth fits again once the third's staged bytes are gone.
  TmpfsMount small(videos, "size=1m,mode=0755");
  if (!small.Mounted()) GTEST_SKIP() << "no small file system to fill: mount: " << std::strerror(small.Error());
  std::vector<testing_support::VideoPost> posts;
  std::map<std::string, std::string> kept;
  const std::size_t sizes[] = {400000, 400000, 400000, 20000};
  for (int i = 0; i < 4; ++i) {
    const std::string id = "full" + std::to_string(i);
    posts.push_back({std::to_string(i + 1), id, true, id});
    const std::string body = VideoBytes(sizes[i], static_cast<char>('a' + i));
    service.On(kVideoHost, VideoTarget(id), Sends(HttpResponse(200, body)));
    if (i != 2) kept[id + ".mp4"] = body;
  }
  service.On(BlogHost("full"), "/page/1", Sends(PageResponse(BlogPageMarkup("full", posts))));

  RunHarvestBatch({"full"}, 1, settings);

  ExpectFolderHolds(videos, kept, {VideoUrl("full2")});
}

TEST_F(HostileTest, LineThatDoesNotFitOnAFullDisk) {
  // The list ends a few bytes before the end of its last block and the disk
  // is full: a line can then be written only in part. What part of it got
  // in must not stay, or the next line would be joined to it.
  TmpfsMount small(videos, "size=1m,mode=0755");
  if (!small.Mounted()) GTEST_SKIP() << "no small file system to fill: mount: " << std::strerror(small.Error());
  std::string earlier;
  while (earlier.size() < 4096 - 10) earlier += "http://vt.tumblr.com/tumblr_old.mp4\r\n";
  earlier.resize(4096 - 10);
  earlier.replace(earlier.size() - 2, 2, "\r\n");
  WriteFile(videos / kFailedList, earlier);
  {
    std::ofstream filler(videos / "filler", std::ios::binary);
    const std::string block(4096, 'f');
    while (filler.write(block.data(), block.size())) {
    }
  }
  for (const std::string name : {"first", "second"}) {
    PostBlog(name);
    service.On(kVideoHost, VideoTarget(name), Sends(HttpResponse(404, "gone")));
  }

  RunHarvestBatch({"first"}, 1, settings);
  fs::remove(videos / "filler");
  RunHarvestBatch({"second"}, 1, settings);

  const std::string list = ReadFile(videos / kFailedList);
  const std::string first = VideoUrl("first") + "\r\n", second = VideoUrl("second") + "\r\n";
  EXPECT_TRUE(list == earlier + second || list == earlier + first + second)
      << "the list ends in: " << list.substr(earlier.size());
}

}  // namespace

#pragma once

// A loopback HTTP server over plain sockets, for tests where the exact bytes
// matter: it records every request as it arrived and lets the test write any
// response bytes, stall, or reset the connection. Each connection runs on its
// own thread; the destructor wakes stalled responders, closes every socket
// and joins the threads.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cctype>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace testing_support {

struct CapturedRequest {
  std::string head;         // request line and header lines, blank line included
  std::string body;
  std::string requestLine;  // without CR LF; "TLS" for a TLS handshake
  std::vector<std::string> headerLines;

  // The value of the first header of that name (any case), trimmed; empty
  // when there is none.
  std::string Header(std::string_view name) const {
    for (const std::string& line : headerLines) {
      const std::size_t colon = line.find(':');
      if (colon == std::string::npos || colon != name.size()) continue;
      bool same = true;
      for (std::size_t i = 0; i < colon && same; ++i) {
        same = std::tolower(static_cast<unsigned char>(line[i])) ==
               std::tolower(static_cast<unsigned char>(name[i]));
      }
      if (!same) continue;
      std::size_t start = colon + 1;
      while (start < line.size() && line[start] == ' ') ++start;
      return line.substr(start);
    }
    return {};
  }
  // The request target: "/path" or, through a proxy, the absolute URI.
  std::string Target() const {
    const std::size_t first = requestLine.find(' ');
    const std::size_t second = requestLine.find(' ', first + 1);
    if (first == std::string::npos || second == std::string::npos) return {};
    return requestLine.substr(first + 1, second - first - 1);
  }
};

// A complete response with Content-Length. `headers` are whole lines without
// CR LF.
inline std::string HttpResponse(int status, std::string_view body,
                                const std::vector<std::string>& headers = {},
                                std::string_view reason = "OK") {
  std::string out = "HTTP/1.1 " + std::to_string(status) + " " + std::string(reason) + "\r\n";
  for (const std::string& line : headers) out += line + "\r\n";
  out += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  out += body;
  return out;
}

class RawHttpServer;

class RawConnection {
 public:
  RawConnection(int fd, RawHttpServer& server) : fd_(fd), server_(server) {}
  // Writes all bytes; false when the peer is gone.
  bool Send(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }
  // Waits until the server is being stopped or `limit` has passed; true
  // when it is being stopped.
  inline bool WaitForStop(std::chrono::milliseconds limit);
  // Ends the connection with a reset instead of an orderly close.
  void Reset() {
    linger hard{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::shutdown(fd_, SHUT_RDWR);
    reset_ = true;
  }
  bool WasReset() const { return reset_; }

 private:
  int fd_;
  RawHttpServer& server_;
  bool reset_ = false;
};

class RawHttpServer {
 public:
  // Called for each request on its connection's thread; writes the response
  // and returns true to read another request from the same connection.
  using Responder = std::function<bool(RawConnection&, const CapturedRequest&)>;

  explicit RawHttpServer(Responder responder) : responder_(std::move(responder)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int yes = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 64);
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
  }

  ~RawHttpServer() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
      for (int fd : open_) ::shutdown(fd, SHUT_RDWR);
    }
    stopped_.notify_all();
    ::shutdown(listener_, SHUT_RDWR);
    acceptor_.join();
    ::close(listener_);
    for (std::thread& worker : workers_) worker.join();
  }

  RawHttpServer(const RawHttpServer&) = delete;
  RawHttpServer& operator=(const RawHttpServer&) = delete;

  int Port() const { return port_; }
  std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string Url(std::string_view path = "/") const { return "http://" + HostPort() + std::string(path); }

  std::vector<CapturedRequest> Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  int Connections() const { return connections_.load(); }

 private:
  friend class RawConnection;

  void AcceptLoop() {
    for (;;) {
      const int fd = ::accept(listener_, nullptr, nullptr);
      if (fd < 0) return;
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) {
        ::close(fd);
        return;
      }
      ++connections_;
      open_.push_back(fd);
      workers_.emplace_back([this, fd] { Serve(fd); });
    }
  }

  void Serve(int fd) {
    RawConnection connection(fd, *this);
    std::string pending;
    for (;;) {
      CapturedRequest request;
      if (!ReadRequest(fd, pending, request)) break;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
      }
      if (request.requestLine == "TLS") break;
      if (!responder_(connection, request) || connection.WasReset()) break;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase(open_, fd);
    ::close(fd);
  }

  // Reads one request (head and a Content-Length body) into `request`;
  // false when the peer closed or the server stops first.
  static bool ReadRequest(int fd, std::string& pending, CapturedRequest& request) {
    std::size_t headEnd;
    while ((headEnd = pending.find("\r\n\r\n")) == std::string::npos) {
      if (!pending.empty() && static_cast<unsigned char>(pending[0]) == 0x16) {
        request.requestLine = "TLS";
        request.head = pending;
        return true;
      }
      if (!ReadMore(fd, pending)) return false;
    }
    request.head = pending.substr(0, headEnd + 4);
    pending.erase(0, headEnd + 4);
    std::size_t lineStart = 0;
    for (;;) {
      const std::size_t lineEnd = request.head.find("\r\n", lineStart);
      if (lineEnd == std::string::npos || lineEnd == lineStart) break;
      std::string line = request.head.substr(lineStart, lineEnd - lineStart);
      if (lineStart == 0) {
        request.requestLine = line;
      } else {
        request.headerLines.push_back(line);
      }
      lineStart = lineEnd + 2;
    }
    const std::string length = request.Header("Content-Length");
    const std::size_t bodySize = length.empty() ? 0 : std::stoul(length);
    while (pending.size() < bodySize) {
      if (!ReadMore(fd, pending)) return false;
    }
    request.body = pending.substr(0, bodySize);
    pending.erase(0, bodySize);
    return true;
  }

  static bool ReadMore(int fd, std::string& pending) {
    char buffer[16384];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    pending.append(buffer, static_cast<std::size_t>(n));
    return true;
  }

  Responder responder_;
  int listener_ = -1;
  int port_ = 0;
  std::thread acceptor_;
  mutable std::mutex mutex_;
  std::condition_variable stopped_;
  bool stopping_ = false;
  std::vector<int> open_;
  std::vector<std::thread> workers_;
  std::vector<CapturedRequest> requests_;
  std::atomic<int> connections_{0};
};

inline bool RawConnection::WaitForStop(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(server_.mutex_);
  return server_.stopped_.wait_for(lock, limit, [this] { return server_.stopping_; });
}

}  // namespace testing_support

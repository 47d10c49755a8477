#pragma once

// A stand-in for the blogging service on 127.0.0.1: one server that answers
// by Host header, blog listing pages for "<blog>.tumblr.com" and videos for
// "vt.tumblr.com". Tests reach it through BRELLOC_CONNECT_TO, so the program
// uses its real addresses. Every request is recorded.

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

struct RecordedRequest {
  std::string host;
  std::string path;
  std::string version;
  httplib::Headers headers;
};

// How a video answer behaves.
struct VideoAnswer {
  int status = 200;
  std::string body;
  // Announce the full body but send only this many bytes, then drop the
  // connection (negative: send everything).
  long long sendOnly = -1;
  // Sleep this long after sending sendOnly bytes, before dropping the
  // connection (for stalls).
  std::chrono::milliseconds stallAfter{0};
  // Answer with a redirect to this URL instead.
  std::string redirectTo;
  // Wait this long before answering at all (the request is recorded first).
  std::chrono::milliseconds delayBefore{0};
  // Pause this long after each piece of the body (pieces of 64 KiB), so a
  // large video takes a while to arrive.
  std::chrono::microseconds piecePause{0};
};

inline VideoAnswer Answer(int status, std::string body, long long sendOnly = -1,
                          std::chrono::milliseconds stallAfter = std::chrono::milliseconds(0)) {
  VideoAnswer answer;
  answer.status = status;
  answer.body = std::move(body);
  answer.sendOnly = sendOnly;
  answer.stallAfter = stallAfter;
  return answer;
}

// A whole 200 answer whose body arrives in 64 KiB pieces, `pause` apart.
inline VideoAnswer Paced(std::string body, std::chrono::microseconds pause) {
  VideoAnswer answer = Answer(200, std::move(body));
  answer.piecePause = pause;
  return answer;
}

inline VideoAnswer RedirectTo(std::string url) {
  VideoAnswer answer;
  answer.redirectTo = std::move(url);
  return answer;
}

// A video post in a page, in the markup of a common blog theme.
struct VideoPost {
  std::string postId;
  std::string slug;         // may be empty
  bool trailingSlash = true;
  std::string mediaId;      // empty: the post has no media part
};

// Markup of a page: each video post as an article with its notes link and
// media parameter, plus photo and text posts around them.
std::string BlogPageMarkup(const std::string& blog, const std::vector<VideoPost>& posts);

// A body of `size` bytes that does not repeat trivially.
std::string VideoBytes(std::size_t size, char seed = 'v');

class FakeBlogService {
 public:
  // `workerThreads` answer requests at once; 0 keeps the server's default,
  // which is enough unless answers are held back (delayBefore, piecePause).
  explicit FakeBlogService(std::size_t workerThreads = 0);
  ~FakeBlogService();
  FakeBlogService(const FakeBlogService&) = delete;
  FakeBlogService& operator=(const FakeBlogService&) = delete;

  int Port() const { return port_; }
  // "127.0.0.1:<port>", the value for BRELLOC_CONNECT_TO.
  std::string ConnectTo() const { return "127.0.0.1:" + std::to_string(port_); }

  void SetPage(const std::string& blog, int page, std::string markup);
  void SetVideo(const std::string& mediaId, VideoAnswer answer);

  std::vector<RecordedRequest> Requests() const;
  // Paths requested from one host, in order.
  std::vector<std::string> PathsFor(const std::string& host) const;

 private:
  void Handle(const httplib::Request& request, httplib::Response& response);

  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::map<std::string, std::string> pages_;  // "<blog>/<page>" -> markup
  std::map<std::string, VideoAnswer> videos_;
  std::vector<RecordedRequest> requests_;
};

}  // namespace testing_support

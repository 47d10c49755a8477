#include "fake_blog_service.h"

#include <memory>

namespace testing_support {

std::string BlogPageMarkup(const std::string& blog, const std::vector<VideoPost>& posts) {
  const std::string base = "http://" + blog + ".tumblr.com";
  std::string page =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + blog +
      "</title></head>\n<body>\n<section id=\"posts\">\n"
      "<article class=\"photo not-page post-1000\" id=\"1000\">\n"
      "  <div class=\"post-content\"><img src=\"http://68.media.tumblr.com/abc/tumblr_photo_500.jpg\"></div>\n"
      "  <span class=\"notes-pop-container\"><a href=\"" + base + "/post/1000/a-photo#notes\">3 notes</a></span>\n"
      "</article>\n";
  for (const VideoPost& post : posts) {
    std::string link = base + "/post/" + post.postId;
    if (post.trailingSlash || !post.slug.empty()) link += "/";
    link += post.slug;
    page += "<article class=\"video not-page post-" + post.postId + "\" id=\"" + post.postId + "\">\n";
    page += "  <div class=\"post-content\"><div class=\"video-wrapper\">视频 ▶</div></div>\n";
    page += "  <span class=\"notes-pop-container\"><a class=\"notes\" href=\"" + link + "#notes\">12 notes</a></span>\n";
    if (!post.mediaId.empty()) {
      page += "  <iframe src=\"" + base + "/video/player?media=http://media.tumblr.com/tumblr_" + post.mediaId +
              "_frame1.jpg&amp;w=500\"></iframe>\n";
    }
    page += "</article>\n";
    page += "<article class=\"text not-page post-9" + post.postId + "\">\n  <p>写点东西 text</p>\n"
            "  <span class=\"notes-pop-container\"><a href=\"" + base + "/post/9" + post.postId + "#notes\">1 note</a></span>\n"
            "</article>\n";
  }
  page += "</section>\n</body></html>\n";
  return page;
}

std::string VideoBytes(std::size_t size, char seed) {
  std::string bytes(size, '\0');
  unsigned state = static_cast<unsigned char>(seed) * 2654435761u + 1;
  for (auto& b : bytes) {
    state = state * 1103515245u + 12345u;
    b = static_cast<char>(state >> 24);
  }
  return bytes;
}

FakeBlogService::FakeBlogService(std::size_t workerThreads) {
  if (workerThreads > 0) {
    server_.new_task_queue = [workerThreads] { return new httplib::ThreadPool(workerThreads); };
  }
  server_.Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
    Handle(request, response);
  });
  port_ = server_.bind_to_any_port("127.0.0.1");
  // The socket listens from bind on, so connections wait in its backlog
  // until the accept loop runs.
  thread_ = std::thread([this] { server_.listen_after_bind(); });
}

FakeBlogService::~FakeBlogService() {
  server_.stop();
  if (thread_.joinable()) thread_.join();
}

void FakeBlogService::SetPage(const std::string& blog, int page, std::string markup) {
  std::lock_guard lock(mutex_);
  pages_[blog + "/" + std::to_string(page)] = std::move(markup);
}

void FakeBlogService::SetVideo(const std::string& mediaId, VideoAnswer answer) {
  std::lock_guard lock(mutex_);
  videos_[mediaId] = std::move(answer);
}

std::vector<RecordedRequest> FakeBlogService::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::vector<std::string> FakeBlogService::PathsFor(const std::string& host) const {
  std::vector<std::string> paths;
  for (const auto& request : Requests()) {
    if (request.host == host) paths.push_back(request.path);
  }
  return paths;
}

void FakeBlogService::Handle(const httplib::Request& request, httplib::Response& response) {
  std::string host = request.get_header_value("Host");
  if (auto colon = host.find(':'); colon != std::string::npos) host.resize(colon);
  {
    std::lock_guard lock(mutex_);
    requests_.push_back({host, request.path, request.version, request.headers});
  }

  const std::string blogSuffix = ".tumblr.com";
  if (host == "vt.tumblr.com") {
    const std::string prefix = "/tumblr_", suffix = ".mp4";
    const std::string& path = request.path;
    VideoAnswer answer;
    bool known = false;
    if (path.size() > prefix.size() + suffix.size() && path.rfind(prefix, 0) == 0 &&
        path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0) {
      const std::string id = path.substr(prefix.size(), path.size() - prefix.size() - suffix.size());
      std::lock_guard lock(mutex_);
      if (auto it = videos_.find(id); it != videos_.end()) {
        answer = it->second;
        known = true;
      }
    }
    if (!known) {
      response.status = 404;
      response.set_content("not found", "text/plain");
      return;
    }
    if (answer.delayBefore.count() > 0) std::this_thread::sleep_for(answer.delayBefore);
    if (!answer.redirectTo.empty()) {
      response.set_redirect(answer.redirectTo);
      return;
    }
    response.status = answer.status;
    if (answer.sendOnly < 0 && answer.stallAfter.count() == 0 && answer.piecePause.count() == 0) {
      response.set_content(answer.body, "video/mp4");
      return;
    }
    auto shared = std::make_shared<VideoAnswer>(std::move(answer));
    response.set_content_provider(
        shared->body.size(), "video/mp4",
        [shared](std::size_t offset, std::size_t, httplib::DataSink& sink) {
          const std::size_t limit = shared->sendOnly < 0 ? shared->body.size()
                                                          : static_cast<std::size_t>(shared->sendOnly);
          if (offset < limit) {
            const std::size_t chunk = std::min<std::size_t>(limit - offset, 64 * 1024);
            sink.write(shared->body.data() + offset, chunk);
            if (shared->piecePause.count() > 0) std::this_thread::sleep_for(shared->piecePause);
            return true;
          }
          std::this_thread::sleep_for(shared->stallAfter);
          return false;  // drops the connection before the announced length
        });
    return;
  }
  if (host.size() > blogSuffix.size() &&
      host.compare(host.size() - blogSuffix.size(), blogSuffix.size(), blogSuffix) == 0) {
    const std::string blog = host.substr(0, host.size() - blogSuffix.size());
    const std::string pagePrefix = "/page/";
    if (request.path.rfind(pagePrefix, 0) == 0) {
      std::lock_guard lock(mutex_);
      if (auto it = pages_.find(blog + "/" + request.path.substr(pagePrefix.size())); it != pages_.end()) {
        response.set_content(it->second, "text/html; charset=utf-8");
        return;
      }
    }
  }
  response.status = 404;
  response.set_content("<html><body>There's nothing here.</body></html>", "text/html");
}

}  // namespace testing_support

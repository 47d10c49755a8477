#pragma once

// Move-only owners of libcurl's C handles, for the HTTP layer's own sources.
// Nothing outside src/platform includes this header, so curl.h stays out of
// the engine's public headers.

#include <curl/curl.h>

#include <memory>
#include <string>

namespace curl_handles {

struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;

// A header list built line by line; empty until the first Append.
class HeaderList {
 public:
  HeaderList() = default;
  HeaderList(HeaderList&& other) noexcept : head_(other.head_) { other.head_ = nullptr; }
  HeaderList& operator=(HeaderList&& other) noexcept {
    if (this != &other) {
      curl_slist_free_all(head_);
      head_ = other.head_;
      other.head_ = nullptr;
    }
    return *this;
  }
  HeaderList(const HeaderList&) = delete;
  HeaderList& operator=(const HeaderList&) = delete;
  ~HeaderList() { curl_slist_free_all(head_); }

  // False when libcurl could not copy the line; the list stays as it was.
  bool Append(const std::string& line) {
    curl_slist* grown = curl_slist_append(head_, line.c_str());
    if (grown == nullptr) return false;
    head_ = grown;
    return true;
  }
  curl_slist* Get() const { return head_; }

 private:
  curl_slist* head_ = nullptr;
};

}  // namespace curl_handles

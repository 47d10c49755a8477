#include "platform/file_fetch.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

#include "platform/curl_global.h"
#include "platform/curl_handles.h"
#include "platform/curl_transfer.h"

namespace {

// Large reads keep the per-piece overhead small on fast links; the pieces go
// to the file as they come, so no buffer of our own is needed on top.
constexpr long kReceiveBufferBytes = 512 * 1024;

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

int Milliseconds(std::chrono::milliseconds limit) {
  if (limit.count() <= 0) return 0;
  return limit.count() > INT_MAX ? INT_MAX : static_cast<int>(limit.count());
}

}  // namespace

FileFetchResult FetchFile(const Text& url, const FileFetchOptions& options) {
  FileFetchResult result;
  if (url.IsEmpty() || !curl_global::EnsureInitialised()) return result;
  curl_handles::Easy handle(curl_easy_init());
  if (!handle) return result;

  curl_transfer::Request request;
  request.url = url.Bytes();
  request.http10 = true;
  request.headers = {std::string("User-Agent: ") + kFileFetchUserAgent, "Accept: */*"};
  request.limits.connectMs = Milliseconds(options.connectLimit);
  request.limits.sendIdleMs = Milliseconds(options.stallLimit);
  request.limits.receiveIdleMs = Milliseconds(options.stallLimit);
  request.receiveBufferBytes = kReceiveBufferBytes;

  std::string& memory = result.body.MutableData();
  const curl_transfer::BodySink sink = [&](std::string_view piece) {
    bool taken = true;
    if (options.sink) {
      taken = options.sink(piece);
    } else if (options.fd >= 0) {
      taken = WriteAll(options.fd, piece);
    } else {
      memory.append(piece);
    }
    if (taken) result.bytesReceived += piece.size();
    return taken;
  };
  const curl_transfer::Result transfer = curl_transfer::Perform(handle.get(), request, sink);
  result.status = transfer.status;
  result.complete = transfer.outcome == curl_transfer::Outcome::kComplete;
  return result;
}

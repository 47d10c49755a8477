#include "platform/curl_global.h"

#include <curl/curl.h>

#include <csignal>
#include <mutex>

namespace curl_global {

bool EnsureInitialised() {
  static std::once_flag once;
  static bool initialised = false;
  std::call_once(once, [] {
    // Every handle also sets CURLOPT_NOSIGNAL, so libcurl never installs
    // handlers of its own; a peer that resets the connection while we write
    // must not kill the program.
    std::signal(SIGPIPE, SIG_IGN);
    initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  });
  return initialised;
}

}  // namespace curl_global

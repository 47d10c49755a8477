#pragma once

// libcurl's process-wide set-up, done once, lazily, by whichever thread
// first needs the network. Every entry into the HTTP layer calls this before
// touching libcurl.
namespace curl_global {

// Runs curl_global_init exactly once and makes a write to a closed socket an
// error return instead of a fatal SIGPIPE for the whole process. Returns
// false when libcurl could not be initialised; callers then fail their
// request instead of using libcurl.
bool EnsureInitialised();

}  // namespace curl_global

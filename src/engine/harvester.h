#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>

#include "values/text.h"

// What became of one video the harvester found on a page.
enum class VideoOutcome {
  Saved,          // fetched whole and moved into the video folder
  AlreadyOnDisk,  // something stood at the target path already; nothing fetched or replaced
  Failed,         // not kept; its address went to the failed list
};

struct VideoReport {
  VideoOutcome outcome;
  std::int64_t bytes;  // the size of a saved video; 0 otherwise
  Text address;        // the video's address
};

// Told about every video as soon as its outcome is known. Called on the
// worker threads, several at a time, so it must be safe to call
// concurrently; an empty function is simply not called.
using VideoReporter = std::function<void(const VideoReport&)>;

// Videos smaller than this are taken for error pages and not kept.
inline constexpr std::int64_t kSmallestVideoBytes = 10000;

// The list of failed downloads inside `videoFolder`: "视频.txt".
Text FailedListPath(const Text& videoFolder);

// Fetches one listing page of one blog, finds its video posts and downloads
// every video that is not yet in VideoFolder. A download that is not a
// whole, successful (2xx) answer of at least 10000 bytes, or whose file name
// cannot be used, is not kept, and its address is appended to the failed
// list under DownloadLock. `blogName` is only read and must stay alive and
// unchanged for the whole call. Runs on several worker threads at once.
void HarvestBlogPage(const Text& blogName, std::int32_t page);

// The same, telling `report` about each video.
void HarvestBlogPage(const Text& blogName, std::int32_t page, const VideoReporter& report);

// Everything the harvester takes from its surroundings, so that tests can
// run it against a folder and limits of their own.
struct HarvestSettings {
  Text videoFolder;
  // Held while a line is appended to the failed list; a lock of the
  // harvester's own when null.
  std::mutex* failedListLock = nullptr;
  // A video transfer during which no byte moves for this long is broken off.
  std::chrono::milliseconds stallLimit{60000};
  VideoReporter report;
};
void HarvestBlogPageWith(const HarvestSettings& settings, const Text& blogName, std::int32_t page);

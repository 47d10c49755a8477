#pragma once

#include <cstdint>
#include <functional>

#include "values/text.h"

// What became of one video the harvester found on a page.
enum class VideoOutcome {
  Saved,          // fetched and kept (at least 10000 bytes)
  AlreadyOnDisk,  // a file stood at the target path already; nothing fetched
  Failed,         // fetched too small (deleted again and listed in FailedList)
};

struct VideoReport {
  VideoOutcome outcome;
  std::int64_t bytes;  // bytes fetched; 0 when nothing was fetched
};

// Told about every video as soon as its outcome is known. Called on the
// worker threads, several at a time, so it must be safe to call
// concurrently; an empty function is simply not called.
using VideoReporter = std::function<void(const VideoReport&)>;

// Fetches one listing page of one blog and downloads every video on it that
// is not yet in VideoFolder. `blogName` is only read and must stay alive and
// unchanged for the whole call.
void HarvestBlogPage(const Text& blogName, std::int32_t page);

// The same, telling `report` about each video.
void HarvestBlogPage(const Text& blogName, std::int32_t page, const VideoReporter& report);

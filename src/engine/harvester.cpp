#include "engine/harvester.h"

// Does nothing yet: the batch, the window and the command line are wired to
// these two entry points, and the page fetch and downloads come next.

void HarvestBlogPage(const Text& blogName, std::int32_t page) {
  HarvestBlogPage(blogName, page, VideoReporter());
}

void HarvestBlogPage(const Text&, std::int32_t, const VideoReporter&) {}

#include "engine/harvester.h"

#include <sys/stat.h>

#include "engine/batch_scheduler.h"
#include "engine/service_hosts.h"
#include "engine/video_file_name.h"
#include "engine/video_post_pattern.h"
#include "pagetext/codepage936.h"
#include "pagetext/page_decoding.h"
#include "pagetext/regex_matcher.h"
#include "platform/append_file.h"
#include "platform/file_fetch.h"
#include "platform/file_system.h"
#include "platform/run_directory.h"
#include "platform/staged_file.h"
#include "values/text_ops.h"
#include "web/web_request.h"

namespace {

// The pattern's groups that the harvester reads.
constexpr int kPostIdGroup = 2;
constexpr int kSlugGroup = 4;
constexpr int kMediaIdGroup = 6;

Text PageAddress(const Text& blogName, std::int32_t page) {
  // The blog name goes in exactly as the user typed it.
  return Text("http://") + blogName + Text(".") + Text(service_hosts::kBlogDomain) + Text("/page/") +
         IntegerToText(page);
}

Text VideoAddress(const Text& mediaId) {
  return Text("http://") + Text(service_hosts::kVideoHost) + Text("/tumblr_") + mediaId + Text(".mp4");
}

void RecordFailure(const HarvestSettings& settings, const Text& videoAddress) {
  static std::mutex ownLock;
  std::mutex& lock = settings.failedListLock ? *settings.failedListLock : ownLock;
  const std::string line = videoAddress.Bytes() + "\r\n";
  std::lock_guard guard(lock);
  // One append per line: earlier lines are never rewritten. A list that
  // cannot be written loses the line, as nothing else would record it.
  AppendToFile(FailedListPath(settings.videoFolder), line);
}

// The size of an open file, or -1.
std::int64_t DescriptorSize(int fd) {
  struct stat status {};
  return ::fstat(fd, &status) == 0 ? static_cast<std::int64_t>(status.st_size) : -1;
}

VideoReport DownloadVideo(const HarvestSettings& settings, const Text& videoAddress, const Text& fileName) {
  const auto failed = [&] {
    RecordFailure(settings, videoAddress);
    return VideoReport{VideoOutcome::Failed, 0, videoAddress};
  };
  // A name that would lead out of the folder, or that the file system
  // cannot hold, is never used; the video is not fetched.
  if (!IsUsableVideoFileName(fileName)) return failed();

  const Text target = settings.videoFolder + Text("/") + fileName + Text(".mp4");
  // Whatever stands at the path stays, whatever its size.
  if (PathExists(target)) return {VideoOutcome::AlreadyOnDisk, 0, videoAddress};

  // The body goes into a hidden file beside the target and takes the
  // target's name only once it is whole, so a transfer that breaks off, a
  // full disk or a killed program never leaves a partial video behind.
  StagedFile staged(settings.videoFolder);
  if (!staged.Valid()) return failed();

  FileFetchOptions options;
  options.fd = staged.Descriptor();
  options.stallLimit = settings.stallLimit;
  const FileFetchResult fetched = FetchFile(videoAddress, options);
  const auto received = static_cast<std::int64_t>(fetched.bytesReceived);

  const bool successful = fetched.status >= 200 && fetched.status <= 299;
  const bool whole = fetched.complete && DescriptorSize(staged.Descriptor()) == received;
  if (!successful || !whole || received < kSmallestVideoBytes) {
    staged.Discard();
    return failed();
  }

  switch (staged.Commit(target)) {
    case StagedFile::CommitResult::Committed:
      return {VideoOutcome::Saved, received, videoAddress};
    case StagedFile::CommitResult::TargetExists:
      // Another worker saved a video under the same name first: as if the
      // file had been there before.
      return {VideoOutcome::AlreadyOnDisk, 0, videoAddress};
    case StagedFile::CommitResult::Failed:
      break;
  }
  return failed();
}

}  // namespace

Text FailedListPath(const Text& videoFolder) { return videoFolder + Text("/") + TextFromUtf8("视频.txt"); }

void HarvestBlogPage(const Text& blogName, std::int32_t page) { HarvestBlogPage(blogName, page, VideoReporter()); }

void HarvestBlogPage(const Text& blogName, std::int32_t page, const VideoReporter& report) {
  HarvestSettings settings;
  settings.videoFolder = VideoFolder();
  // A batch keeps DownloadLock for as long as its workers run.
  settings.failedListLock = DownloadLock ? &*DownloadLock : nullptr;
  settings.report = report;
  HarvestBlogPageWith(settings, blogName, page);
}

void HarvestBlogPageWith(const HarvestSettings& settings, const Text& blogName, std::int32_t page) {
  // The matcher comes first and goes last on every way out, which keeps
  // the thread's apartment count balanced.
  RegexMatcher matcher;
  if (blogName.IsEmpty()) return;

  // The page is read as UTF-8 whatever its headers say.
  const Text pageText = Utf8ToAnsi(WebRequest(PageAddress(blogName, page)));
  matcher.Search(VideoPostPattern(), pageText);

  const int matchCount = matcher.MatchCount();
  for (int match = 1; match <= matchCount; ++match) {
    const Text mediaId = matcher.SubMatchText(match, kMediaIdGroup);
    if (mediaId.IsEmpty()) continue;  // a post without a media part
    const Text videoAddress = VideoAddress(mediaId);
    Text fileName = matcher.SubMatchText(match, kSlugGroup);
    if (fileName.IsEmpty()) fileName = blogName + Text("_") + matcher.SubMatchText(match, kPostIdGroup);
    const VideoReport report = DownloadVideo(settings, videoAddress, fileName);
    if (settings.report) settings.report(report);
  }
}

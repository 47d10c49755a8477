#include "app/folder_path.h"

#include "platform/file_system.h"
#include "platform/run_directory.h"
#include "platform/staged_file.h"
#include "values/text_ops.h"

namespace {

const Text kSeparator("/");

bool EndsWithSeparator(const Text& path) {
  return !path.IsEmpty() && path.View().back() == '/';
}

void DropTrailingSeparator(Text& path) {
  if (EndsWithSeparator(path)) path = Left(path, static_cast<int>(path.Length()) - 1);
}

void EnsureTrailingSeparator(Text& path) {
  if (!EndsWithSeparator(path)) path += kSeparator;
}

}  // namespace

bool FolderExists(Text& path) {
  DropTrailingSeparator(path);
  return PathExists(path);
}

std::int32_t CreateFolderPath(Text& path) {
  if (Trim(path).IsEmpty()) return -1;
  DropTrailingSeparator(path);
  if (IsFolder(path)) {
    EnsureTrailingSeparator(path);
    return 0;
  }

  const TextArray pieces = Split(path, kSeparator);
  if (pieces.IsEmpty()) return -1;

  Text current = pieces.At(1);
  // The level right after the deepest one found present: in the usual case
  // the first folder this call creates, so deleting it takes back all of
  // them. Empty while the second level has not been found present.
  Text rollback;
  for (int level = 2; level <= pieces.Count(); ++level) {
    current += kSeparator + pieces.At(level);
    if (IsFolder(current)) {
      if (level < pieces.Count()) rollback = current + kSeparator + pieces.At(level + 1);
      continue;
    }
    if (!CreateOneFolder(current)) {
      if (level != 2) DeleteFolderTree(rollback);
      return -1;
    }
  }
  EnsureTrailingSeparator(path);
  return 1;
}

void PrepareVideoFolder() {
  Text probe = VideoFolder();
  if (FolderExists(probe)) {
    // Downloads that a killed run left half-written go, so they take no
    // room for ever; a running program's own are locked and stay.
    RemoveAbandonedStagedFiles(VideoFolder());
    return;
  }
  Text folder = VideoFolder();
  CreateFolderPath(folder);
}

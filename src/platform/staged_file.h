#pragma once

#include <string>

#include "values/text.h"

// A file written under a temporary name inside its destination folder and
// moved to its real name only once it is whole. Until Commit succeeds, the
// file never stands at the real name, and a StagedFile that goes out of
// scope without committing removes what it wrote, so a failed or abandoned
// download leaves nothing behind (a killed process leaves only the hidden
// temporary name, which no later run takes for a finished file).
class StagedFile {
 public:
  enum class CommitResult {
    Committed,      // the file now stands at the target path
    TargetExists,   // something was already there; it is left untouched
    Failed,         // the move failed for another reason
  };

  // Creates a new, empty temporary file in `folder` and holds an exclusive
  // lock on it while it is open, which tells RemoveAbandonedStagedFiles that
  // it is still being written. Valid() tells whether
  // that worked (a missing or read-only folder, for instance, fails).
  explicit StagedFile(const Text& folder);
  ~StagedFile();
  StagedFile(StagedFile&& other) noexcept;
  StagedFile& operator=(StagedFile&&) = delete;
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  bool Valid() const { return fd_ >= 0; }
  int Descriptor() const { return fd_; }
  const std::string& TemporaryPath() const { return temporaryPath_; }

  // Flushes the data to disk, closes the file and moves it to `target`
  // without ever replacing an existing entry there. Whatever the result, the
  // temporary file is gone afterwards.
  CommitResult Commit(const Text& target);

  // Closes and removes the temporary file.
  void Discard();

 private:
  int fd_ = -1;
  std::string temporaryPath_;
};

// Removes the temporary files that a killed or crashed program left in
// `folder`. A file that another running program still holds is left alone.
// Returns how many were removed.
int RemoveAbandonedStagedFiles(const Text& folder);

#include "platform/staged_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/append_file.h"
#include "temp_folder.h"

namespace {

using testing_support::EntryNames;
using testing_support::ReadFile;
using testing_support::TempFolder;
using testing_support::WriteFile;

Text TextPath(const std::filesystem::path& path) { return Text(path.string()); }

void WriteAllTo(int fd, const std::string& bytes) {
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

TEST(StagedFileTest, CommitMovesTheWholeFileToItsName) {
  TempFolder folder;
  StagedFile staged(TextPath(folder.Path()));
  ASSERT_TRUE(staged.Valid());
  WriteAllTo(staged.Descriptor(), "video bytes");
  // Until the commit, only the hidden temporary name exists.
  EXPECT_EQ(EntryNames(folder.Path()).size(), 1u);
  EXPECT_EQ(EntryNames(folder.Path())[0].rfind(".brelloc-", 0), 0u);

  EXPECT_EQ(staged.Commit(TextPath(folder.Path() / "a.mp4")), StagedFile::CommitResult::Committed);
  EXPECT_EQ(EntryNames(folder.Path()), std::vector<std::string>{"a.mp4"});
  EXPECT_EQ(ReadFile(folder.Path() / "a.mp4"), "video bytes");
}

TEST(StagedFileTest, CommitNeverReplacesWhatIsThere) {
  TempFolder folder;
  WriteFile(folder.Path() / "a.mp4", "first");
  StagedFile staged(TextPath(folder.Path()));
  WriteAllTo(staged.Descriptor(), "second");
  EXPECT_EQ(staged.Commit(TextPath(folder.Path() / "a.mp4")), StagedFile::CommitResult::TargetExists);
  EXPECT_EQ(ReadFile(folder.Path() / "a.mp4"), "first");
  EXPECT_EQ(EntryNames(folder.Path()), std::vector<std::string>{"a.mp4"});
}

TEST(StagedFileTest, CommitIntoAMissingFolderFailsAndLeavesNothing) {
  TempFolder folder;
  StagedFile staged(TextPath(folder.Path()));
  WriteAllTo(staged.Descriptor(), "x");
  EXPECT_EQ(staged.Commit(TextPath(folder.Path() / "missing" / "a.mp4")), StagedFile::CommitResult::Failed);
  EXPECT_TRUE(EntryNames(folder.Path()).empty());
}

TEST(StagedFileTest, AbandonedFileIsRemoved) {
  TempFolder folder;
  {
    StagedFile staged(TextPath(folder.Path()));
    WriteAllTo(staged.Descriptor(), "partial");
    StagedFile moved(std::move(staged));
    EXPECT_FALSE(staged.Valid());
    EXPECT_TRUE(moved.Valid());
  }
  EXPECT_TRUE(EntryNames(folder.Path()).empty());
}

TEST(StagedFileTest, MissingFolderGivesAnInvalidFile) {
  TempFolder folder;
  StagedFile staged(TextPath(folder.Path() / "missing"));
  EXPECT_FALSE(staged.Valid());
  EXPECT_EQ(staged.Commit(TextPath(folder.Path() / "a.mp4")), StagedFile::CommitResult::Failed);
}

TEST(StagedFileTest, OnlyAbandonedTemporaryFilesAreSweptAway) {
  TempFolder folder;
  WriteFile(folder.Path() / ".brelloc-abc123.part", "left by a killed program");
  WriteFile(folder.Path() / "keep.mp4", "a video");
  WriteFile(folder.Path() / ".brelloc-note.txt", "not ours");
  StagedFile inUse(TextPath(folder.Path()));
  ASSERT_TRUE(inUse.Valid());

  EXPECT_EQ(RemoveAbandonedStagedFiles(TextPath(folder.Path())), 1);
  EXPECT_EQ(EntryNames(folder.Path()).size(), 3u);
  EXPECT_FALSE(std::filesystem::exists(folder.Path() / ".brelloc-abc123.part"));
  EXPECT_TRUE(std::filesystem::exists(inUse.TemporaryPath()));
  EXPECT_EQ(RemoveAbandonedStagedFiles(TextPath(folder.Path() / "missing")), 0);
}

TEST(AppendToFileTest, CreatesThenAppendsWithoutTouchingEarlierBytes) {
  TempFolder folder;
  const auto path = folder.Path() / "list.txt";
  EXPECT_TRUE(AppendToFile(TextPath(path), "a\r\n"));
  EXPECT_TRUE(AppendToFile(TextPath(path), "b\r\n"));
  EXPECT_EQ(ReadFile(path), "a\r\nb\r\n");
  WriteFile(path, "no break");
  EXPECT_TRUE(AppendToFile(TextPath(path), "c\r\n"));
  EXPECT_EQ(ReadFile(path), "no breakc\r\n");
  EXPECT_FALSE(AppendToFile(TextPath(folder.Path() / "missing" / "list.txt"), "x"));
}

}  // namespace

#include "platform/run_directory.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "pagetext/codepage936.h"

namespace {

TEST(RunDirectoryTest, IsTheFolderOfTheProgramsFile) {
  const std::string program = std::filesystem::read_symlink("/proc/self/exe").string();
  const std::string expected = program.substr(0, program.rfind('/'));
  EXPECT_EQ(RunDirectory(), TextFromUtf8(expected));
  EXPECT_NE(RunDirectory().View().back(), '/');
}

TEST(RunDirectoryTest, VideoFolderLiesInIt) {
  EXPECT_EQ(VideoFolder(), RunDirectory() + TextFromUtf8("/视频"));
}

TEST(RunDirectoryTest, OverrideAndBack) {
  const Text real = RunDirectory();
  OverrideRunDirectory(Text("/tmp/elsewhere"));
  EXPECT_EQ(RunDirectory(), Text("/tmp/elsewhere"));
  EXPECT_EQ(VideoFolder(), TextFromUtf8("/tmp/elsewhere/视频"));
  OverrideRunDirectory(std::nullopt);
  EXPECT_EQ(RunDirectory(), real);
}

}  // namespace

#include "platform/file_system.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "pagetext/codepage936.h"

namespace {

namespace fs = std::filesystem;

class FileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "brelloc-fs-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }

  // The Text for a UTF-8 path below the temporary folder.
  Text At(const std::string& relative) const { return TextFromUtf8((root / relative).string()); }
  void MakeFile(const std::string& relative, const std::string& bytes = "x") const {
    std::ofstream(root / relative, std::ios::binary) << bytes;
  }
  void MakeFolder(const std::string& relative) const { fs::create_directories(root / relative); }

  fs::path root;
};

TEST_F(FileSystemTest, ExistenceAndFolderTests) {
  MakeFolder("folder");
  MakeFolder("视频");
  MakeFile("file");
  fs::create_symlink(root / "folder", root / "link-to-folder");
  fs::create_symlink(root / "nowhere", root / "dangling");

  struct Case {
    std::string path;
    bool exists;
    bool folder;
  } cases[] = {
      {"folder", true, true},
      {"视频", true, true},
      {"folder/", true, false},  // the folder search finds nothing behind a "/"
      {"file", true, false},
      {"link-to-folder", true, true},
      {"dangling", true, false},
      {"missing", false, false},
      {"fo*er", false, false},  // no wildcard matching
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(PathExists(At(c.path)), c.exists);
    EXPECT_EQ(IsFolder(At(c.path)), c.folder);
  }
  EXPECT_FALSE(PathExists(Text()));
  EXPECT_FALSE(IsFolder(Text()));
}

TEST_F(FileSystemTest, CreateOneFolderMakesOneLevel) {
  MakeFile("file");
  EXPECT_TRUE(CreateOneFolder(At("视频")));
  EXPECT_TRUE(fs::is_directory(root / "视频"));
  EXPECT_FALSE(CreateOneFolder(At("视频")));          // already there
  EXPECT_FALSE(CreateOneFolder(At("file")));          // a file in the way
  EXPECT_FALSE(CreateOneFolder(At("missing/child")));  // no parent
  EXPECT_FALSE(fs::exists(root / "missing"));
  EXPECT_FALSE(CreateOneFolder(Text()));
}

TEST_F(FileSystemTest, DeleteFolderTreeRemovesEverythingInside) {
  MakeFolder("tree/a/b");
  MakeFile("tree/top.mp4");
  MakeFile("tree/a/b/deep.txt");
  EXPECT_TRUE(DeleteFolderTree(At("tree")));
  EXPECT_FALSE(fs::exists(root / "tree"));
}

TEST_F(FileSystemTest, DeleteFolderTreeNeverFollowsLinks) {
  MakeFolder("outside");
  MakeFile("outside/keep");
  MakeFolder("tree");
  fs::create_symlink(root / "outside", root / "tree" / "link");
  fs::create_symlink(root / "outside", root / "top-link");

  EXPECT_FALSE(DeleteFolderTree(At("top-link")));
  EXPECT_TRUE(fs::is_symlink(root / "top-link"));
  EXPECT_FALSE(DeleteFolderTree(At("top-link/")));
  EXPECT_TRUE(DeleteFolderTree(At("tree")));
  EXPECT_FALSE(fs::exists(root / "tree"));
  EXPECT_TRUE(fs::exists(root / "outside" / "keep"));
}

TEST_F(FileSystemTest, DeleteFolderTreeRefusesWhatIsNoFolder) {
  MakeFile("file");
  EXPECT_FALSE(DeleteFolderTree(At("file")));
  EXPECT_TRUE(fs::exists(root / "file"));
  EXPECT_FALSE(DeleteFolderTree(At("missing")));
}

TEST_F(FileSystemTest, DeleteFolderTreeRefusesEmptyBlankAndRoot) {
  // Run from inside a folder with something in it, so that a path that
  // resolves to the current folder would visibly do damage.
  MakeFile("witness");
  const fs::path previous = fs::current_path();
  fs::current_path(root);
  for (const char* path : {"", " ", "   ", "/", "//", "///"}) {
    SCOPED_TRACE(std::string("\"") + path + "\"");
    EXPECT_FALSE(DeleteFolderTree(Text(path)));
  }
  fs::current_path(previous);
  EXPECT_TRUE(fs::exists(root / "witness"));
}

TEST_F(FileSystemTest, FileSize) {
  MakeFile("ten", "0123456789");
  MakeFile("empty", "");
  MakeFolder("folder");
  EXPECT_EQ(FileSize(At("ten")), 10);
  EXPECT_EQ(FileSize(At("empty")), 0);
  EXPECT_EQ(FileSize(At("folder")), -1);
  EXPECT_EQ(FileSize(At("missing")), -1);
}

}  // namespace

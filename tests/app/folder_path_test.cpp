#include "app/folder_path.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pagetext/codepage936.h"
#include "platform/run_directory.h"

namespace {

namespace fs = std::filesystem;

// A name longer than any file system allows for one level.
const std::string kTooLong(300, 'n');

// Works in a fresh temporary folder, which is also the current folder so
// that relative paths (whose first level is never created) stay inside it.
class FolderPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "brelloc-folders-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root = pattern;
    previous = fs::current_path();
    fs::current_path(root);
  }
  void TearDown() override {
    fs::current_path(previous);
    OverrideRunDirectory(std::nullopt);
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }

  // "T" at the start of a path stands for the temporary folder.
  std::string Expand(const std::string& path) const {
    return path.rfind("T", 0) == 0 ? root.string() + path.substr(1) : path;
  }
  std::vector<std::string> Entries() const {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
      found.push_back(fs::relative(entry.path(), root).string() + (entry.is_directory() ? "/" : ""));
    }
    std::sort(found.begin(), found.end());
    return found;
  }

  fs::path root;
  fs::path previous;
};

TEST_F(FolderPathTest, CreateFolderPath) {
  struct Case {
    std::string name;
    std::vector<std::string> before;  // folders end in "/", the rest are files
    std::string path;
    std::int32_t result;
    std::string pathAfter;
    std::vector<std::string> after;  // everything in the temporary folder afterwards
  } cases[] = {
      {"present", {"a/"}, "T/a", 0, "T/a/", {"a/"}},
      {"present with a trailing separator", {"a/"}, "T/a/", 0, "T/a/", {"a/"}},
      {"last level missing", {"a/"}, "T/a/b", 1, "T/a/b/", {"a/", "a/b/"}},
      {"several levels missing", {}, "T/a/b/c", 1, "T/a/b/c/", {"a/", "a/b/", "a/b/c/"}},
      {"missing with a trailing separator", {}, "T/视频/", 1, "T/视频/", {"视频/"}},
      {"blank", {}, "   ", -1, "   ", {}},
      {"empty", {}, "", -1, "", {}},
      {"the root alone", {}, "/", -1, "", {}},
      {"one level, never created", {}, "single", 1, "single/", {}},
      {"a file in the way", {"f"}, "T/f/sub", -1, "T/f/sub", {"f"}},
      {"a file at the last level", {"f"}, "T/f", -1, "T/f", {"f"}},
      {"failure deep down takes back what was made", {"x/"}, "T/x/y/z/" + kTooLong, -1,
       "T/x/y/z/" + kTooLong, {"x/"}},
      {"failure with the second level missing keeps it", {}, "./y/" + kTooLong, -1,
       "./y/" + kTooLong, {"y/"}},
      {"failure at the first level tried", {}, "./" + kTooLong + "/z", -1, "./" + kTooLong + "/z",
       {}},
      {"failure at the first level of an absolute path", {}, "/" + kTooLong, -1, "/" + kTooLong,
       {}},
      {"a second level that is a lone separator", {}, "//x", -1, "//x", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& entry : fs::directory_iterator(root)) fs::remove_all(entry.path());
    for (const std::string& entry : c.before) {
      if (entry.back() == '/') {
        fs::create_directories(root / entry);
      } else {
        std::ofstream(root / entry) << "x";
      }
    }

    Text path = TextFromUtf8(Expand(c.path));
    EXPECT_EQ(CreateFolderPath(path), c.result);
    EXPECT_EQ(path, TextFromUtf8(Expand(c.pathAfter)));
    EXPECT_EQ(Entries(), c.after);
  }
}

TEST_F(FolderPathTest, FolderExists) {
  fs::create_directory(root / "d");
  std::ofstream(root / "f") << "x";
  struct Case {
    std::string path;
    bool exists;
    std::string pathAfter;
  } cases[] = {
      {"T/d", true, "T/d"},
      {"T/d/", true, "T/d"},
      {"T/f", true, "T/f"},  // anything counts, a plain file too
      {"T/f/", true, "T/f"},
      {"T/missing", false, "T/missing"},
      {"T/missing/", false, "T/missing"},
      {"", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    Text path = TextFromUtf8(Expand(c.path));
    EXPECT_EQ(FolderExists(path), c.exists);
    EXPECT_EQ(path, TextFromUtf8(Expand(c.pathAfter)));
  }
}

TEST_F(FolderPathTest, PrepareVideoFolderMakesItBesideTheProgram) {
  OverrideRunDirectory(TextFromUtf8(root.string()));
  PrepareVideoFolder();
  EXPECT_TRUE(fs::is_directory(root / "视频"));
  std::ofstream(root / "视频" / "keep.mp4") << "x";
  PrepareVideoFolder();
  EXPECT_TRUE(fs::exists(root / "视频" / "keep.mp4"));
}

TEST_F(FolderPathTest, PrepareVideoFolderTakesAFileForTheFolder) {
  OverrideRunDirectory(TextFromUtf8(root.string()));
  std::ofstream(root / "视频") << "x";
  PrepareVideoFolder();
  EXPECT_TRUE(fs::is_regular_file(root / "视频"));
}

}  // namespace

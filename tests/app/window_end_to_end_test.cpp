// The whole job through the window: blogs typed into the blog box, the
// button clicked, the completion message awaited, the videos on disk.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <chrono>
#include <functional>
#include <thread>

#include "app/main_window.h"
#include "engine/harvester.h"
#include "fake_blog_service.h"
#include "pagetext/codepage936.h"
#include "platform/run_directory.h"
#include "temp_folder.h"

namespace {

using testing_support::Answer;
using testing_support::BlogPageMarkup;
using testing_support::EntryNames;
using testing_support::FakeBlogService;
using testing_support::ReadFile;
using testing_support::TempFolder;
using testing_support::VideoBytes;

bool WaitUntil(const std::function<bool()>& condition) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > limit) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

QMessageBox* OpenMessage() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* box = qobject_cast<QMessageBox*>(widget);
    if (box != nullptr && box->isVisible()) return box;
  }
  return nullptr;
}

TEST(WindowEndToEndTest, TypedBlogsAreHarvestedIntoTheVideoFolder) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  int argc = 1;
  char name[] = "window_end_to_end_test";
  char* argv[] = {name, nullptr};
  QApplication application(argc, argv);

  FakeBlogService service;
  ::setenv("BRELLOC_CONNECT_TO", service.ConnectTo().c_str(), 1);
  const std::string video = VideoBytes(30000);
  service.SetPage("cats", 1, BlogPageMarkup("cats", {{"5", "window-cat", true, "w1"}}));
  service.SetPage("dogs", 1, BlogPageMarkup("dogs", {{"6", "", true, "w2"}}));
  service.SetVideo("w1", Answer(200, video));
  service.SetVideo("w2", Answer(404, VideoBytes(20000)));

  TempFolder home;
  OverrideRunDirectory(TextFromUtf8(home.Path().string()));
  {
    BatchSeams seams;
    seams.harvest = [](const Text& blog, std::int32_t page) { HarvestBlogPage(blog, page); };
    MainWindow window(std::move(seams));
    window.show();
    ASSERT_TRUE(std::filesystem::is_directory(home.Path() / "视频"));

    auto* blogBox = window.findChild<QPlainTextEdit*>(QString::fromUtf8("编辑框_blog"));
    blogBox->selectAll();
    QTest::keyClicks(blogBox, "cats");
    QTest::keyClick(blogBox, Qt::Key_Return);
    QTest::keyClicks(blogBox, "dogs");
    window.findChild<QLineEdit*>(QString::fromUtf8("编辑框_页数"))->setText("1");

    QTest::mouseClick(window.findChild<QPushButton*>(QString::fromUtf8("按钮_视频")), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([] { return OpenMessage() != nullptr; }));
    EXPECT_EQ(OpenMessage()->text(), QString::fromUtf8("学术视频下载完成"));
    EXPECT_EQ(window.windowTitle(), "Brelloc");
    OpenMessage()->button(QMessageBox::Ok)->click();
    ASSERT_TRUE(WaitUntil([] { return MainWindow::RunningBatches() == 0; }));
  }
  OverrideRunDirectory(std::nullopt);
  ::unsetenv("BRELLOC_CONNECT_TO");

  const auto videos = home.Path() / "视频";
  EXPECT_EQ(EntryNames(videos), (std::vector<std::string>{"window-cat.mp4", "视频.txt"}));
  EXPECT_EQ(ReadFile(videos / "window-cat.mp4"), video);
  EXPECT_EQ(ReadFile(videos / "视频.txt"), "http://vt.tumblr.com/tumblr_w2.mp4\r\n");
}

}  // namespace

#include "app/main_window.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/qt_batch_window.h"
#include "app/qt_text.h"
#include "pagetext/codepage936.h"
#include "platform/run_directory.h"

namespace {

namespace fs = std::filesystem;

using Calls = std::vector<std::pair<std::string, std::int32_t>>;

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

// Keeps the window's thread turning until `condition` holds; false after a
// generous limit.
bool WaitUntil(const std::function<bool()>& condition) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > limit) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// Types `text` one character at a time, as a keyboard would, whatever the
// characters are.
void Type(QWidget* widget, const QString& text) {
  for (QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(widget, &release);
  }
}

QMessageBox* OpenMessage() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* box = qobject_cast<QMessageBox*>(widget);
    if (box != nullptr && box->isVisible() && box->objectName() == "batchMessage") return box;
  }
  return nullptr;
}

// A harvester that holds every call until the test lets it go.
class GatedHarvester {
 public:
  HarvestFunction Function() {
    return [this](const Text& blog, std::int32_t page) {
      std::unique_lock lock(mutex_);
      calls_.emplace_back(TextToUtf8(blog), page);
      open_.wait_for(lock, std::chrono::seconds(30), [this] { return released_; });
    };
  }
  void Release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    open_.notify_all();
  }
  Calls CallList() {
    std::lock_guard lock(mutex_);
    return calls_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable open_;
  bool released_ = false;
  Calls calls_;
};

class MainWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "main_window_test";
    static char* argv[] = {name, nullptr};
    static QApplication* application = new QApplication(argc, argv);
    (void)application;
  }

  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "brelloc-window-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    runDirectory = pattern;
    OverrideRunDirectory(TextFromUtf8(runDirectory.string()));
  }

  void TearDown() override {
    harvester.Release();
    // No batch may outlive the window it talks to.
    EXPECT_TRUE(WaitUntil([] {
      if (QMessageBox* box = OpenMessage()) box->button(QMessageBox::Ok)->click();
      return MainWindow::RunningBatches() == 0;
    }));
    window.reset();
    OverrideRunDirectory(std::nullopt);
    std::error_code ignored;
    fs::remove_all(runDirectory, ignored);
  }

  MainWindow& Open(std::function<bool(std::function<void()>)> startThread = StartDetachedThread) {
    BatchSeams seams;
    seams.harvest = harvester.Function();
    seams.startThread = [this, startThread](std::function<void()> body) {
      ++starts;
      return startThread(std::move(body));
    };
    window = std::make_unique<MainWindow>(std::move(seams));
    window->show();
    return *window;
  }

  template <typename Widget = QWidget>
  Widget* Find(const char* name) {
    return window->findChild<Widget*>(Q(name));
  }

  fs::path runDirectory;
  GatedHarvester harvester;
  std::atomic<int> starts{0};
  std::unique_ptr<MainWindow> window;
};

TEST_F(MainWindowTest, StartUp) {
  MainWindow& w = Open();
  EXPECT_EQ(w.windowTitle(), "Brelloc");
  EXPECT_TRUE(fs::is_directory(runDirectory / "视频"));
  EXPECT_EQ(w.size(), QSize(355, 252));
  EXPECT_EQ(w.minimumSize(), QSize(355, 252));
  EXPECT_EQ(w.maximumSize(), QSize(355, 252));
  const Qt::WindowFlags flags = w.windowFlags();
  EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowSystemMenuHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_EQ(w.palette().color(QPalette::Window), w.palette().color(QPalette::Button));
  EXPECT_TRUE(w.autoFillBackground());
}

TEST_F(MainWindowTest, ControlsInStoredOrder) {
  Open();
  struct Control {
    const char* name;
    const char* kind;
    QRect geometry;
    const char* text;  // nullptr: the help text
  } controls[] = {
      {"编辑框_起始页", "NumberBox", QRect(280, 13, 56, 24), "1"},
      {"透明标签3", "QLabel", QRect(234, 9, 38, 32), "起始页"},
      {"透明标签2", "QLabel", QRect(234, 44, 38, 32), "页  数"},
      {"编辑框_页数", "NumberBox", QRect(280, 50, 56, 24), "5"},
      {"透明标签1", "QLabel", QRect(234, 78, 38, 32), "线程数"},
      {"按钮_视频", "QPushButton", QRect(232, 136, 104, 72), "下载学术视频"},
      {"编辑框_线程数", "NumberBox", QRect(280, 84, 56, 24), "5"},
      {"编辑框_blog", "BlogBox", QRect(16, 8, 200, 200), nullptr},
  };

  std::vector<QString> order;
  for (QObject* child : window->children()) {
    if (child->isWidgetType()) order.push_back(child->objectName());
  }
  ASSERT_EQ(order.size(), std::size(controls));

  for (std::size_t i = 0; i < std::size(controls); ++i) {
    const Control& c = controls[i];
    SCOPED_TRACE(c.name);
    EXPECT_EQ(order[i], Q(c.name));
    QWidget* widget = Find(c.name);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->geometry(), c.geometry);
    QString text;
    std::string kind;
    if (auto* box = dynamic_cast<NumberBox*>(widget)) {
      kind = "NumberBox";
      text = box->text();
      EXPECT_EQ(box->alignment(), Qt::AlignCenter);
      EXPECT_EQ(box->maxLength(), std::numeric_limits<int>::max());
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
      kind = "QLabel";
      text = label->text();
      EXPECT_EQ(label->focusPolicy(), Qt::NoFocus);
      EXPECT_FALSE(label->autoFillBackground());
    } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
      kind = "QPushButton";
      text = button->text();
    } else if (auto* blog = dynamic_cast<BlogBox*>(widget)) {
      kind = "BlogBox";
      text = ToQString(blog->LinesText());
    }
    EXPECT_EQ(kind, c.kind);
    if (c.text != nullptr) {
      EXPECT_EQ(text, Q(c.text));
    }
  }
}

TEST_F(MainWindowTest, HelpTextIsTheBlogBoxsContent) {
  MainWindow& w = Open();
  const Text expected = TextFromUtf8(
      "填写二级域名字母即可\r\n如example.tumblr.com/ \r\n只需要输入example即可\r\n"
      "自动在软件根目录创建文件夹并下载");
  EXPECT_EQ(BlogBoxHelpText(), expected);
  EXPECT_EQ(w.ControlText(BatchControl::BlogBox), expected);
}

TEST_F(MainWindowTest, NumberBoxesTakeTypedDigitsAndMinusOnly) {
  Open();
  auto* box = Find<NumberBox>("编辑框_页数");
  box->setFocus();
  box->clear();
  Type(box, Q("a-7b.9 x１"));
  EXPECT_EQ(box->text(), "-79");
  QTest::keyClick(box, Qt::Key_Backspace);
  EXPECT_EQ(box->text(), "-7");
  QTest::keyClick(box, Qt::Key_Home);
  QTest::keyClick(box, Qt::Key_Delete);
  EXPECT_EQ(box->text(), "7");

  // Clipboard shortcuts work, and pasted text is not filtered.
  QApplication::clipboard()->setText(Q("x1 y"));
  QTest::keyClick(box, Qt::Key_End);
  QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(box->text(), "7x1 y");
  QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), "7x1 y");

  // Text from an input method is filtered like typing.
  QInputMethodEvent composed;
  composed.setCommitString(Q("2k-"));
  QApplication::sendEvent(box, &composed);
  EXPECT_EQ(box->text(), "2-");

  // Leaving the box rewrites nothing.
  box->setText(Q("abc"));
  Find("按钮_视频")->setFocus();
  EXPECT_EQ(box->text(), "abc");
}

TEST_F(MainWindowTest, BlogBoxGivesItsLinesJoinedByCrLf) {
  MainWindow& w = Open();
  auto* box = Find<BlogBox>("编辑框_blog");
  box->setFocus();
  box->clear();
  QTest::keyClicks(box, Q("ab"));
  QTest::keyClick(box, Qt::Key_Return);
  QTest::keyClick(box, Qt::Key_Return);
  Type(box, Q("甲 c"));
  EXPECT_EQ(w.ControlText(BatchControl::BlogBox), TextFromUtf8("ab\r\n\r\n甲 c"));

  // A line far wider than the box wraps on screen but not in the text.
  const std::string wide(150, 'w');
  w.SetControlText(BatchControl::BlogBox, TextFromUtf8(wide + " word\r\nnext"));
  EXPECT_EQ(w.ControlText(BatchControl::BlogBox), TextFromUtf8(wide + " word\r\nnext"));
  QApplication::processEvents();
  EXPECT_EQ(box->document()->blockCount(), 2);
  EXPECT_GT(box->document()->firstBlock().layout()->lineCount(), 1);
  EXPECT_EQ(box->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(box->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(box->lineWrapMode(), QPlainTextEdit::WidgetWidth);

  // A no-break space stays what it is.
  w.SetControlText(BatchControl::BlogBox, TextFromUtf16(u"a\u00A0b"));
  EXPECT_EQ(w.ControlText(BatchControl::BlogBox), TextFromUtf16(u"a\u00A0b"));
}

TEST_F(MainWindowTest, ABatchFromTheButton) {
  MainWindow& w = Open();
  w.SetControlText(BatchControl::BlogBox, Text("a\r\nb"));
  w.SetControlText(BatchControl::PageCountBox, Text("1"));
  w.SetControlText(BatchControl::ThreadCountBox, Text("1"));
  auto* button = Find<QPushButton>("按钮_视频");
  auto* blogBox = Find("编辑框_blog");
  auto* startBox = Find<NumberBox>("编辑框_起始页");

  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_FALSE(button->isEnabled());
  // A second click before the batch has locked the controls starts nothing.
  w.OnDownloadClicked();
  EXPECT_EQ(starts.load(), 1);

  ASSERT_TRUE(WaitUntil([&] { return w.windowTitle() == Q("Brelloc 第1页    1"); }));
  EXPECT_FALSE(blogBox->isEnabled());
  EXPECT_FALSE(button->isEnabled());
  // The window keeps working while the batch runs.
  EXPECT_TRUE(startBox->isEnabled());
  startBox->setFocus();
  QTest::keyClick(startBox, Qt::Key_End);
  QTest::keyClick(startBox, Qt::Key_7);
  EXPECT_EQ(startBox->text(), "17");

  harvester.Release();
  ASSERT_TRUE(WaitUntil([] { return OpenMessage() != nullptr; }));
  QMessageBox* box = OpenMessage();
  EXPECT_EQ(box->text(), Q("学术视频下载完成"));
  EXPECT_EQ(box->windowTitle(), Q("信息："));
  EXPECT_EQ(box->parentWidget(), nullptr);
  EXPECT_FALSE(box->isModal());
  EXPECT_EQ(box->windowModality(), Qt::NonModal);
  EXPECT_EQ(w.windowTitle(), "Brelloc");
  EXPECT_TRUE(blogBox->isEnabled());
  EXPECT_TRUE(button->isEnabled());
  // The batch's thread waits for the message to go.
  EXPECT_EQ(MainWindow::RunningBatches(), 1);

  box->button(QMessageBox::Ok)->click();
  ASSERT_TRUE(WaitUntil([] { return MainWindow::RunningBatches() == 0; }));
  const Calls calls = {{"a", 1}, {"b", 1}};
  EXPECT_EQ(harvester.CallList(), calls);
  EXPECT_EQ(CurrentPage, 2);
}

TEST_F(MainWindowTest, AnEmptyBlogBoxIsReported) {
  MainWindow& w = Open();
  w.SetControlText(BatchControl::BlogBox, Text());
  QTest::mouseClick(Find("按钮_视频"), Qt::LeftButton);
  ASSERT_TRUE(WaitUntil([] { return OpenMessage() != nullptr; }));
  EXPECT_EQ(OpenMessage()->text(), Q("填入blog,以换行符隔开"));
  EXPECT_EQ(w.windowTitle(), "Brelloc");
  EXPECT_TRUE(Find("按钮_视频")->isEnabled());
  EXPECT_TRUE(Find("编辑框_blog")->isEnabled());
  EXPECT_TRUE(harvester.CallList().empty());
}

TEST_F(MainWindowTest, ABatchThreadThatCannotStartLeavesTheWindowAsItWas) {
  Open([](std::function<void()>) { return false; });
  QTest::mouseClick(Find("按钮_视频"), Qt::LeftButton);
  EXPECT_EQ(starts.load(), 1);
  EXPECT_TRUE(Find("按钮_视频")->isEnabled());
  EXPECT_EQ(MainWindow::RunningBatches(), 0);
  QApplication::processEvents();
  EXPECT_EQ(OpenMessage(), nullptr);
}

TEST_F(MainWindowTest, BridgeCarriesCallsOverFromAnotherThread) {
  MainWindow& w = Open();
  QtBatchWindow bridge(&w);
  Text read;
  std::atomic<bool> done{false};
  std::thread other([&] {
    bridge.SetControlText(BatchControl::StartPageBox, TextFromUtf8("４２"));
    bridge.SetCaption(TextFromUtf8("Brelloc 第9页    3"));
    bridge.EnableControl(BatchControl::PageCountBox, false);
    read = bridge.ControlText(BatchControl::StartPageBox);
    done = true;
  });
  const bool finished = WaitUntil([&] { return done.load(); });
  other.join();
  ASSERT_TRUE(finished);
  EXPECT_EQ(read, TextFromUtf8("４２"));
  EXPECT_EQ(Find<NumberBox>("编辑框_起始页")->text(), Q("４２"));
  EXPECT_EQ(w.windowTitle(), Q("Brelloc 第9页    3"));
  EXPECT_FALSE(Find("编辑框_页数")->isEnabled());
}

TEST_F(MainWindowTest, ClosingTheWindowIsAnnounced) {
  MainWindow& w = Open();
  QSignalSpy closed(&w, &MainWindow::Closed);
  w.close();
  EXPECT_EQ(closed.count(), 1);
}

// Runs in a process of its own, since the program is meant to end.
using MainWindowDeathTest = MainWindowTest;

TEST_F(MainWindowDeathTest, ClosingTheWindowDuringABatchEndsTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        MainWindow& w = Open();
        w.SetControlText(BatchControl::BlogBox, Text("a"));
        QTest::mouseClick(Find("按钮_视频"), Qt::LeftButton);
        // A worker is inside the harvester, which never returns by itself.
        WaitUntil([] { return ActiveWorkers.load() > 0; });
        std::error_code ignored;
        fs::remove_all(runDirectory, ignored);
        QTimer::singleShot(0, &w, [&w] { w.close(); });
        RunUntilClosed(w);
        std::exit(3);  // the program should have ended inside
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(MainWindowTest, ClosingTheWindowWithoutABatchReturns) {
  MainWindow& w = Open();
  QTimer::singleShot(0, &w, [&w] { w.close(); });
  EXPECT_EQ(RunUntilClosed(w), 0);
}

}  // namespace

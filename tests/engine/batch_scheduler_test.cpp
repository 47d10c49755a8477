#include "engine/batch_scheduler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <limits>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "pagetext/codepage936.h"

namespace {

using Calls = std::vector<std::pair<std::string, std::int32_t>>;

std::string Utf8(const Text& text) { return TextToUtf8(text); }

const char* Name(BatchControl control) {
  switch (control) {
    case BatchControl::BlogBox: return "blog";
    case BatchControl::StartPageBox: return "start";
    case BatchControl::PageCountBox: return "pages";
    case BatchControl::ThreadCountBox: return "threads";
    case BatchControl::DownloadButton: return "button";
  }
  return "?";
}

// Records every call the batch makes, in order, as a readable line.
class FakeWindow : public BatchWindow {
 public:
  FakeWindow(const std::string& blogs, const std::string& start, const std::string& pages,
             const std::string& threads) {
    texts_[BatchControl::BlogBox] = TextFromUtf8(blogs);
    texts_[BatchControl::StartPageBox] = TextFromUtf8(start);
    texts_[BatchControl::PageCountBox] = TextFromUtf8(pages);
    texts_[BatchControl::ThreadCountBox] = TextFromUtf8(threads);
  }

  Text ControlText(BatchControl control) override {
    std::lock_guard lock(mutex_);
    log_.push_back(std::string("read ") + Name(control));
    return texts_[control];
  }
  void SetControlText(BatchControl control, const Text& text) override {
    std::lock_guard lock(mutex_);
    log_.push_back(std::string("write ") + Name(control) + " " + Utf8(text));
    texts_[control] = text;
  }
  void EnableControl(BatchControl control, bool enabled) override {
    std::lock_guard lock(mutex_);
    log_.push_back(std::string(enabled ? "enable " : "disable ") + Name(control));
  }
  void SetCaption(const Text& caption) override {
    std::lock_guard lock(mutex_);
    log_.push_back("caption " + Utf8(caption));
    captions_.push_back(Utf8(caption));
  }
  void ShowMessage(const Text& message, const Text& title) override {
    std::lock_guard lock(mutex_);
    log_.push_back("message " + Utf8(title) + " " + Utf8(message));
    lockAtMessage_ = DownloadLock.has_value();
  }

  // Stands for the user typing into a box while the batch runs.
  void Type(BatchControl control, const std::string& text) {
    std::lock_guard lock(mutex_);
    texts_[control] = TextFromUtf8(text);
  }
  std::string TextOf(BatchControl control) {
    std::lock_guard lock(mutex_);
    return Utf8(texts_[control]);
  }
  std::vector<std::string> Log() {
    std::lock_guard lock(mutex_);
    return log_;
  }
  std::vector<std::string> Captions() {
    std::lock_guard lock(mutex_);
    return captions_;
  }
  bool LockAtMessage() {
    std::lock_guard lock(mutex_);
    return lockAtMessage_;
  }

 private:
  std::mutex mutex_;
  std::map<BatchControl, Text> texts_;
  std::vector<std::string> log_;
  std::vector<std::string> captions_;
  bool lockAtMessage_ = true;
};

// Records the harvests, how many ran at once, and what they saw.
class FakeHarvester {
 public:
  std::function<void(const Text&, std::int32_t)> during;  // runs inside each harvest

  HarvestFunction Function() {
    return [this](const Text& blog, std::int32_t page) { Harvest(blog, page); };
  }
  Calls CallList() {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  int MostAtOnce() {
    std::lock_guard lock(mutex_);
    return mostAtOnce_;
  }
  bool AlwaysHadLock() {
    std::lock_guard lock(mutex_);
    return alwaysHadLock_;
  }
  bool AlwaysGotListEntry() {
    std::lock_guard lock(mutex_);
    return alwaysGotListEntry_;
  }

 private:
  void Harvest(const Text& blog, std::int32_t page) {
    {
      std::lock_guard lock(mutex_);
      calls_.emplace_back(Utf8(blog), page);
      mostAtOnce_ = std::max(mostAtOnce_, ++running_);
      alwaysHadLock_ = alwaysHadLock_ && DownloadLock.has_value();
      bool inList = false;
      for (const Text& entry : BlogList) inList = inList || &entry == &blog;
      alwaysGotListEntry_ = alwaysGotListEntry_ && inList;
    }
    if (during) during(blog, page);
    std::lock_guard lock(mutex_);
    --running_;
  }

  std::mutex mutex_;
  Calls calls_;
  int running_ = 0;
  int mostAtOnce_ = 0;
  bool alwaysHadLock_ = true;
  bool alwaysGotListEntry_ = true;
};

BatchSeams SeamsFor(FakeHarvester& harvester) {
  BatchSeams seams;
  seams.harvest = harvester.Function();
  return seams;
}

class BatchSchedulerTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(ActiveWorkers.load(), 0);
    EXPECT_FALSE(DownloadLock.has_value());
  }
};

TEST_F(BatchSchedulerTest, EmptyBlogBoxOnlyTellsTheUser) {
  FakeWindow window("", "1", "5", "5");
  FakeHarvester harvester;
  RunBatch(window, SeamsFor(harvester));

  const std::vector<std::string> expected = {
      "disable blog", "disable button", "read blog", "enable blog", "enable button",
      "message 信息： 填入blog,以换行符隔开",
  };
  EXPECT_EQ(window.Log(), expected);
  EXPECT_TRUE(BlogList.IsEmpty());
  EXPECT_TRUE(harvester.CallList().empty());
  EXPECT_FALSE(window.LockAtMessage());
}

TEST_F(BatchSchedulerTest, BlogBoxLinesBecomeTheList) {
  struct Case {
    std::string box;
    std::vector<std::string> blogs;
  } cases[] = {
      {"\r\n", {""}},
      {"a", {"a"}},
      {"a\r\n\r\nb", {"a", "", "b"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {" a \r\n甲", {" a ", "甲"}},
      {"a\nb", {"a\nb"}},  // only CR LF separates
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.box);
    FakeWindow window(c.box, "1", "1", "1");
    FakeHarvester harvester;
    RunBatch(window, SeamsFor(harvester));
    Calls expected;
    for (const std::string& blog : c.blogs) expected.emplace_back(blog, 1);
    EXPECT_EQ(harvester.CallList(), expected);
    ASSERT_EQ(BlogList.Count(), static_cast<int>(c.blogs.size()));
    EXPECT_TRUE(harvester.AlwaysGotListEntry());
  }
}

TEST_F(BatchSchedulerTest, NumberBoxesBelowOneGetTheirDefaults) {
  struct Case {
    std::string start, pages, threads;
    std::vector<std::string> settling;  // reads and writes of the number boxes, in order
    std::int32_t firstPage;
    int pageCount;
    std::string startAfter, pagesAfter, threadsAfter;
  } cases[] = {
      {"1", "2", "3", {"read start", "read threads", "read pages"}, 1, 2, "1", "2", "3"},
      {"0", "-2", "abc",
       {"read start", "write start 1", "read threads", "write threads 5", "read pages",
        "write pages 5"},
       1, 5, "1", "5", "5"},
      {"", " 2", "x1", {"read start", "write start 1", "read threads", "write threads 5", "read pages"},
       1, 2, "1", " 2", "5"},
      // Full-width digits read as digits and stay as typed.
      {"１２", "2abc", "1", {"read start", "read threads", "read pages"}, 12, 2, "１２", "2abc", "1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start + "|" + c.pages + "|" + c.threads);
    FakeWindow window("blog", c.start, c.pages, c.threads);
    FakeHarvester harvester;
    RunBatch(window, SeamsFor(harvester));

    std::vector<std::string> settling;
    for (const std::string& line : window.Log()) {
      const bool numberBox = line.find(" blog") == std::string::npos;
      if ((line.rfind("read ", 0) == 0 || line.rfind("write ", 0) == 0) && numberBox) {
        settling.push_back(line);
      }
    }
    EXPECT_EQ(settling, c.settling);

    Calls calls;
    for (int i = 0; i < c.pageCount; ++i) calls.emplace_back("blog", c.firstPage + i);
    EXPECT_EQ(harvester.CallList(), calls);
    EXPECT_EQ(CurrentPage, c.firstPage + c.pageCount);
    EXPECT_EQ(window.TextOf(BatchControl::StartPageBox), c.startAfter);
    EXPECT_EQ(window.TextOf(BatchControl::PageCountBox), c.pagesAfter);
    EXPECT_EQ(window.TextOf(BatchControl::ThreadCountBox), c.threadsAfter);
  }
}

TEST_F(BatchSchedulerTest, OneThreadWorksThePagesInOrder) {
  FakeWindow window("a\r\nb", "3", "2", "1");
  FakeHarvester harvester;
  RunBatch(window, SeamsFor(harvester));

  const Calls calls = {{"a", 3}, {"b", 3}, {"a", 4}, {"b", 4}};
  EXPECT_EQ(harvester.CallList(), calls);
  EXPECT_EQ(harvester.MostAtOnce(), 1);
  EXPECT_TRUE(harvester.AlwaysHadLock());
  EXPECT_TRUE(harvester.AlwaysGotListEntry());
  EXPECT_EQ(CurrentPage, 5);
  EXPECT_FALSE(window.LockAtMessage());

  const std::vector<std::string> expected = {
      "disable blog",
      "disable button",
      "read blog",
      "read start",
      "read threads",
      "read pages",
      "caption Brelloc 第3页    1",
      "caption Brelloc 第3页    2",
      "caption Brelloc 第4页    1",
      "caption Brelloc 第4页    2",
      "enable blog",
      "enable button",
      "caption Brelloc",
      "message 信息： 学术视频下载完成",
  };
  EXPECT_EQ(window.Log(), expected);
}

TEST_F(BatchSchedulerTest, NeverMoreWorkersThanTheThreadCount) {
  std::string box;
  for (int i = 1; i <= 8; ++i) box += (i > 1 ? "\r\n" : "") + std::string("blog") + std::to_string(i);
  FakeWindow window(box, "1", "2", "3");
  FakeHarvester harvester;
  harvester.during = [](const Text&, std::int32_t) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  };
  RunBatch(window, SeamsFor(harvester));

  EXPECT_LE(harvester.MostAtOnce(), 3);
  Calls calls = harvester.CallList();
  ASSERT_EQ(calls.size(), 16u);
  // Blogs start in list order, every blog once per page, pages one after
  // the other.
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(calls[i].first, "blog" + std::to_string(i % 8 + 1));
    EXPECT_EQ(calls[i].second, 1 + i / 8);
  }
}

TEST_F(BatchSchedulerTest, MoreThreadsThanBlogsStartsThemAllBeforeTheDrain) {
  // Each harvest waits until all three run at once, which only happens when
  // the batch starts them all without waiting for any.
  std::mutex mutex;
  std::condition_variable changed;
  int arrived = 0;
  bool allThere = true;
  FakeWindow window("a\r\nb\r\nc", "1", "1", "10");
  FakeHarvester harvester;
  harvester.during = [&](const Text&, std::int32_t) {
    std::unique_lock lock(mutex);
    ++arrived;
    changed.notify_all();
    if (!changed.wait_for(lock, std::chrono::seconds(30), [&] { return arrived == 3; })) {
      allThere = false;
    }
  };
  RunBatch(window, SeamsFor(harvester));
  EXPECT_TRUE(allThere);
  EXPECT_EQ(harvester.MostAtOnce(), 3);
}

TEST_F(BatchSchedulerTest, AWorkerThatCannotStartIsNotWaitedFor) {
  FakeWindow window("a\r\nb", "1", "2", "2");
  FakeHarvester harvester;
  BatchSeams seams = SeamsFor(harvester);
  int starts = 0;
  seams.startThread = [&starts](std::function<void()> body) {
    if (++starts == 2) return false;  // b on page 1
    return StartDetachedThread(std::move(body));
  };
  RunBatch(window, seams);

  Calls calls = harvester.CallList();
  std::sort(calls.begin(), calls.end(),
            [](const auto& x, const auto& y) { return std::tie(x.second, x.first) < std::tie(y.second, y.first); });
  const Calls expected = {{"a", 1}, {"a", 2}, {"b", 2}};
  EXPECT_EQ(calls, expected);
  EXPECT_EQ(starts, 4);
  EXPECT_EQ(CurrentPage, 3);
  EXPECT_EQ(window.Log().back(), "message 信息： 学术视频下载完成");
}

TEST_F(BatchSchedulerTest, NoThreadStartsAtAll) {
  FakeWindow window("a\r\nb", "1", "3", "1");
  FakeHarvester harvester;
  BatchSeams seams = SeamsFor(harvester);
  seams.startThread = [](std::function<void()>) { return false; };
  RunBatch(window, seams);
  EXPECT_TRUE(harvester.CallList().empty());
  EXPECT_EQ(window.Captions().size(), 7u);  // two per page, then "Brelloc"
  EXPECT_EQ(CurrentPage, 4);
}

TEST_F(BatchSchedulerTest, EditingNumberBoxesDuringABatchChangesNothing) {
  FakeWindow window("a\r\nb", "2", "3", "1");
  FakeHarvester harvester;
  harvester.during = [&window](const Text&, std::int32_t) {
    window.Type(BatchControl::StartPageBox, "40");
    window.Type(BatchControl::PageCountBox, "1");
    window.Type(BatchControl::ThreadCountBox, "9");
  };
  RunBatch(window, SeamsFor(harvester));

  const Calls calls = {{"a", 2}, {"b", 2}, {"a", 3}, {"b", 3}, {"a", 4}, {"b", 4}};
  EXPECT_EQ(harvester.CallList(), calls);
  EXPECT_EQ(harvester.MostAtOnce(), 1);
  EXPECT_EQ(CurrentPage, 5);
}

TEST_F(BatchSchedulerTest, StopsAtTheLargestPageNumber) {
  const std::int32_t last = std::numeric_limits<std::int32_t>::max();
  FakeWindow window("a", std::to_string(last - 1), "5", "5");
  FakeHarvester harvester;
  RunBatch(window, SeamsFor(harvester));

  const Calls calls = {{"a", last - 1}, {"a", last}};
  EXPECT_EQ(harvester.CallList(), calls);
  EXPECT_EQ(CurrentPage, last);
  EXPECT_EQ(window.Log().back(), "message 信息： 学术视频下载完成");
}

TEST_F(BatchSchedulerTest, EachBatchReplacesTheList) {
  FakeHarvester harvester;
  FakeWindow first("a\r\nb\r\nc", "1", "1", "5");
  RunBatch(first, SeamsFor(harvester));
  EXPECT_EQ(BlogList.Count(), 3);
  FakeWindow second("d", "1", "1", "5");
  RunBatch(second, SeamsFor(harvester));
  ASSERT_EQ(BlogList.Count(), 1);
  EXPECT_EQ(BlogList.At(1), Text("d"));
}

TEST_F(BatchSchedulerTest, BlogWorkerHarvestsItsEntryAndCountsItselfOut) {
  BlogList = TextArray({Text("a"), Text("b")});
  CurrentPage = 7;
  ActiveWorkers = 1;
  const Text* seen = nullptr;
  std::int32_t seenPage = 0;
  BlogWorker(2, [&](const Text& blog, std::int32_t page) {
    seen = &blog;
    seenPage = page;
  });
  EXPECT_EQ(seen, &BlogList.At(2));
  EXPECT_EQ(seenPage, 7);
  EXPECT_EQ(ActiveWorkers.load(), 0);
}

}  // namespace

#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

#include "platform/threads.h"
#include "values/text.h"
#include "values/text_array.h"

// What a batch shares with its workers. BlogList is replaced at the start of
// a batch, before any worker starts, and only read while workers run.
// CurrentPage is written by the batch thread only while no worker runs.
// ActiveWorkers counts the workers started and not yet finished.
// DownloadLock exists from before the first worker of a batch until after
// the last one has finished; workers hold it while they append to the list
// of failed downloads.
extern TextArray BlogList;
extern std::int32_t CurrentPage;
extern std::atomic<std::int32_t> ActiveWorkers;
extern std::optional<std::mutex> DownloadLock;

// The controls of the window that a batch reads and writes.
enum class BatchControl {
  BlogBox,         // 编辑框_blog
  StartPageBox,    // 编辑框_起始页
  PageCountBox,    // 编辑框_页数
  ThreadCountBox,  // 编辑框_线程数
  DownloadButton,  // 按钮_视频
};

// The window's part in a batch, called from the batch thread. An
// implementation that owns real widgets does the work on its own thread and
// returns when it is done; ShowMessage returns only once the user has
// dismissed the message.
class BatchWindow {
 public:
  virtual ~BatchWindow() = default;

  // A multi-line box gives its lines joined by CR LF.
  virtual Text ControlText(BatchControl control) = 0;
  virtual void SetControlText(BatchControl control, const Text& text) = 0;
  virtual void EnableControl(BatchControl control, bool enabled) = 0;
  virtual void SetCaption(const Text& caption) = 0;
  virtual void ShowMessage(const Text& message, const Text& title) = 0;
};

// Harvests one blog's page; called on worker threads, several at a time.
using HarvestFunction = std::function<void(const Text& blog, std::int32_t page)>;
// Starts `body` on a thread of its own, or answers false and drops it.
using ThreadStarter = std::function<bool(std::function<void()> body)>;
using SleepFunction = std::function<void(int milliseconds)>;

// What a batch calls out to. Production passes the harvester and keeps the
// other two; tests replace any of them.
struct BatchSeams {
  HarvestFunction harvest;
  ThreadStarter startThread = StartDetachedThread;
  SleepFunction sleep = SleepMilliseconds;
};

// One press of the download button, from locking the controls to the final
// message. Runs on a thread of its own and returns when the user has
// dismissed that message. Only one batch may run at a time: the caller keeps
// a second one from starting while the button is disabled.
void RunBatch(BatchWindow& window, const BatchSeams& seams);

// The body of one worker thread: harvests the blog at the 1-based `index`
// of BlogList for CurrentPage, then counts itself out of ActiveWorkers.
void BlogWorker(std::int32_t index, const HarvestFunction& harvest);

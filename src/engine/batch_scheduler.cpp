#include "engine/batch_scheduler.h"

#include <limits>

#include "pagetext/codepage936.h"
#include "values/text_ops.h"

TextArray BlogList;
std::int32_t CurrentPage = 0;
std::atomic<std::int32_t> ActiveWorkers{0};
std::optional<std::mutex> DownloadLock;

namespace {

constexpr int kPollMilliseconds = 10;

const Text& MessageTitle() {
  static const Text title = TextFromUtf8("信息：");
  return title;
}

Text ProgressCaption(std::int32_t page, std::int32_t blogIndex) {
  static const Text head = TextFromUtf8("Brelloc 第");
  static const Text pageMark = TextFromUtf8("页    ");
  return head + IntegerToText(page) + pageMark + IntegerToText(blogIndex);
}

// Reads a number box; a value below 1 (empty, letters, zero, negative) is
// replaced by the default, in the box as well.
std::int32_t SettleNumber(BatchWindow& window, BatchControl box, const Text& fallback) {
  std::int32_t value = ToInteger(window.ControlText(box));
  if (value >= 1) return value;
  window.SetControlText(box, fallback);
  return ToInteger(fallback);
}

void UnlockControls(BatchWindow& window) {
  window.EnableControl(BatchControl::BlogBox, true);
  window.EnableControl(BatchControl::DownloadButton, true);
}

}  // namespace

void RunBatch(BatchWindow& window, const BatchSeams& seams) {
  window.EnableControl(BatchControl::BlogBox, false);
  window.EnableControl(BatchControl::DownloadButton, false);

  BlogList = Split(window.ControlText(BatchControl::BlogBox), Text("\r\n"));
  if (BlogList.IsEmpty()) {
    UnlockControls(window);
    window.ShowMessage(TextFromUtf8("填入blog,以换行符隔开"), MessageTitle());
    return;
  }

  const std::int32_t startPage = SettleNumber(window, BatchControl::StartPageBox, Text("1"));
  const std::int32_t threadCount = SettleNumber(window, BatchControl::ThreadCountBox, Text("5"));
  const std::int32_t pageCount = SettleNumber(window, BatchControl::PageCountBox, Text("5"));
  CurrentPage = startPage;
  DownloadLock.emplace();

  const std::int32_t blogCount = BlogList.Count();
  const HarvestFunction& harvest = seams.harvest;
  for (std::int32_t pageTurn = 0; pageTurn < pageCount; ++pageTurn) {
    std::int32_t blogIndex = 0;
    while (blogIndex < blogCount) {
      if (ActiveWorkers.load() < threadCount) {
        ++blogIndex;
        ActiveWorkers.fetch_add(1);
        // A worker that never runs must not be waited for by the drain
        // below; its blog is skipped on this page.
        if (!seams.startThread([blogIndex, &harvest] { BlogWorker(blogIndex, harvest); })) {
          ActiveWorkers.fetch_sub(1);
        }
        window.SetCaption(ProgressCaption(CurrentPage, blogIndex));
      }
      seams.sleep(kPollMilliseconds);
    }
    while (ActiveWorkers.load() > 0) seams.sleep(kPollMilliseconds);
    // There is no page after the largest one; the batch ends there.
    if (CurrentPage == std::numeric_limits<std::int32_t>::max()) break;
    ++CurrentPage;
  }

  UnlockControls(window);
  DownloadLock.reset();
  window.SetCaption(Text("Brelloc"));
  window.ShowMessage(TextFromUtf8("学术视频下载完成"), MessageTitle());
}

void BlogWorker(std::int32_t index, const HarvestFunction& harvest) {
  if (harvest) harvest(BlogList.At(index), CurrentPage);
  ActiveWorkers.fetch_sub(1);
}

#pragma once

#include <QPointer>

#include "engine/batch_scheduler.h"

class MainWindow;

// The window's part in a batch, callable from the batch thread: every call
// is carried over to the window's thread and waits there until it is done,
// so a read returns the control's text of that moment. The message box has
// no owner and is not modal, so the window stays usable behind it, while
// ShowMessage waits for the user to dismiss it.
//
// The window must outlive every batch that uses this bridge; the program
// ends without tearing it down while a batch runs.
class QtBatchWindow : public BatchWindow {
 public:
  explicit QtBatchWindow(MainWindow* window) : window_(window) {}

  Text ControlText(BatchControl control) override;
  void SetControlText(BatchControl control, const Text& text) override;
  void EnableControl(BatchControl control, bool enabled) override;
  void SetCaption(const Text& caption) override;
  void ShowMessage(const Text& message, const Text& title) override;

 private:
  template <typename Work>
  void OnWindowThread(Work&& work);

  QPointer<MainWindow> window_;
};

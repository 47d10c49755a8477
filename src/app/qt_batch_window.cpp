#include "app/qt_batch_window.h"

#include <QEventLoop>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <utility>

#include "app/main_window.h"
#include "app/qt_text.h"

namespace {

// An ownerless, non-modal box with an OK button that deletes itself once it
// has been dismissed.
QMessageBox* OpenMessageBox(const Text& message, const Text& title) {
  auto* box = new QMessageBox(QMessageBox::NoIcon, ToQString(title), ToQString(message),
                              QMessageBox::Ok, nullptr);
  box->setObjectName(QStringLiteral("batchMessage"));
  box->setWindowModality(Qt::NonModal);
  QObject::connect(box, &QMessageBox::finished, box, &QObject::deleteLater);
  box->show();
  return box;
}

// One thread waits until another says it is done. Plain mutex and
// condition variable, so that thread checkers see the hand-over.
class Rendezvous {
 public:
  void Finish() {
    std::lock_guard lock(mutex_);
    finished_ = true;
    changed_.notify_all();
  }
  void Wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return finished_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool finished_ = false;
};

// Finishes its rendezvous when it is destroyed; moving it hands that over.
class Finisher {
 public:
  explicit Finisher(std::shared_ptr<Rendezvous> rendezvous) : rendezvous_(std::move(rendezvous)) {}
  Finisher(Finisher&&) noexcept = default;
  Finisher& operator=(Finisher&&) = delete;
  Finisher(const Finisher&) = delete;
  Finisher& operator=(const Finisher&) = delete;
  ~Finisher() { FinishNow(); }

  void FinishNow() {
    if (rendezvous_) rendezvous_->Finish();
    rendezvous_.reset();
  }

 private:
  std::shared_ptr<Rendezvous> rendezvous_;
};

}  // namespace

template <typename Work>
void QtBatchWindow::OnWindowThread(Work&& work) {
  MainWindow* window = window_.data();
  if (window == nullptr) return;
  if (QThread::currentThread() == window->thread()) {
    work(*window);
    return;
  }
  // The call travels as a queued event. Whether it runs or the event is
  // dropped (the window went away first), destroying it releases the
  // waiting thread.
  auto done = std::make_shared<Rendezvous>();
  QMetaObject::invokeMethod(
      window,
      [window, &work, finisher = Finisher(done)]() mutable {
        work(*window);
        finisher.FinishNow();
      },
      Qt::QueuedConnection);
  done->Wait();
}

Text QtBatchWindow::ControlText(BatchControl control) {
  Text text;
  OnWindowThread([&](MainWindow& window) { text = window.ControlText(control); });
  return text;
}

void QtBatchWindow::SetControlText(BatchControl control, const Text& text) {
  OnWindowThread([&](MainWindow& window) { window.SetControlText(control, text); });
}

void QtBatchWindow::EnableControl(BatchControl control, bool enabled) {
  OnWindowThread([&](MainWindow& window) {
    if (QWidget* widget = window.Control(control)) widget->setEnabled(enabled);
  });
}

void QtBatchWindow::SetCaption(const Text& caption) {
  OnWindowThread([&](MainWindow& window) { window.setWindowTitle(ToQString(caption)); });
}

void QtBatchWindow::ShowMessage(const Text& message, const Text& title) {
  MainWindow* window = window_.data();
  if (window == nullptr) return;
  if (QThread::currentThread() == window->thread()) {
    // Only a caller on the window's own thread gets here; it keeps the
    // window alive with a loop of its own until the box is dismissed.
    QMessageBox* box = OpenMessageBox(message, title);
    QEventLoop loop;
    QObject::connect(box, &QMessageBox::finished, &loop, &QEventLoop::quit);
    loop.exec();
    return;
  }

  auto dismissed = std::make_shared<Rendezvous>();
  bool shown = false;
  OnWindowThread([&](MainWindow&) {
    QMessageBox* box = OpenMessageBox(message, title);
    QObject::connect(
        box, &QMessageBox::finished, box, [dismissed] { dismissed->Finish(); },
        Qt::SingleShotConnection);
    shown = true;
  });
  if (shown) dismissed->Wait();
}

#include "app/qt_batch_window.h"

#include <QEventLoop>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>
#include <future>
#include <memory>

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

}  // namespace

template <typename Work>
void QtBatchWindow::OnWindowThread(Work&& work) {
  MainWindow* window = window_.data();
  if (window == nullptr) return;
  if (QThread::currentThread() == window->thread()) {
    work(*window);
    return;
  }
  QMetaObject::invokeMethod(
      window, [window, &work] { work(*window); }, Qt::BlockingQueuedConnection);
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

  auto dismissed = std::make_shared<std::promise<void>>();
  std::future<void> done = dismissed->get_future();
  bool shown = false;
  OnWindowThread([&](MainWindow&) {
    QMessageBox* box = OpenMessageBox(message, title);
    QObject::connect(
        box, &QMessageBox::finished, box, [dismissed] { dismissed->set_value(); },
        Qt::SingleShotConnection);
    shown = true;
  });
  if (shown) done.wait();
}

#pragma once

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QWidget>
#include <memory>

#include "engine/batch_scheduler.h"
#include "values/text.h"

class QInputMethodEvent;
class QKeyEvent;
class QPushButton;
class QtBatchWindow;

// A single-line box for a number. Typed characters other than "-" and the
// digits are dropped; control keys, clipboard shortcuts and pasted text are
// left alone, so the box can still come to hold any text.
class NumberBox : public QLineEdit {
 public:
  using QLineEdit::QLineEdit;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;
};

// The blog list: one blog per line, wrapped at the box's width without
// breaking the text, no scroll bars.
class BlogBox : public QPlainTextEdit {
 public:
  explicit BlogBox(QWidget* parent = nullptr);

  // The lines joined by CR LF; wrapping adds nothing.
  Text LinesText() const;
  void SetLinesText(const Text& text);
};

// The four help lines the blog box starts with, joined by CR LF.
Text BlogBoxHelpText();

class MainWindow;

// Shows the window and runs the event loop until the window is closed;
// closing it ends the program even while a message box is open. Returns the
// loop's status. While a batch is still running, its threads read BlogList
// and call into the window, so neither may be torn down: the process then
// ends right here, without running any destructor.
int RunUntilClosed(MainWindow& window);

// The program's one window.
class MainWindow : public QWidget {
  Q_OBJECT

 public:
  // `seams` are what each batch started from the button calls out to; its
  // thread starter also starts the batch thread itself.
  explicit MainWindow(BatchSeams seams, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Runs once, when the window and its controls exist: the caption and the
  // video folder.
  void OnMainWindowCreated();
  // The download button's click: hands a batch over to a thread of its own.
  void OnDownloadClicked();

  // Batch threads started from any window that have not ended yet. While
  // one runs, the shared batch values must stay alive.
  static int RunningBatches();

  // The controls a batch works with. GUI thread only.
  QWidget* Control(BatchControl control) const;
  Text ControlText(BatchControl control) const;
  void SetControlText(BatchControl control, const Text& text);

 signals:
  void Closed();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  BatchSeams seams_;
  std::shared_ptr<QtBatchWindow> bridge_;
  NumberBox* startPageBox_ = nullptr;
  NumberBox* pageCountBox_ = nullptr;
  NumberBox* threadCountBox_ = nullptr;
  QPushButton* downloadButton_ = nullptr;
  BlogBox* blogBox_ = nullptr;
};

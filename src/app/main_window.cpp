#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QTextDocument>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "app/folder_path.h"
#include "app/qt_batch_window.h"
#include "app/qt_text.h"
#include "engine/service_hosts.h"
#include "pagetext/codepage936.h"
#include "values/text_ops.h"

namespace {

std::atomic<int> runningBatches{0};

constexpr int kClientWidth = 355;
constexpr int kClientHeight = 252;

// A character the number boxes drop when it is typed: printable, and
// neither "-" nor a digit.
bool IsRefused(QChar c) {
  const char16_t unit = c.unicode();
  const bool printable = unit >= 0x20 && unit != 0x7F;
  const bool accepted = unit == u'-' || (unit >= u'0' && unit <= u'9');
  return printable && !accepted;
}

QString WithoutRefused(const QString& typed) {
  QString kept;
  for (QChar c : typed) {
    if (!IsRefused(c)) kept += c;
  }
  return kept;
}

// Black on white, as the system draws an edit box.
void UseEditColours(QWidget* box) {
  QPalette palette = box->palette();
  palette.setColor(QPalette::Base, Qt::white);
  palette.setColor(QPalette::Text, Qt::black);
  box->setPalette(palette);
}

NumberBox* MakeNumberBox(QWidget* parent, const char* name, QRect geometry, const char* text) {
  auto* box = new NumberBox(QString::fromUtf8(text), parent);
  box->setObjectName(QString::fromUtf8(name));
  box->setGeometry(geometry);
  box->setAlignment(Qt::AlignCenter);
  box->setMaxLength(std::numeric_limits<int>::max());
  UseEditColours(box);
  return box;
}

void MakeLabel(QWidget* parent, const char* name, QRect geometry, const char* text) {
  auto* label = new QLabel(QString::fromUtf8(text), parent);
  label->setObjectName(QString::fromUtf8(name));
  label->setGeometry(geometry);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  label->setAutoFillBackground(false);
  label->setFocusPolicy(Qt::NoFocus);
}

}  // namespace

void NumberBox::keyPressEvent(QKeyEvent* event) {
  // Shortcuts (Ctrl+V and the like) are left alone: depending on the
  // platform they carry the letter of their key as text.
  const bool shortcut = event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier);
  const QString typed = event->text();
  if (!shortcut && WithoutRefused(typed) != typed) {
    event->accept();
    return;
  }
  QLineEdit::keyPressEvent(event);
}

void NumberBox::inputMethodEvent(QInputMethodEvent* event) {
  const QString committed = event->commitString();
  const QString kept = WithoutRefused(committed);
  if (kept == committed) {
    QLineEdit::inputMethodEvent(event);
    return;
  }
  QInputMethodEvent filtered(event->preeditString(), event->attributes());
  filtered.setCommitString(kept, event->replacementStart(), event->replacementLength());
  QLineEdit::inputMethodEvent(&filtered);
  event->accept();
}

BlogBox::BlogBox(QWidget* parent) : QPlainTextEdit(parent) {
  setLineWrapMode(QPlainTextEdit::WidgetWidth);
  setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setTabChangesFocus(true);
  UseEditColours(this);
}

Text BlogBox::LinesText() const {
  // The raw text keeps no-break spaces as they are; lines end in paragraph
  // (or, after Shift+Enter, line) separators.
  QString lines = document()->toRawText();
  lines.replace(QChar::ParagraphSeparator, QStringLiteral("\r\n"));
  lines.replace(QChar::LineSeparator, QStringLiteral("\r\n"));
  return FromQString(lines);
}

void BlogBox::SetLinesText(const Text& text) {
  setPlainText(ToQString(Replace(text, Text("\r\n"), Text("\n"))));
}

Text BlogBoxHelpText() {
  const Text example("example");
  const Text crlf("\r\n");
  return TextFromUtf8("填写二级域名字母即可") + crlf +
         TextFromUtf8("如") + example + Text(".") + Text(service_hosts::kBlogDomain) + Text("/ ") +
         crlf + TextFromUtf8("只需要输入") + example + TextFromUtf8("即可") + crlf +
         TextFromUtf8("自动在软件根目录创建文件夹并下载");
}

MainWindow::MainWindow(BatchSeams seams, QWidget* parent)
    : QWidget(parent,
              Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                  Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                  Qt::WindowCloseButtonHint),
      seams_(std::move(seams)) {
  setFixedSize(kClientWidth, kClientHeight);
  QFont windowFont = font();
  windowFont.setPixelSize(12);
  setFont(windowFont);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, palette.color(QPalette::Button));
  setPalette(palette);
  setAutoFillBackground(true);

  // Created in the order the window stores its controls.
  startPageBox_ = MakeNumberBox(this, "编辑框_起始页", QRect(280, 13, 56, 24), "1");
  MakeLabel(this, "透明标签3", QRect(234, 9, 38, 32), "起始页");
  MakeLabel(this, "透明标签2", QRect(234, 44, 38, 32), "页  数");
  pageCountBox_ = MakeNumberBox(this, "编辑框_页数", QRect(280, 50, 56, 24), "5");
  MakeLabel(this, "透明标签1", QRect(234, 78, 38, 32), "线程数");
  downloadButton_ = new QPushButton(QString::fromUtf8("下载学术视频"), this);
  downloadButton_->setObjectName(QString::fromUtf8("按钮_视频"));
  downloadButton_->setGeometry(232, 136, 104, 72);
  threadCountBox_ = MakeNumberBox(this, "编辑框_线程数", QRect(280, 84, 56, 24), "5");
  blogBox_ = new BlogBox(this);
  blogBox_->setObjectName(QString::fromUtf8("编辑框_blog"));
  blogBox_->setGeometry(16, 8, 200, 200);
  blogBox_->SetLinesText(BlogBoxHelpText());

  setTabOrder(blogBox_, startPageBox_);
  setTabOrder(startPageBox_, pageCountBox_);
  setTabOrder(pageCountBox_, threadCountBox_);
  setTabOrder(threadCountBox_, downloadButton_);

  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }

  bridge_ = std::make_shared<QtBatchWindow>(this);
  connect(downloadButton_, &QPushButton::clicked, this, &MainWindow::OnDownloadClicked);
  OnMainWindowCreated();
}

MainWindow::~MainWindow() = default;

void MainWindow::OnMainWindowCreated() {
  setWindowTitle(QStringLiteral("Brelloc"));
  PrepareVideoFolder();
}

void MainWindow::OnDownloadClicked() {
  // The batch disables the button on its own thread; until then a second
  // click must not start a second batch, so the button goes off right here.
  if (!downloadButton_->isEnabled()) return;
  downloadButton_->setEnabled(false);

  ++runningBatches;
  bool started = seams_.startThread([bridge = bridge_, seams = seams_]() mutable {
    RunBatch(*bridge, seams);
    // Everything this thread holds goes before it counts itself out, so a
    // program that sees no running batch may tear down what it likes.
    bridge.reset();
    seams = BatchSeams();
    --runningBatches;
  });
  if (!started) {
    --runningBatches;
    downloadButton_->setEnabled(true);
  }
}

int MainWindow::RunningBatches() { return runningBatches.load(); }

QWidget* MainWindow::Control(BatchControl control) const {
  switch (control) {
    case BatchControl::BlogBox: return blogBox_;
    case BatchControl::StartPageBox: return startPageBox_;
    case BatchControl::PageCountBox: return pageCountBox_;
    case BatchControl::ThreadCountBox: return threadCountBox_;
    case BatchControl::DownloadButton: return downloadButton_;
  }
  return nullptr;
}

Text MainWindow::ControlText(BatchControl control) const {
  switch (control) {
    case BatchControl::BlogBox: return blogBox_->LinesText();
    case BatchControl::StartPageBox: return FromQString(startPageBox_->text());
    case BatchControl::PageCountBox: return FromQString(pageCountBox_->text());
    case BatchControl::ThreadCountBox: return FromQString(threadCountBox_->text());
    case BatchControl::DownloadButton: return FromQString(downloadButton_->text());
  }
  return Text();
}

void MainWindow::SetControlText(BatchControl control, const Text& text) {
  switch (control) {
    case BatchControl::BlogBox: blogBox_->SetLinesText(text); return;
    case BatchControl::StartPageBox: startPageBox_->setText(ToQString(text)); return;
    case BatchControl::PageCountBox: pageCountBox_->setText(ToQString(text)); return;
    case BatchControl::ThreadCountBox: threadCountBox_->setText(ToQString(text)); return;
    case BatchControl::DownloadButton: downloadButton_->setText(ToQString(text)); return;
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  emit Closed();
}

int RunUntilClosed(MainWindow& window) {
  QApplication::setQuitOnLastWindowClosed(false);
  QObject::connect(&window, &MainWindow::Closed, qApp, &QCoreApplication::quit);
  window.show();
  const int status = QApplication::exec();
  if (MainWindow::RunningBatches() > 0 || ActiveWorkers.load() > 0) {
    std::fflush(nullptr);
    std::_Exit(status);
  }
  return status;
}

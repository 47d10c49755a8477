// Saves a picture of the window, as a newcomer first sees it, to the file
// named on the command line. Meant for Qt's offscreen platform.
#include <QApplication>
#include <QPixmap>
#include <iostream>

#include "app/main_window.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: brelloc_screenshot FILE.png\n";
    return 64;
  }
  const QString target = QString::fromLocal8Bit(argv[1]);
  QApplication application(argc, argv);
  MainWindow window{BatchSeams()};
  window.show();
  QApplication::processEvents();
  // A blinking caret would make every picture a little different.
  if (QWidget* focused = QApplication::focusWidget()) focused->clearFocus();
  QApplication::processEvents();
  if (!window.grab().save(target)) {
    std::cerr << "brelloc_screenshot: cannot write " << argv[1] << "\n";
    return 1;
  }
  return 0;
}

#include <QApplication>
#include <QIcon>

#include "app/main_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Kryvane 2.0 File Encryption Utility"));
  QApplication::setDesktopFileName(QStringLiteral("kryvane"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/kryvane.svg")));
  kryvane::MainWindow window;
  window.show();
  return QApplication::exec();
}

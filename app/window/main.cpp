#include <QApplication>
#include <QIcon>

#include "app/base/io.h"
#include "app/base/secret.h"
#include "app/info_options.h"
#include "app/window/main_window.h"
#include "app/window/skin.h"

int main(int argc, char** argv) {
  // Before anything is opened: a closed standard descriptor must not be handed to a target.
  kryvane::EnsureStandardDescriptors();
  // The window holds passphrases and keys: no core dump may keep them.
  kryvane::MakeProcessUndumpable();
  if (const auto status = kryvane::AnswerInfoOptions(argc, argv)) return *status;
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Kryvane 2.0 File Encryption Utility"));
  QApplication::setDesktopFileName(QStringLiteral("kryvane"));
  // The dialogs and tooltips wear the window's skin too, whatever the desktop's theme.
  QApplication::setStyle(kryvane::Skin());
  QApplication::setPalette(kryvane::SkinPalette());
  kryvane::MainWindow window;  // registers the icons
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/kryvane.svg")));
  window.show();
  return QApplication::exec();
}

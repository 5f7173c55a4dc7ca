// Draws the README's pictures of the window and the about box, on a light and on a dark desktop
// palette, with the window's own grab. Not installed; scripts/screenshots.sh runs it.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPalette>
#include <QStyleFactory>
#include <QToolButton>

#include "app/window/about_box.h"
#include "app/window/main_window.h"

namespace {

// What a dark desktop theme hands every program.
QPalette DarkDesktop() {
  QPalette p(QColor(53, 53, 53), QColor(35, 35, 35));
  p.setColor(QPalette::WindowText, QColor(225, 225, 225));
  p.setColor(QPalette::Text, QColor(225, 225, 225));
  p.setColor(QPalette::ButtonText, QColor(225, 225, 225));
  p.setColor(QPalette::Base, QColor(30, 30, 30));
  return p;
}

// The picture on a margin of the desktop's own colour, so that the theme shows around it.
QImage OnDesktop(const QPixmap& shot, const QColor& desktop) {
  QImage image(shot.size() + QSize(24, 24), QImage::Format_RGB32);
  image.fill(desktop);
  QPainter painter(&image);
  painter.drawPixmap(12, 12, shot);
  return image;
}

void Fill(kryvane::MainWindow& w, const QString& folder) {
  w.findChild<QLineEdit*>(QStringLiteral("FileEdt"))->setText(folder + "/tax-return-2026.pdf");
  w.findChild<QLineEdit*>(QStringLiteral("TargetEdt"))
      ->setText(folder + "/tax-return-2026.pdf.kry");
  for (const char* name : {"PhraseEdt", "RPhraseEdt"}) {
    w.findChild<QLineEdit*>(QString::fromLatin1(name))->setText(QStringLiteral("correct horse"));
  }
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs");
  const QString folder = QStringLiteral("/home/anna/Documents");
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

  {
    kryvane::MainWindow w;
    Fill(w, folder);
    w.show();
    QApplication::processEvents();
    w.grab().save(QDir(out).filePath(QStringLiteral("main-window.png")));
    kryvane::AboutBox* about = w.About();
    about->show();
    QApplication::processEvents();
    about->grab().save(QDir(out).filePath(QStringLiteral("about-box.png")));
    about->hide();
  }
  {
    QApplication::setPalette(DarkDesktop());
    kryvane::MainWindow w;
    Fill(w, folder);
    w.findChild<QLineEdit*>(QStringLiteral("FileEdt"))->setText(folder + "/nope.txt");
    w.show();
    // A failed job: the fixed text, and its cause beside it.
    w.findChild<QToolButton*>(QStringLiteral("EncryptBtn"))->click();
    QObject::connect(&w, &kryvane::MainWindow::JobFinished, &app, &QApplication::quit);
    QApplication::exec();
    QApplication::processEvents();
    OnDesktop(w.grab(), QColor(35, 35, 35))
        .save(QDir(out).filePath(QStringLiteral("main-window-dark.png")));
  }
  return 0;
}

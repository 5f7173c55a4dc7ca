// The window as a user meets it: layout, texts, keyboard order, masks, the menus, and whole jobs
// driven through the widgets.
#include "app/window/main_window.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "app/window/about_box.h"

using kryvane::AboutBox;
using kryvane::MainWindow;

class UrlRecorder : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> opened;
 public slots:
  void open(const QUrl& url) { opened << url; }
};

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  template <class T>
  T* child(MainWindow& w, const char* name) {
    T* c = w.findChild<T*>(QString::fromLatin1(name));
    if (c == nullptr) qFatal("no control %s", name);
    return c;
  }
  QByteArray readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return "<missing>";
    return f.readAll();
  }
  void writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
  }
  // Fills the fields and presses a button, then waits for the job's status text.
  void runJob(MainWindow& w, const char* button) {
    QSignalSpy done(&w, &MainWindow::JobFinished);
    QTest::mouseClick(child<QToolButton>(w, button), Qt::LeftButton);
    QVERIFY(done.wait(30000));
  }

 private slots:
  void initTestCase() { QApplication::setApplicationName(QStringLiteral("kryvane-test")); }

  void layoutTextsAndTooltips() {
    MainWindow w;
    QCOMPARE(w.windowTitle(), QStringLiteral("Kryvane 2.0"));
    QCOMPARE(w.size(), QSize(528, 385));
    QCOMPARE(w.minimumSize(), w.maximumSize());
    struct Expect {
      const char* name;
      QRect geometry;
      const char* text;
      const char* tip;
    };
    const Expect controls[] = {
        {"sBevel1", {8, 8, 512, 105}, nullptr, nullptr},
        {"sBevel2", {8, 120, 512, 109}, nullptr, nullptr},
        {"sBevel3", {8, 236, 512, 55}, nullptr, nullptr},
        {"EncryptBtn", {8, 299, 95, 59}, "Encrypt", "Execute encryption"},
        {"DecryptBtn", {112, 299, 95, 59}, "Decrypt", "Execute decryption"},
        {"ClearBtn", {217, 299, 95, 59}, "Clear fields", "Clear all fields"},
        {"AboutBtn", {321, 299, 95, 59}, "About", "About Kryvane 2.0"},
        {"CloseBtn", {425, 299, 95, 59}, "Close", "Exit Kryvane"},
        {"ComboBox1",
         {20, 259, 241, 21},
         nullptr,
         "Select a Cipher, must remeber which cipher to decrypt"},
        {"ComboBox2",
         {329, 259, 177, 21},
         nullptr,
         "Select the hash, must remember which hash to decrypt"},
        {"FileEdt", {20, 31, 486, 21}, nullptr, "Browse for a source file to encrypt or decrypt"},
        {"TargetEdt",
         {20, 70, 486, 21},
         nullptr,
         "Browse to create the encrypted or decrypted target file"},
        {"PhraseEdt",
         {20, 144, 486, 21},
         nullptr,
         "Enter a secret passphrase\nMust remember it to decrypt an encrypted file"},
        {"RPhraseEdt", {20, 184, 486, 21}, nullptr, "Retype the secret passphrase"},
        {"sCheckBox1",
         {20, 206, 161, 20},
         "Hide passphrase characters",
         "Check to show asterisk and hide the passphrase"},
        {"sCheckBox2",
         {20, 91, 192, 20},
         "Delete source file after processing",
         "Check to delete the source file after processing"},
        {"sCheckBox3",
         {310, 206, 201, 20},
         "Save encryption settings for this file",
         "Check to save the passphrase,and the selcted cipher and hash to a file\n"
         "It saved as filename+setting.txt"},
        {"sStatusBar1", {0, 366, 528, 19}, nullptr, nullptr},
    };
    for (const Expect& e : controls) {
      QWidget* c = child<QWidget>(w, e.name);
      QCOMPARE(c->geometry(), e.geometry);
      if (e.text) QCOMPARE(c->property("text").toString(), QString::fromUtf8(e.text));
      if (e.tip) QCOMPARE(c->toolTip(), QString::fromUtf8(e.tip));
    }
    // Labels size themselves to their text but keep their place.
    const Expect labels[] = {{"sLabel1", {20, 14, 85, 13}, "Select source file:", nullptr},
                             {"sLabel2", {20, 55, 87, 13}, "Create target file:", nullptr},
                             {"sLabel3", {20, 127, 88, 13}, "Enter passphrase:", nullptr},
                             {"sLabel4", {20, 168, 97, 13}, "Retype passphrase:", nullptr},
                             {"sLabel5", {20, 245, 119, 13}, "Select encryption cipher:", nullptr},
                             {"sLabel6", {329, 245, 103, 13}, "Select hash Algorithm", nullptr}};
    for (const Expect& e : labels) {
      auto* l = child<QLabel>(w, e.name);
      QCOMPARE(l->pos(), e.geometry.topLeft());
      QVERIFY(l->width() >= e.geometry.width());
      QCOMPARE(l->text(), QString::fromUtf8(e.text));
      QCOMPARE(l->palette().color(QPalette::WindowText), QColor(2, 48, 68));
    }
    QCOMPARE(child<QLineEdit>(w, "FileEdt")->maxLength(), 255);
    QCOMPARE(child<QLineEdit>(w, "TargetEdt")->maxLength(), 255);
    QCOMPARE(child<QLineEdit>(w, "PhraseEdt")->maxLength(), 80);
    QCOMPARE(child<QLineEdit>(w, "RPhraseEdt")->maxLength(), 80);
    QCOMPARE(w.StatusText(), QStringLiteral("Last action: Kryvane 2.0 started"));
  }

  void menusListTheCatalogues() {
    MainWindow w;
    auto* ciphers = child<QComboBox>(w, "ComboBox1");
    auto* hashes = child<QComboBox>(w, "ComboBox2");
    QCOMPARE(ciphers->count(), 17);
    QCOMPARE(hashes->count(), 10);
    QCOMPARE(ciphers->currentIndex(), 0);
    QCOMPARE(hashes->currentIndex(), 0);
    QVERIFY(ciphers->isEditable());
    QCOMPARE(ciphers->maxVisibleItems(), 16);
    // Menu texts keep their exact spaces.
    QCOMPARE(ciphers->itemText(6), QStringLiteral("Thin Ice -  block: 64 bits, key: 64 bits "));
    QCOMPARE(ciphers->itemText(3), QStringLiteral("DES - block: 64 bits, key: 64 bits  "));
    QCOMPARE(hashes->itemText(9), QStringLiteral("Tiger  - digest: 192 bits"));
  }

  void tabOrderAndStartFocus() {
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("FileEdt"));
    const char* order[] = {"TargetEdt",  "ComboBox2",  "PhraseEdt", "RPhraseEdt", "sCheckBox1",
                           "sCheckBox2", "DecryptBtn", "ClearBtn",  "AboutBtn",   "CloseBtn",
                           "sCheckBox3", "EncryptBtn", "ComboBox1", "FileEdt"};
    for (const char* name : order) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QCOMPARE(QApplication::focusWidget()->objectName(), QString::fromLatin1(name));
    }
  }

  void hideToggleAndMaxLength() {
    MainWindow w;
    auto* phrase = child<QLineEdit>(w, "PhraseEdt");
    auto* retyped = child<QLineEdit>(w, "RPhraseEdt");
    auto* hide = child<QCheckBox>(w, "sCheckBox1");
    QVERIFY(hide->isChecked());
    QCOMPARE(phrase->echoMode(), QLineEdit::Password);
    QCOMPARE(retyped->echoMode(), QLineEdit::Password);
    QTest::keyClicks(phrase, QStringLiteral("secret"));
    QTest::mouseClick(hide, Qt::LeftButton);
    QCOMPARE(phrase->echoMode(), QLineEdit::Normal);
    QCOMPARE(retyped->echoMode(), QLineEdit::Normal);
    QCOMPARE(phrase->text(), QStringLiteral("secret"));
    QTest::mouseClick(hide, Qt::LeftButton);
    QCOMPARE(phrase->echoMode(), QLineEdit::Password);
    phrase->clear();
    QTest::keyClicks(phrase, QString(90, QLatin1Char('x')));
    QCOMPARE(phrase->text().size(), 80);
  }

  void clearFieldsResetsEverything() {
    MainWindow w;
    child<QLineEdit>(w, "FileEdt")->setText(QStringLiteral("/tmp/a"));
    child<QLineEdit>(w, "TargetEdt")->setText(QStringLiteral("/tmp/b"));
    child<QLineEdit>(w, "PhraseEdt")->setText(QStringLiteral("p"));
    child<QLineEdit>(w, "RPhraseEdt")->setText(QStringLiteral("p"));
    child<QCheckBox>(w, "sCheckBox1")->setChecked(false);
    child<QCheckBox>(w, "sCheckBox2")->setChecked(true);
    child<QCheckBox>(w, "sCheckBox3")->setChecked(true);
    child<QComboBox>(w, "ComboBox1")->setCurrentIndex(5);
    child<QComboBox>(w, "ComboBox2")->setEditText(QStringLiteral("typed"));
    QTest::mouseClick(child<QToolButton>(w, "ClearBtn"), Qt::LeftButton);
    for (const char* e : {"FileEdt", "TargetEdt", "PhraseEdt", "RPhraseEdt"}) {
      QVERIFY(child<QLineEdit>(w, e)->text().isEmpty());
    }
    QVERIFY(child<QCheckBox>(w, "sCheckBox1")->isChecked());
    QCOMPARE(child<QLineEdit>(w, "PhraseEdt")->echoMode(), QLineEdit::Password);
    QVERIFY(!child<QCheckBox>(w, "sCheckBox2")->isChecked());
    QVERIFY(!child<QCheckBox>(w, "sCheckBox3")->isChecked());
    QCOMPARE(child<QComboBox>(w, "ComboBox1")->currentIndex(), 0);
    QCOMPARE(child<QComboBox>(w, "ComboBox2")->currentText(),
             QStringLiteral("Haval - digest: 256 bits"));
    QCOMPARE(w.StatusText(), QStringLiteral("Last action: Clear all fields"));
  }

  void mismatchTouchesNothing() {
    QTemporaryDir dir;
    MainWindow w;
    const QString target = dir.filePath(QStringLiteral("out.bin"));
    writeFile(dir.filePath(QStringLiteral("in.txt")), "data");
    child<QLineEdit>(w, "FileEdt")->setText(dir.filePath(QStringLiteral("in.txt")));
    child<QLineEdit>(w, "TargetEdt")->setText(target);
    child<QLineEdit>(w, "PhraseEdt")->setText(QStringLiteral("Secret"));
    child<QLineEdit>(w, "RPhraseEdt")->setText(QStringLiteral("secret"));
    QTest::mouseClick(child<QToolButton>(w, "EncryptBtn"), Qt::LeftButton);
    QCOMPARE(w.StatusText(), QStringLiteral("Last action: Passphrase mismatch !, retype phrase"));
    QVERIFY(!QFile::exists(target));
    QCOMPARE(child<QLineEdit>(w, "PhraseEdt")->text(), QStringLiteral("Secret"));
  }

  // Encrypt with settings saved and the source deleted, then decrypt, all through the widgets.
  void wholeJobThroughTheWidgets() {
    QTemporaryDir dir;
    const QString plain = dir.filePath(QStringLiteral("report.txt"));
    const QString sealed = dir.filePath(QStringLiteral("report.kry"));
    const QString back = dir.filePath(QStringLiteral("report-back.txt"));
    QByteArray content;
    for (int i = 0; i < 20000; ++i) content.append(char(i * 7));
    writeFile(plain, content);

    MainWindow w;
    w.show();
    child<QLineEdit>(w, "FileEdt")->setText(plain);
    child<QLineEdit>(w, "TargetEdt")->setText(sealed);
    QTest::keyClicks(child<QLineEdit>(w, "PhraseEdt"), QStringLiteral("correct horse"));
    QTest::keyClicks(child<QLineEdit>(w, "RPhraseEdt"), QStringLiteral("correct horse"));
    child<QComboBox>(w, "ComboBox1")->setCurrentIndex(3);  // DES, whose text ends in two spaces
    child<QComboBox>(w, "ComboBox2")->setCurrentIndex(6);  // SHA-256
    child<QCheckBox>(w, "sCheckBox2")->setChecked(true);
    child<QCheckBox>(w, "sCheckBox3")->setChecked(true);
    runJob(w, "EncryptBtn");
    QCOMPARE(w.StatusText(), QStringLiteral("Last action: File encrypted successfully"));
    QVERIFY(!QFile::exists(plain));  // deleted after success
    const QByteArray ciphertext = readFile(sealed);
    QCOMPARE(ciphertext.size(), content.size());
    QVERIFY(ciphertext != content);
    const QByteArray settings = readFile(plain + QStringLiteral("-settings.txt"));
    QVERIFY(settings.contains("Phrase=correct horse\r\n"));
    QVERIFY(settings.contains("Cipher=\"DES - block: 64 bits, key: 64 bits  \"\r\n"));
    QVERIFY(settings.contains("Hash=SHA-256  - digest: 256 bits\r\n"));
    // Success clears the fields and resets the menus.
    QVERIFY(child<QLineEdit>(w, "FileEdt")->text().isEmpty());
    QCOMPARE(child<QComboBox>(w, "ComboBox1")->currentIndex(), 0);

    child<QLineEdit>(w, "FileEdt")->setText(sealed);
    child<QLineEdit>(w, "TargetEdt")->setText(back);
    QTest::keyClicks(child<QLineEdit>(w, "PhraseEdt"), QStringLiteral("correct horse"));
    QTest::keyClicks(child<QLineEdit>(w, "RPhraseEdt"), QStringLiteral("correct horse"));
    child<QComboBox>(w, "ComboBox1")->setCurrentIndex(3);
    child<QComboBox>(w, "ComboBox2")->setCurrentIndex(6);
    child<QCheckBox>(w, "sCheckBox3")->setChecked(true);  // ignored when decrypting
    runJob(w, "DecryptBtn");
    QCOMPARE(w.StatusText(), QStringLiteral("Last action: File decrypted successfully"));
    QCOMPARE(readFile(back), content);
    QVERIFY(QFile::exists(sealed));
    QVERIFY(!QFile::exists(sealed + QStringLiteral("-settings.txt")));
  }

  void failureKeepsFieldsAndShowsTheFixedText() {
    QTemporaryDir dir;
    MainWindow w;
    const QString missing = dir.filePath(QStringLiteral("missing.bin"));
    const QString target = dir.filePath(QStringLiteral("out.bin"));
    child<QLineEdit>(w, "FileEdt")->setText(missing);
    child<QLineEdit>(w, "TargetEdt")->setText(target);
    runJob(w, "EncryptBtn");
    QCOMPARE(w.StatusText(), QStringLiteral("Last action: File IO error or file does not exists"));
    QCOMPARE(child<QLineEdit>(w, "FileEdt")->text(), missing);
    QVERIFY(!QFile::exists(target));
    // An edited menu text that matches no entry refuses the job before any file is touched.
    writeFile(dir.filePath(QStringLiteral("in.bin")), "abc");
    child<QLineEdit>(w, "FileEdt")->setText(dir.filePath(QStringLiteral("in.bin")));
    child<QComboBox>(w, "ComboBox1")->setEditText(QStringLiteral("Blowfish"));
    runJob(w, "EncryptBtn");
    QCOMPARE(w.StatusText(), QStringLiteral("Last action: File IO error or file does not exists"));
    QVERIFY(!QFile::exists(target));
  }

  void cancelLeavesNothingBehind() {
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("big.bin"));
    const QString target = dir.filePath(QStringLiteral("big.kry"));
    {
      QFile f(source);
      QVERIFY(f.open(QIODevice::WriteOnly));
      QVERIFY(f.resize(qint64(1) << 30));  // sparse: a second or more of work
    }
    MainWindow w;
    w.show();
    child<QLineEdit>(w, "FileEdt")->setText(source);
    child<QLineEdit>(w, "TargetEdt")->setText(target);
    child<QComboBox>(w, "ComboBox1")->setCurrentIndex(4);  // 3DES, the slowest
    QSignalSpy done(&w, &MainWindow::JobFinished);
    QTest::mouseClick(child<QToolButton>(w, "EncryptBtn"), Qt::LeftButton);
    QVERIFY(w.JobRunning());
    QVERIFY(!child<QToolButton>(w, "EncryptBtn")->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(w.findChild<QToolButton*>(QStringLiteral("CancelBtn"))->isVisible(),
                             5000);
    QTest::mouseClick(w.findChild<QToolButton*>(QStringLiteral("CancelBtn")), Qt::LeftButton);
    QVERIFY(done.wait(30000));
    QCOMPARE(w.StatusText(), QStringLiteral("Last action: File IO error or file does not exists"));
    QVERIFY(!QFile::exists(target));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 1);  // no temporary left either
    QVERIFY(child<QToolButton>(w, "EncryptBtn")->isEnabled());
  }

  // The bar moves while the job runs, not only when it ends.
  void progressBarAdvancesDuringTheJob() {
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("big.bin"));
    {
      QFile f(source);
      QVERIFY(f.open(QIODevice::WriteOnly));
      QVERIFY(f.resize(qint64(1) << 30));
    }
    MainWindow w;
    w.show();
    child<QLineEdit>(w, "FileEdt")->setText(source);
    child<QLineEdit>(w, "TargetEdt")->setText(dir.filePath(QStringLiteral("big.kry")));
    child<QComboBox>(w, "ComboBox1")->setCurrentIndex(4);  // 3DES, the slowest
    QSignalSpy done(&w, &MainWindow::JobFinished);
    QTest::mouseClick(child<QToolButton>(w, "EncryptBtn"), Qt::LeftButton);
    auto* bar = w.findChild<QProgressBar*>(QStringLiteral("JobProgress"));
    QVERIFY(bar != nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(bar->isVisible() && bar->value() > 0, 10000);
    QVERIFY(w.JobRunning());
    QVERIFY(bar->value() < bar->maximum());
    QTest::mouseClick(w.findChild<QToolButton*>(QStringLiteral("CancelBtn")), Qt::LeftButton);
    QVERIFY(done.wait(30000));
  }

  void maskCharacterIsAsterisk() {
    MainWindow w;
    auto* phrase = child<QLineEdit>(w, "PhraseEdt");
    phrase->setText(QStringLiteral("secret"));
    QCOMPARE(phrase->displayText(), QStringLiteral("******"));
  }

  void cancelledBrowseKeepsTheField() {
    MainWindow w;
    w.show();
    for (const char* field : {"FileEdt", "TargetEdt"}) {
      auto* edit = child<QLineEdit>(w, field);
      edit->setText(QStringLiteral("/tmp/typed-by-hand.txt"));
      // The check must run while the action is still inside its dialog: a flag read afterwards
      // fails when no dialog ever opened.
      bool dialogShown = false;
      QTimer::singleShot(300, &w, [&dialogShown] {
        if (QWidget* dialog = QApplication::activeModalWidget()) {
          dialogShown = true;
          QMetaObject::invokeMethod(dialog, "reject");
        }
      });
      w.findChild<QAction*>(QString::fromLatin1(field) + QStringLiteral("Browse"))->trigger();
      QVERIFY2(dialogShown, field);
      QCOMPARE(edit->text(), QStringLiteral("/tmp/typed-by-hand.txt"));
    }
  }

  void droppedFileFillsTheSource() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dropped.txt"));
    writeFile(path, "x");
    MainWindow w;
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &drop);
    QCOMPARE(child<QLineEdit>(w, "FileEdt")->text(), path);
  }

  // Closing the program in the middle of a job stops it cleanly: no crash, no partial target.
  void destroyedWindowStopsItsJob() {
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("big.bin"));
    const QString target = dir.filePath(QStringLiteral("big.kry"));
    {
      QFile f(source);
      QVERIFY(f.open(QIODevice::WriteOnly));
      QVERIFY(f.resize(qint64(1) << 30));
    }
    auto* w = new MainWindow;
    child<QLineEdit>(*w, "FileEdt")->setText(source);
    child<QLineEdit>(*w, "TargetEdt")->setText(target);
    child<QComboBox>(*w, "ComboBox1")->setCurrentIndex(4);  // 3DES, the slowest
    QTest::mouseClick(child<QToolButton>(*w, "EncryptBtn"), Qt::LeftButton);
    QVERIFY(w->JobRunning());
    QTest::qWait(200);
    delete w;
    QTest::qWait(100);  // anything the worker posted must not reach the dead window
    QVERIFY(!QFile::exists(target));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 1);
  }

  void statusTooltipCarriesTheCauseUntilTheNextAction() {
    QTemporaryDir dir;
    MainWindow w;
    child<QLineEdit>(w, "FileEdt")->setText(dir.filePath(QStringLiteral("missing.bin")));
    child<QLineEdit>(w, "TargetEdt")->setText(dir.filePath(QStringLiteral("out.bin")));
    runJob(w, "EncryptBtn");
    auto* status = w.findChild<QLabel*>(QStringLiteral("StatusText"));
    QVERIFY(status->toolTip().contains(QStringLiteral("missing.bin")));
    QTest::mouseClick(child<QToolButton>(w, "ClearBtn"), Qt::LeftButton);
    QVERIFY(status->toolTip().isEmpty());
  }

  void aboutBoxLinks() {
    MainWindow w;
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "open");
    AboutBox* about = w.About();
    QCOMPARE(about->windowTitle(), QStringLiteral("About Kryvane 2.0"));
    QCOMPARE(about->size(), QSize(298, 253));
    QLabel* link = about->Comments();
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(link, &enter);
    QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(link->palette().color(QPalette::WindowText), QColor(Qt::blue));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(link, &leave);
    QCOMPARE(link->cursor().shape(), Qt::ArrowCursor);
    QCOMPARE(link->palette().color(QPalette::WindowText), QColor(Qt::black));
    QTest::mouseClick(link, Qt::LeftButton);
    QTest::mouseClick(about->Image1(), Qt::LeftButton);
    QCOMPARE(recorder.opened.size(), 2);
    QCOMPARE(recorder.opened[0], AboutBox::GuideUrl());
    QVERIFY(recorder.opened[0].toLocalFile().endsWith(QStringLiteral("user-guide.html")));
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));

    // Enter closes the modal box; focus and status return to the main window.
    w.show();
    QTimer::singleShot(200, about, [about] {
      QVERIFY(about->isVisible());
      QTest::keyClick(about, Qt::Key_Return);
    });
    QTest::mouseClick(child<QToolButton>(w, "AboutBtn"), Qt::LeftButton);
    QVERIFY(!about->isVisible());
    QCOMPARE(w.StatusText(), QStringLiteral("Last action: Show about Kryvane 2.0"));
    QCOMPARE(w.focusWidget(), child<QLineEdit>(w, "FileEdt"));
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"

// The window as a user meets it: layout, texts, keyboard order, masks, the menus, and whole jobs
// driven through the widgets.
#include "app/window/main_window.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <tuple>

#include "app/window/about_box.h"
#include "app/window/recover_dialog.h"

using kryvane::AboutBox;
using kryvane::MainWindow;

class UrlRecorder : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> opened;
 public slots:
  void open(const QUrl& url) { opened << url; }
};

// What a screen reader would be told: the window's accessibility events, as (object, type).
// The offscreen platform has no accessibility bridge to deliver them through, so they are heard
// where the window sends them.
struct HeardEvents : QObject {
  QList<QPair<QPointer<QObject>, QAccessible::Event>> list;
  explicit HeardEvents(MainWindow& w) {
    connect(&w, &MainWindow::Announced, this, [this](QObject* about, QAccessible::Event type) {
      list.append({about, type});
    });
  }
  int Count(QObject* object, QAccessible::Event type) const {
    int n = 0;
    for (const auto& [o, t] : list) n += o == object && t == type;
    return n;
  }
};

// Counts the widgets that take the focus.
class FocusCounter : public QObject {
 public:
  QStringList took;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::FocusIn && watched->isWidgetType()) took << watched->objectName();
    return false;
  }
};

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  template <class T>
  T* child(QWidget& w, const char* name) {
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
  // A sparse gigabyte under the slowest cipher: seconds of work, time enough to act during it.
  void startLongJob(MainWindow& w, const QTemporaryDir& dir) {
    const QString source = dir.filePath(QStringLiteral("big.bin"));
    {
      QFile f(source);
      QVERIFY(f.open(QIODevice::WriteOnly));
      QVERIFY(f.resize(qint64(1) << 30));
    }
    child<QLineEdit>(w, "FileEdt")->setText(source);
    child<QLineEdit>(w, "TargetEdt")->setText(dir.filePath(QStringLiteral("big.kry")));
    typePassphrase(w, QStringLiteral("pw"));
    child<QComboBox>(w, "ComboBox1")->setCurrentIndex(4);  // 3DES
    QTest::mouseClick(child<QToolButton>(w, "EncryptBtn"), Qt::LeftButton);
    QVERIFY(w.JobRunning());
  }
  // Both passphrase fields, typed.
  void typePassphrase(MainWindow& w, const QString& phrase) {
    for (const char* field : {"PhraseEdt", "RPhraseEdt"}) {
      child<QLineEdit>(w, field)->clear();
      QTest::keyClicks(child<QLineEdit>(w, field), phrase);
    }
  }
  // Runs act() from the event loop of the modal dialog that the caller is about to open; the
  // returned flag says whether one opened at all.
  std::shared_ptr<bool> whenModal(QObject* context, std::function<void(QWidget*)> act) {
    auto seen = std::make_shared<bool>(false);
    QTimer::singleShot(300, context, [seen, act] {
      QWidget* dialog = QApplication::activeModalWidget();
      if (dialog == nullptr) return;
      *seen = true;
      // A failed check inside act() must not leave the test waiting on an open dialog.
      QTimer::singleShot(3000, dialog, [dialog] {
        if (dialog->isVisible()) QMetaObject::invokeMethod(dialog, "reject");
      });
      act(dialog);
    });
    return seen;
  }
  // The control with the keyboard focus, once the window is active again (as a window manager
  // makes it when a dialog closes; the offscreen platform needs asking).
  QWidget* focused(MainWindow& w) {
    w.activateWindow();
    if (!QTest::qWaitForWindowActive(&w)) return &w;
    return QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : &w;
  }
  QString causeShown(MainWindow& w) {
    return w.findChild<QLabel*>(QStringLiteral("StatusCause"))->text();
  }
  // Returns what the drag source is told: the action taken, or IgnoreAction for a refusal.
  Qt::DropAction drop(QWidget* on, const QList<QUrl>& urls) {
    // As file managers offer it: the addresses, and the same as plain text.
    QMimeData data;
    data.setUrls(urls);
    QStringList text;
    for (const QUrl& url : urls) text << url.toString();
    data.setText(text.join(QLatin1Char('\n')));
    const QPoint at = on->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(on, &enter);
    if (!enter.isAccepted()) {
      QTest::qFail("the drag was not accepted", __FILE__, __LINE__);
      return Qt::IgnoreAction;
    }
    QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(on, &dropped);
    return dropped.isAccepted() ? dropped.dropAction() : Qt::IgnoreAction;
  }

  // Fills the fields and presses a button, then waits for the job's status text.
  void runJob(MainWindow& w, const char* button) {
    QSignalSpy done(&w, &MainWindow::JobFinished);
    QTest::mouseClick(child<QToolButton>(w, button), Qt::LeftButton);
    QVERIFY(done.wait(30000));
  }
  // Sets the fields and menus for a job (the delete box as asked), all through the widgets.
  void fill(MainWindow& w, const QString& source, const QString& target, const QString& phrase,
            int cipher, int hash, bool deleteSource = false) {
    child<QLineEdit>(w, "FileEdt")->setText(source);
    child<QLineEdit>(w, "TargetEdt")->setText(target);
    for (const char* field : {"PhraseEdt", "RPhraseEdt"}) {
      child<QLineEdit>(w, field)->clear();
      QTest::keyClicks(child<QLineEdit>(w, field), phrase);
    }
    child<QComboBox>(w, "ComboBox1")->setCurrentIndex(cipher);
    child<QComboBox>(w, "ComboBox2")->setCurrentIndex(hash);
    child<QCheckBox>(w, "sCheckBox2")->setChecked(deleteSource);
  }
  // A letter of plain text, encrypted through the window; returns the encrypted bytes.
  QByteArray sealLetter(MainWindow& w, const QTemporaryDir& dir, const QString& phrase, int cipher,
                        int hash) {
    QByteArray letter;
    for (int i = 0; i < 60; ++i)
      letter += "Dear reader, this letter is plain text, line " + QByteArray::number(i) + ".\n";
    writeFile(dir.filePath(QStringLiteral("letter.txt")), letter);
    fill(w, dir.filePath(QStringLiteral("letter.txt")), dir.filePath(QStringLiteral("letter.kry")),
         phrase, cipher, hash);
    runJob(w, "EncryptBtn");
    if (w.StatusText() != QStringLiteral("Last action: File encrypted successfully")) return {};
    return readFile(dir.filePath(QStringLiteral("letter.kry")));
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
      if (e.text) {
        // The ampersand marks the button's Alt key and is not shown.
        QCOMPARE(c->property("text").toString().remove(QLatin1Char('&')),
                 QString::fromUtf8(e.text));
      }
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
    // Typing stops at 255 characters in a file field and at 80 in a passphrase field.
    for (const auto& [field, limit] : {std::pair{"FileEdt", 255}, std::pair{"TargetEdt", 255},
                                       std::pair{"PhraseEdt", 80}, std::pair{"RPhraseEdt", 80}}) {
      auto* edit = child<QLineEdit>(w, field);
      QTest::keyClicks(edit, QString(limit + 10, QLatin1Char('x')));
      QCOMPARE(edit->text().size(), qsizetype(limit));
      edit->clear();
    }
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
    typePassphrase(w, QStringLiteral("pw"));
    child<QComboBox>(w, "ComboBox1")->setEditText(QStringLiteral("Blowfish"));
    runJob(w, "EncryptBtn");
    QCOMPARE(w.StatusText(), QStringLiteral("Last action: File IO error or file does not exists"));
    QVERIFY(!QFile::exists(target));
  }

  // Cancel from the status bar's button or with Escape: its own text, and nothing written.
  void cancelLeavesNothingBehind() {
    for (const bool escape : {false, true}) {
      QTemporaryDir dir;
      MainWindow w;
      w.show();
      QVERIFY(QTest::qWaitForWindowActive(&w));
      QSignalSpy done(&w, &MainWindow::JobFinished);
      startLongJob(w, dir);
      QVERIFY(!child<QToolButton>(w, "EncryptBtn")->isEnabled());
      if (escape) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
      } else {
        auto* cancel = child<QToolButton>(w, "CancelBtn");
        QTRY_VERIFY_WITH_TIMEOUT(cancel->isVisible(), 5000);
        QTest::mouseClick(cancel, Qt::LeftButton);
      }
      QVERIFY(done.wait(30000));
      QCOMPARE(w.StatusText(), QStringLiteral("Last action: Cancelled, nothing written"));
      QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("big.kry"))));
      QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 1);  // no temporary left either
      QVERIFY(child<QToolButton>(w, "EncryptBtn")->isEnabled());
    }
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
    typePassphrase(w, QStringLiteral("pw"));
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

  // Wherever the file lands, fields included, the source field gets its plain path and the
  // field under the pointer keeps its text.
  void droppedFileFillsTheSource() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dropped.txt"));
    writeFile(path, "x");
    for (const char* on : {"MainWindow", "FileEdt", "TargetEdt", "PhraseEdt", "ComboBox1"}) {
      MainWindow w;
      child<QLineEdit>(w, "FileEdt")->setText(QStringLiteral("/old/source"));
      child<QLineEdit>(w, "TargetEdt")->setText(QStringLiteral("/old/target"));
      child<QLineEdit>(w, "PhraseEdt")->setText(QStringLiteral("pass"));
      QWidget* target =
          QByteArray(on) == "MainWindow" ? static_cast<QWidget*>(&w) : child<QWidget>(w, on);
      if (auto* menu = qobject_cast<QComboBox*>(target)) target = menu->lineEdit();
      QCOMPARE(drop(target, {QUrl::fromLocalFile(path)}), Qt::CopyAction);
      QCOMPARE(child<QLineEdit>(w, "FileEdt")->text(), path);
      QCOMPARE(child<QLineEdit>(w, "TargetEdt")->text(), QStringLiteral("/old/target"));
      QCOMPARE(child<QLineEdit>(w, "PhraseEdt")->text(), QStringLiteral("pass"));
      QCOMPARE(child<QComboBox>(w, "ComboBox1")->currentIndex(), 0);
    }
  }

  // Several files, a folder or a remote address are refused aloud, and the source stays.
  void refusedDropsSaySo() {
    QTemporaryDir dir;
    const QString a = dir.filePath(QStringLiteral("a.txt"));
    const QString b = dir.filePath(QStringLiteral("b.txt"));
    writeFile(a, "a");
    writeFile(b, "b");
    const struct {
      QList<QUrl> urls;
      QString cause;
    } cases[] = {
        {{QUrl::fromLocalFile(a), QUrl::fromLocalFile(b)}, QStringLiteral("one file at a time")},
        {{QUrl::fromLocalFile(dir.path())}, QStringLiteral("is a folder")},
        {{QUrl(QStringLiteral("https://example.org/a.txt"))}, QStringLiteral("not a local file")},
    };
    for (const auto& c : cases) {
      MainWindow w;
      child<QLineEdit>(w, "FileEdt")->setText(QStringLiteral("/old/source"));
      // The drag source hears of the refusal, so that a move keeps its files.
      QCOMPARE(drop(&w, c.urls), Qt::IgnoreAction);
      QCOMPARE(drop(child<QLineEdit>(w, "PhraseEdt"), c.urls), Qt::IgnoreAction);
      QCOMPARE(child<QLineEdit>(w, "FileEdt")->text(), QStringLiteral("/old/source"));
      QVERIFY2(w.CauseText().contains(c.cause), qPrintable(w.CauseText()));
      QVERIFY(child<QLineEdit>(w, "PhraseEdt")->text().isEmpty());
    }
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
    typePassphrase(*w, QStringLiteral("pw"));
    child<QComboBox>(*w, "ComboBox1")->setCurrentIndex(4);  // 3DES, the slowest
    QTest::mouseClick(child<QToolButton>(*w, "EncryptBtn"), Qt::LeftButton);
    QVERIFY(w->JobRunning());
    QTest::qWait(200);
    delete w;
    QTest::qWait(100);  // anything the worker posted must not reach the dead window
    QVERIFY(!QFile::exists(target));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 1);
  }

  // The fixed text stays; the cause is shown beside it and goes with the next action.
  void causeIsShownUntilTheNextAction() {
    QTemporaryDir dir;
    MainWindow w;
    w.show();
    const QString missing = dir.filePath(QStringLiteral("nope.txt"));
    child<QLineEdit>(w, "FileEdt")->setText(missing);
    child<QLineEdit>(w, "TargetEdt")->setText(dir.filePath(QStringLiteral("out.bin")));
    runJob(w, "EncryptBtn");
    QCOMPARE(w.StatusText(), QStringLiteral("Last action: File IO error or file does not exists"));
    QCOMPARE(w.CauseText(), missing + QStringLiteral(": open: No such file or directory"));
    // The field shows the beginning of a long cause; the tooltip holds it whole.
    QVERIFY2(causeShown(w).endsWith(QStringLiteral("…")), qPrintable(causeShown(w)));
    QVERIFY2(w.CauseText().startsWith(causeShown(w).chopped(1)), qPrintable(causeShown(w)));
    QVERIFY(causeShown(w).size() > 20);
    auto* cause = w.findChild<QLabel*>(QStringLiteral("StatusCause"));
    QVERIFY(cause->isVisible());
    QVERIFY(cause->geometry().right() <=
            w.findChild<QWidget*>(QStringLiteral("sStatusBar1"))->width());
    auto* status = w.findChild<QLabel*>(QStringLiteral("StatusText"));
    QCOMPARE(status->toolTip(), w.CauseText());
    QTest::mouseClick(child<QToolButton>(w, "ClearBtn"), Qt::LeftButton);
    QVERIFY(status->toolTip().isEmpty());
    QVERIFY(causeShown(w).isEmpty());
  }

  // A name with a C1 control (U+009B, CSI on some terminals) and a right-to-left override shows
  // escaped, as kryvane-cli shows it, not reordered ("txt.exe" as "exe.txt").
  void controlsInNamesAreEscaped() {
    QTemporaryDir dir;
    MainWindow w;
    w.show();
    const QString missing = dir.filePath(QString::fromUtf8("x\xc2\x9b\xe2\x80\xaetxt.exe"));
    child<QLineEdit>(w, "FileEdt")->setText(missing);
    child<QLineEdit>(w, "TargetEdt")->setText(dir.filePath(QStringLiteral("out.bin")));
    runJob(w, "EncryptBtn");
    QCOMPARE(w.CauseText(), dir.path() + QStringLiteral("/x\\xc2\\x9b\\xe2\\x80\\xaetxt.exe: open: "
                                                        "No such file or directory"));
  }

  // A wrong cipher and hash with "Delete source" ticked: the source and the fields stay, the
  // tooltip and a notice say why; Ctrl+F then selects the right pair, and Decrypt deletes the
  // source as asked.
  void garbageKeepsTheSourceAndFindSelectsThePair() {
    QTemporaryDir dir;
    MainWindow w;
    w.show();
    const QByteArray sealed = sealLetter(w, dir, QStringLiteral("correct horse"), 9, 4);
    QVERIFY(!sealed.isEmpty());
    const QString source = dir.filePath(QStringLiteral("letter.kry"));
    const QString target = dir.filePath(QStringLiteral("letter-back.txt"));
    fill(w, source, target, QStringLiteral("correct horse"), 2, 7, true);
    runJob(w, "DecryptBtn");
    QCOMPARE(w.StatusText(), QStringLiteral("Last action: File decrypted successfully"));
    QCOMPARE(readFile(source), sealed);
    QCOMPARE(readFile(target).size(), sealed.size());
    QVERIFY2(w.CauseText().startsWith(
                 QStringLiteral("The result looks random: either the passphrase, cipher or hash "
                                "is wrong, or the file was itself encrypted or compressed; the "
                                "source was kept")),
             qPrintable(w.CauseText()));
    QCOMPARE(w.findChild<QLabel*>(QStringLiteral("StatusText"))->toolTip(), w.CauseText());
    auto* notice = w.findChild<QMessageBox*>(QStringLiteral("WrongKeyNotice"));
    QVERIFY(notice != nullptr);
    QVERIFY(notice->isVisible());
    QVERIFY(!notice->isModal());
    QVERIFY(notice->text().contains(source + QStringLiteral(" was kept")));
    QVERIFY(notice->text().contains(QStringLiteral("Ctrl+F")));
    // Nothing typed is lost.
    QCOMPARE(child<QLineEdit>(w, "FileEdt")->text(), source);
    QCOMPARE(child<QLineEdit>(w, "PhraseEdt")->text(), QStringLiteral("correct horse"));
    QVERIFY(child<QCheckBox>(w, "sCheckBox2")->isChecked());

    // Ctrl+F works in the notice too, which then goes.
    QVERIFY(QTest::qWaitForWindowActive(notice));
    const QPointer<QMessageBox> noticeLeft = notice;
    QSignalSpy done(&w, &MainWindow::JobFinished);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F, Qt::ControlModifier);
    QVERIFY(done.wait(30000));
    QVERIFY(!noticeLeft || !noticeLeft->isVisible());
    QCOMPARE(w.StatusText(), QStringLiteral("Last action: Cipher and hash found"));
    QCOMPARE(child<QComboBox>(w, "ComboBox1")->currentIndex(), 9);
    QCOMPARE(child<QComboBox>(w, "ComboBox2")->currentIndex(), 4);
    QVERIFY2(w.CauseText().startsWith(QStringLiteral("Best: ")), qPrintable(w.CauseText()));
    QVERIFY(w.CauseText().contains(QStringLiteral("text")));
    QCOMPARE(child<QProgressBar>(w, "JobProgress")->value(), 1000);

    // The garbage written before is replaced after the usual question.
    const auto asked = whenModal(&w, [](QWidget* box) {
      static_cast<QMessageBox*>(box)->button(QMessageBox::Yes)->click();
    });
    runJob(w, "DecryptBtn");
    QVERIFY(*asked);
    QCOMPARE(w.StatusText(), QStringLiteral("Last action: File decrypted successfully"));
    QVERIFY(w.CauseText().isEmpty());
    QVERIFY(!QFile::exists(source));
    QCOMPARE(readFile(target), readFile(dir.filePath(QStringLiteral("letter.txt"))));
    QVERIFY(child<QLineEdit>(w, "FileEdt")->text().isEmpty());
  }

  // A wrong passphrase with "Delete source" ticked keeps the source too. From Decrypt's context
  // menu the search then finds nothing and changes no menu; a search needs a source, not a
  // target.
  void findFromTheContextMenu() {
    QTemporaryDir dir;
    MainWindow w;
    w.show();
    const QByteArray sealed = sealLetter(w, dir, QStringLiteral("correct horse"), 5, 2);
    QVERIFY(!sealed.isEmpty());
    fill(w, dir.filePath(QStringLiteral("letter.kry")), dir.filePath(QStringLiteral("out.txt")),
         QStringLiteral("correct hors"), 5, 2, true);
    runJob(w, "DecryptBtn");
    QCOMPARE(w.StatusText(), QStringLiteral("Last action: File decrypted successfully"));
    QCOMPARE(readFile(dir.filePath(QStringLiteral("letter.kry"))), sealed);
    QVERIFY(w.CauseText().contains(QStringLiteral("the source was kept")));
    QTRY_VERIFY(w.findChild<QMessageBox*>(QStringLiteral("WrongKeyNotice")) != nullptr);
    w.findChild<QMessageBox*>(QStringLiteral("WrongKeyNotice"))->close();

    // The context menu (a right click, or the menu key) offers it.
    auto* decrypt = child<QToolButton>(w, "DecryptBtn");
    QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, decrypt->rect().center(),
                              decrypt->mapToGlobal(decrypt->rect().center()));
    QApplication::sendEvent(decrypt, &menuKey);
    auto* menu = w.findChild<QMenu*>(QStringLiteral("DecryptMenu"));
    QVERIFY(menu != nullptr);
    QTRY_VERIFY(menu->isVisible());
    QAction* find = nullptr;
    for (QAction* a : menu->actions()) {
      if (a->text() == QStringLiteral("Find cipher and hash…")) find = a;
    }
    QVERIFY(find != nullptr);
    menu->close();
    QCOMPARE(find->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F));

    fill(w, dir.filePath(QStringLiteral("letter.kry")), QString(), QStringLiteral("correct hors"),
         1, 1);
    QSignalSpy done(&w, &MainWindow::JobFinished);
    QTest::keyClick(focused(w), Qt::Key_F, Qt::ControlModifier);
    QVERIFY(done.wait(30000));
    QCOMPARE(w.StatusText(), QStringLiteral("Last action: No cipher and hash found"));
    QVERIFY(w.CauseText().contains(QStringLiteral("check the passphrase")));
    QCOMPARE(child<QComboBox>(w, "ComboBox1")->currentIndex(), 1);
    QCOMPARE(child<QComboBox>(w, "ComboBox2")->currentIndex(), 1);

    child<QLineEdit>(w, "FileEdt")->clear();
    find->trigger();
    QCOMPARE(w.StatusText(), QStringLiteral("Last action: File IO error or file does not exists"));
    QCOMPARE(w.CauseText(), QStringLiteral("Select source file: the field is empty"));
    QVERIFY(!w.JobRunning());
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

  // A button pressed from the keyboard keeps the focus through a failure and a cancel, so a
  // second Space presses it again instead of Close.
  void focusReturnsWhenTheJobEnds() {
    QTemporaryDir dir;
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QSignalSpy done(&w, &MainWindow::JobFinished);
    child<QLineEdit>(w, "FileEdt")->setText(dir.filePath(QStringLiteral("missing.bin")));
    child<QLineEdit>(w, "TargetEdt")->setText(dir.filePath(QStringLiteral("out.bin")));
    auto* decrypt = child<QToolButton>(w, "DecryptBtn");
    decrypt->setFocus();
    QTest::keyClick(decrypt, Qt::Key_Space);
    QVERIFY(done.wait(30000));
    QCOMPARE(w.StatusText(), QStringLiteral("Last action: File IO error or file does not exists"));
    QCOMPARE(QApplication::focusWidget(), decrypt);

    startLongJob(w, dir);  // pressed with the mouse: the focus goes back to Encrypt
    QVERIFY(QApplication::focusWidget() != child<QToolButton>(w, "CloseBtn"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QVERIFY(done.wait(30000));
    QCOMPARE(QApplication::focusWidget(), child<QToolButton>(w, "EncryptBtn"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);  // runs again, does not quit
    QVERIFY(w.isVisible());
    QVERIFY(w.JobRunning());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QVERIFY(done.wait(30000));
  }

  // Closing during a job asks first; No (the default) lets the job go on, Yes stops it, removes
  // the partial target and closes the window promptly.
  void closeDuringAJobAsks() {
    QTemporaryDir dir;
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    startLongJob(w, dir);
    QString asked;
    auto seen = whenModal(&w, [&asked](QWidget* box) {
      asked = static_cast<QMessageBox*>(box)->text();
      QTest::keyClick(box, Qt::Key_Return);  // the default answer
    });
    QVERIFY(!w.close());  // what Alt+F4 and the title bar's button do
    QVERIFY(*seen);
    QCOMPARE(asked, QStringLiteral("A job is running. Stop it and close?"));
    QVERIFY(w.isVisible());
    QVERIFY(w.JobRunning());

    seen = whenModal(&w, [](QWidget* box) {
      static_cast<QMessageBox*>(box)->button(QMessageBox::Yes)->click();
    });
    QTest::mouseClick(child<QToolButton>(w, "CloseBtn"), Qt::LeftButton);
    QVERIFY(*seen);
    QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), 5000);
    QVERIFY(!w.JobRunning());
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("big.kry"))));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 1);
  }

  // An empty file field is refused at once, by name, before anything is read or written.
  void emptyFieldsAreRefused() {
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("in.txt"));
    writeFile(source, "data");
    const QString here = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));  // a temporary file would land here
    const struct {
      const char* empty;
      const char* name;
    } cases[] = {{"FileEdt", "Select source file"}, {"TargetEdt", "Create target file"}};
    for (const auto& c : cases) {
      MainWindow w;
      w.show();
      child<QLineEdit>(w, "FileEdt")->setText(source);
      child<QLineEdit>(w, "TargetEdt")->setText(dir.filePath(QStringLiteral("out.bin")));
      child<QLineEdit>(w, c.empty)->clear();
      QTest::mouseClick(child<QToolButton>(w, "EncryptBtn"), Qt::LeftButton);
      QVERIFY(!w.JobRunning());
      QCOMPARE(w.StatusText(),
               QStringLiteral("Last action: File IO error or file does not exists"));
      QVERIFY2(w.CauseText().startsWith(QString::fromLatin1(c.name)), qPrintable(w.CauseText()));
      QCOMPARE(w.focusWidget(), child<QLineEdit>(w, c.empty));
      QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"in.txt"});
    }
    QVERIFY(QDir::setCurrent(here));
  }

  // A path from a dialog or a drop goes in whole, past the 255 characters that typing allows,
  // and the job writes to that path and no other.
  void longPathsFromDialogsStayWhole() {
    QTemporaryDir dir;
    QString folder = dir.path();
    while (folder.size() < 300) folder += QStringLiteral("/") + QString(60, QLatin1Char('d'));
    QVERIFY(QDir().mkpath(folder));
    const QString source = folder + QStringLiteral("/source-with-a-long-name.txt");
    const QString target = folder + QStringLiteral("/target-with-a-long-name.bin");
    writeFile(source, "long paths");
    MainWindow w;
    w.show();
    const struct {
      const char* field;
      QString path;
    } picks[] = {{"FileEdt", source}, {"TargetEdt", target}};
    for (const auto& pick : picks) {
      auto seen = whenModal(&w, [path = pick.path](QWidget* dialog) {
        auto* files = qobject_cast<QFileDialog*>(dialog);
        QVERIFY(files != nullptr);
        // Typed into the dialog's own name field, as a user pastes a path there.
        auto* name = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        QVERIFY(name != nullptr);
        name->setText(path);
        QTest::keyClick(name, Qt::Key_Return);
      });
      w.findChild<QAction*>(QString::fromLatin1(pick.field) + QStringLiteral("Browse"))->trigger();
      QVERIFY(*seen);
      QCOMPARE(child<QLineEdit>(w, pick.field)->text(), pick.path);
    }
    QTest::keyClicks(child<QLineEdit>(w, "PhraseEdt"), QStringLiteral("pw"));
    QTest::keyClicks(child<QLineEdit>(w, "RPhraseEdt"), QStringLiteral("pw"));
    runJob(w, "EncryptBtn");
    QCOMPARE(w.StatusText(), QStringLiteral("Last action: File encrypted successfully"));
    QCOMPARE(readFile(target).size(), qsizetype(10));
    QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 2);  // nothing under a cut name

    drop(&w, {QUrl::fromLocalFile(source)});
    QCOMPARE(child<QLineEdit>(w, "FileEdt")->text(), source);
    // Typing keeps its limit.
    auto* typed = child<QLineEdit>(w, "TargetEdt");
    typed->clear();
    QTest::keyClicks(typed, QString(300, QLatin1Char('x')));
    QCOMPARE(typed->text().size(), 255);
  }

  // Return on a focused button presses it; Alt and a letter press the five buttons; F4 or
  // Alt+Down in a file field opens its dialog.
  void keyboardReachesEveryAction() {
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    auto* phrase = child<QLineEdit>(w, "PhraseEdt");
    auto* retyped = child<QLineEdit>(w, "RPhraseEdt");
    const QString mismatch = QStringLiteral("Last action: Passphrase mismatch !, retype phrase");
    for (const char* button : {"EncryptBtn", "DecryptBtn"}) {
      for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        phrase->setText(QStringLiteral("a"));
        retyped->setText(QStringLiteral("b"));
        QTest::mouseClick(child<QToolButton>(w, "ClearBtn"), Qt::LeftButton);
        phrase->setText(QStringLiteral("a"));
        child<QToolButton>(w, button)->setFocus();
        QTest::keyClick(focused(w), key);
        QTRY_COMPARE(w.StatusText(), mismatch);
      }
    }
    const struct {
      Qt::Key key;
      const char* status;
    } mnemonics[] = {{Qt::Key_E, "Last action: Passphrase mismatch !, retype phrase"},
                     {Qt::Key_L, "Last action: Clear all fields"},
                     {Qt::Key_D, "Last action: Passphrase mismatch !, retype phrase"}};
    for (const auto& m : mnemonics) {
      QTest::mouseClick(child<QToolButton>(w, "ClearBtn"), Qt::LeftButton);
      phrase->setText(QStringLiteral("a"));  // any job press ends in a mismatch
      w.findChild<QLabel*>(QStringLiteral("StatusText"))->clear();
      QTest::keyClick(focused(w), m.key, Qt::AltModifier);
      QTRY_COMPARE(w.StatusText(), QString::fromLatin1(m.status));
    }
    QWidget* in = focused(w);
    auto seen = whenModal(&w, [](QWidget* about) { QTest::keyClick(about, Qt::Key_Return); });
    QTest::keyClick(in, Qt::Key_A, Qt::AltModifier);
    QTRY_VERIFY(*seen);  // a mnemonic clicks after a short animation
    QCOMPARE(w.StatusText(), QStringLiteral("Last action: Show about Kryvane 2.0"));
    for (const char* field : {"FileEdt", "TargetEdt"}) {
      for (const auto& [key, modifiers] :
           {std::pair{Qt::Key_F4, Qt::NoModifier}, std::pair{Qt::Key_Down, Qt::AltModifier}}) {
        child<QLineEdit>(w, field)->setFocus();
        QWidget* in = focused(w);  // first: the wait must not eat the dialog's timer
        seen = whenModal(&w, [](QWidget* dialog) { QMetaObject::invokeMethod(dialog, "reject"); });
        QTest::keyClick(in, key, modifiers);
        QVERIFY2(*seen, field);
        QCOMPARE(focused(w), child<QLineEdit>(w, field));
      }
    }
    in = focused(w);
    seen = whenModal(&w, [](QWidget*) {});
    QTest::keyClick(in, Qt::Key_C, Qt::AltModifier);
    QTRY_VERIFY(!w.isVisible());
    QVERIFY(!*seen);  // no job, no question
  }

  // What a screen reader says for each control: its label, or its own text.
  void accessibleNames() {
    MainWindow w;
    w.show();
    const struct {
      const char* control;
      const char* name;
    } names[] = {{"FileEdt", "Select source file"},
                 {"TargetEdt", "Create target file"},
                 {"PhraseEdt", "Enter passphrase"},
                 {"RPhraseEdt", "Retype passphrase"},
                 {"ComboBox1", "Select encryption cipher"},
                 {"ComboBox2", "Select hash Algorithm"},
                 {"sCheckBox1", "Hide passphrase characters"},
                 {"sCheckBox2", "Delete source file after processing"},
                 {"sCheckBox3", "Save encryption settings for this file"},
                 {"EncryptBtn", "Encrypt"},
                 {"CloseBtn", "Close"},
                 {"JobProgress", "Job progress"}};
    for (const auto& n : names) {
      // A screen reader announces the control's own name or the label it is labelled by (the
      // menus on Linux name themselves by their current entry).
      QAccessibleInterface* a = QAccessible::queryAccessibleInterface(child<QWidget>(w, n.control));
      QVERIFY(a != nullptr);
      QStringList spoken{a->text(QAccessible::Name)};
      for (const auto& [label, relation] : a->relations(QAccessible::Label)) {
        spoken << label->text(QAccessible::Name).remove(QLatin1Char(':'));
      }
      QVERIFY2(spoken.contains(QString::fromLatin1(n.name)), qPrintable(spoken.join(" | ")));
    }
    QCOMPARE(child<QLabel>(w, "sLabel1")->buddy(), child<QWidget>(w, "FileEdt"));
    // The Browse buttons inside the two fields.
    for (const char* field : {"FileEdt", "TargetEdt"}) {
      const auto buttons = child<QLineEdit>(w, field)->findChildren<QToolButton*>();
      QCOMPARE(buttons.size(), 1);
      const QString name =
          QAccessible::queryAccessibleInterface(buttons.first())->text(QAccessible::Name);
      QVERIFY2(name.startsWith(QStringLiteral("Browse")), qPrintable(name));
    }
    QVERIFY(!w.About()->Image1()->accessibleDescription().isEmpty());
    QCOMPARE(QAccessible::queryAccessibleInterface(w.About()->Comments())->text(QAccessible::Name),
             QStringLiteral("User guide"));
  }

  // While a job runs: what it does, how far it is, and About still opens without taking over
  // the status bar.
  void feedbackWhileAJobRuns() {
    QTemporaryDir dir;
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QSignalSpy done(&w, &MainWindow::JobFinished);
    startLongJob(w, dir);
    QCOMPARE(w.StatusText(), QStringLiteral("Encrypting big.bin…"));
    auto* bar = w.findChild<QProgressBar*>(QStringLiteral("JobProgress"));
    QTRY_VERIFY_WITH_TIMEOUT(bar->isVisible() && bar->value() > 0, 10000);
    QVERIFY(bar->isTextVisible());
    QVERIFY(bar->text().endsWith(QLatin1Char('%')));
    auto* about = child<QToolButton>(w, "AboutBtn");
    QVERIFY(about->isEnabled());
    auto seen = whenModal(&w, [](QWidget* box) { QTest::keyClick(box, Qt::Key_Return); });
    QTest::mouseClick(about, Qt::LeftButton);
    QVERIFY(*seen);
    QCOMPARE(w.StatusText(), QStringLiteral("Encrypting big.bin…"));
    QVERIFY(w.JobRunning());
    w.CancelJob();
    QVERIFY(done.wait(30000));
  }

  // A typed target that exists is replaced only after a Yes; No leaves it and the source alone.
  void existingTypedTargetAsksFirst() {
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("in.txt"));
    const QString target = dir.filePath(QStringLiteral("keep.bin"));
    writeFile(source, "new content");
    writeFile(target, "precious");
    MainWindow w;
    w.show();
    typePassphrase(w, QStringLiteral("pw"));
    for (const bool replace : {false, true}) {
      child<QLineEdit>(w, "FileEdt")->setText(source);
      child<QLineEdit>(w, "TargetEdt")->setText(target);
      QString asked;
      auto seen = whenModal(&w, [&asked, replace](QWidget* box) {
        auto* question = static_cast<QMessageBox*>(box);
        asked = question->text();
        if (replace) {
          question->button(QMessageBox::Yes)->click();
        } else {
          QTest::keyClick(box, Qt::Key_Return);  // the default: No
        }
      });
      QSignalSpy done(&w, &MainWindow::JobFinished);
      QTest::mouseClick(child<QToolButton>(w, "EncryptBtn"), Qt::LeftButton);
      QVERIFY(*seen);
      QVERIFY(asked.contains(target));
      if (replace) {
        QVERIFY(done.wait(30000));
        QCOMPARE(readFile(target).size(), qsizetype(11));
      } else {
        QVERIFY(!w.JobRunning());
        QCOMPARE(done.count(), 0);
        QCOMPARE(readFile(target), QByteArray("precious"));
      }
    }
  }

  // A target that is complete while the settings file could not be written is reported as
  // both: the success text, the settings file's cause beside it, and the fields kept.
  void settingsNotWrittenAfterTheTarget() {
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("in.txt"));
    const QString target = dir.filePath(QStringLiteral("out.bin"));
    writeFile(source, "hello");
    QVERIFY(QDir().mkdir(source + QStringLiteral("-settings.txt")));  // in the settings' way
    MainWindow w;
    child<QLineEdit>(w, "FileEdt")->setText(source);
    child<QLineEdit>(w, "TargetEdt")->setText(target);
    typePassphrase(w, QStringLiteral("pw"));
    child<QCheckBox>(w, "sCheckBox3")->setChecked(true);
    runJob(w, "EncryptBtn");
    // Found before the target is written, so target and settings file never disagree.
    QCOMPARE(w.StatusText(), QStringLiteral("Last action: File IO error or file does not exists"));
    QVERIFY2(w.CauseText().contains(QStringLiteral("in.txt-settings.txt")),
             qPrintable(w.CauseText()));
    QVERIFY(!QFile::exists(target));
    QCOMPARE(child<QLineEdit>(w, "FileEdt")->text(), source);
  }

  // "Forgot the passphrase…" finds a passphrase from what the user remembers (a letter dropped),
  // fills both passphrase fields and the menus, and the file then decrypts.
  void forgotPassphraseFillsFieldsAndMenus() {
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("letter.txt"));
    const QString sealed = dir.filePath(QStringLiteral("letter.enc"));
    QByteArray letter;
    for (int i = 0; i < 60; ++i) letter += "Dear reader, this letter is plain text.\n";
    writeFile(source, letter);
    MainWindow w;
    fill(w, source, sealed, QStringLiteral("Summer2019!"), 9, 3);
    runJob(w, "EncryptBtn");
    QTest::mouseClick(child<QToolButton>(w, "ClearBtn"), Qt::LeftButton);
    child<QLineEdit>(w, "FileEdt")->setText(sealed);
    child<QComboBox>(w, "ComboBox1")->setCurrentIndex(9);

    w.findChild<QAction*>(QStringLiteral("ForgotPassphrase"))->trigger();
    auto* dialog = w.findChild<kryvane::RecoverDialog*>(QStringLiteral("RecoverDialog"));
    QVERIFY(dialog != nullptr);
    // The cipher is remembered, the hash is not: every hash is tried under it.
    QCOMPARE(child<QComboBox>(*dialog, "RecoverCipher")->currentIndex(), 10);
    child<QComboBox>(*dialog, "RecoverHash")->setCurrentIndex(0);
    QTest::keyClicks(child<QLineEdit>(*dialog, "Remembered"), QStringLiteral("Sumer2019"));
    QSignalSpy ended(dialog, &kryvane::RecoverDialog::Ended);
    QTest::mouseClick(child<QPushButton>(*dialog, "RecoverStart"), Qt::LeftButton);
    QVERIFY(ended.wait(60000));
    QCOMPARE(child<QLineEdit>(w, "PhraseEdt")->text(), QStringLiteral("Summer2019!"));
    QCOMPARE(child<QLineEdit>(w, "RPhraseEdt")->text(), QStringLiteral("Summer2019!"));
    QCOMPARE(child<QComboBox>(w, "ComboBox1")->currentIndex(), 9);
    QCOMPARE(child<QComboBox>(w, "ComboBox2")->currentIndex(), 3);

    const QString back = dir.filePath(QStringLiteral("back.txt"));
    child<QLineEdit>(w, "TargetEdt")->setText(back);
    runJob(w, "DecryptBtn");
    QFile result(back);
    QVERIFY(result.open(QIODevice::ReadOnly));
    QCOMPARE(result.readAll(), letter);
  }

  // A failed known-answer test at start is named, and Encrypt and Decrypt then refuse.
  void failedSelfTestRefusesJobs() {
    QCOMPARE(MainWindow::RunSelfTests(), QStringList());
    MainWindow healthy;
    QVERIFY(healthy.CauseText().isEmpty());

    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("in.txt"));
    const QString target = dir.filePath(QStringLiteral("out.bin"));
    writeFile(source, "data");
    MainWindow w([] { return QStringList{QStringLiteral("Blowfish")}; });
    QVERIFY(w.CauseText().contains(QStringLiteral("Self-test failed: Blowfish")));
    child<QLineEdit>(w, "FileEdt")->setText(source);
    child<QLineEdit>(w, "TargetEdt")->setText(target);
    // Drawn disabled, not only refused; the search too. The others stay usable.
    for (const char* button : {"EncryptBtn", "DecryptBtn"}) {
      QVERIFY(!child<QToolButton>(w, button)->isEnabled());
      QVERIFY(child<QToolButton>(healthy, button)->isEnabled());
    }
    QVERIFY(!child<QAction>(w, "FindCipherAndHash")->isEnabled());
    QVERIFY(child<QToolButton>(w, "ClearBtn")->isEnabled());
    for (const char* button : {"EncryptBtn", "DecryptBtn"}) {
      QTest::mouseClick(child<QToolButton>(w, button), Qt::LeftButton);
      QVERIFY(!w.JobRunning());
      QVERIFY(w.CauseText().contains(QStringLiteral("Blowfish")));
      QVERIFY(!QFile::exists(target));
    }
    w.findChild<QAction*>(QStringLiteral("FindCipherAndHash"))->trigger();
    QVERIFY(!w.JobRunning());
    QTest::mouseClick(child<QToolButton>(w, "ClearBtn"), Qt::LeftButton);  // stays disabled
    QVERIFY(!child<QToolButton>(w, "EncryptBtn")->isEnabled());
  }

  // Under a dark desktop palette the window keeps its own light skin: the labels and the about
  // box's title stay readable, measured on the drawn pixels.
  void darkDesktopKeepsTheSkinReadable() {
    const QPalette desktop = QApplication::palette();
    QPalette dark(QColor(45, 45, 45), QColor(30, 30, 30));
    dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
    dark.setColor(QPalette::Text, QColor(230, 230, 230));
    QApplication::setPalette(dark);
    auto luminance = [](QColor c) {
      auto channel = [](double v) {
        v /= 255.0;
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
      };
      return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) + 0.0722 * channel(c.blue());
    };
    // The contrast between the background (the control's corner) and its darkest pixel.
    auto contrast = [&](const QImage& image, QRect area) {
      const QColor background = image.pixelColor(area.topLeft());
      double darkest = 1.0;
      for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
          darkest = std::min(darkest, luminance(image.pixelColor(x, y)));
        }
      }
      return (luminance(background) + 0.05) / (darkest + 0.05);
    };
    {
      MainWindow w;
      w.show();
      const QImage shot = w.grab().toImage();
      for (const char* name : {"sLabel1", "sLabel2", "sLabel3", "sLabel4", "sLabel5", "sLabel6"}) {
        const double ratio = contrast(shot, child<QLabel>(w, name)->geometry());
        QVERIFY2(ratio >= 4.5, qPrintable(QStringLiteral("%1: %2").arg(name).arg(ratio)));
      }
      AboutBox* about = w.About();
      const QImage box = about->grab().toImage();
      auto* title = about->findChild<QLabel*>(QStringLiteral("sLabelFX1"));
      const QRect area(title->mapTo(about, QPoint(0, 0)), title->size());
      QVERIFY2(contrast(box, area) >= 4.5, qPrintable(QString::number(contrast(box, area))));
    }
    QApplication::setPalette(desktop);
  }

  // The picture fits its control whole; the link is underlined and opens from the keyboard.
  void aboutBoxPictureAndKeyboardLink() {
    MainWindow w;
    AboutBox* about = w.About();
    QLabel* image = about->Image1();
    const QSize drawn = image->pixmap().deviceIndependentSize().toSize();
    QVERIFY(drawn.width() <= image->width() && drawn.height() <= image->height());
    QVERIFY(drawn.height() >= image->height() - 2);  // not shrunk more than it needs
    QVERIFY(about->Comments()->font().underline());

    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "open");
    w.show();
    bool stayedOpen = false;
    auto seen = whenModal(&w, [&stayedOpen, about](QWidget*) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QCOMPARE(QApplication::focusWidget(), about->Comments());
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
      stayedOpen = about->isVisible();
      about->accept();
    });
    QTest::mouseClick(child<QToolButton>(w, "AboutBtn"), Qt::LeftButton);
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QVERIFY(*seen);
    QVERIFY(stayedOpen);
    QCOMPARE(recorder.opened, QList<QUrl>{AboutBox::GuideUrl()});
  }

  // A path pasted into a file field stays whole however long, and the job writes there.
  void pastedLongPathsStayWhole() {
    QTemporaryDir dir;
    QString folder = dir.path();
    while (folder.size() < 300) folder += QStringLiteral("/") + QString(60, QLatin1Char('p'));
    QVERIFY(QDir().mkpath(folder));
    const QString source = folder + QStringLiteral("/pasted-source.txt");
    const QString target = folder + QStringLiteral("/pasted-target.bin");
    writeFile(source, "pasted");
    MainWindow w;
    w.show();
    for (const auto& [field, path] :
         {std::pair{"FileEdt", source}, std::pair{"TargetEdt", target}}) {
      QApplication::clipboard()->setText(path);
      auto* edit = child<QLineEdit>(w, field);
      edit->setFocus();
      QTest::keySequence(edit, QKeySequence::Paste);
      QCOMPARE(edit->text(), path);
    }
    typePassphrase(w, QStringLiteral("pw"));
    runJob(w, "EncryptBtn");
    QCOMPARE(w.StatusText(), QStringLiteral("Last action: File encrypted successfully"));
    QCOMPARE(readFile(target).size(), qsizetype(6));
    QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 2);
  }

  // A passphrase pasted past 80 characters keeps its first 80, as the Windows program's field
  // did, and the window says so.
  void longPassphrasePasteIsCutAloud() {
    MainWindow w;
    w.show();
    QString phrase;
    for (int i = 0; phrase.size() < 100; ++i) phrase += QString::number(i) + QLatin1Char('-');
    for (const char* field : {"PhraseEdt", "RPhraseEdt"}) {
      QApplication::clipboard()->setText(phrase);
      auto* edit = child<QLineEdit>(w, field);
      edit->setFocus();
      QTest::keySequence(edit, QKeySequence::Paste);
      QCOMPARE(edit->text(), phrase.left(80));
    }
    QVERIFY2(w.CauseText().contains(
                 QStringLiteral("cut to its first 80 characters, as the Windows program did")),
             qPrintable(w.CauseText()));
    QApplication::clipboard()->clear();
  }

  // The outcome reaches a screen reader: the status and the cause are the labels' accessible
  // names, each change is an event, a failure an alert; and a job's start moves the focus once.
  void screenReaderHearsTheOutcome() {
    QTemporaryDir dir;
    MainWindow w;
    HeardEvents heard(w);
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    auto* status = child<QLabel>(w, "StatusText");
    auto* cause = child<QLabel>(w, "StatusCause");
    child<QLineEdit>(w, "FileEdt")->setText(dir.filePath(QStringLiteral("nope.txt")));
    child<QLineEdit>(w, "TargetEdt")->setText(dir.filePath(QStringLiteral("out.bin")));
    runJob(w, "DecryptBtn");
    QAccessibleInterface* said = QAccessible::queryAccessibleInterface(status);
    QCOMPARE(said->text(QAccessible::Name), w.StatusText());
    QCOMPARE(QAccessible::queryAccessibleInterface(cause)->text(QAccessible::Name), w.CauseText());
    QVERIFY(!w.CauseText().isEmpty());
    QVERIFY(heard.Count(status, QAccessible::NameChanged) >= 2);  // working, then failed
    QVERIFY(heard.Count(cause, QAccessible::NameChanged) >= 1);
    QCOMPARE(heard.Count(status, QAccessible::Alert), 1);

    // A long job pressed from the keyboard: the focus goes once, to the progress bar.
    const QString source = dir.filePath(QStringLiteral("big.bin"));
    {
      QFile f(source);
      QVERIFY(f.open(QIODevice::WriteOnly));
      QVERIFY(f.resize(qint64(1) << 30));
    }
    fill(w, source, dir.filePath(QStringLiteral("big.kry")), QStringLiteral("pw"), 4, 0);
    auto* encrypt = child<QToolButton>(w, "EncryptBtn");
    encrypt->setFocus();
    FocusCounter counter;
    QApplication::instance()->installEventFilter(&counter);
    QSignalSpy done(&w, &MainWindow::JobFinished);
    QTest::keyClick(encrypt, Qt::Key_Space);
    QVERIFY(w.JobRunning());
    QApplication::instance()->removeEventFilter(&counter);
    QCOMPARE(counter.took, QStringList{QStringLiteral("JobProgress")});
    // A Space or Return there presses nothing: no About box, no second job.
    const auto about =
        whenModal(&w, [](QWidget* box) { QMetaObject::invokeMethod(box, "reject"); });
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QTest::qWait(500);
    QVERIFY(!*about);
    QVERIFY(w.JobRunning());
    w.CancelJob();
    QVERIFY(done.wait(30000));
  }

  // After a success the fields are empty and the focus waits in the source field, not on the
  // button a second Space would press on empty fields.
  void focusAfterSuccessIsInTheSource() {
    QTemporaryDir dir;
    writeFile(dir.filePath(QStringLiteral("in.txt")), "some words to encrypt");
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    fill(w, dir.filePath(QStringLiteral("in.txt")), dir.filePath(QStringLiteral("out.kry")),
         QStringLiteral("pw"), 0, 0);
    auto* encrypt = child<QToolButton>(w, "EncryptBtn");
    encrypt->setFocus();
    QSignalSpy done(&w, &MainWindow::JobFinished);
    QTest::keyClick(encrypt, Qt::Key_Space);
    QVERIFY(done.wait(30000));
    QCOMPARE(w.StatusText(), QStringLiteral("Last action: File encrypted successfully"));
    QCOMPARE(QApplication::focusWidget(), child<QLineEdit>(w, "FileEdt"));
  }

  // Encrypting without a passphrase asks first, default No; once Yes, not again, unless the
  // source is to be deleted too.
  void emptyPassphraseAsks() {
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("in.txt"));
    const QString target = dir.filePath(QStringLiteral("out.kry"));
    MainWindow w;
    w.show();
    const auto attempt = [&](bool deleteSource, std::optional<bool> answer) {
      writeFile(source, "data");
      QFile::remove(target);
      fill(w, source, target, QString(), 0, 0, deleteSource);
      QString asked;
      auto seen = whenModal(&w, [&asked, answer](QWidget* box) {
        auto* question = static_cast<QMessageBox*>(box);
        asked = question->text();
        if (answer.value_or(false)) {
          question->button(QMessageBox::Yes)->click();
        } else {
          QTest::keyClick(box, Qt::Key_Return);  // the default
        }
      });
      QSignalSpy done(&w, &MainWindow::JobFinished);
      QTest::mouseClick(child<QToolButton>(w, "EncryptBtn"), Qt::LeftButton);
      if (w.JobRunning() || done.count() == 0) done.wait(answer.value_or(true) ? 30000 : 300);
      QTest::qWait(400);  // past the moment the dialog was looked for
      return std::pair{*seen ? asked : QString(), QFile::exists(target)};
    };
    auto [asked, written] = attempt(false, false);
    QVERIFY2(asked.startsWith(QStringLiteral("Encrypt without a passphrase?")), qPrintable(asked));
    QVERIFY(!written);
    std::tie(asked, written) = attempt(false, true);
    QVERIFY(!asked.isEmpty());
    QVERIFY(written);
    std::tie(asked, written) = attempt(false, std::nullopt);  // not asked again
    QVERIFY2(asked.isEmpty(), qPrintable(asked));
    QVERIFY(written);
    std::tie(asked, written) = attempt(true, false);  // with the source to go: always
    QVERIFY(asked.contains(QStringLiteral("deleted")));
    QVERIFY(!written);
    QVERIFY(QFile::exists(source));
  }

  // Holding Decrypt decrypts (no menu pops up); the button draws no arrow.
  void holdingDecryptDecrypts() {
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    auto* decrypt = child<QToolButton>(w, "DecryptBtn");
    QVERIFY(decrypt->actions().isEmpty());
    QVERIFY(decrypt->menu() == nullptr);
    child<QLineEdit>(w, "PhraseEdt")->setText(QStringLiteral("a"));
    QTest::mousePress(decrypt, Qt::LeftButton);
    QTest::qWait(1000);
    QVERIFY(QApplication::activePopupWidget() == nullptr);
    QTest::mouseRelease(decrypt, Qt::LeftButton);
    QCOMPARE(w.StatusText(), QStringLiteral("Last action: Passphrase mismatch !, retype phrase"));
  }

  // "~" is the home folder; a relative path is refused with the reason, nothing is written in
  // the working folder; a source that is the target is refused before any question.
  void typedPathsAreTakenAsMeant() {
    QTemporaryDir home, work;
    // Put back whatever happens, for the tests after this one.
    struct Restore {
      QByteArray home = qgetenv("HOME");
      QString here = QDir::currentPath();
      ~Restore() {
        qputenv("HOME", home);
        QDir::setCurrent(here);
      }
    } restore;
    qputenv("HOME", QFile::encodeName(home.path()));
    QVERIFY(QDir::setCurrent(work.path()));
    writeFile(home.filePath(QStringLiteral("in.txt")), "from home");
    writeFile(work.filePath(QStringLiteral("in.txt")), "from work");
    {
      MainWindow w;
      w.show();
      fill(w, QStringLiteral("~/in.txt"), QStringLiteral("~/out.kry"), QStringLiteral("pw"), 0, 0);
      runJob(w, "EncryptBtn");
      QCOMPARE(w.StatusText(), QStringLiteral("Last action: File encrypted successfully"));
      QVERIFY(QFile::exists(home.filePath(QStringLiteral("out.kry"))));

      fill(w, QStringLiteral("in.txt"), QStringLiteral("out.kry"), QStringLiteral("pw"), 0, 0);
      QTest::mouseClick(child<QToolButton>(w, "EncryptBtn"), Qt::LeftButton);
      QVERIFY(!w.JobRunning());
      QVERIFY2(w.CauseText().contains(QStringLiteral("not a full path")),
               qPrintable(w.CauseText()));
      QCOMPARE(QDir(work.path()).entryList(QDir::Files), QStringList{"in.txt"});

      // The same file under two names: refused, and no replace question first.
      const QString same = home.filePath(QStringLiteral("in.txt"));
      fill(w, same, home.filePath(QStringLiteral(".")) + QStringLiteral("/in.txt"),
           QStringLiteral("pw"), 0, 0);
      auto asked = whenModal(&w, [](QWidget* box) { QMetaObject::invokeMethod(box, "reject"); });
      QTest::mouseClick(child<QToolButton>(w, "EncryptBtn"), Qt::LeftButton);
      QTest::qWait(400);
      QVERIFY(!*asked);
      QVERIFY(!w.JobRunning());
      QVERIFY2(w.CauseText().contains(QStringLiteral("the target is the source")),
               qPrintable(w.CauseText()));
      QCOMPARE(readFile(same), QByteArray("from home"));
    }
  }

  // The dialogs show sizes and dates: the detail view, and room for its columns. Opening one
  // is a new action: the last failure's cause goes.
  void browseDialogsShowDetails() {
    QTemporaryDir dir;
    MainWindow w;
    w.show();
    child<QLineEdit>(w, "FileEdt")->setText(dir.filePath(QStringLiteral("nope.txt")));
    child<QLineEdit>(w, "TargetEdt")->setText(dir.filePath(QStringLiteral("out.bin")));
    runJob(w, "DecryptBtn");
    QVERIFY(!w.CauseText().isEmpty());
    for (const char* field : {"FileEdt", "TargetEdt"}) {
      int width = 0;
      QFileDialog::ViewMode mode = QFileDialog::List;
      QString causeMeanwhile = QStringLiteral("unset");
      auto seen = whenModal(&w, [&](QWidget* dialog) {
        auto* files = qobject_cast<QFileDialog*>(dialog);
        QVERIFY(files != nullptr);
        width = files->width();
        mode = files->viewMode();
        causeMeanwhile = w.CauseText();
        QMetaObject::invokeMethod(dialog, "reject");
      });
      w.findChild<QAction*>(QString::fromLatin1(field) + QStringLiteral("Browse"))->trigger();
      QVERIFY(*seen);
      QVERIFY2(width >= 700, qPrintable(QString::number(width)));
      QCOMPARE(mode, QFileDialog::Detail);
      QVERIFY(causeMeanwhile.isEmpty());
    }
  }

  // A right decryption whose result is itself encrypted (again under the same passphrase, or an
  // age or OpenPGP file) is no false alarm: the source goes as asked, no notice.
  void encryptedContentIsNoFalseAlarm() {
    QTemporaryDir dir;
    MainWindow w;
    w.show();
    const QByteArray once = sealLetter(w, dir, QStringLiteral("correct horse"), 13, 6);
    QVERIFY(!once.isEmpty());
    QByteArray age =
        "age-encryption.org/v1\n-> scrypt c2FsdHNhbHRzYWx0c2FsdA 18\n"
        "ZmlsZWtleWZpbGVrZXlmaWxla2V5ZmlsZWtleQ\n--- bWFjbWFjbWFjbWFjbWFjbWFj\n";
    for (int i = 0; i < 3000; ++i) age += char((i * 7919 + 13) ^ (i >> 3) * 31);
    const struct {
      const char* name;
      QByteArray content;
    } cases[] = {{"twice.kry", once}, {"age.age", age}};
    for (const auto& c : cases) {
      const QString plain = dir.filePath(QString::fromLatin1(c.name));
      writeFile(plain, c.content);
      const QString sealed = plain + QStringLiteral(".kry");
      fill(w, plain, sealed, QStringLiteral("correct horse"), 13, 6);
      runJob(w, "EncryptBtn");
      QCOMPARE(w.StatusText(), QStringLiteral("Last action: File encrypted successfully"));
      const QString back = plain + QStringLiteral(".back");
      fill(w, sealed, back, QStringLiteral("correct horse"), 13, 6, true);
      runJob(w, "DecryptBtn");
      QCOMPARE(w.StatusText(), QStringLiteral("Last action: File decrypted successfully"));
      QVERIFY2(w.CauseText().isEmpty(), qPrintable(w.CauseText()));
      QVERIFY(!QFile::exists(sealed));
      QCOMPARE(readFile(back), c.content);
      QVERIFY(w.findChild<QMessageBox*>(QStringLiteral("WrongKeyNotice")) == nullptr);
    }
  }

  // The notice after a random-looking result removes it on request; the source stays.
  void noticeRemovesTheUnreadableResult() {
    QTemporaryDir dir;
    MainWindow w;
    w.show();
    QVERIFY(!sealLetter(w, dir, QStringLiteral("correct horse"), 5, 2).isEmpty());
    const QString source = dir.filePath(QStringLiteral("letter.kry"));
    const QString target = dir.filePath(QStringLiteral("garbage.txt"));
    fill(w, source, target, QStringLiteral("wrong horse"), 5, 2);
    runJob(w, "DecryptBtn");
    QVERIFY(QFile::exists(target));
    auto* notice = w.findChild<QMessageBox*>(QStringLiteral("WrongKeyNotice"));
    QVERIFY(notice != nullptr);
    QVERIFY2(
        notice->text().contains(QStringLiteral("or the file was itself encrypted or compressed")),
        qPrintable(notice->text()));
    auto* remove = notice->findChild<QPushButton*>(QStringLiteral("NoticeRemove"));
    QVERIFY(remove != nullptr);
    remove->click();
    QVERIFY(!QFile::exists(target));
    QVERIFY(QFile::exists(source));
    QVERIFY2(w.CauseText().contains(QStringLiteral("removed")), qPrintable(w.CauseText()));
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"

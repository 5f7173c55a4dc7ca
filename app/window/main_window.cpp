#include "app/window/main_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCompleter>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPalette>
#include <QProgressBar>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include "app/catalogue.h"
#include "app/file_job.h"
#include "app/window/about_box.h"
#include "app/window/job_runner.h"
#include "app/window/status_texts.h"

// Resources of a static library are registered by hand, once, outside any namespace.
static void InitWindowResources() {
  static const bool done = [] {
    Q_INIT_RESOURCE(icons);
    return true;
  }();
  (void)done;
}

namespace kryvane {
namespace {

constexpr QColor kLabelColour(2, 48, 68);

QString Status(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

template <class W>
W* Place(QWidget* parent, const char* name, QRect geometry) {
  auto* w = new W(parent);
  w->setObjectName(QString::fromLatin1(name));
  w->setGeometry(geometry);
  return w;
}

QFrame* Bevel(QWidget* parent, const char* name, QRect geometry) {
  auto* f = Place<QFrame>(parent, name, geometry);
  f->setFrameStyle(QFrame::Box | QFrame::Sunken);  // etched
  return f;
}

QLabel* Label(QWidget* parent, const char* name, const char* text, QRect geometry) {
  auto* l = Place<QLabel>(parent, name, geometry);
  l->setText(QString::fromLatin1(text));
  QPalette p = l->palette();
  p.setColor(QPalette::WindowText, kLabelColour);
  l->setPalette(p);
  return l;
}

QToolButton* Button(QWidget* parent, const char* name, const char* text, const char* icon,
                    const char* tip, QRect geometry) {
  auto* b = Place<QToolButton>(parent, name, geometry);
  b->setText(QString::fromLatin1(text));
  b->setIcon(QIcon(QStringLiteral(":/icons/") + QString::fromLatin1(icon)));
  b->setIconSize(QSize(32, 32));
  b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  b->setToolTip(QString::fromLatin1(tip));
  b->setFocusPolicy(Qt::StrongFocus);
  b->setAutoRaise(false);
  return b;
}

void BlackOnWhite(QWidget* w) {
  QPalette p = w->palette();
  p.setColor(QPalette::Text, Qt::black);
  p.setColor(QPalette::Base, Qt::white);
  w->setPalette(p);
}

QComboBox* Menu(QWidget* parent, const char* name, const char* tip, QRect geometry,
                const QStringList& entries) {
  auto* c = Place<QComboBox>(parent, name, geometry);
  c->setEditable(true);
  c->setInsertPolicy(QComboBox::NoInsert);
  c->addItems(entries);
  c->setMaxVisibleItems(16);
  c->setCurrentIndex(0);
  c->completer()->setCompletionMode(QCompleter::InlineCompletion);
  c->completer()->setCaseSensitivity(Qt::CaseInsensitive);
  c->setToolTip(QString::fromLatin1(tip));
  BlackOnWhite(c);
  return c;
}

// Paths go to the job in the file system's own encoding.
std::string LocalPath(const QString& path) {
  return QFile::encodeName(path).toStdString();
}

// The entry whose text is displayed; an edited text that matches no entry selects none (-1).
int SelectedPosition(const QComboBox* menu) {
  return menu->findText(menu->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
}

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QWidget(parent) {
  InitWindowResources();
  setObjectName(QStringLiteral("MainWindow"));
  setWindowTitle(QStringLiteral("Kryvane 2.0"));
  setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(528, 385);
  setAcceptDrops(true);
  QFont font;
  // Liberation Sans keeps Arial's metrics, close enough to Tahoma for the fixed layout; a machine
  // with neither uses its sans-serif.
  font.setFamilies(
      {QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
  font.setPixelSize(11);
  font.setStyleHint(QFont::SansSerif);
  setFont(font);
  BuildControls();
  about_ = new AboutBox(this);
  about_->hide();
  runner_ = new JobRunner(this);
  connect(runner_, &JobRunner::Progress, progress_, &QProgressBar::setValue);
  connect(runner_, &JobRunner::Finished, this, &MainWindow::OnJobDone);
  // FormCreate
  SetStatus(Status(kStatusStarted));
  FileEdt_->setFocus();
}

// The runner is a child: it stops and waits for a running job before the widgets go.
MainWindow::~MainWindow() = default;

bool MainWindow::JobRunning() const {
  return runner_->Running();
}

void MainWindow::BuildControls() {
  sBevel1_ = Bevel(this, "sBevel1", {8, 8, 512, 105});
  sBevel2_ = Bevel(this, "sBevel2", {8, 120, 512, 109});
  sLabel1_ = Label(this, "sLabel1", "Select source file:", {20, 14, 85, 13});
  sLabel2_ = Label(this, "sLabel2", "Create target file:", {20, 55, 87, 13});
  sLabel3_ = Label(this, "sLabel3", "Enter passphrase:", {20, 127, 88, 13});
  sLabel4_ = Label(this, "sLabel4", "Retype passphrase:", {20, 168, 97, 13});
  sBevel3_ = Bevel(this, "sBevel3", {8, 236, 512, 55});
  sLabel5_ = Label(this, "sLabel5", "Select encryption cipher:", {20, 245, 119, 13});
  sLabel6_ = Label(this, "sLabel6", "Select hash Algorithm", {329, 245, 103, 13});
  // Labels size themselves to their text, as the original's did; the widths above are what the
  // text measures in Tahoma.
  for (QLabel* l : {sLabel1_, sLabel2_, sLabel3_, sLabel4_, sLabel5_, sLabel6_}) {
    l->resize(std::max(l->width(), l->sizeHint().width()), l->height());
  }

  EncryptBtn_ =
      Button(this, "EncryptBtn", "Encrypt", "encrypt.svg", "Execute encryption", {8, 299, 95, 59});
  QStringList ciphers, hashes;
  for (const CipherEntry& e : CipherCatalogue()) ciphers << QString::fromLatin1(e.menuText);
  for (const HashEntry& e : HashCatalogue()) hashes << QString::fromLatin1(e.menuText);
  ComboBox1_ = Menu(this, "ComboBox1", "Select a Cipher, must remeber which cipher to decrypt",
                    {20, 259, 241, 21}, ciphers);

  FileEdt_ = Place<QLineEdit>(this, "FileEdt", {20, 31, 486, 21});
  FileEdt_->setMaxLength(255);
  FileEdt_->setToolTip(QStringLiteral("Browse for a source file to encrypt or decrypt"));
  auto* browseSource = FileEdt_->addAction(style()->standardIcon(QStyle::SP_DirOpenIcon),
                                           QLineEdit::TrailingPosition);
  browseSource->setObjectName(QStringLiteral("FileEdtBrowse"));
  connect(browseSource, &QAction::triggered, this, &MainWindow::BrowseSource);

  TargetEdt_ = Place<QLineEdit>(this, "TargetEdt", {20, 70, 486, 21});
  TargetEdt_->setMaxLength(255);
  TargetEdt_->setToolTip(QStringLiteral("Browse to create the encrypted or decrypted target file"));
  auto* browseTarget = TargetEdt_->addAction(style()->standardIcon(QStyle::SP_DialogSaveButton),
                                             QLineEdit::TrailingPosition);
  browseTarget->setObjectName(QStringLiteral("TargetEdtBrowse"));
  connect(browseTarget, &QAction::triggered, this, &MainWindow::BrowseTarget);

  ComboBox2_ = Menu(this, "ComboBox2", "Select the hash, must remember which hash to decrypt",
                    {329, 259, 177, 21}, hashes);

  sStatusBar1_ = Place<QStatusBar>(this, "sStatusBar1", {0, 366, 528, 19});
  sStatusBar1_->setSizeGripEnabled(false);
  statusLabel_ = new QLabel(sStatusBar1_);
  statusLabel_->setObjectName(QStringLiteral("StatusText"));
  sStatusBar1_->addWidget(statusLabel_, 1);
  progress_ = new QProgressBar(sStatusBar1_);
  progress_->setObjectName(QStringLiteral("JobProgress"));
  progress_->setRange(0, 1000);
  progress_->setMaximumWidth(160);
  progress_->setMaximumHeight(15);
  progress_->setTextVisible(false);
  sStatusBar1_->addPermanentWidget(progress_);
  progress_->hide();
  cancelBtn_ = new QToolButton(sStatusBar1_);
  cancelBtn_->setObjectName(QStringLiteral("CancelBtn"));
  cancelBtn_->setText(QStringLiteral("Cancel"));
  cancelBtn_->setToolTip(QStringLiteral("Stop the running job; nothing is written"));
  cancelBtn_->setMaximumHeight(17);
  sStatusBar1_->addPermanentWidget(cancelBtn_);
  cancelBtn_->hide();
  connect(cancelBtn_, &QToolButton::clicked, this, &MainWindow::CancelJob);
  progressDelay_ = new QTimer(this);
  progressDelay_->setSingleShot(true);
  progressDelay_->setInterval(400);
  connect(progressDelay_, &QTimer::timeout, this, [this] {
    if (!JobRunning()) return;
    progress_->show();
    cancelBtn_->show();
  });

  PhraseEdt_ = Place<QLineEdit>(this, "PhraseEdt", {20, 144, 486, 21});
  PhraseEdt_->setMaxLength(80);
  PhraseEdt_->setToolTip(
      QStringLiteral("Enter a secret passphrase\nMust remember it to decrypt an encrypted file"));
  RPhraseEdt_ = Place<QLineEdit>(this, "RPhraseEdt", {20, 184, 486, 21});
  RPhraseEdt_->setMaxLength(80);
  RPhraseEdt_->setToolTip(QStringLiteral("Retype the secret passphrase"));
  for (QLineEdit* e : {FileEdt_, TargetEdt_, PhraseEdt_, RPhraseEdt_}) BlackOnWhite(e);
  for (QLineEdit* e : {PhraseEdt_, RPhraseEdt_}) {
    e->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));  // masked with "*"
  }

  sCheckBox1_ = Place<QCheckBox>(this, "sCheckBox1", {20, 206, 161, 20});
  sCheckBox1_->setText(QStringLiteral("Hide passphrase characters"));
  sCheckBox1_->setToolTip(QStringLiteral("Check to show asterisk and hide the passphrase"));
  sCheckBox1_->setChecked(true);
  connect(sCheckBox1_, &QCheckBox::stateChanged, this, &MainWindow::sCheckBox1Click);
  sCheckBox1Click();

  sCheckBox2_ = Place<QCheckBox>(this, "sCheckBox2", {20, 91, 192, 20});
  sCheckBox2_->setText(QStringLiteral("Delete source file after processing"));
  sCheckBox2_->setToolTip(QStringLiteral("Check to delete the source file after processing"));

  DecryptBtn_ = Button(this, "DecryptBtn", "Decrypt", "decrypt.svg", "Execute decryption",
                       {112, 299, 95, 59});
  ClearBtn_ =
      Button(this, "ClearBtn", "Clear fields", "clear.svg", "Clear all fields", {217, 299, 95, 59});
  AboutBtn_ =
      Button(this, "AboutBtn", "About", "about.svg", "About Kryvane 2.0", {321, 299, 95, 59});
  CloseBtn_ = Button(this, "CloseBtn", "Close", "close.svg", "Exit Kryvane", {425, 299, 95, 59});

  sCheckBox3_ = Place<QCheckBox>(this, "sCheckBox3", {310, 206, 201, 20});
  sCheckBox3_->setText(QStringLiteral("Save encryption settings for this file"));
  sCheckBox3_->setToolTip(
      QStringLiteral("Check to save the passphrase,and the selcted cipher and hash to a file\n"
                     "It saved as filename+setting.txt"));

  // Frames, labels and the status bar take no focus.
  for (QWidget* w :
       std::initializer_list<QWidget*>{sBevel1_, sBevel2_, sBevel3_, sLabel1_, sLabel2_, sLabel3_,
                                       sLabel4_, sLabel5_, sLabel6_, sStatusBar1_, statusLabel_}) {
    w->setFocusPolicy(Qt::NoFocus);
  }
  const QWidget* order[] = {EncryptBtn_, ComboBox1_,  FileEdt_,    TargetEdt_,  ComboBox2_,
                            PhraseEdt_,  RPhraseEdt_, sCheckBox1_, sCheckBox2_, DecryptBtn_,
                            ClearBtn_,   AboutBtn_,   CloseBtn_,   sCheckBox3_};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
    setTabOrder(const_cast<QWidget*>(order[i]), const_cast<QWidget*>(order[i + 1]));
  }
  setTabOrder(sCheckBox3_, EncryptBtn_);

  connect(EncryptBtn_, &QToolButton::clicked, this, &MainWindow::EncryptBtnClick);
  connect(DecryptBtn_, &QToolButton::clicked, this, &MainWindow::DecryptBtnClick);
  connect(ClearBtn_, &QToolButton::clicked, this, &MainWindow::ClearBtnClick);
  connect(AboutBtn_, &QToolButton::clicked, this, &MainWindow::AboutBtnClick);
  connect(CloseBtn_, &QToolButton::clicked, this, &MainWindow::CloseBtnClick);
}

QString MainWindow::StatusText() const {
  return statusLabel_->text();
}

void MainWindow::SetStatus(const QString& text) {
  statusLabel_->setText(text);
  statusLabel_->setToolTip(QString());  // a failure's cause belongs to that failure only
}

void MainWindow::sCheckBox1Click() {
  const auto mode = sCheckBox1_->isChecked() ? QLineEdit::Password : QLineEdit::Normal;
  PhraseEdt_->setEchoMode(mode);
  RPhraseEdt_->setEchoMode(mode);
}

void MainWindow::ClearFields() {
  FileEdt_->clear();
  TargetEdt_->clear();
  sCheckBox2_->setChecked(false);
  sCheckBox1_->setChecked(true);
  sCheckBox1Click();  // runs even when the box was already checked
  sCheckBox3_->setChecked(false);
  PhraseEdt_->clear();
  RPhraseEdt_->clear();
  ComboBox1_->setCurrentIndex(0);
  ComboBox2_->setCurrentIndex(0);
  ComboBox1_->setEditText(ComboBox1_->itemText(0));
  ComboBox2_->setEditText(ComboBox2_->itemText(0));
  FileEdt_->setFocus();
  SetStatus(Status(kStatusCleared));
}

void MainWindow::ClearBtnClick() {
  ClearFields();
}

void MainWindow::AboutBtnClick() {
  about_->exec();
  FileEdt_->setFocus();
  SetStatus(Status(kStatusAbout));
}

void MainWindow::CloseBtnClick() {
  close();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (JobRunning()) {
    // Stop the job first: it removes its partial target, then the window closes.
    closeAfterJob_ = true;
    CancelJob();
    event->ignore();
    return;
  }
  about_->close();
  event->accept();
}

void MainWindow::EncryptBtnClick() {
  RunJob(true);
}
void MainWindow::DecryptBtnClick() {
  RunJob(false);
}

void MainWindow::CancelJob() {
  runner_->Cancel();
}

void MainWindow::SetBusy(bool busy) {
  for (QWidget* w : std::initializer_list<QWidget*>{
           EncryptBtn_, DecryptBtn_, ClearBtn_, AboutBtn_, FileEdt_, TargetEdt_, PhraseEdt_,
           RPhraseEdt_, ComboBox1_, ComboBox2_, sCheckBox1_, sCheckBox2_, sCheckBox3_}) {
    w->setEnabled(!busy);
  }
  if (busy) {
    progress_->setValue(0);
    progressDelay_->start();
  } else {
    progressDelay_->stop();
    progress_->hide();
    cancelBtn_->hide();
  }
}

void MainWindow::RunJob(bool encrypt) {
  if (JobRunning()) return;
  JobRequest request;
  request.direction = encrypt ? JobDirection::kEncrypt : JobDirection::kDecrypt;
  request.sourcePath = LocalPath(FileEdt_->text());
  request.targetPath = LocalPath(TargetEdt_->text());
  request.passphrase = PhraseEdt_->text().toStdString();
  request.retypedPassphrase = RPhraseEdt_->text().toStdString();
  if (const int c = SelectedPosition(ComboBox1_); c >= 0) request.cipherPosition = c;
  if (const int h = SelectedPosition(ComboBox2_); h >= 0) request.hashPosition = h;
  request.cipherMenuText = ComboBox1_->currentText().toStdString();
  request.hashMenuText = ComboBox2_->currentText().toStdString();
  request.deleteSource = sCheckBox2_->isChecked();
  request.saveSettings = encrypt && sCheckBox3_->isChecked();
  if (request.passphrase != request.retypedPassphrase) {
    SetStatus(Status(kStatusMismatch));
    return;
  }
  SetBusy(true);
  runner_->Start(std::move(request));
}

void MainWindow::OnJobDone(const JobOutcome& outcome) {
  SetBusy(false);
  if (outcome.Succeeded()) {
    ClearFields();
  }
  SetStatus(Status(outcome.statusText));
  // The status text stays fixed; the cause is there for the pointer to find.
  if (outcome.error) statusLabel_->setToolTip(QString::fromStdString(outcome.error->Describe()));
  emit JobFinished();
  if (closeAfterJob_) close();
}

void MainWindow::BrowseSource() {
  QString start = FileEdt_->text().isEmpty() ? browseFolder_ : FileEdt_->text();
  const QString chosen =
      QFileDialog::getOpenFileName(this, QString(), start, QStringLiteral("All files (*)"), nullptr,
                                   QFileDialog::DontUseNativeDialog | QFileDialog::ReadOnly);
  if (!chosen.isEmpty()) {
    FileEdt_->setText(chosen);
    browseFolder_ = QFileInfo(chosen).absolutePath();
  }
  FileEdt_->setFocus();
}

void MainWindow::BrowseTarget() {
  QString start = TargetEdt_->text().isEmpty() ? browseFolder_ : TargetEdt_->text();
  const QString chosen = QFileDialog::getSaveFileName(
      this, QString(), start, QStringLiteral("All files (*)"), nullptr,
      QFileDialog::DontUseNativeDialog | QFileDialog::DontConfirmOverwrite);
  if (!chosen.isEmpty()) {
    TargetEdt_->setText(chosen);
    browseFolder_ = QFileInfo(chosen).absolutePath();
  }
  TargetEdt_->setFocus();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls() && !JobRunning()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (!urls.isEmpty() && urls.first().isLocalFile()) {
    FileEdt_->setText(urls.first().toLocalFile());
    event->acceptProposedAction();
  }
}

}  // namespace kryvane

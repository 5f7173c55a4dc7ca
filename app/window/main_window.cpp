#include "app/window/main_window.h"

#include <sys/stat.h>

#include <QAccessible>
#include <QAction>
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
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <cerrno>
#include <cstring>
#include <utility>

#include "app/base/text_util.h"
#include "app/catalogue.h"
#include "app/file_job.h"
#include "app/identify.h"
#include "app/passphrase.h"
#include "app/window/about_box.h"
#include "app/window/job_runner.h"
#include "app/window/recover_dialog.h"
#include "app/window/skin.h"
#include "app/window/status_texts.h"
#include "crypto/bytes.h"

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

// A file name, or a line that holds one, as kryvane-cli shows it: control characters and
// bidirectional overrides escaped, so that a name cannot show itself as another.
QString Escaped(const QString& text) {
  return QString::fromStdString(EscapeControls(text.toStdString()));
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

// The file fields refuse typing beyond 255 characters, as the Windows program's did; a path that
// arrives whole (a paste, a drop, a dialog) stays whole, however long, since a cut path names
// another file. The passphrase fields refuse typing beyond 80 characters and cut a longer paste to
// its first 80, as the Windows program's did, so that the same paste keys the same file; the
// window says so.
constexpr int kTypedPathLimit = 255;
constexpr int kPhraseLimit = static_cast<int>(kWindowsPhraseLength);
// The field's own limit stays out of the way: a field cuts what goes over it without a word.
constexpr int kFieldCapacity = 32767;

int TypingLimit(const QLineEdit* field) {
  return field->property("typingLimit").toInt();
}

// Whether a key press would type past the field's limit (a paste with Ctrl+V is no typing).
bool TypesPastLimit(const QLineEdit* field, const QKeyEvent* key) {
  const int limit = TypingLimit(field);
  if (limit <= 0 || key->text().isEmpty() || !key->text().at(0).isPrint()) return false;
  if (key->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) return false;
  return field->text().size() - field->selectedText().size() + key->text().size() > limit;
}

void SetPath(QLineEdit* field, const QString& path) {
  field->setText(path);
}

// The passphrase's UTF-8 bytes go into the request; the one temporary copy is erased.
void SetSecret(Secret& into, const QString& text) {
  QByteArray utf8 = text.toUtf8();
  into = std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size()));
  SecureZero(utf8.data(), static_cast<std::size_t>(utf8.size()));
}

QString LabelName(const QLabel* label) {
  QString name = label->text();
  if (name.endsWith(QLatin1Char(':'))) name.chop(1);
  return name;
}

// The entry whose text is displayed; an edited text that matches no entry selects none (-1).
int SelectedPosition(const QComboBox* menu) {
  return menu->findText(menu->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
}

}  // namespace

MainWindow::MainWindow(QWidget* parent) : MainWindow(&MainWindow::RunSelfTests, parent) {}

MainWindow::MainWindow(SelfTest selfTest, QWidget* parent) : QWidget(parent) {
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
  ApplySkin(this);
  about_ = new AboutBox(this);
  about_->hide();
  runner_ = new JobRunner(this);
  connect(runner_, &JobRunner::Progress, progress_, &QProgressBar::setValue);
  connect(runner_, &JobRunner::Finished, this, &MainWindow::OnJobDone);
  connect(runner_, &JobRunner::Identified, this, &MainWindow::OnIdentified);
  // FormCreate
  SetStatus(Status(kStatusStarted));
  failedSelfTests_ = selfTest();
  SetBusy(false);
  if (!failedSelfTests_.isEmpty()) {
    ShowCause(QStringLiteral("Self-test failed: %1. Encrypt and Decrypt are disabled.")
                  .arg(failedSelfTests_.join(QStringLiteral(", "))));
    Announce(causeLabel_, QAccessible::Alert);
  }
  FileEdt_->setFocus();
}

// The runner is a child: it stops and waits for a running job before the widgets go.
MainWindow::~MainWindow() = default;

QStringList MainWindow::RunSelfTests() {
  QStringList failed;
  for (const CipherEntry& e : CipherCatalogue()) {
    if (!e.cipher.SelfTest()) failed << Status(e.cipher.algorithm);
  }
  for (const HashEntry& e : HashCatalogue()) {
    if (!e.hash.SelfTest()) failed << Status(e.hash.algorithm);
  }
  return failed;
}

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

  // The ampersands give Alt+E, Alt+D, Alt+L, Alt+A and Alt+C; the texts show without them.
  EncryptBtn_ =
      Button(this, "EncryptBtn", "&Encrypt", "encrypt.svg", "Execute encryption", {8, 299, 95, 59});
  QStringList ciphers, hashes;
  for (const CipherEntry& e : CipherCatalogue()) ciphers << QString::fromLatin1(e.menuText);
  for (const HashEntry& e : HashCatalogue()) hashes << QString::fromLatin1(e.menuText);
  ComboBox1_ = Menu(this, "ComboBox1", "Select a Cipher, must remeber which cipher to decrypt",
                    {20, 259, 241, 21}, ciphers);

  // The browse buttons inside the fields answer F4 and Alt+Down while their field has the focus.
  const QList<QKeySequence> browseKeys{QKeySequence(Qt::Key_F4),
                                       QKeySequence(Qt::ALT | Qt::Key_Down)};
  FileEdt_ = Place<QLineEdit>(this, "FileEdt", {20, 31, 486, 21});
  FileEdt_->setToolTip(QStringLiteral("Browse for a source file to encrypt or decrypt"));
  auto* browseSource = FileEdt_->addAction(style()->standardIcon(QStyle::SP_DirOpenIcon),
                                           QLineEdit::TrailingPosition);
  browseSource->setObjectName(QStringLiteral("FileEdtBrowse"));
  browseSource->setText(QStringLiteral("Browse for the source file"));
  browseSource->setToolTip(QStringLiteral("Browse for the source file (F4)"));
  browseSource->setShortcuts(browseKeys);
  browseSource->setShortcutContext(Qt::WidgetShortcut);
  connect(browseSource, &QAction::triggered, this, &MainWindow::BrowseSource);

  TargetEdt_ = Place<QLineEdit>(this, "TargetEdt", {20, 70, 486, 21});
  TargetEdt_->setToolTip(QStringLiteral("Browse to create the encrypted or decrypted target file"));
  auto* browseTarget = TargetEdt_->addAction(style()->standardIcon(QStyle::SP_DialogSaveButton),
                                             QLineEdit::TrailingPosition);
  browseTarget->setObjectName(QStringLiteral("TargetEdtBrowse"));
  browseTarget->setText(QStringLiteral("Browse for the target file"));
  browseTarget->setToolTip(QStringLiteral("Browse for the target file (F4)"));
  browseTarget->setShortcuts(browseKeys);
  browseTarget->setShortcutContext(Qt::WidgetShortcut);
  connect(browseTarget, &QAction::triggered, this, &MainWindow::BrowseTarget);
  // A typed target has not been confirmed by the save dialog.
  connect(TargetEdt_, &QLineEdit::textEdited, this, [this] { confirmedTarget_.clear(); });

  ComboBox2_ = Menu(this, "ComboBox2", "Select the hash, must remember which hash to decrypt",
                    {329, 259, 177, 21}, hashes);

  sStatusBar1_ = Place<QStatusBar>(this, "sStatusBar1", {0, 366, 528, 19});
  sStatusBar1_->setSizeGripEnabled(false);
  sStatusBar1_->setAccessibleName(QStringLiteral("Status"));
  statusLabel_ = new QLabel(sStatusBar1_);
  statusLabel_->setObjectName(QStringLiteral("StatusText"));
  // No accessible names of their own: a screen reader reads the labels' current words, and hears
  // of every change.
  sStatusBar1_->addWidget(statusLabel_);
  // The cause of a failure, where it is seen; the fixed status text stays beside it.
  causeLabel_ = new QLabel(sStatusBar1_);
  causeLabel_->setObjectName(QStringLiteral("StatusCause"));
  causeLabel_->setMinimumWidth(40);
  sStatusBar1_->addWidget(causeLabel_, 1);
  progress_ = new QProgressBar(sStatusBar1_);
  progress_->setObjectName(QStringLiteral("JobProgress"));
  progress_->setAccessibleName(QStringLiteral("Job progress"));
  progress_->setRange(0, 1000);
  progress_->setMaximumWidth(120);
  progress_->setMaximumHeight(15);
  progress_->setTextVisible(true);
  progress_->setFormat(QStringLiteral("%p%"));
  // Where the focus waits while a job runs: one move there, none through the disabled controls,
  // and a Space or Return then presses nothing.
  progress_->setFocusPolicy(Qt::StrongFocus);
  sStatusBar1_->addPermanentWidget(progress_);
  progress_->hide();
  cancelBtn_ = new QToolButton(sStatusBar1_);
  cancelBtn_->setObjectName(QStringLiteral("CancelBtn"));
  cancelBtn_->setText(QStringLiteral("Cancel"));
  cancelBtn_->setToolTip(QStringLiteral("Stop the running job; nothing is written (Esc)"));
  cancelBtn_->setMaximumHeight(17);
  sStatusBar1_->addPermanentWidget(cancelBtn_);
  cancelBtn_->hide();
  connect(cancelBtn_, &QToolButton::clicked, this, &MainWindow::CancelJob);
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, &MainWindow::CancelJob);

  PhraseEdt_ = Place<QLineEdit>(this, "PhraseEdt", {20, 144, 486, 21});
  PhraseEdt_->setToolTip(
      QStringLiteral("Enter a secret passphrase\nMust remember it to decrypt an encrypted file"));
  RPhraseEdt_ = Place<QLineEdit>(this, "RPhraseEdt", {20, 184, 486, 21});
  RPhraseEdt_->setToolTip(QStringLiteral("Retype the secret passphrase"));
  for (QLineEdit* e : {FileEdt_, TargetEdt_, PhraseEdt_, RPhraseEdt_}) {
    BlackOnWhite(e);
    e->setMaxLength(kFieldCapacity);
    e->setProperty("typingLimit",
                   e == FileEdt_ || e == TargetEdt_ ? kTypedPathLimit : kPhraseLimit);
    e->installEventFilter(this);
  }
  for (QLineEdit* e : {PhraseEdt_, RPhraseEdt_}) {
    connect(e, &QLineEdit::textChanged, this, [this, e](const QString& text) {
      if (text.size() <= kPhraseLimit) return;
      e->setText(text.left(kPhraseLimit));
      ShowCause(
          QStringLiteral("Passphrase cut to its first 80 characters, as the Windows "
                         "program did"));
    });
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

  DecryptBtn_ = Button(this, "DecryptBtn", "&Decrypt", "decrypt.svg", "Execute decryption",
                       {112, 299, 95, 59});
  // The search for a forgotten cipher and hash sits behind Decrypt, so the layout stays as it is.
  findAction_ = new QAction(QStringLiteral("Find cipher and hash…"), this);
  findAction_->setObjectName(QStringLiteral("FindCipherAndHash"));
  findAction_->setToolTip(
      QStringLiteral("Decrypt the start of the source under every cipher and hash, and select "
                     "the pair that gives a real file (Ctrl+F)"));
  findAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
  findAction_->setShortcutContext(Qt::WindowShortcut);
  addAction(findAction_);
  forgotAction_ = new QAction(QStringLiteral("Forgot the passphrase…"), this);
  forgotAction_->setObjectName(QStringLiteral("ForgotPassphrase"));
  forgotAction_->setToolTip(
      QStringLiteral("Search the passphrase of your own file among what you remember of it and "
                     "its near variants"));
  // Only a right click or the menu key opens it: a tool button holding actions would draw an
  // arrow and open them when held, and holding Decrypt must decrypt.
  DecryptBtn_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(DecryptBtn_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("DecryptMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(findAction_);
    menu->addAction(forgotAction_);
    menu->popup(DecryptBtn_->mapToGlobal(at));
  });
  connect(findAction_, &QAction::triggered, this, &MainWindow::FindCipherAndHash);
  connect(forgotAction_, &QAction::triggered, this, &MainWindow::ForgotPassphrase);
  ClearBtn_ = Button(this, "ClearBtn", "C&lear fields", "clear.svg", "Clear all fields",
                     {217, 299, 95, 59});
  AboutBtn_ =
      Button(this, "AboutBtn", "&About", "about.svg", "About Kryvane 2.0", {321, 299, 95, 59});
  CloseBtn_ = Button(this, "CloseBtn", "&Close", "close.svg", "Exit Kryvane", {425, 299, 95, 59});

  sCheckBox3_ = Place<QCheckBox>(this, "sCheckBox3", {310, 206, 201, 20});
  sCheckBox3_->setText(QStringLiteral("Save encryption settings for this file"));
  sCheckBox3_->setToolTip(
      QStringLiteral("Check to save the passphrase,and the selcted cipher and hash to a file\n"
                     "It saved as filename+setting.txt"));

  // Each label names its control, for the screen reader as for the eye.
  const std::pair<QLabel*, QWidget*> buddies[] = {{sLabel1_, FileEdt_},   {sLabel2_, TargetEdt_},
                                                  {sLabel3_, PhraseEdt_}, {sLabel4_, RPhraseEdt_},
                                                  {sLabel5_, ComboBox1_}, {sLabel6_, ComboBox2_}};
  for (const auto& [label, control] : buddies) {
    label->setBuddy(control);
    control->setAccessibleName(LabelName(label));
  }

  // Frames, labels and the status bar take no focus.
  for (QWidget* w : std::initializer_list<QWidget*>{
           sBevel1_, sBevel2_, sBevel3_, sLabel1_, sLabel2_, sLabel3_, sLabel4_, sLabel5_, sLabel6_,
           sStatusBar1_, statusLabel_, causeLabel_}) {
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

  // Return and Enter press a focused button; a file dropped on any field goes to the source.
  for (QToolButton* b : {EncryptBtn_, DecryptBtn_, ClearBtn_, AboutBtn_, CloseBtn_, cancelBtn_}) {
    b->installEventFilter(this);
  }
  for (QWidget* w : findChildren<QWidget*>()) {
    if (w->acceptDrops()) w->installEventFilter(this);
  }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress: {
      if (auto* field = qobject_cast<QLineEdit*>(watched)) {
        if (TypesPastLimit(field, static_cast<QKeyEvent*>(event))) return true;
        break;
      }
      auto* button = qobject_cast<QToolButton*>(watched);
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (button != nullptr && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
        if (button->isEnabled()) button->animateClick();
        return true;
      }
      break;
    }
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDragMoveEvent*>(event);
      if (!drag->mimeData()->hasUrls()) break;  // text dragged between fields stays text
      if (AcceptsDrag(drag->mimeData())) {
        drag->acceptProposedAction();
      } else {
        drag->ignore();
      }
      return true;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      if (!drop->mimeData()->hasUrls()) break;
      dropEvent(drop);
      return true;
    }
    default:
      break;
  }
  return QWidget::eventFilter(watched, event);
}

QString MainWindow::StatusText() const {
  return statusLabel_->text();
}

QString MainWindow::CauseText() const {
  return causeText_;
}

void MainWindow::SetStatus(const QString& text) {
  statusLabel_->setText(Escaped(text));
  // Its words are its accessible name; a screen reader hears of each change.
  Announce(statusLabel_, QAccessible::NameChanged);
  ShowCause(QString());  // a failure's cause belongs to that failure only
  if (text == Status(kStatusFailed) || text == Status(kStatusMismatch)) {
    Announce(statusLabel_, QAccessible::Alert);
  }
}

void MainWindow::ShowCause(const QString& text) {
  const QString cause = Escaped(text);
  causeText_ = cause;
  statusLabel_->setToolTip(cause);
  causeLabel_->setToolTip(cause);
  // The beginning shows, the whole text is in the tooltip and in what a screen reader reads.
  const int room = std::max(40, sStatusBar1_->width() - statusLabel_->sizeHint().width() - 24);
  causeLabel_->setText(causeLabel_->fontMetrics().elidedText(cause, Qt::ElideRight, room));
  causeLabel_->setAccessibleName(cause);
  if (!cause.isEmpty()) Announce(causeLabel_, QAccessible::NameChanged);
}

// Failures come as alerts, which interrupt a screen reader as a dialog would.
void MainWindow::Announce(QWidget* about, QAccessible::Event type) {
  QAccessibleEvent event(about, type);
  QAccessible::updateAccessibility(&event);
  emit Announced(about, type);
}

void MainWindow::Refuse(const QString& cause, QWidget* focus) {
  SetStatus(Status(kStatusFailed));
  ShowCause(cause);
  if (focus != nullptr) focus->setFocus();
}

void MainWindow::sCheckBox1Click() {
  const auto mode = sCheckBox1_->isChecked() ? QLineEdit::Password : QLineEdit::Normal;
  PhraseEdt_->setEchoMode(mode);
  RPhraseEdt_->setEchoMode(mode);
}

void MainWindow::ClearFields() {
  FileEdt_->clear();
  TargetEdt_->clear();
  confirmedTarget_.clear();
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
  const int finishedBefore = jobsFinished_;
  about_->exec();
  // A job may run on while the box is open; its progress or outcome stays in the status bar.
  if (JobRunning() || jobsFinished_ != finishedBefore) return;
  FileEdt_->setFocus();
  SetStatus(Status(kStatusAbout));
}

void MainWindow::CloseBtnClick() {
  close();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (JobRunning()) {
    event->ignore();
    if (closeAfterJob_) return;  // already stopping
    QMessageBox ask(QMessageBox::Question, windowTitle(),
                    QStringLiteral("A job is running. Stop it and close?"),
                    QMessageBox::Yes | QMessageBox::No, this);
    ask.setObjectName(QStringLiteral("CloseQuestion"));
    ask.setDefaultButton(QMessageBox::No);
    ask.setEscapeButton(QMessageBox::No);
    if (ask.exec() != QMessageBox::Yes) return;
    if (!JobRunning()) {  // it ended while the question was open
      close();
      return;
    }
    // The job removes its partial target as it stops; the window closes when it has.
    closeAfterJob_ = true;
    CancelJob();
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
  if (busy) {
    // The focus moves once, to the progress bar, before the controls it could walk through go.
    progress_->setValue(0);
    progress_->show();
    cancelBtn_->show();
    progress_->setFocus(Qt::OtherFocusReason);
  }
  // About stays usable while a job runs; Close asks first.
  for (QWidget* w : std::initializer_list<QWidget*>{ClearBtn_, FileEdt_, TargetEdt_, PhraseEdt_,
                                                    RPhraseEdt_, ComboBox1_, ComboBox2_,
                                                    sCheckBox1_, sCheckBox2_, sCheckBox3_}) {
    w->setEnabled(!busy);
  }
  // After a failed self-test the two stay disabled, and look it.
  const bool jobsAllowed = !busy && failedSelfTests_.isEmpty();
  EncryptBtn_->setEnabled(jobsAllowed);
  DecryptBtn_->setEnabled(jobsAllowed);
  findAction_->setEnabled(jobsAllowed);
  forgotAction_->setEnabled(jobsAllowed);
}

// "~" at the start means the home folder. A relative path is refused: the working folder of a
// program started from a menu is nothing the user chose.
QString MainWindow::ResolvedPath(QLineEdit* field) {
  QString path = field->text();
  if (path == QLatin1String("~") || path.startsWith(QLatin1String("~/"))) {
    path = QDir::homePath() + path.mid(1);
  }
  if (QDir::isRelativePath(path)) {
    Refuse(QStringLiteral("%1: %2 is not a full path; start it with / or ~/")
               .arg(field->accessibleName(), path),
           field);
    return {};
  }
  return path;
}

bool MainWindow::SameFile(const QString& source, const QString& target) {
  struct stat a {
  }, b{};
  if (::stat(QFile::encodeName(source).constData(), &a) != 0) return false;
  if (::stat(QFile::encodeName(target).constData(), &b) != 0) return false;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A file encrypted without a passphrase is barely encrypted: asked once, and every time the
// source is to be deleted as well.
bool MainWindow::ConfirmEmptyPassphrase() {
  if (!PhraseEdt_->text().isEmpty()) return true;
  const bool deleting = sCheckBox2_->isChecked();
  if (emptyPassphraseConfirmed_ && !deleting) return true;
  QMessageBox ask(QMessageBox::Question, windowTitle(),
                  deleting ? QStringLiteral("Encrypt without a passphrase?\n\nAnyone can decrypt "
                                            "the result, and the source file will be deleted.")
                           : QStringLiteral("Encrypt without a passphrase?\n\nAnyone can decrypt "
                                            "the result."),
                  QMessageBox::Yes | QMessageBox::No, this);
  ask.setObjectName(QStringLiteral("EmptyPassphraseQuestion"));
  ask.setDefaultButton(QMessageBox::No);
  ask.setEscapeButton(QMessageBox::No);
  if (ask.exec() != QMessageBox::Yes) return false;
  if (!deleting) emptyPassphraseConfirmed_ = true;
  return true;
}

bool MainWindow::ConfirmReplace(const QString& target) {
  const QFileInfo info(target);
  if (!info.exists() && !info.isSymLink()) return true;
  if (target == confirmedTarget_) return true;  // the save dialog asked already
  QMessageBox ask(
      QMessageBox::Question, windowTitle(),
      QStringLiteral("%1 already exists.\nDo you want to replace it?").arg(Escaped(target)),
      QMessageBox::Yes | QMessageBox::No, this);
  ask.setObjectName(QStringLiteral("ReplaceQuestion"));
  ask.setDefaultButton(QMessageBox::No);
  ask.setEscapeButton(QMessageBox::No);
  return ask.exec() == QMessageBox::Yes;
}

bool MainWindow::ReadyToRun(std::initializer_list<QLineEdit*> needed) {
  if (PhraseEdt_->text() != RPhraseEdt_->text()) {
    SetStatus(Status(kStatusMismatch));
    return false;
  }
  if (!failedSelfTests_.isEmpty()) {
    Refuse(QStringLiteral("Self-test failed: %1. Encrypt and Decrypt are disabled.")
               .arg(failedSelfTests_.join(QStringLiteral(", "))),
           nullptr);
    return false;
  }
  // Nothing is read or written for a job that names no file.
  for (QLineEdit* field : needed) {
    if (field->text().isEmpty()) {
      // The accessible name is the field's label.
      Refuse(QStringLiteral("%1: the field is empty").arg(field->accessibleName()), field);
      return false;
    }
  }
  return true;
}

void MainWindow::RunJob(bool encrypt) {
  if (JobRunning()) return;
  QWidget* pressed = qobject_cast<QWidget*>(sender());
  ShowCause(QString());  // the last action's cause is not this one's
  if (!ReadyToRun({FileEdt_, TargetEdt_})) return;
  const QString source = ResolvedPath(FileEdt_);
  const QString target = ResolvedPath(TargetEdt_);
  if (source.isEmpty() || target.isEmpty()) return;
  if (SameFile(source, target)) {
    Refuse(QStringLiteral("%1: the target is the source file; choose another target").arg(target),
           TargetEdt_);
    return;
  }
  // Asked only of a job that can run: a missing source says so first.
  if (encrypt && QFileInfo::exists(source) && !ConfirmEmptyPassphrase()) {
    PhraseEdt_->setFocus();
    return;
  }
  if (!ConfirmReplace(target)) {
    TargetEdt_->setFocus();
    return;
  }

  JobRequest request;
  request.direction = encrypt ? JobDirection::kEncrypt : JobDirection::kDecrypt;
  request.sourcePath = LocalPath(source);
  request.targetPath = LocalPath(target);
  SetSecret(request.passphrase, PhraseEdt_->text());
  SetSecret(request.retypedPassphrase, RPhraseEdt_->text());
  if (const int c = SelectedPosition(ComboBox1_); c >= 0) request.cipherPosition = c;
  if (const int h = SelectedPosition(ComboBox2_); h >= 0) request.hashPosition = h;
  request.cipherMenuText = ComboBox1_->currentText().toStdString();
  request.hashMenuText = ComboBox2_->currentText().toStdString();
  request.deleteSource = sCheckBox2_->isChecked();
  request.saveSettings = encrypt && sCheckBox3_->isChecked();

  // Disabling the focused control sends the focus elsewhere; it comes back when the job ends.
  focusBeforeJob_ = focusWidget() != nullptr ? focusWidget() : pressed;
  encryptRunning_ = encrypt;
  SetBusy(true);
  jobTarget_ = target;
  SetStatus((encrypt ? QStringLiteral("Encrypting %1…") : QStringLiteral("Decrypting %1…"))
                .arg(QFileInfo(source).fileName()));
  runner_->Start(std::move(request));
}

void MainWindow::OnJobDone(const JobOutcome& outcome) {
  ++jobsFinished_;
  const bool cancelled = runner_->CancelRequested() && !outcome.Succeeded();
  const bool encrypted = encryptRunning_;
  SetBusy(false);
  // A decryption into garbage is no success for the user: the fields stay, so that the
  // passphrase or the menus can be corrected (or searched) and the job run again.
  const bool garbage =
      outcome.Succeeded() &&
      (outcome.ResultLooksRandom() || (outcome.resultSuspect && outcome.warning &&
                                       outcome.warning->kind == JobErrorKind::kSourceKept));
  const bool cleared = outcome.Succeeded() && !garbage;
  if (cleared) ClearFields();
  if (garbage) {
    SetStatus(Status(outcome.statusText));
    const bool kept = outcome.warning && outcome.warning->kind == JobErrorKind::kSourceKept;
    const QString meaning =
        outcome.ResultLooksRandom()
            ? Status(kRandomResultMeaning)
            : QStringLiteral(
                  "the result is too short to tell from garbage: the passphrase, "
                  "cipher or hash is probably wrong");
    QString cause = meaning;
    cause[0] = cause[0].toUpper();
    ShowCause(cause + (kept ? QStringLiteral("; the source was kept") : QString()) +
              QStringLiteral(". Ctrl+F finds the cipher and hash."));
    Announce(causeLabel_, QAccessible::Alert);
    QString notice = QStringLiteral("%1: %2.").arg(Escaped(jobTarget_), meaning);
    if (kept) {
      notice += QStringLiteral("\n\nThe source file %1 was kept, not deleted.")
                    .arg(Escaped(QString::fromStdString(outcome.warning->file)));
    }
    notice += QStringLiteral(
        "\n\nTo search the cipher and hash that fit the passphrase, choose \"Find cipher and "
        "hash…\" from the Decrypt button's context menu, or press Ctrl+F.");
    ShowNotice(notice, jobTarget_);
  } else if (cancelled) {
    SetStatus(Status(kStatusCancelled));
  } else if (!outcome.Succeeded() && outcome.targetWritten && outcome.error) {
    // The target is complete and stays; only a later step failed (the settings file). The fields
    // stay too, so nothing typed is lost.
    SetStatus(Status(encrypted ? kStatusEncrypted : kStatusDecrypted));
    ShowCause(QStringLiteral("Target written, but %1")
                  .arg(QString::fromStdString(outcome.error->Describe())));
  } else {
    SetStatus(Status(outcome.statusText));
    if (outcome.error) {
      ShowCause(QString::fromStdString(outcome.error->Describe()));
    } else if (outcome.warning) {
      // A success with a leftover problem, such as a source that could not be deleted.
      ShowCause(
          QStringLiteral("Done, but %1").arg(QString::fromStdString(outcome.warning->Describe())));
    }
  }
  JobEnded(cleared);
}

// After a success the fields were cleared and the focus is in the source field, ready for the
// next file; otherwise it goes back where it was, to correct and run again.
void MainWindow::JobEnded(bool cleared) {
  if (!cleared && focusBeforeJob_ != nullptr && focusBeforeJob_->isEnabled()) {
    focusBeforeJob_->setFocus();
  }
  focusBeforeJob_.clear();
  progress_->hide();
  cancelBtn_->hide();
  emit JobFinished();
  if (closeAfterJob_) close();
}

// Not modal: the window stays usable, for the search the notice suggests.
void MainWindow::ShowNotice(const QString& text, const QString& result) {
  if (notice_ != nullptr) notice_->close();
  notice_ = new QMessageBox(QMessageBox::Warning, windowTitle(), text, QMessageBox::Ok, this);
  notice_->setObjectName(QStringLiteral("WrongKeyNotice"));
  notice_->setAttribute(Qt::WA_DeleteOnClose);
  notice_->setModal(false);
  // The unreadable result it wrote, removed on request; only that very file, not whatever took
  // its name since.
  struct stat written {};
  if (::lstat(QFile::encodeName(result).constData(), &written) == 0 && S_ISREG(written.st_mode)) {
    QPushButton* remove =
        notice_->addButton(QStringLiteral("Remove the result"), QMessageBox::DestructiveRole);
    remove->setObjectName(QStringLiteral("NoticeRemove"));
    connect(remove, &QPushButton::clicked, this, [this, result, written] {
      const QByteArray name = QFile::encodeName(result);
      struct stat now {};
      const bool same = ::lstat(name.constData(), &now) == 0 && now.st_dev == written.st_dev &&
                        now.st_ino == written.st_ino && now.st_size == written.st_size &&
                        now.st_mtim.tv_sec == written.st_mtim.tv_sec &&
                        now.st_mtim.tv_nsec == written.st_mtim.tv_nsec;
      if (same && ::unlink(name.constData()) == 0) {
        ShowCause(QStringLiteral("%1: removed").arg(result));
      } else {
        ShowCause(QStringLiteral("%1: not removed: %2")
                      .arg(result, same ? QString::fromLocal8Bit(std::strerror(errno))
                                        : QStringLiteral("the file changed since it was written")));
      }
    });
  }
  // The search it suggests, from the notice itself: a button, and Ctrl+F.
  QPushButton* find =
      notice_->addButton(QStringLiteral("Find cipher and hash…"), QMessageBox::ActionRole);
  find->setObjectName(QStringLiteral("NoticeFind"));
  connect(find, &QPushButton::clicked, this, &MainWindow::FindCipherAndHash);
  QPushButton* forgot =
      notice_->addButton(QStringLiteral("Forgot the passphrase…"), QMessageBox::ActionRole);
  forgot->setObjectName(QStringLiteral("NoticeForgot"));
  connect(forgot, &QPushButton::clicked, this, &MainWindow::ForgotPassphrase);
  notice_->addAction(findAction_);
  notice_->setDefaultButton(QMessageBox::Ok);
  notice_->setEscapeButton(QMessageBox::Ok);  // without one a message box refuses to close
  notice_->show();
}

void MainWindow::FindCipherAndHash() {
  if (JobRunning()) return;
  ShowCause(QString());
  if (!ReadyToRun({FileEdt_})) return;
  const QString source = ResolvedPath(FileEdt_);
  if (source.isEmpty()) return;
  if (notice_ != nullptr) notice_->close();
  std::vector<Secret> texts(1);
  SetSecret(texts[0], PhraseEdt_->text());
  // The first reading is the one the window keys with: Windows-1252 when the text fits it,
  // else UTF-8 (the only one then).
  std::vector<PassphraseReading> readings = PassphraseReadings(texts, PassphraseEncoding::kAuto);
  focusBeforeJob_ = focusWidget();
  SetBusy(true);
  SetStatus(QStringLiteral("Searching cipher and hash for %1…")
                .arg(QFileInfo(FileEdt_->text()).fileName()));
  runner_->StartIdentify(LocalPath(source), std::move(readings));
}

void MainWindow::OnIdentified(const Identification& found, const QString& error) {
  ++jobsFinished_;
  const bool cancelled = runner_->CancelRequested();
  SetBusy(false);
  const QString file = FileEdt_->text();
  const auto pairName = [](const Candidate& c) {
    return QStringLiteral("%1 with %2 (%3)")
        .arg(Status(c.cipher->cipher.algorithm), Status(c.hash->hash.algorithm),
             QString::fromStdString(c.plausibility.evidence));
  };
  if (!error.isEmpty()) {
    SetStatus(Status(kStatusFailed));
    ShowCause(error);
  } else if (cancelled || found.answer == IdentifyAnswer::kCancelled) {
    SetStatus(Status(kStatusCancelled));
  } else if (found.answer == IdentifyAnswer::kEmpty) {
    SetStatus(Status(kStatusNotFound));
    ShowCause(QStringLiteral("%1: the file is empty; every passphrase, cipher and hash decrypt it "
                             "to an empty file")
                  .arg(file));
  } else if (found.answer == IdentifyAnswer::kTooShort) {
    SetStatus(Status(kStatusNotFound));
    ShowCause(QStringLiteral("%1: the file has only %2 bytes, less than one cipher block; every "
                             "cipher and hash give bytes that could be anything")
                  .arg(file)
                  .arg(found.fileSize));
  } else if (found.answer == IdentifyAnswer::kNothingPlausible) {
    SetStatus(Status(kStatusNotFound));
    ShowCause(QStringLiteral("Nothing plausible under any cipher and hash: under each %1; check "
                             "the passphrase (one wrong character gives only random-looking "
                             "bytes)")
                  .arg(Status(kRandomResultMeaning)));
  } else {
    const Candidate& best = *found.Best();
    ComboBox1_->setCurrentIndex(best.cipher->position);
    ComboBox2_->setCurrentIndex(best.hash->position);
    QString cause;
    if (found.answer == IdentifyAnswer::kClear) {
      SetStatus(Status(kStatusFound));
      cause = QStringLiteral("Best: ") + pairName(best);
    } else {
      SetStatus(Status(kStatusSeveralFound));
      QStringList plausible;
      for (const Candidate& c : found.ranked) {
        if (c.plausibility.verdict == Verdict::kPlausible) plausible << pairName(c);
      }
      cause =
          QStringLiteral("The menus show the first of: ") + plausible.join(QStringLiteral("; "));
    }
    if (best.reading != 0) {
      cause += QStringLiteral(
                   ". The file was keyed with the passphrase's UTF-8 bytes, which the "
                   "window does not use: kryvane-cli decrypt --encoding utf-8 -c %1 "
                   "-H %2")
                   .arg(Status(best.cipher->shortName), Status(best.hash->shortName));
    }
    ShowCause(cause);
  }
  JobEnded(false);
}

void MainWindow::ForgotPassphrase() {
  if (JobRunning()) return;
  ShowCause(QString());
  if (FileEdt_->text().isEmpty()) {
    Refuse(QStringLiteral("Name the encrypted file first"), FileEdt_);
    return;
  }
  const QString source = ResolvedPath(FileEdt_);
  if (source.isEmpty()) return;
  auto* dialog = new RecoverDialog(this, source, sCheckBox1_->isChecked(),
                                   SelectedPosition(ComboBox1_), SelectedPosition(ComboBox2_));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  connect(dialog, &RecoverDialog::Found, this, [this, dialog](const RecoverFound& found) {
    OnRecovered(found);
    dialog->accept();
  });
  dialog->open();
}

void MainWindow::OnRecovered(const RecoverFound& found) {
  // The field holds what the Windows program's held: a longer passphrase found whole is cut to
  // the characters that keyed the file only when those were what keyed it.
  const QString text = found.prefix ? found.passphrase.left(kPhraseLimit) : found.passphrase;
  PhraseEdt_->setText(text);
  RPhraseEdt_->setText(text);
  ComboBox1_->setCurrentIndex(found.cipherPosition);
  ComboBox2_->setCurrentIndex(found.hashPosition);
  SetStatus(Status(kStatusFound));
  QString cause = QStringLiteral("Passphrase found: the passphrase fields and the menus hold it");
  if (found.utf8) {
    cause += QStringLiteral(
        ". The file was keyed with the passphrase's UTF-8 bytes, which the window does not use: "
        "kryvane-cli decrypt --encoding utf-8");
  } else if (!found.prefix && found.passphrase.size() > kPhraseLimit) {
    cause += QStringLiteral(". It is longer than the field holds: decrypt with kryvane-cli");
  }
  ShowCause(cause);
}

// The desktop's own dialog (its portal or platform dialog) where it offers one; Qt's own dialog
// otherwise, in its detail view and wide enough to show sizes and dates.
QString MainWindow::Browse(QLineEdit* field, bool save) {
  ShowCause(QString());
  QFileDialog dialog(this, QString(), field->text().isEmpty() ? browseFolder_ : field->text(),
                     QStringLiteral("All files (*)"));
  dialog.setObjectName(save ? QStringLiteral("TargetDialog") : QStringLiteral("SourceDialog"));
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  if (!save) dialog.setOption(QFileDialog::ReadOnly);
  dialog.setViewMode(QFileDialog::Detail);
  dialog.resize(760, 460);
  if (!field->text().isEmpty()) dialog.selectFile(field->text());
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

void MainWindow::BrowseSource() {
  const QString chosen = Browse(FileEdt_, false);
  if (!chosen.isEmpty()) {
    SetPath(FileEdt_, chosen);
    browseFolder_ = QFileInfo(chosen).absolutePath();
  }
  FileEdt_->setFocus();
}

void MainWindow::BrowseTarget() {
  // The dialog asks before an existing file is chosen, so the job does not ask again.
  const QString chosen = Browse(TargetEdt_, true);
  if (!chosen.isEmpty()) {
    SetPath(TargetEdt_, chosen);
    confirmedTarget_ = chosen;
    browseFolder_ = QFileInfo(chosen).absolutePath();
  }
  TargetEdt_->setFocus();
}

bool MainWindow::AcceptsDrag(const QMimeData* data) const {
  return data->hasUrls() && !JobRunning();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (AcceptsDrag(event->mimeData())) event->acceptProposedAction();
}

// A refused drop tells the drag source that nothing was taken, so that a move keeps its file.
void MainWindow::dropEvent(QDropEvent* event) {
  if (AcceptsDrag(event->mimeData()) && Drop(event->mimeData())) {
    event->acceptProposedAction();
  } else {
    event->setDropAction(Qt::IgnoreAction);
    event->ignore();
  }
}

// One local file fills the source field with its plain path; anything else is refused aloud.
bool MainWindow::Drop(const QMimeData* data) {
  const QList<QUrl> urls = data->urls();
  if (urls.size() != 1) {
    ShowCause(QStringLiteral("Drop one file at a time (%1 were dropped)").arg(urls.size()));
    return false;
  }
  const QUrl& url = urls.first();
  if (!url.isLocalFile()) {
    ShowCause(QStringLiteral("%1: not a local file").arg(url.toDisplayString()));
    return false;
  }
  const QString path = url.toLocalFile();
  if (QFileInfo(path).isDir()) {
    ShowCause(QStringLiteral("%1: is a folder; drop a file").arg(path));
    return false;
  }
  ShowCause(QString());
  SetPath(FileEdt_, path);
  FileEdt_->setFocus();
  return true;
}

}  // namespace kryvane

// The main window: file fields, passphrase fields, the two menus, three check boxes, five buttons
// and the status bar. The job itself lives in file_job (no Qt there); this class collects the
// inputs, hands them to a JobRunner and shows the outcome.
#pragma once

#include <QAccessible>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMessageBox;
class QMimeData;
class QProgressBar;
class QStatusBar;
class QTimer;
class QToolButton;

namespace kryvane {

class AboutBox;
class JobRunner;
struct JobOutcome;
struct Identification;
struct RecoverFound;

class MainWindow : public QWidget {
  Q_OBJECT

 public:
  // Names the algorithms whose known-answer test failed; empty when all passed.
  using SelfTest = std::function<QStringList()>;

  explicit MainWindow(QWidget* parent = nullptr);
  // Runs selfTest instead of the catalogues' own tests at start.
  MainWindow(SelfTest selfTest, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Every cipher and hash of the two menus, by its known-answer test.
  static QStringList RunSelfTests();

  QString StatusText() const;
  // The cause of the last failure or refusal, or a notice; empty after a plain success.
  QString CauseText() const;
  bool JobRunning() const;
  AboutBox* About() const { return about_; }

 public slots:
  void EncryptBtnClick();
  void DecryptBtnClick();
  void ClearBtnClick();
  void AboutBtnClick();
  void CloseBtnClick();
  void ClearFields();
  void sCheckBox1Click();
  void CancelJob();
  // Searches the cipher and hash that decrypt the source under the passphrase, on the worker
  // thread, and selects the best pair in the two menus (Decrypt's context menu, Ctrl+F).
  void FindCipherAndHash();
  // Opens "Forgot the passphrase…" for the source; a passphrase it finds fills both passphrase
  // fields and the two menus.
  void ForgotPassphrase();

 signals:
  // Emitted on the user-interface thread when a job has ended and its status text is shown.
  void JobFinished();
  // Each event sent to assistive technology (also when none listens, as on a headless display).
  void Announced(QObject* about, QAccessible::Event type);

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  void RunJob(bool encrypt);
  void SetBusy(bool busy);
  void SetStatus(const QString& text);
  void ShowCause(const QString& cause);
  void Refuse(const QString& cause, QWidget* focus);
  bool ConfirmReplace(const QString& target);
  QString Browse(QLineEdit* field, bool save);
  void BrowseSource();
  void BrowseTarget();
  bool AcceptsDrag(const QMimeData* data) const;
  bool Drop(const QMimeData* data);
  void OnJobDone(const JobOutcome& outcome);
  void OnIdentified(const Identification& found, const QString& error);
  void OnRecovered(const RecoverFound& found);
  // Checks before a job or search: passphrases equal, self-test passed, the named fields filled.
  bool ReadyToRun(std::initializer_list<QLineEdit*> needed);
  void ShowNotice(const QString& text, const QString& result);
  void JobEnded(bool cleared);
  void Announce(QWidget* about, QAccessible::Event type);
  QString ResolvedPath(QLineEdit* field);
  static bool SameFile(const QString& source, const QString& target);
  bool ConfirmEmptyPassphrase();

  QFrame* sBevel1_;
  QFrame* sBevel2_;
  QFrame* sBevel3_;
  QLabel* sLabel1_;
  QLabel* sLabel2_;
  QLabel* sLabel3_;
  QLabel* sLabel4_;
  QLabel* sLabel5_;
  QLabel* sLabel6_;
  QToolButton* EncryptBtn_;
  QComboBox* ComboBox1_;
  QLineEdit* FileEdt_;
  QLineEdit* TargetEdt_;
  QComboBox* ComboBox2_;
  QStatusBar* sStatusBar1_;
  QLabel* statusLabel_;
  QLabel* causeLabel_;
  QLineEdit* PhraseEdt_;
  QLineEdit* RPhraseEdt_;
  QCheckBox* sCheckBox1_;
  QCheckBox* sCheckBox2_;
  QToolButton* DecryptBtn_;
  QToolButton* ClearBtn_;
  QToolButton* AboutBtn_;
  QToolButton* CloseBtn_;
  QCheckBox* sCheckBox3_;
  QProgressBar* progress_;
  QToolButton* cancelBtn_;
  QAction* findAction_;
  QAction* forgotAction_;
  QPointer<QMessageBox> notice_;
  AboutBox* about_;
  JobRunner* runner_;

  QString browseFolder_;
  QString causeText_;
  // The target path the save dialog already confirmed; any other existing target is asked about.
  QString confirmedTarget_;
  // Where the focus was when the job started; it goes back there when the job ends.
  QPointer<QWidget> focusBeforeJob_;
  QStringList failedSelfTests_;
  int jobsFinished_ = 0;
  bool encryptRunning_ = true;
  bool closeAfterJob_ = false;
  bool emptyPassphraseConfirmed_ = false;
  QString jobTarget_;  // the target path of the running or last job
};

}  // namespace kryvane

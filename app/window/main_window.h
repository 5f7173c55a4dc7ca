// The main window: file fields, passphrase fields, the two menus, three check boxes, five buttons
// and the status bar. The job itself lives in file_job (no Qt there); this class collects the
// inputs, hands them to a JobRunner and shows the outcome.
#pragma once

#include <QString>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QStatusBar;
class QTimer;
class QToolButton;

namespace kryvane {

class AboutBox;
class JobRunner;
struct JobOutcome;

class MainWindow : public QWidget {
  Q_OBJECT

 public:
  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  QString StatusText() const;
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

 signals:
  // Emitted on the user-interface thread when a job has ended and its status text is shown.
  void JobFinished();

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  void RunJob(bool encrypt);
  void SetBusy(bool busy);
  void SetStatus(const QString& text);
  void BrowseSource();
  void BrowseTarget();
  void OnJobDone(const JobOutcome& outcome);

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
  QTimer* progressDelay_;
  AboutBox* about_;
  JobRunner* runner_;

  QString browseFolder_;
  bool closeAfterJob_ = false;
};

}  // namespace kryvane

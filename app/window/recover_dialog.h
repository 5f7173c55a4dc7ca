// "Forgot the passphrase…": searches the passphrase of the source among what the user remembers
// and its near variants (and a word list, if one is named), under one pair or all, on a worker
// thread with progress and Cancel. The search is the command line's (RunRecovery).
#pragma once

#include <QDialog>
#include <QString>
#include <atomic>
#include <memory>
#include <thread>

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace kryvane {

struct RecoverFound {
  QString passphrase;
  int cipherPosition = 0;
  int hashPosition = 0;
  bool utf8 = false;    // keyed with the UTF-8 bytes, which the window does not use
  bool prefix = false;  // keyed with the first 80 characters, as the Windows field kept them
};

class RecoverDialog : public QDialog {
  Q_OBJECT

 public:
  // source: the file to search, as the window resolved it. hide: whether typed text is masked,
  // as the passphrase fields are. cipher, hash: menu positions to start from (-1: all).
  RecoverDialog(QWidget* parent, QString source, bool hide, int cipher, int hash);
  ~RecoverDialog() override;

  bool Running() const { return worker_.joinable(); }
  QString StatusText() const;

 public slots:
  void Start();
  void Cancel();

 signals:
  // On the user-interface thread, once a passphrase is confirmed.
  void Found(const kryvane::RecoverFound& found);
  // Whenever a search ends (found, exhausted, cancelled or failed).
  void Ended();

 protected:
  void reject() override;

 private:
  void BrowseList();
  void Finish(const QString& text, bool found);
  void Stop();

  QString source_;
  QLineEdit* remembered_;
  QLineEdit* wordlist_;
  QComboBox* cipher_;
  QComboBox* hash_;
  QProgressBar* progress_;
  QLabel* status_;
  QPushButton* start_;
  QPushButton* cancel_;
  std::atomic<bool> stop_{false};
  std::thread worker_;
};

}  // namespace kryvane

// The about box: title, credit line, a link to the user guide (label and picture), and OK.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class QUrl;

namespace kryvane {

class AboutBox : public QDialog {
  Q_OBJECT

 public:
  explicit AboutBox(QWidget* parent = nullptr);

  // Where both links lead: the user guide installed with the program, or the one in the source
  // tree when running from a build folder.
  static QUrl GuideUrl();

  QLabel* Comments() const { return comments_; }
  QLabel* Image1() const { return image1_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void OpenLink(QWidget* control);

  QLabel* comments_;
  QLabel* image1_;
  QPushButton* ok_;
};

}  // namespace kryvane

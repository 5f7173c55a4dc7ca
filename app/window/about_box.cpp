#include "app/window/about_box.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFrame>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <QStyle>
#include <QUrl>
#include <algorithm>

#include "app/window/skin.h"

namespace kryvane {
namespace {

constexpr QColor kTitleColour(2, 48, 68);

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, QRect geometry) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(geometry);
  return label;
}

// Labels size themselves to their text, around the same centre: a fallback font wider than the
// original's must not clip them.
void FitAroundCentre(QLabel* label) {
  const QRect g = label->geometry();
  const int width = std::max(g.width(), label->sizeHint().width());
  const int height = std::max(g.height(), label->sizeHint().height());
  label->setGeometry(g.center().x() - width / 2, g.y(), width, height);
}

}  // namespace

QUrl AboutBox::GuideUrl() {
  const QString appDir = QCoreApplication::applicationDirPath();
  const QString installed =
      QDir(appDir).filePath(QStringLiteral("../share/doc/kryvane/user-guide.html"));
  if (QFileInfo::exists(installed)) return QUrl::fromLocalFile(QDir::cleanPath(installed));
  return QUrl::fromLocalFile(QStringLiteral(KRYVANE_SOURCE_DIR "/docs/user-guide.html"));
}

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("AboutBox"));
  setWindowTitle(QStringLiteral("About Kryvane 2.0"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(298, 253);
  setModal(true);
  QFont font;
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"),
                    QStringLiteral("Arial")});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  setFont(font);

  auto* panel = new QFrame(this);
  panel->setObjectName(QStringLiteral("Panel1"));
  panel->setGeometry(9, 8, 281, 198);
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  panel->setLineWidth(2);

  auto* title = MakeLabel(panel, "sLabelFX1", QStringLiteral("Kryvane 2.0"), {83, 1, 102, 34});
  QFont titleFont = font;
  titleFont.setPixelSize(19);
  titleFont.setBold(true);
  title->setFont(titleFont);
  QPalette titlePalette = title->palette();
  titlePalette.setColor(QPalette::WindowText, kTitleColour);
  title->setPalette(titlePalette);
  title->setAlignment(Qt::AlignCenter);
  FitAroundCentre(title);

  auto* credit =
      MakeLabel(panel, "CreditLbl", QStringLiteral("Kryvane for Linux, 2026"), {66, 32, 140, 13});
  credit->setAlignment(Qt::AlignHCenter);
  FitAroundCentre(credit);
  auto* line = MakeLabel(panel, "sLabel1", QStringLiteral("A file encryption decryption utility"),
                         {61, 48, 153, 13});
  line->setAlignment(Qt::AlignHCenter);
  FitAroundCentre(line);

  const QString target = GuideUrl().toString();
  comments_ = MakeLabel(panel, "Comments", QStringLiteral("User guide"), {78, 66, 109, 13});
  comments_->setAlignment(Qt::AlignHCenter);
  comments_->setWordWrap(true);
  comments_->setProperty("hint", target);
  comments_->setMouseTracking(true);
  // Underlined in every state, so that it reads as a link whatever its colour; it takes the
  // focus from the keyboard and opens with Return or Space.
  QFont linkFont = comments_->font();
  linkFont.setUnderline(true);
  comments_->setFont(linkFont);
  comments_->setFocusPolicy(Qt::StrongFocus);
  comments_->setAccessibleName(QStringLiteral("User guide"));
  comments_->setAccessibleDescription(QStringLiteral("Link: opens the user guide"));
  comments_->installEventFilter(this);

  // The picture is drawn to fit its control, so that its last row stays inside.
  image1_ = MakeLabel(panel, "Image1", QString(), {63, 84, 145, 105});
  image1_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  image1_->setPixmap(QIcon(QStringLiteral(":/icons/about-picture.svg")).pixmap(image1_->size()));
  image1_->setProperty("hint", target);
  image1_->setAccessibleName(QStringLiteral("Kryvane picture"));
  image1_->setAccessibleDescription(QStringLiteral(
      "A padlock marked K over rows of hexadecimal bytes; a link that opens the user guide"));
  image1_->installEventFilter(this);

  ok_ =
      new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("OK"), this);
  QPushButton* ok = ok_;
  ok->setObjectName(QStringLiteral("sBitBtn1"));
  ok->setGeometry(108, 214, 75, 33);
  ok->setDefault(true);
  ok->setAutoDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  setTabOrder(ok, comments_);
  ApplySkin(this);
}

void AboutBox::showEvent(QShowEvent* event) {
  ok_->setFocus();  // each time: Return closes the box, as its OK button does
  QDialog::showEvent(event);
}

bool AboutBox::eventFilter(QObject* watched, QEvent* event) {
  auto* control = qobject_cast<QLabel*>(watched);
  if (control != comments_ && control != image1_) return QDialog::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::Enter:
    case QEvent::MouseMove: {
      control->setCursor(Qt::PointingHandCursor);
      if (control == comments_) {
        QPalette p = comments_->palette();
        p.setColor(QPalette::WindowText, Qt::blue);
        comments_->setPalette(p);
      }
      break;
    }
    case QEvent::Leave: {
      control->setCursor(Qt::ArrowCursor);
      if (control == comments_) {
        QPalette p = comments_->palette();
        p.setColor(QPalette::WindowText, Qt::black);
        comments_->setPalette(p);
      }
      break;
    }
    case QEvent::KeyPress: {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
        OpenLink(control);
        return true;
      }
      break;
    }
    case QEvent::MouseButtonRelease:
      OpenLink(control);
      return true;
    default:
      break;
  }
  return QDialog::eventFilter(watched, event);
}

void AboutBox::OpenLink(QWidget* control) {
  // The result is ignored: a desktop without a handler simply opens nothing.
  QDesktopServices::openUrl(QUrl(control->property("hint").toString()));
}

}  // namespace kryvane

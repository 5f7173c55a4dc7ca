#include "app/window/skin.h"

#include <QPalette>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QWidget>

namespace kryvane {
namespace {

// Fusion, with passphrases masked by "*" as the Windows program masked them.
class SkinStyle final : public QProxyStyle {
 public:
  SkinStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == SH_LineEdit_PasswordCharacter) return '*';
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};

}  // namespace

QStyle* Skin() {
  // One style object for the whole run; widgets do not own the style they are given.
  static QStyle* style = new SkinStyle;
  return style;
}

QPalette SkinPalette() {
  // Button face, window text and white fields, as on the desktop the program was made for.
  const QColor face(240, 240, 240);
  const QColor text(Qt::black);
  QPalette p(face);
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
    p.setColor(group, QPalette::Window, face);
    p.setColor(group, QPalette::Button, face);
    p.setColor(group, QPalette::WindowText, text);
    p.setColor(group, QPalette::ButtonText, text);
    p.setColor(group, QPalette::Text, text);
    p.setColor(group, QPalette::Base, Qt::white);
    p.setColor(group, QPalette::AlternateBase, QColor(245, 245, 245));
    p.setColor(group, QPalette::ToolTipBase, QColor(255, 255, 225));
    p.setColor(group, QPalette::ToolTipText, text);
    p.setColor(group, QPalette::PlaceholderText, QColor(110, 110, 110));
    p.setColor(group, QPalette::Highlight, QColor(0, 120, 215));
    p.setColor(group, QPalette::HighlightedText, Qt::white);
    p.setColor(group, QPalette::Link, QColor(0, 0, 238));
    p.setColor(group, QPalette::LinkVisited, QColor(85, 26, 139));
    p.setColor(group, QPalette::BrightText, Qt::white);
    p.setColor(group, QPalette::Light, Qt::white);
    p.setColor(group, QPalette::Midlight, QColor(227, 227, 227));
    p.setColor(group, QPalette::Mid, QColor(160, 160, 160));
    p.setColor(group, QPalette::Dark, QColor(105, 105, 105));
    p.setColor(group, QPalette::Shadow, QColor(64, 64, 64));
  }
  const QColor greyed(120, 120, 120);
  p.setColor(QPalette::Disabled, QPalette::Window, face);
  p.setColor(QPalette::Disabled, QPalette::Button, face);
  p.setColor(QPalette::Disabled, QPalette::Base, face);
  p.setColor(QPalette::Disabled, QPalette::WindowText, greyed);
  p.setColor(QPalette::Disabled, QPalette::ButtonText, greyed);
  p.setColor(QPalette::Disabled, QPalette::Text, greyed);
  return p;
}

void ApplySkin(QWidget* window) {
  QStyle* style = Skin();
  // A widget's style does not pass to its children; each control takes it. The palette does
  // pass on, merged with the colours a control sets for itself (the labels' blue, the fields'
  // black on white).
  window->setStyle(style);
  for (QWidget* w : window->findChildren<QWidget*>()) w->setStyle(style);
  window->setPalette(SkinPalette());
}

}  // namespace kryvane

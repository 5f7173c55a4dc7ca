// The window's one skin: a fixed light palette and style, the same on every desktop, so that
// the fixed label colours stay readable under a dark desktop theme.
#pragma once

class QPalette;
class QStyle;
class QWidget;

namespace kryvane {

// The skin's style: Fusion, with passphrases masked by "*".
QStyle* Skin();

QPalette SkinPalette();

// Gives the widget and every widget inside it the skin's palette and style. Call it once the
// controls exist.
void ApplySkin(QWidget* window);

}  // namespace kryvane

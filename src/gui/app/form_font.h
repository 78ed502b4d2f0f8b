#pragma once

class QFont;
class QWidget;

namespace pellora {

// The forms' font: "ＭＳ Ｐゴシック" where it is installed, else an installed Japanese
// sans-serif font, 9 points.
QFont FormFont();

// Gives `widget` (and so its children) the forms' font.
void ApplyFormFont(QWidget* widget);

}  // namespace pellora

#include "gui/app/form_font.h"

#include <QFont>
#include <QStringList>
#include <QWidget>

namespace pellora {

QFont FormFont() {
  QFont font;
  // Families in order of preference; Qt takes the first one that is installed.
  font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"),
                    QStringLiteral("Noto Sans CJK JP"), QStringLiteral("IPAPGothic"),
                    QStringLiteral("IPAexGothic"), QStringLiteral("VL PGothic"),
                    QStringLiteral("sans-serif")});
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(9);
  return font;
}

void ApplyFormFont(QWidget* widget) {
  widget->setFont(FormFont());
}

}  // namespace pellora

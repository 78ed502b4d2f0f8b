#include "gui/app/form_position.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace pellora {

void CentreOnScreen(QWidget* window) {
  if (!window->testAttribute(Qt::WA_Resized)) window->adjustSize();
  const QWidget* owner = window->parentWidget();
  QScreen* screen = owner ? owner->screen() : window->screen();
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect area = screen->availableGeometry();
  window->move(area.center() - QPoint(window->width() / 2, window->height() / 2));
}

}  // namespace pellora

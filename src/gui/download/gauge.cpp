#include "gui/download/gauge.h"

#include <QPainter>

#include <algorithm>

namespace pellora {

TCGauge::TCGauge(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void TCGauge::SetMinValue(int64_t value) {
  if (Minimum == value) return;
  Minimum = value;
  update();
}

void TCGauge::SetMaxValue(int64_t value) {
  if (Maximum == value) return;
  Maximum = value;
  update();
}

void TCGauge::SetProgress(int64_t value) {
  if (Position == value) return;
  Position = value;
  update();
}

int TCGauge::PercentDone() const {
  if (Maximum <= Minimum) return 0;
  const int64_t done = std::clamp(Position, Minimum, Maximum) - Minimum;
  // Both factors stay below 2^33, so the product cannot overflow.
  return static_cast<int>(done * 100 / (Maximum - Minimum));
}

void TCGauge::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect frame = rect().adjusted(0, 0, -1, -1);
  painter.fillRect(rect(), Qt::white);
  const QRect inner = frame.adjusted(1, 1, 0, 0);
  const int percent = PercentDone();
  QRect bar = inner;
  if (Maximum > Minimum) {
    const int64_t done = std::clamp(Position, Minimum, Maximum) - Minimum;
    bar.setWidth(static_cast<int>(inner.width() * done / (Maximum - Minimum)));
  } else {
    bar.setWidth(0);
  }
  const QColor barColour = palette().color(QPalette::Active, QPalette::Highlight);
  painter.fillRect(bar, barColour);
  painter.setPen(palette().color(QPalette::Mid));
  painter.drawRect(frame);

  // The text is drawn twice, clipped, so it stays readable over both parts.
  const QString text = QString::number(percent) + QLatin1Char('%');
  painter.setPen(Qt::black);
  painter.setClipRect(inner.adjusted(bar.width(), 0, 0, 0));
  painter.drawText(inner, Qt::AlignCenter, text);
  painter.setPen(palette().color(QPalette::Active, QPalette::HighlightedText));
  painter.setClipRect(bar);
  painter.drawText(inner, Qt::AlignCenter, text);
}

}  // namespace pellora

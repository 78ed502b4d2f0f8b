#pragma once

#include <QWidget>

#include <cstdint>

namespace pellora {

// A horizontal progress bar with the percentage done in its middle. Works in 64
// bits, so any signed 32-bit range (and one past its end) is fine.
class TCGauge : public QWidget {
  Q_OBJECT

 public:
  explicit TCGauge(QWidget* parent = nullptr);

  void SetMinValue(int64_t value);
  void SetMaxValue(int64_t value);
  void SetProgress(int64_t value);
  int64_t MinValue() const { return Minimum; }
  int64_t MaxValue() const { return Maximum; }
  int64_t Progress() const { return Position; }

  // floor((position - minimum) * 100 / (maximum - minimum)); 0 for an empty range.
  int PercentDone() const;

  QSize sizeHint() const override { return {200, 25}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int64_t Minimum = 0;
  int64_t Maximum = 100;
  int64_t Position = 0;
};

}  // namespace pellora

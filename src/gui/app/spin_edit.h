#pragma once

#include <QSpinBox>

namespace pellora {

// A numeric field with a range: any text may be typed, a value outside the range
// reads as the nearest bound and is written back when the field is left, and a
// text that is not a number reads as 0.
class TCSpinEdit : public QSpinBox {
  Q_OBJECT

 public:
  explicit TCSpinEdit(QWidget* parent = nullptr);

 protected:
  QValidator::State validate(QString& input, int& pos) const override;
  int valueFromText(const QString& text) const override;
  void fixup(QString& input) const override;
};

}  // namespace pellora

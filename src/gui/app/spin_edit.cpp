#include "gui/app/spin_edit.h"

#include <algorithm>

#include "core/sequence/int_conversion.h"

namespace pellora {

TCSpinEdit::TCSpinEdit(QWidget* parent) : QSpinBox(parent) {
  setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
  setKeyboardTracking(true);
}

QValidator::State TCSpinEdit::validate(QString& /*input*/, int& /*pos*/) const {
  // Every text is acceptable while typing; valueFromText decides what it means.
  return QValidator::Acceptable;
}

int TCSpinEdit::valueFromText(const QString& text) const {
  const std::optional<int32_t> value = TryStrToInt(text.toStdString());
  if (!value) return std::clamp(0, minimum(), maximum());
  return std::clamp<int>(*value, minimum(), maximum());
}

void TCSpinEdit::fixup(QString& input) const {
  input = QString::number(valueFromText(input));
}

}  // namespace pellora

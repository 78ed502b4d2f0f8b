#include "gui/app/message_box.h"

#include "gui/app/form_font.h"

namespace pellora {

namespace {

TMessageBoxRecorder* activeRecorder = nullptr;

QMessageBox::Icon QtIcon(TMsgIcon icon) {
  switch (icon) {
    case TMsgIcon::Error:
      return QMessageBox::Critical;
    case TMsgIcon::Exclamation:
      return QMessageBox::Warning;
    case TMsgIcon::Information:
      return QMessageBox::Information;
    case TMsgIcon::Question:
      return QMessageBox::Question;
    case TMsgIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

QMessageBox::StandardButton FirstButton(QMessageBox::StandardButtons buttons) {
  for (int bit = 0; bit < 32; ++bit) {
    const auto button = static_cast<QMessageBox::StandardButton>(1u << bit);
    if (buttons.testFlag(button)) return button;
  }
  return QMessageBox::NoButton;
}

}  // namespace

TMessageBoxRecorder::TMessageBoxRecorder() : Previous(activeRecorder) {
  activeRecorder = this;
}

TMessageBoxRecorder::~TMessageBoxRecorder() {
  activeRecorder = Previous;
}

QMessageBox::StandardButton TMessageBoxRecorder::Answer(const TMessageBoxRecord& record) {
  Shown.push_back(record);
  if (!Answers.isEmpty()) return Answers.takeFirst();
  return FirstButton(record.Buttons);
}

QMessageBox::StandardButton ShowMessageBox(QWidget* parent, const QString& text,
                                           const QString& caption,
                                           QMessageBox::StandardButtons buttons, TMsgIcon icon) {
  if (activeRecorder) return activeRecorder->Answer({text, caption, buttons, icon});
  QMessageBox box(QtIcon(icon), caption, text, buttons, parent);
  box.setTextFormat(Qt::PlainText);
  ApplyFormFont(&box);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace pellora

#include "purgekey/purge_message_box.h"

namespace pellora {

namespace {

TPurgeMessageRecorder* activeRecorder = nullptr;

QMessageBox::StandardButton FirstButton(QMessageBox::StandardButtons buttons) {
  for (int bit = 0; bit < 32; ++bit) {
    const auto button = static_cast<QMessageBox::StandardButton>(1u << bit);
    if (buttons.testFlag(button)) return button;
  }
  return QMessageBox::NoButton;
}

}  // namespace

TPurgeMessageRecorder::TPurgeMessageRecorder() : Previous(activeRecorder) {
  activeRecorder = this;
}

TPurgeMessageRecorder::~TPurgeMessageRecorder() {
  activeRecorder = Previous;
}

QMessageBox::StandardButton TPurgeMessageRecorder::Answer(const TPurgeMessage& message) {
  Shown.push_back(message);
  if (!Answers.isEmpty()) return Answers.takeFirst();
  if (message.DefaultButton != QMessageBox::NoButton) return message.DefaultButton;
  return FirstButton(message.Buttons);
}

QMessageBox::StandardButton ShowPurgeMessage(const TPurgeMessage& message) {
  if (activeRecorder) return activeRecorder->Answer(message);
  QMessageBox box(message.Icon, message.Caption, message.Text, message.Buttons);
  box.setTextFormat(Qt::PlainText);
  if (message.DefaultButton != QMessageBox::NoButton) box.setDefaultButton(message.DefaultButton);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace pellora

#pragma once

#include <QMessageBox>
#include <QString>
#include <QVector>

namespace pellora {

// What one of purgekey's message boxes was asked to show.
struct TPurgeMessage {
  QString Text;
  QString Caption;
  QMessageBox::StandardButtons Buttons;
  QMessageBox::StandardButton DefaultButton = QMessageBox::NoButton;
  QMessageBox::Icon Icon = QMessageBox::NoIcon;
};

// Every message box of purgekey goes through here: modal, owned by the application,
// plain text. Returns the button the user pressed.
QMessageBox::StandardButton ShowPurgeMessage(const TPurgeMessage& message);

// While one exists, message boxes are recorded instead of shown, and answered with
// the queued answers in turn (then with their default button, else their first).
class TPurgeMessageRecorder {
 public:
  TPurgeMessageRecorder();
  ~TPurgeMessageRecorder();
  TPurgeMessageRecorder(const TPurgeMessageRecorder&) = delete;
  TPurgeMessageRecorder& operator=(const TPurgeMessageRecorder&) = delete;

  void QueueAnswer(QMessageBox::StandardButton answer) { Answers.push_back(answer); }
  const QVector<TPurgeMessage>& Records() const { return Shown; }

 private:
  friend QMessageBox::StandardButton ShowPurgeMessage(const TPurgeMessage&);
  QMessageBox::StandardButton Answer(const TPurgeMessage& message);

  QVector<TPurgeMessage> Shown;
  QVector<QMessageBox::StandardButton> Answers;
  TPurgeMessageRecorder* Previous = nullptr;
};

}  // namespace pellora

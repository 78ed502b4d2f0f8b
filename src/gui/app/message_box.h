#pragma once

#include <QMessageBox>
#include <QString>
#include <QVector>

#include <optional>

class QWidget;

namespace pellora {

enum class TMsgIcon { None, Error, Exclamation, Information, Question };

// What one message box was asked to show.
struct TMessageBoxRecord {
  QString Text;
  QString Caption;
  QMessageBox::StandardButtons Buttons;
  TMsgIcon Icon = TMsgIcon::None;
};

// Every message box of the program goes through here. Texts are always shown as
// plain text, never as markup. Returns the button the user pressed.
QMessageBox::StandardButton ShowMessageBox(QWidget* parent, const QString& text,
                                           const QString& caption,
                                           QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                           TMsgIcon icon = TMsgIcon::None);

// While one exists, message boxes are recorded instead of shown, and answered with
// the queued answers in turn (then with the first of their buttons).
class TMessageBoxRecorder {
 public:
  TMessageBoxRecorder();
  ~TMessageBoxRecorder();
  TMessageBoxRecorder(const TMessageBoxRecorder&) = delete;
  TMessageBoxRecorder& operator=(const TMessageBoxRecorder&) = delete;

  void QueueAnswer(QMessageBox::StandardButton answer) { Answers.push_back(answer); }
  const QVector<TMessageBoxRecord>& Records() const { return Shown; }
  void Clear() { Shown.clear(); }

 private:
  friend QMessageBox::StandardButton ShowMessageBox(QWidget*, const QString&, const QString&,
                                                    QMessageBox::StandardButtons, TMsgIcon);
  QMessageBox::StandardButton Answer(const TMessageBoxRecord& record);

  QVector<TMessageBoxRecord> Shown;
  QVector<QMessageBox::StandardButton> Answers;
  TMessageBoxRecorder* Previous = nullptr;
};

}  // namespace pellora

#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace pellora {

// Asked after a remote file could not be fetched. Results: 1 skip the file,
// 3 stop the run, 5 ignore errors from now on, 2 closed by the close box.
class TForm_FromErrDlg : public QDialog {
  Q_OBJECT

 public:
  enum { ResultSkip = 1, ResultClosed = 2, ResultStop = 3, ResultIgnore = 5 };

  TForm_FromErrDlg(const QString& fromUrl, QWidget* parent = nullptr);

  QLabel* Label_FromFile;
  QLabel* Label1;
  QPushButton* OKBtn;
  QPushButton* AbortBtn;
  QPushButton* IgnoreBtn;

  void reject() override { done(ResultClosed); }

 protected:
  // Escape does nothing: only the buttons and the close box answer.
  void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace pellora

#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace pellora {

// Asks for the name of a new folder below the To base folder, creates it and
// tells the caller the new base folder.
class TOKBottomDlg : public QDialog {
  Q_OBJECT

 public:
  TOKBottomDlg(const QString& baseDir, QWidget* parent = nullptr);

  // The folder that becomes the To base after OK with a name; empty otherwise.
  const QString& NewBaseDir() const { return NewBase; }

  QLabel* Label_NowDir;
  QLineEdit* Edit_NewDir;
  QPushButton* OKBtn;
  QPushButton* CancelBtn;

  void OKBtnClick();

 private:
  void FormCreate();

  QString BaseDir;
  QString NewBase;
};

}  // namespace pellora

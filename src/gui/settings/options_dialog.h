#pragma once

#include <QDialog>

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QWidget;

namespace pellora {

struct TSettings;
class TSequenceModel;
class TCSpinEdit;

// The options dialog. It works on its own controls; only OK copies them into the
// settings and applies the link rules to the job's To fields.
class TForm_Option : public QDialog {
  Q_OBJECT

 public:
  TForm_Option(TSettings& settings, TSequenceModel& model, QWidget* parent = nullptr);

  QTabWidget* PageControl1;
  QWidget* TabSheet1;
  QWidget* TabSheet2;
  QWidget* TabSheet3;
  QWidget* TabSheet4;
  QCheckBox* CheckBox_FileSync;
  QCheckBox* CheckBox_NumSync;
  QCheckBox* CheckBox_AutoSlash;
  QCheckBox* CheckBox_Exist;
  QGroupBox* GroupBox1;
  QCheckBox* CheckBox_Caution;
  QCheckBox* CheckBox_Pack;
  QCheckBox* CheckBox_ErrMessSave;
  TCSpinEdit* CSpinEdit_TimeOut;
  QCheckBox* CheckBox_Proxy;
  QLineEdit* Edit_Proxy;
  TCSpinEdit* CSpinEdit_ProxyPort;
  QCheckBox* CheckBox_User;
  QLineEdit* Edit_User;
  QLineEdit* Edit_Password;
  QCheckBox* CheckBox_PassSave;
  QLineEdit* Edit_CaFile;
  QPushButton* Button_CaFile;
  QLineEdit* Edit_Agent;
  QLineEdit* Edit_Referer;
  QLineEdit* Edit_MailAddr;
  QPushButton* Button_default;
  TCSpinEdit* CSpinEdit_Connections;
  TCSpinEdit* CSpinEdit_Retries;
  TCSpinEdit* CSpinEdit_StopAfterMissing;
  TCSpinEdit* CSpinEdit_RequestInterval;
  QPushButton* Button_OK;
  QPushButton* Button_Cancel;

  void Button_OKClick();
  void Button_CancelClick() { reject(); }
  void CheckBox_ProxyClick();
  void CheckBox_UserClick();
  void CheckBox_PackClick();
  void CheckBox_ErrMessSaveClick();
  void Button_defaultClick();
  void Button_CaFileClick();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QWidget* BuildFilePage();
  QWidget* BuildNetworkPage();
  QWidget* BuildHeaderPage();
  QWidget* BuildTransferPage();
  void FormCreate();

  TSettings& Settings;
  TSequenceModel& Model;
};

}  // namespace pellora

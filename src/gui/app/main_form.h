#pragma once

#include <QList>
#include <QMainWindow>
#include <QUrl>

#include "core/sequence/sequence_model.h"
#include "core/settings/settings.h"

class QAction;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace pellora {

class TCSpinEdit;
class TForm_Ope;

// The main window: the From and To pages of a job with their live preview, the
// start button and the menu. The field rules live in `Model`; the window mirrors
// it into its controls and feeds every edit back into it.
class TMainForm : public QMainWindow {
  Q_OBJECT

 public:
  explicit TMainForm(QWidget* parent = nullptr);
  ~TMainForm() override;

  TSettings Settings;
  TSequenceModel Model{Settings};

  QFrame* Bevel1;
  QTabWidget* PageControl1;
  QWidget* TabSheet_From;
  QWidget* TabSheet_To;
  QLineEdit* Edit_FromDir;
  QLineEdit* Edit_FromFile;
  QLineEdit* Edit_FromStart;
  QLineEdit* Edit_FromEnd;
  QComboBox* ComboBox_FromMax;
  TCSpinEdit* CSpinEdit_FromDepth;
  QPushButton* Button_Folder;    // hidden, no function
  QPushButton* Button_FromFile;  // hidden, no function
  QLineEdit* Edit_ToDir;
  QLineEdit* Edit_ToFile;
  QLineEdit* Edit_ToStart;
  QLineEdit* Edit_ToEnd;
  QComboBox* ComboBox_ToMax;
  TCSpinEdit* CSpinEdit_ToDepth;
  QPushButton* Button_ToDir;
  QPushButton* Button_ToNew;
  QPushButton* Button_ToFile;  // hidden; its enabled state follows Edit_ToFile
  QPushButton* Button_Start;
  QPushButton* Button_List;  // hidden, no function
  QGroupBox* GroupBox_PreFrom;
  QGroupBox* GroupBox_PreTo;
  QLabel* Label_PreStartFrom;
  QLabel* Label_PreEndFrom;
  QLabel* Label_PreStartTo;
  QLabel* Label_PreEndTo;

  QAction* Open1;
  QAction* S2;
  QAction* Exit1;
  QAction* O1;
  QAction* Download1;
  QAction* ListDownload1;  // hidden, no function
  QAction* HTMLH1;
  QAction* About1;

  // The progress window of the runs; lives as long as the main window.
  TForm_Ope* Form_Ope = nullptr;

  void FromChange() { Model.FromChange(); }
  void ToChange() { Model.ToChange(); }
  void FormCloseQuery();
  void Exit1Click();
  void About1Click();
  void HTMLH1Click();
  void Button_ToDirClick();
  void Button_ToNewClick();
  void Button_FolderClick() {}
  void Button_StartClick();
  void O1Click();
  void Open1Click();
  void S2Click();
  // Applies a job file to the settings and fields; messages say what went wrong.
  void LoadSettingsFile(const QString& fileName);
  // Writes the current settings and fields as a job file.
  void SaveSettingsFile(const QString& fileName);
  // Files dropped on the window: the first one is opened as a job file.
  void WMDropFiles(const QList<QUrl>& files);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;  // opens the first dropped file

 private:
  void BuildMenu();
  QWidget* BuildFromPage();
  QWidget* BuildToPage();
  QGroupBox* BuildPreviewBox(const QString& title, QLabel*& start, QLabel*& end);
  void ConnectFields();
  void FormCreate();
  void MirrorModel();
};

}  // namespace pellora

#pragma once

#include <QDialog>
#include <QString>

#include "core/platform/store_removal.h"

class QFont;
class QLabel;
class QPushButton;

namespace pellora {

// purgekey's form font: "ＭＳ Ｐゴシック" where installed, else a Japanese sans-serif.
QFont PurgeFormFont();

// purgekey's only window: asks whether pellora's per-user settings are to be
// removed and removes them when the user agrees.
class TForm_Main : public QDialog {
  Q_OBJECT

 public:
  explicit TForm_Main(TStoreRemoval store = TStoreRemoval(), QWidget* parent = nullptr);

  QLabel* Label1;
  QPushButton* Button_Delete;
  QPushButton* Button_Finish;

  void Button_FinishClick();
  void Button_DeleteClick();

 private:
  void FormCreate();
  QString RemovalReport(const QString& settingsKey) const;

  QString ProductName;
  TStoreRemoval Store;
};

}  // namespace pellora

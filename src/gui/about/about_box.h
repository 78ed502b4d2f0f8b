#pragma once

#include <QDialog>

#include "core/about/support_info.h"

class QFrame;
class QLabel;
class QPushButton;

namespace pellora {

class THTLabel;

// The About box: product name, version and legal notice of the running program,
// and the links to the maker's support page and e-mail address.
class TAboutBox : public QDialog {
  Q_OBJECT

 public:
  explicit TAboutBox(QWidget* parent = nullptr, const TSupportInfo& support = SupportInfo);

  QFrame* Panel1;
  QLabel* ProgramIcon;
  QLabel* ProductName;
  QLabel* Version;
  QLabel* Copyright;
  QLabel* Support;
  THTLabel* HTLabel1;
  QLabel* mail;
  THTLabel* HTLabel2;
  QPushButton* OKButton;

 private:
  void FormCreate(const TSupportInfo& support);
  void PlaceCopyright();
};

// Creates the About box, shows it modally and destroys it.
void ShowAboutBox(QWidget* parent);

}  // namespace pellora

#pragma once

#include <QLabel>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

namespace pellora {

// How a link reaches the desktop when its URL handler (TShell::OpenUrl) cannot open
// it. Tests replace these.
struct TLinkShell {
  enum class TLinkKind { WebPage, Mail };
  // The command line of the desktop's program for web pages or mail, with its "%1"
  // placeholder; empty when the desktop has none.
  using TCommandFn = std::function<QString(TLinkKind kind)>;
  using TStartFn = std::function<bool(const QString& program, const QStringList& arguments)>;

  static TCommandFn OpenCommand;
  static TStartFn StartProgram;
};

// Opens `caption` as a web page when it starts with "http://" (exactly so), else as
// a mail address, with the desktop's default program. A link that cannot be opened
// does nothing.
void OpenLink(const QString& caption);

// A label that opens its caption when clicked: hand cursor, navy, underlined.
class THTLabel : public QLabel {
  Q_OBJECT

 public:
  explicit THTLabel(QWidget* parent = nullptr);

 signals:
  // The label's own click event; the caption is opened after it.
  void Click();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool Pressed = false;
};

}  // namespace pellora

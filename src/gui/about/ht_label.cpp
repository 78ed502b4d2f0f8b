#include "gui/about/ht_label.h"

#include <QMouseEvent>
#include <QPalette>
#include <QProcess>

#include <string>

#include "core/about/command_line.h"
#include "gui/app/shell.h"

#ifdef Q_OS_WIN
#include <QSettings>
#endif

namespace pellora {

namespace {

const QString kWebPrefix = QStringLiteral("http://");

#ifdef Q_OS_WIN
// The default value of a key of the classes root; empty when there is none.
QString ClassesRootDefault(const QString& subkey) {
  QSettings key(QStringLiteral("HKEY_CLASSES_ROOT\\") + subkey, QSettings::NativeFormat);
  return key.value(QStringLiteral("Default")).toString();
}
#endif

QString DesktopCommand([[maybe_unused]] TLinkShell::TLinkKind kind) {
#ifdef Q_OS_WIN
  if (kind == TLinkShell::TLinkKind::Mail) {
    return ClassesRootDefault(QStringLiteral("mailto\\shell\\open\\command"));
  }
  const QString pageType = ClassesRootDefault(QStringLiteral(".htm"));
  if (pageType.isEmpty()) return {};
  return ClassesRootDefault(pageType + QStringLiteral("\\shell\\open\\command"));
#else
  // Here the desktop opens links only through its URL handler (OpenUrl).
  return {};
#endif
}

// Starts the desktop's program for `kind` with `link` as its last argument. The link
// is passed as one argument of its own, so quotes or blanks in it cannot add options.
void StartWithCommand(TLinkShell::TLinkKind kind, const QString& link) {
  const QString command = TLinkShell::OpenCommand(kind);
  if (command.isEmpty()) return;
  const std::string edited = EditCommandLine(command.toStdString());
  QStringList arguments = QProcess::splitCommand(QString::fromStdString(edited));
  if (arguments.isEmpty()) return;
  const QString program = arguments.takeFirst();
  arguments.append(link);
  TLinkShell::StartProgram(program, arguments);
}

}  // namespace

TLinkShell::TCommandFn TLinkShell::OpenCommand = DesktopCommand;
TLinkShell::TStartFn TLinkShell::StartProgram = [](const QString& program,
                                                   const QStringList& arguments) {
  return QProcess::startDetached(program, arguments);
};

void OpenLink(const QString& caption) {
  if (caption.startsWith(kWebPrefix, Qt::CaseSensitive)) {
    if (TShell::OpenUrl(QUrl(caption))) return;
    StartWithCommand(TLinkShell::TLinkKind::WebPage, caption);
    return;
  }
  if (TShell::OpenUrl(QUrl(QStringLiteral("mailto:") + caption))) return;
  StartWithCommand(TLinkShell::TLinkKind::Mail, caption);
}

THTLabel::THTLabel(QWidget* parent) : QLabel(parent) {
  // The caption comes from a file: never read it as markup.
  setTextFormat(Qt::PlainText);
  setCursor(Qt::PointingHandCursor);
  QPalette colours = palette();
  colours.setColor(QPalette::WindowText, QColor(0, 0, 128));
  setPalette(colours);
  QFont underlined = font();
  underlined.setUnderline(true);
  setFont(underlined);
}

void THTLabel::mousePressEvent(QMouseEvent* event) {
  Pressed = event->button() == Qt::LeftButton;
  QLabel::mousePressEvent(event);
}

void THTLabel::mouseReleaseEvent(QMouseEvent* event) {
  const bool click = Pressed && event->button() == Qt::LeftButton && rect().contains(event->pos());
  Pressed = false;
  QLabel::mouseReleaseEvent(event);
  if (!click) return;
  emit Click();
  OpenLink(text());
}

}  // namespace pellora

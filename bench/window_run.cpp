// Runs one job through the real main window, offscreen, the way the Qt tests drive
// it: loads a job file, applies "--set KEY=VALUE" overrides, presses the start
// button, answers every message box with its first button and leaves once the run
// is over. The per-user store is a throw-away folder, so nothing of the user's
// changes. Exit status 0 when the run's summary says it finished, 1 when it says
// anything else, 64 for bad arguments or a job that does not load.
//
// Usage: pellora-bench-window [--set KEY=VALUE]... JOB_FILE

#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>
#include <string>
#include <vector>

#include "core/settings/settings_file.h"
#include "gui/app/application.h"
#include "gui/app/main_form.h"
#include "gui/app/message_box.h"
#include "gui/download/progress_form.h"

namespace {

constexpr int kBadInput = 64;

void PrintShown(const pellora::TMessageBoxRecorder& boxes) {
  for (const pellora::TMessageBoxRecord& box : boxes.Records()) {
    std::fprintf(stderr, "[%s] %s\n", qPrintable(box.Caption), qPrintable(box.Text));
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  std::vector<std::string> overrides;
  std::string job;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--set" && i + 1 < argc) {
      overrides.push_back(argv[++i]);
    } else if (job.empty() && !arg.starts_with("-")) {
      job = arg;
    } else {
      job.clear();
      break;
    }
  }
  if (job.empty()) {
    std::fprintf(stderr, "usage: pellora-bench-window [--set KEY=VALUE]... JOB_FILE\n");
    return kBadInput;
  }

  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir config;
  if (!config.isValid()) {
    std::fprintf(stderr, "cannot make a folder for the per-user store\n");
    return kBadInput;
  }
  qputenv("XDG_CONFIG_HOME", config.path().toUtf8());

  QApplication app(argc, argv);
  pellora::SetUpApplication(app);
  pellora::TMessageBoxRecorder boxes;
  pellora::TMainForm form;
  form.show();
  form.LoadSettingsFile(QString::fromStdString(job));
  for (const std::string& line : overrides) {
    if (!pellora::ApplySettingsLine(line, form.Settings, form.Model)) {
      std::fprintf(stderr, "unknown setting: %s\n", line.c_str());
      return kBadInput;
    }
  }
  if (!boxes.Records().isEmpty()) {
    PrintShown(boxes);
    return kBadInput;
  }

  form.Button_Start->click();  // returns when the progress window has closed
  while (form.Form_Ope->RunInProgress()) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  }
  const bool finished =
      !boxes.Records().isEmpty() && boxes.Records().back().Caption == QStringLiteral("完了");
  if (!finished) PrintShown(boxes);
  return finished ? 0 : 1;
}

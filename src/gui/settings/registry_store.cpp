#include "gui/settings/registry_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <cstdio>

#include "core/platform/store_location.h"
#include "core/platform/version_info.h"
#include "core/settings/ini_store.h"
#include "core/settings/registry_settings.h"

namespace pellora {

namespace {

// The store, written by the platform's settings writer. It is read by the core's
// reader of the same file, as the front-ends without a window read it: the
// platform's reader would turn a hand-edited value such as a,b*.x into a list,
// which reads as an empty text and would be written back empty.
class TQtSettingsStore : public TSettingsStore {
 public:
  explicit TQtSettingsStore(const QString& path)
      : Reader(TIniStoreReader::FromFile(path.toStdString())), Writer(path, QSettings::IniFormat) {}

  std::optional<std::string> ReadText(const std::string& name) const override {
    return Reader.ReadText(name);
  }
  void WriteText(const std::string& name, const std::string& value) override {
    Writer.setValue(QString::fromStdString(name), QString::fromStdString(value));
  }
  void WriteInteger(const std::string& name, int32_t value) override {
    Writer.setValue(QString::fromStdString(name), value);
  }
  bool Flush() {
    Writer.sync();
    return Writer.status() == QSettings::NoError;
  }

 private:
  TIniStoreReader Reader;
  QSettings Writer;
};

// Creates the store's folder and an empty store readable by this user only, so
// that the settings writer, which keeps the permissions of the file it replaces,
// never exposes a password.
bool EnsurePrivateStore(const QString& path) {
  if (!QDir().mkpath(QFileInfo(path).absolutePath())) return false;
  const int fd = ::open(path.toStdString().c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool ok = ::fchmod(fd, 0600) == 0;
  ::close(fd);
  return ok;
}

QString StorePath() {
  return QString::fromStdString(PerUserStorePath());
}

}  // namespace

void LoadRegistrySettings(TSettings& settings, TSequenceModel& model) {
  const QString path = StorePath();
  EnsurePrivateStore(path);  // a store that cannot be created just stays absent
  const TQtSettingsStore store(path);
  LoadRegistrySettings(store, settings, model);
}

bool SaveRegistrySettings(const TSettings& settings, const TSequenceModel& model) {
  const QString path = StorePath();
  if (!EnsurePrivateStore(path)) {
    std::fprintf(stderr, "pellora: cannot create the settings store %s\n", qPrintable(path));
    return false;
  }
  const QFileInfo program(QCoreApplication::applicationFilePath());
  TQtSettingsStore store(path);
  SaveRegistrySettings(
      store, settings, model,
      {program.fileName().toStdString(), program.absolutePath().toStdString(), ProductVersion()});
  const bool ok = store.Flush();
  ::chmod(path.toStdString().c_str(), 0600);
  if (!ok) std::fprintf(stderr, "pellora: cannot write the settings store %s\n", qPrintable(path));
  return ok;
}

}  // namespace pellora

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
#include "core/settings/registry_settings.h"

namespace pellora {

namespace {

// The store as the settings writer of the platform keeps it.
class TQtSettingsStore : public TSettingsStore {
 public:
  explicit TQtSettingsStore(const QString& path) : Store(path, QSettings::IniFormat) {}

  std::optional<std::string> ReadText(const std::string& name) const override {
    const QString key = QString::fromStdString(name);
    if (!Store.contains(key)) return std::nullopt;
    return Store.value(key).toString().toStdString();
  }
  void WriteText(const std::string& name, const std::string& value) override {
    Store.setValue(QString::fromStdString(name), QString::fromStdString(value));
  }
  void WriteInteger(const std::string& name, int32_t value) override {
    Store.setValue(QString::fromStdString(name), value);
  }
  bool Flush() {
    Store.sync();
    return Store.status() == QSettings::NoError;
  }

 private:
  QSettings Store;
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

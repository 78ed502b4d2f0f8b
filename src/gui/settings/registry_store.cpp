#include "gui/settings/registry_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <cstdio>
#include <string>

#include "core/platform/store_location.h"
#include "core/platform/version_info.h"
#include "core/sequence/sequence_model.h"
#include "core/settings/settings.h"

namespace pellora {

namespace {

struct TTextValue {
  const char* Name;
  TFieldId Field;
};

constexpr TTextValue kFromTexts[] = {{"FromDir", TFieldId::FromDir},
                                     {"FromFile", TFieldId::FromFile},
                                     {"FromStart", TFieldId::FromStart},
                                     {"FromEnd", TFieldId::FromEnd},
                                     {"FromMax", TFieldId::FromMax}};
constexpr TTextValue kToTexts[] = {{"ToDir", TFieldId::ToDir},
                                   {"ToFile", TFieldId::ToFile},
                                   {"ToStart", TFieldId::ToStart},
                                   {"ToEnd", TFieldId::ToEnd},
                                   {"ToMax", TFieldId::ToMax}};

// Creates the store's folder and an empty store readable by this user only, so
// that the settings writer, which keeps the permissions of the file it replaces,
// never exposes a password.
bool EnsurePrivateStore(const QString& path) {
  const QString dir = QFileInfo(path).absolutePath();
  if (!QDir().mkpath(dir)) return false;
  const std::string file = path.toStdString();
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool ok = ::fchmod(fd, 0600) == 0;
  ::close(fd);
  return ok;
}

QString StorePath() { return QString::fromStdString(PerUserStorePath()); }

class TStoreReader {
 public:
  explicit TStoreReader(QSettings& store) : Store(store) {}

  void Text(const char* name, std::string& target) const {
    if (Store.contains(name)) target = Store.value(name).toString().toStdString();
  }
  void Flag(const char* name, bool& target) const {
    int32_t value = 0;
    if (Integer(name, value)) target = value != 0;
  }
  bool Integer(const char* name, int32_t& target) const {
    if (!Store.contains(name)) return false;
    bool ok = false;
    const int value = Store.value(name).toString().toInt(&ok);
    if (ok) target = value;
    return ok;
  }

 private:
  QSettings& Store;
};

void LoadSide(const TStoreReader& reader, QSettings& store, const TTextValue (&texts)[5],
              const char* depthName, TSide side, TSequenceModel& model) {
  for (const TTextValue& value : texts) {
    if (store.contains(value.Name)) {
      model.SetText(value.Field, store.value(value.Name).toString().toStdString());
    }
  }
  int32_t depth = 0;
  if (reader.Integer(depthName, depth)) model.SetDepth(side, depth);
}

void SaveSide(QSettings& store, const TTextValue (&texts)[5], const char* depthName, TSide side,
              const TSequenceModel& model) {
  for (const TTextValue& value : texts) {
    store.setValue(value.Name, QString::fromStdString(model.Text(value.Field)));
  }
  store.setValue(depthName, model.Depth(side));
}

}  // namespace

void LoadRegistrySettings(TSettings& settings, TSequenceModel& model) {
  const QString path = StorePath();
  EnsurePrivateStore(path);  // a store that cannot be created just stays absent
  QSettings store(path, QSettings::IniFormat);
  const TStoreReader read(store);

  // The options come before the fields: setting a field runs the link rules, and
  // with the default options they would overwrite a To end typed under NumPack.
  read.Flag("FileSync", settings.FileSync);
  read.Flag("NumSync", settings.NumSync);
  read.Flag("ShowCaution", settings.ShowCaution);
  read.Flag("NumPack", settings.NumPack);
  read.Flag("SaveErrorMessage", settings.SaveErrorMessage);
  read.Flag("AutoSlash", settings.AutoSlash);
  read.Flag("NotLoadIfExist", settings.NotLoadIfExist);
  read.Integer("TimeOut", settings.TimeOut);
  read.Flag("UseProxyServer", settings.UseProxyServer);
  read.Text("ProxyServer", settings.ProxyServer);
  read.Integer("ProxyPort", settings.ProxyPort);
  read.Flag("RequireAuthorization", settings.RequireAuthorization);
  read.Text("UserID", settings.UserID);
  read.Text("Password", settings.Password);
  read.Flag("PasswordSaving", settings.PasswordSaving);
  read.Text("Agent", settings.Agent);
  read.Text("Referer", settings.Referer);
  read.Text("Mail-Address", settings.MailAddress);
  LoadSide(read, store, kFromTexts, "FromDepth", TSide::From, model);
  LoadSide(read, store, kToTexts, "ToDepth", TSide::To, model);
}

bool SaveRegistrySettings(const TSettings& settings, const TSequenceModel& model) {
  const QString path = StorePath();
  if (!EnsurePrivateStore(path)) {
    std::fprintf(stderr, "pellora: cannot create the settings store %s\n", qPrintable(path));
    return false;
  }
  QSettings store(path, QSettings::IniFormat);
  const auto text = [&store](const char* name, const std::string& value) {
    store.setValue(name, QString::fromStdString(value));
  };
  const auto flag = [&store](const char* name, bool value) { store.setValue(name, value ? 1 : 0); };

  SaveSide(store, kFromTexts, "FromDepth", TSide::From, model);
  SaveSide(store, kToTexts, "ToDepth", TSide::To, model);
  flag("FileSync", settings.FileSync);
  flag("NumSync", settings.NumSync);
  flag("ShowCaution", settings.ShowCaution);
  flag("NumPack", settings.NumPack);
  flag("SaveErrorMessage", settings.SaveErrorMessage);
  flag("AutoSlash", settings.AutoSlash);
  flag("NotLoadIfExist", settings.NotLoadIfExist);
  store.setValue("TimeOut", settings.TimeOut);
  flag("UseProxyServer", settings.UseProxyServer);
  text("ProxyServer", settings.ProxyServer);
  store.setValue("ProxyPort", settings.ProxyPort);
  flag("RequireAuthorization", settings.RequireAuthorization);
  text("UserID", settings.UserID);
  flag("PasswordSaving", settings.PasswordSaving);
  text("Password", settings.PasswordSaving ? settings.Password : std::string());
  text("Agent", settings.Agent);
  text("Referer", settings.Referer);
  text("Mail-Address", settings.MailAddress);
  const QFileInfo program(QCoreApplication::applicationFilePath());
  store.setValue("ProgramFileName", program.fileName());
  store.setValue("ProgramPath", program.absolutePath());
  text("Version", ProductVersion());

  store.sync();
  ::chmod(path.toStdString().c_str(), 0600);
  if (store.status() != QSettings::NoError) {
    std::fprintf(stderr, "pellora: cannot write the settings store %s\n", qPrintable(path));
    return false;
  }
  return true;
}

}  // namespace pellora

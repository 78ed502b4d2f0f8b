#pragma once

#include <QString>
#include <QTemporaryDir>

namespace pellora {

// Gives one test its own per-user store (XDG_CONFIG_HOME) and working folder, and
// puts the environment back afterwards.
class TGuiTestEnv {
 public:
  TGuiTestEnv();
  ~TGuiTestEnv();
  TGuiTestEnv(const TGuiTestEnv&) = delete;
  TGuiTestEnv& operator=(const TGuiTestEnv&) = delete;

  QString ConfigHome() const { return Dir.filePath(QStringLiteral("config")); }
  QString StoreFile() const { return ConfigHome() + QStringLiteral("/Varnel/Pellora.conf"); }
  QString WorkDir() const { return Dir.filePath(QStringLiteral("work")); }

 private:
  QTemporaryDir Dir;
  QByteArray OldConfigHome;
  bool HadConfigHome;
};

}  // namespace pellora

#include "support/gui_test_env.h"

#include <QDir>

namespace pellora {

TGuiTestEnv::TGuiTestEnv()
    : OldConfigHome(qgetenv("XDG_CONFIG_HOME")),
      HadConfigHome(qEnvironmentVariableIsSet("XDG_CONFIG_HOME")) {
  QDir().mkpath(ConfigHome());
  QDir().mkpath(WorkDir());
  qputenv("XDG_CONFIG_HOME", ConfigHome().toUtf8());
}

TGuiTestEnv::~TGuiTestEnv() {
  if (HadConfigHome) {
    qputenv("XDG_CONFIG_HOME", OldConfigHome);
  } else {
    qunsetenv("XDG_CONFIG_HOME");
  }
}

}  // namespace pellora

#include "core/download/run_start.h"

#include <algorithm>

#include "core/net/http_client.h"
#include "core/platform/file_system.h"
#include "core/sequence/sequence_model.h"
#include "core/settings/settings.h"

namespace pellora {

namespace {

constexpr char kRetryText[] =
    "Toの基準フォルダを存在するフォルダに変更してから再実行してください。";
constexpr char kProgramCaption[] = "Pellora";

}  // namespace

bool PrepareRunStart(TSequenceModel& model, const TStartDialogs& dialogs) {
  model.InputError = 0;
  model.NormalizeNumberFields();
  model.CheckFileInt();
  if (model.InputError != 0) return false;
  model.CheckFileValue();
  if (model.InputError != 0) return false;

  const std::string dir = model.To().Dir;
  if (dir.empty()) {
    // Without a base folder the files would land wherever the program was started.
    dialogs.Message(
        "Toの基本フォルダが指定されていません。\n"
        "Toの基本フォルダを入力してから再実行してください。",
        kProgramCaption);
    model.InputError = 1;
    return false;
  }
  if (IsFolder(dir)) return true;
  if (dialogs.AskYesNo(
          "Toの基本フォルダが存在しません。\n" + dir + "\n新しくフォルダを作成しますか？",
          "Toの基本フォルダがありません")) {
    if (CreateFolderPath(dir)) return true;
    dialogs.Message(std::string("フォルダの作成に失敗しました。\n") + kRetryText, kProgramCaption);
  } else {
    dialogs.Message(kRetryText, kProgramCaption);
  }
  model.InputError = 1;
  return false;
}

void ApplyClientSettings(const TSettings& settings, THttpClient& client) {
  client.Proxy = settings.UseProxyServer ? settings.ProxyServer : std::string();
  client.ProxyPort =
      settings.UseProxyServer ? static_cast<uint32_t>(std::clamp(settings.ProxyPort, 0, 65535)) : 0;
  client.HeaderInfo.UserId = settings.RequireAuthorization ? settings.UserID : std::string();
  client.HeaderInfo.Password = settings.RequireAuthorization ? settings.Password : std::string();
  // The client's field names do not match the headers they are sent as.
  client.HeaderInfo.LocalMailAddress = settings.Agent;    // User-Agent
  client.HeaderInfo.LocalProgram = settings.MailAddress;  // From
  client.HeaderInfo.Referer = settings.Referer;
  client.TlsCaFile = settings.TrustedCaFile;
}

}  // namespace pellora

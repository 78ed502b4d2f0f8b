#include "core/download/thread_operation.h"

#include <sys/stat.h>

#include "core/download/run_messages.h"
#include "core/net/http_client.h"
#include "core/platform/file_system.h"
#include "core/platform/temp_file.h"
#include "core/sequence/int_conversion.h"
#include "core/sequence/mapping.h"

namespace pellora {

namespace {

constexpr char kUnknownErrorText[] = "原因不明のエラーです。";
constexpr char kUnknownErrorCaption[] = "エラー";

}  // namespace

TThread_Operation::TThread_Operation(TRunHost& host, THttpClient& client, TSettings& settings)
    : Host(host), Client(client), Settings(settings) {}

TThread_Operation::~TThread_Operation() {
  Join();
}

void TThread_Operation::Start(std::function<void()> onFinished) {
  Worker = std::thread([this, onFinished = std::move(onFinished)] {
    Execute();
    if (onFinished) onFinished();
  });
}

void TThread_Operation::Join() {
  if (Worker.joinable() && Worker.get_id() != std::this_thread::get_id()) Worker.join();
}

void TThread_Operation::Execute() {
  if (SetUp()) {
    // 64-bit counting, so a range that ends at the largest number ends too.
    for (int64_t number = FromStart; number <= FromEnd; ++number) {
      FromNumber = static_cast<int32_t>(number);
      Host.Synchronize([this] {
        FileStep();
        Host.SetGaugePosition(static_cast<int64_t>(FromNumber) + 1);
      });
      if (Terminated()) {
        StoppedEarly = true;
        break;
      }
    }
    MakeSummary();
    Host.Synchronize([this] { Host.ShowMessage(ResultText, ResultCaption, TRunIcon::None); });
  }
  Host.Synchronize([this] { Host.CloseProgress(); });
  Done.store(true);
}

bool TThread_Operation::SetUp() {
  bool ok = true;
  Host.Synchronize([&] {
    const TRunFields fields = Host.ReadFields();
    try {
      FromStart = StrToInt(fields.FromStart);
      ToStart = StrToInt(fields.ToStart);
      FromEnd = StrToInt(fields.FromEnd);
      ToEnd = StrToInt(fields.ToEnd);
    } catch (const EConvertError&) {
      // The start command validated the fields; this is a fault, not an input error.
      Host.ShowMessage(kUnknownErrorText, kUnknownErrorCaption, TRunIcon::Error);
      ok = false;
      return;
    }
    Naming = TRunNames::FromFields(fields, Settings.AutoSlash);
    DownloadCount = 0;
    MissingCount = 0;
    EndedByError = false;
    LastToFolder.clear();
    Host.SetStartCaption("ダウンロード中");
    Host.SetGaugeRange(FromStart, static_cast<int64_t>(FromEnd) + 1);
    Host.SetGaugePosition(FromStart);
  });
  ToNumber = ToStart;
  StoppedEarly = false;
  LastFailed = false;
  return ok;
}

void TThread_Operation::FileStep() {
  const TStepNames names = Naming.Names(FromNumber, ToNumber);
  TStepResult result{FromNumber, ToNumber, names.Url, names.LocalPath};
  Host.ShowCurrentFile(names.Url, names.LocalPath);
  Host.SetGaugePosition(FromNumber);

  if (Naming.ToMaxValid && names.ToFolder != LastToFolder) {
    CreateLocalFolders(names.ToFolder);
    LastToFolder = names.ToFolder;
  }

  if (Settings.NotLoadIfExist && PathExists(names.LocalPath)) {
    ToNumber = WrapAdd(ToNumber, 1);
    result.Outcome = TStepOutcome::Skipped;
  } else {
    result.Outcome = Transfer(names);
    result.ReplyCode = Client.ReplyCode;
    result.Bytes = Client.ReceivedCount;
  }
  Host.StepFinished(result);
}

TStepOutcome TThread_Operation::Transfer(const TStepNames& names) {
  try {
    TTempFile temp;
    LastFailed = false;
    Client.Body = temp.Path();
    Client.Get(RequestUrl(names.Url));
    // Only the start of the body is shown, however large the file.
    const std::string bodyStart =
        Host.ShowsReplyBody() ? ReadFilePrefix(temp.Path(), kBodyPreviewBytes) : std::string();
    try {
      if (Client.ReplyCode == 200) {
        if (StoreFileAs(temp.Path(), names.LocalPath, true)) temp.Release();
      } else {
        LastFailed = true;
        MissingCount = WrapAdd(MissingCount, 1);
        if (Settings.SaveErrorMessage && StoreFileAs(temp.Path(), names.LocalPath, true)) {
          temp.Release();
        }
      }
    } catch (const EFileError& error) {
      // Not stored means not downloaded: say so and stop, as after a failed request.
      Host.ShowReply(Client.Header, bodyStart);
      StepFailed("ファイルを保存できませんでした。\n" + names.LocalPath + "\n" +
                     DescribeFileError(error.Error),
                 "保存エラー");
      return TStepOutcome::Failed;
    }
    if (LastFailed && Settings.ShowCaution) {
      switch (Host.AskAfterMissingFile(names.Url)) {
        case TErrorChoice::Stop:
          Terminate();
          break;
        case TErrorChoice::IgnoreFromNowOn:
          Settings.ShowCaution = false;
          break;
        case TErrorChoice::Skip:
        case TErrorChoice::Closed:
          break;
      }
    }
    Host.ShowReply(Client.Header, bodyStart);
  } catch (const ECertificateError& error) {
    const TRunMessage message = CertificateErrorMessage(FromNumber, error);
    StepFailed(message.Text, message.Caption);
    return TStepOutcome::Failed;
  } catch (const ESockError& error) {
    const TRunMessage message =
        ConnectionErrorMessage(FromNumber, error.what(), Client.TimedOut() ? Client.TimeOut : 0,
                               Settings.UseProxyServer);
    StepFailed(message.Text, message.Caption);
    return TStepOutcome::Failed;
  } catch (const std::exception&) {
    StepFailed(kUnknownErrorText, kUnknownErrorCaption);
    return TStepOutcome::Failed;
  }

  if (!LastFailed) DownloadCount = WrapAdd(DownloadCount, 1);
  if (!(Settings.NumPack && LastFailed)) ToNumber = WrapAdd(ToNumber, 1);
  return LastFailed ? TStepOutcome::Missing : TStepOutcome::Stored;
}

void TThread_Operation::StepFailed(const std::string& text, const std::string& caption) {
  Host.ShowMessage(text, caption, TRunIcon::Error);
  Terminate();
  LastFailed = true;
  EndedByError = true;
}

void TThread_Operation::CreateLocalFolders(const std::string& folderPath) {
  // Outer levels first; an existing folder or a failure is left to the store step.
  for (size_t pos = 0; pos < folderPath.size(); ++pos) {
    if (std::string_view(folderPath).substr(pos).starts_with(kLocalSeparator)) {
      ::mkdir((Naming.ToBase + folderPath.substr(0, pos + kLocalSeparator.size())).c_str(), 0777);
    }
  }
}

void TThread_Operation::MakeSummary() {
  const std::string count = "\n\nダウンロードファイル数 : " + IntToStr(DownloadCount);
  if (StoppedEarly) {
    const int32_t lastTo = LastFailed ? WrapSub(ToNumber, 1) : ToNumber;
    ResultText = "ダウンロードを強制終了しました。" + count + "\n\nFrom : " + IntToStr(FromNumber) +
                 " , To : " + IntToStr(lastTo) + "で中断しました。";
    ResultCaption = "強制終了";
  } else {
    ResultText = "ダウンロードが終わりました。" + count;
    ResultCaption = "完了";
  }
}

}  // namespace pellora

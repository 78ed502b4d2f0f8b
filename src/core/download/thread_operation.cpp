#include "core/download/thread_operation.h"

#include <sys/stat.h>

#include <exception>
#include <optional>

#include "core/download/run_messages.h"
#include "core/net/http_client.h"
#include "core/net/sock_error.h"
#include "core/platform/file_system.h"
#include "core/platform/temp_file.h"
#include "core/sequence/int_conversion.h"
#include "core/sequence/mapping.h"

namespace pellora {

namespace {

constexpr char kUnknownErrorText[] = "原因不明のエラーです。";
constexpr char kUnknownErrorCaption[] = "エラー";

TRunEnd EndReasonOf(const std::exception_ptr& failure) {
  try {
    if (failure) std::rethrow_exception(failure);
  } catch (const EFileError&) {
    return TRunEnd::FileError;
  } catch (const ESockError&) {
    return TRunEnd::ConnectionError;
  } catch (...) {
  }
  return TRunEnd::UnknownError;
}

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
        if (EndReason == TRunEnd::Finished) EndReason = TRunEnd::StoppedByUser;
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
      EndReason = TRunEnd::UnknownError;
      ok = false;
      return;
    }
    Naming = TRunNames::FromFields(fields, Settings.AutoSlash);
    DownloadCount = 0;
    MissingCount = 0;
    SkippedCount = 0;
    EndReason = TRunEnd::Finished;
    LastToFolder.clear();
    Leftovers = {};
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
    SkippedCount = WrapAdd(SkippedCount, 1);
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
    std::string bodyStart;
    std::optional<TTempFile> temp;
    try {
      temp.emplace(names.LocalPath);
      LastFailed = false;
      Client.Body = temp->Path();
      Client.Get(RequestUrl(names.Url));
      // Only the start of the body is shown, however large the file.
      if (Host.ShowsReplyBody()) bodyStart = ReadFilePrefix(temp->Path(), kBodyPreviewBytes);
      if (Client.ReplyCode == 200) {
        temp->Commit(Leftovers);
      } else {
        LastFailed = true;
        MissingCount = WrapAdd(MissingCount, 1);
        if (Settings.SaveErrorMessage) temp->Commit(Leftovers);
      }
      temp.reset();
    } catch (const EFileError& error) {
      // A write that failed during the transfer does not say why: ask the file.
      const int reason = error.Error != 0 ? error.Error : temp ? temp->WriteError() : 0;
      temp.reset();
      Host.ShowReply(Client.Header, bodyStart);
      StoreFailed(names.LocalPath, reason);
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
    const TRunMessage message = ConnectionErrorMessage(
        FromNumber, error.what(), Client.TimedOut() ? Client.TimeOut : 0, Settings.UseProxyServer);
    StepFailed(message.Text, message.Caption);
    return TStepOutcome::Failed;
  } catch (const std::exception& error) {
    // The client's own words ("'99999' is not a valid port number") say what to fix.
    StepFailed(std::string(kUnknownErrorText) + "\n\n詳細 : " + error.what(), kUnknownErrorCaption);
    return TStepOutcome::Failed;
  }

  if (!LastFailed) DownloadCount = WrapAdd(DownloadCount, 1);
  if (!(Settings.NumPack && LastFailed)) ToNumber = WrapAdd(ToNumber, 1);
  return LastFailed ? TStepOutcome::Missing : TStepOutcome::Stored;
}

void TThread_Operation::Abort() {
  AbortRequested.store(true);
  Terminate();
  Client.Abort();
}

void TThread_Operation::StepFailed(const std::string& text, const std::string& caption) {
  // What an abort interrupts is no error: the user asked for the stop.
  EndReason =
      AbortRequested.load() ? TRunEnd::StoppedByUser : EndReasonOf(std::current_exception());
  if (EndReason != TRunEnd::StoppedByUser) Host.ShowMessage(text, caption, TRunIcon::Error);
  Terminate();
  LastFailed = true;
}

void TThread_Operation::StoreFailed(const std::string& localPath, int error) {
  // Not stored means not downloaded: say so and stop, as after a failed request.
  StepFailed("ファイルを保存できませんでした。\n" + localPath + "\n" +
                 (error != 0 ? DescribeFileError(error) : "書き込みに失敗しました。"),
             "保存エラー");
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

#include "core/download/thread_operation.h"

#include <sys/stat.h>

#include <algorithm>
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
    {
      TFetcher fetcher(ClientSetup, FetchOptions, AbortRequested);
      Sequence(fetcher);
      fetcher.AbortAll();  // what was fetched ahead of a stop is not stored
    }
    MakeSummary();
    Host.Synchronize([this] { Host.ShowMessage(ResultText, ResultCaption, TRunIcon::None); });
  }
  Host.Synchronize([this] { Host.CloseProgress(); });
  Done.store(true);
}

void TThread_Operation::Sequence(TFetcher& fetcher) {
  Submitted.clear();
  NextToSubmit = FromStart;
  // 64-bit counting, so a range that ends at the largest number ends too.
  for (int64_t number = FromStart; number <= FromEnd; ++number) {
    FromNumber = static_cast<int32_t>(number);
    // Up to one number per connection is on its way, the one to store first included.
    for (; NextToSubmit <= FromEnd && NextToSubmit < number + FetchOptions.Connections;
         ++NextToSubmit) {
      SubmitAhead(fetcher, static_cast<int32_t>(NextToSubmit));
    }
    FileStep(fetcher);
    if (Terminated()) {
      StoppedEarly = true;
      if (EndReason == TRunEnd::Finished) EndReason = TRunEnd::StoppedByUser;
      break;
    }
    if (StopAfterMissing > 0 && MissingInARow >= StopAfterMissing) {
      EndedByMissingRun = true;
      break;
    }
  }
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
    // What the fetch threads and the sequencing need, read here on the host's thread.
    ClientSetup = TClientSetup::Of(Client);
    FetchOptions.Connections = std::clamp(Settings.Connections, 1, 16);
    FetchOptions.Retries = std::clamp(Settings.Retries, 0, 10);
    FetchOptions.RequestIntervalMs = std::max(Settings.RequestInterval, 0);
    FetchOptions.KeepBodyStart = Host.ShowsReplyBody();
    StopAfterMissing = std::max(Settings.StopAfterMissing, 0);
    SkipExisting = Settings.NotLoadIfExist;
    PackNumbers = Settings.NumPack;
    DownloadCount = 0;
    MissingCount = 0;
    SkippedCount = 0;
    MissingInARow = 0;
    EndedByMissingRun = false;
    EndReason = TRunEnd::Finished;
    LastToFolder.clear();
    LastSubmitFolder.clear();
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

void TThread_Operation::SubmitAhead(TFetcher& fetcher, int32_t number) {
  // The local name it gets if every number before it is stored. That is its name
  // for sure when it is the next to store, or when missing files use up their
  // local numbers too; otherwise it is only a guess until its turn comes.
  const int32_t offset = static_cast<int32_t>(static_cast<int64_t>(number) - FromNumber);
  const TStepNames names = Naming.Names(number, WrapAdd(ToNumber, offset));
  const bool certain = offset == 0 || !PackNumbers;
  if (certain) {
    // No request for a file that will be skipped.
    if (SkipExisting && PathExists(names.LocalPath)) return;
    if (Naming.ToMaxValid && names.ToFolder != LastSubmitFolder) {
      CreateLocalFolders(names.ToFolder);
      LastSubmitFolder = names.ToFolder;
    }
    fetcher.Submit({number, names.Url, names.LocalPath, true});
  } else {
    // Kept in the To base folder (the file system of every numbered sub-folder)
    // until its name is known.
    const std::string fileName =
        names.LocalPath.substr(Naming.ToBase.size() + names.ToFolder.size());
    fetcher.Submit({number, names.Url, Naming.ToBase + fileName, false});
  }
  Submitted.insert(number);
}

void TThread_Operation::FileStep(TFetcher& fetcher) {
  const TStepNames names = Naming.Names(FromNumber, ToNumber);
  Host.Synchronize([&] {
    Host.ShowCurrentFile(names.Url, names.LocalPath);
    Host.SetGaugePosition(FromNumber);
    if (Naming.ToMaxValid && names.ToFolder != LastToFolder) {
      CreateLocalFolders(names.ToFolder);
      LastToFolder = names.ToFolder;
    }
  });

  const bool skip = SkipExisting && PathExists(names.LocalPath);
  if (!skip && Submitted.count(FromNumber) == 0) SubmitAhead(fetcher, FromNumber);
  std::optional<TFetchResult> fetched;
  if (Submitted.erase(FromNumber) > 0) {
    fetched = fetcher.Take(
        FromNumber, [this] { Host.Idle(); },
        [this](const TRetryNotice& notice) { Host.Synchronize([&] { Host.ShowRetry(notice); }); });
  }
  if (skip) fetched.reset();  // fetched ahead of its turn, but the file is there now

  Host.Synchronize([&] {
    TStepResult result{FromNumber, ToNumber, names.Url, names.LocalPath};
    if (skip) {
      ToNumber = WrapAdd(ToNumber, 1);
      SkippedCount = WrapAdd(SkippedCount, 1);
      MissingInARow = 0;
      result.Outcome = TStepOutcome::Skipped;
    } else {
      result.ReplyCode = fetched->ReplyCode;
      result.Bytes = fetched->Bytes;
      result.Outcome = Commit(names, *fetched);
      MissingInARow = result.Outcome == TStepOutcome::Missing ? WrapAdd(MissingInARow, 1) : 0;
    }
    Host.StepFinished(result);
    Host.SetGaugePosition(static_cast<int64_t>(FromNumber) + 1);
  });
}

TStepOutcome TThread_Operation::Commit(const TStepNames& names, TFetchResult& fetched) {
  try {
    try {
      if (fetched.Failure) std::rethrow_exception(fetched.Failure);
      LastFailed = false;
      if (fetched.ReplyCode == 200) {
        fetched.Temp->CommitAs(names.LocalPath, Leftovers);
      } else {
        LastFailed = true;
        MissingCount = WrapAdd(MissingCount, 1);
        if (Settings.SaveErrorMessage) fetched.Temp->CommitAs(names.LocalPath, Leftovers);
      }
      fetched.Temp.reset();
    } catch (const EFileError& error) {
      // A write that failed during the transfer does not say why: ask the file.
      const int reason = error.Error != 0 ? error.Error
                         : fetched.Temp   ? fetched.Temp->WriteError()
                                          : 0;
      fetched.Temp.reset();
      Host.ShowReply(fetched.Header, fetched.BodyStart);
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
    Host.ShowReply(fetched.Header, fetched.BodyStart);
  } catch (const ECertificateError& error) {
    const TRunMessage message = CertificateErrorMessage(FromNumber, error);
    StepFailed(message.Text, message.Caption);
    return TStepOutcome::Failed;
  } catch (const ESockError& error) {
    const TRunMessage message = ConnectionErrorMessage(
        FromNumber, error.what(), fetched.TimedOutAfterMs, Settings.UseProxyServer);
    StepFailed(message.Text, message.Caption);
    return TStepOutcome::Failed;
  } catch (const std::exception& error) {
    // The client's own words ("'99999' is not a valid port number") say what to fix.
    StepFailed(std::string(kUnknownErrorText) + "\n\n詳細 : " + error.what(), kUnknownErrorCaption);
    return TStepOutcome::Failed;
  }

  if (!LastFailed) DownloadCount = WrapAdd(DownloadCount, 1);
  if (!(PackNumbers && LastFailed)) ToNumber = WrapAdd(ToNumber, 1);
  return LastFailed ? TStepOutcome::Missing : TStepOutcome::Stored;
}

void TThread_Operation::Abort() {
  AbortRequested.store(true);
  Terminate();
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
    if (EndedByMissingRun) {
      ResultText += "\n\n" + IntToStr(StopAfterMissing) +
                    " 個続けてファイルが存在しなかったため、From : " + IntToStr(FromNumber) +
                    " で終了しました。";
    }
    ResultCaption = "完了";
  }
}

}  // namespace pellora

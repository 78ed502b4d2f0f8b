#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

#include <functional>
#include <memory>

#include "core/download/run_host.h"
#include "core/net/http_client.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace pellora {

struct TSettings;
class TSequenceModel;
class TCGauge;
class TThread_Operation;

// The progress window of a run. It owns the HTTP client, starts the worker when
// it is shown and is the worker's host: every synchronized call of the worker
// runs here, on the GUI thread.
class TForm_Ope : public QDialog, private TRunHost {
  Q_OBJECT

 public:
  // Least time between two refreshes of the current file and the gauge, and
  // between two of the reply memos: laying out their text costs far more than a
  // small file takes on a fast link, and a header that changes faster than this
  // cannot be read anyway.
  static constexpr int kRefreshMs = 50;
  static constexpr int kReplyRefreshMs = 250;

  // `setStartCaption` changes the main window's start button.
  TForm_Ope(TSettings& settings, const TSequenceModel& model,
            std::function<void(const QString&)> setStartCaption, QWidget* parent = nullptr);
  ~TForm_Ope() override;

  QLabel* Label1;
  QLabel* Label_Retry;  // beside "From :" while the current file waits for a retry
  QLabel* Label_From;
  QLabel* Label3;
  QLabel* Label_To;
  QLabel* Label2;
  QPlainTextEdit* Memo_Header;
  QLabel* Label4;
  QPlainTextEdit* Memo_Body;
  TCGauge* CGauge1;
  QPushButton* Button_Stop;
  THttpClient Client;
  std::unique_ptr<TThread_Operation> Worker;

  // A worker exists: a run is going on or is just ending.
  bool RunInProgress() const { return Worker != nullptr; }
  // The host the worker reports to (tests drive it directly).
  TRunHost& Host() { return *this; }
  // Shows everything the run last reported now instead of at the next refresh.
  void Refresh();

  void Button_StopClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void FormShow();
  void FormClose();
  // Closes now, or after the synchronized call in progress when there is one.
  void RequestClose();
  void FinishWorker();
  void ScheduleRefresh();
  // The timer's refresh: the file and the gauge, the memos when their turn has come.
  void RefreshDue();
  void ShowLatest(bool withReply);

  // TRunHost
  void Synchronize(const std::function<void()>& call) override;
  TRunFields ReadFields() override;
  void SetStartCaption(const std::string& caption) override;
  void SetGaugeRange(int64_t minimum, int64_t maximum) override;
  void SetGaugePosition(int64_t position) override;
  void ShowCurrentFile(const std::string& url, const std::string& localPath) override;
  void ShowReply(const std::string& header, const std::string& bodyStart) override;
  TErrorChoice AskAfterMissingFile(const std::string& url) override;
  void ShowMessage(const std::string& text, const std::string& caption, TRunIcon icon) override;
  void CloseProgress() override;
  void ShowRetry(const TRetryNotice& notice) override;
  void StepFinished(const TStepResult& result) override;

  // What the run last reported, kept until the next refresh shows it.
  struct TShown {
    std::string Url, LocalPath;
    QString RetryNote, RetryReason;  // empty when the file is not waiting for a retry
    std::string Header, BodyStart;
    int64_t GaugeMin = 0, GaugeMax = 100, GaugePosition = 0;
    bool FileChanged = false, ReplyChanged = false, GaugeChanged = false;
  };
  TShown Latest;
  QTimer RefreshTimer;
  QElapsedTimer SinceRefresh;
  QElapsedTimer SinceReplyShown;

  TSettings& Settings;
  const TSequenceModel& Model;
  std::function<void(const QString&)> StartCaption;
  bool InSynchronizedCall = false;
  bool FileInProgress = false;  // between a file's display and the end of its step
  bool ClosePending = false;
};

}  // namespace pellora

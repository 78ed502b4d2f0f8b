#include "gui/download/progress_form.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>

#include "core/download/thread_operation.h"
#include "core/platform/text_codec.h"
#include "core/sequence/sequence_model.h"
#include "core/settings/settings.h"
#include "gui/app/form_font.h"
#include "gui/app/form_position.h"
#include "gui/app/message_box.h"
#include "gui/download/error_dialog.h"
#include "gui/download/gauge.h"
#include "gui/download/retry_note.h"

namespace pellora {

namespace {

QPlainTextEdit* Memo(QWidget* parent) {
  auto* memo = new QPlainTextEdit(parent);
  memo->setReadOnly(true);
  memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  QPalette face = memo->palette();
  face.setColor(QPalette::Base, face.color(QPalette::Window));
  memo->setPalette(face);
  return memo;
}

QLabel* PathLabel(QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setTextFormat(Qt::PlainText);
  label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  return label;
}

}  // namespace

TForm_Ope::TForm_Ope(TSettings& settings, const TSequenceModel& model,
                     std::function<void(const QString&)> setStartCaption, QWidget* parent)
    : QDialog(parent), Settings(settings), Model(model), StartCaption(std::move(setStartCaption)) {
  setWindowTitle(QStringLiteral("ファイルのダウンロード中"));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  ApplyFormFont(this);

  Label1 = new QLabel(QStringLiteral("From :"), this);
  Label_Retry = PathLabel(this);
  Label_From = PathLabel(this);
  Label3 = new QLabel(QStringLiteral("To :"), this);
  Label_To = PathLabel(this);
  Label2 = new QLabel(QStringLiteral("ヘッダ情報 :"), this);
  Memo_Header = Memo(this);
  Label4 = new QLabel(QStringLiteral("ファイルデータ :"), this);
  Memo_Body = Memo(this);
  CGauge1 = new TCGauge(this);
  Button_Stop = new QPushButton(QStringLiteral("強制終了"), this);
  Button_Stop->setFixedSize(75, 25);

  auto* layout = new QGridLayout(this);
  layout->setContentsMargins(8, 12, 8, 8);
  layout->setColumnMinimumWidth(0, 24);
  auto* fromLine = new QHBoxLayout;
  fromLine->addWidget(Label1);
  fromLine->addWidget(Label_Retry, 1);
  layout->addLayout(fromLine, 0, 0, 1, 2);
  layout->addWidget(Label_From, 1, 1);
  layout->addWidget(Label3, 2, 0, 1, 2);
  layout->addWidget(Label_To, 3, 1);
  layout->addWidget(Label2, 4, 0, 1, 2);
  layout->addWidget(Memo_Header, 5, 0, 1, 2);
  layout->addWidget(Label4, 6, 0, 1, 2);
  layout->addWidget(Memo_Body, 7, 0, 1, 2);
  layout->addWidget(CGauge1, 8, 0, 1, 2);
  layout->addWidget(Button_Stop, 9, 0, 1, 2, Qt::AlignHCenter);
  layout->setRowStretch(5, 89);
  layout->setRowStretch(7, 105);
  layout->setColumnStretch(1, 1);
  Button_Stop->setFocus();
  resize(423, 425);
  CentreOnScreen(this);

  Client.TimeOut = 10000;
  Client.InputFileMode = true;  // reply bodies go to the file named by Body
  Client.OutputFileMode = false;
  Client.HeaderInfo.LocalMailAddress = "Pellora";
  // The run's transfers use clients of their own, set up like this one, on threads
  // of their own: this thread stays free for the windows while they wait.

  connect(Button_Stop, &QPushButton::clicked, this, &TForm_Ope::Button_StopClick);
  RefreshTimer.setSingleShot(true);
  connect(&RefreshTimer, &QTimer::timeout, this, &TForm_Ope::RefreshDue);
}

TForm_Ope::~TForm_Ope() {
  if (Worker) {
    // Only reachable when the program ends during a run: let the worker finish its
    // synchronized calls here instead of waiting on an event loop that is gone.
    Worker->Abort();
    while (!Worker->Finished()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    Worker->Join();
  }
}

void TForm_Ope::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TForm_Ope::FormShow() {
  setWindowState(windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
  // A negative stored time-out would read as an endless one: treat it as none.
  Client.TimeOut = static_cast<uint32_t>(std::max(Settings.TimeOut, 0));
  Latest.Header.clear();
  Latest.BodyStart.clear();
  Latest.ReplyChanged = false;
  Memo_Header->clear();
  Memo_Body->clear();
  if (Worker) return;  // the previous run is still ending
  FileInProgress = false;
  Worker = std::make_unique<TThread_Operation>(static_cast<TRunHost&>(*this), Client, Settings);
  Worker->Start(
      [this] { QMetaObject::invokeMethod(this, &TForm_Ope::FinishWorker, Qt::QueuedConnection); });
}

void TForm_Ope::FinishWorker() {
  if (!Worker) return;
  Worker->Join();
  Worker.reset();
}

void TForm_Ope::Button_StopClick() {
  RequestClose();
}

void TForm_Ope::RequestClose() {
  // A stop during a transfer takes effect once its file step is complete.
  if (InSynchronizedCall || FileInProgress) {
    ClosePending = true;
    return;
  }
  if (isVisible()) {
    close();
  } else {
    FormClose();
  }
}

void TForm_Ope::closeEvent(QCloseEvent* event) {
  if (InSynchronizedCall || FileInProgress) {
    ClosePending = true;
    event->ignore();
    return;
  }
  FormClose();
  QDialog::closeEvent(event);
}

void TForm_Ope::reject() {
  RequestClose();
}

void TForm_Ope::keyPressEvent(QKeyEvent* event) {
  // Escape does not stop a run: only the stop button and the close box do.
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TForm_Ope::FormClose() {
  Refresh();  // the window keeps the last file of the run
  if (Worker && !Worker->Finished()) Worker->Terminate();
  Client.Abort();
  if (isVisible()) done(QDialog::Rejected);
}

void TForm_Ope::Synchronize(const std::function<void()>& call) {
  const auto run = [this, &call] {
    InSynchronizedCall = true;
    call();
    InSynchronizedCall = false;
    if (ClosePending) {
      ClosePending = false;
      RequestClose();
    }
  };
  if (QThread::currentThread() == thread()) {
    run();
  } else {
    QMetaObject::invokeMethod(this, run, Qt::BlockingQueuedConnection);
  }
}

TRunFields TForm_Ope::ReadFields() {
  return RunFieldsOf(Model);
}

void TForm_Ope::SetStartCaption(const std::string& caption) {
  if (StartCaption) StartCaption(QString::fromStdString(caption));
}

// The run's reports only update `Latest`; the widgets follow at the next refresh.
void TForm_Ope::SetGaugeRange(int64_t minimum, int64_t maximum) {
  Latest.GaugeMin = minimum;
  Latest.GaugeMax = maximum;
  Latest.GaugeChanged = true;
  ScheduleRefresh();
}

void TForm_Ope::SetGaugePosition(int64_t position) {
  Latest.GaugePosition = position;
  Latest.GaugeChanged = true;
  ScheduleRefresh();
}

void TForm_Ope::ShowCurrentFile(const std::string& url, const std::string& localPath) {
  // From here until the file is stored the run waits for its transfer outside a
  // synchronized call; that wait belongs to the file's step all the same.
  FileInProgress = true;
  Latest.Url = url;
  Latest.LocalPath = localPath;
  Latest.RetryNote.clear();
  Latest.RetryReason.clear();
  Latest.FileChanged = true;
  ScheduleRefresh();
}

void TForm_Ope::ShowReply(const std::string& header, const std::string& bodyStart) {
  Latest.Header = header;
  Latest.BodyStart = bodyStart;
  Latest.ReplyChanged = true;
  ScheduleRefresh();
}

void TForm_Ope::ShowRetry(const TRetryNotice& notice) {
  Latest.RetryNote = RetryNoteText(notice, Latest.Url);
  Latest.RetryReason = QString::fromStdString(notice.Reason);
  Latest.FileChanged = true;
  ScheduleRefresh();
}

void TForm_Ope::ScheduleRefresh() {
  if (RefreshTimer.isActive()) return;
  const qint64 since = SinceRefresh.isValid() ? SinceRefresh.elapsed() : kRefreshMs;
  RefreshTimer.start(static_cast<int>(std::max<qint64>(0, kRefreshMs - since)));
}

void TForm_Ope::Refresh() {
  RefreshTimer.stop();
  ShowLatest(true);
}

void TForm_Ope::RefreshDue() {
  ShowLatest(!SinceReplyShown.isValid() || SinceReplyShown.elapsed() >= kReplyRefreshMs);
  if (Latest.ReplyChanged) ScheduleRefresh();  // the memos follow when their turn comes
}

void TForm_Ope::ShowLatest(bool withReply) {
  SinceRefresh.start();
  if (Latest.FileChanged) {
    Latest.FileChanged = false;
    Label_From->setText(QString::fromStdString(Latest.Url));
    Label_To->setText(QString::fromStdString(Latest.LocalPath));
    Label_Retry->setText(Latest.RetryNote);
    Label_Retry->setToolTip(Latest.RetryReason);
  }
  if (withReply && Latest.ReplyChanged) {
    Latest.ReplyChanged = false;
    SinceReplyShown.start();
    Memo_Header->setPlainText(QString::fromStdString(Latest.Header));
    Memo_Body->setPlainText(QString::fromStdString(TextFromBytes(Latest.BodyStart)));
  }
  if (Latest.GaugeChanged) {
    Latest.GaugeChanged = false;
    CGauge1->SetMaxValue(Latest.GaugeMax);
    CGauge1->SetMinValue(Latest.GaugeMin);
    CGauge1->SetProgress(Latest.GaugePosition);
  }
}

TErrorChoice TForm_Ope::AskAfterMissingFile(const std::string&) {
  Refresh();  // the dialog names the file the window shows
  TForm_FromErrDlg dialog(Label_From->text(), this);
  switch (dialog.exec()) {
    case TForm_FromErrDlg::ResultStop:
      return TErrorChoice::Stop;
    case TForm_FromErrDlg::ResultIgnore:
      return TErrorChoice::IgnoreFromNowOn;
    case TForm_FromErrDlg::ResultSkip:
      return TErrorChoice::Skip;
    default:
      return TErrorChoice::Closed;
  }
}

void TForm_Ope::ShowMessage(const std::string& text, const std::string& caption, TRunIcon icon) {
  Refresh();  // the summary comes with the run's last file on show
  // Over the main window once the progress window is gone.
  QWidget* owner = isVisible() ? static_cast<QWidget*>(this) : parentWidget();
  ShowMessageBox(owner, QString::fromStdString(text), QString::fromStdString(caption),
                 QMessageBox::Ok, icon == TRunIcon::Error ? TMsgIcon::Error : TMsgIcon::None);
}

void TForm_Ope::StepFinished(const TStepResult&) {
  FileInProgress = false;
}

void TForm_Ope::CloseProgress() {
  FileInProgress = false;
  Refresh();
  RequestClose();
}

}  // namespace pellora

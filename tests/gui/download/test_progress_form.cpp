#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <filesystem>
#include <map>
#include <memory>

#include "gui/app/main_form.h"
#include "gui/app/message_box.h"
#include "gui/download/error_dialog.h"
#include "gui/download/gauge.h"
#include "gui/download/progress_form.h"
#include "gui/download/retry_note.h"
#include "net/test_http_server.h"
#include "support/gui_test_env.h"

using namespace pellora;
using pellora::testing::Reply;
using pellora::testing::TestConnection;
using pellora::testing::TestHttpServer;

class ProgressFormTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<TGuiTestEnv> Env;
  std::unique_ptr<TMessageBoxRecorder> Boxes;
  std::unique_ptr<TestHttpServer> Server;
  std::unique_ptr<TMainForm> Form;
  std::map<std::string, std::string> Statuses;
  std::string SlowPath;

  QString ToDir() const { return Env->WorkDir() + "/to"; }
  std::string Local(const char* name) const {
    return pellora::testing::ReadFileBytes((ToDir() + "/" + name).toStdString());
  }
  void Job(const QString& start, const QString& end) {
    Form->Edit_FromDir->setText(QString::fromStdString(Server->Origin() + "/d"));
    Form->Edit_FromFile->setText(QStringLiteral("f*.txt"));
    Form->Edit_FromStart->setText(start);
    Form->Edit_FromEnd->setText(end);
    Form->Edit_ToDir->setText(ToDir());
  }
  // The run is over when its worker is gone.
  bool RunEnded() {
    return QTest::qWaitFor([this] { return !Form->Form_Ope->RunInProgress(); }, 10000);
  }

 private slots:
  void init() {
    Env = std::make_unique<TGuiTestEnv>();
    Boxes = std::make_unique<TMessageBoxRecorder>();
    Statuses.clear();
    SlowPath.clear();
    Server = std::make_unique<TestHttpServer>([this](TestConnection& connection) {
      const std::string request = connection.ReadRequest();
      const size_t start = request.find(' ') + 1;
      const std::string path = request.substr(start, request.find(' ', start) - start);
      if (path == SlowPath) connection.Pause(std::chrono::milliseconds(800));
      const auto status = Statuses.find(path);
      connection.Send(status != Statuses.end()
                          ? Reply(status->second, {}, "error " + path)
                          : Reply("200 OK", {"X-Test: yes"}, "body of " + path));
    });
    Form = std::make_unique<TMainForm>();
    Form->show();
  }
  void cleanup() {
    Form.reset();
    Server.reset();
    Boxes.reset();
    Env.reset();
  }

  void wholeRunStoresTheFilesAndSummarises() {
    QDir().mkpath(ToDir());
    Job("1", "3");
    Form->Button_Start->click();
    QVERIFY(RunEnded());
    QCOMPARE(Local("f1.txt"), std::string("body of /d/f1.txt"));
    QCOMPARE(Local("f3.txt"), std::string("body of /d/f3.txt"));
    QCOMPARE(Boxes->Records().size(), 1);
    QCOMPARE(Boxes->Records()[0].Caption, QStringLiteral("完了"));
    QCOMPARE(Boxes->Records()[0].Text,
             QStringLiteral("ダウンロードが終わりました。\n\nダウンロードファイル数 : 3"));
    QCOMPARE(Form->Button_Start->text(), QStringLiteral("ダウンロード開始(&D)"));
    QVERIFY(!Form->Form_Ope->isVisible());
    QCOMPARE(Form->Form_Ope->CGauge1->PercentDone(), 100);
    QVERIFY(Form->Form_Ope->Memo_Header->toPlainText().contains("X-Test: yes"));
    QCOMPARE(Form->Form_Ope->Memo_Body->toPlainText(), QStringLiteral("body of /d/f3.txt"));
    QVERIFY(Form->Form_Ope->Memo_Body->isReadOnly());
  }

  void missingToFolderIsOfferedAndEmptyBaseRefused() {
    Job("1", "1");
    Form->Edit_ToDir->setText(ToDir() + "/a/b");
    Boxes->QueueAnswer(QMessageBox::No);
    Form->Button_Start->click();
    QCOMPARE(Boxes->Records().size(), 2);
    QCOMPARE(Boxes->Records()[0].Caption, QStringLiteral("Toの基本フォルダがありません"));
    QCOMPARE(Boxes->Records()[0].Text, "Toの基本フォルダが存在しません。\n" + ToDir() +
                                           "/a/b\n新しくフォルダを作成しますか？");
    QCOMPARE(Boxes->Records()[0].Icon, TMsgIcon::Exclamation);
    QCOMPARE(
        Boxes->Records()[1].Text,
        QStringLiteral("Toの基準フォルダを存在するフォルダに変更してから再実行してください。"));
    QVERIFY(!QFileInfo::exists(ToDir()));
    QVERIFY(Server->Requests().empty());

    Boxes->Clear();
    Boxes->QueueAnswer(QMessageBox::Yes);
    Form->Button_Start->click();
    QVERIFY(RunEnded());
    QVERIFY(QFileInfo(ToDir() + "/a/b").isDir());
    QCOMPARE(Boxes->Records().back().Caption, QStringLiteral("完了"));

    Boxes->Clear();
    Form->Edit_ToDir->clear();
    Form->Edit_FromEnd->clear();
    Form->Button_Start->click();
    QCOMPARE(Form->Edit_FromEnd->text(), QStringLiteral("0"));  // normalised all the same
    QCOMPARE(Boxes->Records().size(), 1);
    QCOMPARE(Boxes->Records()[0].Text,
             QStringLiteral("Fromの始点を、終点より小さい数値にしてください。"));
    Boxes->Clear();
    Form->Edit_FromEnd->setText(QStringLiteral("1"));
    Form->Button_Start->click();
    QCOMPARE(Boxes->Records().size(), 1);
    QVERIFY(Boxes->Records()[0].Text.startsWith(
        QStringLiteral("Toの基本フォルダが指定されていません。")));
    QCOMPARE(Server->Requests().size(), size_t(1));
  }

  void stopDuringATransferCompletesThatFileFirst() {
    QDir().mkpath(ToDir());
    Job("1", "5");
    SlowPath = "/d/f2.txt";
    QTimer::singleShot(400, Form->Form_Ope->Button_Stop, &QPushButton::click);
    Form->Button_Start->click();  // returns once the window has closed
    QVERIFY(RunEnded());
    QCOMPARE(Local("f2.txt"), std::string("body of /d/f2.txt"));
    QVERIFY(!QFileInfo::exists(ToDir() + "/f3.txt"));
    QCOMPARE(Boxes->Records().size(), 1);
    QCOMPARE(Boxes->Records()[0].Caption, QStringLiteral("強制終了"));
    QCOMPARE(Boxes->Records()[0].Text,
             QStringLiteral("ダウンロードを強制終了しました。\n\nダウンロードファイル数 : 2\n\n"
                            "From : 2 , To : 3で中断しました。"));
  }

  void escapeDoesNotStopARun() {
    QDir().mkpath(ToDir());
    Job("1", "3");
    SlowPath = "/d/f2.txt";
    QTimer::singleShot(300, [this] {
      QVERIFY(Form->Form_Ope->isVisible());
      QTest::keyClick(Form->Form_Ope, Qt::Key_Escape);
    });
    Form->Button_Start->click();
    QVERIFY(RunEnded());
    QCOMPARE(Local("f3.txt"), std::string("body of /d/f3.txt"));
    QCOMPARE(Boxes->Records().size(), 1);
    QCOMPARE(Boxes->Records()[0].Caption, QStringLiteral("完了"));
  }

  void errorDialogChoices() {
    QDir().mkpath(ToDir());
    Job("1", "4");
    Form->Settings.ShowCaution = true;
    Statuses["/d/f2.txt"] = Statuses["/d/f3.txt"] = "404 Not Found";
    QStringList shownUrls;
    QTimer answer;
    answer.setInterval(20);
    connect(&answer, &QTimer::timeout, [&] {
      if (auto* dialog = qobject_cast<TForm_FromErrDlg*>(QApplication::activeModalWidget())) {
        shownUrls << dialog->Label_FromFile->text();
        if (shownUrls.size() == 1) {
          QTest::keyClick(dialog, Qt::Key_Escape);  // answers nothing
          QVERIFY(dialog->isVisible());
          dialog->close();  // the close box: like skipping
        } else {
          dialog->IgnoreBtn->click();
        }
      }
    });
    answer.start();
    Form->Button_Start->click();
    QVERIFY(RunEnded());
    QCOMPARE(shownUrls.size(), 2);
    QCOMPARE(shownUrls[0], QString::fromStdString(Server->Origin() + "/d/f2.txt"));
    QCOMPARE(Form->Settings.ShowCaution, false);
    QCOMPARE(Boxes->Records().back().Text,
             QStringLiteral("ダウンロードが終わりました。\n\nダウンロードファイル数 : 2"));

    // Ignored from now on: the next run asks nothing.
    shownUrls.clear();
    Form->Button_Start->click();
    QVERIFY(RunEnded());
    QVERIFY(shownUrls.isEmpty());
  }

  void clientGetsTheOptionsThatAreSwitchedOn() {
    Form->Settings.ProxyServer = "proxy.invalid";
    Form->Settings.ProxyPort = 3128;
    Form->Settings.UserID = "user";
    Form->Settings.Password = "pw";
    Form->Settings.Agent = "Agent/1";
    QDir().mkpath(ToDir());
    Job("1", "1");
    Form->Button_Start->click();
    QVERIFY(RunEnded());
    const THttpClient& client = Form->Form_Ope->Client;
    QVERIFY(client.Proxy.empty());
    QCOMPARE(client.ProxyPort, 0u);
    QVERIFY(client.HeaderInfo.UserId.empty());
    QCOMPARE(client.HeaderInfo.LocalMailAddress, std::string("Agent/1"));
    const std::string request = Server->Requests().at(0);
    QVERIFY(request.find("User-Agent: Agent/1\r\n") != std::string::npos);
    QVERIFY(request.find("Authorization") == std::string::npos);
  }

  void quickReportsRefreshTheWindowSeldomAndTheLastIsShown() {
    TForm_Ope& window = *Form->Form_Ope;
    TRunHost& host = window.Host();
    int headerSets = 0;
    int bodySets = 0;
    connect(window.Memo_Header, &QPlainTextEdit::textChanged, [&] { ++headerSets; });
    connect(window.Memo_Body, &QPlainTextEdit::textChanged, [&] { ++bodySets; });
    const auto burst = [&](int first, int last) {
      for (int n = first; n <= last; ++n) {
        const std::string name = "f" + std::to_string(n) + ".txt";
        host.ShowCurrentFile("http://h.test/d/" + name, "/to/" + name);
        host.SetGaugePosition(n);
        host.ShowReply("HTTP/1.0 200 OK\r\nX-N: " + std::to_string(n) + "\r\n", "body of " + name);
        host.SetGaugePosition(n + 1);
      }
    };

    host.SetGaugeRange(1, 2001);
    burst(1, 1000);
    QTRY_COMPARE(window.Memo_Body->toPlainText(), QStringLiteral("body of f1000.txt"));
    QCOMPARE(window.Label_From->text(), QStringLiteral("http://h.test/d/f1000.txt"));
    QCOMPARE(window.Label_To->text(), QStringLiteral("/to/f1000.txt"));
    QVERIFY(window.Memo_Header->toPlainText().contains("X-N: 1000"));
    QCOMPARE(window.CGauge1->Progress(), 1001);
    QVERIFY2(headerSets <= 5 && bodySets <= 5,
             qPrintable(QStringLiteral("%1 and %2 updates").arg(headerSets).arg(bodySets)));

    // The summary comes with the run's last file on show, without waiting for a
    // refresh; so does the end of the run.
    burst(1001, 1500);
    host.ShowMessage("done", "完了", TRunIcon::None);
    QCOMPARE(window.Memo_Body->toPlainText(), QStringLiteral("body of f1500.txt"));
    QCOMPARE(window.Label_From->text(), QStringLiteral("http://h.test/d/f1500.txt"));
    burst(1501, 2000);
    host.CloseProgress();
    QCOMPARE(window.Label_To->text(), QStringLiteral("/to/f2000.txt"));
    QCOMPARE(window.CGauge1->PercentDone(), 100);
    QVERIFY2(headerSets <= 15 && bodySets <= 15,
             qPrintable(QStringLiteral("%1 and %2 updates").arg(headerSets).arg(bodySets)));
  }

  void retryIsShownWithTheCurrentFileUntilTheNext() {
    struct Row {
      const char* Url;
      int Attempt, Attempts;
      int64_t DelayMs;
      QString Expected;
    };
    const std::string current = "http://h.test/d/f2.txt";
    const Row rows[] = {
        {"http://h.test/d/f2.txt", 2, 4, 3000, QStringLiteral("（再試行 2/4、3 秒後）")},
        {"http://h.test/d/f2.txt", 3, 4, 2001, QStringLiteral("（再試行 3/4、3 秒後）")},
        {"http://h.test/d/f2.txt", 2, 11, 500, QStringLiteral("（再試行 2/11、1 秒後）")},
        {"http://h.test/d/f2.txt", 2, 2, 0, QStringLiteral("（再試行 2/2、0 秒後）")},
        {"http://h.test/d/f5.txt", 2, 3, 60000, QStringLiteral("（f5.txt を再試行 2/3、60 秒後）")},
        {"http://h.test/d/%2.txt", 2, 3, 1000, QStringLiteral("（%2.txt を再試行 2/3、1 秒後）")},
    };
    for (const Row& row : rows) {
      const TRetryNotice notice{7, row.Url, row.Attempt, row.Attempts, row.DelayMs, "timeout"};
      QVERIFY2(RetryNoteText(notice, current) == row.Expected,
               qPrintable(QStringLiteral("%1 %2/%3 after %4 ms: %5")
                              .arg(row.Url)
                              .arg(row.Attempt)
                              .arg(row.Attempts)
                              .arg(row.DelayMs)
                              .arg(RetryNoteText(notice, current))));
    }

    TForm_Ope& window = *Form->Form_Ope;
    TRunHost& host = window.Host();
    host.ShowCurrentFile(current, "/to/f2.txt");
    host.ShowRetry({2, current, 2, 4, 3000, "10061:Connection refused"});
    QTRY_COMPARE(window.Label_Retry->text(), QStringLiteral("（再試行 2/4、3 秒後）"));
    QCOMPARE(window.Label_Retry->toolTip(), QStringLiteral("10061:Connection refused"));
    QCOMPARE(window.Label_From->text(), QString::fromStdString(current));
    host.ShowCurrentFile("http://h.test/d/f3.txt", "/to/f3.txt");
    window.Refresh();
    QVERIFY(window.Label_Retry->text().isEmpty());
    QVERIFY(window.Label_Retry->toolTip().isEmpty());
  }

  void gaugeAtThe32BitLimits() {
    TCGauge gauge;
    gauge.SetMaxValue(2147483648LL);
    gauge.SetMinValue(-2147483648LL);
    gauge.SetProgress(0);
    QCOMPARE(gauge.PercentDone(), 50);
    gauge.SetProgress(2147483648LL);
    QCOMPARE(gauge.PercentDone(), 100);
    gauge.SetMinValue(2147483648LL);
    QCOMPARE(gauge.PercentDone(), 0);  // empty range
  }
};

QTEST_MAIN(ProgressFormTest)
#include "test_progress_form.moc"

// The main window driven as the user and the engines drive it: notifications and posted
// messages, on Qt's offscreen platform.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QProgressBar>
#include <QStackedWidget>
#include <QTimer>
#include <atomic>
#include <thread>

#include "app/Messages.h"
#include "app/SettingsFile.h"
#include "tasks/ConvertQueue.h"
#include "tests/support/QtDialogs.h"
#include "tests/support/QtPages.h"
#include "ui/CMainWnd.h"
#include "ui/dialogs/LoadingDialog.h"
#include "ui/dialogs/PromptBoxDialog.h"
#include "ui/pages/MergePage.h"
#include "ui/pages/SpeedPage.h"

namespace tw {
namespace {

using test::Pump;

std::unique_ptr<MessageRecord> Progress(OperationKind kind, int id, int positionMs, int durationMs) {
  auto r = std::make_unique<ProgressRecord>();
  r->kind = kind;
  r->taskId = id;
  r->positionMs = positionMs;
  r->durationMs = durationMs;
  return r;
}

std::unique_ptr<MessageRecord> Finish(OperationKind kind, int id) {
  auto r = std::make_unique<FinishRecord>();
  r->kind = kind;
  r->taskId = id;
  return r;
}

std::unique_ptr<MessageRecord> Failure(OperationKind kind, int id) {
  auto r = std::make_unique<FailureRecord>();
  r->kind = kind;
  r->taskId = id;
  return r;
}

// A job whose reports the test posts itself: it runs until it is ended.
class ScriptedRun : public JobRun {
 public:
  ScriptedRun(int runId, OperationKind kind, int taskId) : JobRun(runId, kind, taskId) {}
  bool End() override {
    MarkFinished();
    return true;
  }
};

class MainWndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SettingsFile::Instance().WriteString(kSettingsSection, kKeyWindowClose, "0");
    window_ = new CMainWnd();
    QString error;
    ASSERT_TRUE(window_->Create(&error)) << error.toStdString();
    window_->show();
  }
  void TearDown() override {
    dialogs_.Check();
    delete window_.data();
  }

  QWidget* AddRow(OperationKind kind, int id) {
    return window_->PageFor(kind)->AddRow(id, QString("file-%1.mp3").arg(id), "1.00M", "00:01:40");
  }
  // Holds a row's job in the window's queue, as a started run would; the run id its reports carry.
  int Hold(OperationKind kind, int id) {
    auto runId = std::make_shared<std::atomic<int>>(0);
    const JobKey key{kind, id};
    window_->Queue()->Enqueue(
        key,
        [runId, key](int run) {
          PreparedJob job;
          job.start = [run, key, runId](FailureReason*) -> std::shared_ptr<JobRun> {
            *runId = run;
            return std::make_shared<ScriptedRun>(run, key.kind, key.taskId);
          };
          return job;
        },
        true);
    EXPECT_TRUE(test::WaitUntil([&] { return *runId && window_->Queue()->IsCurrent(key, *runId); }, 10000));
    Pump();
    return *runId;
  }
  void Post(unsigned id, std::unique_ptr<MessageRecord> record, int runId) {
    window_->Post(Message(id, std::move(record), 0, runId));
  }
  QString Text(QWidget* row, const char* name) { return row->findChild<QLabel*>(name)->text(); }
  int Bar(QWidget* row, const char* name) { return row->findChild<QProgressBar*>(name)->value(); }

  QPointer<CMainWnd> window_;
  test::ExpectedDialogs dialogs_;
};

TEST_F(MainWndTest, PageOptionsSwitchTheTabLayout) {
  const std::vector<std::pair<const char*, int>> cases = {
      {"audio-bg-music", 8}, {"audio-cut", 0},   {"audio-record", 1},
      {"audio-convert", 2},  {"audio-merge", 3}, {"audio-change-speed", 4},
      {"audio-extract", 5},  {"audio-noise", 6}, {"audio-volume", 7},
  };
  for (const auto& [option, index] : cases) {
    // As the skin delivers it: a click on the option.
    auto* button = FindControl<QAbstractButton>(window_->Root(), option);
    ASSERT_NE(button, nullptr) << option;
    button->click();
    EXPECT_EQ(window_->CurrentPage(), index) << option;
    EXPECT_TRUE(button->isChecked());
  }
  // A notification of the same type from a control that is no page option changes nothing.
  window_->Notify("selectchanged", FindControl(window_->Root(), "speed-check"));
  window_->Notify("click", FindControl(window_->Root(), "audio-cut"));
  EXPECT_EQ(window_->CurrentPage(), 7);
  window_->Context().selectPage("audio-convert");
  EXPECT_EQ(window_->CurrentPage(), 2);
}

// Progress, completion and failure of transcoder runs on the rows of each page.
TEST_F(MainWndTest, TranscoderMessagesUpdateTheirRows) {
  struct Case {
    OperationKind kind;
    const char* bar;
    const char* button;
  };
  const std::vector<Case> cases = {
      {OperationKind::Cut, "cut-progress", "exportBtn"},
      {OperationKind::Convert, "convert-progress", "convertBtn"},
      {OperationKind::Speed, "speed-progress", "speedBtn"},
      {OperationKind::Extract, "extract-progress", "extractBtn"},
      {OperationKind::Volume, "volume-progress", "volumeBtn"},
      {OperationKind::BgMusic, "bg-music-progress", "bgMusicBtn"},
  };
  int id = 100;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bar);
    QWidget* row = AddRow(c.kind, id);
    QWidget* other = AddRow(c.kind, id + 1);
    ASSERT_NE(row, nullptr);
    const int run = Hold(c.kind, id);
    EXPECT_EQ(row->findChild<QAbstractButton*>(c.button)->text(), "取消");

    Post(WM_TASK_PROGRESS, Progress(c.kind, id, 50000, 100000), run);
    Pump();
    EXPECT_EQ(Bar(row, c.bar), 50);
    EXPECT_EQ(Text(row, "progress-label"), "50%");
    EXPECT_EQ(Text(other, "progress-label"), "0%");  // only the row of the task id

    // A position past the duration: the label says so, the bar stays full.
    Post(WM_TASK_PROGRESS, Progress(c.kind, id, 150000, 100000), run);
    Pump();
    EXPECT_EQ(Bar(row, c.bar), 100);
    EXPECT_EQ(Text(row, "progress-label"), "150%");
    // A report of no run, or of another, is not this row's.
    Post(WM_TASK_PROGRESS, Progress(c.kind, id, 10000, 100000), 0);
    Post(WM_TASK_PROGRESS, Progress(c.kind, id, 10000, 100000), run + 1000);
    Pump();
    EXPECT_EQ(Text(row, "progress-label"), "150%");

    Post(WM_TASK_DONE, Finish(c.kind, id), run);
    Pump();
    EXPECT_EQ(Bar(row, c.bar), 100);
    EXPECT_EQ(Text(row, "progress-label"), "100%");
    EXPECT_TRUE(IsMouseEnabled(row->findChild<QWidget*>(c.button)));
    id += 2;
  }
}

TEST_F(MainWndTest, SpeedProgressIsMeasuredAgainstTheSpedUpDuration) {
  QWidget* row = AddRow(OperationKind::Speed, 5);
  window_->Speed()->SetSpeedText("2.0");
  Post(WM_TASK_PROGRESS, Progress(OperationKind::Speed, 5, 25000, 100000), Hold(OperationKind::Speed, 5));
  Pump();
  EXPECT_EQ(Text(row, "progress-label"), "50%");
}

TEST_F(MainWndTest, MergeProgressBelongsToThePage) {
  window_->Merge()->SetMergeTotal(60 + 40);
  auto* bar = FindControl<QProgressBar>(window_->Root(), "merge-progress");
  auto* label = FindControl<QLabel>(window_->Root(), "merge-progress-label");
  auto* button = FindControl<QAbstractButton>(window_->Root(), "merge-btn");
  const QString ownText = button->text();
  int run = Hold(OperationKind::Merge, -1);
  EXPECT_EQ(button->text(), "取消");
  Post(WM_TASK_PROGRESS, Progress(OperationKind::Merge, -1, 50000, 0), run);
  Pump();
  EXPECT_EQ(bar->value(), 50);
  EXPECT_EQ(label->text(), "50%");
  Post(WM_TASK_FAILED, Failure(OperationKind::Merge, -1), run);
  Pump();
  EXPECT_TRUE(IsMouseEnabled(button));
  EXPECT_EQ(button->text(), ownText);
  EXPECT_EQ(label->text(), "处理失败");
  run = Hold(OperationKind::Merge, -1);
  Post(WM_TASK_DONE, Finish(OperationKind::Merge, -1), run);
  Pump();
  EXPECT_EQ(bar->value(), 100);
  EXPECT_EQ(label->text(), "100%");
}

TEST_F(MainWndTest, ConvertFailureShowsTheErrorLookAndFreesTheButton) {
  QWidget* row = AddRow(OperationKind::Convert, 3);
  auto* button = row->findChild<QAbstractButton*>("convertBtn");
  const int run = Hold(OperationKind::Convert, 3);
  EXPECT_FALSE(row->findChild<QWidget*>("errorLabel")->isVisibleTo(row));
  auto failure = Failure(OperationKind::Convert, 3);
  static_cast<FailureRecord*>(failure.get())->reason = FailureReason::NoSound;
  static_cast<FailureRecord*>(failure.get())->outputTail = "Output file #0 does not contain any stream";
  Post(WM_TASK_FAILED, std::move(failure), run);
  Pump();
  EXPECT_TRUE(row->findChild<QWidget*>("errorLabel")->isVisibleTo(row));
  EXPECT_EQ(Text(row, "errorLabel"), "没有声音");
  EXPECT_EQ(test::ShownToolTip(row->findChild<QWidget*>("errorLabel")), "Output file #0 does not contain any stream");
  EXPECT_FALSE(row->findChild<QWidget*>("progress-container")->isVisibleTo(row));
  EXPECT_FALSE(row->findChild<QWidget*>("progress-label")->isVisibleTo(row));
  EXPECT_EQ(button->text(), "压 缩");
  EXPECT_TRUE(IsMouseEnabled(button));
}

TEST_F(MainWndTest, OtherPagesShowAFailureAndLetTheUserRetry) {
  QWidget* row = AddRow(OperationKind::Extract, 4);
  auto* button = row->findChild<QWidget*>("extractBtn");
  const int run = Hold(OperationKind::Extract, 4);
  Post(WM_TASK_PROGRESS, Progress(OperationKind::Extract, 4, 30000, 100000), run);
  Post(WM_TASK_FAILED, Failure(OperationKind::Extract, 4), run);
  Pump();
  EXPECT_EQ(Bar(row, "extract-progress"), 30);
  EXPECT_EQ(Text(row, "progress-label"), "处理失败");
  EXPECT_TRUE(IsMouseEnabled(button));
}

TEST_F(MainWndTest, MessagesForARemovedRowChangeNothing) {
  Page* page = window_->PageFor(OperationKind::Volume);
  AddRow(OperationKind::Volume, 10);
  QWidget* kept = AddRow(OperationKind::Volume, 11);
  const int run = Hold(OperationKind::Volume, 10);
  ASSERT_TRUE(RemoveRow(page->List(), 10));
  EXPECT_FALSE(RemoveRow(page->List(), 10));
  for (unsigned id : {WM_TASK_PROGRESS, WM_TASK_DONE, WM_TASK_FAILED}) {
    std::unique_ptr<MessageRecord> r = id == WM_TASK_PROGRESS ? Progress(OperationKind::Volume, 10, 1, 2)
                                       : id == WM_TASK_DONE   ? Finish(OperationKind::Volume, 10)
                                                              : Failure(OperationKind::Volume, 10);
    Post(id, std::move(r), run);
  }
  // A record of the wrong type, and no record, are ignored too.
  window_->Post(Message(WM_TASK_PROGRESS, Failure(OperationKind::Volume, 11)));
  window_->Post(Message(WM_TASK_DONE));
  Pump();
  EXPECT_EQ(RowCount(page->List()), 1);
  EXPECT_EQ(Text(kept, "progress-label"), "0%");
  EXPECT_EQ(Bar(kept, "volume-progress"), 0);
}

TEST_F(MainWndTest, RowsTakeTheirIdsAndReachTheDispatcher) {
  Page* page = window_->PageFor(OperationKind::Merge);
  QWidget* row = AddRow(OperationKind::Merge, 42);
  EXPECT_EQ(row->objectName(), "item-42");
  for (const char* name : {"moveUpBtn", "moveDownBtn", "mergeListMenuBtn"})
    EXPECT_EQ(GetTag(row->findChild<QWidget*>(name)), 42) << name;
  EXPECT_TRUE(page->NotifyNames().contains("moveUpBtn"));
  EXPECT_EQ(RowIndex(page->List(), 42), 0);
  EXPECT_EQ(FindRow(page->List(), 43), nullptr);
  RemoveAllRows(page->List());
  EXPECT_EQ(RowCount(page->List()), 0);
}

TEST_F(MainWndTest, MessagesFromOtherThreadsArriveInOrder) {
  QWidget* row = AddRow(OperationKind::Convert, 1);
  std::thread worker([sink = window_->Sink(), run = Hold(OperationKind::Convert, 1)] {
    for (int i = 0; i <= 100; ++i)
      sink->Post(Message(WM_TASK_PROGRESS, Progress(OperationKind::Convert, 1, i, 100), 0, run));
  });
  worker.join();
  Pump();
  EXPECT_EQ(Text(row, "progress-label"), "100%");
}

TEST_F(MainWndTest, PageMessagesByNumber) {
  window_->Post(Message(WM_RECORD_TIME, nullptr, 3661));
  Pump();
  EXPECT_EQ(FindControl<QLabel>(window_->Root(), "recorder-progress")->text(), "01:01:01");

  LoadingDialog* loading = window_->Loading();
  ASSERT_NE(loading, nullptr);
  EXPECT_FALSE(loading->isVisible());
  window_->Post(Message(WM_LOADING_SHOW, nullptr, 40));
  Pump();
  EXPECT_TRUE(loading->isVisible());
  EXPECT_EQ(loading->ProgressText(), "40%");
  window_->Post(Message(WM_LOADING_HIDE));
  Pump();
  EXPECT_FALSE(loading->isVisible());
  EXPECT_EQ(loading->ProgressText(), "100%");

  Message unknown(WM_USER + 9999);
  EXPECT_FALSE(window_->HandleCustomMessage(unknown));
  EXPECT_EQ(window_->CurrentPage(), 0);
}

TEST_F(MainWndTest, CloseEndsTheProgramWhenWindowCloseIsZero) {
  bool finished = false;
  QObject::connect(window_, &CMainWnd::finalMessage, [&finished](int code) { finished = code == 0; });
  window_->Notify("click", FindControl(window_->Root(), "closebtn"));
  Pump();
  EXPECT_TRUE(finished);
  EXPECT_TRUE(window_.isNull());
}

TEST_F(MainWndTest, CloseMinimisesWhenWindowCloseIsSetButQuitStillEnds) {
  SettingsFile::Instance().WriteString(kSettingsSection, kKeyWindowClose, "1");
  window_->PostClose(0);
  Pump();
  ASSERT_FALSE(window_.isNull());
  EXPECT_TRUE(window_->windowState() & Qt::WindowMinimized);
  window_->Post(Message(WM_MENU_HOME));
  Pump();
  EXPECT_FALSE(window_->windowState() & Qt::WindowMinimized);
  window_->Post(Message(WM_MENU_QUIT));
  Pump();
  EXPECT_TRUE(window_.isNull());
  SettingsFile::Instance().WriteString(kSettingsSection, kKeyWindowClose, "0");
}

// What a second start asks for: the minimised window comes back, its open dialog stays in front.
TEST_F(MainWndTest, RaiseRestoresTheWindowAndKeepsItsDialogInFront) {
  window_->showMinimized();
  bool restored = false, dialogInFront = false;
  // Runs in the prompt's own loop, once it is shown.
  QTimer::singleShot(0, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    window_->RaiseFromAnotherInstance();
    restored = !(window_->windowState() & Qt::WindowMinimized);
    dialogInFront = modal && QApplication::activeModalWidget() == modal && modal->isVisible();
    if (modal) modal->findChild<QAbstractButton*>("msgConfirm")->click();
  });
  EXPECT_EQ(PromptBoxDialog::Show(window_, QStringLiteral("请先添加要剪辑的文件!")), 1);
  EXPECT_TRUE(restored);
  EXPECT_TRUE(dialogInFront);
  dialogs_.Expect({"请先添加要剪辑的文件!"});
}

TEST_F(MainWndTest, MouseSwitchKeepsTheLookAndLetsClicksFallThrough) {
  auto* button = FindControl<QWidget>(window_->Root(), "add-audio-file");
  const QPoint centre = button->mapTo(window_, button->rect().center());
  EXPECT_EQ(window_->childAt(centre), button);
  SetMouseEnabled(button, false);
  EXPECT_NE(window_->childAt(centre), button);
  EXPECT_TRUE(button->isEnabled());
  SetMouseEnabled(button, true);
  EXPECT_EQ(window_->childAt(centre), button);
}

}  // namespace
}  // namespace tw

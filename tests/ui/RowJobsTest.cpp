// Every job of every page under the user's control, through the main window on the offscreen
// platform with the real transcoder and denoisers: cancelled from its row and its row menu, the
// close of the window with jobs running, the reasons of failures from real causes, the run-all
// buttons and several jobs at once.
#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/Messages.h"
#include "app/SettingsFile.h"
#include "tasks/ConvertQueue.h"
#include "tests/support/QtModalScript.h"
#include "tests/support/QtPages.h"
#include "tests/support/TestMedia.h"
#include "ui/pages/FileList.h"
#include "ui/pages/ListRows.h"

namespace tw {
namespace {

namespace fs = std::filesystem;
using test::CopyAs;
using test::FilesContaining;
using test::LongMp3;
using test::Pump;
using test::RunningTranscoders;
using test::WaitUntil;

// A page's row job: its action button and the texts its row shows.
struct PageJob {
  OperationKind kind;
  const char* button;  // the row's action button, or "merge-btn"
};
const std::vector<PageJob>& PageJobs() {
  static const std::vector<PageJob> jobs = {
      {OperationKind::Convert, "convertBtn"}, {OperationKind::Speed, "speedBtn"},
      {OperationKind::Extract, "extractBtn"}, {OperationKind::Noise, "noiseBtn"},
      {OperationKind::Volume, "volumeBtn"},   {OperationKind::BgMusic, "bgMusicBtn"},
      {OperationKind::Cut, "exportBtn"},      {OperationKind::Merge, "merge-btn"},
  };
  return jobs;
}

class RowJobsTest : public test::PageWindowTest {
 protected:
  void SetUp() override {
    PageWindowTest::SetUp();
    // The background music every bg-music job mixes in.
    chooser_->AddFiles({QString::fromStdString(test::ToneMp3(1, 880))});
    Click("add-bg-music-btn");
  }

  // A row of kind for file (the cut page files a stretch of it); its task id.
  int AddJobRow(OperationKind kind, const std::string& file) {
    if (kind == OperationKind::Cut) {
      FileEntry source = EntryForPath(file);
      source.duration = 1200;
      return PageOf(kind)->AddEntry(MakeCutEntry(source, 1, 1190, CurrentCommandContext()));
    }
    AddThroughDialog(kind, {QString::fromStdString(file)});
    if (kind == OperationKind::Merge) AddThroughDialog(kind, {QString::fromStdString(file)});
    return kind == OperationKind::Merge ? kMergeTaskId : RowId(kind, Rows(kind) - 1);
  }
  QAbstractButton* Action(const PageJob& job, int id) {
    if (job.kind == OperationKind::Merge) return FindControl<QAbstractButton>(window_->Root(), job.button);
    return Row(job.kind, id)->findChild<QAbstractButton*>(job.button);
  }
  QString Label(const PageJob& job, int id) {
    if (job.kind == OperationKind::Merge)
      return FindControl<QLabel>(window_->Root(), "merge-progress-label")->text();
    return RowText(job.kind, id, "progress-label");
  }
  void Press(const PageJob& job, int id) {
    Action(job, id)->click();
    Pump();
  }
  // Every child gone and every run of the queue over (partial results removed).
  bool AllEnded() { return RunningTranscoders() == 0 && window_->Queue()->Running() == 0; }
  bool OutputEmpty() { return fs::is_empty(outputDir_); }
};

// Cancelled while it runs, from its button and from its row menu, every kind of job stops at
// once: no child is left, no partial result, its row reads "已取消" and can be started again, and
// no late report of the ended run changes the row.
TEST_F(RowJobsTest, CancellingAJobMidwayLeavesNothingAndTheRowReady) {
  const std::string source = CopyAs(LongMp3(), "long.mp3");
  for (const PageJob& job : PageJobs()) {
    SCOPED_TRACE(static_cast<int>(job.kind));
    const int id = AddJobRow(job.kind, source);
    const QString ownText = Action(job, id)->text();
    for (bool fromMenu : {false, true}) {
      if (job.kind == OperationKind::Merge && fromMenu) continue;  // no row of its own
      ASSERT_TRUE(WaitUntil([&] { return IsMouseEnabled(Action(job, id)); }));
      Press(job, id);
      EXPECT_EQ(Action(job, id)->text(), "取消");
      // Midway: the result (or the denoiser's part file) is being written.
      ASSERT_TRUE(WaitUntil([&] { return !OutputEmpty(); }, 60000));
      if (fromMenu) {
        window_->Post(Message(WM_LIST_CANCEL, std::make_unique<ListRecord>(int(job.kind), id)));
        Pump();
      } else {
        Press(job, id);
      }
      EXPECT_EQ(Label(job, id), "已取消");
      EXPECT_EQ(Action(job, id)->text(), ownText);
      EXPECT_FALSE(window_->Queue()->Holds({job.kind, id}));
      ASSERT_TRUE(WaitUntil([&] { return AllEnded(); }, 10000));
      Pump();
      EXPECT_TRUE(OutputEmpty()) << FilesContaining(outputDir_, "")[0];
      EXPECT_EQ(Label(job, id), "已取消");
    }
  }
  EXPECT_TRUE(fs::exists(source));
}

// A cancel at the very start and one of a waiting row; the queue goes on with the next row.
TEST_F(RowJobsTest, CancellingQueuedAndStartingRowsLetsTheNextOneRun) {
  const std::string source = CopyAs(LongMp3(), "long.mp3");
  const std::string tone = CopyAs(test::ToneWav(1), "short.wav");
  AddThroughDialog(OperationKind::Convert, {QString::fromStdString(source), QString::fromStdString(source),
                                            QString::fromStdString(tone)});
  Click("all-convert-btn");
  // The second row is cancelled while it waits (the first holds the one slot), the first as it
  // starts. Cancelled the other way round, the freed slot may go to the second row at once.
  EXPECT_EQ(RowText(OperationKind::Convert, 1, "progress-label"), "等待中");
  ClickRow(OperationKind::Convert, 1, "convertBtn");
  ClickRow(OperationKind::Convert, 0, "convertBtn");
  for (int id : {0, 1}) EXPECT_EQ(RowText(OperationKind::Convert, id, "progress-label"), "已取消");
  ASSERT_TRUE(WaitUntil([&] { return RowDone(OperationKind::Convert, 2); }, 60000));
  ASSERT_TRUE(WaitUntil([&] { return AllEnded(); }));
  EXPECT_EQ(FilesContaining(outputDir_, ""), std::vector<std::string>{outputDir_ + "/short.mp3"});
  EXPECT_EQ(FindControl<QAbstractButton>(window_->Root(), "all-convert-btn")->text(), "一键转换");
  // A cancelled row runs again when asked.
  ASSERT_TRUE(WaitUntil(
      [&] { return IsMouseEnabled(Row(OperationKind::Convert, 0)->findChild<QWidget*>("convertBtn")); }));
  ClickRow(OperationKind::Convert, 0, "convertBtn");
  EXPECT_NE(RowText(OperationKind::Convert, 0, "progress-label"), "已取消");
  ASSERT_TRUE(WaitUntil([&] { return FilesContaining(outputDir_, ".part.").size() == 1; }, 60000));
  ClickRow(OperationKind::Convert, 0, "convertBtn");
  ASSERT_TRUE(WaitUntil([&] { return AllEnded() && FilesContaining(outputDir_, ".part.").empty(); }));
  EXPECT_EQ(FilesContaining(outputDir_, ""), std::vector<std::string>{outputDir_ + "/short.mp3"});
}

// A close with jobs running asks first; kept, they go on; confirmed, every job ends and leaves
// nothing. Minimised to the tray, the window keeps them running without asking.
TEST_F(RowJobsTest, ClosingWithRunningJobsAsksFirst) {
  const std::string source = CopyAs(LongMp3(), "long.mp3");
  AddThroughDialog(OperationKind::Speed, {QString::fromStdString(source)});
  AddThroughDialog(OperationKind::Noise, {QString::fromStdString(source)});
  AddThroughDialog(OperationKind::Convert, {QString::fromStdString(source), QString::fromStdString(source)});
  window_->Queue()->SetSlots(3);  // every job takes a slot: three run, the fourth waits
  ClickRow(OperationKind::Speed, 0, "speedBtn");
  ClickRow(OperationKind::Noise, 1, "noiseBtn");
  Click("all-convert-btn");  // one converts, one waits
  ASSERT_TRUE(WaitUntil(
      [&] { return RunningTranscoders() == 2 && FilesContaining(outputDir_, ".part").size() == 3; }, 60000));

  SettingsFile::Instance().WriteString(kSettingsSection, kKeyWindowClose, "1");
  auto none = test::AnswerNextModal("msgConfirm", 500);
  window_->PostClose(0);
  Pump();
  ASSERT_FALSE(window_.isNull());
  EXPECT_TRUE(window_->isMinimized());
  // A question would have been answered within the pump; none may take the next one.
  EXPECT_FALSE(none->answered);
  none->cancelled = true;
  EXPECT_EQ(window_->Queue()->Pending(), 4u);
  SettingsFile::Instance().WriteString(kSettingsSection, kKeyWindowClose, "0");

  auto kept = test::AnswerNextModal("msgCancel");
  window_->PostClose(0);
  ASSERT_TRUE(WaitUntil([&] { return kept->answered; }));
  Pump();
  EXPECT_EQ(kept->text, "还有4个任务正在进行,确定要退出吗?");
  ASSERT_FALSE(window_.isNull());
  EXPECT_EQ(RunningTranscoders(), 2);
  EXPECT_EQ(window_->Queue()->Pending(), 4u);

  auto confirmed = test::AnswerNextModal("msgConfirm");
  window_->PostClose(CMainWnd::kForceCloseParam);
  ASSERT_TRUE(WaitUntil([&] { return window_.isNull(); }, 10000));
  EXPECT_TRUE(confirmed->answered);
  EXPECT_EQ(RunningTranscoders(), 0);
  EXPECT_TRUE(OutputEmpty()) << FilesContaining(outputDir_, "")[0];
}

// Each failure says why in words, with the transcoder's last lines as the tooltip.
TEST_F(RowJobsTest, EveryFailureSaysWhy) {
  const std::string spoiled = CopyAs(test::ToneWav(1), "spoiled.wav");
  const std::string silent = CopyAs(test::VideoWithoutSound(1), "silent.mp4");
  const std::string tone = CopyAs(test::ToneWav(30), "tone.wav");
  const std::string folder = test::TempDir();
  struct Case {
    const char* what;
    OperationKind kind;
    std::string file;
    std::function<void()> before;  // the cause, once the row is in
    std::function<void()> after;
    QString reason;
    QString tip;  // part of the tooltip; "" for none
  };
  test::SmallDisk disk(64 * 1024);
  const char* savedPath = std::getenv("PATH");
  const std::string path = savedPath ? savedPath : "";
  std::vector<Case> cases = {
      {"not sound any more", OperationKind::Convert, spoiled,
       [&] { std::ofstream(spoiled) << "This is plain text, not sound.\n"; }, nullptr, "文件无法读取",
       "spoiled.wav"},
      {"a video without sound", OperationKind::Extract, silent, nullptr, nullptr, "没有声音",
       "does not contain any stream"},
      {"no transcoder", OperationKind::Volume, tone, [&] { setenv("PATH", folder.c_str(), 1); },
       [&] { setenv("PATH", path.c_str(), 1); }, "缺少转码程序", ""},
  };
  if (disk.Ok()) {
    cases.push_back(
        {"a full disk", OperationKind::Speed, tone,
         [&] { SettingsFile::Instance().WriteString(kSettingsSection, kKeyOutputDir, disk.Path()); },
         [&] { SettingsFile::Instance().WriteString(kSettingsSection, kKeyOutputDir, outputDir_); },
         "磁盘已满", "No space left on device"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    AddThroughDialog(c.kind, {QString::fromStdString(c.file)});
    const int id = RowId(c.kind, Rows(c.kind) - 1);
    if (c.before) c.before();
    ClickRow(c.kind, id, FindRowSpec(c.kind)->actionButton);
    QWidget* row = Row(c.kind, id);
    auto* label = row->findChild<QLabel*>(c.kind == OperationKind::Convert ? "errorLabel" : "progress-label");
    ASSERT_TRUE(WaitUntil([&] { return label->text() == c.reason; }, 60000)) << label->text().toStdString();
    if (c.after) c.after();
    EXPECT_TRUE(test::ShownToolTip(label).contains(c.tip)) << label->toolTip().toStdString();
    EXPECT_TRUE(IsMouseEnabled(row->findChild<QWidget*>(FindRowSpec(c.kind)->actionButton)));
  }
  ASSERT_TRUE(WaitUntil([&] { return AllEnded(); }));
  EXPECT_TRUE(OutputEmpty()) << FilesContaining(outputDir_, "")[0];
  if (disk.Ok()) {
    EXPECT_TRUE(fs::is_empty(disk.Path()));
  }
}

// The run-all button of each page starts every row not yet done through the queue, and reads as
// "all-convert-btn" does while they run.
TEST_F(RowJobsTest, RunAllStartsEveryRowNotYetDone) {
  const std::string a = CopyAs(test::ToneWav(2), "a.wav");
  const std::string b = CopyAs(test::ToneWav(2), "b.wav");
  const std::string c = CopyAs(test::ToneWav(2), "c.wav");
  struct Case {
    OperationKind kind;
    const char* all;
    const char* word;  // of its results' names
  };
  const std::vector<Case> cases = {
      {OperationKind::Speed, "all-speed-btn", "-变速-"},
      {OperationKind::Extract, "all-extract-btn", "-提取-"},
      {OperationKind::Noise, "all-noise-btn", "-噪声消除-"},
      {OperationKind::Volume, "all-volume-btn", "-声音调整-"},
      {OperationKind::BgMusic, "all-bg-music-btn", "-背景音乐-"},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.all);
    auto* all = FindControl<QAbstractButton>(window_->Root(), t.all);
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(all->text(), "全部开始");
    auto empty = test::AnswerNextModal("msgConfirm");
    all->click();
    EXPECT_EQ(empty->text, "请先添加要处理的文件!");
    AddThroughDialog(t.kind,
                     {QString::fromStdString(a), QString::fromStdString(b), QString::fromStdString(c)});
    const int first = RowId(t.kind, 0);
    // One row is done before the press: it is not run again.
    ClickRow(t.kind, first, FindRowSpec(t.kind)->actionButton);
    ASSERT_TRUE(WaitUntil([&] { return RowDone(t.kind, first); }, 60000));
    all->click();
    Pump();
    EXPECT_EQ(all->text(), "处理中");
    EXPECT_FALSE(IsMouseEnabled(all));
    ASSERT_TRUE(WaitUntil([&] { return all->text() == "全部开始"; }, 120000));
    EXPECT_TRUE(IsMouseEnabled(all));
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(RowDone(t.kind, RowId(t.kind, i))) << i;
    EXPECT_EQ(FilesContaining(outputDir_, t.word).size(), 3u);
    auto nothing = test::AnswerNextModal("msgConfirm");
    all->click();
    EXPECT_EQ(nothing->text, "没有需要处理的文件!");
  }
}

// "同时处理任务数" set to 2 in the settings dialog: two rows convert at once.
TEST_F(RowJobsTest, TheSettingLetsTheQueueRunSeveralJobsAtOnce) {
  if (MaxParallelJobs() < 2) GTEST_SKIP() << "one core";
  auto settings = test::RunModalScript({{"系统设置", [](QWidget* dialog) {
                                           auto* jobs = dialog->findChild<QComboBox*>("parallel-jobs");
                                           if (!jobs) return false;
                                           jobs->setCurrentText("2");
                                           return test::Press("closebtn")(dialog);
                                         }}});
  Click("seting");
  ASSERT_TRUE(WaitUntil([&] { return settings->done == 1; }));
  EXPECT_EQ(SettingsFile::Instance().GetInt(kSettingsSection, kKeyParallelJobs, 0), 2);
  EXPECT_EQ(window_->Queue()->Slots(), 2);
  const std::string source = CopyAs(LongMp3(), "long.mp3");
  const std::string other = CopyAs(LongMp3(), "other.mp3");
  const std::string third = CopyAs(LongMp3(), "third.mp3");
  AddThroughDialog(OperationKind::Convert, {QString::fromStdString(source), QString::fromStdString(other),
                                            QString::fromStdString(third)});
  Click("all-convert-btn");
  ASSERT_TRUE(WaitUntil([&] { return RunningTranscoders() == 2; }, 60000));
  EXPECT_EQ(RowText(OperationKind::Convert, 2, "progress-label"), "等待中");
  for (int id : {0, 1, 2}) ClickRow(OperationKind::Convert, id, "convertBtn");
  ASSERT_TRUE(WaitUntil([&] { return AllEnded(); }));
  SettingsFile::Instance().WriteString(kSettingsSection, kKeyParallelJobs, "1");
}

}  // namespace
}  // namespace tw

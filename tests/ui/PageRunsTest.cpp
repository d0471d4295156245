// Every transcoder operation started from its page on the offscreen platform, with real
// generated media and the real ffmpeg: the checks and their prompts, the rows while and after
// the runs, the results on disk, and what a failed run leaves on its row.
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSlider>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sys/stat.h>
#include <tuple>

#include "app/Messages.h"
#include "app/SettingsFile.h"
#include "tasks/ConvertQueue.h"
#include "tests/support/QtPages.h"
#include "tests/support/TestMedia.h"
#include "ui/pages/FileList.h"
#include "ui/pages/ListRows.h"

namespace tw {
namespace {

using test::CopyAs;
using test::FilesContaining;
using test::Pump;
using test::WaitUntil;

class PageRunsTest : public test::PageWindowTest {
 protected:
  PageRunsTest() { checkDialogs_ = true; }
  // Runs press() and expects the prompt dialog with text; no run starts.
  void ExpectPrompt(const QString& text, const std::function<void()>& press) {
    ExpectDialogs({text});
    auto answer = test::AnswerNextModal("msgConfirm");
    press();
    EXPECT_TRUE(answer->answered) << text.toStdString();
    EXPECT_EQ(answer->text, text);
  }
  bool ButtonTakesClicks(OperationKind kind, int id, const char* name) {
    return IsMouseEnabled(Row(kind, id)->findChild<QWidget*>(name));
  }
  void SetText(const char* name, const QString& text) { Ctl<QLineEdit>(name)->setText(text); }
};

TEST_F(PageRunsTest, ConvertOneRowRunsThroughTheQueue) {
  const std::string flac = CopyAs(test::ToneWav(2), "song \"one\".wav");
  // A name and a tag that read like the transcoder's own failure messages.
  const std::string named = CopyAs(test::ToneWav(2), "No space left on device.wav");
  const std::string tagged =
      CopyAs(test::MakeMedia("tagged-conversion-failed-2s.mp3",
                             {"-f", "lavfi", "-i", "sine=d=2", "-metadata", "title=Conversion failed"}),
             "tagged.mp3");
  // Of two sound tracks the result keeps one, and its row says which.
  const std::string tracks = test::TwoAudioStreams();
  AddThroughDialog(OperationKind::Convert, {QString::fromStdString(flac), QString::fromStdString(named),
                                            QString::fromStdString(tagged), QString::fromStdString(tracks)});
  for (int id = 0; id < 4; ++id) ClickRow(OperationKind::Convert, id, "convertBtn");
  // While its task waits or runs, the row's button offers the cancel.
  EXPECT_EQ(Row(OperationKind::Convert, 0)->findChild<QAbstractButton*>("convertBtn")->text(), "取消");
  const struct {
    int id;
    const char* name;
    double seconds;
    const char* label;
  } results[] = {{0, "song \"one\".mp3", 2, "100%"},
                 {1, "No space left on device.mp3", 2, "100%"},
                 {2, "tagged.mp3", 2, "100%"},
                 {3, "two-audio-streams-second-default.mp3", 4, "100% · 仅保留了第 2 条音轨（共 2 条）"}};
  for (const auto& r : results) {
    SCOPED_TRACE(r.name);
    ASSERT_TRUE(WaitUntil([&] { return RowDone(OperationKind::Convert, r.id); }));
    EXPECT_EQ(Row(OperationKind::Convert, r.id)->findChild<QProgressBar*>("convert-progress")->value(), 100);
    EXPECT_EQ(Row(OperationKind::Convert, r.id)->findChild<QLabel*>("progress-label")->text().toStdString(), r.label);
    const test::MediaInfo info = test::Probe(outputDir_ + "/" + r.name);
    ASSERT_TRUE(info.ok);
    EXPECT_EQ(info.First("audio")->codecName, "mp3");
    EXPECT_NEAR(info.durationSec, r.seconds, 0.2);
  }
  EXPECT_TRUE(WaitUntil([&] { return window_->Queue()->BusyTasks().empty(); }));
}

TEST_F(PageRunsTest, ConvertAllUsesTheOptionsOfEachStartAndRestoresTheButton) {
  auto* all = Ctl<QAbstractButton>("all-convert-btn");
  ExpectPrompt("请先添加要转换的文件!", [&] { Click("all-convert-btn"); });
  EXPECT_TRUE(IsMouseEnabled(all));

  const std::string a = CopyAs(test::ToneWav(1), "a.wav");
  const std::string b = CopyAs(test::ToneWav(1), "b.wav");
  const std::string c = CopyAs(test::ToneMp3(1), "c.mp3");
  AddThroughDialog(OperationKind::Convert,
                   {QString::fromStdString(a), QString::fromStdString(b), QString::fromStdString(c)});
  Ctl<QComboBox>("audio-convert-format")->setCurrentText("flac");
  Ctl<QComboBox>("audio-channel")->setCurrentIndex(2);      // one channel
  Ctl<QComboBox>("audio-sample-rate")->setCurrentIndex(6);  // 16000
  Pump();
  Click("all-convert-btn");
  EXPECT_EQ(all->text(), "转换中");
  EXPECT_FALSE(IsMouseEnabled(all));
  ASSERT_TRUE(WaitUntil([&] { return all->text() == "一键转换"; }, 60000));
  EXPECT_TRUE(IsMouseEnabled(all));
  for (const char* name : {"a.flac", "b.flac", "c.flac"}) {
    SCOPED_TRACE(name);
    const test::MediaInfo info = test::Probe(outputDir_ + "/" + name);
    ASSERT_TRUE(info.ok);
    EXPECT_EQ(info.First("audio")->channels, 1);
    EXPECT_EQ(info.First("audio")->sampleRate, 16000);
  }
  for (int id = 0; id < 3; ++id) EXPECT_TRUE(RowDone(OperationKind::Convert, id)) << id;
}

TEST_F(PageRunsTest, SourcesSharingABaseNameGiveTwoResultsAtTheChosenBitRate) {
  const std::string mp3 = CopyAs(test::TaggedWithCover("mp3"), "song.mp3");
  const std::string flac = CopyAs(test::TaggedWithCover("flac"), "song.flac");
  AddThroughDialog(OperationKind::Convert, {QString::fromStdString(mp3), QString::fromStdString(flac)});
  auto* bitRate = Ctl<QComboBox>("audio-bitrate");
  ASSERT_GE(bitRate->findText("256kbps"), 0);
  ASSERT_GE(bitRate->findText("VBR(可变比特率)"), 0);
  bitRate->setCurrentText("256kbps");
  Pump();
  Click("all-convert-btn");
  ASSERT_TRUE(WaitUntil(
      [&] { return RowDone(OperationKind::Convert, 0) && RowDone(OperationKind::Convert, 1); }, 60000));
  const auto results = FilesContaining(outputDir_, "song");
  ASSERT_EQ(results.size(), 2u);
  for (const std::string& result : results) {
    SCOPED_TRACE(result);
    EXPECT_EQ(test::SoundBitRate(result), 256000);
    EXPECT_EQ(test::CoverCount(result), 1);
    EXPECT_EQ(test::Tags(result)["title"], test::kSampleTitle);
  }
}

TEST_F(PageRunsTest, AFailedConversionShowsOnItsRowAndTheQueueGoesOn) {
  const std::string gone = CopyAs(test::ToneWav(1), "<b>gone.wav");  // a name with markup, shown as it is
  const std::string kept = CopyAs(test::ToneWav(1), "kept.wav");
  AddThroughDialog(OperationKind::Convert, {QString::fromStdString(gone), QString::fromStdString(kept)});
  std::filesystem::remove(gone);
  QWidget* row = Row(OperationKind::Convert, 0);
  const QString ownText = row->findChild<QAbstractButton*>("convertBtn")->text();
  Click("all-convert-btn");
  ASSERT_NE(row->findChild<QWidget*>("errorLabel"), nullptr);
  ASSERT_TRUE(WaitUntil([&] { return row->findChild<QWidget*>("errorLabel")->isVisibleTo(row); }, 30000));
  EXPECT_FALSE(row->findChild<QWidget*>("progress-container")->isVisibleTo(row));
  auto* button = row->findChild<QAbstractButton*>("convertBtn");
  EXPECT_EQ(button->text(), "压 缩");
  EXPECT_TRUE(IsMouseEnabled(button));
  ASSERT_TRUE(WaitUntil([&] { return RowDone(OperationKind::Convert, 1); }, 30000));
  EXPECT_TRUE(std::filesystem::exists(outputDir_ + "/kept.mp3"));
  ASSERT_TRUE(WaitUntil([&] { return Ctl<QAbstractButton>("all-convert-btn")->text() == "一键转换"; }));

  // Retried once the file is back, the row shows its progress again and completes.
  std::filesystem::copy_file(test::ToneWav(1), gone);
  ClickRow(OperationKind::Convert, 0, "convertBtn");
  ASSERT_TRUE(WaitUntil([&] { return RowDone(OperationKind::Convert, 0); }, 30000));
  EXPECT_TRUE(row->findChild<QWidget*>("progress-container")->isVisibleTo(row));
  EXPECT_FALSE(row->findChild<QWidget*>("errorLabel")->isVisibleTo(row));
  EXPECT_EQ(button->text(), ownText);
}

TEST_F(PageRunsTest, MergeChecksThenJoinsTheFiles) {
  ExpectPrompt("请添加要合并的音频文件!", [&] { Click("merge-btn"); });
  AddThroughDialog(OperationKind::Merge, {QString::fromStdString(test::ToneWav(1))});
  ExpectPrompt("至少需要添加2个音频文件!", [&] { Click("merge-btn"); });
  AddThroughDialog(OperationKind::Merge, {QString::fromStdString(test::ToneMp3(2))});
  Ctl<QComboBox>("audio-merge-format")->setCurrentText("wav");
  Click("merge-btn");
  EXPECT_EQ(Ctl<QAbstractButton>("merge-btn")->text(), "取消");
  ASSERT_TRUE(WaitUntil([&] { return Ctl<QLabel>("merge-progress-label")->text() == "100%" && MergeOver(); }));
  EXPECT_TRUE(IsMouseEnabled(Ctl<QWidget>("merge-btn")));
  EXPECT_EQ(Ctl<QProgressBar>("merge-progress")->value(), 100);
  const auto results = FilesContaining(outputDir_, "合并-");
  ASSERT_EQ(results.size(), 1u);
  EXPECT_TRUE(std::regex_match(std::filesystem::path(results[0]).filename().string(),
                               std::regex("合并-[0-9]{14}\\.wav")))
      << results[0];
  EXPECT_NEAR(test::Probe(results[0]).durationSec, 3.0, 0.2);
}

TEST_F(PageRunsTest, SpeedExtractVolumeAndBackgroundMusicRunFromTheirRows) {
  const std::string tone = CopyAs(test::ToneWav(2), "tone.wav");
  const std::string video = CopyAs(test::VideoWithSound(2), "clip.mp4");
  const std::string music = test::ToneMp3(1, 880);
  AddThroughDialog(OperationKind::Speed, {QString::fromStdString(tone)});     // 0
  AddThroughDialog(OperationKind::Extract, {QString::fromStdString(video)});  // 1
  AddThroughDialog(OperationKind::Volume, {QString::fromStdString(tone)});    // 2
  AddThroughDialog(OperationKind::BgMusic, {QString::fromStdString(tone)});   // 3
  Click("speed-2-0");
  Ctl<QSlider>("change-volume-slider")->setValue(0);
  chooser_->AddFiles({QString::fromStdString(music)});
  Click("add-bg-music-btn");
  SetText("bg-music-start-pos", "1");

  ClickRow(OperationKind::Speed, 0, "speedBtn");
  ClickRow(OperationKind::Extract, 1, "extractBtn");
  ClickRow(OperationKind::Volume, 2, "volumeBtn");
  ClickRow(OperationKind::BgMusic, 3, "bgMusicBtn");
  // Each starts at once, and its button offers the cancel while it runs.
  for (const auto& [kind, id, button] :
       {std::tuple{OperationKind::Speed, 0, "speedBtn"}, std::tuple{OperationKind::Extract, 1, "extractBtn"},
        std::tuple{OperationKind::Volume, 2, "volumeBtn"},
        std::tuple{OperationKind::BgMusic, 3, "bgMusicBtn"}}) {
    EXPECT_TRUE(ButtonTakesClicks(kind, id, button));
    EXPECT_EQ(Row(kind, id)->findChild<QAbstractButton*>(button)->text(), "取消");
  }

  struct Case {
    OperationKind kind;
    int id;
    const char* word;
    const char* extension;
    double seconds;
  };
  const std::vector<Case> cases = {
      {OperationKind::Speed, 0, "tone-变速-", ".wav", 1.0},
      {OperationKind::Extract, 1, "clip-提取-", ".mp3", 2.0},
      {OperationKind::Volume, 2, "tone-声音调整-", ".wav", 2.0},
      {OperationKind::BgMusic, 3, "tone-背景音乐-", ".wav", 2.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.word);
    ASSERT_TRUE(WaitUntil([&] { return RowDone(c.kind, c.id); }, 30000));
    const auto results = FilesContaining(outputDir_, c.word);
    ASSERT_EQ(results.size(), 1u);
    // The whole name: the designed one, with no number in an empty folder.
    EXPECT_TRUE(std::regex_match(std::filesystem::path(results[0]).filename().string(),
                                 std::regex(std::string(c.word) + "[0-9]{14}\\" + c.extension)))
        << results[0];
    const test::MediaInfo info = test::Probe(results[0]);
    EXPECT_NEAR(info.durationSec, c.seconds, 0.2);
    EXPECT_EQ(info.CountType("video"), 0);
  }
  // Volume factor 0 silences the file; the music starts after its delay of one second.
  EXPECT_LT(test::MeasureLevel(FilesContaining(outputDir_, "tone-声音调整-")[0]).maxDb, -80);
  // The 880 Hz music is absent before its second and there after it; the 440 Hz tone throughout.
  const std::string mixed = FilesContaining(outputDir_, "tone-背景音乐-")[0];
  EXPECT_LT(test::BandLevelDb(mixed, 800, 960, 0.05, 0.8), -60);
  EXPECT_GT(test::BandLevelDb(mixed, 800, 960, 1.1, 0.8), -40);
  EXPECT_GT(test::BandLevelDb(mixed, 400, 480, 0.05, 0.8), -40);
}

TEST_F(PageRunsTest, ListedFilesKeepTheirCoverAndTagsAndAMonoFileHasNoAccompaniment) {
  const std::string song = CopyAs(test::TaggedWithCover("mp3"), "song.mp3");
  AddThroughDialog(OperationKind::Volume, {QString::fromStdString(song)});                              // 0
  AddThroughDialog(OperationKind::Extract, {QString::fromStdString(test::ToneWav(1, 440, 44100, 1))});  // 1
  ClickRow(OperationKind::Volume, 0, "volumeBtn");
  ASSERT_TRUE(WaitUntil([&] { return RowDone(OperationKind::Volume, 0); }, 30000));
  const auto results = FilesContaining(outputDir_, "song-声音调整-");
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(test::CoverCount(results[0]), 1);
  EXPECT_EQ(test::Tags(results[0]).at("title"), test::kSampleTitle);

  ExpectPrompt("单声道音频没有伴奏可提取!", [&] { ClickRow(OperationKind::Extract, 1, "extractBtn"); });
  EXPECT_TRUE(ButtonTakesClicks(OperationKind::Extract, 1, "extractBtn"));
}

TEST_F(PageRunsTest, VolumeAndBackgroundMusicChecksShowTheirMessages) {
  AddThroughDialog(OperationKind::Volume, {QString::fromStdString(test::ToneWav(1))});   // 0
  AddThroughDialog(OperationKind::BgMusic, {QString::fromStdString(test::ToneWav(1))});  // 1
  struct Fade {
    bool in, out;
    QString inStart, inDuration, outStart, outDuration, message;
  };
  const std::vector<Fade> fades = {
      {true, false, " ", "1", "", "", "淡入起始位置不能为空!"},
      {true, false, "1a", "1", "", "", "淡入起始位置只能输入数字!"},
      {true, false, "0", "", "", "", "淡入时长不能为空!"},
      {true, false, "0", "-1", "", "", "淡入时长只能输入数字!"},
      {false, true, "x", "x", "", "1", "淡出起始位置不能为空!"},
      {false, true, "", "", "１", "1", "淡出起始位置只能输入数字!"},
      {false, true, "", "", "0", "", "淡出时长不能为空!"},
      {false, true, "", "", "0", "1.5", "淡出时长只能输入数字!"},
  };
  for (const Fade& f : fades) {
    SCOPED_TRACE(f.message.toStdString());
    Ctl<QCheckBox>("fade-in")->setChecked(f.in);
    Ctl<QCheckBox>("fade-out")->setChecked(f.out);
    SetText("fade-in-start", f.inStart);
    SetText("fade-in-duration", f.inDuration);
    SetText("fade-out-start", f.outStart);
    SetText("fade-out-duration", f.outDuration);
    ExpectPrompt(f.message, [&] { ClickRow(OperationKind::Volume, 0, "volumeBtn"); });
    EXPECT_TRUE(ButtonTakesClicks(OperationKind::Volume, 0, "volumeBtn"));
  }
  // Jobs whose result would be a copy of the source, or music that starts after the end.
  Ctl<QCheckBox>("fade-out")->setChecked(false);
  Ctl<QSlider>("change-volume-slider")->setValue(100);
  ExpectPrompt("音量为1.0倍且没有淡入淡出,结果会与源文件相同!", [&] { ClickRow(OperationKind::Volume, 0, "volumeBtn"); });
  AddThroughDialog(OperationKind::Speed, {QString::fromStdString(test::ToneWav(1))});  // 2
  Click("speed-1-0");
  ExpectPrompt("速度为1.0倍,结果会与源文件相同!", [&] { ClickRow(OperationKind::Speed, 2, "speedBtn"); });
  ExpectPrompt("请先选择背景音乐文件!", [&] { ClickRow(OperationKind::BgMusic, 1, "bgMusicBtn"); });
  // A typed music path is checked as a chosen one: a regular, readable file with sound.
  const std::string fifo = outputDir_ + "/pipe.mp3", text = outputDir_ + "/notes.mp3";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::ofstream(text) << "not sound";
  const std::vector<std::pair<std::string, QString>> typed = {
      {fifo, "不是普通文件"},        {"http://127.0.0.1:9/x.mp3", "文件不存在"},
      {outputDir_, "这是文件夹"},    {text, "文件无法读取"},
      {outputDir_ + "/none.mp3", "文件不存在"},
  };
  for (const auto& [path, why] : typed) {
    SetText("bg-music-edit", QString::fromStdString(path));
    ExpectPrompt("无法使用该背景音乐文件:" + why, [&] { ClickRow(OperationKind::BgMusic, 1, "bgMusicBtn"); });
  }
  SetText("bg-music-edit", QString::fromStdString(test::ToneMp3(1)));
  SetText("bg-music-start-pos", "2s");
  ExpectPrompt("起始位置只能输入数字!", [&] { ClickRow(OperationKind::BgMusic, 1, "bgMusicBtn"); });
  SetText("bg-music-start-pos", "1");
  ExpectPrompt("起始位置超出了文件的长度(1.0 秒)!", [&] { ClickRow(OperationKind::BgMusic, 1, "bgMusicBtn"); });
  EXPECT_TRUE(FilesContaining(outputDir_, "-").empty());
}

TEST_F(PageRunsTest, AFailedRunOnAnotherPageLetsItsButtonTakeClicksAgain) {
  const std::string gone = CopyAs(test::ToneWav(1), "<b>gone.wav");  // a name with markup, shown as it is
  AddThroughDialog(OperationKind::Speed, {QString::fromStdString(gone)});
  std::filesystem::remove(gone);
  ClickRow(OperationKind::Speed, 0, "speedBtn");
  ASSERT_TRUE(
      WaitUntil([&] { return RowText(OperationKind::Speed, 0, "progress-label") == "文件不存在"; }, 30000));
  EXPECT_TRUE(ButtonTakesClicks(OperationKind::Speed, 0, "speedBtn"));
}

using test::LongMp3;
using test::RunningTranscoders;

bool Exists(const std::string& path) {
  return std::filesystem::exists(path);
}

TEST_F(PageRunsTest, RemovingARowEndsItsWork) {
  const std::string longFile = CopyAs(LongMp3(), "long.mp3");
  const std::string waiting = CopyAs(test::ToneWav(1), "waiting.wav");
  const std::string last = CopyAs(test::ToneWav(1), "last.wav");
  AddThroughDialog(OperationKind::Convert, {QString::fromStdString(longFile), QString::fromStdString(waiting),
                                            QString::fromStdString(last)});
  Click("all-convert-btn");
  // Under way: its result is being written under the partial name.
  ASSERT_TRUE(WaitUntil(
      [&] { return FilesContaining(outputDir_, ".part.").size() == 1 && RunningTranscoders() == 1; }));
  // A waiting row leaves the queue: its file is never converted.
  window_->Post(Message(WM_LIST_REMOVE, std::make_unique<ListRecord>(int(OperationKind::Convert), 1)));
  // The running row's conversion ends and takes its partial result with it; the queue goes on.
  window_->Post(Message(WM_LIST_REMOVE, std::make_unique<ListRecord>(int(OperationKind::Convert), 0)));
  ASSERT_TRUE(WaitUntil([&] { return RowDone(OperationKind::Convert, 2); }, 30000));
  ASSERT_TRUE(WaitUntil([&] { return Ctl<QAbstractButton>("all-convert-btn")->text() == "一键转换"; }));
  EXPECT_EQ(FilesContaining(outputDir_, ""), std::vector<std::string>{outputDir_ + "/last.mp3"});
  EXPECT_EQ(RunningTranscoders(), 0);

  // The same on another page.
  AddThroughDialog(OperationKind::Speed, {QString::fromStdString(longFile)});
  const int id = RowId(OperationKind::Speed, 0);
  ClickRow(OperationKind::Speed, id, "speedBtn");
  ASSERT_TRUE(WaitUntil([&] { return FilesContaining(outputDir_, ".part.").size() == 1; }));
  window_->Post(Message(WM_LIST_REMOVE, std::make_unique<ListRecord>(int(OperationKind::Speed), id)));
  ASSERT_TRUE(WaitUntil(
      [&] { return RunningTranscoders() == 0 && FilesContaining(outputDir_, "").size() == 1; }, 10000));
  EXPECT_TRUE(Exists(longFile));
}

TEST_F(PageRunsTest, ASpeedRunMeasuresItsProgressByItsOwnFactor) {
  AddThroughDialog(OperationKind::Speed, {QString::fromStdString(CopyAs(test::ToneWav(240), "tone.wav"))});
  Click("speed-0-5");
  ClickRow(OperationKind::Speed, 0, "speedBtn");
  Click("speed-2-0");  // chosen for the next run, not this one
  int highest = 0;
  auto* bar = Row(OperationKind::Speed, 0)->findChild<QProgressBar*>("speed-progress");
  ASSERT_TRUE(WaitUntil(
      [&] {
        highest = std::max(highest, RowText(OperationKind::Speed, 0, "progress-label").remove('%').toInt());
        return RowDone(OperationKind::Speed, 0);
      },
      60000));
  EXPECT_LE(highest, 100);
  EXPECT_EQ(bar->value(), 100);
  EXPECT_NEAR(test::Probe(FilesContaining(outputDir_, "tone-变速-")[0]).durationSec, 480, 1);
}

TEST_F(PageRunsTest, RunsThatCannotWriteTheirResultFailAndLeaveNothing) {
  test::SmallDisk disk(64 * 1024);
  if (!disk.Ok()) GTEST_SKIP() << disk.Why();
  SettingsFile::Instance().WriteString(kSettingsSection, kKeyOutputDir, disk.Path());
  const std::string tone = CopyAs(test::ToneWav(30), "tone.wav");
  AddThroughDialog(OperationKind::Speed, {QString::fromStdString(tone)});  // 0
  AddThroughDialog(OperationKind::Noise, {QString::fromStdString(tone)});  // 1
  ClickRow(OperationKind::Speed, 0, "speedBtn");
  ClickRow(OperationKind::Noise, 1, "noiseBtn");
  for (const auto& [kind, id, button] :
       {std::tuple{OperationKind::Speed, 0, "speedBtn"}, std::tuple{OperationKind::Noise, 1, "noiseBtn"}}) {
    ASSERT_TRUE(WaitUntil(
        [&, kind = kind, id = id] { return RowText(kind, id, "progress-label") == "磁盘已满"; }, 60000));
    EXPECT_TRUE(ButtonTakesClicks(kind, id, button));
  }
  EXPECT_TRUE(std::filesystem::is_empty(disk.Path()));
  EXPECT_TRUE(Exists(tone));
}

}  // namespace
}  // namespace tw

namespace tw {
namespace {

// Pictures of every file page with rows running and finished, for a person to look at: runs
// only when TW_SCREENSHOT_DIR names a folder (under Xvfb with the xcb platform, or offscreen).
TEST_F(PageRunsTest, Screenshots) {
  const char* dir = std::getenv("TW_SCREENSHOT_DIR");
  if (!dir) GTEST_SKIP() << "TW_SCREENSHOT_DIR not set";
  const std::string longTone = CopyAs(test::ToneMp3(240), "长的音频 long tone.mp3");
  const std::string shortTone = CopyAs(test::ToneWav(1), "short tone.wav");
  const std::string video = CopyAs(test::VideoWithSound(8), "clip with sound.mp4");
  const std::string gone = CopyAs(test::ToneWav(1), "<b>gone.wav");  // a name with markup, shown as it is
  struct Shot {
    OperationKind kind;
    const char* option;
    const char* button;
    std::vector<std::string> files;
  };
  const std::vector<Shot> shots = {
      {OperationKind::Convert, "audio-convert", "convertBtn", {shortTone, longTone, gone}},
      {OperationKind::Merge, "audio-merge", "", {shortTone, longTone, shortTone}},
      {OperationKind::Speed, "audio-change-speed", "speedBtn", {shortTone, longTone}},
      {OperationKind::Extract, "audio-extract", "extractBtn", {shortTone, video}},
      {OperationKind::Noise, "audio-noise", "noiseBtn", {shortTone, longTone}},
      {OperationKind::Volume, "audio-volume", "volumeBtn", {shortTone, longTone}},
      {OperationKind::BgMusic, "audio-bg-music", "bgMusicBtn", {shortTone, longTone}},
  };
  window_->resize(window_->size());
  chooser_->AddFiles({QString::fromStdString(shortTone)});
  Click("add-bg-music-btn");
  // Saves a picture of the window; it must be the window's size and show more than one colour.
  const auto shoot = [&](const char* page, const char* moment) {
    const QImage picture = window_->grab().toImage();
    EXPECT_EQ(picture.size(), window_->size() * window_->devicePixelRatio()) << page << " " << moment;
    EXPECT_GT(picture.convertToFormat(QImage::Format_Indexed8).colorCount(), 1) << page << " " << moment;
    const QString file = QString("%1/%2-%3.png").arg(dir, page, moment);
    EXPECT_TRUE(picture.save(file)) << file.toStdString();
  };
  for (const Shot& shot : shots) {
    SCOPED_TRACE(shot.option);
    QStringList files;
    for (const auto& f : shot.files) files << QString::fromStdString(f);
    AddThroughDialog(shot.kind, files);
    ASSERT_EQ(Rows(shot.kind), static_cast<int>(shot.files.size()));
    window_->Context().selectPage(shot.option);
    Pump();
    shoot(shot.option, "added");
    if (shot.kind == OperationKind::Convert) std::filesystem::remove(gone);
    if (shot.kind == OperationKind::Merge) {
      Click("merge-btn");
    } else if (shot.kind == OperationKind::Convert) {
      Click("all-convert-btn");
    } else {
      for (int i = 0; i < Rows(shot.kind); ++i) ClickRow(shot.kind, RowId(shot.kind, i), shot.button);
    }
    // Running: the long file's row (or the merge) has begun to move.
    const bool moving = WaitUntil([&] {
      if (shot.kind == OperationKind::Merge) return Ctl<QProgressBar>("merge-progress")->value() > 0;
      const QWidget* row = Row(shot.kind, RowId(shot.kind, 1));
      const auto* bar = row ? row->findChild<QProgressBar*>() : nullptr;
      return bar && bar->value() > 0;
    });
    EXPECT_TRUE(moving);
    shoot(shot.option, "running");
    ASSERT_TRUE(WaitUntil(
        [&] {
          if (shot.kind == OperationKind::Merge) return Ctl<QLabel>("merge-progress-label")->text() == "100%" && MergeOver();
          if (shot.kind == OperationKind::Convert)
            return Ctl<QAbstractButton>("all-convert-btn")->text() == "一键转换";
          for (int i = 0; i < Rows(shot.kind); ++i)
            if (!RowDone(shot.kind, RowId(shot.kind, i))) return false;
          return true;
        },
        120000));
    shoot(shot.option, "finished");
  }
}

}  // namespace
}  // namespace tw

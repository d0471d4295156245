// The cut page on the offscreen platform with generated media, a private sound server and the
// real ffmpeg: loading (dialog, drop, a handed-over recording, a second file while the first
// still loads, files that cannot be played), the markers by the view's messages and by the
// mouse, typed times with their checks and prompts, nudges, auditions, the end of the file,
// the keys, zooming into a long file, and cut entries exported and probed.
#include <QAbstractButton>
#include <QApplication>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSlider>
#include <QUrl>
#include <QWheelEvent>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>

#include "app/MediaHelpers.h"
#include "app/Messages.h"
#include "app/SettingsFile.h"
#include "tests/support/PrivatePulse.h"
#include "tests/support/QtPages.h"
#include "tests/support/TestEnv.h"
#include "tests/support/TestMedia.h"
#include "ui/CPaintViewUI.h"
#include "ui/ElidedText.h"
#include "ui/dialogs/LoadingDialog.h"
#include "ui/pages/CutPage.h"

namespace tw {
namespace {

using test::CopyAs;
using test::FilesContaining;
using test::Pump;
using test::WaitUntil;

// One sound server for the whole test program: the player's device is its null sink.
class PulseEnvironment : public testing::Environment {
 public:
  void SetUp() override { pulse_ = std::make_unique<test::PrivatePulse>(); }
  void TearDown() override { pulse_.reset(); }
  bool Ok() const { return pulse_ && pulse_->Ok(); }

 private:
  std::unique_ptr<test::PrivatePulse> pulse_;
};
PulseEnvironment* const kPulse =
    static_cast<PulseEnvironment*>(testing::AddGlobalTestEnvironment(new PulseEnvironment));

class CutPageTest : public test::PageWindowTest {
 protected:
  CutPageTest() { checkDialogs_ = true; }
  void SetUp() override {
    ASSERT_TRUE(kPulse->Ok()) << "the private sound server did not start";
    test::PageWindowTest::SetUp();
    page_ = window_->Cut();
  }
  QString Edit(const char* name) { return Ctl<QLineEdit>(name)->text(); }
  bool Visible(const char* name) { return Ctl<QWidget>(name)->isVisibleTo(window_->Root()); }
  // Loads through "add-audio-file" and the dialog; waits for the waveform.
  void Load(const std::string& path) {
    chooser_->AddFiles({QString::fromStdString(path)});
    Click("add-audio-file");
    WaitForWave();
  }
  void WaitForWave() {
    ASSERT_TRUE(WaitUntil([&] { return page_->View()->Reader() && page_->View()->Reader()->Done(); }));
    ASSERT_TRUE(WaitUntil([&] { return !window_->Loading()->isVisible(); }));
  }
  void PostSeconds(unsigned id, double seconds) {
    window_->Post(Message(id, std::make_unique<SecondsRecord>(seconds)));
    Pump();
  }
  // Types both times and presses "cut-audio-file"; the prompt's text, or "" when none showed.
  QString CutWith(const QString& start, const QString& end) {
    Ctl<QLineEdit>("cut-audio-left-position")->setText(start);
    Ctl<QLineEdit>("cut-audio-right-position")->setText(end);
    auto answer = test::AnswerNextModal("msgConfirm");
    Click("cut-audio-file");
    // The prompt opens within the click; an answer left armed would take a later dialog.
    answer->cancelled = true;
    return answer->answered ? answer->text : QString();
  }
  // press opens the prompt text, which is answered.
  void ExpectPrompt(const std::function<void()>& press, const QString& text) {
    auto answer = test::AnswerNextModal("msgConfirm");
    press();
    EXPECT_TRUE(answer->answered);
    EXPECT_EQ(answer->text, text);
    ExpectDialogs({text});
  }
  int LastRowId() { return RowId(OperationKind::Cut, Rows(OperationKind::Cut) - 1); }
  // A key pressed (and released) on the control that has the focus.
  void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, const QString& text = {}) {
    QWidget* target = window_->focusWidget() ? window_->focusWidget() : window_.data();
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QApplication::sendEvent(target, &release);
    Pump();
  }
  void TypeInto(const char* editName, const QString& text) {
    auto* edit = Ctl<QLineEdit>(editName);
    edit->setFocus();
    edit->selectAll();
    for (const QChar c : text) Key(0, Qt::NoModifier, QString(c));
  }
  // The paused player rests at seconds (the rest of a chunk decoded before plays out first).
  bool RestsAt(double seconds) {
    return WaitUntil([&] { return std::abs(page_->Player()->GetPosition() - seconds) < 1e-6; });
  }
  FileEntry Entry(int id) {
    FileEntry e;
    window_->Tasks().Find(id, &e);
    return e;
  }
  // Exports a row and returns its result once done.
  std::string Export(int id) {
    ClickRow(OperationKind::Cut, id, "exportBtn");
    EXPECT_TRUE(WaitUntil([&] { return RowDone(OperationKind::Cut, id); }, 30000));
    return Entry(id).fullPath;
  }

  CutPage* page_ = nullptr;
};

TEST_F(CutPageTest, ALoadedFilePlaysWithItsWaveformAndName) {
  const std::string tone = CopyAs(test::ToneWav(5), "tone.wav");
  Load(tone);
  const auto& filters = chooser_->lastFilters;
  ASSERT_EQ(filters.size(), 3u);
  EXPECT_EQ(filters[0].description, "全部(*.*)");
  EXPECT_TRUE(filters[1].description.startsWith("音频文件(*.mp3;"));
  EXPECT_TRUE(filters[2].patterns.contains("*ogv;*.divx"));
  EXPECT_FALSE(chooser_->lastMultiple);

  EXPECT_EQ(page_->CutFile().fullPath, tone);
  EXPECT_EQ(page_->CutFile().size, static_cast<std::int64_t>(std::filesystem::file_size(tone)));
  EXPECT_NEAR(page_->CutFile().duration, 5, 0.05);
  EXPECT_EQ(Ctl<QLabel>("audio-filename")->text(), "tone.wav");
  EXPECT_EQ(page_->LeftTime(), -1);
  EXPECT_EQ(page_->RightTime(), -1);
  ASSERT_NE(page_->Player(), nullptr);
  EXPECT_EQ(page_->Player()->state, PlayerState::Playing);
  EXPECT_FALSE(Visible("play"));
  EXPECT_TRUE(Visible("pause"));
  EXPECT_EQ(page_->Player()->Volume(), Ctl<QSlider>("sound-slider")->value());
  EXPECT_NEAR(page_->View()->Model().totalTime, 5, 0.05);
  EXPECT_GT(page_->View()->Reader()->Peaks().size(), 5000u);
  EXPECT_EQ(window_->Loading()->ProgressText(), "100%");
  // The ticks move the play cursor.
  ASSERT_TRUE(WaitUntil([&] { return page_->View()->Model().playTime > 0.3; }));

  Click("pause");
  EXPECT_EQ(page_->Player()->state, PlayerState::Paused);
  EXPECT_TRUE(Visible("play"));
  Click("play");
  EXPECT_EQ(page_->Player()->state, PlayerState::Playing);
  EXPECT_TRUE(Visible("pause"));
  Ctl<QSlider>("sound-slider")->setValue(20);
  Pump();
  EXPECT_EQ(page_->Player()->Volume(), 20);
}

TEST_F(CutPageTest, MarkerMessagesSetTheTimesAndACutEntryExportsThatStretch) {
  const std::string tone = CopyAs(test::ToneWav(5), "tone.flac.wav");
  Load(tone);
  PostSeconds(WM_LEFT_MARKER_GRAB, 0);
  PostSeconds(WM_CUT_START, 1.0);
  PostSeconds(WM_LEFT_MARKER_RELEASE, 0);
  PostSeconds(WM_CUT_END, 3.25);
  EXPECT_EQ(page_->LeftTime(), 1.0);
  EXPECT_EQ(page_->RightTime(), 3.25);
  EXPECT_EQ(Edit("cut-audio-left-position"), "00:00:01.00");
  EXPECT_EQ(Edit("cut-audio-right-position"), "00:00:03.25");
  EXPECT_EQ(CutWith(Edit("cut-audio-left-position"), Edit("cut-audio-right-position")), "");
  ASSERT_EQ(Rows(OperationKind::Cut), 1);
  const int id = LastRowId();
  const FileEntry entry = Entry(id);
  EXPECT_TRUE(std::regex_match(entry.fileName, std::regex("tone\\.flac-剪辑-[0-9]{14}\\.wav")))
      << entry.fileName;
  EXPECT_EQ(entry.fullPath, outputDir_ + "/" + entry.fileName);
  EXPECT_EQ(entry.sourcePath, tone);
  EXPECT_EQ(entry.cutStart, 1.0);
  EXPECT_EQ(entry.cutEnd, 3.25);
  EXPECT_EQ(RowText(OperationKind::Cut, id, "fileNameLabel"), QString::fromStdString(entry.fileName));
  EXPECT_EQ(RowText(OperationKind::Cut, id, "durationLabel"), "00:00:02");
  // The view shows the stretch that was cut.
  EXPECT_TRUE(page_->View()->Model().leftChosen && page_->View()->Model().rightChosen);

  const std::string result = Export(id);
  const test::MediaInfo info = test::Probe(result);
  ASSERT_TRUE(info.ok) << result;
  EXPECT_NEAR(info.durationSec, 2.25, 0.05);
  EXPECT_EQ(Entry(id).size, static_cast<std::int64_t>(std::filesystem::file_size(result)));
  // The row shows the size of the result (a 2.25 s WAV of 16-bit stereo at 44.1 kHz).
  EXPECT_EQ(RowText(OperationKind::Cut, id, "fileSizeLabel"), "387KB");
  // Exporting again writes a second result beside the first, never over it; the entry names it.
  Export(id);
  EXPECT_EQ(Rows(OperationKind::Cut), 1);
  EXPECT_EQ(FilesContaining(outputDir_, "-剪辑-").size(), 2u);
  EXPECT_EQ(Entry(id).fullPath, result.substr(0, result.size() - 4) + "-2.wav");
  EXPECT_EQ(RowText(OperationKind::Cut, id, "fileNameLabel"), QString::fromStdString(Entry(id).fileName));

  // A second entry of the same second, not exported: deleting it removes its row and no file,
  // not the first entry's result under the name both were designed to carry.
  ASSERT_EQ(CutWith(Edit("cut-audio-left-position"), Edit("cut-audio-right-position")), "");
  const int unexported = LastRowId();
  const std::string designed = outputDir_ + "/" + Entry(unexported).fileName;
  if (!std::filesystem::exists(designed)) std::ofstream(designed) << "another program's file";
  const size_t files = FilesContaining(outputDir_, "-剪辑-").size();
  auto confirm = test::AnswerNextModal("msgConfirm");
  window_->Post(Message(WM_LIST_DELETE, std::make_unique<ListRecord>(int(OperationKind::Cut), unexported)));
  ASSERT_TRUE(WaitUntil([&] { return Rows(OperationKind::Cut) == 1; }));
  EXPECT_TRUE(std::filesystem::exists(designed));
  EXPECT_EQ(FilesContaining(outputDir_, "-剪辑-").size(), files);
  ExpectDialogs({"确定要删除吗?"});
}

TEST_F(CutPageTest, TypedTimesAreCheckedBeforeAnEntryIsAdded) {
  ExpectPrompt([&] { Click("cut-audio-file"); }, "请先添加要剪辑的文件!");
  Load(CopyAs(test::ToneWav(5), "song.APE"));
  struct Case {
    QString start, end;
    QString prompt;   // "" when an entry is added
    double from, to;  // the entry's stretch
  };
  const std::vector<Case> cases = {
      {"00:00:00.00", "00:00:00.00", "请选取要截取位置!", 0, 0},
      {"00:00:09.00", "00:00:01.00", "开始时间超出文件长度!", 0, 0},  // beyond the file
      {"00:61:00.00", "00:00:01.00", "开始时间格式错误!", 0, 0},      // malformed
      {"0:0:1", "00:00:01.00", "开始时间格式错误!", 0, 0},
      {"00:00:01.00", "abc", "结束时间格式错误!", 0, 0},
      {"00:00:01.00", "00:00:09.00", "结束时间超出文件长度!", 0, 0},
      {"00:00:03.00", "00:00:01.00", "开始时间必须早于结束时间!", 0, 0},  // not to the end of the file
      {"00:00:05.00", "00:00:05.00", "开始时间必须早于结束时间!", 0, 0},  // nothing left after the start
      {"00:00:00.00", "00:00:02.00", "", 0, 2},
      {"00:00:01.50", "00:00:04.00", "", 1.5, 4},
      {"00:00:03.00", "00:00:05.00", "", 3, 5},  // up to the end of the file
  };
  int rows = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE((c.start + " " + c.end).toStdString());
    EXPECT_EQ(CutWith(c.start, c.end), c.prompt);
    if (!c.prompt.isEmpty()) {
      ExpectDialogs({c.prompt});
      EXPECT_EQ(Rows(OperationKind::Cut), rows);
      continue;
    }
    ASSERT_EQ(Rows(OperationKind::Cut), ++rows);
    const FileEntry entry = Entry(LastRowId());
    EXPECT_NEAR(entry.cutStart, c.from, 1e-9);
    EXPECT_NEAR(entry.cutEnd, c.to, 0.05);
    EXPECT_NEAR(entry.duration, c.to - c.from, 0.05);
    EXPECT_TRUE(std::regex_match(entry.fileName, std::regex("song-剪辑-[0-9]{14}(-[0-9]+)?\\.mp3")))
        << entry.fileName;
  }
  // Entries of one second share their designed name; each export publishes a name of its own.
}

TEST_F(CutPageTest, NudgesAndAuditionsFollowTheirRules) {
  Load(test::ToneWav(5));
  // Unchosen markers: the auditions ask for a stretch first.
  for (const char* audition : {"left-audition", "right-audition", "middle-audition"}) {
    SCOPED_TRACE(audition);
    ExpectPrompt([&] { Click(audition); }, "请拖动选择剪辑区域!");
  }
  Click("audio-left-position-down");  // nothing below an unset start
  EXPECT_EQ(page_->LeftTime(), -1);
  Click("audio-left-position-up");
  EXPECT_NEAR(page_->LeftTime(), 0.01, 1e-9);
  EXPECT_EQ(Edit("cut-audio-left-position"), "00:00:00.01");
  PostSeconds(WM_CUT_START, 0.005);
  Click("audio-left-position-down");
  EXPECT_LT(page_->LeftTime(), 0);
  EXPECT_EQ(Edit("cut-audio-left-position"), "00:00:00.00");
  Click("audio-right-position-up");
  Click("audio-right-position-up");
  EXPECT_NEAR(page_->RightTime(), 0.02, 1e-9);
  EXPECT_EQ(Edit("cut-audio-right-position"), "00:00:00.02");
  // Nudges move the markers with the times, not the player.
  EXPECT_TRUE(page_->View()->Model().rightChosen);
  EXPECT_NEAR(page_->View()->Model().rightTime, 0.02, 1e-9);

  // The stretch 0.5 .. 1.0 auditioned from a pause: the player itself stops past its end (a busy
  // window ticks late), else the page's tick does, and the page follows.
  PostSeconds(WM_CUT_START, 0.5);
  PostSeconds(WM_CUT_END, 1.0);
  Click("pause");
  Click("middle-audition");
  EXPECT_TRUE(page_->AuditionStopAtRight());
  EXPECT_EQ(page_->Player()->state, PlayerState::Playing);
  EXPECT_TRUE(Visible("pause"));
  ASSERT_TRUE(WaitUntil([&] { return page_->Player()->state == PlayerState::Paused; }, 10000));
  ASSERT_TRUE(WaitUntil([&] { return !page_->AuditionStopAtRight(); }, 10000));
  EXPECT_TRUE(Visible("play"));
  EXPECT_GT(page_->Player()->GetPosition(), 1.0);
  EXPECT_LT(page_->Player()->GetPosition(), 2.5);

  // "cut-audio-left" takes the play position and chooses the view's marker.
  Click("cut-audio-left");
  const double position = page_->Player()->GetPosition();
  EXPECT_DOUBLE_EQ(page_->LeftTime(), position);
  EXPECT_EQ(Edit("cut-audio-left-position"), QString::fromStdString(FormatTimeText(position)));
  EXPECT_TRUE(page_->View()->Model().leftChosen);
  EXPECT_DOUBLE_EQ(page_->View()->Model().leftTime, position);

  // Skips while paused move the clock: at most to the end, at least to 0, and the player stays
  // paused there (its reader meeting the end at once is no end of playing; it looks every 20 ms).
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    Click("forward");
    EXPECT_NEAR(page_->Player()->clock, 5, 0.1);
    EXPECT_FALSE(WaitUntil([&] { return page_->Player()->state != PlayerState::Paused; }, 200));
    Click("rewind");
    Click("rewind");
    ASSERT_EQ(page_->Player()->clock, 0);
  }
}

TEST_F(CutPageTest, TheEndOfTheFileShowsPlayAndPlayStartsAgain) {
  Load(test::ToneWav(1, 660));
  ASSERT_TRUE(
      WaitUntil([&] { return page_->Player()->state == PlayerState::Finished && Visible("play"); }, 10000));
  EXPECT_FALSE(Visible("pause"));
  Click("play");
  ASSERT_NE(page_->Player(), nullptr);
  EXPECT_EQ(page_->Player()->state, PlayerState::Playing);
  EXPECT_LT(page_->Player()->GetPosition(), 0.9);
  EXPECT_TRUE(Visible("pause"));

  // After the end a click on the waveform puts the paused player there; play resumes from it
  // and the next end is reported again.
  ASSERT_TRUE(
      WaitUntil([&] { return page_->Player()->state == PlayerState::Finished && Visible("play"); }, 10000));
  PostSeconds(WM_WAVE_CLICK, 0.5);
  EXPECT_EQ(page_->Player()->state, PlayerState::Paused);
  EXPECT_EQ(page_->Player()->clock, 0.5);
  EXPECT_EQ(page_->View()->Model().playTime, 0.5);
  AudioPlayer* same = page_->Player();
  Click("play");
  EXPECT_EQ(page_->Player(), same);
  EXPECT_EQ(page_->Player()->state, PlayerState::Playing);
  ASSERT_TRUE(
      WaitUntil([&] { return page_->Player()->state == PlayerState::Finished && Visible("play"); }, 10000));
}

TEST_F(CutPageTest, DraggingAMarkerWithTheMouseMovesTheStartTime) {
  Load(test::ToneWav(5));
  CPaintViewUI* view = page_->View();
  Click("pause");
  const WaveGeometry g = view->Geometry();
  view->repaint();
  const QPointF handle(g.AxisStart(), g.top + 36);
  const QPointF middle(g.AxisStart() + g.AxisLength() / 2.0, g.top + 36);
  auto send = [&](QEvent::Type type, QPointF at, Qt::MouseButtons buttons) {
    QMouseEvent e(type, at, view->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                  buttons, Qt::NoModifier);
    QApplication::sendEvent(view, &e);
    Pump();
  };
  send(QEvent::MouseButtonPress, handle, Qt::LeftButton);
  send(QEvent::MouseMove, handle + QPointF(1, 0), Qt::LeftButton);
  EXPECT_EQ(page_->Player()->paused, false) << "the sound follows the dragged marker";
  send(QEvent::MouseMove, middle, Qt::LeftButton);
  send(QEvent::MouseButtonRelease, middle, Qt::NoButton);
  EXPECT_NEAR(page_->LeftTime(), 2.5, 0.05);
  EXPECT_EQ(Edit("cut-audio-left-position").left(8), "00:00:02");
  EXPECT_TRUE(page_->Player()->paused) << "paused again after a drag begun in a pause";
  EXPECT_TRUE(view->Model().leftChosen);
}

TEST_F(CutPageTest, AVideoFilesSoundIsCutIntoMp3) {
  Load(CopyAs(test::VideoWithSound(3), "clip.mp4"));
  EXPECT_EQ(CutWith("00:00:00.50", "00:00:02.00"), "");
  const int id = LastRowId();
  EXPECT_TRUE(std::regex_match(Entry(id).fileName, std::regex("clip-剪辑-[0-9]{14}\\.mp3")));
  const test::MediaInfo info = test::Probe(Export(id));
  ASSERT_TRUE(info.ok);
  EXPECT_EQ(info.CountType("video"), 0);
  EXPECT_EQ(info.First("audio")->codecName, "mp3");
  EXPECT_NEAR(info.durationSec, 1.5, 0.1);
}

TEST_F(CutPageTest, FilesThatCannotBePlayedSayWhyAndLeaveNoFile) {
  struct Case {
    std::string path;
    QString prompt;
  };
  const std::vector<Case> cases = {
      {test::TextNamedMp3(), "该文件无法播放!"},
      {test::EmptyMp3(), "该文件无法播放!"},
      {test::VideoWithoutSound(1), "该文件无法播放!"},
      {test::TempDir() + "/gone.wav", "该文件无法播放!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    chooser_->AddFiles({QString::fromStdString(c.path)});
    ExpectPrompt([&] { Click("add-audio-file"); }, c.prompt);
    EXPECT_FALSE(page_->HasFile());
    EXPECT_EQ(page_->Player(), nullptr);
    EXPECT_EQ(Ctl<QLabel>("audio-filename")->text(), "尚未添加文件");
    EXPECT_FALSE(window_->Loading()->isVisible());
    EXPECT_TRUE(Visible("play"));
    ExpectPrompt([&] { Click("cut-audio-file"); }, "请先添加要剪辑的文件!");
  }
  // A good file loads afterwards as usual.
  Load(test::ToneWav(1));
  EXPECT_TRUE(page_->HasFile());
}

TEST_F(CutPageTest, WithoutASoundDeviceTheFileCanStillBeCut) {
  chooser_->AddFiles({QString::fromStdString(test::ToneWav(2))});
  {
    test::ScopedEnv noServer("PULSE_SERVER", "unix:" + test::TempDir() + "/no-server");
    test::ScopedEnv driver("SDL_AUDIODRIVER", "pulse");
    ExpectPrompt([&] { Click("add-audio-file"); }, "没有声音设备，请插入耳机!");
  }
  EXPECT_EQ(page_->Player(), nullptr);
  ASSERT_TRUE(page_->HasFile());
  WaitForWave();
  EXPECT_EQ(CutWith("00:00:00.00", "00:00:01.00"), "");
  EXPECT_NEAR(test::Probe(Export(LastRowId())).durationSec, 1.0, 0.1);
  // With the device back, "play" tries again.
  Click("play");
  ASSERT_NE(page_->Player(), nullptr);
  EXPECT_EQ(page_->Player()->state, PlayerState::Playing);
}

TEST_F(CutPageTest, HostileNamesAreLoadedAndExportedAsTheyAre) {
  std::vector<std::string> names = test::HostileNames();
  names.push_back("歌曲 一 `x`.flac");  // another container than the source's
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const std::string path = CopyAs(test::ToneWav(2), name);
    Load(path);
    EXPECT_EQ(page_->CutFile().fileName, name);
    EXPECT_EQ(FullText(Ctl<QLabel>("audio-filename")), QString::fromStdString(name));
    // Shown as it is, never as markup: the label, and its tooltip as a tooltip renders it.
    EXPECT_EQ(Ctl<QLabel>("audio-filename")->textFormat(), Qt::PlainText);
    EXPECT_EQ(test::ShownToolTip(Ctl<QLabel>("audio-filename")), QString::fromStdString(path));
    ASSERT_EQ(CutWith("00:00:00.20", "00:00:01.20"), "");
    const std::string result = Export(LastRowId());
    const std::string base = name.substr(0, name.rfind('.'));
    EXPECT_EQ(std::filesystem::path(result).filename().string().rfind(base + "-剪辑-", 0), 0u) << result;
    // The source's container, or MP3 for a source that names none.
    const std::string extension = std::filesystem::path(name).extension().string();
    EXPECT_EQ(std::filesystem::path(result).extension().string(), extension.empty() ? ".mp3" : extension);
    EXPECT_NEAR(test::Probe(result).durationSec, 1.0, 0.1);
  }
  EXPECT_FALSE(std::filesystem::exists("pwned"));
  EXPECT_FALSE(std::filesystem::exists(outputDir_ + "/pwned"));
}

// Ten minutes of flac: long enough that its waveform is still loading when the test acts.
std::string SlowToLoadFlac() {
  return test::MakeMedia(
      "cut-long-600s.flac",
      {"-f", "lavfi", "-i", "sine=frequency=300:sample_rate=44100:duration=600", "-ac", "2"});
}

TEST_F(CutPageTest, ASecondFileLoadedWhileTheFirstStillLoadsReplacesIt) {
  const std::string longFile = SlowToLoadFlac();
  const std::string second = CopyAs(test::ToneWav(3, 880), "second.wav");
  page_->LoadFile(QString::fromStdString(longFile));
  page_->LoadFile(QString::fromStdString(second));
  WaitForWave();
  EXPECT_EQ(page_->CutFile().fullPath, second);
  EXPECT_NEAR(page_->View()->Model().totalTime, 3, 0.05);
  EXPECT_NEAR(page_->View()->Reader()->Duration(), 3, 0.05);
  EXPECT_EQ(page_->Player()->Path(), second);
  // Nothing of the first file moves the dialog afterwards: its reader ended before the second
  // one started, so its last reports are already queued.
  Pump();
  EXPECT_FALSE(window_->Loading()->isVisible());

  // A file dropped on the waveform replaces it the same way.
  const std::string dropped = CopyAs(test::ToneMp3(2), "dropped.mp3");
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(test::TempDir())),
                QUrl::fromLocalFile(QString::fromStdString(dropped))});
  const QPoint at(30, 30);
  QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(page_->View(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(page_->View(), &drop);
  EXPECT_TRUE(drop.isAccepted());
  ASSERT_TRUE(WaitUntil([&] { return page_->CutFile().fullPath == dropped; }));
  WaitForWave();
  EXPECT_EQ(page_->LeftTime(), -1);
}

TEST_F(CutPageTest, ARecordingHandedOverStartsAtZero) {
  window_->Notify("selectchanged", FindControl(window_->Root(), "audio-record"));
  Ctl<QAbstractButton>("audio-record")->setChecked(true);
  Pump();
  ASSERT_EQ(window_->CurrentPage(), 1);
  FileEntry recording = EntryForPath(CopyAs(test::ToneMp3(2), "新录音-20260101120000.mp3"));
  page_->ReceiveRecording(recording);
  Pump();
  EXPECT_EQ(window_->CurrentPage(), 0);
  EXPECT_EQ(page_->LeftTime(), 0);
  EXPECT_EQ(page_->RightTime(), 0);
  EXPECT_EQ(Edit("cut-audio-left-position"), "00:00:00.00");
  EXPECT_EQ(page_->CutFile().fullPath, recording.fullPath);
  EXPECT_NEAR(page_->CutFile().duration, 2, 0.1);
  WaitForWave();
  ASSERT_NE(page_->Player(), nullptr);
  // Times of 0 still need a stretch before an audition.
  ExpectPrompt([&] { Click("left-audition"); }, "请拖动选择剪辑区域!");
}

// A name too long for its label is shown cut in the middle with "…", the whole path on hover;
// the rows of the results do the same.
TEST_F(CutPageTest, LongNamesAreElidedWithTheirPathInTheTooltip) {
  const std::string name = std::string(150, 'n') + " 很长的名字.wav";
  const std::string path = CopyAs(test::ToneWav(2), name);
  Load(path);
  auto* label = Ctl<QLabel>("audio-filename");
  EXPECT_TRUE(label->text().contains(QChar(0x2026))) << label->text().toStdString();
  // Give or take rounding.
  EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width() + 2);
  EXPECT_EQ(FullText(label), QString::fromStdString(name));
  EXPECT_EQ(test::ShownToolTip(label), QString::fromStdString(path));
  ASSERT_EQ(CutWith("00:00:00.50", "00:00:01.50"), "");
  auto* row = page_->FindRow(LastRowId())->findChild<QLabel*>("fileNameLabel");
  EXPECT_TRUE(row->text().contains(QChar(0x2026)));
  EXPECT_EQ(test::ShownToolTip(row), QString::fromStdString(Entry(LastRowId()).fullPath));
  // Wider, it shows more of the name.
  const int shown = label->text().size();
  window_->resize(window_->width() + 300, window_->height());
  Pump();
  EXPECT_GT(label->text().size(), shown);
}

// A file that fails while another is still loading: the replaced reader's late progress report
// must not bring the loading dialog back, with no reader left to hide it again.
TEST_F(CutPageTest, AFailedLoadLeavesNoLoadingDialogForALateReport) {
  const std::string longFile = SlowToLoadFlac();
  page_->LoadFile(QString::fromStdString(longFile));
  ASSERT_TRUE(page_->View()->Loading());
  chooser_->AddFiles({QString::fromStdString(test::TextNamedMp3())});
  ExpectPrompt([&] { Click("add-audio-file"); }, "该文件无法播放!");
  window_->Post(Message(WM_LOADING_SHOW, nullptr, 37));  // the first reader's report, still on its way
  Pump();
  EXPECT_FALSE(window_->Loading()->isVisible());
  EXPECT_FALSE(page_->View()->Loading());
}

// The keys drive a real player and the markers; a text field keeps its own keys.
TEST_F(CutPageTest, KeysDriveThePlayerAndTheMarkers) {
  Load(CopyAs(test::ToneWav(10), "ten.wav"));  // a whole 10 s in view: the arrows step 1 s
  CPaintViewUI* view = page_->View();
  EXPECT_EQ(window_->focusWidget(), view)
      << "the keys go to the waveform after a load, not to the add button";
  ASSERT_EQ(page_->Player()->state, PlayerState::Playing);
  Key(Qt::Key_Space);
  EXPECT_EQ(page_->Player()->state, PlayerState::Paused);
  EXPECT_TRUE(Visible("play"));

  Key(Qt::Key_Home);
  EXPECT_TRUE(RestsAt(0));
  for (int i = 0; i < 3; ++i) Key(Qt::Key_Right);
  EXPECT_TRUE(RestsAt(3));
  Key(Qt::Key_Right, Qt::ShiftModifier);           // a pixel of the view, at least a hundredth
  const double fine = page_->Player()->clock - 3;  // where the paused player was put
  EXPECT_GE(fine, 0.01 - 1e-9);
  EXPECT_LT(fine, 0.05);
  Key(Qt::Key_I);
  EXPECT_DOUBLE_EQ(page_->LeftTime(), 3 + fine);
  EXPECT_EQ(Edit("cut-audio-left-position"), QString::fromStdString(FormatTimeText(3 + fine)));
  EXPECT_TRUE(view->Model().leftChosen);
  Key(Qt::Key_End);
  EXPECT_TRUE(RestsAt(10));
  Key(Qt::Key_Left);
  Key(Qt::Key_Left);
  EXPECT_TRUE(RestsAt(8));
  Key(Qt::Key_O);
  EXPECT_DOUBLE_EQ(page_->RightTime(), 8);
  Key(Qt::Key_BracketLeft);
  EXPECT_TRUE(RestsAt(3 + fine));
  Key(Qt::Key_BracketRight);
  EXPECT_TRUE(RestsAt(8));
  Key(Qt::Key_Space);
  EXPECT_EQ(page_->Player()->state, PlayerState::Playing);
  EXPECT_TRUE(WaitUntil([&] { return page_->Player()->GetPosition() > 8.3; }))
      << "the sound does not go on";
  Key(Qt::Key_Space);
  EXPECT_EQ(page_->Player()->state, PlayerState::Paused);
  Key(Qt::Key_Equal, Qt::ControlModifier);
  EXPECT_TRUE(view->Model().Zoomed());
  Key(Qt::Key_0, Qt::ControlModifier);
  EXPECT_FALSE(view->Model().Zoomed());

  // In a time field Space, the letters and Enter type or end the typing; they drive nothing.
  TypeInto("cut-audio-left-position", "00:00:02.50");
  EXPECT_DOUBLE_EQ(page_->LeftTime(), 2.5) << "a typed time is taken at once";
  EXPECT_DOUBLE_EQ(view->Model().leftTime, 2.5);
  Key(Qt::Key_Space, Qt::NoModifier, " ");
  Key(Qt::Key_Return);
  EXPECT_EQ(page_->Player()->state, PlayerState::Paused);
  EXPECT_EQ(Rows(OperationKind::Cut), 0);
  EXPECT_EQ(Edit("cut-audio-left-position"), "00:00:02.50 ");

  // On any other control Enter cuts the chosen stretch and exports it at once.
  Ctl<QLineEdit>("cut-audio-left-position")->setText("00:00:02.50");
  Ctl<QWidget>("play")->setFocus();
  Key(Qt::Key_Return);
  ASSERT_EQ(Rows(OperationKind::Cut), 1);
  const int id = LastRowId();
  ASSERT_TRUE(WaitUntil([&] { return RowDone(OperationKind::Cut, id); }, 30000));
  EXPECT_NEAR(test::Probe(Entry(id).fullPath).durationSec, 5.5, 0.1);
}

// A long file zoomed in near its end shows the real samples of the stretch in view, read for it,
// and zooms out to the whole file again; keys and the wheel work while it loads.
TEST_F(CutPageTest, AZoomedViewShowsTheRealValuesOfItsStretch) {
  const std::string music =
      test::MakeMedia("cut-music-600s.mp3",
                      {"-f", "lavfi", "-i", "sine=frequency=330:sample_rate=44100:duration=600", "-f",
                       "lavfi", "-i", "anoisesrc=color=pink:amplitude=0.3:sample_rate=44100:duration=600",
                       "-filter_complex", "[0][1]amix=inputs=2:normalize=0,tremolo=f=0.7:d=0.9", "-ac", "2",
                       "-c:a", "libmp3lame", "-b:a", "128k"});
  chooser_->AddFiles({QString::fromStdString(music)});
  Click("add-audio-file");
  CPaintViewUI* view = page_->View();
  Key(Qt::Key_Space);  // keys while the waveform loads
  Key(Qt::Key_Right);
  WaitForWave();
  view->resize(1240, 260);  // a 1,200 px axis
  Pump();
  const WaveGeometry g = view->Geometry();
  // The wheel near the end of the axis, notch by notch, down to about 2 ms a pixel.
  const QPointF at(g.AxisEnd() - 60, (g.BandTop() + g.BandBottom()) / 2.0);
  while (view->Model().Visible().length / g.AxisLength() > 0.002) {
    QWheelEvent wheel(at, view->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(view, &wheel);
  }
  const WaveSpan visible = view->Model().Visible();
  EXPECT_GT(visible.start, 550);
  EXPECT_LE(visible.End(), view->Model().totalTime);
  ASSERT_TRUE(WaitUntil([&] { return view->ShowsRealValues(); }, 10000));
  EXPECT_TRUE(window_->isEnabled());
  EXPECT_LT(view->Detail().SecondsPerBucket(), visible.length / g.AxisLength()) << "not read for the stretch";

  // The same stretch decoded by ffmpeg itself, mono at the file's own rate, from a second
  // earlier (an MP3 decoder needs some sound before the first sample it gets right). Its -ss
  // counts from the stream's start, the view (as the player) from the file's own clock.
  std::string startText;
  test::RunProcess({"ffprobe", "-v", "error", "-show_entries", "stream=start_time", "-of", "csv=p=0", music},
                   &startText);
  const double origin = std::atof(startText.c_str());
  const std::string raw = test::TempDir() + "/stretch.raw";
  ASSERT_EQ(
      test::RunProcess({"ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-ss",
                        std::to_string(visible.start - origin - 1), "-t", std::to_string(visible.length + 1),
                        "-i", music, "-ac", "1", "-f", "s16le", raw}),
      0);
  std::ifstream in(raw, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<int16_t> samples(bytes.size() / 2);
  std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
  samples.erase(samples.begin(), samples.begin() + std::min<size_t>(samples.size(), 44100));
  ASSERT_GE(samples.size(), 44100u * visible.length - 2);

  // Column by column the drawn extremes are those of the decoded samples of that column: every
  // one within the samples of its neighbours too (seeking and rounding may move a column's edge),
  // nearly every one exactly its own (a sample on a column's edge may fall either way), give or
  // take a hundredth of full scale.
  const std::vector<WaveColumn> columns =
      EnvelopeColumns(g, visible, {&view->Reader()->Envelope(), &view->Detail()});
  const double perColumn = visible.length * view->Detail().sampleRate / columns.size();
  const auto extremes = [&](long from, long to) {
    from = std::clamp<long>(from, 0, static_cast<long>(samples.size()) - 1);
    to = std::clamp<long>(to, from + 1, static_cast<long>(samples.size()));
    const auto [lo, hi] = std::minmax_element(samples.begin() + from, samples.begin() + to);
    return std::pair<int, int>(*lo, *hi);
  };
  constexpr int kTolerance = 330;
  size_t exact = 0;
  for (size_t c = 1; c + 1 < columns.size(); ++c) {
    ASSERT_TRUE(columns[c].has) << c;
    const auto [lo, hi] = extremes(std::lround(c * perColumn), std::lround((c + 1) * perColumn));
    const auto [wideLo, wideHi] =
        extremes(std::lround((c - 1) * perColumn), std::lround((c + 2) * perColumn));
    EXPECT_LE(columns[c].hi, wideHi + kTolerance) << c;
    EXPECT_GE(columns[c].lo, wideLo - kTolerance) << c;
    exact += std::abs(columns[c].hi - hi) <= kTolerance && std::abs(columns[c].lo - lo) <= kTolerance;
  }
  EXPECT_GE(exact, (columns.size() - 2) * 95 / 100) << "of " << columns.size() - 2 << " columns";
  // The loudest sample in view is drawn where it is.
  const auto loudest = std::max_element(samples.begin(), samples.end());
  const size_t loudColumn = static_cast<size_t>((loudest - samples.begin()) / perColumn);
  int drawnPeak = 0;
  for (size_t c = loudColumn > 0 ? loudColumn - 1 : 0; c <= std::min(loudColumn + 1, columns.size() - 1); ++c)
    drawnPeak = std::max<int>(drawnPeak, columns[c].hi);
  EXPECT_NEAR(drawnPeak, *loudest, kTolerance);

  // Out again to the whole file, with the scroll bar following.
  auto* bar = Ctl<QScrollBar>("wave-scroll");
  EXPECT_TRUE(bar->isEnabled());
  EXPECT_NEAR(bar->value() / 1000.0, visible.start, 0.002);
  Click("zoom-fit");
  EXPECT_FALSE(view->Model().Zoomed());
  EXPECT_FALSE(bar->isEnabled());
  EXPECT_TRUE(view->ShowsRealValues()) << "the overview has a value for every pixel of the whole file";
}

}  // namespace
}  // namespace tw

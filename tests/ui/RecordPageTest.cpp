// The recorder page on the offscreen platform against a PulseAudio daemon of the test's own: a
// known tone played into the fake microphone or the speaker is recorded from the page and the
// MP3 checked with ffprobe and ffmpeg; pause and resume; the levels as the server has them;
// the folder scan; the refusals of the start; devices, server and disk going away mid-recording.
#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QSlider>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>
#include <thread>

#include "app/MediaHelpers.h"
#include "app/Messages.h"
#include "app/SettingsFile.h"
#include "media/AudioRecorder.h"
#include "media/PulseClient.h"
#include "tests/support/PrivatePulse.h"
#include "tests/support/QtPages.h"
#include "tests/support/TestMedia.h"
#include "ui/ElidedText.h"
#include "ui/pages/CutPage.h"
#include "ui/pages/RecordPage.h"

namespace tw {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using test::Pump;
using test::WaitUntil;

constexpr const char* kNoServer = "unix:/nonexistent/tw-no-server/native";

double Since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}
// Mean level in dB of the sound near one frequency.
double BandLevel(const std::string& path, int frequency, double startSec, double lengthSec) {
  return test::BandLevelDb(path, frequency - 30, frequency + 30, startSec, lengthSec);
}

// "新录音-" + 14 digits + ".mp3".
bool IsRecordingName(const std::string& name) {
  const std::string head = "新录音-";
  if (name.size() != head.size() + 14 + 4 || name.compare(0, head.size(), head) != 0) return false;
  return IsDigits(name.substr(head.size(), 14)) && name.substr(name.size() - 4) == ".mp3";
}

class RecordPageTest : public test::PageWindowTest {
 public:
  RecordPageTest() { checkDialogs_ = true; }
  // Public, for the lambdas of the case tables.
  void SetUp() override {
    pulse_ = std::make_unique<test::PrivatePulse>();
    ASSERT_TRUE(pulse_->Ok()) << "pulseaudio could not be started for the test";
    SettingsFile::Instance().WriteString(kSettingsSection, kKeyVoiceSource, "2");
    PageWindowTest::SetUp();
    Click("audio-record");
  }
  void TearDown() override {
    PageWindowTest::TearDown();
    pulse_.reset();
  }

  // A fresh sound server with all devices.
  void RestartPulse() {
    pulse_.reset();
    pulse_ = std::make_unique<test::PrivatePulse>();
    ASSERT_TRUE(pulse_->Ok());
  }
  // A new main window on the same settings, as at the next start of the program.
  void Reopen() {
    delete window_.data();
    Pump();
    window_ = new CMainWnd();
    QString error;
    ASSERT_TRUE(window_->Create(&error)) << error.toStdString();
    window_->show();
    Pump();
    Click("audio-record");
  }
  RecordPage* Page() const { return window_->Record(); }
  QString Text(const char* label) const { return Ctl<QLabel>(label)->text(); }
  bool Idle() const { return Page()->Recorder() == nullptr; }
  std::string Folder() const { return outputDir_ + "/录音"; }
  void SetSetting(const char* key, const std::string& value) {
    ASSERT_TRUE(SettingsFile::Instance().WriteString(kSettingsSection, key, value));
  }
  std::string Setting(const char* key) const {
    return SettingsFile::Instance().GetString(kSettingsSection, key);
  }
  // The level in percent that pactl reports for a source or sink ("get-source-volume").
  int DeviceLevel(const std::string& what, const std::string& device) const {
    std::string out;
    pulse_->Pactl({"get-" + what + "-volume", device}, &out);
    const size_t percent = out.find('%');
    if (percent == std::string::npos) return -1;
    size_t start = percent;
    while (start > 0 && std::isdigit(static_cast<unsigned char>(out[start - 1]))) --start;
    return std::atoi(out.c_str() + start);
  }
  // The module index pactl lists for a module whose arguments contain `argument`.
  std::string ModuleIndex(const std::string& argument) const {
    std::string out;
    pulse_->Pactl({"list", "short", "modules"}, &out);
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
      if (line.find(argument) != std::string::npos) return line.substr(0, line.find('\t'));
    return "";
  }
  // Waits until n players stream into the server.
  void WaitForPlayers(int n = 1) {
    ASSERT_TRUE(WaitUntil(
        [&] {
          std::string out;
          pulse_->Pactl({"list", "short", "sink-inputs"}, &out);
          return std::count(out.begin(), out.end(), '\n') >= n;
        },
        10000));
  }
  // Waits until the running recorder has written seconds of sound in all.
  void RecordUntil(double seconds) {
    ASSERT_FALSE(Idle());
    const auto samples = static_cast<std::int64_t>(seconds * 44100);
    ASSERT_TRUE(WaitUntil([&] { return !Idle() && Page()->Recorder()->EncodedSamples() >= samples; }, 20000));
  }
  int WaitForScan() {
    EXPECT_TRUE(WaitUntil([this] { return !Page()->Scanning(); }));
    Pump();
    return Rows(OperationKind::Record);
  }
  std::vector<std::string> RowNames() const {
    std::vector<std::string> names;
    for (int i = 0; i < Rows(OperationKind::Record); ++i)
      names.push_back(FullText(Row(OperationKind::Record, RowId(OperationKind::Record, i))
                                   ->findChild<QLabel*>("fileNameLabel"))
                          .toStdString());
    return names;
  }

  std::unique_ptr<test::PrivatePulse> pulse_;
};

TEST(RecordPagePieces, ChoicesNamesAndRefusals) {
  const std::pair<const char*, int> rates[] = {{"64kbps", 64000},   {"96kbps", 96000},   {"128kbps", 128000},
                                               {"192kbps", 192000}, {"256kbps", 256000}, {"320kbps", 320000},
                                               {"", 128000},        {"320Kbps", 128000}, {"999kbps", 128000}};
  for (const auto& [text, rate] : rates) EXPECT_EQ(RecordBitRate(QString::fromUtf8(text)), rate) << text;

  const std::pair<const char*, bool> listed[] = {{"a.mp3", true},     {"b.MP3", true}, {"c.Mp3", false},
                                                 {"d.wav", false},    {"mp3", false},  {"e.mp3.wav", false},
                                                 {"f.wav.mp3", true}, {".mp3", true},  {"g.", false}};
  for (const auto& [name, yes] : listed) EXPECT_EQ(IsListedRecording(name), yes) << name;

  std::tm when{};
  when.tm_year = 2026 - 1900;
  when.tm_mon = 0;
  when.tm_mday = 2;
  when.tm_hour = 3;
  when.tm_min = 4;
  when.tm_sec = 5;
  when.tm_isdst = -1;
  EXPECT_EQ(RecordingFileName(std::mktime(&when)), "新录音-20260102030405.mp3");

  using C = RecordStartCheck;
  const struct {
    int source;
    bool render, mic;
    C expected;
  } starts[] = {
      {SourceAll, true, true, C::Go},          {SourceAll, false, true, C::NoRenderDevice},
      {SourceAll, true, false, C::SystemOnly}, {SourceAll, false, false, C::NoRenderDevice},
      {SourceMicrophone, false, true, C::Go},  {SourceMicrophone, true, false, C::NoMicrophone},
      {SourceSystem, true, false, C::Go},      {SourceSystem, false, true, C::NoRenderDevice},
  };
  for (const auto& c : starts)
    EXPECT_EQ(CheckRecordStart(c.source, c.render, c.mic), c.expected) << c.source << c.render << c.mic;
}

TEST_F(RecordPageTest, MicrophoneToneBecomesAListedMp3) {
  SetSetting(kKeyVoiceSource, "1");
  Ctl<QComboBox>("record-audio-quality")->setCurrentText("192kbps");
  const std::string tone = test::ToneWav(14, 1000);
  const double reference = BandLevel(tone, 1000, 1, 2);
  test::Player player("tw_micfeed", tone);
  WaitForPlayers();

  Click("recorder-start");
  const auto started = Clock::now();
  ASSERT_FALSE(Idle());
  EXPECT_FALSE(Ctl("recorder-start")->isVisible());
  EXPECT_TRUE(Ctl("recorder-pause")->isVisible());
  EXPECT_TRUE(WaitUntil([this] { return Text("recorder-progress") == "00:00:02"; }, 8000));
  RecordUntil(3.5);
  const double recorded = Since(started);  // the stop itself takes a while
  Click("recorder-stop");

  EXPECT_TRUE(Idle());
  EXPECT_EQ(Text("recorder-progress"), "00:00:00");
  EXPECT_TRUE(Ctl("recorder-start")->isVisible());
  EXPECT_FALSE(Ctl("recorder-pause")->isVisible());
  ASSERT_EQ(Rows(OperationKind::Record), 1);
  const int id = RowId(OperationKind::Record, 0);
  const std::string name = RowText(OperationKind::Record, id, "fileNameLabel").toStdString();
  EXPECT_TRUE(IsRecordingName(name)) << name;
  const std::string path = Folder() + "/" + name;
  EXPECT_EQ(Page()->RecordingPath(), path);

  const test::MediaInfo info = test::Probe(path);
  ASSERT_TRUE(info.ok) << path;
  ASSERT_EQ(info.CountType("audio"), 1);
  EXPECT_EQ(info.First("audio")->codecName, "mp3");
  EXPECT_EQ(info.First("audio")->sampleRate, 44100);
  EXPECT_NEAR(info.durationSec, recorded, 0.5);
  EXPECT_EQ(test::SoundBitRate(path), 192000);
  EXPECT_NEAR(BandLevel(path, 1000, 0.5, 2), reference, 2);

  EXPECT_EQ(RowText(OperationKind::Record, id, "fileSizeLabel").toStdString(),
            FormatFileSize(static_cast<std::int64_t>(fs::file_size(path))));
  EXPECT_EQ(RowText(OperationKind::Record, id, "durationLabel").toStdString(),
            FormatDuration(ProbeDuration(path)));
  FileEntry entry;
  ASSERT_TRUE(window_->Tasks().Find(id, &entry));
  EXPECT_EQ(entry.fileName, name);
  EXPECT_EQ(entry.filePath, Folder());
  EXPECT_EQ(entry.fullPath, path);
  EXPECT_EQ(entry.size, static_cast<std::int64_t>(fs::file_size(path)));
  EXPECT_TRUE(WaitUntil([this] { return Page()->List()->currentRow() == 0; }, 2000))
      << "the new row is selected";
}

TEST_F(RecordPageTest, PauseAndResumeMakeOneFileOfTheRecordedLength) {
  SetSetting(kKeyVoiceSource, "2");
  Ctl<QComboBox>("record-audio-quality")->setCurrentIndex(-1);  // no choice: 128 kbit/s
  const std::string tone = test::ToneWav(20, 440);
  test::Player player("tw_speaker", tone);
  WaitForPlayers();

  // What the recording was started with is locked until it ends, paused or not.
  const char* const kLocked[] = {"recorder-origin-all", "recorder-origin-microphone", "recorder-origin-system",
                                 "record-audio-quality", "agc-check", "mic-strengthen-slider", "noise-check"};
  const auto lockedAre = [&](bool locked) {
    for (const char* name : kLocked) EXPECT_EQ(Ctl(name)->isEnabled(), !locked) << name;
  };
  lockedAre(false);
  Click("recorder-start");
  auto t = Clock::now();
  lockedAre(true);
  RecordUntil(1.5);
  Click("recorder-pause");
  double recorded = Since(t);
  ASSERT_FALSE(Idle());
  lockedAre(true);
  EXPECT_EQ(Page()->Recorder()->State(), Paused);
  EXPECT_TRUE(Ctl("recorder-start")->isVisible());
  EXPECT_FALSE(Ctl("recorder-pause")->isVisible());
  EXPECT_EQ(Ctl<QAbstractButton>("recorder-start")->text(), "继续录音");
  const std::string path = Page()->RecordingPath();
  {
    // Two seconds of the playing sound go by, counted in the samples the speaker delivers.
    test::DeviceReader speaker("tw_speaker.monitor", 2, 44100);
    ASSERT_TRUE(speaker.Ok());
    ASSERT_EQ(speaker.Read(2 * 44100).size(), 4u * 44100);
  }
  Click("recorder-pause");  // pausing again changes nothing
  EXPECT_EQ(Page()->Recorder()->State(), Paused);

  Click("recorder-start");
  t = Clock::now();
  EXPECT_EQ(Page()->Recorder()->State(), Recording);
  EXPECT_EQ(Page()->RecordingPath(), path) << "resuming keeps the file";
  Click("recorder-start");  // starting while recording changes nothing
  // A failure report of an earlier recorder does not stop this one.
  window_->Post(Message(WM_RECORD_FAILED, nullptr, FailureDevice));
  Pump();
  ASSERT_FALSE(Idle());
  RecordUntil(3.0);
  recorded += Since(t);
  Click("recorder-stop");
  Click("recorder-stop");  // stopping while idle changes nothing
  lockedAre(false);
  EXPECT_EQ(Ctl<QAbstractButton>("recorder-start")->text(), "开始录音");
  window_->Post(Message(WM_RECORD_TIME, nullptr, 7));  // late seconds of the finished recording
  Pump();
  EXPECT_EQ(Text("recorder-progress"), "00:00:00");

  EXPECT_EQ(test::FilesContaining(Folder(), ".mp3").size(), 1u);
  EXPECT_EQ(Rows(OperationKind::Record), 1);
  const test::MediaInfo info = test::Probe(path);
  ASSERT_TRUE(info.ok);
  EXPECT_NEAR(info.durationSec, recorded, 0.5) << "the pause is not in the file";
  EXPECT_EQ(test::SoundBitRate(path), 128000);
}

TEST_F(RecordPageTest, ControlsSetTheDevicesAndTheSettings) {
  ASSERT_EQ(pulse_->Pactl({"set-source-mute", "tw_mic", "1"}), 0);
  // The window hands the level over and goes on: a stuck server holds up nothing.
  ASSERT_TRUE(test::FreezeServer(*pulse_, true));
  const auto before = Clock::now();
  Ctl<QSlider>("mic-volume-slider")->setValue(35);
  EXPECT_LT(Since(before), 0.5) << "the window waited for the server";
  ASSERT_TRUE(test::FreezeServer(*pulse_, false));
  EXPECT_EQ(Text("mic-volume-label"), "35");
  EXPECT_TRUE(WaitUntil([&] { return DeviceLevel("source", "tw_mic") == 35; }));
  std::string mute;
  pulse_->Pactl({"get-source-mute", "tw_mic"}, &mute);
  EXPECT_NE(mute.find("no"), std::string::npos) << "moving the level unmutes the microphone: " << mute;
  EXPECT_EQ(Setting(kKeyMicVolumeSize), "35");

  Ctl<QSlider>("sys-volume-slider")->setValue(45);
  EXPECT_EQ(Text("sys-volume-label"), "45");
  EXPECT_TRUE(WaitUntil([&] { return DeviceLevel("sink", "tw_speaker") == 45; }));
  EXPECT_EQ(Setting(kKeySysVolumeSize), "45");

  Ctl<QSlider>("mic-strengthen-slider")->setValue(30);
  EXPECT_EQ(Text("mic-strengthen-label"), "30");
  EXPECT_EQ(Setting(kKeyVoiceSize), "30");
  EXPECT_EQ(DeviceLevel("source", "tw_mic"), 35) << "the boost touches no device";

  // A value beyond 100 (a layout with a wider slider) changes nothing at all.
  for (const char* name : {"mic-volume-slider", "sys-volume-slider", "mic-strengthen-slider"}) {
    auto* slider = Ctl<QSlider>(name);
    slider->setMaximum(200);
    slider->setValue(150);
  }
  EXPECT_EQ(Text("mic-volume-label"), "35");
  EXPECT_EQ(Text("sys-volume-label"), "45");
  EXPECT_EQ(Text("mic-strengthen-label"), "30");
  EXPECT_EQ(DeviceLevel("source", "tw_mic"), 35);
  EXPECT_EQ(DeviceLevel("sink", "tw_speaker"), 45);
  EXPECT_EQ(Setting(kKeyMicVolumeSize), "35");
  EXPECT_EQ(Setting(kKeySysVolumeSize), "45");
  EXPECT_EQ(Setting(kKeyVoiceSize), "30");

  // Another mixer sets the levels: the sliders follow, to 0 and past 100 (shown as 100) too.
  for (const auto& [mic, sys] : {std::pair{20, 50}, {0, 0}, {130, 150}}) {
    ASSERT_EQ(pulse_->Pactl({"set-source-volume", "tw_mic", std::to_string(mic) + "%"}), 0);
    ASSERT_EQ(pulse_->Pactl({"set-sink-volume", "tw_speaker", std::to_string(sys) + "%"}), 0);
    EXPECT_TRUE(WaitUntil([&, mic = std::min(mic, 100), sys = std::min(sys, 100)] {
      return Ctl<QSlider>("mic-volume-slider")->value() == mic && Ctl<QSlider>("sys-volume-slider")->value() == sys &&
             Text("mic-volume-label") == QString::number(mic) && Text("sys-volume-label") == QString::number(sys);
    })) << mic << " " << sys;
  }
  EXPECT_EQ(Setting(kKeyMicVolumeSize), "35") << "what another program set is not the user's choice";

  const std::pair<const char*, const char*> origins[] = {
      {"recorder-origin-all", "0"}, {"recorder-origin-microphone", "1"}, {"recorder-origin-system", "2"}};
  for (const auto& [option, value] : origins) {
    Ctl<QAbstractButton>(option)->click();
    EXPECT_EQ(Setting(kKeyVoiceSource), value) << option;
  }
  for (const char* key : {"agc-check", "noise-check"}) {
    auto* box = Ctl<QAbstractButton>(key);
    box->setChecked(true);
    EXPECT_EQ(Setting(key), "1");
    box->setChecked(false);
    EXPECT_EQ(Setting(key), "0");
  }
}

TEST_F(RecordPageTest, StartUpTakesTheDeviceLevelsAndTheSavedChoices) {
  ASSERT_EQ(pulse_->Pactl({"set-source-volume", "tw_mic", "25%"}), 0);
  ASSERT_EQ(pulse_->Pactl({"set-sink-volume", "tw_speaker", "70%"}), 0);
  SetSetting(kKeyMicVolumeSize, "90");  // not read back: the devices say
  SetSetting(kKeySysVolumeSize, "90");
  const struct {
    const char *source, *agc, *noise, *boost;
    const char* option;
    bool agcOn, noiseOn;
    int boostShown;
  } cases[] = {
      {"1", "1", "0", "0", "recorder-origin-microphone", true, false, 20},
      {"2", "0", "1", "35", "recorder-origin-system", false, true, 35},
      {"0", "7", "0", "12", "recorder-origin-all", true, false, 12},
      {"9", "", "x", "", "recorder-origin-all", false, false, 20},  // broken values
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.option);
    SetSetting(kKeyVoiceSource, c.source);
    SetSetting(kKeyAgcCheck, c.agc);
    SetSetting(kKeyNoiseCheck, c.noise);
    SetSetting(kKeyVoiceSize, c.boost);
    Reopen();
    EXPECT_TRUE(WaitUntil([&] {
      return Ctl<QSlider>("mic-volume-slider")->value() == 25 && Ctl<QSlider>("sys-volume-slider")->value() == 70;
    }));
    EXPECT_EQ(Text("mic-volume-label"), "25");
    EXPECT_EQ(Text("sys-volume-label"), "70");
    EXPECT_TRUE(Ctl<QAbstractButton>(c.option)->isChecked());
    EXPECT_EQ(Ctl<QAbstractButton>("agc-check")->isChecked(), c.agcOn);
    EXPECT_EQ(Ctl<QAbstractButton>("noise-check")->isChecked(), c.noiseOn);
    EXPECT_EQ(Ctl<QSlider>("mic-strengthen-slider")->value(), c.boostShown);
    EXPECT_EQ(Text("mic-strengthen-label"), QString::number(c.boostShown));
    EXPECT_EQ(Setting(kKeyVoiceSize), c.boost) << "the start-up writes nothing";
  }

  // Devices at full volume show 100.
  ASSERT_EQ(pulse_->Pactl({"set-source-volume", "tw_mic", "100%"}), 0);
  ASSERT_EQ(pulse_->Pactl({"set-sink-volume", "tw_speaker", "100%"}), 0);
  Reopen();
  EXPECT_TRUE(WaitUntil([&] { return Text("mic-volume-label") == "100" && Text("sys-volume-label") == "100"; }));

  // Without a sound server both levels start at 60.
  pulse_.reset();
  setenv("PULSE_SERVER", kNoServer, 1);
  Reopen();
  EXPECT_EQ(Text("mic-volume-label"), "60");
  EXPECT_EQ(Text("sys-volume-label"), "60");
  unsetenv("PULSE_SERVER");
  RestartPulse();
}

TEST_F(RecordPageTest, ScanListsTheMp3FilesOfTheRecordingsFolder) {
  // A missing folder lists nothing and is not made by the scan.
  EXPECT_EQ(WaitForScan(), 0);
  EXPECT_FALSE(fs::exists(Folder()));

  fs::create_directories(Folder() + "/dir.mp3");
  const std::string mp3 = test::ToneMp3(2);
  std::vector<std::string> expected = {"a.mp3", "b.MP3", "broken.mp3", "新录音-20260101120000.mp3"};
  for (const std::string& name : test::HostileNames())
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".wav") == 0)
      expected.push_back(name.substr(0, name.size() - 4) + ".mp3");
  for (const std::string& name : expected)
    if (name != "broken.mp3") fs::copy_file(mp3, Folder() + "/" + name);
  fs::copy_file(mp3, Folder() + "/c.Mp3");
  fs::copy_file(test::ToneWav(1), Folder() + "/d.wav");
  fs::copy_file(mp3, Folder() + "/noext");
  fs::copy_file(test::TextNamedMp3(), Folder() + "/broken.mp3");
  Reopen();
  WaitForScan();
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(RowNames(), expected);
  EXPECT_FALSE(fs::exists(Folder() + "/pwned")) << "a name is never run";
  for (int i = 0; i < Rows(OperationKind::Record); ++i) {
    const int id = RowId(OperationKind::Record, i);
    FileEntry entry;
    ASSERT_TRUE(window_->Tasks().Find(id, &entry));
    EXPECT_EQ(entry.fullPath, Folder() + "/" + expected[static_cast<size_t>(i)]);
    const bool broken = expected[static_cast<size_t>(i)] == "broken.mp3";
    EXPECT_EQ(RowText(OperationKind::Record, id, "durationLabel"), broken ? "00:00:00" : "00:00:02")
        << entry.fileName;
    EXPECT_EQ(RowText(OperationKind::Record, id, "fileSizeLabel").toStdString(),
              FormatFileSize(static_cast<std::int64_t>(fs::file_size(entry.fullPath))));
  }
}

TEST_F(RecordPageTest, RowsGoToTheCutPageAndTakeTheRowCommands) {
  fs::create_directories(Folder());
  const std::string first = Folder() + "/新录音-20260101120000.mp3";
  const std::string second = Folder() + "/中文 录音.mp3";
  fs::copy_file(test::ToneMp3(3), first);
  fs::copy_file(test::ToneMp3(3), second);
  Reopen();
  ASSERT_EQ(WaitForScan(), 2);
  const int firstId = RowId(OperationKind::Record, 0);
  const int secondId = RowId(OperationKind::Record, 1);
  ASSERT_EQ(RowText(OperationKind::Record, secondId, "fileNameLabel").toStdString(),
            "新录音-20260101120000.mp3");

  ClickRow(OperationKind::Record, secondId, "recorderCutBtn");
  EXPECT_EQ(window_->CurrentPage(), 0);
  EXPECT_EQ(window_->Cut()->CutFile().fullPath, first);
  EXPECT_NEAR(window_->Cut()->CutFile().duration, 3.0, 0.1);
  EXPECT_EQ(window_->Cut()->LeftTime(), 0);
  EXPECT_EQ(window_->Cut()->RightTime(), 0);

  // A button whose id has no entry does nothing.
  Ctl<QAbstractButton>("audio-record")->click();
  ASSERT_EQ(window_->CurrentPage(), 1);
  QWidget* button = Row(OperationKind::Record, firstId)->findChild<QWidget*>("recorderCutBtn");
  SetTag(button, 4242);
  ClickRow(OperationKind::Record, firstId, "recorderCutBtn");
  EXPECT_EQ(window_->CurrentPage(), 1);
  EXPECT_EQ(window_->Cut()->CutFile().fullPath, first);

  window_->Post(Message(WM_LIST_REMOVE, std::make_unique<ListRecord>(1, firstId)));
  Pump();
  EXPECT_EQ(Rows(OperationKind::Record), 1);
  EXPECT_TRUE(fs::exists(second)) << "removing a row keeps its file";

  auto answer = test::AnswerNextModal("msgConfirm");
  window_->Post(Message(WM_LIST_DELETE, std::make_unique<ListRecord>(1, secondId)));
  Pump();
  ASSERT_TRUE(WaitUntil([&] { return answer->answered; }));
  ExpectDialogs({"确定要删除吗?"});
  Pump();
  EXPECT_EQ(Rows(OperationKind::Record), 0);
  EXPECT_FALSE(fs::exists(first));
}

TEST_F(RecordPageTest, StartIsRefusedOrNarrowedAsTheDevicesAllow) {
  const auto unload = [](const char* module) {
    return [module](RecordPageTest& t) { t.pulse_->Pactl({"unload-module", module}); };
  };
  const struct {
    const char* name;
    std::function<void(RecordPageTest&)> breakIt;
    const char* source;
    const char* prompt;  // "" for none
    bool records;
  } cases[] = {
      {"no playback device, both", unload("module-null-sink"), "0", "未启用音频输出设备!", false},
      {"no playback device, system sound", unload("module-null-sink"), "2", "未启用音频输出设备!", false},
      {"no microphone, both", unload("module-remap-source"), "0", "没有插入麦克风设备,仅录系统声音", true},
      {"no microphone, microphone only", unload("module-remap-source"), "1", "请先插入麦克风设备!", false},
      {"no microphone, system sound", unload("module-remap-source"), "2", "", true},
      {"no sound server", [](RecordPageTest&) { setenv("PULSE_SERVER", kNoServer, 1); }, "1",
       "请先插入麦克风设备!", false},
      {"recordings folder cannot be made",
       [](RecordPageTest& t) { std::ofstream(t.Folder()) << "a file where the folder belongs"; }, "2",
       "音频设备出错!", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RestartPulse();
    fs::remove_all(Folder());
    SetSetting(kKeyVoiceSource, c.source);
    const int rowsBefore = Rows(OperationKind::Record);
    c.breakIt(*this);
    test::Player player("tw_speaker", test::ToneWav(10, 440));
    if (c.records) WaitForPlayers();
    auto answer = test::AnswerNextModal("msgConfirm");
    Click("recorder-start");
    if (*c.prompt) {
      ASSERT_TRUE(WaitUntil([&] { return answer->answered; }));
      EXPECT_EQ(answer->text.toStdString(), c.prompt);
      ExpectDialogs({QString::fromUtf8(c.prompt)});
    }
    EXPECT_EQ(!Idle(), c.records);
    EXPECT_EQ(Ctl("recorder-start")->isVisible(), !c.records);
    if (!c.records) {
      EXPECT_TRUE(test::FilesContaining(Folder(), ".mp3").empty());
      continue;
    }
    RecordUntil(1.5);
    answer->cancelled = true;  // a prompt in passing is a dialog the list does not expect
    const std::string path = Page()->RecordingPath();
    Click("recorder-stop");
    EXPECT_EQ(Rows(OperationKind::Record), rowsBefore + 1);
    EXPECT_GT(test::Probe(path).durationSec, 1.0);
    EXPECT_GT(BandLevel(path, 440, 0.3, 1), -30) << "the system sound is recorded";
    unsetenv("PULSE_SERVER");
  }
  unsetenv("PULSE_SERVER");
  RestartPulse();
}

TEST_F(RecordPageTest, VanishingDeviceStopsTheRecordingAndKeepsTheFile) {
  // The prompt says what failed, and where the part recorded so far is.
  const struct {
    const char* name;
    const char* source;
    std::function<void(RecordPageTest&)> vanish;
    const char* cause = "音频设备出错!";
  } cases[] = {
      {"microphone unplugged", "1",
       [](RecordPageTest& t) {
         ASSERT_EQ(t.pulse_->Pactl({"unload-module", "module-remap-source"}), 0);
       }},
      {"playback device removed", "2",
       [](RecordPageTest& t) {
         const std::string index = t.ModuleIndex("sink_name=tw_speaker");
         ASSERT_FALSE(index.empty());
         ASSERT_EQ(t.pulse_->Pactl({"unload-module", index}), 0);
       }},
      {"sound server gone", "0",
       [](RecordPageTest& t) {
         t.pulse_.reset();
         setenv("PULSE_SERVER", kNoServer, 1);
       },
       "声音服务器没有应答,录音已停止!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RestartPulse();
    SetSetting(kKeyVoiceSource, c.source);
    const int rowsBefore = Rows(OperationKind::Record);
    auto speaker = std::make_unique<test::Player>("tw_speaker", test::ToneWav(10, 440));
    auto mic = std::make_unique<test::Player>("tw_micfeed", test::ToneWav(10, 1000));
    WaitForPlayers(2);
    Click("recorder-start");
    const std::string path = Page()->RecordingPath();
    RecordUntil(1.5);
    auto answer = test::AnswerNextModal("msgConfirm", 20000);
    speaker.reset();
    mic.reset();
    c.vanish(*this);
    ASSERT_TRUE(WaitUntil([&] { return answer->answered; }, 20000)) << "the failure is told";
    const std::string told = std::string(c.cause) + "\n已录下的内容保存在 " + path;
    EXPECT_EQ(answer->text.toStdString(), told);
    ExpectDialogs({QString::fromStdString(told)});
    EXPECT_TRUE(Idle());
    EXPECT_TRUE(Ctl("recorder-start")->isVisible());
    EXPECT_EQ(Text("recorder-progress"), "00:00:00");
    EXPECT_EQ(Rows(OperationKind::Record), rowsBefore + 1) << "the file recorded so far is listed";
    EXPECT_GE(test::Probe(path).durationSec, 1.0);
    unsetenv("PULSE_SERVER");
  }
  RestartPulse();
}

// The disk fills up while recording, or while what was recorded still waits in the writer's
// buffer (the file cannot be finished): either is told as a failed write, and what there is of
// the file is listed.
TEST_F(RecordPageTest, AFullDiskStopsTheRecordingWithAPrompt) {
  const struct {
    const char* name;
    size_t bytes;
    bool fillAtTheEnd;
  } cases[] = {{"full while recording", 48 * 1024, false}, {"full at the end", 64 * 1024, true}};
  SetSetting(kKeyVoiceSource, "2");
  test::Player player("tw_speaker", test::ToneWav(30, 440));
  WaitForPlayers();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::SmallDisk disk(c.bytes);
    if (!disk.Ok()) GTEST_SKIP() << disk.Why();
    SetSetting(kKeyOutputDir, disk.Path());
    const int rowsBefore = Rows(OperationKind::Record);
    auto answer = test::AnswerNextModal("msgConfirm", 30000);
    Click("recorder-start");
    ASSERT_FALSE(Idle());
    const std::string path = Page()->RecordingPath();
    EXPECT_EQ(path.rfind(disk.Path(), 0), 0u);
    if (c.fillAtTheEnd) {
      std::ofstream filler(disk.Path() + "/filler", std::ios::binary);
      const std::string block(4096, 'x');
      while (filler.write(block.data(), static_cast<std::streamsize>(block.size())) && filler.flush()) {
      }
      filler.close();
      Click("recorder-stop");
    }
    ASSERT_TRUE(WaitUntil([&] { return answer->answered; }, 30000)) << "the failed write is told";
    const std::string told = "录音文件写入失败,录音已停止!\n已录下的内容保存在 " + path;
    EXPECT_EQ(answer->text.toStdString(), told);
    ExpectDialogs({QString::fromStdString(told)});
    EXPECT_TRUE(Idle());
    EXPECT_EQ(Rows(OperationKind::Record), rowsBefore + 1);
    if (!c.fillAtTheEnd) {
      EXPECT_GT(test::Probe(path).durationSec, 1.0) << "what fitted is kept";
    }
  }
}

TEST_F(RecordPageTest, AStuckSoundServerNeverFreezesThePage) {
  SetSetting(kKeyVoiceSource, "0");
  test::Player speaker("tw_speaker", test::ToneWav(20, 440));
  test::Player mic("tw_micfeed", test::ToneWav(20, 1000));
  WaitForPlayers(2);
  Click("recorder-start");
  const std::string path = Page()->RecordingPath();
  RecordUntil(1.5);
  ASSERT_TRUE(test::FreezeServer(*pulse_, true));
  // Should anything wait for the server without end, it is let go on after a while and the
  // time taken shows it.
  std::promise<void> done;
  std::thread watchdog([this, finished = done.get_future()] {
    finished.wait_for(std::chrono::seconds(20));
    test::FreezeServer(*pulse_, false);
  });
  struct Join {
    std::promise<void>& done;
    std::thread& thread;
    ~Join() {
      done.set_value();
      thread.join();
    }
  } join{done, watchdog};
  const double limit = kPulseTimeoutMs / 1000.0 + 2;

  auto started = Clock::now();
  Click("recorder-stop");
  EXPECT_LT(Since(started), limit) << "stopping";
  EXPECT_TRUE(Idle());
  EXPECT_EQ(Rows(OperationKind::Record), 1);
  EXPECT_GE(test::Probe(path).durationSec, 1.0);

  started = Clock::now();
  Ctl<QSlider>("sys-volume-slider")->setValue(33);
  EXPECT_LT(Since(started), limit) << "setting a level";

  auto answer = test::AnswerNextModal("msgConfirm", 20000);
  started = Clock::now();
  Click("recorder-start");
  ASSERT_TRUE(WaitUntil([&] { return answer->answered; }, 20000)) << "the start fails visibly";
  ExpectDialogs({"未启用音频输出设备!"});
  EXPECT_LT(Since(started), 3 * limit) << "starting";
  EXPECT_TRUE(Idle());
}

TEST_F(RecordPageTest, ClosingTheWindowFinishesTheRecording) {
  SetSetting(kKeyVoiceSource, "2");
  test::Player player("tw_speaker", test::ToneWav(10, 440));
  WaitForPlayers();
  Click("recorder-start");
  const auto started = Clock::now();
  const std::string path = Page()->RecordingPath();
  RecordUntil(2.0);
  const double recorded = Since(started);
  window_->close();
  ASSERT_TRUE(WaitUntil([this] { return window_.isNull(); }, 10000));
  const test::MediaInfo info = test::Probe(path);
  ASSERT_TRUE(info.ok);
  EXPECT_NEAR(info.durationSec, recorded, 0.5);
  EXPECT_GT(BandLevel(path, 440, 0.3, 1.2), -30);
}

}  // namespace
}  // namespace tw

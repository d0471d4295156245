// The option panels of the pages: the speed options and the slider rule, the volume and
// background-music labels, the noise level buttons, and what each value does to a real run
// (the real ffmpeg and the in-process denoisers on generated media).
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QSlider>
#include <algorithm>
#include <filesystem>
#include <map>

#include "media/NoiseJobTable.h"
#include "tasks/ConvertQueue.h"
#include "tests/support/QtPages.h"
#include "tests/support/TestMedia.h"
#include "ui/pages/BgMusicPage.h"
#include "ui/pages/NoisePage.h"
#include "ui/pages/SpeedPage.h"
#include "ui/pages/VolumePage.h"

namespace tw {
namespace {

using test::CopyAs;
using test::FilesContaining;
using test::Pump;
using test::WaitUntil;

class OptionPanelsTest : public test::PageWindowTest {
 protected:
  OptionPanelsTest() {
    checkDialogs_ = true;
    changingFactors_ = false;
  }
  QString Label(const char* name) { return Ctl<QLabel>(name)->text(); }
  void Slide(const char* name, int value) {
    Ctl<QSlider>(name)->setValue(value);
    Pump();
  }
};

TEST_F(OptionPanelsTest, SpeedOptionsAndTheSliderRule) {
  SpeedPage* page = window_->Speed();
  EXPECT_EQ(page->SpeedText(), "1.0");
  struct Preset {
    const char* option;
    const char* speed;
  };
  for (const Preset& p : std::vector<Preset>{{"speed-0-5", "0.5"},
                                             {"speed-0-7-5", "0.75"},
                                             {"speed-2-0", "2.0"},
                                             {"speed-1-5", "1.5"},
                                             {"speed-1-0", "1.0"},
                                             {"speed-1-2-5", "1.25"}}) {
    Click(p.option);
    EXPECT_EQ(page->SpeedText(), p.speed) << p.option;
  }
  // The slider moves the label only; the speed stays the last preset until "speed-check".
  Slide("change-speed-slider", 150);
  EXPECT_EQ(Label("speed-label"), "1.50倍");
  EXPECT_EQ(page->SpeedText(), "1.25");
  Ctl<QCheckBox>("speed-check")->setChecked(true);
  Pump();
  EXPECT_EQ(page->SpeedText(), "1.50");
  Slide("change-speed-slider", 175);
  EXPECT_EQ(page->SpeedText(), "1.75");
  Ctl<QCheckBox>("speed-check")->setChecked(false);
  Pump();
  EXPECT_EQ(page->SpeedText(), "1.25");

  // What shows is the speed in effect: a preset moves the slider to it, a speed of one's own (the
  // option, or a move of the slider by hand) leaves no preset highlighted.
  const auto highlighted = [&] {
    QStringList on;
    for (const char* option :
         {"speed-0-5", "speed-0-7-5", "speed-1-0", "speed-1-2-5", "speed-1-5", "speed-2-0"})
      if (Ctl<QAbstractButton>(option)->isChecked()) on << option;
    return on.join(",");
  };
  EXPECT_EQ(highlighted(), "speed-1-2-5");
  EXPECT_EQ(Ctl<QSlider>("change-speed-slider")->value(), 125);
  Click("speed-1-5");
  EXPECT_EQ(Ctl<QSlider>("change-speed-slider")->value(), 150);
  EXPECT_EQ(Label("speed-label"), "1.50倍");
  Ctl<QCheckBox>("speed-check")->setChecked(true);
  Pump();
  EXPECT_EQ(highlighted(), "");
  Click("speed-1-0");
  EXPECT_FALSE(Ctl<QCheckBox>("speed-check")->isChecked());
  EXPECT_EQ(highlighted(), "speed-1-0");
  EXPECT_EQ(Label("speed-label"), "1.0倍");
  Ctl<QSlider>("change-speed-slider")->triggerAction(QAbstractSlider::SliderPageStepAdd);
  Pump();
  EXPECT_TRUE(Ctl<QCheckBox>("speed-check")->isChecked());
  EXPECT_EQ(highlighted(), "");
  EXPECT_EQ(page->SpeedText(), Label("speed-label").chopped(1));

  const std::vector<std::pair<int, QString>> labels = {
      {100, "1.0倍"}, {200, "2.0倍"}, {50, "0.50倍"}, {125, "1.25倍"}, {199, "1.99倍"}};
  for (const auto& [value, text] : labels) {
    Slide("change-speed-slider", value);
    EXPECT_EQ(Label("speed-label"), text) << value;
  }
}

TEST_F(OptionPanelsTest, VolumeAndMusicLevelLabels) {
  const struct {
    int value;
    QString text;
    float factor;
  } volume[] = {{0, "静音", 0.0f},     {100, "1.0倍", 1.0f}, {200, "2.0倍", 2.0f},
                {150, "1.50倍", 1.5f}, {5, "0.05倍", 0.05f}, {1, "0.01倍", 0.01f}};
  for (const auto& v : volume) {
    Slide("change-volume-slider", v.value);
    EXPECT_EQ(Label("volume-label"), v.text) << v.value;
    EXPECT_FLOAT_EQ(window_->Volume()->VolumeFactor(), v.factor);
  }
  Slide("bg-music-slider", 3);  // a change, so that 0 below is reported too
  const std::vector<std::pair<int, QString>> music = {{-5, "-5dB"}, {5, "+5dB"}, {0, "+0dB"}, {-30, "-30dB"}};
  for (const auto& [value, text] : music) {
    Slide("bg-music-slider", value);
    EXPECT_EQ(Label("bg-music-volume-label"), text) << value;
  }
}

TEST_F(OptionPanelsTest, ChosenSpeedReachesTheRun) {
  const std::string tone = CopyAs(test::ToneWav(2), "speed.wav");
  AddThroughDialog(OperationKind::Speed, {QString::fromStdString(tone)});
  Click("speed-1-2-5");
  ClickRow(OperationKind::Speed, 0, "speedBtn");
  ASSERT_TRUE(WaitUntil([&] { return RowDone(OperationKind::Speed, 0); }, 30000));
  const auto results = FilesContaining(outputDir_, "speed-变速-");
  ASSERT_EQ(results.size(), 1u);
  EXPECT_NEAR(test::Probe(results[0]).durationSec, 1.6, 0.1);
}

TEST_F(OptionPanelsTest, NoiseLevelButtons) {
  EXPECT_EQ(window_->Noise()->NoiseLevel(), 2);
  for (const auto& [button, level] : std::vector<std::pair<const char*, int>>{
           {"noise-level-0", 1}, {"noise-level-2", 3}, {"noise-level-1", 2}}) {
    Click(button);
    EXPECT_EQ(window_->Noise()->NoiseLevel(), level) << button;
  }
}

// The choices are the command line's --formats (checked against ffmpeg there): all of them on
// the convert page, mp3 first; the skin's others where the transcoder writes them.
TEST_F(OptionPanelsTest, FormatChoicesAreThoseTheTranscoderWrites) {
  const std::vector<std::string> writable = WritableAudioFormats();
  for (const char* name : {"audio-convert-format", "audio-merge-format", "audio-extract-format"}) {
    QStringList offered;
    for (int i = 0; i < Ctl<QComboBox>(name)->count(); ++i) offered << Ctl<QComboBox>(name)->itemText(i);
    EXPECT_EQ(offered.value(0), "mp3") << name;
    for (const QString& f : offered) EXPECT_EQ(std::count(writable.begin(), writable.end(), f.toStdString()), 1) << name;
    if (std::string(name) == "audio-convert-format") EXPECT_EQ(offered.size(), static_cast<qsizetype>(writable.size()));
  }
}

TEST_F(OptionPanelsTest, EveryAudioNoiseFormatHoldsTheSoundItsNameSays) {
  // The denoiser encodes MP3 or AAC: every offered name must be a container for what it writes.
  const std::map<std::string, std::string> expected = {{"mp3", "mp3"}, {"aac", "aac"}, {"m4a", "aac"}};
  auto* formats = Ctl<QComboBox>("audio-noise-format");
  ASSERT_GT(formats->count(), 0);
  for (int i = 0; i < formats->count(); ++i) {
    const std::string format = formats->itemText(i).toStdString();
    SCOPED_TRACE(format);
    ASSERT_EQ(expected.count(format), 1u) << "offered but not written correctly";
    const std::string input = CopyAs(test::NoiseWav(1), "fmt-" + format + ".wav");
    AddThroughDialog(OperationKind::Noise, {QString::fromStdString(input)});
    formats->setCurrentIndex(i);
    ClickRow(OperationKind::Noise, i, "noiseBtn");
    ASSERT_TRUE(WaitUntil([&] { return RowDone(OperationKind::Noise, i); }, 60000));
    const auto results = FilesContaining(outputDir_, "fmt-" + format + "-噪声消除-");
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(std::filesystem::path(results[0]).extension(), "." + format);
    const test::MediaInfo info = test::Probe(results[0]);
    ASSERT_TRUE(info.ok);
    ASSERT_NE(info.First("audio"), nullptr);
    EXPECT_EQ(info.First("audio")->codecName, expected.at(format));
    EXPECT_NEAR(info.durationSec, 1, 0.3);
  }
}

TEST_F(OptionPanelsTest, NoiseRunsByExtensionAndFinishesOnTheRow) {
  const std::string audio = CopyAs(test::NoiseWav(1), "hiss.wav");
  const std::string video = CopyAs(test::VideoWithSound(1), "clip.MP4");
  const std::string mixed = CopyAs(test::ToneMp3(1), "mixed.Mp3");
  AddThroughDialog(OperationKind::Noise, {QString::fromStdString(audio), QString::fromStdString(video),
                                          QString::fromStdString(mixed)});
  ASSERT_EQ(Rows(OperationKind::Noise), 3);
  Ctl<QComboBox>("audio-noise-format")->setCurrentText("mp3");
  Ctl<QComboBox>("video-noise-format")->setCurrentText("mkv");
  Click("noise-level-2");
  for (int id = 0; id < 3; ++id) ClickRow(OperationKind::Noise, id, "noiseBtn");

  // Neither engine takes a mixed-case extension: the row says so and takes clicks again.
  ASSERT_TRUE(
      WaitUntil([&] { return RowText(OperationKind::Noise, 2, "progress-label") == "不支持此格式"; }));
  EXPECT_TRUE(IsMouseEnabled(Row(OperationKind::Noise, 2)->findChild<QWidget*>("noiseBtn")));

  ASSERT_TRUE(
      WaitUntil([&] { return RowDone(OperationKind::Noise, 0) && RowDone(OperationKind::Noise, 1); }, 60000));
  EXPECT_TRUE(window_->Queue()->Idle(OperationKind::Noise));
  const auto cleaned = FilesContaining(outputDir_, "hiss-噪声消除-");
  ASSERT_EQ(cleaned.size(), 1u);
  EXPECT_EQ(std::filesystem::path(cleaned[0]).extension(), ".mp3");
  EXPECT_TRUE(test::Probe(cleaned[0]).ok);
  const auto clip = FilesContaining(outputDir_, "clip-噪声消除-");
  ASSERT_EQ(clip.size(), 1u);
  EXPECT_EQ(std::filesystem::path(clip[0]).extension(), ".mkv");
  const test::MediaInfo info = test::Probe(clip[0]);
  EXPECT_EQ(info.CountType("video"), 1);
  EXPECT_EQ(info.CountType("audio"), 1);
  EXPECT_TRUE(FilesContaining(outputDir_, "mixed").empty());
}

}  // namespace
}  // namespace tw

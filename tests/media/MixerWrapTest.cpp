#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "media/MixerWrap.h"
#include "media/PulseClient.h"
#include "tests/support/PrivatePulse.h"
#include "tests/support/TestEnv.h"

namespace tw {
namespace {

class MixerWrapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pulse_ = std::make_unique<test::PrivatePulse>();
    ASSERT_TRUE(pulse_->Ok()) << "pulseaudio could not be started for the test";
  }
  void TearDown() override { pulse_.reset(); }

 public:
  // The raw volume of a source or sink (first channel, and every channel) and its mute flag,
  // as the server has them.
  struct Reading {
    uint32_t volume = 0;
    bool mute = false;
    bool found = false;
    std::vector<uint32_t> channels;
  };
  static Reading ReadingOf(const PulseDeviceFacts& d) {
    return {d.volume.values[0], d.mute, true,
            std::vector<uint32_t>(d.volume.values, d.volume.values + d.volume.channels)};
  }
  Reading ReadSource(const std::string& name) {
    PulseConnection c;
    std::vector<PulseDeviceFacts> list;
    Reading r;
    if (!c.Connect("test") || !c.ListSources(list)) return r;
    for (const auto& s : list)
      if (s.name == name) r = ReadingOf(s);
    return r;
  }
  Reading ReadSink(const std::string& name) {
    PulseConnection c;
    std::vector<PulseDeviceFacts> list;
    Reading r;
    if (!c.Connect("test") || !c.ListSinks(list)) return r;
    for (const auto& s : list)
      if (s.name == name) r = ReadingOf(s);
    return r;
  }

  std::unique_ptr<test::PrivatePulse> pulse_;
};

TEST(MixerWrapScale, LevelFromScalarRoundsHalfUp) {
  const struct {
    double scalar;
    int level;
  } cases[] = {{0.755, 76}, {0.456, 46}, {0.0, 0}, {1.0, 100}, {0.004, 0}, {0.005, 1}, {1.5, 150}};
  for (const auto& c : cases) EXPECT_EQ(LevelFromScalar(c.scalar), c.level) << c.scalar;
}

TEST_F(MixerWrapTest, DevicesAreFoundByTheirDescriptions) {
  std::string name;
  ASSERT_TRUE(GetDefaultCaptureName(name));
  EXPECT_EQ(name, "TwMicrophone");
  EXPECT_TRUE(HasRenderDevice());
}

TEST_F(MixerWrapTest, CaptureLevelReadsOnTheHundredScale) {
  const struct {
    const char* raw;  // pa_volume_t, PA_VOLUME_NORM = 65536
    int level;
  } cases[] = {{"49480", 76}, {"0", 0}, {"65536", 100}, {"29884", 46}};
  for (const auto& c : cases) {
    ASSERT_EQ(pulse_->Pactl({"set-source-volume", "tw_mic", c.raw}), 0);
    int level = -7;
    GetCaptureVolume(level);
    EXPECT_EQ(level, c.level) << c.raw;
  }
}

TEST_F(MixerWrapTest, SetCaptureVolumeClearsMuteAndSetsTheLevel) {
  ASSERT_EQ(pulse_->Pactl({"set-source-mute", "tw_mic", "1"}), 0);
  SetCaptureVolume(false, 40);
  Reading r = ReadSource("tw_mic");
  ASSERT_TRUE(r.found);
  EXPECT_FALSE(r.mute);
  EXPECT_EQ(r.volume, 26214u);  // 0.40 x 65536, rounded
  int level = -1;
  GetCaptureVolume(level);
  EXPECT_EQ(level, 40);

  SetCaptureVolume(true, 55);
  r = ReadSource("tw_mic");
  EXPECT_TRUE(r.mute);
  GetCaptureVolume(level);
  EXPECT_EQ(level, 55);

  // A level the scale does not know is refused; the mute state still changes.
  SetCaptureVolume(false, 150);
  r = ReadSource("tw_mic");
  EXPECT_FALSE(r.mute);
  GetCaptureVolume(level);
  EXPECT_EQ(level, 55);
}

TEST_F(MixerWrapTest, EveryCaptureDeviceWithTheSameDescriptionIsSet) {
  ASSERT_EQ(pulse_->Pactl({"load-module", "module-remap-source", "source_name=tw_mic2",
                           "master=tw_micfeed.monitor", "source_properties=device.description=TwMicrophone"}),
            0);
  ASSERT_EQ(pulse_->Pactl({"load-module", "module-remap-source", "source_name=tw_other",
                           "master=tw_micfeed.monitor", "source_properties=device.description=Other"}),
            0);
  ASSERT_EQ(pulse_->Pactl({"set-source-volume", "tw_other", "65536"}), 0);
  SetCaptureVolume(false, 30);
  EXPECT_EQ(ReadSource("tw_mic").volume, 19661u);
  EXPECT_EQ(ReadSource("tw_mic2").volume, 19661u);
  EXPECT_EQ(ReadSource("tw_other").volume, 65536u) << "a device of another name keeps its level";
}

TEST_F(MixerWrapTest, RenderLevelIsClampedAndRead) {
  const struct {
    float level;
    uint32_t raw;
    float reads;
  } cases[] = {
      {150, 65536, 100.5f}, {-5, 0, -1}, {42, 27525, 42.5f}, {100, 65536, 100.5f}, {0.5f, 328, 1.0f}};
  for (const auto& c : cases) {
    SetRenderVolume(c.level);
    const Reading r = ReadSink("tw_speaker");
    ASSERT_TRUE(r.found);
    EXPECT_EQ(r.volume, c.raw) << c.level;
    float read = -1;
    GetRenderVolume(read);
    // At 0 % the caller's value stays as it was.
    EXPECT_NEAR(read, c.reads, 0.01) << c.level;
  }
}

TEST_F(MixerWrapTest, MonitorAsDefaultSourceIsNoMicrophone) {
  ASSERT_EQ(pulse_->Pactl({"unload-module", "module-remap-source"}), 0);
  std::string name = "unchanged";
  EXPECT_FALSE(GetDefaultCaptureName(name));
  EXPECT_EQ(name, "unchanged");
  int level = 33;
  GetCaptureVolume(level);
  EXPECT_EQ(level, 33);
  SetCaptureVolume(true, 10);  // nothing to act on, nothing breaks
  EXPECT_FALSE(ReadSource("tw_micfeed.monitor").mute);
  EXPECT_TRUE(HasRenderDevice());
}

TEST_F(MixerWrapTest, LevelsKeepTheBalanceOfTheChannels) {
  // Left at 100 %, right at 50 % (and the other way round): the level is the louder channel,
  // and a new level scales both so that the balance stays.
  const struct {
    const char* what;
    const char* device;
    std::function<double()> read;
    std::function<void(float)> set;
    std::function<Reading(MixerWrapTest&)> raw;
  } devices[] = {
      {"source", "tw_mic",
       [] {
         int level = -1;
         GetCaptureVolume(level);
         return static_cast<double>(level);
       },
       [](float level) { SetCaptureVolume(false, level); },
       [](MixerWrapTest& t) { return t.ReadSource("tw_mic"); }},
      {"sink", "tw_speaker",
       [] {
         float level = -1;
         GetRenderVolume(level);
         return static_cast<double>(static_cast<int>(level));
       },
       [](float level) { SetRenderVolume(level); },
       [](MixerWrapTest& t) { return t.ReadSink("tw_speaker"); }},
  };
  for (const auto& d : devices) {
    SCOPED_TRACE(d.what);
    for (const auto& [left, right] : {std::pair{"65536", "32768"}, std::pair{"32768", "65536"}}) {
      ASSERT_EQ(pulse_->Pactl({std::string("set-") + d.what + "-volume", d.device, left, right}), 0);
      EXPECT_EQ(d.read(), 100) << "the louder channel";
      d.set(40);
      const Reading r = d.raw(*this);
      ASSERT_EQ(r.channels.size(), 2u);
      const uint32_t loud = std::max(r.channels[0], r.channels[1]);
      const uint32_t soft = std::min(r.channels[0], r.channels[1]);
      EXPECT_NEAR(loud, 26214, 1);
      EXPECT_NEAR(soft, 13107, 1) << "the balance is kept";
      EXPECT_EQ(r.channels[0] > r.channels[1], std::string(left) == "65536") << "on the same side";
      EXPECT_EQ(d.read(), 40);
      // Through 0 and back: the balance comes back with the level.
      d.set(0);
      d.set(40);
      const Reading back = d.raw(*this);
      ASSERT_EQ(back.channels.size(), 2u);
      EXPECT_EQ(back.channels, r.channels) << "the balance is kept across 0";
    }
  }
}

TEST_F(MixerWrapTest, AStuckServerIsWaitedForBriefly) {
  std::string name = "unchanged";
  int level = 17;
  const struct {
    const char* name;
    std::function<void()> call;
  } calls[] = {{"GetDefaultCaptureName", [&] { EXPECT_FALSE(GetDefaultCaptureName(name)); }},
               {"HasRenderDevice", [] { EXPECT_FALSE(HasRenderDevice()); }},
               {"GetCaptureVolume", [&] { GetCaptureVolume(level); }},
               {"SetRenderVolume", [] { SetRenderVolume(30); }}};
  for (const auto& c : calls) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(test::FreezeServer(*pulse_, true));
    EXPECT_TRUE(
        test::ReturnsWithin(kPulseTimeoutMs + 1500, c.call, [&] { test::FreezeServer(*pulse_, false); }));
  }
  EXPECT_EQ(name, "unchanged");
  EXPECT_EQ(level, 17);
}

TEST(MixerWrapNoServer, EverythingAnswersNoAndChangesNothing) {
  const test::ScopedEnv noServer("PULSE_SERVER", "unix:/nonexistent/tw-no-server/native");
  std::string name = "unchanged";
  EXPECT_FALSE(GetDefaultCaptureName(name));
  EXPECT_EQ(name, "unchanged");
  EXPECT_FALSE(HasRenderDevice());
  int level = 17;
  GetCaptureVolume(level);
  EXPECT_EQ(level, 17);
  float renderLevel = 18;
  GetRenderVolume(renderLevel);
  EXPECT_EQ(renderLevel, 18);
  SetCaptureVolume(false, 50);
  SetRenderVolume(50);
}

}  // namespace
}  // namespace tw

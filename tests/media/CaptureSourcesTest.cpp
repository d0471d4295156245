#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "media/CaptureSources.h"
#include "media/PulseClient.h"
#include "tests/support/PrivatePulse.h"
#include "tests/support/TestEnv.h"

extern "C" {
#include <libavutil/samplefmt.h>
}

namespace tw {
namespace {

TEST(CaptureSources, DigitalSilenceIsEveryByteZero) {
  const struct {
    std::vector<uint8_t> bytes;
    bool silent;
  } cases[] = {{{}, true},
               {{0}, true},
               {{0, 0, 0, 0, 0, 0, 0, 0}, true},
               {{1}, false},
               {{0, 0, 0, 1}, false},
               {{1, 0, 0, 0}, false},
               {{0, 0, 0, 0, 0, 0, 0, 0x80}, false}};
  for (const auto& c : cases) EXPECT_EQ(IsDigitalSilence(c.bytes.data(), c.bytes.size()), c.silent);
}

TEST(CaptureSources, NamesAreCutOnCharacterBoundaries) {
  const struct {
    std::string text;
    size_t max;
    std::string cut;
  } cases[] = {{"TwMicrophone", 127, "TwMicrophone"},
               {"abcdef", 3, "abc"},
               {"", 5, ""},
               {"麦克风", 9, "麦克风"},
               {"麦克风", 8, "麦克"},
               {"麦克风", 4, "麦"},
               {"a麦", 2, "a"},
               {std::string(300, 'x'), 255, std::string(255, 'x')}};
  for (const auto& c : cases) EXPECT_EQ(CutUtf8(c.text, c.max), c.cut) << c.text << " " << c.max;
}

TEST(CaptureSources, SampleFormatsMapBothWays) {
  const struct {
    int av;
    pa_sample_format_t pulse;
  } cases[] = {{AV_SAMPLE_FMT_U8, PA_SAMPLE_U8},
               {AV_SAMPLE_FMT_S16, PA_SAMPLE_S16NE},
               {AV_SAMPLE_FMT_S32, PA_SAMPLE_S32NE},
               {AV_SAMPLE_FMT_FLT, PA_SAMPLE_FLOAT32NE}};
  for (const auto& c : cases) {
    EXPECT_EQ(PulseFormatFromAv(c.av), c.pulse);
    EXPECT_EQ(AvFormatFromPulse(c.pulse), c.av);
  }
  // Formats without a packed FFmpeg twin are recorded as float instead.
  EXPECT_EQ(AvFormatFromPulse(PA_SAMPLE_S24LE), AV_SAMPLE_FMT_NONE);
  EXPECT_EQ(AvFormatFromPulse(PA_SAMPLE_ALAW), AV_SAMPLE_FMT_NONE);
  EXPECT_EQ(PulseFormatFromAv(AV_SAMPLE_FMT_FLTP), PA_SAMPLE_INVALID);
}

TEST(CaptureSources, InputDevicesAreTheSourcesThatAreNotMonitors) {
  test::PrivatePulse pulse;
  ASSERT_TRUE(pulse.Ok());
  const std::string longName(100, 'n');  // the server keeps names up to 128 bytes
  ASSERT_EQ(pulse.Pactl({"load-module", "module-remap-source", "source_name=" + longName,
                         "master=tw_micfeed.monitor",
                         "source_properties=device.description=" + std::string(150, 'D')}),
            0);
  std::vector<CaptureDeviceRecord> devices{{"stale", "stale"}};
  ASSERT_EQ(EnumAudioInputDevices(devices), 0);
  ASSERT_EQ(devices.size(), 2u) << "monitors are not input devices";
  EXPECT_EQ(devices[0].friendlyName, "TwMicrophone");
  EXPECT_EQ(devices[0].displayName, "tw_mic");
  EXPECT_EQ(devices[1].friendlyName, std::string(127, 'D'));
  EXPECT_EQ(devices[1].displayName, longName);

  ASSERT_EQ(pulse.Pactl({"unload-module", "module-remap-source"}), 0);
  EXPECT_EQ(EnumAudioInputDevices(devices), 0);
  EXPECT_TRUE(devices.empty());
}

TEST(CaptureSources, NoServerGivesAnErrorAndAnEmptyList) {
  const test::ScopedEnv noServer("PULSE_SERVER", "unix:/nonexistent/tw-no-server/native");
  std::vector<CaptureDeviceRecord> devices{{"stale", "stale"}};
  EXPECT_EQ(EnumAudioInputDevices(devices), -1);
  EXPECT_TRUE(devices.empty());
  PulseRecordStream stream;
  const pa_sample_spec spec{PA_SAMPLE_S16LE, 44100, 2};
  EXPECT_EQ(stream.Open("tw_mic", spec, 20, "test"), -1);
  std::vector<uint8_t> piece;
  EXPECT_EQ(stream.ReadPiece(piece), -1);
  EXPECT_EQ(stream.Readable(), -1);
}

TEST(CaptureSources, AStuckServerIsGivenUpOnInTimeOrAtOnceWhenCancelled) {
  test::PrivatePulse pulse;
  ASSERT_TRUE(pulse.Ok());
  const pa_sample_spec spec{PA_SAMPLE_S16LE, 44100, 2};
  const struct {
    const char* name;
    bool cancel;
    int limitMs;
  } cases[] = {{"waited for until the time runs out", false, kPulseTimeoutMs + 1500},
               {"cancelled", true, 500}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::atomic<bool> cancel{c.cancel};
    PulseRecordStream stream;
    PulseConnection connection;
    auto release = [&] { test::FreezeServer(pulse, false); };
    ASSERT_TRUE(test::FreezeServer(pulse, true));
    EXPECT_TRUE(test::ReturnsWithin(
        c.limitMs, [&] { EXPECT_EQ(stream.Open("tw_mic", spec, 20, "test", &cancel), -1); }, release));
    ASSERT_TRUE(test::FreezeServer(pulse, true));
    EXPECT_TRUE(test::ReturnsWithin(
        c.limitMs, [&] { EXPECT_FALSE(connection.Connect("test", &cancel)); }, release));
  }
}

TEST(CaptureSources, StreamOfARemovedDeviceReportsItsDeath) {
  test::PrivatePulse pulse;
  ASSERT_TRUE(pulse.Ok());
  ASSERT_EQ(pulse.Pactl({"load-module", "module-null-sink", "sink_name=tw_gone"}), 0);
  PulseRecordStream stream;
  const pa_sample_spec spec{PA_SAMPLE_S16LE, 44100, 2};
  ASSERT_EQ(stream.Open("tw_gone.monitor", spec, 20, "test"), 0);
  std::string modules;
  ASSERT_EQ(pulse.Pactl({"list", "short", "modules"}, &modules), 0);
  const size_t at = modules.find("sink_name=tw_gone");
  ASSERT_NE(at, std::string::npos);
  const size_t lineStart = modules.rfind('\n', at) == std::string::npos ? 0 : modules.rfind('\n', at) + 1;
  const std::string id = modules.substr(lineStart, modules.find('\t', lineStart) - lineStart);
  ASSERT_EQ(pulse.Pactl({"unload-module", id}), 0);
  // The stream is not moved to another device: it dies with its own, and reading says so
  // (what was waiting may still be read first).
  std::vector<uint8_t> piece;
  long result = 0;
  for (int i = 0; i < 300 && result >= 0; ++i) {
    stream.WaitData(10);
    result = stream.ReadPiece(piece);
  }
  EXPECT_LT(result, 0) << "a stream of a removed device must report its death";
}

}  // namespace
}  // namespace tw

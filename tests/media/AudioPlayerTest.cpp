#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <thread>

#include "media/AudioPlayer.h"
#include "tests/support/MediaHttpServer.h"
#include "tests/support/PrivatePulse.h"
#include "tests/support/Process.h"
#include "tests/support/TestEnv.h"
#include "tests/support/TestMedia.h"

namespace tw {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

using test::ScopedEnv;

void Finish(AudioPlayer& player) {
  player.Stop();
  player.Release();
}

// Frequency of a pure tone from the median distance between rising zero crossings of one
// channel; a gap or an underrun in the capture does not move a median.
double ToneFrequency(const std::vector<int16_t>& samples, int channels, int rate) {
  std::vector<size_t> gaps;
  size_t last = 0;
  for (size_t i = static_cast<size_t>(channels); i < samples.size(); i += static_cast<size_t>(channels)) {
    if (samples[i - static_cast<size_t>(channels)] < 0 && samples[i] >= 0) {
      if (last > 0) gaps.push_back((i - last) / static_cast<size_t>(channels));
      last = i;
    }
  }
  if (gaps.empty()) return 0;
  std::nth_element(gaps.begin(), gaps.begin() + static_cast<long>(gaps.size() / 2), gaps.end());
  return static_cast<double>(rate) / static_cast<double>(gaps[gaps.size() / 2]);
}

// A sound server of the test's own with the player's output on its default sink; readers of
// that sink's monitor hear what the player plays.
class PlayerPulseTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(pulse_.Ok()) << "no private sound server"; }
  test::PrivatePulse pulse_;
  ScopedEnv driver_{"SDL_AUDIODRIVER", "pulse"};
};

class AudioPlayerTest : public ::testing::Test {
 protected:
  void SetUp() override { driver_.emplace("SDL_AUDIODRIVER", "dummy"); }
  std::optional<ScopedEnv> driver_;
};

TEST_F(AudioPlayerTest, PlayResults) {
  struct Case {
    std::string name;
    std::string path;
    int expected;
    int streamIndex;  // checked when >= 0
    int channels;     // device channels, checked when > 0
  };
  const std::string missing = test::TempDir() + "/no-such-file.mp3";
  const Case cases[] = {
      {"wav", test::ToneWav(), 0, 0, 2},
      {"mp3", test::ToneMp3(), 0, 0, 2},
      {"video with sound", test::VideoWithSound(), 0, 1, 2},
      {"mp3 with cover picture", test::Mp3WithCover(), 0, 0, 1},
      {"two audio streams plays the default one", test::TwoAudioStreams(), 0, 1, 1},
      {"surround", test::SurroundWav(), 0, 0, 6},
      {"mono", test::ToneWav(3, 440, 22050, 1), 0, 0, 1},
      {"8000 Hz", test::Tone8k(), 0, 0, 1},
      {"48000 Hz", test::Tone48k(), 0, 0, 2},
      {"variable frame rate video", test::VariableFrameRateVideo(), 0, 1, 2},
      {"odd picture size", test::OddSizeVideo(), 0, 1, 2},
      {"cover picture and CJK tags", test::TaggedWithCover("flac"), 0, 0, 2},
      {"tags with the transcoder's texts", test::TaggedWithTranscoderTexts(), 0, 0, 1},
      {"CJK name", test::CopyAs(test::ToneMp3(), "录音 测试.mp3"), 0, 0, 2},
      {"text named mp3", test::TextNamedMp3(), -1, -1, 0},
      {"empty file", test::EmptyMp3(), -1, -1, 0},
      {"video without sound", test::VideoWithoutSound(), -1, -1, 0},
      {"missing file", missing, -1, -1, 0},
      {"a folder", test::TempDir(), -1, -1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AudioPlayer player;
    const int rc = player.Play(c.path);
    EXPECT_EQ(rc, c.expected);
    if (rc == 0) {
      EXPECT_EQ(player.state.load(), PlayerState::Playing);
      EXPECT_EQ(player.Path(), c.path);
      EXPECT_GT(player.duration, 0);
      if (c.streamIndex >= 0) {
        EXPECT_EQ(player.StreamIndex(), c.streamIndex);
      }
      if (c.channels > 0) {
        EXPECT_EQ(player.DeviceChannels(), c.channels);
      }
      EXPECT_TRUE(test::PollUntil([&] { return player.GetPosition() > 0.2; }, 10s))
          << "the sound does not advance";
      EXPECT_EQ(player.Play(c.path), -1) << "a second Play on one player";
    }
    Finish(player);
    EXPECT_TRUE(player.Path().empty());
  }
}

TEST_F(AudioPlayerTest, MinusTwoWhenNoSoundDeviceOpens) {
  const std::string emptyAlsaConfig = test::TempDir() + "/empty-alsa.conf";
  std::ofstream(emptyAlsaConfig) << "# no devices\n";
  struct Case {
    const char* name;
    const char* driver;
    const char* pulseServer;
    const char* alsaConfig;
  };
  const Case cases[] = {
      {"sound server gone", "pulse", "unix:/nonexistent/tunewell/native", nullptr},
      {"sound library without devices", "alsa", "unix:/nonexistent/tunewell/native", emptyAlsaConfig.c_str()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedEnv driver("SDL_AUDIODRIVER", c.driver);
    ScopedEnv server("PULSE_SERVER", c.pulseServer);
    ScopedEnv alsa("ALSA_CONFIG_PATH", c.alsaConfig);
    AudioPlayer player;
    EXPECT_EQ(player.Play(test::ToneWav()), -2);
    Finish(player);
  }
  // The failure leaves SDL usable for the next player.
  AudioPlayer next;
  EXPECT_EQ(next.Play(test::ToneWav()), 0);
  Finish(next);
}

TEST_F(AudioPlayerTest, PureRules) {
  EXPECT_DOUBLE_EQ(ForwardTarget(20.5, 15, 30), 30);  // 10 s before the end lands at the end
  EXPECT_DOUBLE_EQ(ForwardTarget(3, 15, 30), 18);
  EXPECT_DOUBLE_EQ(ForwardTarget(3, 15, 0), 18);  // unknown duration: no upper bound
  EXPECT_DOUBLE_EQ(RewindTarget(5, 15), 0);       // 5 s in lands at the start
  EXPECT_DOUBLE_EQ(RewindTarget(20, 15), 5);
  EXPECT_EQ(SecondsToStreamTs(1.5, {1, 44100}), 66150);
  EXPECT_EQ(SecondsToStreamTs(2.9999, {1, 1000}), 2999);  // truncated, not rounded
  EXPECT_EQ(SecondsToStreamTs(10, {1, 90000}), 900000);
  EXPECT_EQ(SecondsToStreamTs(1, {0, 0}), 0);
  for (int channels = 1; channels <= 8; ++channels) {
    const int bytes = SilenceChunkBytes(channels);
    EXPECT_EQ(bytes % (channels * 2), 0) << channels;
    EXPECT_LE(bytes, 1024) << channels;
    EXPECT_GT(bytes, 1024 - channels * 2) << channels;
  }
  EXPECT_DOUBLE_EQ(PositionFromClock(10, 44100 * 4, 44100, 2), 9);
  EXPECT_DOUBLE_EQ(PositionFromClock(10, 0, 44100, 2), 10);
}

TEST_F(AudioPlayerTest, TogglePauseSwitchesOnlyPlayingAndPaused) {
  struct Case {
    PlayerState before;
    PlayerState after;
    bool pausedAfter;
  };
  const Case cases[] = {
      {PlayerState::Playing, PlayerState::Paused, true},
      {PlayerState::Paused, PlayerState::Playing, false},
      {PlayerState::Opened, PlayerState::Opened, false},
      {PlayerState::Finished, PlayerState::Finished, false},
  };
  AudioPlayer player;
  ASSERT_EQ(player.Play(test::ToneWav()), 0);
  for (const Case& c : cases) {
    player.state = c.before;
    player.paused = false;
    player.TogglePause();
    EXPECT_EQ(player.state.load(), c.after) << static_cast<int>(c.before);
    EXPECT_EQ(player.paused.load(), c.pausedAfter) << static_cast<int>(c.before);
  }
  Finish(player);
}

// The position advances with the sound the device takes, counted in the device's own samples,
// whatever the device's layout and rate.
TEST_F(PlayerPulseTest, PositionFollowsTheSoundTheDeviceTakes) {
  const struct {
    std::string sink;  // a default sink added for the case, but for the server's own
    int channels, rate;
  } cases[] = {{"tw_speaker", 2, 44100}, {"tw_mono", 1, 44100}, {"tw_48k", 2, 48000}, {"tw_8k", 1, 8000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sink);
    if (c.sink != "tw_speaker") ASSERT_TRUE(pulse_.AddSink(c.sink, c.channels, c.rate) && pulse_.UseDefaults(c.sink, "tw_mic"));
    AudioPlayer player;
    ASSERT_EQ(player.Play(test::ToneWav(10)), 0);
    ASSERT_TRUE(test::PollUntil([&] { return player.GetPosition() > 0.3; }, 10s));
    test::DeviceReader monitor(c.sink + ".monitor", c.channels, c.rate);
    ASSERT_TRUE(monitor.Ok());
    monitor.Read(c.rate / 10);  // past the reader's own start
    const double from = player.GetPosition();
    const auto heard = monitor.Read(3 * c.rate);
    const double advanced = player.GetPosition() - from;
    ASSERT_EQ(heard.size(), static_cast<size_t>(3 * c.rate * c.channels));
    EXPECT_NEAR(advanced, 3.0, 0.15) << "the position moved " << advanced
                                     << " s in 3 s of the device's sound";
    EXPECT_NEAR(ToneFrequency(heard, c.channels, c.rate), 440, 440 * 0.05);
    Finish(player);
  }
}

// Samples of the default sink (stereo 44100 Hz) during the next `seconds` from now.
std::vector<int16_t> Hear(test::DeviceReader& monitor, double seconds) {
  monitor.Drop();
  return monitor.Read(static_cast<std::int64_t>(seconds * 44100));
}

// Level in dB of full scale (as volumedetect's mean).
double Db(const std::vector<int16_t>& samples) {
  return 20 * std::log10(std::max(test::Rms(samples), 1e-3) / 32768);
}

// Reads the monitor until a tenth of a second of it is silent (what was handed to the server
// before a pause or a volume change has drained); false when it stays loud.
bool WaitForSilence(test::DeviceReader& monitor) {
  monitor.Drop();
  for (int i = 0; i < 50; ++i) {
    if (test::Rms(monitor.Read(4410)) < 5) return true;
  }
  return false;
}

TEST_F(PlayerPulseTest, PauseKeepsThePositionAndPlaysSilence) {
  const std::string tone = test::ToneWav(20);
  const double fileDb = test::MeasureLevel(tone, 1, 2).meanDb;
  AudioPlayer player;
  ASSERT_EQ(player.Play(tone), 0);
  ASSERT_TRUE(test::PollUntil([&] { return player.GetPosition() > 0.3; }, 10s));
  test::DeviceReader monitor("tw_speaker.monitor", 2, 44100);
  ASSERT_TRUE(monitor.Ok());

  const auto playing = Hear(monitor, 0.8);
  EXPECT_GT(test::Rms(playing), 300) << "no sound while playing";
  EXPECT_NEAR(ToneFrequency(playing, 2, 44100), 440, 440 * 0.05);
  EXPECT_NEAR(Db(playing), fileDb + 20 * std::log10(50.0 / 128), 1.0) << "a new player plays at 50 of 128";

  player.TogglePause();
  ASSERT_EQ(player.state.load(), PlayerState::Paused);
  ASSERT_TRUE(WaitForSilence(monitor)) << "sound while paused";
  const double pausedAt = player.GetPosition();
  EXPECT_LT(test::Rms(Hear(monitor, 0.8)), 5) << "sound while paused";
  EXPECT_NEAR(player.GetPosition(), pausedAt, 0.001) << "the position moved while paused";

  player.TogglePause();
  ASSERT_EQ(player.state.load(), PlayerState::Playing);
  ASSERT_TRUE(test::PollUntil([&] { return player.GetPosition() > pausedAt + 0.3; }, 5s));
  EXPECT_GT(test::Rms(Hear(monitor, 0.8)), 300) << "no sound after resuming";

  player.SetVolume(128);
  const double loudFrom = player.GetPosition() + 0.5;  // what was handed over before has played
  ASSERT_TRUE(test::PollUntil([&] { return player.GetPosition() > loudFrom; }, 5s));
  EXPECT_NEAR(Db(Hear(monitor, 0.8)), fileDb, 1.0) << "full volume plays the file as it is";

  player.SetVolume(0);
  ASSERT_TRUE(WaitForSilence(monitor)) << "volume 0 is not silent";
  EXPECT_LT(test::Rms(Hear(monitor, 0.5)), 5) << "volume 0 is not silent";
  Finish(player);
}

TEST_F(PlayerPulseTest, PlaysTheDefaultStreamAndEveryChannelLayout) {
  struct Case {
    const char* name;
    std::string path;
    double frequency;
  };
  const Case cases[] = {
      {"two streams: the 880 Hz one", test::TwoAudioStreams(), 880},
      {"surround", test::SurroundWav(), 440},
      {"mono", test::ToneMono(), 440},
      {"8000 Hz", test::Tone8k(), 440},
      {"video", test::VideoWithSound(), 440},
      {"cover picture and CJK tags", test::TaggedWithCover("mp3"), 440},
  };
  test::DeviceReader monitor("tw_speaker.monitor", 2, 44100);
  ASSERT_TRUE(monitor.Ok());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AudioPlayer player;
    ASSERT_EQ(player.Play(c.path), 0);
    player.SetVolume(128);
    ASSERT_TRUE(test::PollUntil([&] { return player.GetPosition() > 0.3; }, 10s));
    const auto heard = Hear(monitor, 1.0);
    EXPECT_GT(test::Rms(heard), 300);
    EXPECT_NEAR(ToneFrequency(heard, 2, 44100), c.frequency, c.frequency * 0.05);
    // At the level of each of its channels, or for more than two of the standard down-mix
    // (ffmpeg's "-ac 2" into floats, which it leaves unscaled).
    const std::string reference = test::Probe(c.path).First("audio")->channels <= 2
                                      ? c.path
                                      : test::MakeMedia("downmix-" + fs::path(c.path).filename().string(),
                                                        {"-i", c.path, "-ac", "2", "-c:a", "pcm_f32le"});
    EXPECT_NEAR(Db(heard), test::MeasureLevel(reference, 0.5, 1).meanDb, 1.0);
    Finish(player);
  }
}

TEST_F(AudioPlayerTest, SeekForwardAndRewind) {
  struct Case {
    const char* name;
    std::string path;
  };
  const Case cases[] = {{"wav", test::ToneWav(30)}, {"mp3", test::ToneMp3(30)}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AudioPlayer player;
    std::atomic<int> ends{0};
    player.endCallbackEnabled = true;
    player.SetEndCallback([&](void*) { ++ends; }, nullptr);
    ASSERT_EQ(player.Play(c.path), 0);
    ASSERT_NEAR(player.duration, 30, 0.1);

    player.SeekTo(12);
    ASSERT_TRUE(test::PollUntil([&] { return player.GetPosition() > 12.1; }, 5s));
    EXPECT_LT(player.GetPosition(), 14);

    // 5 s in, back by 15: lands at 0.
    player.SeekTo(5);
    ASSERT_TRUE(test::PollUntil([&] { return std::abs(player.GetPosition() - 5.1) < 0.5; }, 5s));
    player.Rewind(15);
    ASSERT_TRUE(test::PollUntil([&] { return player.GetPosition() < 1.0; }, 5s)) << player.GetPosition();
    EXPECT_GE(player.GetPosition(), 0);

    // 10 s before the end, on by 15: lands at the end, which is then reported.
    player.SeekTo(20);
    ASSERT_TRUE(test::PollUntil([&] { return player.GetPosition() > 20.1; }, 5s));
    EXPECT_EQ(ends.load(), 0);
    player.Forward(15);
    EXPECT_TRUE(test::PollUntil([&] { return ends.load() == 1; }, 3s)) << "the end was not reached at once";
    EXPECT_LE(player.GetPosition(), player.duration + 0.05);
    EXPECT_EQ(player.state.load(), PlayerState::Playing) << "seeks never change the state";
    Finish(player);
  }
}

// The end is reported once the decoder has taken the last packet (not when the reader hits
// the end of the file, long before), once per end, and again only when the owner clears
// endReported.
TEST_F(AudioPlayerTest, EndCallbackOncePerEnd) {
  struct EndSeen {
    std::atomic<int> count{0};
    std::atomic<double> position{-1};
    std::atomic<size_t> queued{999};
    AudioPlayer* player = nullptr;
  } seen;
  AudioPlayer player;
  seen.player = &player;
  player.endCallbackEnabled = true;
  player.SetEndCallback(
      [](void* user) {
        auto* s = static_cast<EndSeen*>(user);
        s->position = s->player->GetPosition();
        s->queued = s->player->QueuedPackets();
        ++s->count;
      },
      &seen);
  ASSERT_EQ(player.Play(test::ToneWav(1.5)), 0);
  ASSERT_TRUE(test::PollUntil([&] { return seen.count.load() == 1; }, 10s));
  EXPECT_GE(seen.position.load(), 1.0) << "reported before the sound was played";
  EXPECT_EQ(seen.queued.load(), 0u);
  EXPECT_FALSE(test::PollUntil([&] { return seen.count.load() > 1; }, 500ms)) << "reported twice for one end";

  player.SeekTo(0.8);  // endReported still set: the next end stays unreported
  ASSERT_TRUE(test::PollUntil([&] { return player.GetPosition() < 1.0; }, 5s));
  ASSERT_TRUE(test::PollUntil([&] { return player.GetPosition() >= 1.45; }, 10s))
      << "the end was not played again";
  EXPECT_FALSE(test::PollUntil([&] { return seen.count.load() > 1; }, 300ms));

  player.SeekTo(0.8);
  player.endReported = false;
  EXPECT_TRUE(test::PollUntil([&] { return seen.count.load() == 2; }, 10s));
  EXPECT_FALSE(test::PollUntil([&] { return seen.count.load() > 2; }, 300ms));

  player.endCallbackEnabled = false;  // disabled: the end is marked but nobody is called
  player.SeekTo(1.0);
  player.endReported = false;
  EXPECT_TRUE(test::PollUntil([&] { return player.endReported.load(); }, 10s));
  EXPECT_EQ(seen.count.load(), 2);
  Finish(player);
}

TEST_F(AudioPlayerTest, StopReturnsWhenTheReadingThreadIsAlreadyGone) {
  // The connection drops a third of the way in: a read error for the reading thread.
  test::MediaHttpServer server(test::ToneWav(6), {.sendFraction = 1.0 / 3});
  AudioPlayer player;
  ASSERT_EQ(player.Play(server.Url("tone.wav")), 0);
  ASSERT_TRUE(test::PollUntil([&] { return player.ReadThreadExited(); }, 20s))
      << "the read error did not end the thread";
  // The device keeps playing what was decoded, then silence.
  EXPECT_EQ(player.state.load(), PlayerState::Playing);
  // Nothing is left to wait for: Stop returns without a wait slice (each slice calls the pump).
  int pumped = 0;
  player.Stop([&] { ++pumped; });
  EXPECT_LE(pumped, 1);
  player.Stop();  // twice is harmless
  player.Release();
  EXPECT_TRUE(player.Path().empty());
}

TEST_F(AudioPlayerTest, StopWhilePlayingAndWhileTheQueueIsFull) {
  struct Case {
    const char* name;
    bool pauseFirst;  // paused: the decoder takes nothing, so the reader waits on a full queue
  };
  for (const Case c : {Case{"playing", false}, Case{"paused with a full queue", true}}) {
    SCOPED_TRACE(c.name);
    AudioPlayer player;
    ASSERT_EQ(player.Play(test::ToneMp3(30)), 0);
    if (c.pauseFirst) {
      player.TogglePause();
      EXPECT_TRUE(
          test::PollUntil([&] { return player.QueuedPackets() >= AudioPlayer::kQueueHighMark; }, 10s));
      EXPECT_FALSE(
          test::PollUntil([&] { return player.QueuedPackets() > AudioPlayer::kQueueHighMark; }, 200ms))
          << "the queue grows past its mark";
    } else {
      ASSERT_TRUE(test::PollUntil([&] { return player.GetPosition() > 0.3; }, 10s));
    }
    // The reader is woken from its wait, not left to a time-out: Stop ends within a few of its
    // 20 ms wait slices (each calls the pump), 2 s at the most on a loaded machine.
    int pumped = 0;
    player.Stop([&] { ++pumped; });
    EXPECT_TRUE(player.ReadThreadExited());
    EXPECT_LE(pumped, 100);
    player.Release();
  }
}

}  // namespace
}  // namespace tw

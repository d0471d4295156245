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
#include "tests/support/TestMedia.h"

namespace tw {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Finish(AudioPlayer& player) {
  player.Stop();
  player.Release();
}

// A private null sink of the test sound server, so this test hears only its own player
// (other tests may play into the shared default sink at the same time).
class PulseSink {
 public:
  static bool ServerAnswers() {
    return std::getenv("PULSE_SERVER") && test::RunProcess({"pactl", "info"}) == 0;
  }

  PulseSink() {
    static std::atomic<int> serial{0};
    name_ = "tw_player_" + std::to_string(getpid()) + "_" + std::to_string(serial++);
    std::string out;
    if (test::RunProcess({"pactl", "load-module", "module-null-sink", "sink_name=" + name_}, &out) == 0) {
      module_ = out.substr(0, out.find_first_of("\r\n"));
    }
  }
  ~PulseSink() {
    if (!module_.empty()) test::RunProcess({"pactl", "unload-module", module_});
  }
  bool Ok() const { return !module_.empty(); }
  const std::string& Name() const { return name_; }

  // What the sink plays during the next `seconds`, mono 44100 Hz.
  std::vector<int16_t> Capture(double seconds) const {
    const std::string raw = test::TempDir() + "/capture.raw";
    std::string out;
    const int rc = test::RunProcess(
        {"ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "pulse", "-i", name_ + ".monitor", "-t",
         std::to_string(seconds), "-ac", "1", "-ar", "44100", "-f", "s16le", raw},
        &out);
    EXPECT_EQ(rc, 0) << out;
    std::ifstream in(raw, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
  }

 private:
  std::string name_;
  std::string module_;
};

double Rms(const std::vector<int16_t>& samples) {
  if (samples.empty()) return 0;
  double sum = 0;
  for (int16_t s : samples) sum += static_cast<double>(s) * s;
  return std::sqrt(sum / samples.size());
}

// Frequency of a pure tone from the median distance between rising zero crossings, 44100 Hz
// samples; a gap or an underrun in the capture does not move a median.
double ToneFrequency(const std::vector<int16_t>& samples) {
  std::vector<size_t> gaps;
  size_t last = 0;
  for (size_t i = 1; i < samples.size(); ++i) {
    if (samples[i - 1] < 0 && samples[i] >= 0) {
      if (last > 0) gaps.push_back(i - last);
      last = i;
    }
  }
  if (gaps.empty()) return 0;
  std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
  return 44100.0 / gaps[gaps.size() / 2];
}

std::string CopyTo(const std::string& source, const std::string& name) {
  const std::string target = test::TempDir() + "/" + name;
  fs::copy_file(source, target, fs::copy_options::overwrite_existing);
  return target;
}

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
      {"two audio streams plays the last", test::TwoAudioStreams(), 0, 1, 1},
      {"surround", test::SurroundWav(), 0, 0, 6},
      {"mono", test::ToneWav(3, 440, 22050, 1), 0, 0, 1},
      {"quotes and $(x) in the name", CopyTo(test::ToneWav(), "it's \"$(touch x)\" `y`.wav"), 0, 0, 2},
      {"leading dash", CopyTo(test::ToneWav(), "-i tone.wav"), 0, 0, 2},
      {"CJK name", CopyTo(test::ToneMp3(), "录音 测试.mp3"), 0, 0, 2},
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
      EXPECT_EQ(player.Volume(), AudioPlayer::kDefaultVolume);
      EXPECT_EQ(player.Path(), c.path);
      EXPECT_GT(player.duration, 0);
      if (c.streamIndex >= 0) {
        EXPECT_EQ(player.StreamIndex(), c.streamIndex);
      }
      if (c.channels > 0) {
        EXPECT_EQ(player.DeviceChannels(), c.channels);
      }
      EXPECT_TRUE(WaitUntil([&] { return player.GetPosition() > 0.2; }, 10s)) << "the sound does not advance";
      EXPECT_EQ(player.Play(c.path), -1) << "a second Play on one player";
    }
    Finish(player);
    EXPECT_TRUE(player.Path().empty());
  }
  EXPECT_FALSE(fs::exists("x"));
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

// The sound leaves the player at real-time speed, on the dummy driver and on a real sound
// server alike.
TEST_F(AudioPlayerTest, PositionFollowsRealTime) {
  struct Case {
    const char* driver;
  };
  for (const Case c : {Case{"dummy"}, Case{"pulse"}}) {
    SCOPED_TRACE(c.driver);
    std::optional<PulseSink> sink;
    std::optional<ScopedEnv> sinkEnv;
    if (std::string(c.driver) == "pulse") {
      if (!PulseSink::ServerAnswers()) {
        ADD_FAILURE() << "no test sound server (run through scripts/test)";
        continue;
      }
      sink.emplace();
      ASSERT_TRUE(sink->Ok());
      sinkEnv.emplace("PULSE_SINK", sink->Name().c_str());
    }
    ScopedEnv driver("SDL_AUDIODRIVER", c.driver);
    AudioPlayer player;
    ASSERT_EQ(player.Play(test::ToneWav(10)), 0);
    ASSERT_TRUE(WaitUntil([&] { return player.GetPosition() > 0.3; }, 10s));
    const auto start = std::chrono::steady_clock::now();
    const double from = player.GetPosition();
    std::this_thread::sleep_for(3s);
    const double advanced = player.GetPosition() - from;
    const double elapsed = SecondsSince(start);
    EXPECT_NEAR(advanced / elapsed, 1.0, 0.05) << advanced << " s of sound in " << elapsed << " s";
    Finish(player);
  }
}

TEST_F(AudioPlayerTest, PauseKeepsThePositionAndPlaysSilence) {
  if (!PulseSink::ServerAnswers()) GTEST_FAIL() << "no test sound server (run through scripts/test)";
  PulseSink sink;
  ASSERT_TRUE(sink.Ok());
  ScopedEnv sinkEnv("PULSE_SINK", sink.Name().c_str());
  ScopedEnv driver("SDL_AUDIODRIVER", "pulse");
  AudioPlayer player;
  ASSERT_EQ(player.Play(test::ToneWav(20)), 0);
  ASSERT_TRUE(WaitUntil([&] { return player.GetPosition() > 0.3; }, 10s));

  const auto playing = sink.Capture(0.8);
  EXPECT_GT(Rms(playing), 300) << "no sound while playing";
  EXPECT_NEAR(ToneFrequency(playing), 440, 440 * 0.05);

  player.TogglePause();
  ASSERT_EQ(player.state.load(), PlayerState::Paused);
  std::this_thread::sleep_for(300ms);  // what was already handed to the server drains
  const double pausedAt = player.GetPosition();
  const auto whilePaused = sink.Capture(0.8);
  EXPECT_LT(Rms(whilePaused), 5) << "sound while paused";
  EXPECT_NEAR(player.GetPosition(), pausedAt, 0.001) << "the position moved while paused";

  player.TogglePause();
  ASSERT_EQ(player.state.load(), PlayerState::Playing);
  ASSERT_TRUE(WaitUntil([&] { return player.GetPosition() > pausedAt + 0.3; }, 5s));
  EXPECT_GT(Rms(sink.Capture(0.8)), 300) << "no sound after resuming";

  player.SetVolume(0);
  std::this_thread::sleep_for(300ms);
  EXPECT_LT(Rms(sink.Capture(0.5)), 5) << "volume 0 is not silent";
  Finish(player);
}

TEST_F(AudioPlayerTest, PlaysTheLastStreamAndEveryChannelLayout) {
  if (!PulseSink::ServerAnswers()) GTEST_FAIL() << "no test sound server (run through scripts/test)";
  struct Case {
    const char* name;
    std::string path;
    double frequency;
  };
  const Case cases[] = {
      {"two streams: the 880 Hz one", test::TwoAudioStreams(), 880},
      {"surround", test::SurroundWav(), 440},
      {"mono", test::ToneWav(3, 440, 22050, 1), 440},
      {"video", test::VideoWithSound(), 440},
  };
  PulseSink sink;
  ASSERT_TRUE(sink.Ok());
  ScopedEnv sinkEnv("PULSE_SINK", sink.Name().c_str());
  ScopedEnv driver("SDL_AUDIODRIVER", "pulse");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AudioPlayer player;
    ASSERT_EQ(player.Play(c.path), 0);
    player.SetVolume(128);
    ASSERT_TRUE(WaitUntil([&] { return player.GetPosition() > 0.3; }, 10s));
    const auto heard = sink.Capture(1.0);
    EXPECT_GT(Rms(heard), 300);
    EXPECT_NEAR(ToneFrequency(heard), c.frequency, c.frequency * 0.05);
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
    ASSERT_TRUE(WaitUntil([&] { return player.GetPosition() > 12.1; }, 5s));
    EXPECT_LT(player.GetPosition(), 14);

    // 5 s in, back by 15: lands at 0.
    player.SeekTo(5);
    ASSERT_TRUE(WaitUntil([&] { return std::abs(player.GetPosition() - 5.1) < 0.5; }, 5s));
    player.Rewind(15);
    ASSERT_TRUE(WaitUntil([&] { return player.GetPosition() < 1.0; }, 5s)) << player.GetPosition();
    EXPECT_GE(player.GetPosition(), 0);

    // 10 s before the end, on by 15: lands at the end, which is then reported.
    player.SeekTo(20);
    ASSERT_TRUE(WaitUntil([&] { return player.GetPosition() > 20.1; }, 5s));
    EXPECT_EQ(ends.load(), 0);
    player.Forward(15);
    EXPECT_TRUE(WaitUntil([&] { return ends.load() == 1; }, 3s)) << "the end was not reached at once";
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
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(player.Play(test::ToneWav(1.5)), 0);
  ASSERT_TRUE(WaitUntil([&] { return seen.count.load() == 1; }, 10s));
  EXPECT_GE(SecondsSince(start), 1.0) << "reported before the sound was played";
  EXPECT_GE(seen.position.load(), 1.0);
  EXPECT_EQ(seen.queued.load(), 0u);
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(seen.count.load(), 1) << "reported twice for one end";

  player.SeekTo(0.8);  // endReported still set: the next end stays unreported
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(seen.count.load(), 1);

  player.SeekTo(0.8);
  player.endReported = false;
  EXPECT_TRUE(WaitUntil([&] { return seen.count.load() == 2; }, 10s));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(seen.count.load(), 2);

  player.endCallbackEnabled = false;  // disabled: the end is marked but nobody is called
  player.SeekTo(1.0);
  player.endReported = false;
  EXPECT_TRUE(WaitUntil([&] { return player.endReported.load(); }, 10s));
  EXPECT_EQ(seen.count.load(), 2);
  Finish(player);
}

TEST_F(AudioPlayerTest, StopReturnsWhenTheReadingThreadIsAlreadyGone) {
  // The connection drops a third of the way in: a read error for the reading thread.
  test::MediaHttpServer server(test::ToneWav(6), {.sendFraction = 1.0 / 3});
  AudioPlayer player;
  ASSERT_EQ(player.Play(server.Url("tone.wav")), 0);
  ASSERT_TRUE(WaitUntil([&] { return player.ReadThreadExited(); }, 20s))
      << "the read error did not end the thread";
  // The device keeps playing what was decoded, then silence.
  EXPECT_EQ(player.state.load(), PlayerState::Playing);
  int pumped = 0;
  player.Stop([&] { ++pumped; });
  player.Stop();  // twice is harmless
  player.Release();
  SUCCEED();
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
      EXPECT_TRUE(WaitUntil([&] { return player.QueuedPackets() >= AudioPlayer::kQueueHighMark; }, 10s));
      std::this_thread::sleep_for(200ms);
      EXPECT_EQ(player.QueuedPackets(), AudioPlayer::kQueueHighMark) << "the queue grows past its mark";
    } else {
      std::this_thread::sleep_for(500ms);
    }
    std::atomic<int> pumped{0};
    player.Stop([&] { ++pumped; });
    EXPECT_TRUE(player.ReadThreadExited());
    player.Release();
  }
}

}  // namespace
}  // namespace tw

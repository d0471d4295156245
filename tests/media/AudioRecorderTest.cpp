#include "media/AudioRecorder.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "app/Messages.h"
#include "app/SettingsFile.h"
#include "media/MixerWrap.h"
#include "tests/support/PrivatePulse.h"
#include "tests/support/QueueSink.h"
#include "tests/support/TestMedia.h"

namespace tw {

// Reaches into a recorder before it records, to place its clock far ahead.
struct RecorderAccess {
  static void MoveClockTo(AudioRecorder& r, double seconds) {
    r.nextPts = static_cast<int64_t>(seconds * r.outputStream->time_base.den / r.outputStream->time_base.num);
  }
};

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Settings of this process live in a folder of its own, fixed before the first access.
const bool kSettingsIsolated = [] {
  const std::string home = test::TempDir();
  setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
  setenv("HOME", home.c_str(), 1);
  return true;
}();

void SleepSeconds(double s) { std::this_thread::sleep_for(std::chrono::duration<double>(s)); }

double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

void WriteSettings(const RecorderSettings& s) {
  const SettingsFile& f = SettingsFile::Instance();
  ASSERT_TRUE(f.WriteInt(kSettingsSection, kKeyNoiseCheck, s.noiseSuppression));
  ASSERT_TRUE(f.WriteInt(kSettingsSection, kKeyAgcCheck, s.gainControl));
  ASSERT_TRUE(f.WriteInt(kSettingsSection, kKeyVoiceSource, s.voiceSource));
  ASSERT_TRUE(f.WriteInt(kSettingsSection, kKeyAudioMuteCheck, s.muteRecording));
  ASSERT_TRUE(f.WriteInt(kSettingsSection, kKeyVoiceSize, s.gainDb));
}

RecorderSettings Settings(int source, int noise = 0, int agc = 0, int mute = 0) {
  RecorderSettings s;
  s.voiceSource = source;
  s.noiseSuppression = noise;
  s.gainControl = agc;
  s.muteRecording = mute;
  return s;
}

// Mean level in dB of the sound near one frequency (a narrow band-pass first).
double BandLevel(const std::string& path, int frequency, double startSec, double lengthSec) {
  std::string out;
  test::RunProcess({"ffmpeg", "-hide_banner", "-nostats", "-ss", std::to_string(startSec), "-t",
                    std::to_string(lengthSec), "-i", path, "-af",
                    "bandpass=f=" + std::to_string(frequency) + ":width_type=h:w=60,volumedetect", "-f", "null",
                    "-"},
                   &out);
  const std::string key = "mean_volume: ";
  const size_t at = out.find(key);
  return at == std::string::npos ? -200 : std::atof(out.c_str() + at + key.size());
}

// Seconds of sound a full decode yields (-1 when ffmpeg cannot read the file at all).
double DecodedSeconds(const std::string& path) {
  const std::string raw = test::TempDir() + "/decoded.raw";
  std::string out;
  const int rc = test::RunProcess(
      {"ffmpeg", "-v", "error", "-y", "-i", path, "-ac", "1", "-ar", "8000", "-f", "s16le", raw}, &out);
  if (!fs::exists(raw)) {
    ADD_FAILURE() << "ffmpeg could not decode " << path << " (" << rc << "): " << out;
    return -1;
  }
  return static_cast<double>(fs::file_size(raw)) / 16000.0;
}

int CountSilences(const std::string& path, double minSeconds) {
  std::string out;
  test::RunProcess({"ffmpeg", "-hide_banner", "-nostats", "-i", path, "-af",
                    "silencedetect=noise=-50dB:d=" + std::to_string(minSeconds), "-f", "null", "-"},
                   &out);
  int n = 0;
  for (size_t at = out.find("silence_start"); at != std::string::npos; at = out.find("silence_start", at + 1)) ++n;
  return n;
}

std::vector<int64_t> PostedSeconds(test::QueueSink& sink) {
  std::vector<int64_t> seconds;
  for (const auto& m : sink.Drain())
    if (m.id == WM_RECORD_TIME) seconds.push_back(m.param);
  return seconds;
}

int ThreadCount() {
  int n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/task")) ++n;
  return n;
}

struct Take {
  int startRc = -100;
  std::string path;
  double recordedSeconds = 0;  // wall-clock time spent recording
  std::vector<int64_t> posted;
  int source = -1;
};

// Records for `seconds` (wall clock) with the settings file as given; pauseAt/pauseFor
// pause the recording in the middle.
Take Record(const RecorderSettings& settings, double seconds, bool micAvailable = true, double pauseAt = -1,
            double pauseFor = 0, const std::string& name = "take.mp3") {
  Take take;
  WriteSettings(settings);
  test::QueueSink sink;
  const std::string folder = test::TempDir();
  {
    AudioRecorder recorder(&sink);
    take.startRc = recorder.Start(name, folder, 128000, CodecMp3, micAvailable, "TwMicrophone");
    take.path = folder + "/" + name;
    take.source = recorder.Source();
    if (take.startRc != 0) return take;
    recorder.Resume();
    if (pauseAt > 0) {
      SleepSeconds(pauseAt);
      recorder.Pause();
      take.recordedSeconds += pauseAt;
      SleepSeconds(pauseFor);
      recorder.Resume();
      const auto t = Clock::now();
      SleepSeconds(seconds - pauseAt);
      take.recordedSeconds += Since(t);
    } else {
      const auto t = Clock::now();
      SleepSeconds(seconds);
      take.recordedSeconds = Since(t);
    }
    recorder.Stop();
    EXPECT_TRUE(recorder.WaitFinished(10000));
  }
  take.posted = PostedSeconds(sink);
  return take;
}

void ExpectCountingSeconds(const std::vector<int64_t>& posted, int64_t last) {
  ASSERT_FALSE(posted.empty());
  for (size_t i = 0; i < posted.size(); ++i) EXPECT_EQ(posted[i], static_cast<int64_t>(i + 1)) << i;
  EXPECT_EQ(posted.back(), last);
}

class AudioRecorderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pulse_ = std::make_unique<test::PrivatePulse>();
    ASSERT_TRUE(pulse_->Ok()) << "pulseaudio could not be started for the test";
  }
  void TearDown() override { pulse_.reset(); }
  std::unique_ptr<test::PrivatePulse> pulse_;
};

TEST_F(AudioRecorderTest, EachSourceRecordsItsToneAtItsLevel) {
  const struct {
    int source;
    const char* sink;
    int frequency;
  } cases[] = {{SourceSystem, "tw_speaker", 440}, {SourceMicrophone, "tw_micfeed", 1000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    const std::string tone = test::ToneWav(12, c.frequency);
    const double reference = BandLevel(tone, c.frequency, 1, 2);
    test::Player player(c.sink, tone);
    SleepSeconds(0.5);
    const Take take = Record(Settings(c.source), 3.5);
    ASSERT_EQ(take.startRc, 0);
    const test::MediaInfo info = test::Probe(take.path);
    ASSERT_TRUE(info.ok);
    ASSERT_EQ(info.CountType("audio"), 1);
    EXPECT_EQ(info.First("audio")->codecName, "mp3");
    EXPECT_EQ(info.First("audio")->sampleRate, 44100);
    EXPECT_EQ(info.First("audio")->channels, 2);
    EXPECT_NEAR(info.durationSec, take.recordedSeconds, 0.2);
    EXPECT_NEAR(DecodedSeconds(take.path), take.recordedSeconds, 0.2);
    EXPECT_NEAR(BandLevel(take.path, c.frequency, 0.5, 2), reference, 1.5);
    ExpectCountingSeconds(take.posted, 3);
  }
}

TEST_F(AudioRecorderTest, MixHoldsBothSources) {
  const std::string system = test::ToneWav(12, 440);
  const std::string mic = test::ToneWav(12, 1000);
  const double systemRef = BandLevel(system, 440, 1, 2);
  const double micRef = BandLevel(mic, 1000, 1, 2);
  test::Player systemPlayer("tw_speaker", system);
  test::Player micPlayer("tw_micfeed", mic);
  SleepSeconds(0.5);
  const Take take = Record(Settings(SourceAll), 3.0);
  ASSERT_EQ(take.startRc, 0);
  EXPECT_EQ(take.source, SourceAll);
  const test::MediaInfo info = test::Probe(take.path);
  ASSERT_TRUE(info.ok);
  EXPECT_NEAR(info.durationSec, take.recordedSeconds, 0.2);
  // The two-input mix halves each input.
  EXPECT_NEAR(BandLevel(take.path, 440, 1, 1.5), systemRef - 6, 2);
  EXPECT_NEAR(BandLevel(take.path, 1000, 1, 1.5), micRef - 6, 2);
}

TEST_F(AudioRecorderTest, PauseLeavesNoGapAndSecondsResume) {
  const struct {
    int source;
    const char* sink;
  } cases[] = {{SourceSystem, "tw_speaker"}, {SourceMicrophone, "tw_micfeed"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    const std::string tone = test::ToneWav(14, 440);
    test::Player player(c.sink, tone);
    SleepSeconds(0.5);
    const Take take = Record(Settings(c.source), 3.5, true, 1.5, 3.0);
    ASSERT_EQ(take.startRc, 0);
    const test::MediaInfo info = test::Probe(take.path);
    ASSERT_TRUE(info.ok);
    EXPECT_NEAR(info.durationSec, take.recordedSeconds, 0.25);
    EXPECT_EQ(CountSilences(take.path, 0.2), 0) << "a pause must not leave silence in the file";
    ExpectCountingSeconds(take.posted, 3);
  }
}

TEST_F(AudioRecorderTest, MuteRecordsWallClockSilenceWithoutAnyDevice) {
  // No sound server at all: nothing may be opened.
  setenv("PULSE_SERVER", "unix:/nonexistent/tw-no-server/native", 1);
  for (int source : {SourceAll, SourceMicrophone, SourceSystem}) {
    SCOPED_TRACE(source);
    const Take take = Record(Settings(source, 0, 0, 1), 3.5);
    ASSERT_EQ(take.startRc, 0);
    const test::MediaInfo info = test::Probe(take.path);
    ASSERT_TRUE(info.ok);
    EXPECT_NEAR(info.durationSec, take.recordedSeconds, 0.2);
    EXPECT_LE(test::MeasureLevel(take.path).maxDb, -90);
    ExpectCountingSeconds(take.posted, 3);
  }
  setenv("PULSE_SERVER", pulse_->Server().c_str(), 1);
}

TEST_F(AudioRecorderTest, SystemSoundOnlyWhenNoMicrophone) {
  ASSERT_EQ(pulse_->Pactl({"unload-module", "module-remap-source"}), 0);
  std::string name;
  const bool micAvailable = GetDefaultCaptureName(name);
  ASSERT_FALSE(micAvailable);
  const std::string tone = test::ToneWav(20, 440);
  const double reference = BandLevel(tone, 440, 1, 1);
  test::Player player("tw_speaker", tone);
  SleepSeconds(0.5);
  // What the page hands over when the microphone is missing: it records the system sound
  // alone for "all" (after its prompt) and for "system"; the "microphone" value is stopped
  // by the page before Start, and the engine then records the system sound as well.
  for (int source : {SourceAll, SourceMicrophone, SourceSystem}) {
    SCOPED_TRACE(source);
    const Take take = Record(Settings(source), 2.0, micAvailable);
    ASSERT_EQ(take.startRc, 0);
    EXPECT_EQ(take.source, SourceSystem);
    EXPECT_NEAR(test::Probe(take.path).durationSec, take.recordedSeconds, 0.2);
    EXPECT_NEAR(BandLevel(take.path, 440, 0.5, 1), reference, 1.5);
  }
  // A microphone that vanished after the page looked for it: the sources that need it
  // fail to start and leave no file; the system sound alone still records.
  const struct {
    int source;
    bool starts;
  } vanished[] = {{SourceAll, false}, {SourceMicrophone, false}, {SourceSystem, true}};
  for (const auto& c : vanished) {
    SCOPED_TRACE(c.source);
    const int threadsBefore = ThreadCount();
    const Take take = Record(Settings(c.source), 1.0, true);
    EXPECT_EQ(take.startRc == 0, c.starts);
    if (!c.starts) {
      EXPECT_FALSE(fs::exists(take.path));
      EXPECT_EQ(ThreadCount(), threadsBefore);
    }
  }
}

TEST_F(AudioRecorderTest, NoiseSuppressionAndGainControlChangeTheMicrophone) {
  const std::string noise = test::NoiseWav(30);
  const std::string quiet = test::MakeMedia("quiet-tone-30s.wav", {"-f", "lavfi", "-i",
                                                                    "sine=frequency=500:duration=30", "-af",
                                                                    "volume=-20dB", "-ac", "2", "-c:a", "pcm_s16le"});
  struct Result {
    double plain = 0;
    double processed = 0;
  };
  const struct {
    const char* name;
    std::string file;
    int noise, agc;
    double minChangeDb;  // processed minus plain: negative lowers, positive raises
    double maxChangeDb;
  } cases[] = {{"noise suppression on steady noise", noise, 1, 0, -100, -6},
               {"gain control on a quiet tone", quiet, 0, 1, 3, 100}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::Player player("tw_micfeed", c.file);
    SleepSeconds(0.5);
    const Take plain = Record(Settings(SourceMicrophone), 3.0);
    const Take processed = Record(Settings(SourceMicrophone, c.noise, c.agc), 3.0);
    ASSERT_EQ(plain.startRc, 0);
    ASSERT_EQ(processed.startRc, 0);
    EXPECT_NEAR(test::Probe(processed.path).durationSec, processed.recordedSeconds, 0.25);
    const double before = test::MeasureLevel(plain.path, 1.0, 1.8).meanDb;
    const double after = test::MeasureLevel(processed.path, 1.0, 1.8).meanDb;
    EXPECT_GT(before, -60) << "the microphone delivered nothing";
    EXPECT_GE(after - before, c.minChangeDb) << before << " -> " << after;
    EXPECT_LE(after - before, c.maxChangeDb) << before << " -> " << after;
  }
}

TEST_F(AudioRecorderTest, StartFailuresLeaveNothingBehind) {
  WriteSettings(Settings(SourceSystem));
  const std::string folder = test::TempDir();
  const struct {
    const char* name;
    std::string dir;
    int codecKind;
    bool starts;
    const char* codec;
  } cases[] = {
      {"take.unknownext", folder, CodecMp3, false, ""},
      {"take.mp3", folder + "/missing/deeper", CodecMp3, false, ""},
      {"take.m4a", folder, CodecAac, true, "aac"},
      {"other-kind.m4a", folder, 9, true, "aac"},  // any other kind keeps the AAC presets
      {"aac-in-mp3.mp3", folder, CodecAac, false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const int threadsBefore = ThreadCount();
    const std::string path = c.dir + "/" + c.name;
    {
      AudioRecorder recorder(nullptr);
      const int rc = recorder.Start(c.name, c.dir, 96000, c.codecKind, true, "TwMicrophone");
      EXPECT_EQ(rc == 0, c.starts) << rc;
      if (rc != 0) {
        EXPECT_LT(rc, 0);
        EXPECT_EQ(ThreadCount(), threadsBefore) << "a failed start leaves no thread";
        EXPECT_FALSE(fs::exists(path));
        continue;
      }
      recorder.Resume();
      SleepSeconds(1.0);
      recorder.Stop();
    }
    const test::MediaInfo info = test::Probe(path);
    ASSERT_TRUE(info.ok);
    EXPECT_EQ(info.First("audio")->codecName, c.codec);
    EXPECT_NEAR(info.durationSec, 1.0, 0.25);
  }
}

TEST_F(AudioRecorderTest, HostileFileNamesAreWrittenAsGiven) {
  const char* names[] = {"新录音-$(touch x) 'q\" `id`.mp3", "-leading-dash.mp3", "a:b;c|d&e.mp3", "录音 空格.mp3"};
  for (const char* name : names) {
    SCOPED_TRACE(name);
    const Take take = Record(Settings(SourceSystem, 0, 0, 1), 1.0, true, -1, 0, name);
    ASSERT_EQ(take.startRc, 0);
    ASSERT_TRUE(fs::exists(take.path));
    EXPECT_NEAR(test::Probe(take.path).durationSec, 1.0, 0.2);
  }
}

TEST_F(AudioRecorderTest, FullDiskEndsTheRecordingCleanly) {
  WriteSettings(Settings(SourceSystem));
  const std::string folder = test::TempDir();
  fs::create_symlink("/dev/full", folder + "/full.mp3");
  test::QueueSink sink;
  AudioRecorder recorder(&sink);
  const int rc = recorder.Start("full.mp3", folder, 128000, CodecMp3, true, "TwMicrophone");
  if (rc == 0) {
    recorder.Resume();
    SleepSeconds(2.5);  // more than the writer's buffer
    recorder.Stop();
    EXPECT_TRUE(recorder.WaitFinished(10000)) << "a failing disk must not hang the finish";
    EXPECT_EQ(recorder.Failure(), FailureWrite);
    int reports = 0;
    for (const auto& m : sink.Drain())
      if (m.id == WM_RECORD_FAILED) {
        ++reports;
        EXPECT_EQ(m.param, FailureWrite);
      }
    EXPECT_EQ(reports, 1) << "the owner is told once";
  } else {
    EXPECT_LT(rc, 0);
  }
}

TEST_F(AudioRecorderTest, TimestampsBeyondThirteenHoursStayRight) {
  WriteSettings(Settings(SourceSystem, 0, 0, 1));
  const std::string folder = test::TempDir();
  test::QueueSink sink;
  {
    AudioRecorder recorder(&sink);
    ASSERT_EQ(recorder.Start("long.mp3", folder, 128000, CodecMp3, true, "TwMicrophone"), 0);
    // As if 14 hours had been recorded already: past what a 32-bit count of samples holds.
    RecorderAccess::MoveClockTo(recorder, 14 * 3600.0);
    recorder.Resume();
    SleepSeconds(2.5);
    recorder.Stop();
  }
  const std::vector<int64_t> posted = PostedSeconds(sink);
  ASSERT_GE(posted.size(), 2u);
  EXPECT_EQ(posted.front(), 14 * 3600);
  EXPECT_EQ(posted.back(), 14 * 3600 + 2);
  for (size_t i = 1; i < posted.size(); ++i) EXPECT_EQ(posted[i], posted[i - 1] + 1);
}

TEST_F(AudioRecorderTest, DestroyingWithoutStopFinishesTheFile) {
  WriteSettings(Settings(SourceAll));
  const std::string folder = test::TempDir();
  {
    AudioRecorder recorder(nullptr);
    ASSERT_EQ(recorder.Start("unstopped.mp3", folder, 128000, CodecMp3, true, "TwMicrophone"), 0);
    recorder.Resume();
    SleepSeconds(1.5);
  }
  EXPECT_NEAR(test::Probe(folder + "/unstopped.mp3").durationSec, 1.5, 0.25);
}

// Runs only as the child of KilledRecordingStillDecodes: records until it is killed.
TEST(AudioRecorderChild, DISABLED_RecordsUntilKilled) {
  const char* folder = std::getenv("TW_RECORDER_CHILD_FOLDER");
  if (!folder) GTEST_SKIP() << "started by KilledRecordingStillDecodes only";
  auto* recorder = new AudioRecorder(nullptr);  // never destroyed: the process is killed
  recorder->UseSettings(Settings(SourceAll));
  if (recorder->Start("killed.mp3", folder, 128000, CodecMp3, true, "TwMicrophone") != 0) _exit(3);
  recorder->Resume();
  for (;;) pause();
}

TEST_F(AudioRecorderTest, KilledRecordingStillDecodes) {
  const std::string tone = test::ToneWav(20, 440);
  test::Player player("tw_speaker", tone);
  const std::string folder = test::TempDir();
  const std::string path = folder + "/killed.mp3";
  setenv("TW_RECORDER_CHILD_FOLDER", folder.c_str(), 1);
  fflush(nullptr);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    execl("/proc/self/exe", "recorder-child", "--gtest_filter=AudioRecorderChild.DISABLED_RecordsUntilKilled",
          "--gtest_also_run_disabled_tests", static_cast<char*>(nullptr));
    _exit(4);
  }
  unsetenv("TW_RECORDER_CHILD_FOLDER");
  SleepSeconds(10.0);
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the recording process ended by itself: " << status;
  EXPECT_GE(DecodedSeconds(path), 9.0);
  EXPECT_LE(DecodedSeconds(path), 10.5);
}

}  // namespace
}  // namespace tw

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>

#include "app/Messages.h"
#include "app/SettingsFile.h"
#include "media/NoiseJobTable.h"
#include "tests/support/QueueSink.h"
#include "tests/support/TestEnv.h"
#include "tests/support/TestMedia.h"

namespace tw {
namespace {

// Settings and the default output folder live in a private home for this process.
const std::string kHome = test::PrivateHome();

using test::QueueSink;
using test::TempDir;

bool Is14Digits(const std::string& text) {
  return text.size() == 14 && text.find_first_not_of("0123456789") == std::string::npos;
}

// Whether name is prefix + 14 digits + suffix.
bool IsStampedName(const std::string& name, const std::string& prefix, const std::string& suffix) {
  return name.size() == prefix.size() + 14 + suffix.size() && name.rfind(prefix, 0) == 0 &&
         Is14Digits(name.substr(prefix.size(), 14)) && name.substr(prefix.size() + 14) == suffix;
}

TEST(NoiseJobTable, EngineByExtensionInLowerOrUpperCaseOnly) {
  const struct {
    const char* extension;
    NoiseEngine engine;
  } cases[] = {
      {"mp4", NoiseEngine::Video}, {"MP4", NoiseEngine::Video},  {"Mp4", NoiseEngine::None},
      {"flv", NoiseEngine::Video}, {"avi", NoiseEngine::Video},  {"WMV", NoiseEngine::Video},
      {"mov", NoiseEngine::Video}, {"MKV", NoiseEngine::Video},  {"3gp", NoiseEngine::Video},
      {"3GP", NoiseEngine::Video}, {"mp3", NoiseEngine::Audio},  {"MP3", NoiseEngine::Audio},
      {"Mp3", NoiseEngine::None},  {"mP3", NoiseEngine::None},   {"aac", NoiseEngine::Audio},
      {"wma", NoiseEngine::Audio}, {"OGG", NoiseEngine::Audio},  {"m4a", NoiseEngine::Audio},
      {"M4A", NoiseEngine::Audio}, {"flac", NoiseEngine::Audio}, {"FLAC", NoiseEngine::Audio},
      {"Flac", NoiseEngine::None}, {"wav", NoiseEngine::Audio},  {"WAV", NoiseEngine::Audio},
      {"", NoiseEngine::None},     {"txt", NoiseEngine::None},   {"webm", NoiseEngine::None},
      {"mpeg", NoiseEngine::None}, {"mp", NoiseEngine::None},    {"mp3 ", NoiseEngine::None},
      {".mp3", NoiseEngine::None},
  };
  for (const auto& c : cases) EXPECT_EQ(NoiseEngineForExtension(c.extension), c.engine) << c.extension;
}

TEST(NoiseJobTable, SourceExtensionAndOutputName) {
  const test::ScopedEnv utc("TZ", "UTC");
  tzset();
  const std::time_t when = 1700000000;
  const std::string stamp = "20231114221320";
  EXPECT_EQ(NoiseTimestamp(when), stamp);
  const struct {
    const char* source;
    const char* extension;
    const char* format;
    std::string name;
  } cases[] = {
      {"/music/song.wav", "wav", "mp3", "song-噪声消除-" + stamp + ".mp3"},
      {"/music/a.b.c.flac", "flac", "aac", "a.b.c-噪声消除-" + stamp + ".aac"},
      {"/music.dir/noext", "", "mp3", "noext-噪声消除-" + stamp + ".mp3"},
      {"/v/录像 01.MP4", "MP4", "mp4", "录像 01-噪声消除-" + stamp + ".mp4"},
      {"/v/-dash $(x) 'q'.mkv", "mkv", "mkv", "-dash $(x) 'q'-噪声消除-" + stamp + ".mkv"},
      {"relative.Mp3", "Mp3", "mp3", "relative-噪声消除-" + stamp + ".mp3"},
      {"/v/.hidden", "hidden", "mp3", "-噪声消除-" + stamp + ".mp3"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NoiseSourceExtension(c.source), c.extension) << c.source;
    EXPECT_EQ(NoiseOutputName(c.source, c.format, when), c.name) << c.source;
  }
}

TEST(NoiseJobTable, TheOutputPathIsTheDesignedName) {
  // Whether it is free is decided when the result is published.
  const test::ScopedEnv utc("TZ", "UTC");
  tzset();
  EXPECT_EQ(NoiseOutputPath("/out", "/in/x.wav", "mp3", 1700000000), "/out/x-噪声消除-20231114221320.mp3");
}

TEST(NoiseJobTable, PlansPassTheTabledSettings) {
  NoiseRunSettings settings;
  settings.audioFormat = "mp3";
  settings.videoFormat = "mkv";
  settings.policy = 3;
  settings.outputFolder = "/o";
  const test::ScopedEnv utc("TZ", "UTC");
  tzset();
  const std::time_t when = 1700000000;
  const std::string stamp = "20231114221320";

  const NoiseRunPlan audio = PlanNoiseRun("/i/talk.WAV", settings, when);
  EXPECT_EQ(audio.engine, NoiseEngine::Audio);
  EXPECT_EQ(audio.inputPath, "/i/talk.WAV");
  EXPECT_EQ(audio.outputPath, "/o/talk-噪声消除-" + stamp + ".mp3");
  EXPECT_EQ(audio.formatType, 0);
  EXPECT_EQ(audio.bitRate, 128000);
  EXPECT_EQ(audio.policy, 3);

  settings.audioFormat = "m4a";
  const NoiseRunPlan aac = PlanNoiseRun("/i/talk.mp3", settings, when);
  EXPECT_EQ(aac.formatType, 1);
  EXPECT_EQ(aac.outputPath, "/o/talk-噪声消除-" + stamp + ".m4a");

  const NoiseRunPlan video = PlanNoiseRun("/i/clip.mov", settings, when);
  EXPECT_EQ(video.engine, NoiseEngine::Video);
  EXPECT_EQ(video.outputPath, "/o/clip-噪声消除-" + stamp + ".mkv");
  EXPECT_EQ(video.qualitySelector, 0);
  EXPECT_EQ(video.fifoWidth, 1280);
  EXPECT_EQ(video.fifoHeight, 720);
  EXPECT_EQ(video.audioChannels, 2);
  EXPECT_EQ(video.audioRate, 44100);
  EXPECT_EQ(video.audioBitRate, 128000);
  EXPECT_EQ(video.policy, 3);

  const NoiseRunPlan mixed = PlanNoiseRun("/i/clip.Mov", settings, when);
  EXPECT_EQ(mixed.engine, NoiseEngine::None);
  EXPECT_TRUE(mixed.outputPath.empty());

  // Without a folder of its own the run writes to the output folder of the settings.
  settings.outputFolder.clear();
  const NoiseRunPlan fallback = PlanNoiseRun("/i/talk.wav", settings, when);
  EXPECT_EQ(fallback.outputPath.rfind(GetOutputFolder() + "/talk-噪声消除-", 0), 0u) << fallback.outputPath;
}

TEST(NoiseJobTable, WavBecomesMp3AndTheRowIsFreedByDone) {
  QueueSink sink;
  NoiseJobTable table(&sink);
  const std::string folder = TempDir();
  NoiseRunSettings settings;
  settings.outputFolder = folder;
  NoiseRunPlan plan;
  ASSERT_EQ(table.Run(4, test::ToneWav(2), settings, &plan), 0);
  EXPECT_TRUE(table.IsRunning(4));
  EXPECT_EQ(table.RunningAudio(), 1u);
  EXPECT_EQ(table.Run(4, test::ToneWav(2), settings), -1) << "a row runs one job at a time";
  EXPECT_TRUE(IsStampedName(std::filesystem::path(plan.outputPath).filename().string(),
                            "tone-2s-440hz-44100-2ch-噪声消除-", ".mp3"))
      << plan.outputPath;

  auto done = sink.WaitFor(WM_NOISE_DONE);
  ASSERT_TRUE(done.has_value());
  const auto* record = done->As<NoiseDoneRecord>();
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->itemId, 4);
  EXPECT_TRUE(table.Finish(*record));
  EXPECT_FALSE(table.IsRunning(4));
  EXPECT_FALSE(table.Finish(*record));
  const auto info = test::Probe(plan.outputPath);
  ASSERT_TRUE(info.ok);
  EXPECT_EQ(info.First("audio")->codecName, "mp3");
}

TEST(NoiseJobTable, SameSourceTwiceInOneSecondWritesTwoFiles) {
  QueueSink sink;
  NoiseJobTable table(&sink);
  NoiseRunSettings settings;
  settings.outputFolder = TempDir();
  NoiseRunPlan first, second, third;
  const std::string source = test::ToneWav(1);
  ASSERT_EQ(table.Run(1, source, settings, &first), 0);
  ASSERT_EQ(table.Run(2, source, settings, &second), 0);
  ASSERT_EQ(table.Run(3, source, settings, &third), 0);
  std::set<std::string> published;
  for (int i = 0; i < 3; ++i) {
    auto done = sink.WaitFor(WM_NOISE_DONE);
    ASSERT_TRUE(done.has_value());
    EXPECT_TRUE(table.Finish(*done->As<NoiseDoneRecord>()));
    published.insert(done->As<NoiseDoneRecord>()->outputPath);
  }
  EXPECT_EQ(published.size(), 3u);
  for (const std::string& path : published) EXPECT_TRUE(test::Probe(path).ok) << path;
}

TEST(NoiseJobTable, RowsThatStartNoJob) {
  QueueSink sink;
  NoiseJobTable table(&sink);
  const std::string dir = TempDir();
  NoiseRunSettings settings;
  settings.outputFolder = dir + "/out";
  std::filesystem::create_directories(settings.outputFolder);
  const std::string mixedCase = dir + "/Song.Mp3";
  std::filesystem::copy_file(test::ToneMp3(1), mixedCase);
  const std::string broken = dir + "/broken.wav";
  std::ofstream(broken) << "not a sound";
  const std::string unknownVideo = dir + "/unknown.avi";
  std::ofstream(unknownVideo) << "not a video";
  const struct {
    const char* name;
    std::string source;
  } cases[] = {{"mixed case", mixedCase},
               {"unreadable audio", broken},
               {"unreadable video", unknownVideo},
               {"missing", dir + "/none.wav"},
               {"no extension", dir + "/plain"}};
  int row = 10;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(table.Run(row, c.source, settings), -1);
    EXPECT_FALSE(table.IsRunning(row));
    ++row;
  }
  EXPECT_TRUE(std::filesystem::is_empty(settings.outputFolder));
  EXPECT_TRUE(sink.DrainAfterQuiet(std::chrono::milliseconds(200), std::chrono::seconds(1)).empty());
  EXPECT_TRUE(std::filesystem::exists(mixedCase));
  EXPECT_TRUE(std::filesystem::exists(broken));
}

TEST(NoiseJobTable, VideoJobsUseTheVideoTable) {
  QueueSink sink;
  NoiseJobTable table(&sink);
  NoiseRunSettings settings;
  settings.outputFolder = TempDir();
  NoiseRunPlan plan;
  ASSERT_EQ(table.Run(6, test::VideoWithSound(2), settings, &plan), 0);
  EXPECT_EQ(table.RunningVideo(), 1u);
  EXPECT_EQ(table.RunningAudio(), 0u);
  auto done = sink.WaitFor(WM_NOISE_DONE);
  ASSERT_TRUE(done.has_value());
  const auto* record = done->As<NoiseDoneRecord>();
  EXPECT_EQ(record->audioEngine, 0);
  // A completion of the other engine does not free this row.
  EXPECT_FALSE(table.Finish(NoiseDoneRecord(6, 1)));
  EXPECT_TRUE(table.Finish(*record));
  EXPECT_EQ(table.RunningVideo(), 0u);
  EXPECT_EQ(record->outputPath, plan.outputPath);  // published under the designed name
  EXPECT_EQ(test::Probe(record->outputPath).CountType("video"), 1);
}

TEST(NoiseJobTable, DestroyingTheTableEndsRunningJobsQuietly) {
  QueueSink sink;
  {
    NoiseJobTable table(&sink);
    NoiseRunSettings settings;
    settings.outputFolder = TempDir();
    // Long enough that no job can end before the table goes, however busy the machine.
    ASSERT_EQ(table.Run(1, test::LongMp3(), settings), 0);
    ASSERT_EQ(table.Run(2, test::VideoWithSound(60), settings), 0);
  }
  for (const auto& m : sink.DrainAfterQuiet(std::chrono::milliseconds(200), std::chrono::seconds(1))) {
    EXPECT_NE(m.id, WM_NOISE_DONE);
  }
}

}  // namespace
}  // namespace tw

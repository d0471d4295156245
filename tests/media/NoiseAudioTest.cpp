#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "app/Messages.h"
#include "media/NoiseAudio.h"
#include "media/NoiseConvert.h"
#include "media/NoiseRecords.h"
#include "tasks/ResultFile.h"
#include "tests/support/FailingDisk.h"
#include "tests/support/QueueSink.h"
#include "tests/support/TestMedia.h"

namespace tw {
namespace {

using test::MakeMedia;
using test::MeasureLevel;
using test::Probe;
using test::QueueSink;
using test::TempDir;

// 12 s at 44.1 kHz stereo: a tone with a voice-like vibrato sounds during the even seconds
// and pauses during the odd ones, all under steady white noise about 18 dB below the tone.
std::string BurstsUnderNoise() {
  return MakeMedia("vibrato-bursts-under-noise-12s.wav",
                   {"-f", "lavfi", "-i",
                    "aevalsrc=exprs='0.4*sin(2*PI*(440*t+30*sin(2*PI*3*t)))*lt(mod(t\\,2)\\,1)+"
                    "0.06*(2*random(0)-1)':s=44100:d=12",
                    "-ac", "2", "-c:a", "pcm_s16le"});
}

struct RunResult {
  int startResult = -1;
  std::vector<Message> messages;  // every message posted, in order
};

// Runs one job to its end (or for at most two minutes) and returns what it posted.
RunResult RunJob(const std::string& input, const std::string& output, int formatType, int policy,
                 int itemId = 7) {
  SCOPED_TRACE(input);
  QueueSink sink;
  RunResult result;
  NoiseAudio job(&sink, itemId);
  result.startResult = job.Start(input, output, formatType, 128000, policy);
  result.messages = result.startResult == 0
                        ? sink.DrainThrough(WM_NOISE_DONE, std::chrono::seconds(120))
                        : sink.DrainAfterQuiet(std::chrono::milliseconds(300), std::chrono::seconds(2));
  return result;
}

// The video engine's job as the page runs it (the picture copied), for the tables both share.
RunResult RunVideoJob(const std::string& input, const std::string& output) {
  QueueSink sink;
  RunResult result;
  NoiseConvert job(&sink, 9, output);
  result.startResult = job.Start(input, 0, 1280, 720, 2, 44100, 128000, 2);
  if (result.startResult == 0) result.messages = sink.DrainThrough(WM_NOISE_DONE, std::chrono::seconds(300));
  return result;
}

// Mean level of the pauses (odd seconds) and of the tone (even seconds) after the first two
// seconds, in which the suppressor learns the noise.
struct BurstLevels {
  double pauseDb = 0;
  double toneDb = 0;
};
BurstLevels MeasureBursts(const std::string& path) {
  BurstLevels levels;
  double pauses = 0, tones = 0;
  int n = 0;
  for (int s = 2; s < 12; s += 2) {
    tones += MeasureLevel(path, s + 0.2, 0.6).meanDb;
    pauses += MeasureLevel(path, s + 1.2, 0.6).meanDb;
    ++n;
  }
  levels.pauseDb = pauses / n;
  levels.toneDb = tones / n;
  return levels;
}

TEST(NoiseAudio, KeepsTheCoverPictureAndTags) {
  const std::string dir = TempDir();
  const struct {
    std::string source, output;
    int formatType;
    int covers;  // what the result's container holds
  } cases[] = {
      {test::TaggedWithCover("flac"), dir + "/a.mp3", 0, 1},
      {test::TaggedWithCover("mp3"), dir + "/b.m4a", 1, 1},
      {test::TaggedWithCover("ogg"), dir + "/c.mp3", 0, 0},  // tags on the Ogg sound stream
      {test::TaggedWithCover("m4a"), dir + "/d.aac", 1, 0},  // ADTS holds neither
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output);
    const RunResult run = RunJob(c.source, c.output, c.formatType, 2);
    ASSERT_EQ(run.startResult, 0);
    ASSERT_EQ(run.messages.back().As<NoiseDoneRecord>()->result, 0);
    EXPECT_EQ(test::CoverCount(c.output), c.covers);
    if (c.covers) {
      EXPECT_EQ(test::PacketHashes(c.output, "v:0"), test::PacketHashes(c.source, "v:0"));
    }
    EXPECT_EQ(Probe(c.output).CountType("audio"), 1);
    const auto tags = test::Tags(c.output);
    if (c.output.find(".aac") != std::string::npos) continue;
    EXPECT_EQ(tags.count("title") ? tags.at("title") : "", test::kSampleTitle);
    EXPECT_EQ(tags.count("album") ? tags.at("album") : "", test::kSampleAlbum);
    for (const auto& [key, value] : tags) EXPECT_FALSE(value.empty()) << key;
  }
}

TEST(NoiseAudio, CleansThePausesAndKeepsTheSignal) {
  const std::string input = BurstsUnderNoise();
  const BurstLevels before = MeasureBursts(input);
  const std::string dir = TempDir();
  double pauseByPolicy[4] = {};
  for (int policy : {1, 3}) {
    SCOPED_TRACE(policy);
    const std::string output = dir + "/cleaned-" + std::to_string(policy) + ".mp3";
    const RunResult run = RunJob(input, output, 0, policy);
    ASSERT_EQ(run.startResult, 0);
    const BurstLevels after = MeasureBursts(output);
    EXPECT_LE(after.pauseDb, before.pauseDb - 10) << "before " << before.pauseDb;
    EXPECT_NEAR(after.toneDb, before.toneDb, 3.0);
    pauseByPolicy[policy] = after.pauseDb;
  }
  EXPECT_LT(pauseByPolicy[3], pauseByPolicy[1]);
}

TEST(NoiseAudio, OutputKeepsTheLengthOfTheInput) {
  const std::string dir = TempDir();
  const struct {
    std::string name;
    std::string input;
    int formatType;
    const char* extension;
    const char* codec;
  } cases[] = {
      {"wav to mp3", test::ToneWav(5), 0, "mp3", "mp3"},
      {"wav to m4a", test::ToneWav(5), 1, "m4a", "aac"},
      {"mp3 to aac", test::ToneMp3(4), 1, "aac", "aac"},
      {"mono 8 kHz", test::ToneWav(3, 300, 8000, 1), 0, "mp3", "mp3"},
      {"surround", test::SurroundWav(), 0, "mp3", "mp3"},
      {"48 kHz flac",
       MakeMedia("tone-3s-48k.flac", {"-f", "lavfi", "-i", "sine=frequency=500:sample_rate=48000:d=3"}), 0,
       "mp3", "mp3"},
      {"shorter than a second", test::ToneWav(0.5), 0, "mp3", "mp3"},
      {"ends on a 10 ms block", test::ToneWav(2, 440, 32000, 1), 0, "mp3", "mp3"},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string output = dir + "/out-" + std::to_string(index++) + "." + c.extension;
    const RunResult run = RunJob(c.input, output, c.formatType, 2);
    ASSERT_EQ(run.startResult, 0);
    const auto in = Probe(c.input);
    const auto out = Probe(output);
    ASSERT_TRUE(out.ok);
    ASSERT_EQ(out.CountType("audio"), 1);
    const auto* stream = out.First("audio");
    EXPECT_EQ(stream->codecName, c.codec);
    EXPECT_EQ(stream->channels, 2);
    EXPECT_EQ(stream->sampleRate, 44100);
    // Within one encoder frame.
    EXPECT_NEAR(test::DecodedSeconds(output), in.durationSec, 1152.0 / 44100) << output;
    // Sound, not silence, reaches the end of the file: the last stretch is about as loud as
    // the cleaned sound before it (a steady tone is partly taken for noise, so the level of
    // the input is no measure).
    const double middle = MeasureLevel(output, in.durationSec / 2, 0.15).meanDb;
    EXPECT_GT(MeasureLevel(output, in.durationSec - 0.2, 0.15).meanDb, middle - 10) << output;
    for (const std::string& name : test::FileNames(std::filesystem::path(output).parent_path().string()))
      EXPECT_FALSE(IsPartialName(name)) << name;
  }
}

// Kinds of media that once cut a result short, moved its sound or took another track, each
// checked against ffmpeg's own reading of the source, through both engines.
TEST(NoiseJobs, DamageHolesAndTracksAreReadAsTheTranscoderReadsThem) {
  const std::string dir = TempDir();
  const std::string damaged = test::DamagedAac(), damagedVideo = test::VideoWithDamagedSound();
  const std::string hole = test::SoundWithGap(false), holeVideo = test::SoundWithGap(true);
  const struct {
    std::string name, input;
    bool video;
    double seconds;  // of the result's sound: ffmpeg's decode of the source, or where its timestamps end
    bool beep;       // the source's beep stays at its time (within 40 ms)
  } cases[] = {
      {"damaged aac", damaged, false, test::DecodedSeconds(damaged), false},
      {"damaged sound under a picture", damagedVideo, true, test::DecodedSeconds(damagedVideo), false},
      {"a hole in the sound", hole, false, Probe(hole).durationSec, true},
      {"a hole under a picture", holeVideo, true, Probe(holeVideo).durationSec, true},
      {"the default of two tracks (880 Hz)", test::TwoAudioStreams(), false, 4.0, false},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string output = dir + "/" + std::to_string(index++) + (c.video ? ".mkv" : ".mp3");
    const RunResult run = c.video ? RunVideoJob(c.input, output) : RunJob(c.input, output, 0, 2);
    ASSERT_EQ(run.startResult, 0);
    ASSERT_EQ(run.messages.back().As<NoiseDoneRecord>()->result, 0);
    // Matroska keeps no record of the AAC encoder's delay: its 1024 samples play first.
    EXPECT_NEAR(test::DecodedSeconds(output), c.seconds, c.video ? 0.05 + 1024.0 / 44100 : 0.05);
    if (!c.beep) continue;
    const std::vector<double> heard = test::BeepTimes(output), source = test::BeepTimes(c.input);
    ASSERT_EQ(heard.size(), 1u);
    ASSERT_EQ(source.size(), 1u);
    EXPECT_NEAR(heard[0], source[0], 0.04);
  }
  EXPECT_GT(test::BandLevelDb(dir + "/4.mp3", 840, 920, 1, 1), test::BandLevelDb(dir + "/4.mp3", 400, 480, 1, 1) + 30);
}

// A sound on the front pair keeps its level whatever the source's layout: against ffmpeg's own
// down-mix ("-ac 2", in floats) of the same source, cleaned the same way.
TEST(NoiseAudio, EveryLayoutKeepsTheLevelOfTheTranscodersDownMix) {
  const std::string dir = TempDir();
  const std::string bursts = BurstsUnderNoise();
  const auto sourceOf = [&](const std::string& layout) {
    const std::string pan = layout == "mono" ? "pan=mono|c0=c0" : "pan=" + layout + "|FL=c0|FR=c1";
    return MakeMedia("bursts-" + layout + ".wav", {"-i", bursts, "-af", pan, "-c:a", "pcm_f32le"});
  };
  for (const std::string layout : {"mono", "stereo", "quad", "5.1", "7.1"}) {
    SCOPED_TRACE(layout);
    const std::string source = sourceOf(layout);
    // A mono sound is heard alike on both sides, as the stereo one with the same sound on each
    // channel (ffmpeg's own mix would put it 3 dB down on each side).
    const std::string of = layout == "mono" ? "stereo" : layout;
    const std::string mixed = MakeMedia("bursts-" + of + "-ac2.wav", {"-i", sourceOf(of), "-ac", "2", "-c:a", "pcm_f32le"});
    ASSERT_EQ(RunJob(source, dir + "/" + layout + ".mp3", 0, 2).startResult, 0);
    ASSERT_EQ(RunJob(mixed, dir + "/" + layout + "-ac2.mp3", 0, 2).startResult, 0);
    EXPECT_NEAR(MeasureBursts(dir + "/" + layout + ".mp3").toneDb, MeasureBursts(dir + "/" + layout + "-ac2.mp3").toneDb,
                1.0);
  }
}

TEST(NoiseAudio, ProgressOnlyOnChangeAndTheEndOnlyThroughDone) {
  const std::string output = TempDir() + "/progress.mp3";
  const RunResult run = RunJob(test::ToneWav(30), output, 0, 2, 42);
  ASSERT_EQ(run.startResult, 0);
  ASSERT_FALSE(run.messages.empty());
  int last = 0;
  int progressCount = 0;
  for (size_t i = 0; i + 1 < run.messages.size(); ++i) {
    const Message& m = run.messages[i];
    ASSERT_EQ(m.id, WM_NOISE_PROGRESS) << i;
    const auto* record = m.As<NoiseProgressRecord>();
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->itemId, 42);
    EXPECT_GT(record->percent, last) << "repeated or falling percent";
    EXPECT_LT(record->percent, 100);
    last = record->percent;
    ++progressCount;
  }
  EXPECT_GE(progressCount, 20);  // 30 s give a step every 3 %
  EXPECT_GE(last, 90);
  const Message& done = run.messages.back();
  ASSERT_EQ(done.id, WM_NOISE_DONE);
  const auto* record = done.As<NoiseDoneRecord>();
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->itemId, 42);
  EXPECT_EQ(record->audioEngine, 1);
  EXPECT_EQ(record->result, 0);
}

TEST(NoiseAudio, ShortInputCompletesWithoutProgress) {
  const RunResult run = RunJob(test::ToneWav(0.5), TempDir() + "/short.mp3", 0, 2);
  ASSERT_EQ(run.startResult, 0);
  ASSERT_EQ(run.messages.size(), 1u);
  EXPECT_EQ(run.messages[0].id, WM_NOISE_DONE);
}

TEST(NoiseAudio, MeasuresProgressAgainstWholeSeconds) {
  const struct {
    std::string input;
    int64_t seconds;
  } cases[] = {
      {test::ToneWav(10), 10},
      {test::ToneWav(2.9), 2},
      // A raw AAC stream has no length of its own: the estimate from the bit rate counts.
      {MakeMedia("tone-10s.aac", {"-f", "lavfi", "-i", "sine=d=10", "-c:a", "aac"}), 9},
      // Matroska gives the length of the container, not of its streams.
      {MakeMedia("tone-5s.mka", {"-f", "lavfi", "-i", "sine=d=5", "-c:a", "flac"}), 5},
      {MakeMedia("tone-6s.ogg", {"-f", "lavfi", "-i", "sine=d=6", "-c:a", "libvorbis"}), 6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    QueueSink sink;
    NoiseAudio job(&sink, 1);
    ASSERT_EQ(job.Start(c.input, TempDir() + "/t.mp3", 0, 128000, 2), 0);
    EXPECT_EQ(job.TotalSeconds(), c.seconds);
    EXPECT_TRUE(sink.WaitFor(WM_NOISE_DONE).has_value());
  }
}

TEST(NoiseAudio, BadSourcesFailToStartAndLeaveNothing) {
  const std::string dir = TempDir();
  const std::string textFile = dir + "/notes.wav";
  std::ofstream(textFile) << "just some words, no sound at all\n";
  const struct {
    std::string name;
    std::string input;
    std::string output;
  } cases[] = {
      {"missing file", dir + "/nothing-here.wav", dir + "/a.mp3"},
      {"text named mp3", test::TextNamedMp3(), dir + "/b.mp3"},
      {"empty mp3", test::EmptyMp3(), dir + "/c.mp3"},
      {"text named wav", textFile, dir + "/d.mp3"},
      {"video without sound", test::VideoWithoutSound(2), dir + "/e.mp3"},
      {"output folder missing", test::ToneWav(1), dir + "/no/such/folder/f.mp3"},
      {"output container unknown", test::ToneWav(1), dir + "/g.unknownext"},
      {"container refuses the codec", test::ToneWav(1), dir + "/h.ogg"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const RunResult run = RunJob(c.input, c.output, 0, 2);
    EXPECT_EQ(run.startResult, -1);
    EXPECT_TRUE(run.messages.empty());
    EXPECT_FALSE(std::filesystem::exists(c.output));
  }
  EXPECT_TRUE(std::filesystem::exists(textFile));
}

TEST(NoiseAudio, HostileFileNames) {
  const std::string dir = TempDir();
  for (const auto& name : test::HostileNames()) {
    SCOPED_TRACE(name);
    const std::string input = dir + "/" + name;
    std::filesystem::copy_file(test::ToneWav(1), input);
    const std::string output = dir + "/" + name + "-cleaned.mp3";
    const RunResult run = RunJob(input, output, 0, 2);
    ASSERT_EQ(run.startResult, 0);
    EXPECT_NEAR(test::DecodedSeconds(output), 1.0, 0.1);
    EXPECT_TRUE(std::filesystem::exists(input));
  }
  EXPECT_FALSE(std::filesystem::exists("pwned"));
}

TEST(NoiseAudio, DestroyedWhileRunningPostsNothingAndLeavesNothing) {
  QueueSink sink;
  const std::string output = TempDir() + "/abandoned.mp3";
  {
    NoiseAudio job(&sink, 3);
    ASSERT_EQ(job.Start(test::ToneWav(60), output, 0, 128000, 2), 0);
    ASSERT_TRUE(sink.WaitFor(WM_NOISE_PROGRESS, std::chrono::seconds(60)).has_value());
  }
  const auto messages = sink.DrainAfterQuiet(std::chrono::milliseconds(300), std::chrono::seconds(2));
  for (const auto& m : messages) EXPECT_NE(m.id, WM_NOISE_DONE);
  EXPECT_FALSE(std::filesystem::exists(output));
  for (const std::string& name : test::FileNames(std::filesystem::path(output).parent_path().string()))
    EXPECT_FALSE(IsPartialName(name)) << name;
}

// Both engines, audio and video: a job that cannot complete says so and leaves nothing.
TEST(NoiseJobs, AJobThatCannotCompleteReportsFailureAndLeavesNothing) {
  test::SmallDisk disk(64 * 1024), tiny(4096), video(128 * 1024);  // full in the middle or at the header
  // More channels than the sound can be converted from: the first frame fails to convert.
  const std::string manyChannels = MakeMedia(
      "65-channels-1s.wav",
      {"-f", "s16le", "-ar", "8000", "-ac", "65", "-t", "1", "-i", "/dev/zero", "-c:a", "pcm_s16le"});
  const struct {
    std::string name;
    std::string input;
    const test::SmallDisk* folder;  // nullptr: a folder on the ordinary disk
  } cases[] = {
      {"a full disk", test::ToneWav(30), &disk},
      {"a disk full at the header", test::ToneWav(30), &tiny},
      {"a conversion failure", manyChannels, nullptr},
      {"a full disk under a video", test::VideoWithSound(20), &video},
      {"a disk full at a video's header", test::VideoWithSound(20), &tiny},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.folder && !c.folder->Ok()) {
      std::cout << "skipped: " << c.folder->Why() << "\n";
      continue;
    }
    const std::string folder = c.folder ? c.folder->Path() : TempDir();
    const bool isVideo = c.input.find(".mp4") != std::string::npos;
    const RunResult run = isVideo ? RunVideoJob(c.input, folder + "/result.mp4")
                                  : RunJob(c.input, folder + "/result.mp3", 0, 2);
    ASSERT_EQ(run.startResult, 0);
    ASSERT_FALSE(run.messages.empty());
    ASSERT_EQ(run.messages.back().id, WM_NOISE_DONE);
    EXPECT_EQ(run.messages.back().As<NoiseDoneRecord>()->result, -1);
    EXPECT_TRUE(std::filesystem::is_empty(folder));
  }
}

TEST(NoiseJobs, AnIoErrorFailsTheJobAndLeavesTheSourceAlone) {
  using Op = test::FailingDisk::Op;
  // Source and result on a disk that fails: writing the result at its header or half-way,
  // giving it its name, or reading the source half-way.
  const struct {
    test::FailingDisk::Fault fault;
    int error;  // what the job names: the errno of a failed write, 0 for anything else
    bool video;
  } cases[] = {
      {{"the first write", Op::Write, ".part.mp3", 0}, EIO, false},  // the result, as it is written,
      {{"a write half-way", Op::Write, ".part.mp3", 64 * 1024}, EIO, false},
      {{"the rename to the result's name", Op::Rename, "result", 0}, EIO, false},
      {{"a read of the source half-way", Op::Read, "source", 1024 * 1024}, 0, false},
      {{"a video's write half-way", Op::Write, ".part.mp4", 128 * 1024}, EIO, true},
      {{"the rename to a video result's name", Op::Rename, "result", 0}, EIO, true},
      {{"a read of a video source half-way", Op::Read, "source", 512 * 1024}, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault.what);
    test::FailingDisk disk;
    if (!disk.Ok()) GTEST_SKIP() << disk.Why();
    const std::string source = c.video ? test::VideoWithSound(20) : test::ToneWav(30);
    const std::string name = c.video ? "source.mp4" : "source.wav", in = disk.Path() + "/" + name;
    std::filesystem::copy_file(source, disk.Backing() + "/" + name);
    disk.Fail(c.fault);
    const RunResult run = c.video ? RunVideoJob(in, disk.Path() + "/result.mp4")
                                  : RunJob(in, disk.Path() + "/result.mp3", 0, 2);
    EXPECT_GT(disk.Failures(), 0) << "the fault was met";
    ASSERT_EQ(run.startResult, 0);
    ASSERT_EQ(run.messages.back().id, WM_NOISE_DONE);
    const auto* done = run.messages.back().As<NoiseDoneRecord>();
    EXPECT_EQ(done->result, -1);
    EXPECT_EQ(done->error, c.error);
    EXPECT_EQ(done->sourceUnreadable, c.fault.op == Op::Read);
    disk.Heal();
    EXPECT_EQ(test::FileNames(disk.Backing()), std::vector<std::string>{name})
        << "no result, whole or partial";
    EXPECT_EQ(test::ReadBytes(disk.Backing() + "/" + name), test::ReadBytes(source));
  }
}

}  // namespace
}  // namespace tw

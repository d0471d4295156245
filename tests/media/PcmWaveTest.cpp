#include <gtest/gtest.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "app/Messages.h"
#include "media/PcmWave.h"
#include "tests/support/MediaHttpServer.h"
#include "tests/support/Process.h"
#include "tests/support/QueueSink.h"
#include "tests/support/TestMedia.h"

namespace tw {
namespace {

using namespace std::chrono_literals;

struct Loaded {
  int openResult = -1;
  bool done = false;
  std::vector<int32_t> peaks;
  double duration = 0;
  int stride = 0;
  std::vector<Message> messages;
};

// Opens a reader, waits for its end message and collects everything it posted.
Loaded Load(const std::string& path) {
  test::QueueSink sink;
  PcmWave wave(&sink);
  Loaded out;
  out.openResult = wave.Open(path);
  if (out.openResult == 0) {
    const auto hide = sink.WaitFor(WM_LOADING_HIDE, 120s);
    EXPECT_TRUE(hide.has_value()) << "no end message for " << path;
    wave.WaitForExit();
    out.done = wave.Done();
    out.peaks = wave.Peaks();
    out.duration = wave.Duration();
    out.stride = wave.StrideBytes();
  }
  out.messages = sink.DrainAfterQuiet(200ms, 2s);
  return out;
}

// The file's sound as ffmpeg itself converts it: 8000 Hz mono 16-bit.
std::vector<int16_t> DecodeWithFfmpeg(const std::string& path) {
  const std::string raw = test::TempDir() + "/sound.raw";
  EXPECT_EQ(test::RunProcess({"ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-i", path, "-ac", "1",
                              "-ar", "8000", "-f", "s16le", raw}),
            0);
  std::ifstream in(raw, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<int16_t> samples(bytes.size() / 2);
  std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
  return samples;
}

// The values the stride rule takes from n samples: one in every S/2 + 1, the first after S/2.
size_t RuleValueCount(size_t samples, int stride) {
  const size_t skip = static_cast<size_t>(stride / 2), every = skip + 1;
  return samples > skip ? (samples - skip - 1) / every + 1 : 0;
}

TEST(PcmWaveTest, ValueCountsFollowTheStride) {
  struct Case {
    const char* name;
    std::string path;
    double duration;  // what the reader must use
    int stride;       // 2 × ⌊⌊duration × 8000⌋ ÷ 8640⌋, worked out by hand
    std::string sound = {};  // the same sound under a plain name, for ffmpeg
  };
  const std::string halfSecond = test::ToneWav(0.5);
  std::vector<Case> cases = {
      {"0.5 s keeps every sample", halfSecond, 0.5, 0},
      {"180 s", test::ToneMp3(180), 180, 332},
      {"mono 8 kHz", test::ToneWav(2, 440, 8000, 1), 2, 2},
      {"video", test::VideoWithSound(4), 4, 6},
      {"two streams: the default one", test::TwoAudioStreams(), 4, 6},
      {"surround", test::SurroundWav(), 3, 4},
      // The stream has no duration, the container says 3.9 s: 3 whole seconds are used for the
      // stride, so 3.9 s of sound yields about 31200 / 3 values instead of 31200 / 4.
      {"container duration",
       test::MakeMedia("flac-3.9s.mkv", {"-f", "lavfi", "-i", "sine=duration=3.9", "-c:a", "flac"}), 3, 4},
  };
  for (const std::string& name : test::HostileNames())
    cases.push_back({name.c_str(), test::CopyAs(halfSecond, name), 0.5, 0, halfSecond});
  std::map<std::string, size_t> decoded;  // samples of each sound as ffmpeg converts it
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Loaded loaded = Load(c.path);
    ASSERT_EQ(loaded.openResult, 0);
    EXPECT_TRUE(loaded.done);
    EXPECT_NEAR(loaded.duration, c.duration, 0.05);
    EXPECT_EQ(loaded.stride, c.stride);
    const std::string& sound = c.sound.empty() ? c.path : c.sound;
    if (!decoded.count(sound)) decoded[sound] = DecodeWithFfmpeg(sound).size();
    // Resamplers may differ by a few samples at the ends: at most 0.5 % of the values.
    const double wanted = static_cast<double>(RuleValueCount(decoded[sound], c.stride));
    EXPECT_GT(wanted, 1000);
    EXPECT_NEAR(static_cast<double>(loaded.peaks.size()), wanted, wanted * 0.005);
  }
}

// With an 8000 Hz mono 16-bit file nothing is converted, so the values must be exactly the
// file's samples at the stride's positions: 30 s gives S = 2 × ⌊240000 ÷ 8640⌋ = 54, one sample
// in every 28, the first at 27.
TEST(PcmWaveTest, ValuesAreTheFileSamplesAtTheStridePositions) {
  const std::string path =
      test::MakeMedia("noise-8k-mono-30s.wav",
                      {"-f", "lavfi", "-i", "anoisesrc=color=pink:amplitude=0.8:sample_rate=8000:duration=30",
                       "-c:a", "pcm_s16le"});
  const auto samples = DecodeWithFfmpeg(path);
  ASSERT_EQ(samples.size(), 240000u);
  const Loaded loaded = Load(path);
  ASSERT_EQ(loaded.openResult, 0);
  EXPECT_EQ(loaded.stride, 54);
  std::vector<int32_t> wanted;
  for (size_t at = 27; at < samples.size(); at += 28) wanted.push_back(samples[at]);
  EXPECT_EQ(wanted.size(), 8571u);
  EXPECT_EQ(loaded.peaks, wanted);
  bool negative = false;
  for (int32_t v : loaded.peaks) negative |= v < 0;
  EXPECT_TRUE(negative) << "values must be sign-extended";
}

// A file that gives no duration at all (written as a live stream) must not keep every
// 8 kHz sample of its 20 minutes; it is capped like any other file.
TEST(PcmWaveTest, NoDurationStaysBounded) {
  const std::string path = test::MakeMedia(
      "live-20min.mkv", {"-f", "lavfi", "-i", "sine=frequency=300:sample_rate=8000:duration=1200", "-c:a",
                         "flac", "-live", "1"});
  const Loaded loaded = Load(path);
  ASSERT_EQ(loaded.openResult, 0);
  EXPECT_TRUE(loaded.done);
  EXPECT_EQ(loaded.duration, 0);
  EXPECT_EQ(loaded.stride, -1);
  EXPECT_GE(loaded.peaks.size(), 8600u);
  EXPECT_LE(loaded.peaks.size(), 8641u);
  for (const Message& m : loaded.messages) EXPECT_NE(m.id, WM_LOADING_SHOW) << "progress without a duration";
}

TEST(PcmWaveTest, ProgressMessages) {
  test::QueueSink sink;
  PcmWave wave(&sink);
  ASSERT_EQ(wave.Open(test::ToneMp3(180)), 0);
  std::vector<int64_t> percents;
  int hides = 0;
  for (;;) {
    auto m = sink.WaitMatch([](const Message&) { return true; }, 120s);
    ASSERT_TRUE(m.has_value());
    if (m->id == WM_LOADING_HIDE) {
      ++hides;
      EXPECT_TRUE(wave.Done()) << "done is set before the end message";
      EXPECT_EQ(m->param, 0);
      break;
    }
    ASSERT_EQ(m->id, WM_LOADING_SHOW);
    EXPECT_EQ(m->record, nullptr);
    percents.push_back(m->param);
  }
  wave.WaitForExit();
  EXPECT_TRUE(sink.DrainAfterQuiet(200ms, 2s).empty()) << "messages after the end";
  EXPECT_EQ(hides, 1);
  EXPECT_LE(percents.size(), 101u);
  EXPECT_GE(percents.size(), 90u);
  for (size_t i = 0; i < percents.size(); ++i) {
    EXPECT_GE(percents[i], 0);
    EXPECT_LE(percents[i], 100);
    if (i > 0) {
      EXPECT_GT(percents[i], percents[i - 1]) << "repeated or backwards at " << i;
    }
  }
}

TEST(PcmWaveTest, FailuresReturnMinusOneAndPostNothing) {
  struct Case {
    const char* name;
    std::string path;
  };
  const Case cases[] = {
      {"video without sound", test::VideoWithoutSound()},
      {"text named mp3", test::TextNamedMp3()},
      {"empty file", test::EmptyMp3()},
      {"missing file", test::TempDir() + "/missing.wav"},
      {"a folder", test::TempDir()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::QueueSink sink;
    PcmWave wave(&sink);
    EXPECT_EQ(wave.Open(c.path), -1);
    EXPECT_TRUE(wave.Opened());
    EXPECT_FALSE(wave.Done());
    EXPECT_TRUE(wave.Peaks().empty());
    wave.WaitForExit();  // no threads: returns at once
    EXPECT_TRUE(sink.DrainAfterQuiet(300ms, 2s).empty());
    std::vector<int32_t> peaks;
    EXPECT_EQ(ReadWavePeaks(c.path, &peaks), -1);
  }
}

// A second load while the first still decodes: the first reader stops without its end
// message, and from then on only the new reader is heard.
TEST(PcmWaveTest, ReplacingARunningReader) {
  test::QueueSink sink;
  std::unique_ptr<PcmWave> reader;
  // The first file arrives slowly (about 4 s for all of it), so it is surely still decoding
  // when the second load comes.
  test::MediaHttpServer slow(test::ToneWav(5), {.bytesPerSecond = 220000});
  const std::string shortFile = test::ToneWav(0.5);
  ASSERT_EQ(ReplaceWaveReader(reader, &sink, slow.Url("slow.wav")), 0);
  ASSERT_TRUE(sink.WaitFor(WM_LOADING_SHOW, 60s).has_value()) << "the first load never started";
  // Well into the file, with most of it still to come.
  ASSERT_TRUE(test::PollUntil([&] { return slow.BytesSent() > 200000; }, 60s));
  ASSERT_FALSE(reader->Done());
  int pumped = 0;
  ASSERT_EQ(ReplaceWaveReader(reader, &sink, shortFile, [&] { ++pumped; }), 0);
  EXPECT_NE(reader.get(), nullptr);
  ASSERT_TRUE(sink.WaitFor(WM_LOADING_HIDE, 60s).has_value());
  reader->WaitForExit();
  EXPECT_TRUE(reader->Done());
  EXPECT_NEAR(static_cast<double>(reader->Peaks().size()), 3990, 20) << "the values are not the new file's";
  const auto rest = sink.DrainAfterQuiet(300ms, 3s);
  for (const Message& m : rest) EXPECT_NE(m.id, WM_LOADING_HIDE) << "a second end message";

  // Replacing a reader that failed to open, and one that has finished, works the same way.
  ASSERT_EQ(ReplaceWaveReader(reader, &sink, test::VideoWithoutSound()), -1);
  ASSERT_EQ(ReplaceWaveReader(reader, &sink, shortFile), 0);
  EXPECT_TRUE(sink.WaitFor(WM_LOADING_HIDE, 60s).has_value());
}

// Dropping a reader at any moment of its work (the view going away) ends its threads and
// frees everything without a message afterwards.
TEST(PcmWaveTest, AbortAtAnyMoment) {
  // A source that takes seconds to arrive, so the reader is surely busy at every moment
  // tried; Abort must also cut a network read short.
  test::MediaHttpServer slow(test::ToneWav(5), {.bytesPerSecond = 220000});
  // The moments: at once, and once so many more bytes of the file have gone out.
  for (const size_t bytes : {0, 1, 50000, 300000}) {
    SCOPED_TRACE(bytes);
    test::QueueSink sink;
    {
      const size_t before = slow.BytesSent();
      PcmWave wave(&sink);
      ASSERT_EQ(wave.Open(slow.Url("slow.wav")), 0);
      ASSERT_TRUE(test::PollUntil([&] { return slow.BytesSent() >= before + bytes; }, 30s));
      wave.Abort();
      wave.WakeReader();
      wave.WaitForExit();
      EXPECT_TRUE(wave.ReadThreadExited());
      EXPECT_TRUE(wave.DecodeThreadExited());
      EXPECT_FALSE(wave.Done());
      sink.Drain();
    }
    EXPECT_TRUE(sink.DrainAfterQuiet(200ms, 2s).empty());
  }
  // Destroyed while running, without Abort.
  test::QueueSink sink;
  auto wave = std::make_unique<PcmWave>(&sink);
  ASSERT_EQ(wave->Open(test::ToneMp3(180)), 0);
  wave.reset();
  sink.Drain();
  EXPECT_TRUE(sink.DrainAfterQuiet(200ms, 2s).empty());
}

TEST(PcmWaveTest, ReadWavePeaksMatchesTheReader) {
  const std::string path = test::ToneMp3(20);
  std::vector<int32_t> peaks;
  double duration = 0;
  ASSERT_EQ(ReadWavePeaks(path, &peaks, nullptr, &duration), 0);
  EXPECT_NEAR(duration, 20, 0.1);
  const Loaded loaded = Load(path);
  EXPECT_EQ(peaks, loaded.peaks);
}

// What follows a hole in the sound's timestamps is drawn at its time, as ffmpeg plays it.
TEST(PcmWaveTest, AHoleInTheSoundKeepsWhatFollowsAtItsTime) {
  const std::string hole = test::SoundWithGap(false);
  std::vector<int32_t> peaks;
  WaveEnvelope envelope;
  ASSERT_EQ(ReadWavePeaks(hole, &peaks, nullptr, nullptr, {}, &envelope), 0);
  size_t k = 0;
  while (k < envelope.Size() && envelope.maxs[k] < 8000) ++k;
  ASSERT_LT(k, envelope.Size());
  const std::vector<double> beeps = test::BeepTimes(hole);
  ASSERT_EQ(beeps.size(), 1u);
  EXPECT_NEAR(envelope.startSec + static_cast<double>(k) * envelope.SecondsPerBucket(), beeps[0], 0.04);
}

// Music-like sound: two detuned chords, a slow swell and noise bursts on the beat.
std::string MusicMp3(int seconds) {
  return test::MakeMedia("music-" + std::to_string(seconds) + "s.mp3",
                         {"-f", "lavfi", "-i",
                          "aevalsrc='0.35*sin(2*PI*220*t)*(0.6+0.4*sin(2*PI*0.5*t))+0.15*sin(2*PI*440*t+sin("
                          "2*PI*3*t))+0.3*(random(0)-0.5)*"
                          "exp(-8*mod(t,0.5))|0.3*sin(2*PI*221*t)+0.2*sin(2*PI*554*t)+0.3*(random(1)-0.5)*"
                          "exp(-8*mod(t+0.25,0.5))':s=44100:d=" +
                              std::to_string(seconds),
                          "-c:a", "libmp3lame", "-b:a", "192k"});
}

std::string SpeechWav() {
  return test::MakeMedia("speech.wav",
                         {"-f", "lavfi", "-i",
                          "flite=text='Cut here, then there. One, two, three. A quiet pause, and "
                          "then some louder words again.':voice=slt",
                          "-ar", "22050"});
}

struct Read {
  int parts = 0;
  std::vector<int32_t> peaks;
  WaveEnvelope envelope;
};

Read ReadWith(const std::string& path, WaveReadOptions options) {
  PcmWave wave(nullptr, options);
  Read out;
  EXPECT_EQ(wave.Open(path), 0) << path;
  wave.Join();
  EXPECT_TRUE(wave.Done());
  out.parts = wave.Parts();
  out.peaks = wave.Peaks();
  out.envelope = wave.Envelope();
  return out;
}

// A long file read as two halves at once gives the values of one reading; halves are used only
// where they can help: two cores, a file that can seek, a minute of sound or more.
TEST(PcmWaveTest, TwoHalvesGiveTheValuesOfOneReading) {
  if (UsableCores() < 2) GTEST_SKIP() << "one core: halves are never used";
  struct Case {
    const char* name;
    std::string path;
    int parts;
  };
  const Case cases[] = {
      {"mp3", MusicMp3(150), 2},
      {"48 kHz wav",
       test::MakeMedia(
           "noise-48k-100s.wav",
           {"-f", "lavfi", "-i", "anoisesrc=color=pink:amplitude=0.5:sample_rate=48000:duration=100", "-ac",
            "2", "-c:a", "pcm_s16le"}),
       2},
      {"half a minute", test::ToneMp3(30), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Read one = ReadWith(c.path, {.maxParts = 1});
    const Read two = ReadWith(c.path, {.maxParts = 2});
    EXPECT_EQ(one.parts, 1);
    EXPECT_EQ(two.parts, c.parts);
    EXPECT_EQ(two.peaks, one.peaks);
    EXPECT_EQ(two.envelope.mins, one.envelope.mins);
    EXPECT_EQ(two.envelope.maxs, one.envelope.maxs);
    EXPECT_DOUBLE_EQ(two.envelope.startSec, one.envelope.startSec);
    EXPECT_DOUBLE_EQ(two.envelope.samplesPerBucket, one.envelope.samplesPerBucket);
  }
  // A source that cannot seek, and a process kept to one core, are read in one part.
  test::MediaHttpServer server(MusicMp3(150));
  EXPECT_EQ(ReadWith(server.Url("music.mp3"), {}).parts, 1);
  cpu_set_t all, one;
  ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
  CPU_ZERO(&one);
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (!CPU_ISSET(cpu, &all)) continue;
    CPU_SET(cpu, &one);
    break;
  }
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  const Read pinned = ReadWith(MusicMp3(150), {});
  sched_setaffinity(0, sizeof all, &all);
  EXPECT_EQ(pinned.parts, 1);
  EXPECT_EQ(pinned.peaks, ReadWith(MusicMp3(150), {.maxParts = 1}).peaks);
}

// While its source is slow the reader sleeps instead of asking an empty queue again and again:
// a load that takes seconds costs a small part of them on the processor.
TEST(PcmWaveTest, ASlowSourceIsWaitedForWithoutSpinning) {
  test::MediaHttpServer slow(test::ToneWav(5), {.bytesPerSecond = 300000});  // about 3 s
  timespec cpu0{}, cpu1{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu0);
  const auto wall0 = std::chrono::steady_clock::now();
  const Loaded loaded = Load(slow.Url("slow.wav"));
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu1);
  const double cpu = (cpu1.tv_sec - cpu0.tv_sec) + (cpu1.tv_nsec - cpu0.tv_nsec) / 1e9;
  ASSERT_TRUE(loaded.done);
  EXPECT_GT(wall, 1.5) << "the source was not slow";
  EXPECT_LT(cpu, 0.25 * wall) << "cpu " << cpu << " s in " << wall << " s";
}

// The drawn extremes stay within a pixel of the tallest view a maximised window gives (a band of
// 2160 px on a 4K screen: 30 sample units a pixel) of the sound as the ffmpeg program converts it
// with its default filter, on music and speech. A filter of 8 taps does not.
TEST(PcmWaveTest, TheDrawnExtremesAreThoseOfTheDefaultConversion) {
  constexpr double kUnitsPerPixel = 32768.0 / 1080;
  const auto worstPixels = [](const WaveEnvelope& envelope, const std::vector<int16_t>& samples) {
    int worst = 0;
    // The last bucket may hold the filter's tail, which the two conversions end differently.
    for (size_t k = 0; k + 1 < envelope.Size(); ++k) {
      // The program's output begins with the file's first sound, where the envelope begins.
      const auto first = static_cast<size_t>(k * envelope.samplesPerBucket);
      const auto last = static_cast<size_t>((k + 1) * envelope.samplesPerBucket);
      if (last > samples.size() || first >= last) break;
      const auto [lo, hi] = std::minmax_element(samples.begin() + first, samples.begin() + last);
      worst = std::max({worst, std::abs(envelope.mins[k] - *lo), std::abs(envelope.maxs[k] - *hi)});
    }
    return worst / kUnitsPerPixel;
  };
  for (const std::string& path : {MusicMp3(30), SpeechWav()}) {
    SCOPED_TRACE(path);
    const std::vector<int16_t> samples = DecodeWithFfmpeg(path);
    const Read read = ReadWith(path, {.maxParts = 1});
    ASSERT_GT(read.envelope.Size(), 1000u);
    EXPECT_LT(worstPixels(read.envelope, samples), 1.0);
    const Read shortFilter = ReadWith(path, {.maxParts = 1, .filterSize = 8});
    EXPECT_GE(worstPixels(shortFilter.envelope, samples), 1.0) << "the cheaper 8-tap filter would do";
  }
}

}  // namespace
}  // namespace tw

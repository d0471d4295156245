#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/Messages.h"
#include "media/NoiseConvert.h"
#include "media/NoiseRecords.h"
#include "tasks/ResultFile.h"
#include "tests/support/QueueSink.h"
#include "tests/support/TestMedia.h"

extern "C" {
#include <libavutil/display.h>
}

namespace tw {
namespace {

using test::MakeMedia;
using test::MeasureLevel;
using test::Probe;
using test::QueueSink;
using test::TempDir;

struct RunResult {
  int startResult = -1;
  int64_t totalFrames = 0;
  std::string options;
  std::vector<Message> messages;
};

// copy: the picture is copied where it can be (as the page runs it); otherwise encoded again.
RunResult RunJob(const std::string& input, const std::string& output, int selector = 0, int itemId = 9,
                 bool copy = true) {
  SCOPED_TRACE(input);
  QueueSink sink;
  RunResult result;
  NoiseConvert job(&sink, itemId, output);
  job.SetPictureCopy(copy);
  result.startResult = job.Start(input, selector, 1280, 720, 2, 44100, 128000, 2);
  result.totalFrames = job.TotalFrames();
  result.options = job.VideoOptions();
  result.messages = result.startResult == 0
                        ? sink.DrainThrough(WM_NOISE_DONE, std::chrono::seconds(300))
                        : sink.DrainAfterQuiet(std::chrono::milliseconds(300), std::chrono::seconds(2));
  return result;
}

// A phone-style video: the sound video remuxed into MP4 with a display matrix that turns
// the picture by 90 degrees.
std::string RotatedVideo() {
  const std::string path = test::MediaDir() + "/rotated-90.mp4";
  if (std::filesystem::exists(path)) return path;
  const std::string source = test::VideoWithSound(3);
  const std::string partial = path + ".partial-" + std::to_string(getpid()) + ".mp4";
  FormatInputPtr in = OpenInput(source);
  EXPECT_TRUE(in);
  if (!in) return path;
  avformat_find_stream_info(in.get(), nullptr);
  AVFormatContext* raw = nullptr;
  avformat_alloc_output_context2(&raw, nullptr, "mp4", partial.c_str());
  FormatOutputPtr out(raw);
  for (unsigned i = 0; i < in->nb_streams; ++i) {
    AVStream* s = avformat_new_stream(out.get(), nullptr);
    avcodec_parameters_copy(s->codecpar, in->streams[i]->codecpar);
    s->codecpar->codec_tag = 0;
    s->time_base = in->streams[i]->time_base;
    if (in->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
      auto* matrix = reinterpret_cast<int32_t*>(av_stream_new_side_data(s, AV_PKT_DATA_DISPLAYMATRIX, 9 * 4));
      av_display_rotation_set(matrix, 90);
    }
  }
  EXPECT_GE(avio_open(&out->pb, partial.c_str(), AVIO_FLAG_WRITE), 0);
  EXPECT_GE(avformat_write_header(out.get(), nullptr), 0);
  PacketPtr packet = MakePacket();
  while (av_read_frame(in.get(), packet.get()) >= 0) {
    av_packet_rescale_ts(packet.get(), in->streams[packet->stream_index]->time_base,
                         out->streams[packet->stream_index]->time_base);
    av_interleaved_write_frame(out.get(), packet.get());
  }
  av_write_trailer(out.get());
  out.reset();
  std::filesystem::rename(partial, path);
  return path;
}

// A badly interleaved file: every sound packet of a 12 s video first, then every picture,
// so the decoder meets 12 s of sound (more than its FIFO holds) before the first picture.
std::string SoundFirstVideo() {
  const std::string path = test::MediaDir() + "/sound-first-12s.mkv";
  if (std::filesystem::exists(path)) return path;
  const std::string partial = path + ".partial-" + std::to_string(getpid()) + ".mkv";
  FormatInputPtr in = OpenInput(test::VideoWithSound(12));
  EXPECT_TRUE(in);
  if (!in) return path;
  avformat_find_stream_info(in.get(), nullptr);
  AVFormatContext* raw = nullptr;
  avformat_alloc_output_context2(&raw, nullptr, "matroska", partial.c_str());
  FormatOutputPtr out(raw);
  for (unsigned i = 0; i < in->nb_streams; ++i) {
    AVStream* s = avformat_new_stream(out.get(), nullptr);
    avcodec_parameters_copy(s->codecpar, in->streams[i]->codecpar);
    s->codecpar->codec_tag = 0;
  }
  EXPECT_GE(avio_open(&out->pb, partial.c_str(), AVIO_FLAG_WRITE), 0);
  EXPECT_GE(avformat_write_header(out.get(), nullptr), 0);
  std::vector<PacketPtr> later;
  PacketPtr packet = MakePacket();
  while (av_read_frame(in.get(), packet.get()) >= 0) {
    av_packet_rescale_ts(packet.get(), in->streams[packet->stream_index]->time_base,
                         out->streams[packet->stream_index]->time_base);
    if (in->streams[packet->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
      later.push_back(std::move(packet));
      packet = MakePacket();
    } else {
      av_write_frame(out.get(), packet.get());
    }
  }
  for (auto& p : later) av_write_frame(out.get(), p.get());
  av_write_trailer(out.get());
  out.reset();
  std::filesystem::rename(partial, path);
  return path;
}

// Whether the file holds text (x264 writes its settings into the stream as text).
bool FileContains(const std::string& path, const std::string& text) {
  std::ifstream in(path, std::ios::binary);
  const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return data.find(text) != std::string::npos;
}

TEST(NoiseConvert, SixtySecondsAtTwentyFiveFramesReportAgainst1500) {
  const std::string input = test::VideoWithSound(60);
  const std::string output = TempDir() + "/long.mp4";
  const RunResult run = RunJob(input, output, 0, 77, false);
  ASSERT_EQ(run.startResult, 0);
  EXPECT_EQ(run.totalFrames, 1500);
  ASSERT_FALSE(run.messages.empty());
  int last = 0;
  for (size_t i = 0; i + 1 < run.messages.size(); ++i) {
    ASSERT_EQ(run.messages[i].id, WM_NOISE_PROGRESS);
    const auto* record = run.messages[i].As<NoiseProgressRecord>();
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->itemId, 77);
    EXPECT_GT(record->percent, last);
    EXPECT_LT(record->percent, 100);
    last = record->percent;
  }
  EXPECT_EQ(run.messages.size(), 100u);  // 1..99 by 15 pictures each, then the end
  const auto* done = run.messages.back().As<NoiseDoneRecord>();
  ASSERT_NE(done, nullptr);
  EXPECT_EQ(run.messages.back().id, WM_NOISE_DONE);
  EXPECT_EQ(done->itemId, 77);
  EXPECT_EQ(done->audioEngine, 0);
  EXPECT_EQ(done->result, 0);

  const auto info = Probe(output);
  ASSERT_TRUE(info.ok);
  ASSERT_EQ(info.CountType("video"), 1);
  ASSERT_EQ(info.CountType("audio"), 1);
  EXPECT_EQ(info.First("video")->codecName, "h264");
  EXPECT_EQ(info.First("video")->width, 320);
  EXPECT_EQ(info.First("video")->height, 240);
  EXPECT_EQ(info.First("video")->frameRate, "25/1");
  EXPECT_EQ(info.First("audio")->codecName, "aac");
  EXPECT_EQ(info.First("audio")->channels, 2);
  EXPECT_EQ(info.First("audio")->sampleRate, 44100);
  EXPECT_NEAR(info.durationSec, 60, 0.1);
}

TEST(NoiseConvert, QualitySelectorChoosesTheRateFactor) {
  const std::string input = test::VideoWithSound(1);
  const struct {
    int selector;
    const char* crf;
  } cases[] = {{0, "23"}, {1, "34"}, {2, "38"}, {7, "23"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.selector);
    const std::string output = TempDir() + "/q.mp4";
    const RunResult run = RunJob(input, output, c.selector, 9, false);
    ASSERT_EQ(run.startResult, 0);
    EXPECT_EQ(run.options, std::string("preset=ultrafast tune=zerolatency profile=main crf=") + c.crf);
    EXPECT_TRUE(FileContains(output, std::string("crf=") + c.crf + ".0"))
        << "the encoder did not get the option";
  }
}

TEST(NoiseConvert, KeepsTheRotation) {
  const std::string input = RotatedVideo();
  const auto source = Probe(input);
  ASSERT_TRUE(source.ok);
  ASSERT_FALSE(source.First("video")->rotate.empty()) << "the sample has no rotation";
  const std::string output = TempDir() + "/turned.mp4";
  ASSERT_EQ(RunJob(input, output).startResult, 0);
  const auto info = Probe(output);
  ASSERT_TRUE(info.ok);
  EXPECT_EQ(info.First("video")->rotate, source.First("video")->rotate);
}

TEST(NoiseConvert, ContainersAndSingleStreamSources) {
  const std::string dir = TempDir();
  const std::string audioOnlyMp4 =
      MakeMedia("sound-only.mp4", {"-f", "lavfi", "-i", "sine=d=3:sample_rate=48000", "-c:a", "aac"});
  const struct {
    std::string name;
    std::string input;
    std::string extension;
    int videos, audios;
    double seconds;
  } cases[] = {
      {"mp4", test::VideoWithSound(3), "mp4", 1, 1, 3},
      {"mkv", test::VideoWithSound(3), "mkv", 1, 1, 3},
      {"mov", test::VideoWithSound(3), "mov", 1, 1, 3},
      {"flv", test::VideoWithSound(3), "flv", 1, 1, 3},
      {"avi", test::VideoWithSound(3), "avi", 1, 1, 3},
      {"video without sound", test::VideoWithoutSound(3), "mp4", 1, 0, 3},
      {"sound without video", audioOnlyMp4, "mp4", 0, 1, 3},
      {"two sound streams", test::TwoAudioStreams(), "mkv", 0, 1, 4},
      {"odd picture size", test::OddSizeVideo(), "mp4", 1, 1, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string output = dir + "/" + c.name + "." + c.extension;
    const RunResult run = RunJob(c.input, output);
    ASSERT_EQ(run.startResult, 0);
    ASSERT_EQ(run.messages.back().id, WM_NOISE_DONE);
    const auto info = Probe(output);
    ASSERT_TRUE(info.ok);
    EXPECT_EQ(info.CountType("video"), c.videos);
    EXPECT_EQ(info.CountType("audio"), c.audios);
    if (c.audios) {
      EXPECT_EQ(info.First("audio")->codecName, "aac");
    }
    // The pictures keep their rate, in frame-counting AVI too.
    if (c.videos) {
      EXPECT_EQ(info.First("video")->frameRate, "25/1");
    }
    EXPECT_NEAR(info.durationSec, c.seconds, 0.15);
  }
}

TEST(NoiseConvert, SoundFarAheadOfThePictureStillCompletes) {
  const std::string output = TempDir() + "/apart.mp4";
  const RunResult run = RunJob(SoundFirstVideo(), output);
  ASSERT_EQ(run.startResult, 0);
  ASSERT_EQ(run.messages.back().id, WM_NOISE_DONE);
  const auto info = Probe(output);
  ASSERT_TRUE(info.ok);
  EXPECT_EQ(info.CountType("video"), 1);
  EXPECT_EQ(info.CountType("audio"), 1);
  EXPECT_NEAR(info.durationSec, 12, 0.15);
}

TEST(NoiseConvert, CleansTheSound) {
  // The picture of the test video with a voice-like tone in the even seconds under noise.
  const std::string input =
      MakeMedia("video-noisy-sound-10s.mp4", {"-f",
                                              "lavfi",
                                              "-i",
                                              "testsrc=size=320x240:rate=25:duration=10",
                                              "-f",
                                              "lavfi",
                                              "-i",
                                              "aevalsrc=exprs='0.4*sin(2*PI*(440*t+30*sin(2*PI*3*t)))*lt(mod("
                                              "t\\,2)\\,1)+0.06*(2*random(0)-1)':s=44100:d=10",
                                              "-c:v",
                                              "libx264",
                                              "-preset",
                                              "ultrafast",
                                              "-pix_fmt",
                                              "yuv420p",
                                              "-c:a",
                                              "aac",
                                              "-b:a",
                                              "192k",
                                              "-ac",
                                              "2"});
  const std::string output = TempDir() + "/clean.mp4";
  ASSERT_EQ(RunJob(input, output).startResult, 0);
  for (double pause : {3.2, 5.2, 7.2}) {
    EXPECT_LE(MeasureLevel(output, pause, 0.6).meanDb, MeasureLevel(input, pause, 0.6).meanDb - 10) << pause;
    EXPECT_NEAR(MeasureLevel(output, pause - 0.8, 0.6).meanDb, MeasureLevel(input, pause - 0.8, 0.6).meanDb,
                3)
        << pause;
  }
}

TEST(NoiseConvert, SourcesThatCannotStart) {
  const std::string dir = TempDir();
  // AVI with a picture stream of an unknown four-character code: the container opens, but
  // no decoder exists for the picture.
  const std::string unknownCodec =
      MakeMedia("unknown-video-codec.avi",
                {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=1", "-f", "lavfi", "-i",
                 "sine=d=1", "-c:v", "mpeg4", "-tag:v", "ABCD", "-strict", "-2", "-c:a", "pcm_s16le"});
  const struct {
    std::string name;
    std::string input;
    std::string output;
  } cases[] = {
      {"video decoder missing", unknownCodec, dir + "/a.mp4"},
      {"missing file", dir + "/none.mp4", dir + "/b.mp4"},
      {"text named mp3", test::TextNamedMp3(), dir + "/c.mp4"},
      {"empty file", test::EmptyMp3(), dir + "/d.mp4"},
      {"output folder missing", test::VideoWithSound(1), dir + "/gone/e.mp4"},
      {"output container unknown", test::VideoWithSound(1), dir + "/f.notacontainer"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::internal::CaptureStderr();
    const RunResult run = RunJob(c.input, c.output);
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(run.startResult, -1);
    EXPECT_TRUE(run.messages.empty());
    EXPECT_FALSE(std::filesystem::exists(c.output));
    if (c.name == "video decoder missing") {
      EXPECT_NE(printed.find("Failed to find video decoder\n"), std::string::npos) << printed;
    }
  }
}

TEST(NoiseConvert, HostileNameAndDestructionWhileRunning) {
  for (const std::string& name : test::HostileNames()) {
    SCOPED_TRACE(name);
    const std::string input = test::CopyAs(test::VideoWithSound(1), name);
    const std::string output = input + "-out.mp4";
    ASSERT_EQ(RunJob(input, output).startResult, 0);
    EXPECT_TRUE(Probe(output).ok);
  }
  const std::string dir = TempDir();

  // Ended half-way, as when the window closes: nothing is left under either name.
  QueueSink sink;
  const std::string partial = dir + "/abandoned.mp4";
  {
    NoiseConvert job(&sink, 5, partial);
    ASSERT_EQ(job.Start(test::VideoWithSound(60), 0, 1280, 720, 2, 44100, 128000, 2), 0);
    ASSERT_TRUE(sink.WaitFor(WM_NOISE_PROGRESS, std::chrono::seconds(60)).has_value());
  }
  for (const auto& m : sink.DrainAfterQuiet(std::chrono::milliseconds(300), std::chrono::seconds(2))) {
    EXPECT_NE(m.id, WM_NOISE_DONE);
  }
  EXPECT_FALSE(std::filesystem::exists(partial));
  for (const std::string& name : test::FileNames(std::filesystem::path(partial).parent_path().string()))
    EXPECT_FALSE(IsPartialName(name)) << name;
}

TEST(NoiseConvert, CopiesThePictureAndKeepsTheCoverAndTags) {
  const std::string source = test::TaggedVideoWithCover();
  const std::string output = TempDir() + "/copied.mp4";
  ASSERT_EQ(RunJob(source, output).startResult, 0);
  // The same packets: nothing was decoded or encoded again.
  const std::vector<std::string> picture = test::PacketHashes(source, "v:0");
  ASSERT_FALSE(picture.empty());
  EXPECT_EQ(test::PacketHashes(output, "v:0"), picture);
  EXPECT_EQ(Probe(output).First("video")->codecName, "h264");
  EXPECT_EQ(test::CoverCount(output), 1);
  EXPECT_EQ(test::PacketHashes(output, "v:1"), test::PacketHashes(source, "v:1"));
  const auto tags = test::Tags(output);
  EXPECT_EQ(tags.count("title") ? tags.at("title") : "", test::kSampleTitle);
  EXPECT_EQ(tags.count("artist") ? tags.at("artist") : "", test::kSampleArtist);
  EXPECT_NEAR(Probe(output).durationSec, 3, 0.1);

  // A container that cannot hold the picture's codec gets it encoded again.
  const std::string hevc =
      MakeMedia("video-hevc-2s.mp4", {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=2", "-f",
                                      "lavfi", "-i", "sine=d=2", "-c:v", "libx265", "-preset", "ultrafast",
                                      "-pix_fmt", "yuv420p", "-c:a", "aac"});
  const std::string flv = TempDir() + "/encoded.flv";
  const RunResult run = RunJob(hevc, flv, 1);
  ASSERT_EQ(run.startResult, 0);
  EXPECT_EQ(run.options, "preset=ultrafast tune=zerolatency profile=main crf=34");
  EXPECT_EQ(Probe(flv).First("video")->codecName, "h264");
  EXPECT_NEAR(Probe(flv).durationSec, 2, 0.15);
}

// A picture whose frame rate changes half-way: every flash stays with its beep in the result
// (within a frame's worth at 25 fps), copied or encoded again, and the result is as long as
// the source.
TEST(NoiseConvert, AVariableFrameRateKeepsTheSoundInStep) {
  const std::string input = test::VariableFrameRateVideo();
  const std::vector<double> sourceFlashes = test::FlashTimes(input);
  ASSERT_EQ(sourceFlashes.size(), 2u) << "the sample is not as meant";
  ASSERT_EQ(test::BeepTimes(input).size(), 2u) << "the sample is not as meant";
  for (const bool copy : {true, false}) {
    SCOPED_TRACE(copy ? "picture copied" : "picture encoded");
    const std::string output = TempDir() + "/vfr.mp4";
    const RunResult run = RunJob(input, output, 0, 9, copy);
    ASSERT_EQ(run.startResult, 0);
    const std::vector<double> flashes = test::FlashTimes(output);
    const std::vector<double> beeps = test::BeepTimes(output);
    ASSERT_EQ(flashes.size(), 2u);
    ASSERT_EQ(beeps.size(), 2u);
    for (size_t i = 0; i < flashes.size(); ++i) {
      EXPECT_NEAR(flashes[i], beeps[i], 0.040) << "flash " << i;
      EXPECT_NEAR(flashes[i], sourceFlashes[i], 0.1) << "flash " << i;
    }
    EXPECT_NEAR(Probe(output).durationSec, Probe(input).durationSec, 0.15);
  }
}

}  // namespace
}  // namespace tw

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <future>
#include <limits>
#include <memory>
#include <thread>

#include "app/MediaHelpers.h"
#include "tests/support/TestMedia.h"

namespace tw {
namespace {

TEST(MediaHelpers, FormatFileSizeTable) {
  const struct {
    long long size;
    const char* text;
  } cases[] = {{0, "0B"},          {1023, "1023B"},         {1024, "1KB"},        {1048575, "1023KB"},
               {1048576, "1.00M"}, {1073741823, "1024.00M"}, {1073741824, "1.00G"}, {1610612736, "1.50G"},
               {-5, "-5B"}};
  for (const auto& c : cases) EXPECT_EQ(FormatFileSize(c.size), c.text) << c.size;
}

TEST(MediaHelpers, DurationAndTimeTexts) {
  EXPECT_EQ(FormatDuration(3725.9), "01:02:05");
  EXPECT_EQ(FormatDuration(59.99), "00:00:59");
  EXPECT_EQ(FormatDuration(0), "00:00:00");
  EXPECT_EQ(FormatTimeText(3723.04 + 1e-9), "01:02:03.04");
  EXPECT_EQ(FormatTimeText(1.5), "00:00:01.50");
  EXPECT_EQ(FormatTimeText(13.62), "00:00:13.62");
  EXPECT_EQ(FormatTimeText(0.01 + 0.01 + 0.01 + 0.01 + 0.01 + 0.01 + 0.01), "00:00:00.07");
  EXPECT_EQ(FormatTimeText(2.999), "00:00:02.99");  // still cut, not rounded
  EXPECT_EQ(FormatTimeText(0.005 - 0.01), "00:00:00.00");
  // A file may claim any duration: what cannot be a time shows as nothing, what is beyond any
  // real file as the largest time (no sign, no undefined conversion).
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(FormatDuration(nan), "00:00:00");
  EXPECT_EQ(FormatTimeText(nan), "00:00:00.00");
  for (double huge : {inf, 1e300, 9.3e18}) {
    EXPECT_EQ(FormatDuration(huge).find('-'), std::string::npos) << huge;
    EXPECT_EQ(FormatDuration(huge), FormatDuration(2 * huge)) << huge;
    EXPECT_EQ(FormatTimeText(huge), FormatTimeText(2 * huge)) << huge;
    EXPECT_EQ(FormatTimeText(-huge).find("--"), std::string::npos) << huge;
  }
  // Every typed time reads back as typed, as the cut command passes it on.
  for (int centis = 0; centis < 2 * 3600 * 100; centis += 7) {
    const double t = centis / 3600 / 100 * 3600 + (centis / 100 % 3600) + (centis % 100) / 100.0;
    const std::string text = FormatTimeText(t);
    ASSERT_EQ(FormatTimeText(ParseTimeText(text)), text) << centis;
    ASSERT_EQ(static_cast<int>(text[9] - '0') * 10 + (text[10] - '0'), centis % 100) << text;
  }
  for (const char* typed : {"9999:02:03.05", "123456:59:59.99", "99999999:00:00.01"})
    EXPECT_EQ(FormatTimeText(ParseTimeText(typed)), typed);
}

TEST(MediaHelpers, TimeTextValidationAndParsing) {
  const struct {
    const char* text;
    bool valid;
    double seconds;
  } cases[] = {
      {"00:01:02.03", true, 62.03}, {"0:1:2.3", true, 62.03},   {"00:60:00.00", false, 0},
      {"00:00:60.00", false, 0},    {"00:00:00.100", false, 0}, {"00:01:02", false, 0},
      {"00::01:02.03", true, 62.03}, {"01:02:03.04", true, 3723.04}, {"1:2", false, 0},
      {"", false, 0},               {"a:00:01.00", false, 0},   {"00:00:01.5", true, 1.05},
      {"00:00:01.50.7", false, 1.5}, {"-1:00:00.00", false, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsTimeText(c.text), c.valid) << c.text;
    EXPECT_NEAR(ParseTimeText(c.text), c.seconds, 1e-9) << c.text;
  }
  EXPECT_TRUE(IsDigits(""));
  EXPECT_TRUE(IsDigits("0123"));
  EXPECT_FALSE(IsDigits("1a"));
}

TEST(MediaHelpers, VideoExtensionsAndSplitting) {
  for (const char* ext : {"MP4", "Mkv", "ts", "m3u8", "mxf", "rmvb"}) EXPECT_TRUE(IsVideoExtension(ext)) << ext;
  for (const char* ext : {"mp3", "wav", "", "mp4a", ".mp4"}) EXPECT_FALSE(IsVideoExtension(ext)) << ext;

  using V = std::vector<std::string>;
  EXPECT_EQ(SplitText("a::b:", ":"), (V{"a", "b"}));
  EXPECT_EQ(SplitText("", ":"), V{});
  EXPECT_EQ(SplitText(":::", ":"), V{});
  EXPECT_EQ(SplitText("1.2:3", ":."), (V{"1", "2", "3"}));

  const std::string q = MakeTimestampQuery();
  ASSERT_EQ(q.rfind("?timestamp=", 0), 0u);
  EXPECT_TRUE(IsDigits(q.substr(11)));
  EXPECT_GE(q.size(), 11u + 13u);
}

// Probes on a thread of the test's own, so that a probe that never returns fails the test
// instead of hanging it.
double ProbeWithin(const std::string& path, std::chrono::seconds limit) {
  auto result = std::make_shared<std::promise<double>>();
  std::future<double> answer = result->get_future();
  std::thread([result, path] { result->set_value(ProbeDuration(path)); }).detach();
  if (answer.wait_for(limit) != std::future_status::ready) {
    ADD_FAILURE() << "the probe of " << path << " did not return";
    return -2;
  }
  return answer.get();
}

TEST(MediaHelpers, ProbeDurationOnRealFiles) {
  EXPECT_NEAR(ProbeDuration(test::ToneWav(5)), 5.0, 0.05);
  EXPECT_NEAR(ProbeDuration(test::ToneMp3(5)), 5.0, 0.1);
  EXPECT_NEAR(ProbeDuration(test::VideoWithSound(5)), 5.0, 0.1);
  EXPECT_NEAR(ProbeDuration(test::Mp3WithCover()), 4.0, 0.2);
  EXPECT_EQ(ProbeDuration(test::TextNamedMp3()), -1);
  EXPECT_EQ(ProbeDuration(test::EmptyMp3()), -1);
  EXPECT_EQ(ProbeDuration(test::MediaDir() + "/no-such-file.wav"), -1);
  // Names that read like a protocol are files like any other.
  const std::string dir = test::TempDir();
  std::filesystem::copy_file(test::ToneWav(1), dir + "/pipe:0");
  EXPECT_NEAR(ProbeDuration(dir + "/pipe:0"), 1.0, 0.05);
}

TEST(MediaHelpers, ProbeNeverWaitsForever) {
  // A named pipe nobody writes into would block its reader for good: it is no media file.
  const std::string fifo = test::TempDir() + "/song.mp3";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(ProbeWithin(fifo, std::chrono::seconds(15)), -1);
  EXPECT_EQ(ProbeWithin("/dev/zero", std::chrono::seconds(15)), -1);
  // A probe that outlives its deadline gives what an unreadable file gives.
  const MediaProbe late = ProbeMedia(test::ToneWav(5), std::chrono::milliseconds(0));
  EXPECT_EQ(late.duration, -1);
  const MediaProbe onTime = ProbeMedia(test::VideoWithoutSound(2));
  EXPECT_NEAR(onTime.duration, 2.0, 0.1);
  EXPECT_FALSE(onTime.hasSound);
  EXPECT_TRUE(ProbeMedia(test::ToneMp3(1)).hasSound);
  // Release the reader the old probe left blocked, if any.
  const int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
  if (fd >= 0) close(fd);
}

TEST(MediaHelpers, ProbeFactsOfSoundPicturesAndTags) {
  const MediaFacts mp3 = ProbeMedia(test::TaggedWithCover("mp3")).facts;
  EXPECT_EQ(mp3.soundIndex, 0);
  EXPECT_EQ(mp3.channels, 2);
  EXPECT_EQ(mp3.sampleRate, 44100);
  EXPECT_EQ(mp3.bitRate, 192000);
  ASSERT_EQ(mp3.covers.size(), 1u);
  EXPECT_EQ(mp3.covers[0].codec, "png");
  EXPECT_EQ(mp3.covers[0].width, 96);
  EXPECT_GT(mp3.covers[0].bytes, 100);
  EXPECT_FALSE(mp3.tagsOnSound);
  EXPECT_TRUE(mp3.bookkeepingTags.empty());

  const MediaFacts ogg = ProbeMedia(test::TaggedWithCover("ogg")).facts;
  EXPECT_TRUE(ogg.tagsOnSound);
  EXPECT_TRUE(ogg.covers.empty());
  const MediaFacts m4a = ProbeMedia(test::TaggedWithCover("m4a")).facts;
  EXPECT_EQ(m4a.bookkeepingTags,
            (std::vector<std::string>{"major_brand", "minor_version", "compatible_brands"}));
  EXPECT_FALSE(m4a.soundBookkeepingTags.empty());
  const MediaFacts video = ProbeMedia(test::VideoWithSound(1)).facts;
  EXPECT_TRUE(video.covers.empty());  // a video's picture is no cover
  EXPECT_EQ(ProbeMedia(test::SurroundWav()).facts.channels, 6);
  EXPECT_EQ(ProbeMedia(test::VideoWithoutSound(1)).facts.soundIndex, -1);
}

TEST(MediaHelpers, TheBitRateIsTheSoundsRealAverage) {
  // Where the container states none, or only its first frame's: bytes over decoded seconds.
  for (const std::string& path : {test::VbrMp3WithoutHeader(), test::AacInMatroska(), test::ToneMp3(3)}) {
    SCOPED_TRACE(path);
    const double real = std::filesystem::file_size(path) * 8 / test::DecodedSeconds(path);
    EXPECT_NEAR(ProbeMedia(path).facts.bitRate, real, real * 0.1);
    EXPECT_NEAR(ProbeMedia(path).duration, test::DecodedSeconds(path), 0.3);
  }
}

TEST(MediaHelpers, ContainersThatHoldACover) {
  const struct {
    const char* format;
    CoverPicture picture;
    bool held;
  } cases[] = {
      {"mp3", {0, "mjpeg", 1000, 64, 64}, true},     {"MP3", {0, "gif", 1000, 64, 64}, true},
      {"m4a", {0, "png", 1000, 64, 64}, true},       {"mp4", {0, "bmp", 1000, 64, 64}, true},
      {"m4a", {0, "gif", 1000, 64, 64}, false},      {"m4a", {0, "tiff", 1000, 64, 64}, false},
      {"flac", {0, "tiff", 1000, 64, 64}, true},     {"flac", {0, "gif", 1000, 64, 64}, false},
      {"flac", {0, "bmp", 17000000, 64, 64}, false}, {"mp3", {0, "bmp", 17000000, 64, 64}, true},
      {"mp3", {0, "webp", 1000, 64, 64}, false},     {"mp3", {0, "mjpeg", 1000, 0, 0}, false},
      {"wav", {0, "png", 1000, 64, 64}, false},      {"ogg", {0, "png", 1000, 64, 64}, false},
      {"opus", {0, "png", 1000, 64, 64}, false},     {"mkv", {0, "png", 1000, 64, 64}, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CanHoldCover(c.format, c.picture), c.held) << c.format << " " << c.picture.codec;
  EXPECT_TRUE(IsBookkeepingTag("Major_Brand", "M4A "));
  EXPECT_TRUE(IsBookkeepingTag("language", "und"));
  for (const char* key : {"language", "DURATION", "BPS", "NUMBER_OF_FRAMES", "_STATISTICS_TAGS"})
    EXPECT_TRUE(IsBookkeepingTag(key, "chi")) << key;
  EXPECT_FALSE(IsBookkeepingTag("album", "duration"));
  EXPECT_FALSE(IsDescriptiveTag("encoder", "Lavf"));
  EXPECT_FALSE(IsDescriptiveTag("title", ""));
  EXPECT_TRUE(IsDescriptiveTag("title", "夜曲"));
}

}  // namespace
}  // namespace tw

// The real values of one stretch, read on their own: only the latest request is answered, a
// source that cannot seek is read from its start, and a file without sound answers nothing.
#include <gtest/gtest.h>

#include <chrono>

#include "app/Messages.h"
#include "media/WaveStretch.h"
#include "tests/support/MediaHttpServer.h"
#include "tests/support/QueueSink.h"
#include "tests/support/TestMedia.h"

namespace tw {
namespace {

using namespace std::chrono_literals;

TEST(WaveStretchTest, OnlyTheLatestRequestIsAnswered) {
  const std::string tone = test::ToneWav(20, 440, 8000, 1);  // 8 kHz mono: nothing converted
  test::QueueSink sink;
  WaveStretchReader reader(&sink);
  reader.Request(tone, 1, 19, 1000);
  reader.Request(tone, 2, 18, 1000);
  const std::uint64_t last = reader.Request(tone, 5, 6, 80);  // 100 samples a bucket
  const auto answer = sink.WaitFor(WM_WAVE_STRETCH, 20s);
  ASSERT_TRUE(answer.has_value());
  const auto* record = answer->As<WaveStretchRecord>();
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->request, last);
  EXPECT_DOUBLE_EQ(record->envelope.startSec, 5);
  EXPECT_DOUBLE_EQ(record->envelope.samplesPerBucket, 100);
  ASSERT_EQ(record->envelope.Size(), 80u);
  for (size_t k = 0; k < 80; ++k) {
    // 100 samples of a 440 Hz sine (an eighth of full scale) reach nearly both its peaks.
    EXPECT_GT(record->envelope.maxs[k], 4000) << k;
    EXPECT_LT(record->envelope.mins[k], -4000) << k;
  }
  EXPECT_TRUE(sink.DrainAfterQuiet(300ms, 3s).empty()) << "an older request was answered too";
}

TEST(WaveStretchTest, ASourceThatCannotSeekAndOneWithoutSound) {
  test::MediaHttpServer server(test::ToneMp3(30));
  WaveStretchSource source;
  WaveEnvelope envelope;
  ASSERT_EQ(source.Read(server.Url("tone.mp3"), 25, 26, 10, &envelope), 0);
  ASSERT_EQ(envelope.Size(), 10u);
  for (size_t k = 0; k < 10; ++k) EXPECT_GT(envelope.maxs[k], 2000) << k;  // the tone mixed to mono
  EXPECT_EQ(source.Read(test::TextNamedMp3(), 0, 1, 10, &envelope), -1);
  EXPECT_EQ(source.Read(test::ToneWav(2), 3, 4, 10, &envelope), 0) << "past the end: empty buckets";
  for (size_t k = 0; k < envelope.Size(); ++k) EXPECT_GT(envelope.mins[k], envelope.maxs[k]);
}

}  // namespace
}  // namespace tw

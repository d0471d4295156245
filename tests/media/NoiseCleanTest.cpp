#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "media/NoiseClean.h"

namespace tw {
namespace {

TEST(NoiseClean, PercentIsCutAndHeldBelowTheEnd) {
  const struct {
    double done, total;
    int percent;
  } cases[] = {
      {0, 10, 0},   {0.99, 10, 9}, {1, 10, 10},  {5, 10, 50},      {9.99, 10, 99}, {10, 10, 99},
      {12, 10, 99}, {1, 3, 33},    {2, 3, 66},   {1499, 1500, 99}, {15, 1500, 1},  {3, 0, 0},
      {3, -1, 0},   {-2, 10, 0},   {NAN, 10, 0}, {5, NAN, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(NoisePercent(c.done, c.total), c.percent) << c.done << "/" << c.total;
}

TEST(NoiseClean, BlocksAreCleanedOnceAndTheRestWaits) {
  // Appends in bytes, then what must have happened after each.
  const struct {
    const char* name;
    std::vector<size_t> appends;
    size_t pending;
    int64_t blocks;
    size_t samplesOut;
  } cases[] = {
      {"exactly one block", {640}, 0, 1, 320},
      {"two blocks in one append", {1280}, 0, 2, 640},
      {"a block split over two appends", {639, 1}, 0, 1, 320},
      {"less than a block", {100}, 100, 0, 0},
      {"a block and a bit", {700}, 60, 1, 320},
      {"the bit completes the next block", {700, 580}, 0, 2, 640},
      {"many small appends", std::vector<size_t>(64, 20), 0, 2, 640},
      {"nothing", {0}, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    NoiseSuppressor ns;
    ASSERT_EQ(ns.Init(2), 0);
    CleanBlocks blocks;
    std::vector<int16_t> out;
    for (size_t n : c.appends) {
      std::vector<uint8_t> bytes(n, 0x11);
      blocks.Append(ns, bytes.data(), bytes.size(), out);
    }
    EXPECT_EQ(blocks.PendingBytes(), c.pending);
    EXPECT_EQ(blocks.BlocksCleaned(), c.blocks);
    EXPECT_EQ(out.size(), c.samplesOut);
    // The end pads what waits into one more block and keeps only its real samples.
    blocks.Flush(ns, out);
    EXPECT_EQ(blocks.PendingBytes(), 0u);
    EXPECT_EQ(out.size(), c.samplesOut + c.pending / 2);
    EXPECT_EQ(blocks.BlocksCleaned(), c.blocks + (c.pending ? 1 : 0));
  }
}

TEST(NoiseClean, SuppressorTakesEveryPolicy) {
  for (int policy : {-1, 0, 1, 2, 3, 9}) {
    NoiseSuppressor ns;
    EXPECT_EQ(ns.Init(policy), 0) << policy;
    int16_t block[NoiseSuppressor::kBlockSamples] = {};
    EXPECT_TRUE(ns.Process(block));
  }
  NoiseSuppressor never;
  int16_t block[NoiseSuppressor::kBlockSamples] = {};
  EXPECT_FALSE(never.Process(block));  // not initialised: rejected, not crashed
}

// Float planar stereo frames filled with their sample index, for checking order.
FramePtr StereoFrame(int samples) {
  FramePtr frame = MakeFrame();
  frame->format = AV_SAMPLE_FMT_FLTP;
  frame->nb_samples = samples;
  frame->sample_rate = 44100;
  const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
  av_channel_layout_copy(&frame->ch_layout, &stereo);
  EXPECT_EQ(av_frame_get_buffer(frame.get(), 0), 0);
  return frame;
}

TEST(NoiseClean, SampleFifoKeepsOrderWaitsForRoomAndEnds) {
  SampleFifo fifo;
  ASSERT_EQ(fifo.Alloc(AV_SAMPLE_FMT_FLTP, 2, 3000), 0);
  std::atomic<bool> stop{false};
  // Writes into room for 3000 where the second does not fit while the reader still waits
  // for a whole frame: what fits goes in, so neither side waits for the other forever.
  std::thread writer([&] {
    FramePtr src = StereoFrame(2500);
    int first = 0;
    for (int count : {1000, 2500, 1500}) {
      for (int i = 0; i < count; ++i) {
        reinterpret_cast<float*>(src->data[0])[i] = static_cast<float>(first + i);
        reinterpret_cast<float*>(src->data[1])[i] = static_cast<float>(-(first + i));
      }
      EXPECT_TRUE(fifo.Write(src->data, count, stop, std::chrono::milliseconds(5)));
      first += count;
    }
    fifo.MarkEnd();
  });
  FramePtr dst = StereoFrame(1152);
  int next = 0;
  std::vector<int> counts;
  for (;;) {
    const int got = fifo.Read(dst.get(), 1152, stop, std::chrono::milliseconds(5));
    ASSERT_GE(got, 0);
    if (got == 0) break;
    counts.push_back(got);
    for (int i = 0; i < got; ++i, ++next) {
      ASSERT_EQ(reinterpret_cast<float*>(dst->data[0])[i], next);
      ASSERT_EQ(reinterpret_cast<float*>(dst->data[1])[i], -next);
    }
  }
  writer.join();
  EXPECT_EQ(next, 5000);
  // Whole frames while the input lasts, the rest once it has ended.
  EXPECT_EQ(counts, (std::vector<int>{1152, 1152, 1152, 1152, 392}));
}

TEST(NoiseClean, SampleFifoGivesUpOnStop) {
  SampleFifo fifo;
  ASSERT_EQ(fifo.Alloc(AV_SAMPLE_FMT_FLTP, 2, 100), 0);
  std::atomic<bool> stop{false};
  FramePtr frame = StereoFrame(300);
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stop = true;
  });
  EXPECT_FALSE(fifo.Write(frame->data, 300, stop, std::chrono::milliseconds(5)));  // full, nobody reads
  EXPECT_EQ(fifo.Read(frame.get(), 300, stop, std::chrono::milliseconds(5)), -1);
  stopper.join();
}

TEST(NoiseClean, PictureFifoCopiesPlanesOfAnySizeWithTheirTimes) {
  const struct {
    int width, height;
    size_t capacityBytes;
    size_t capacityPictures;
  } cases[] = {{320, 240, 320 * 240 * 3 / 2 * 4, 4}, {33, 17, 1, 1}, {2, 2, 1000, 166}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.width);
    PictureFifo fifo;
    fifo.Configure(c.width, c.height, c.capacityBytes);
    std::atomic<bool> stop{false};
    FramePtr in = MakeFrame();
    in->format = AV_PIX_FMT_YUV420P;
    in->width = c.width;
    in->height = c.height;
    ASSERT_EQ(av_frame_get_buffer(in.get(), 32), 0);
    for (int p = 0; p < 3; ++p) {
      const int h = p ? (c.height + 1) / 2 : c.height;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < in->linesize[p]; ++x)
          in->data[p][y * in->linesize[p] + x] = (p * 50 + x + y) & 0xff;
    }
    size_t written = 0;
    while (written < c.capacityPictures) {
      ASSERT_TRUE(
          fifo.Write(in.get(), 1000 + static_cast<int64_t>(written) * 7, stop, std::chrono::milliseconds(1)));
      ++written;
    }
    EXPECT_EQ(fifo.Count(), c.capacityPictures);
    stop = true;  // full now: one more write gives up instead of waiting forever
    EXPECT_FALSE(fifo.Write(in.get(), 0, stop, std::chrono::milliseconds(1)));
    stop = false;
    FramePtr out = MakeFrame();
    out->format = AV_PIX_FMT_YUV420P;
    out->width = c.width;
    out->height = c.height;
    ASSERT_EQ(av_frame_get_buffer(out.get(), 0), 0);
    ASSERT_EQ(fifo.Read(out.get(), stop, std::chrono::milliseconds(1)), 1);
    EXPECT_EQ(out->pts, 1000);
    for (int p = 0; p < 3; ++p) {
      const int w = p ? (c.width + 1) / 2 : c.width;
      const int h = p ? (c.height + 1) / 2 : c.height;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          ASSERT_EQ(out->data[p][y * out->linesize[p] + x], in->data[p][y * in->linesize[p] + x]) << p;
    }
    fifo.MarkEnd();
    for (size_t i = 1; i < c.capacityPictures; ++i) {
      EXPECT_EQ(fifo.Read(out.get(), stop, std::chrono::milliseconds(1)), 1);
      EXPECT_EQ(out->pts, 1000 + static_cast<int64_t>(i) * 7);
    }
    EXPECT_EQ(fifo.Read(out.get(), stop, std::chrono::milliseconds(1)), 0);
  }
}

}  // namespace
}  // namespace tw

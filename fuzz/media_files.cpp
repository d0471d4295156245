// Media files as a hostile sender makes them: mutated small audio and video files through the
// duration probe, both waveform readers and both denoisers (decode, clean, encode). Each must
// end (libFuzzer's -timeout bounds one input), stay within memory (-rss_limit_mb) and leave
// either a complete result or nothing; a denoiser's result holds at least the sound FFmpeg's
// decoder reads from the input, and no more than that with holes filled.
#include <filesystem>
#include <string>
#include <vector>

#include "app/MediaHelpers.h"
#include "app/Messages.h"
#include "fuzz/FuzzSupport.h"
#include "media/NoiseAudio.h"
#include "media/NoiseConvert.h"
#include "media/NoiseRecords.h"
#include "media/PcmWave.h"
#include "media/WaveStretch.h"
#include "tasks/ResultFile.h"
#include "tests/support/QueueSink.h"

namespace {

// The seconds of sound FFmpeg's decoder reads from path's sound stream (the one every engine
// takes), frame by frame, skipping what it cannot decode; stops at an hour.
double SoundSeconds(const std::string& path) {
  tw::FormatInputPtr input = tw::OpenInput(path);
  if (!input || avformat_find_stream_info(input.get(), nullptr) < 0) return 0;
  const int index = tw::ChooseSoundStream(input.get());
  if (index < 0) return 0;
  tw::CodecContextPtr codec = tw::OpenDecoder(input->streams[index]);
  tw::PacketPtr packet = tw::MakePacket();
  tw::FramePtr frame = tw::MakeFrame();
  if (!codec || !packet || !frame) return 0;
  double seconds = 0;
  for (bool more = true; more && seconds < 3600;) {
    more = av_read_frame(input.get(), packet.get()) >= 0;
    if (more && packet->stream_index != index) {
      av_packet_unref(packet.get());
      continue;
    }
    avcodec_send_packet(codec.get(), more ? packet.get() : nullptr);
    av_packet_unref(packet.get());
    for (int rc = 0; rc != AVERROR(EAGAIN) && rc != AVERROR_EOF;) {
      rc = avcodec_receive_frame(codec.get(), frame.get());
      if (rc == 0 && frame->sample_rate > 0) seconds += static_cast<double>(frame->nb_samples) / frame->sample_rate;
      if (rc == AVERROR(ENOMEM)) return seconds;
    }
  }
  return seconds;
}

// A complete result holds the input's sound: not cut short, nor grown past the holes' allowance.
void CheckLength(const std::string& input, const std::string& output) {
  const double source = SoundSeconds(input), result = SoundSeconds(output);
  FUZZ_CHECK(result >= source - 0.2 && "a result shorter than the sound its source decodes to");
  FUZZ_CHECK(result <= 2 * source + tw::HoleFiller::kAllowanceSeconds + 0.5);
}

}  // namespace

TW_FUZZ_TARGET(data, size) {
  const std::string input = tw::fuzz::ScratchDir() + "/input";
  tw::fuzz::WriteFile(input, std::string(reinterpret_cast<const char*>(data), size));

  const tw::MediaProbe probe = tw::ProbeMedia(input, std::chrono::milliseconds(3000));
  FUZZ_CHECK(probe.duration == -1 || probe.duration >= 0);

  std::vector<std::int32_t> peaks;
  double duration = 0;
  if (tw::ReadWavePeaks(input, &peaks, nullptr, &duration) == 0) {
    FUZZ_CHECK(peaks.size() <= tw::kWaveKeptLimit);
    for (std::int32_t v : peaks) FUZZ_CHECK(v >= -32768 && v <= 32767);
  }

  const std::string output = tw::fuzz::ScratchDir() + "/cleaned.mp3";
  tw::test::QueueSink sink;
  {
    tw::NoiseAudio job(&sink, 7);
    if (job.Start(input, output, 0, 64000, 2) == 0) {
      auto done = sink.WaitFor(tw::WM_NOISE_DONE, std::chrono::seconds(60));
      FUZZ_CHECK(done.has_value() && "the denoiser did not end");
      const auto* record = done->As<tw::NoiseDoneRecord>();
      FUZZ_CHECK(record && record->itemId == 7);
      FUZZ_CHECK(record->result == 0 ? record->outputPath == output && tw::fuzz::Exists(output)
                                     : !tw::fuzz::Exists(output));
      if (record->result == 0) CheckLength(input, output);
    } else {
      FUZZ_CHECK(!tw::fuzz::Exists(output));
    }
  }
  std::filesystem::remove(output);

  tw::WaveStretchSource stretch;
  tw::WaveEnvelope envelope;
  if (stretch.Read(input, 0, 2, 16, &envelope) == 0) {
    FUZZ_CHECK(envelope.Size() == 16u);
    for (std::size_t k = 0; k < envelope.Size(); ++k)
      FUZZ_CHECK(envelope.mins[k] > envelope.maxs[k] || (envelope.mins[k] >= -32768 && envelope.maxs[k] <= 32767));
  }

  // The video denoiser, as the page runs it (the picture copied), on whatever the input holds.
  const std::string video = tw::fuzz::ScratchDir() + "/cleaned.mkv";
  {
    tw::NoiseConvert job(&sink, 9, video);
    if (job.Start(input, 0, 1280, 720, 2, 44100, 64000, 2) == 0) {
      auto done = sink.WaitFor(tw::WM_NOISE_DONE, std::chrono::seconds(60));
      FUZZ_CHECK(done.has_value() && "the video denoiser did not end");
      const auto* record = done->As<tw::NoiseDoneRecord>();
      FUZZ_CHECK(record && record->itemId == 9);
      FUZZ_CHECK(record->result == 0 ? tw::fuzz::Exists(video) : !tw::fuzz::Exists(video));
      if (record->result == 0 && SoundSeconds(input) > 0) CheckLength(input, video);
    } else {
      FUZZ_CHECK(!tw::fuzz::Exists(video));
    }
  }
  std::filesystem::remove(video);
  // Whatever the verdict, no partial file stays behind.
  for (const auto& entry : std::filesystem::directory_iterator(tw::fuzz::ScratchDir()))
    FUZZ_CHECK(!tw::IsPartialName(entry.path().filename().string()));
  return 0;
}

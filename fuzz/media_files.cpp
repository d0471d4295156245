// Media files as a hostile sender makes them: mutated small audio and video files through the
// duration probe, the waveform reader and the audio denoiser (decode, clean, encode). Each must
// end (libFuzzer's -timeout bounds one input), stay within memory (-rss_limit_mb) and leave
// either a complete result or nothing.
#include <filesystem>
#include <string>
#include <vector>

#include "app/MediaHelpers.h"
#include "app/Messages.h"
#include "fuzz/FuzzSupport.h"
#include "media/NoiseAudio.h"
#include "media/NoiseRecords.h"
#include "media/PcmWave.h"
#include "tasks/ResultFile.h"
#include "tests/support/QueueSink.h"

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
    } else {
      FUZZ_CHECK(!tw::fuzz::Exists(output));
    }
  }
  // Whatever the verdict, no partial file stays behind.
  for (const auto& entry : std::filesystem::directory_iterator(tw::fuzz::ScratchDir()))
    FUZZ_CHECK(!tw::IsPartialName(entry.path().filename().string()));
  std::filesystem::remove(output);
  return 0;
}

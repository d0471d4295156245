// The time and size texts: the cut page's time fields, the transcoder's clock texts, the
// duration and size labels and the progress arithmetic, on any text and any number a file or
// a user can supply.

#include <cmath>
#include <string>

#include "app/MediaHelpers.h"
#include "fuzz/FuzzSupport.h"
#include "media/NoiseClean.h"
#include "media/WavePeaks.h"
#include "net/HttpDownload.h"
#include "tasks/Transcoder.h"

TW_FUZZ_PARTS(in) {
  const double number = in.ConsumeFloatingPoint<double>();
  const double other = in.ConsumeFloatingPoint<double>();
  const auto bytes = in.ConsumeIntegral<std::int64_t>();
  const auto total = in.ConsumeIntegral<std::int64_t>();
  const std::string text = in.ConsumeRemainingBytesAsString();

  // Texts.
  const bool isTime = tw::IsTimeText(text);
  const double parsed = tw::ParseTimeText(text);
  FUZZ_CHECK(parsed >= 0 && std::isfinite(parsed));
  if (isTime && parsed < 1e12) {
    // A valid field shows again as the same time (to the hundredth), up to about 31,000 years.
    const std::string shown = tw::FormatTimeText(parsed);
    FUZZ_CHECK(tw::IsTimeText(shown));
    FUZZ_CHECK(std::fabs(tw::ParseTimeText(shown) - parsed) < 0.005);
  }
  (void)tw::ParseClockText(text);
  (void)tw::LeadingInt(text);
  (void)tw::IsDigits(text);
  (void)tw::IsVideoExtension(text);
  for (const std::string& piece : tw::SplitText(text, ":.")) FUZZ_CHECK(!piece.empty());

  // Numbers (durations and positions come from files and may be anything).
  for (double seconds : {number, other}) {
    (void)tw::FormatDuration(seconds);
    const std::string shown = tw::FormatTimeText(seconds);
    if (seconds >= 0 && seconds < 3.6e8) {
      FUZZ_CHECK(tw::IsTimeText(shown));
      const double back = tw::ParseTimeText(shown);
      FUZZ_CHECK(back <= seconds + 1e-6 && back > seconds - 0.0100001);
    }
    const int stride = tw::WaveStrideBytes(seconds);
    FUZZ_CHECK(stride == -1 || (stride >= 0 && stride % 2 == 0));
  }
  const int percent = tw::NoisePercent(number, other);
  FUZZ_CHECK(percent >= 0 && percent <= 99);
  (void)tw::FormatFileSize(bytes);
  if (bytes >= 0 && bytes <= total) {  // the download counts no more than was announced
    const int downloaded = tw::DownloadPercent(bytes, total);
    FUZZ_CHECK(downloaded >= 0 && downloaded <= 100);
  }
  return 0;
}

// The transcoder's output as the reader gets it from the pipe: cut into blocks at random
// places. The verdict must not depend on where the blocks were cut (for text without zero
// bytes, which end a block's text), and no output may crash the parser or make it hold
// unbounded text.

#include <algorithm>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "tasks/Transcoder.h"

namespace {

bool SameReport(const tw::TranscoderReport& a, const tw::TranscoderReport& b) {
  return a.durationFound == b.durationFound && a.durationMs == b.durationMs && a.positionMs == b.positionMs &&
         a.summary == b.summary && a.conversionFailed == b.conversionFailed &&
         a.invalidArgument == b.invalidArgument && a.writeFailed == b.writeFailed;
}

}  // namespace

TW_FUZZ_PARTS(in) {
  // The files the command names, which the transcoder echoes (possibly hostile names).
  std::vector<std::string> paths;
  const int pathCount = in.ConsumeIntegralInRange(0, 3);
  for (int i = 0; i < pathCount; ++i) paths.push_back(in.ConsumeRandomLengthString(64));
  const std::string seed = in.ConsumeBytesAsString(8);
  std::string output = in.ConsumeRemainingBytesAsString();
  // Zero bytes end a block's text, so only output without them is comparable across cuts.
  output.erase(std::remove(output.begin(), output.end(), '\0'), output.end());

  const tw::TranscoderReport whole = tw::ReadTranscoderOutput(output, paths);

  // Block lengths from the seed bytes, cycling; 0 stands for one byte.
  tw::OutputParser parser(paths);
  size_t at = 0, turn = 0;
  while (at < output.size()) {
    size_t length = seed.empty() ? 1 : static_cast<unsigned char>(seed[turn++ % seed.size()]);
    length = std::max<size_t>(1, length);
    length = std::min(length, output.size() - at);
    const bool progressed = parser.Feed(std::string_view(output).substr(at, length));
    if (progressed) FUZZ_CHECK(parser.DurationFound());
    at += length;
    // The reader stops listening here; the parser itself reads on, which the comparison needs.
    if (parser.Stopped()) FUZZ_CHECK(parser.Report().invalidArgument);
  }
  parser.Finish();
  const tw::TranscoderReport& cut = parser.Report();
  if (!SameReport(whole, cut)) {
    std::fprintf(stderr, "whole: d%d %lld p%lld s%d c%d i%d w%d / cut: d%d %lld p%lld s%d c%d i%d w%d\n",
                 whole.durationFound, static_cast<long long>(whole.durationMs),
                 static_cast<long long>(whole.positionMs), whole.summary, whole.conversionFailed,
                 whole.invalidArgument, whole.writeFailed, cut.durationFound,
                 static_cast<long long>(cut.durationMs), static_cast<long long>(cut.positionMs), cut.summary,
                 cut.conversionFailed, cut.invalidArgument, cut.writeFailed);
    FUZZ_CHECK(false && "the report depends on where the output was cut");
  }
  (void)tw::RunSucceeded(cut, 0);
  return 0;
}

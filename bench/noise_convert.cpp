// NoiseConvert on a 60 s 720p video, its picture copied (as the noise page runs it) and encoded
// again, against the ffmpeg program doing the same with its FFT denoiser on the sound.
// Goals: copied picture / ffmpeg copying the picture at most 1.0, and at most 0.4 of the run
// that encodes the picture again; that run / ffmpeg with the same picture settings at most 1.1.
#include <cstdio>

#include "bench/noise_bench_common.h"
#include "media/NoiseConvert.h"

using namespace tw;
using namespace tw::bench;

namespace {

// One NoiseConvert job to its end; false when it could not start.
bool RunJob(const std::string& input, const std::string& output, bool copy) {
  DoneSink sink;
  NoiseConvert job(&sink, 1, output);
  job.SetPictureCopy(copy);
  if (job.Start(input, 0, 1280, 720, 2, 44100, 128000, 2) != 0) return false;
  sink.Wait();
  return job.CopiesPicture() == copy;
}

}  // namespace

int main() {
  FILE* report = QuietEnginesAndGetReport("bench");
  const std::string input =
      Media("video-720p-60s.mp4",
            {"-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=25:duration=60", "-f", "lavfi", "-i",
             "aevalsrc=exprs='0.4*sin(2*PI*(440*t+30*sin(2*PI*3*t)))*lt(mod(t\\,2)\\,1)+0.06*(2*random(0)-1)'"
             ":s=44100:d=60",
             "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p", "-c:a", "aac", "-ac", "2",
             "-shortest"});
  if (input.empty()) {
    fprintf(stderr, "could not generate the input with ffmpeg\n");
    return 1;
  }
  const std::string out = MediaFolder() + "/out-";
  const int rounds = 2;
  const int copyRounds = 5;  // the copying runs are short: more rounds for the least disturbed
  const Timing ffmpegCopy = Best(copyRounds, [&] {
    RunFfmpeg({"-i", input, "-c:v", "copy", "-af", "afftdn", "-c:a", "aac", out + "ffmpeg-copy.mp4"});
  });
  const Timing ffmpegEncode = Best(rounds, [&] {
    RunFfmpeg({"-i", input, "-c:v", "libx264", "-preset", "ultrafast", "-tune", "zerolatency", "-crf", "23",
               "-af", "afftdn", "-c:a", "aac", out + "ffmpeg-encode.mp4"});
  });
  bool ok = true;
  const Timing copied = Best(copyRounds, [&] { ok = RunJob(input, out + "noise-copy.mp4", true) && ok; });
  const Timing encoded = Best(rounds, [&] { ok = RunJob(input, out + "noise-encode.mp4", false) && ok; });
  if (!ok) {
    fprintf(stderr, "NoiseConvert could not start, or did not copy or encode as asked\n");
    return 1;
  }
  fprintf(report, "60 s 720p video, best of %d (copying runs: of %d): wall seconds, processor seconds\n",
          rounds, copyRounds);
  fprintf(report, "  ffmpeg -c:v copy + afftdn + aac        %7.2f s  %7.2f s\n", ffmpegCopy.wall,
          ffmpegCopy.cpu);
  fprintf(report, "  ffmpeg x264 ultrafast + afftdn + aac   %7.2f s  %7.2f s\n", ffmpegEncode.wall,
          ffmpegEncode.cpu);
  fprintf(report, "  NoiseConvert, picture copied           %7.2f s  %7.2f s\n", copied.wall, copied.cpu);
  fprintf(report, "  NoiseConvert, picture encoded again    %7.2f s  %7.2f s\n", encoded.wall, encoded.cpu);
  fprintf(report, "ratio copied / ffmpeg copying = %.3f wall, %.3f processor (goal <= 1.0)\n",
          copied.wall / ffmpegCopy.wall, copied.cpu / ffmpegCopy.cpu);
  fprintf(report, "ratio copied / encoded again  = %.3f wall, %.3f processor (goal <= 0.4)\n",
          copied.wall / encoded.wall, copied.cpu / encoded.cpu);
  fprintf(report, "ratio encoded again / ffmpeg x264 = %.3f wall, %.3f processor (goal <= 1.1)\n",
          encoded.wall / ffmpegEncode.wall, encoded.cpu / ffmpegEncode.cpu);
  return 0;
}

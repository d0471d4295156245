// NoiseConvert on a 60 s 720p video against the ffmpeg program with the same picture
// settings and its FFT denoiser on the sound. Goal: ratio at most 1.1.
#include <cstdio>

#include "bench/noise_bench_common.h"
#include "media/NoiseConvert.h"

using namespace tw;
using namespace tw::bench;

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
  const Timing baseline = Best(rounds, [&] {
    RunFfmpeg({"-i", input, "-c:v", "libx264", "-preset", "ultrafast", "-tune", "zerolatency", "-crf", "23",
               "-af", "afftdn", "-c:a", "aac", out + "ffmpeg.mp4"});
  });
  int started = 0;
  const Timing ours = Best(rounds, [&] {
    DoneSink sink;
    NoiseConvert job(&sink, 1, out + "noise.mp4");
    started = job.Start(input, 0, 1280, 720, 2, 44100, 128000, 2);
    if (started == 0) sink.Wait();
  });
  if (started != 0) {
    fprintf(stderr, "NoiseConvert could not start\n");
    return 1;
  }
  fprintf(report, "60 s 720p video, best of %d: wall seconds, processor seconds\n", rounds);
  fprintf(report, "  ffmpeg x264 ultrafast + afftdn + aac  %7.2f s  %7.2f s\n", baseline.wall, baseline.cpu);
  fprintf(report, "  NoiseConvert                          %7.2f s  %7.2f s\n", ours.wall, ours.cpu);
  fprintf(report, "ratio NoiseConvert / ffmpeg = %.3f wall, %.3f processor (goal <= 1.1)\n",
          ours.wall / baseline.wall, ours.cpu / baseline.cpu);
  return 0;
}

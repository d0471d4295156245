// NoiseAudio on a 10-minute file against the ffmpeg program doing the same decode and MP3
// encode, once with its FFT denoiser (afftdn) and once without any cleaning. Goals: faster
// than afftdn (ratio under 1.0) and at most 1.3 times the plain decode and encode.
#include <cstdio>

#include "bench/noise_bench_common.h"
#include "media/NoiseAudio.h"

using namespace tw;
using namespace tw::bench;

int main() {
  FILE* report = QuietEnginesAndGetReport("bench");
  const std::string input =
      Media("speechlike-noisy-600s.wav", {"-f", "lavfi", "-i",
                                          "aevalsrc=exprs='0.4*sin(2*PI*(440*t+30*sin(2*PI*3*t)))*lt(mod(t\\,"
                                          "2)\\,1)+0.06*(2*random(0)-1)':s=44100:d=600",
                                          "-ac", "2", "-c:a", "pcm_s16le"});
  if (input.empty()) {
    fprintf(stderr, "could not generate the input with ffmpeg\n");
    return 1;
  }
  const std::string out = MediaFolder() + "/out-";
  const int rounds = 2;
  const Timing plain = Best(rounds, [&] {
    RunFfmpeg(
        {"-i", input, "-ac", "2", "-ar", "44100", "-c:a", "libmp3lame", "-b:a", "128k", out + "plain.mp3"});
  });
  const Timing afftdn = Best(rounds, [&] {
    RunFfmpeg({"-i", input, "-af", "afftdn", "-ac", "2", "-ar", "44100", "-c:a", "libmp3lame", "-b:a", "128k",
               out + "afftdn.mp3"});
  });
  int started = 0;
  const Timing ours = Best(rounds, [&] {
    DoneSink sink;
    NoiseAudio job(&sink, 1);
    started = job.Start(input, out + "noise.mp3", 0, 128000, 2);
    if (started == 0) sink.Wait();
  });
  if (started != 0) {
    fprintf(stderr, "NoiseAudio could not start\n");
    return 1;
  }
  fprintf(report, "10-minute WAV to MP3, best of %d: wall seconds, processor seconds\n", rounds);
  fprintf(report, "  ffmpeg decode+encode     %7.2f s  %7.2f s\n", plain.wall, plain.cpu);
  fprintf(report, "  ffmpeg -af afftdn        %7.2f s  %7.2f s\n", afftdn.wall, afftdn.cpu);
  fprintf(report, "  NoiseAudio               %7.2f s  %7.2f s\n", ours.wall, ours.cpu);
  fprintf(report, "ratio NoiseAudio / afftdn       = %.3f wall, %.3f processor (goal < 1.0)\n",
          ours.wall / afftdn.wall, ours.cpu / afftdn.cpu);
  fprintf(report, "ratio NoiseAudio / plain encode = %.3f wall, %.3f processor (goal <= 1.3)\n",
          ours.wall / plain.wall, ours.cpu / plain.cpu);
  return 0;
}

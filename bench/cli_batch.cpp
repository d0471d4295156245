// tunewell-cli against xargs on the same batch, side by side: 40 one-minute WAV files
// converted to MP3 with `tunewell-cli convert --format mp3 --jobs 2`, and the same 40 ffmpeg
// command lines ("ffmpeg -y -i IN -vn OUT", what the convert builder gives) run by
// `xargs -P 2`. The two alternate which goes first from round to round; prints the median
// wall times and the median of the per-round ratios (goal <= 1.05), and the same ratio of
// processor time (the program and every transcoder run), which other load does not move.
// Usage: bench_cli_batch [rounds, default 3] [files, default 40]
#include <glog/logging.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tasks/Transcoder.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double ChildrenCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Wall seconds of the command; *cpuSeconds receives the processor time of it and everything
// it waited for (the transcoder runs included).
double TimeCommand(const std::string& command, double* cpuSeconds) {
  const double cpuBefore = ChildrenCpuSeconds();
  const auto start = Clock::now();
  const int rc = std::system(command.c_str());
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  *cpuSeconds = ChildrenCpuSeconds() - cpuBefore;
  if (rc != 0) {
    std::fprintf(stderr, "failed (%d): %s\n", rc, command.c_str());
    std::exit(1);
  }
  return seconds;
}

void Reset(const std::string& folder) {
  fs::remove_all(folder);
  fs::create_directories(folder);
}

}  // namespace

int main(int argc, char** argv) {
  google::InitGoogleLogging(argv[0]);
  FLAGS_minloglevel = google::GLOG_ERROR;
  FLAGS_logtostderr = true;
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const int files = argc > 2 ? std::max(2, std::atoi(argv[2])) : 40;
  const std::string cli = tw::ProgramFolder() + "/../tunewell-cli";
  if (access(cli.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "build tunewell-cli first (looked for %s)\n", cli.c_str());
    return 1;
  }
  char pattern[] = "/tmp/tw-bench-cli.XXXXXX";
  const std::string root = mkdtemp(pattern);
  // The program's settings and logs stay in the bench folder.
  setenv("HOME", root.c_str(), 1);
  setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
  const std::string in = root + "/in", outCli = root + "/out-cli", outXargs = root + "/out-xargs";
  fs::create_directories(in);

  // One minute of sound, linked under every name: both sides read the same cached bytes.
  const std::string source = root + "/minute.wav";
  if (std::system(("ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "
                   "sine=frequency=440:sample_rate=44100:duration=60 -ac 2 " +
                   source)
                      .c_str()) != 0) {
    std::fprintf(stderr, "cannot generate the input with ffmpeg\n");
    return 1;
  }
  std::string cliFiles;
  std::ofstream names(root + "/names.txt");
  for (int i = 0; i < files; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "f%02d", i);
    fs::create_symlink(source, in + "/" + name + ".wav");
    cliFiles += " " + in + "/" + name + ".wav";
    names << name << "\n";
  }
  names.close();
  const std::string ffmpeg = tw::TranscoderPath();
  const std::string cliCommand =
      cli + " convert --format mp3 --jobs 2 --output-dir " + outCli + cliFiles + " >/dev/null";
  const std::string xargsCommand = "xargs -P 2 -I{} " + ffmpeg + " -y -i " + in + "/{}.wav -vn " + outXargs +
                                   "/{}.mp3 <" + root + "/names.txt >/dev/null 2>&1";

  std::vector<double> cliTimes, xargsTimes, ratios, cpuRatios;
  for (int r = 0; r < rounds; ++r) {
    Reset(outCli);
    Reset(outXargs);
    double tc = 0, tx = 0, cc = 0, cx = 0;
    if (r % 2 == 0) {
      tc = TimeCommand(cliCommand, &cc);
      tx = TimeCommand(xargsCommand, &cx);
    } else {
      tx = TimeCommand(xargsCommand, &cx);
      tc = TimeCommand(cliCommand, &cc);
    }
    cliTimes.push_back(tc);
    xargsTimes.push_back(tx);
    ratios.push_back(tc / tx);
    cpuRatios.push_back(cc / cx);
    std::printf(
        "round %d: tunewell-cli %.2f s (cpu %.2f s), xargs -P 2 %.2f s (cpu %.2f s), ratio %.3f, cpu ratio "
        "%.3f\n",
        r + 1, tc, cc, tx, cx, tc / tx, cc / cx);
    std::fflush(stdout);
  }
  std::printf("%d one-minute files, --jobs 2: tunewell-cli median %.2f s, xargs -P 2 median %.2f s\n", files,
              Median(cliTimes), Median(xargsTimes));
  std::printf("ratio (median of rounds): %.3f (goal <= 1.05)\n", Median(ratios));
  // Wall time on a shared machine follows the neighbours' load; processor time does not.
  std::printf("processor-time ratio (median of rounds): %.3f\n", Median(cpuRatios));
  fs::remove_all(root);
  return 0;
}

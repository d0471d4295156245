// The window's queue running several jobs at once, side by side with xargs: 40 one-minute MP3
// files converted to MP3 by a real main window (offscreen) with "parallel-jobs" 2 (the convert
// page's "all-convert-btn", the queue's worker, the runs' readers and the window's handling of
// every report), against `xargs -P 2` running the very same ffmpeg argument vectors, and against
// the same window with "parallel-jobs" 1. The three take turns going first from round to round;
// prints the median wall times and the medians of the per-round ratios (goals: window 2 / xargs
// -P 2 <= 1.05, window 2 / window 1 <= 0.55).
// Usage: bench_ui_queue_parallel [rounds, default 3] [files, default 40]
#include <glog/logging.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/SettingsFile.h"
#include "tasks/Commands.h"
#include "tasks/ConvertQueue.h"
#include "ui/CMainWnd.h"
#include "ui/CPaintViewUI.h"
#include "ui/Skin.h"
#include "ui/pages/ConvertPage.h"
#include "ui/pages/FileList.h"

namespace fs = std::filesystem;

namespace {

// CPU seconds (user and system) of this process's own threads, or of its reaped children.
double CpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// The baseline: xargs starts the commands, two at a time, each argument vector NUL-separated
// and handed to env, which runs it as given.
double XargsSeconds(const std::vector<tw::FileEntry>& entries, const std::string& folder, int jobs) {
  fs::create_directories(folder);
  tw::CommandContext context = tw::CurrentCommandContext();
  context.outputFolder = folder;
  const std::string list = folder + ".args";
  std::ofstream out(list, std::ios::binary);
  size_t width = 0;
  for (const auto& entry : entries) {
    const auto args =
        tw::BuildConvertCommand(entry, tw::ConvertOptions{"mp3", 0, 0, 0}, context).command.args;
    width = args.size();
    for (const std::string& a : args) out << a << '\0';
  }
  out.close();
  const std::string command = "xargs -0 -P " + std::to_string(jobs) + " -n " + std::to_string(width) +
                              " env < " + Quote(list) + " > /dev/null 2>&1";
  QElapsedTimer clock;
  clock.start();
  const double childrenBefore = CpuSeconds(RUSAGE_CHILDREN);
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "xargs: a conversion failed\n");
  std::printf("  xargs -P %d: its transcoders' CPU %.2f s\n", jobs,
              CpuSeconds(RUSAGE_CHILDREN) - childrenBefore);
  return clock.nsecsElapsed() / 1e9;
}

// The window: the files in the convert list, "all-convert-btn" pressed, the event loop run until
// the button reads "一键转换" again.
double WindowSeconds(const QStringList& paths, const std::string& folder, int jobs) {
  fs::create_directories(folder);
  tw::SettingsFile::Instance().WriteString(tw::kSettingsSection, tw::kKeyOutputDir, folder);
  tw::SettingsFile::Instance().WriteInt(tw::kSettingsSection, tw::kKeyParallelJobs, jobs);
  tw::CMainWnd window;
  QString error;
  if (!window.Create(&error)) {
    std::fprintf(stderr, "window: %s\n", error.toStdString().c_str());
    std::exit(1);
  }
  window.show();
  window.Convert()->AddFiles(paths);
  while (window.Prober()->Busy()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  auto* all = tw::FindControl<QAbstractButton>(window.Root(), "all-convert-btn");
  const double ownBefore = CpuSeconds(RUSAGE_SELF), childrenBefore = CpuSeconds(RUSAGE_CHILDREN);
  QElapsedTimer clock;
  clock.start();
  all->click();
  while (all->text() != QString::fromUtf8(tw::kAllConvertIdleText))
    // Blocks until the next event: the overload with a time limit ignores WaitForMoreEvents and
    // would spin, taking a core from the transcoders.
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  const double seconds = clock.nsecsElapsed() / 1e9;
  // Where the time went: the window's own work beside its transcoders'.
  std::printf("  window with %d jobs: its own CPU %.2f s, its transcoders' CPU %.2f s\n", jobs,
              CpuSeconds(RUSAGE_SELF) - ownBefore, CpuSeconds(RUSAGE_CHILDREN) - childrenBefore);
  for (int i = 0; i < tw::RowCount(window.Convert()->List()); ++i) {
    QWidget* row = tw::RowAt(window.Convert()->List(), i);
    if (!tw::RowIsDone(row)) std::fprintf(stderr, "window: row %d did not convert\n", i);
  }
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const int files = argc > 2 ? std::max(2, std::atoi(argv[2])) : 40;
  char tmpl[] = "/tmp/tw-bench-parallel.XXXXXX";
  const std::string dir = mkdtemp(tmpl);
  setenv("HOME", dir.c_str(), 1);
  setenv("XDG_DATA_HOME", (dir + "/data").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  FLAGS_minloglevel = 2;  // every run logs its output line by line: not what is measured
  google::InitGoogleLogging(argv[0]);

  // Before any thread starts: the one-minute sources, each of its own tone.
  QStringList paths;
  for (int i = 0; i < files; ++i) {
    const std::string path = dir + "/in/minute-" + std::to_string(i) + ".mp3";
    fs::create_directories(dir + "/in");
    const std::string make =
        "ffmpeg -hide_banner -loglevel error -y -f lavfi -i sine=frequency=" + std::to_string(300 + 7 * i) +
        ":duration=60 -ac 2 -b:a 128k " + Quote(path);
    if (std::system(make.c_str()) != 0) {
      std::fprintf(stderr, "ffmpeg failed\n");
      return 1;
    }
    paths << QString::fromStdString(path);
  }
  std::vector<tw::FileEntry> entries;
  for (const QString& path : paths) entries.push_back(*tw::ProbeFileEntry(path.toStdString()));

  QApplication app(argc, argv);
  QString error;
  tw::CPaintViewUI::RegisterDefault();
  tw::Skin::LoadResources(app, &error);

  std::vector<double> xargs, two, one, versusXargs, versusOne;
  for (int r = 0; r < rounds; ++r) {
    const std::string round = dir + "/round-" + std::to_string(r);
    double x = 0, w2 = 0, w1 = 0;
    for (int turn = 0; turn < 3; ++turn) {
      switch ((turn + r) % 3) {
        case 0:
          x = XargsSeconds(entries, round + "/xargs", 2);
          break;
        case 1:
          w2 = WindowSeconds(paths, round + "/window-2", 2);
          break;
        default:
          w1 = WindowSeconds(paths, round + "/window-1", 1);
          break;
      }
    }
    std::printf("round %d: xargs -P 2 %.2f s, window with 2 jobs %.2f s, window with 1 job %.2f s\n", r + 1,
                x, w2, w1);
    xargs.push_back(x);
    two.push_back(w2);
    one.push_back(w1);
    versusXargs.push_back(w2 / x);
    versusOne.push_back(w2 / w1);
    fs::remove_all(round);
  }
  std::printf(
      "%d one-minute files, median of %d rounds: xargs -P 2 %.2f s, window 2 jobs %.2f s, 1 job %.2f s\n",
      files, rounds, Median(xargs), Median(two), Median(one));
  std::printf("window 2 jobs / xargs -P 2: %.3f (goal <= 1.05)\n", Median(versusXargs));
  std::printf("window 2 jobs / window 1 job: %.3f (goal <= 0.55)\n", Median(versusOne));
  fs::remove_all(dir);
  return 0;
}

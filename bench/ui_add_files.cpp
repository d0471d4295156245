// Adding 1,000 short files to the convert list of a real main window (offscreen), against
// probing the same files in a plain loop, side by side. Prints the longest gap in the window's
// event processing while the files are added (goal < 100 ms) and the total time as a ratio
// against the plain probe loop (goal <= 1.2). The two alternate which goes first from round
// to round; medians are printed. Usage: bench_ui_add_files [files, default 1000] [rounds, default 3]
#include <glog/logging.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ui/CMainWnd.h"
#include "ui/Skin.h"
#include "ui/pages/ConvertPage.h"
#include "ui/pages/FileList.h"

namespace fs = std::filesystem;

namespace {

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Plain loop: what adding costs at the least.
double ProbeLoopMs(const QStringList& paths) {
  QElapsedTimer clock;
  clock.start();
  int accepted = 0;
  for (const QString& path : paths)
    if (tw::ProbeFileEntry(path.toStdString())) ++accepted;
  if (accepted != paths.size()) std::fprintf(stderr, "probe loop accepted %d of %lld\n", accepted, paths.size());
  return clock.nsecsElapsed() / 1e6;
}

struct WindowRun {
  double totalMs = 0;
  double longestGapMs = 0;
};

// The window: a fresh main window, the files handed to the convert page as the dialog would,
// the event loop run until every row is in the list. A 1 ms timer measures the gaps.
WindowRun AddToWindowMs(const QStringList& paths) {
  tw::CMainWnd window;
  QString error;
  if (!window.Create(&error)) {
    std::fprintf(stderr, "window: %s\n", error.toStdString().c_str());
    std::exit(1);
  }
  window.show();
  QCoreApplication::processEvents();
  WindowRun run;
  QElapsedTimer gap;
  QTimer ticker;
  ticker.setInterval(1);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    run.longestGapMs = std::max(run.longestGapMs, gap.nsecsElapsed() / 1e6);
    gap.restart();
  });
  QElapsedTimer clock;
  clock.start();
  gap.start();
  ticker.start();
  window.Convert()->AddFiles(paths);
  while (window.Prober()->Busy()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  run.totalMs = clock.nsecsElapsed() / 1e6;
  ticker.stop();
  if (tw::RowCount(window.Convert()->List()) != paths.size())
    std::fprintf(stderr, "window added %d of %lld\n", tw::RowCount(window.Convert()->List()), paths.size());
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  const int files = argc > 1 ? std::atoi(argv[1]) : 1000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  char tmpl[] = "/tmp/tw-bench-add.XXXXXX";
  const std::string dir = mkdtemp(tmpl);
  setenv("HOME", dir.c_str(), 1);
  setenv("XDG_DATA_HOME", (dir + "/data").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  FLAGS_minloglevel = 2;  // the per-file log lines are not what is measured
  google::InitGoogleLogging(argv[0]);

  // Before any thread starts: one short file made by ffmpeg, copied under many names.
  const std::string source = dir + "/source.wav";
  const std::string make = "ffmpeg -hide_banner -loglevel error -y -f lavfi -i sine=frequency=440:duration=0.5 '" +
                           source + "'";
  if (std::system(make.c_str()) != 0) {
    std::fprintf(stderr, "ffmpeg failed\n");
    return 1;
  }
  QStringList paths;
  for (int i = 0; i < files; ++i) {
    const std::string path = dir + "/file-" + std::to_string(i) + ".wav";
    fs::copy_file(source, path);
    paths << QString::fromStdString(path);
  }

  QApplication app(argc, argv);
  QString error;
  tw::Skin::LoadResources(app, &error);

  // Diagnostic: the window thread's cost per row alone (TW_BENCH_ROWS_ONLY=1).
  if (std::getenv("TW_BENCH_ROWS_ONLY")) {
    tw::CMainWnd window;
    window.Create(&error);
    window.show();
    const auto entry = *tw::ProbeFileEntry(paths[0].toStdString());
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < files; ++i) window.Convert()->AddEntry(entry);
    std::printf("rows only: %.2f ms per row\n", clock.nsecsElapsed() / 1e6 / files);
    clock.restart();
    std::vector<QWidget*> made;
    for (int i = 0; i < files; ++i) made.push_back(tw::MakeRow(*tw::FindRowSpec(tw::OperationKind::Convert), i, nullptr));
    std::printf("MakeRow only: %.2f ms per row\n", clock.nsecsElapsed() / 1e6 / files);
    clock.restart();
    QCoreApplication::processEvents();
    std::printf("first event pass after: %.1f ms\n", clock.nsecsElapsed() / 1e6);
    return 0;
  }
  std::vector<double> ratios, gaps, windowMs, loopMs;
  for (int r = 0; r < rounds; ++r) {
    double loop = 0;
    WindowRun run;
    if (r % 2 == 0) {
      loop = ProbeLoopMs(paths);
      run = AddToWindowMs(paths);
    } else {
      run = AddToWindowMs(paths);
      loop = ProbeLoopMs(paths);
    }
    std::printf("round %d: probe loop %.0f ms, window %.0f ms (ratio %.2f), longest gap %.1f ms\n", r + 1, loop,
                run.totalMs, run.totalMs / loop, run.longestGapMs);
    loopMs.push_back(loop);
    windowMs.push_back(run.totalMs);
    ratios.push_back(run.totalMs / loop);
    gaps.push_back(run.longestGapMs);
  }
  std::printf("%d files, median of %d rounds: probe loop %.0f ms, window %.0f ms\n", files, rounds, Median(loopMs),
              Median(windowMs));
  std::printf("total time ratio (window / plain probe loop): %.2f (goal <= 1.2)\n", Median(ratios));
  std::printf("longest gap in event processing: %.1f ms (goal < 100 ms)\n", Median(gaps));
  fs::remove_all(dir);
  return 0;
}

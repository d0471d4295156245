// Start-up time: from process start to the first paint of the main window, against the floor
// of a bare Qt window that loads one empty layout, both measured here side by side as fresh
// processes (median of several runs each). Runs on the platform QT_QPA_PLATFORM names
// (offscreen when there is no display). The pages not shown at first are built right after the
// first paint; the time until they are all built is reported as well.
//   bench_ui_startup [runs]
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QBuffer>
#include <QUiLoader>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "ui/Application.h"
#include "ui/CMainWnd.h"

extern char** environ;

namespace {

long long NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

// The child reports the moment of its first paint on standard output, after a marker (the
// program writes lines of its own there too), and ends at once.
constexpr const char* kMarker = "tw-first-paint-ns ";

[[noreturn]] void Report() {
  std::printf("\n%s%lld\n", kMarker, NowNs());
  std::fflush(stdout);
  _exit(0);
}

class FirstPaint : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) QMetaObject::invokeMethod(this, [] { Report(); }, Qt::QueuedConnection);
    return false;
  }
};

int RunFloor(int argc, char** argv) {
  QApplication app(argc, argv);
  QByteArray empty = R"(<?xml version="1.0" encoding="UTF-8"?><ui version="4.0"><class>Empty</class>
    <widget class="QWidget" name="Empty"><property name="geometry"><rect><x>0</x><y>0</y><width>1000</width>
    <height>680</height></rect></property></widget></ui>)";
  QBuffer buffer(&empty);
  buffer.open(QIODevice::ReadOnly);
  QUiLoader loader;
  QWidget* w = loader.load(&buffer);
  FirstPaint watch;
  w->installEventFilter(&watch);
  w->show();
  return app.exec();
}

// Milliseconds from spawning `mode` to its first paint; -1 on failure.
double Measure(const char* self, const char* mode) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  char* argv[] = {const_cast<char*>(self), const_cast<char*>(mode), nullptr};
  const long long start = NowNs();
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, self, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    return -1;
  }
  std::string text;
  char buf[64];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  const size_t at = text.find(kMarker);
  if (at == std::string::npos) return -1;
  return (std::atoll(text.c_str() + at + std::strlen(kMarker)) - start) / 1e6;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--floor") return RunFloor(1, argv);
  if (argc > 1 && std::string(argv[1]) == "--main") {
    tw::StartHooks hooks;
    hooks.firstPaint = [](tw::CMainWnd&) { Report(); };
    return tw::RunApplication(1, argv, hooks);
  }
  // Until the pages that are not shown at first are built too (they follow the first paint).
  if (argc > 1 && std::string(argv[1]) == "--ready") {
    tw::StartHooks hooks;
    hooks.firstPaint = [](tw::CMainWnd& window) {
      window.CompletePages();
      Report();
    };
    return tw::RunApplication(1, argv, hooks);
  }

  // Private folders, so that the runs neither see a running Tunewell nor touch the user's.
  char home[] = "/tmp/tw-bench.XXXXXX";
  if (!mkdtemp(home)) return 1;
  const std::string h = home;
  setenv("HOME", h.c_str(), 1);
  setenv("XDG_DATA_HOME", (h + "/data").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (h + "/config").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", h.c_str(), 1);
  if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 1);

  const int runs = argc > 1 ? std::max(3, std::atoi(argv[1])) : 9;
  std::vector<double> floor, main, ready;
  Measure(argv[0], "--floor");  // warm the caches once for both
  Measure(argv[0], "--main");
  for (int i = 0; i < runs; ++i) {
    floor.push_back(Measure(argv[0], "--floor"));
    main.push_back(Measure(argv[0], "--main"));
    ready.push_back(Measure(argv[0], "--ready"));
  }
  const double f = Median(floor), m = Median(main), r = Median(ready);
  std::printf("platform: %s\n", std::getenv("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "default");
  std::printf("floor (bare window, empty layout): median %.1f ms over %d runs\n", f, runs);
  std::printf("tunewell main window:              median %.1f ms over %d runs\n", m, runs);
  std::printf("all nine pages built:              median %.1f ms over %d runs\n", r, runs);
  std::printf("ratio main/floor: %.2f (goal <= 1.5), main %s 300 ms\n", f > 0 ? m / f : 0, m < 300 ? "under" : "over");
  return 0;
}

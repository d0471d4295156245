// Zooming a waveform view (offscreen, 1,600 px of axis) into a 10-second stretch near the end of
// a 2-hour MP3: the time from the wheel notch that reaches 10 s to the paint that shows the real
// values of that stretch (goal < 100 ms), against `ffmpeg -ss ... -t ... -f null -` decoding the
// same stretch, side by side. Median of several rounds, each from the whole-file view.
//
//   bench_ui_wave_zoom [file]   (default: the 2-hour MP3 of bench_waveform in $TW_BENCH_MEDIA_DIR
//                                or /tmp/tw-bench-media, generated when missing)
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QWheelEvent>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ui/CPaintViewUI.h"

extern char** environ;

namespace {

int Run(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return 127;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

std::string LongMp3() {
  const char* env = std::getenv("TW_BENCH_MEDIA_DIR");
  const std::string dir = env && *env ? env : "/tmp/tw-bench-media";
  std::filesystem::create_directories(dir);
  const std::string path = dir + "/two-hours.mp3";
  if (std::filesystem::exists(path)) return path;
  std::printf("generating a 2-hour MP3 (once) ...\n");
  const std::string partial = path + ".partial.mp3";
  if (Run({"ffmpeg",
           "-hide_banner",
           "-loglevel",
           "error",
           "-y",
           "-f",
           "lavfi",
           "-i",
           "sine=frequency=440:sample_rate=44100:duration=7200",
           "-f",
           "lavfi",
           "-i",
           "anoisesrc=color=pink:amplitude=0.05:sample_rate=44100:duration=7200",
           "-filter_complex",
           "amix=inputs=2:normalize=0",
           "-ac",
           "2",
           "-c:a",
           "libmp3lame",
           "-b:a",
           "128k",
           partial}) != 0)
    return {};
  std::filesystem::rename(partial, path);
  return path;
}

class Discard : public tw::MessageSink {
 public:
  void Post(tw::Message) override {}
};

// Notes the paints of the view that show the real values of the stretch in view.
class PaintWatch : public QObject {
 public:
  explicit PaintWatch(tw::CPaintViewUI* view) : view_(view) { view->installEventFilter(this); }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint && view_->ShowsRealValues()) shown = true;
    return false;
  }
  bool shown = false;

 private:
  tw::CPaintViewUI* view_;
};

void Wheel(tw::CPaintViewUI* view, QPointF at) {
  QWheelEvent wheel(at, view->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(view, &wheel);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  const std::string path = argc > 1 ? argv[1] : LongMp3();
  if (path.empty()) {
    std::fprintf(stderr, "could not generate the test file (is ffmpeg installed?)\n");
    return 1;
  }
  Discard owner;
  tw::CPaintViewUI view;
  view.SetOwner(&owner);
  view.resize(1640, 300);
  view.show();
  if (view.LoadWave(path) != 0) {
    std::fprintf(stderr, "the file cannot be read\n");
    return 1;
  }
  while (!view.Reader()->Done()) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  view.SetTotalTime(view.Reader()->Duration());
  const tw::WaveGeometry g = view.Geometry();
  PaintWatch watch(&view);

  std::vector<double> zoomMs, ffmpegMs;
  for (int round = 0; round < 7; ++round) {
    view.ZoomFit();
    QCoreApplication::processEvents();
    // Notch by notch at the end of the axis, as a user does, up to the one that reaches 10 s.
    const QPointF at(g.AxisEnd() - 40 - 30 * round, 150);
    while (view.Model().Visible().length / 1.5 > 10) {
      Wheel(&view, at);
      QCoreApplication::processEvents();
    }
    watch.shown = false;
    QElapsedTimer clock;
    clock.start();
    Wheel(&view, at);
    while (!watch.shown && clock.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    zoomMs.push_back(clock.nsecsElapsed() / 1e6);
    const tw::WaveSpan visible = view.Model().Visible();
    QElapsedTimer base;
    base.start();
    Run({"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-ss", std::to_string(visible.start),
         "-t", std::to_string(visible.length), "-i", path, "-f", "null", "-"});
    ffmpegMs.push_back(base.nsecsElapsed() / 1e6);
    std::printf("round %d: %.2f .. %.2f s on screen after %.1f ms; ffmpeg on that stretch %.1f ms\n",
                round + 1, visible.start, visible.End(), zoomMs.back(), ffmpegMs.back());
  }
  const double zm = Median(zoomMs), fm = Median(ffmpegMs);
  std::printf("\nwheel to the real values on screen: median %.1f ms, worst %.1f ms (goal < 100 ms)\n", zm,
              *std::max_element(zoomMs.begin(), zoomMs.end()));
  std::printf("ffmpeg -ss -t -f null on the same stretch: median %.1f ms; ratio %.3f\n", fm, zm / fm);
  return 0;
}

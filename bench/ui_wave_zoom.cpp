// Zooming a waveform view (offscreen, 1,600 px of axis) into a 10-second stretch near the end of
// a 2-hour MP3: the time from the wheel notch that reaches 10 s to the paint that shows the real
// values of that stretch (goal < 100 ms), against `ffmpeg -ss ... -t ... -f null -` decoding the
// same stretch, side by side. Median of several rounds, each from the whole-file view.
//
//   bench_ui_wave_zoom [file]   (default: the 2-hour MP3 of bench_waveform in $TW_BENCH_MEDIA_DIR
//                                or /tmp/tw-bench-media, generated when missing)
#include <QApplication>
#include <QElapsedTimer>
#include <QWheelEvent>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_common.h"
#include "ui/CPaintViewUI.h"

namespace {

using tw::bench::Median;

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

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  const std::string path = argc > 1 ? argv[1] : tw::bench::TwoHourMp3();
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
    tw::bench::RunProgram({"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-ss",
                           std::to_string(visible.start), "-t", std::to_string(visible.length), "-i", path,
                           "-f", "null", "-"});
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

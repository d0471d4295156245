#include "ui/WaveViewModel.h"

#include <algorithm>
#include <cmath>

#include "app/MediaHelpers.h"
#include "app/Messages.h"

namespace tw {
namespace {

constexpr int kTickCount = 40;        // intervals; 41 ticks
constexpr int kMarkerTopOffset = 40;  // marker lines end this far below the top
constexpr int kHandleTopOffset = 32;  // handles (8 x 8) start this far below the top
constexpr int kHandleSize = 8;
constexpr int kMarkerFootOffset = 14;  // marker lines start this far above the axis
constexpr int kShadeTopOffset = 50;
constexpr int kShadeHeight = 90;
constexpr int kLabelHeight = 20;

WaveShape Line(std::uint32_t argb, float x1, float y1, float x2, float y2) {
  WaveShape s;
  s.kind = WaveShapeKind::Line;
  s.argb = argb;
  s.from = {x1, y1};
  s.to = {x2, y2};
  return s;
}

WaveShape Boxed(WaveShapeKind kind, std::uint32_t argb, WaveBox box) {
  WaveShape s;
  s.kind = kind;
  s.argb = argb;
  s.box = box;
  return s;
}

WaveShape Text(std::string text, WaveAlign align, WaveBox box) {
  WaveShape s = Boxed(WaveShapeKind::Text, kWaveTextColour, box);
  s.text = std::move(text);
  s.align = align;
  return s;
}

WaveBox HandleBoxAt(const WaveGeometry& g, int x) {
  return {static_cast<float>(x - kHandleSize / 2), static_cast<float>(g.top + kHandleTopOffset),
          static_cast<float>(kHandleSize), static_cast<float>(kHandleSize)};
}

}  // namespace

double TimeToX(const WaveGeometry& g, double t, double totalTime) {
  if (!(totalTime > 0)) return g.AxisStart();
  return g.AxisStart() + g.AxisLength() * t / totalTime;
}

double XToTime(const WaveGeometry& g, double x, double totalTime) {
  if (g.AxisLength() <= 0) return 0;
  return (x - g.AxisStart()) / g.AxisLength() * totalTime;
}

int PixelOf(double x) {
  return static_cast<int>(x + (x >= 0 ? 1e-6 : -1e-6));
}

bool InWaveBand(const WaveGeometry& g, int x, int y) {
  return x > g.AxisStart() && x < g.AxisEnd() && y > g.bottom - 140 && y < g.bottom - 20;
}

bool OnTimeAxis(const WaveGeometry& g, int x, int y) {
  return x > g.AxisStart() && x < g.AxisEnd() && y > g.AxisY() - 10 && y < g.AxisY() + 10;
}

std::vector<RulerTick> RulerTicks(const WaveGeometry& g) {
  std::vector<RulerTick> ticks;
  ticks.reserve(kTickCount + 1);
  for (int i = 0; i <= kTickCount; ++i) {
    RulerTick tick;
    tick.x = static_cast<float>(g.AxisStart()) + static_cast<float>(i) * g.AxisLength() / kTickCount;
    tick.major = i % 5 == 0;
    tick.topY = g.AxisY() - (tick.major ? 10 : 4);
    ticks.push_back(tick);
  }
  return ticks;
}

std::vector<WavePointF> WaveformLine(const WaveGeometry& g, const std::vector<std::int32_t>& peaks) {
  std::vector<WavePointF> points;
  if (peaks.empty() || g.AxisLength() <= 0) return points;
  const double step = static_cast<double>(g.AxisLength()) / static_cast<double>(peaks.size());
  const float middle = static_cast<float>(g.top + g.Height() / 2);
  const double start = g.AxisStart();
  const double end = g.AxisEnd();
  points.reserve(peaks.size() + 1);
  points.push_back({static_cast<float>(start), middle});
  for (size_t k = 0; k < peaks.size(); ++k) {
    // Each point from its own index, so no rounding piles up along the axis.
    const double x = std::min(end, start + step * static_cast<double>(k + 1));
    if (start + step * static_cast<double>(k + 1) > end + 1e-6) break;
    points.push_back({static_cast<float>(x), static_cast<float>(peaks[k]) / 1000.0f + middle});
  }
  return points;
}

void WaveViewModel::ResetView() {
  mouseDown_ = dragging_ = leftDragging_ = rightDragging_ = false;
  leftChosen = rightChosen = false;
  leftPoint_ = rightPoint_ = WavePoint{};
  totalTime = 0;
  playTime = 0;
}

void WaveViewModel::ShowSelection(double left, double right) {
  leftChosen = rightChosen = true;
  leftTime = left;
  rightTime = right;
  // A point only stands in for a time of 0; start that one at the axis start again.
  if (!(left > kWaveTimeEpsilon)) leftPoint_ = WavePoint{};
  if (!(right > kWaveTimeEpsilon)) rightPoint_ = WavePoint{};
}

std::vector<WaveEvent> WaveViewModel::PlaceMarkers(const WaveGeometry& g) {
  std::vector<WaveEvent> events;
  const int start = g.AxisStart();
  const int end = g.AxisEnd();
  // A marker not chosen yet sits at its axis end, wherever a resize has put that.
  if (leftPoint_ == WavePoint{} || !(leftChosen || leftDragging_))
    leftPoint_ = {start, g.top + kMarkerTopOffset};
  if (rightPoint_ == WavePoint{} || !(rightChosen || rightDragging_))
    rightPoint_ = {end, g.top + kMarkerTopOffset};
  leftHandleBox_ = HandleBoxAt(g, start);
  rightHandleBox_ = HandleBoxAt(g, end);
  const bool timeKnown = totalTime > kWaveTimeEpsilon;

  if (leftDragging_ || leftChosen) {
    int x = leftPoint_.x;
    if (leftDragging_)
      x = cursor_.x;
    else if (leftTime > kWaveTimeEpsilon)
      x = PixelOf(TimeToX(g, leftTime, totalTime));
    rightPoint_.x = std::max(rightPoint_.x, start);
    x = std::clamp(x, start, rightPoint_.x);
    leftPoint_.x = x;
    leftHandleBox_ = HandleBoxAt(g, x);
    if (mouseDown_ && leftDragging_ && timeKnown) {
      leftTime = XToTime(g, x, totalTime);
      events.push_back({WM_CUT_START, leftTime});
    }
  }
  if (rightDragging_ || rightChosen) {
    int x = rightPoint_.x;
    if (rightDragging_)
      x = cursor_.x;
    else if (rightTime > kWaveTimeEpsilon)
      x = PixelOf(TimeToX(g, rightTime, totalTime));
    x = std::clamp(x, std::min(leftPoint_.x, end), end);
    rightPoint_.x = x;
    rightHandleBox_ = HandleBoxAt(g, x);
    if (mouseDown_ && rightDragging_ && timeKnown) {
      rightTime = XToTime(g, x, totalTime);
      events.push_back({WM_CUT_END, rightTime});
    }
  }
  return events;
}

std::vector<WaveEvent> WaveViewModel::MouseDown(const WaveGeometry& g, int x, int y) {
  mouseDown_ = true;
  cursor_ = {x, y};
  PlaceMarkers(g);  // the handles where the control shows them now
  if (!InWaveBand(g, x, y)) return {};
  clickTime = XToTime(g, x, totalTime);
  return {{WM_WAVE_CLICK, clickTime}};
}

std::vector<WaveEvent> WaveViewModel::MouseMove(const WaveGeometry& g, int x, int y) {
  cursor_ = {x, y};
  if (!mouseDown_) return {};
  if (dragging_) return PlaceMarkers(g);
  if (leftHandleBox_.Contains(x, y)) {
    dragging_ = leftDragging_ = leftChosen = true;
    return {{WM_LEFT_MARKER_GRAB, 0}};
  }
  if (rightHandleBox_.Contains(x, y)) {
    dragging_ = rightDragging_ = rightChosen = true;
    return {{WM_RIGHT_MARKER_GRAB, 0}};
  }
  return {};
}

std::vector<WaveEvent> WaveViewModel::MouseUp(const WaveGeometry&, int x, int y) {
  cursor_ = {x, y};
  mouseDown_ = false;
  std::vector<WaveEvent> events;
  // The released marker stays where its last move placed it, the place of its last time.
  if (dragging_ && leftDragging_) events.push_back({WM_LEFT_MARKER_RELEASE, 0});
  if (dragging_ && rightDragging_) events.push_back({WM_RIGHT_MARKER_RELEASE, 0});
  dragging_ = leftDragging_ = rightDragging_ = false;
  return events;
}

std::vector<WaveShape> WaveViewModel::Layout(const WaveGeometry& g, const std::vector<std::int32_t>* peaks) {
  std::vector<WaveShape> shapes;
  const float start = static_cast<float>(g.AxisStart());
  const float end = static_cast<float>(g.AxisEnd());
  const float axisY = static_cast<float>(g.AxisY());
  const float labelY = static_cast<float>(g.bottom - kLabelHeight);
  const float markerTop = static_cast<float>(g.top + kMarkerTopOffset);
  const float markerFoot = axisY - kMarkerFootOffset;

  // 1.-2. The axis, its ticks and the two labels at its ends.
  shapes.push_back(Line(kWaveAxisColour, start, axisY, end, axisY));
  const std::vector<RulerTick> ticks = RulerTicks(g);
  for (const RulerTick& tick : ticks)
    shapes.push_back(Line(kWaveAxisColour, tick.x, axisY, tick.x, static_cast<float>(tick.topY)));
  shapes.push_back(Text("00:00:00", WaveAlign::Right, {ticks.front().x - 35, labelY, 70, kLabelHeight}));
  shapes.push_back(
      Text(FormatTimeText(totalTime), WaveAlign::Left, {ticks.back().x - 55, labelY, 80, kLabelHeight}));

  // 3. The play cursor, kept on the axis when the position runs past the known duration.
  if (playTime >= 0 && totalTime > 0) {
    const int length = std::max(0, g.AxisLength());
    const int c = std::clamp(PixelOf(length * playTime / totalTime), 0, length);
    const float cx = start + static_cast<float>(c);
    shapes.push_back(Line(kWavePlayColour, start, axisY, cx, axisY));
    shapes.push_back(Boxed(WaveShapeKind::Ellipse, kWaveCursorOuterColour, {cx - 5, axisY - 5, 10, 10}));
    shapes.push_back(Boxed(WaveShapeKind::Ellipse, kWaveHandleColour, {cx - 2, axisY - 2, 4, 4}));
    shapes.push_back(Text(FormatTimeText(playTime), WaveAlign::Right,
                          {static_cast<float>(g.left + (g.Width() - 90) / 2), labelY, 90, kLabelHeight}));
  }

  // 4. The end markers.
  for (float x : {start, end}) {
    shapes.push_back(Line(kWaveAxisColour, x, markerFoot, x, markerTop));
    shapes.push_back(Boxed(WaveShapeKind::Ellipse, kWaveAxisColour, HandleBoxAt(g, static_cast<int>(x))));
  }

  // 5. The waveform.
  if (peaks && !peaks->empty()) {
    WaveShape wave;
    wave.kind = WaveShapeKind::Polyline;
    wave.argb = kWaveAxisColour;
    wave.points = WaveformLine(g, *peaks);
    shapes.push_back(std::move(wave));
  }

  // 6.-8. The chosen markers and the shading outside the selection.
  PlaceMarkers(g);
  const float shadeTop = static_cast<float>(g.top + kShadeTopOffset);
  if (leftDragging_ || leftChosen) {
    const float x = static_cast<float>(leftPoint_.x);
    shapes.push_back(
        Boxed(WaveShapeKind::Rect, kWaveShadeColour, {start, shadeTop, x - start, kShadeHeight}));
    shapes.push_back(Line(kWavePlayColour, x, markerFoot, x, markerTop));
    shapes.push_back(Boxed(WaveShapeKind::Ellipse, kWaveHandleColour, leftHandleBox_));
  }
  if (rightDragging_ || rightChosen) {
    const float x = static_cast<float>(rightPoint_.x);
    shapes.push_back(Boxed(WaveShapeKind::Rect, kWaveShadeColour, {x, shadeTop, end - x, kShadeHeight}));
    shapes.push_back(Line(kWavePlayColour, x, markerFoot, x, markerTop));
    shapes.push_back(Boxed(WaveShapeKind::Ellipse, kWaveHandleColour, rightHandleBox_));
  }
  return shapes;
}

}  // namespace tw

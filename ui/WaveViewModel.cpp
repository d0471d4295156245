#include "ui/WaveViewModel.h"

#include <QtCore/qnamespace.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

#include "app/MediaHelpers.h"
#include "app/Messages.h"

namespace tw {
namespace {

constexpr int kTickCount = 40;        // intervals; 41 ticks
constexpr int kHandleTopOffset = 32;  // handles (8 x 8) start this far below the top
constexpr int kHandleSize = 8;
constexpr int kLabelHeight = 20;
constexpr double kWheelZoomPerNotch = 1.5;
constexpr double kWheelScrollPerNotch = 0.1;  // of the stretch in view
constexpr double kCoarseStepMax = 5.0;
constexpr double kFineStepMin = 0.01;
// A quiet file is magnified until its loudest sample reaches this share of full scale.
constexpr double kQuietPeakShown = 0.5;
constexpr double kMaxGain = 64;
// A marker off the axis cannot be taken.
constexpr int kNowhere = INT_MIN / 2;

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

bool OnAxis(const WaveGeometry& g, int x) {
  return x >= g.AxisStart() && x <= g.AxisEnd();
}

// The filled envelope: one polygon per run of columns with values, its upper edge left to right
// and its lower edge back, at least a pixel thick so that silence shows as a line.
void AddEnvelope(const WaveGeometry& g, const std::vector<WaveColumn>& columns, double gain,
                 std::vector<WaveShape>* shapes) {
  const float x0 = static_cast<float>(g.AxisStart()) + 0.5f;
  std::size_t c = 0;
  while (c < columns.size()) {
    if (!columns[c].has) {
      ++c;
      continue;
    }
    std::size_t end = c;
    while (end < columns.size() && columns[end].has) ++end;
    WaveShape shape;
    shape.kind = WaveShapeKind::Polygon;
    shape.argb = kWaveAxisColour;
    std::vector<float> tops, bottoms;
    for (std::size_t k = c; k < end; ++k) {
      // Where the values are sparser than the pixels (a column holds one sample), each column
      // reaches to its neighbour's value, so that the samples join into one trace.
      int hi = columns[k].hi, lo = columns[k].lo;
      for (std::size_t n : {k - 1, k + 1}) {
        if (n < c || n >= end) continue;
        hi = std::max(hi, (hi + columns[n].lo) / 2);
        lo = std::min(lo, (lo + columns[n].hi) / 2);
      }
      float top = ValueToY(g, hi, gain);
      float bottom = ValueToY(g, lo, gain);
      if (bottom - top < 1) {
        const float middle = (top + bottom) / 2;
        top = middle - 0.5f;
        bottom = middle + 0.5f;
      }
      tops.push_back(top);
      bottoms.push_back(bottom);
    }
    for (std::size_t k = c; k < end; ++k) shape.points.push_back({x0 + static_cast<float>(k), tops[k - c]});
    if (end - c == 1) shape.points.push_back({x0 + static_cast<float>(c) + 0.5f, tops[0]});
    if (end - c == 1) shape.points.push_back({x0 + static_cast<float>(c) + 0.5f, bottoms[0]});
    for (std::size_t k = end; k-- > c;) shape.points.push_back({x0 + static_cast<float>(k), bottoms[k - c]});
    shapes->push_back(std::move(shape));
    c = end;
  }
}

}  // namespace

double TimeToX(const WaveGeometry& g, double t, WaveSpan visible) {
  if (!(visible.length > 0)) return g.AxisStart();
  return g.AxisStart() + g.AxisLength() * (t - visible.start) / visible.length;
}

double XToTime(const WaveGeometry& g, double x, WaveSpan visible) {
  if (g.AxisLength() <= 0) return visible.start;
  return visible.start + (x - g.AxisStart()) / g.AxisLength() * visible.length;
}

int PixelOf(double x) {
  return static_cast<int>(x + (x >= 0 ? 1e-6 : -1e-6));
}

bool InWaveBand(const WaveGeometry& g, int x, int y) {
  return x > g.AxisStart() && x < g.AxisEnd() && y > g.top + 30 && y < g.bottom - 20;
}

bool OnTimeAxis(const WaveGeometry& g, int x, int y) {
  return x > g.AxisStart() && x < g.AxisEnd() && y > g.AxisY() - 10 && y < g.AxisY() + 10;
}

bool OnLabelStrip(const WaveGeometry& g, int x, int y) {
  return x >= g.left && x < g.right && y >= g.bottom - kLabelHeight && y < g.bottom;
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

float ValueToY(const WaveGeometry& g, double value, double gain) {
  const double middle = (g.BandTop() + g.BandBottom()) / 2.0;
  const double half = (g.BandBottom() - g.BandTop()) / 2.0;
  return static_cast<float>(middle - std::clamp(value * gain, -32768.0, 32768.0) / 32768.0 * half);
}

double GainForPeak(int peak) {
  if (peak <= 0) return 1;
  return std::clamp(kQuietPeakShown * 32768.0 / peak, 1.0, kMaxGain);
}

double WaveBucketSlack(const WaveEnvelope& envelope) {
  return std::min(0.45, 0.5 / std::max(1.0, envelope.samplesPerBucket) + 1e-3);
}

std::vector<WaveColumn> EnvelopeColumns(const WaveGeometry& g, WaveSpan visible,
                                        const std::vector<const WaveEnvelope*>& sources) {
  const int count = std::max(0, g.AxisLength());
  std::vector<WaveColumn> columns(static_cast<std::size_t>(count));
  if (!(visible.length > 0) || count == 0) return columns;
  const double perColumn = visible.length / count;
  for (int c = 0; c < count; ++c) {
    const double t0 = visible.start + c * perColumn;
    const double t1 = t0 + perColumn;
    for (auto it = sources.rbegin(); it != sources.rend(); ++it) {
      const WaveEnvelope* e = *it;
      if (!e || e->Empty() || !(e->SecondsPerBucket() > 0)) continue;
      const double perBucket = e->SecondsPerBucket();
      const auto last = static_cast<std::int64_t>(e->Size()) - 1;
      // The buckets the column overlaps; a column narrower than a bucket takes the one it lies
      // in. Bucket edges fall on whole samples: an edge within half a sample of the column's
      // counts as met.
      const double slack = WaveBucketSlack(*e);
      const auto first = static_cast<std::int64_t>(std::floor((t0 - e->startSec) / perBucket + slack));
      auto end = static_cast<std::int64_t>(std::ceil((t1 - e->startSec) / perBucket - slack)) - 1;
      end = std::max(end, first);
      if (end < 0 || first > last) continue;  // not this source's time
      WaveColumn column;
      for (std::int64_t b = std::max<std::int64_t>(first, 0); b <= std::min(end, last); ++b) {
        const auto i = static_cast<std::size_t>(b);
        if (e->mins[i] > e->maxs[i]) continue;  // a bucket without samples
        column.lo = column.has ? std::min(column.lo, e->mins[i]) : e->mins[i];
        column.hi = column.has ? std::max(column.hi, e->maxs[i]) : e->maxs[i];
        column.has = true;
      }
      columns[static_cast<std::size_t>(c)] = column;
      break;
    }
  }
  return columns;
}

WaveMarker HitMarker(const WaveGeometry& g, int x, int y, int leftX, int rightX) {
  if (y < g.top + kHandleTopOffset - kWaveMarkerReach || y > g.AxisY() - 10) return WaveMarker::None;
  const int toLeft = std::abs(x - leftX);
  const int toRight = std::abs(x - rightX);
  const bool left = toLeft <= kWaveMarkerReach;
  const bool right = toRight <= kWaveMarkerReach;
  if (!left && !right) return WaveMarker::None;
  if (left != right) return left ? WaveMarker::Left : WaveMarker::Right;
  if (toLeft != toRight || leftX != rightX) return toLeft <= toRight ? WaveMarker::Left : WaveMarker::Right;
  // Both on one pixel: the side of the press, or the one with more room to move.
  if (x != leftX) return x < leftX ? WaveMarker::Left : WaveMarker::Right;
  return leftX - g.AxisStart() >= g.AxisEnd() - rightX ? WaveMarker::Left : WaveMarker::Right;
}

WaveKey WaveKeyFor(int key, bool shift, bool ctrl, bool inTextEntry) {
  if (ctrl) {
    switch (key) {
      case Qt::Key_Equal:
      case Qt::Key_Plus:
        return WaveKey::ZoomIn;
      case Qt::Key_Minus:
      case Qt::Key_Underscore:
        return WaveKey::ZoomOut;
      case Qt::Key_0:
        return WaveKey::ZoomFit;
      default:
        return WaveKey::None;
    }
  }
  if (inTextEntry) return WaveKey::None;
  switch (key) {
    case Qt::Key_Space:
      return shift ? WaveKey::None : WaveKey::PlayPause;
    case Qt::Key_Left:
      return shift ? WaveKey::FineBack : WaveKey::Back;
    case Qt::Key_Right:
      return shift ? WaveKey::FineForward : WaveKey::Forward;
    case Qt::Key_Home:
      return WaveKey::ToStart;
    case Qt::Key_End:
      return WaveKey::ToEnd;
    case Qt::Key_I:
      return WaveKey::MarkStart;
    case Qt::Key_O:
      return WaveKey::MarkEnd;
    case Qt::Key_BracketLeft:
      return WaveKey::JumpToStart;
    case Qt::Key_BracketRight:
      return WaveKey::JumpToEnd;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return shift ? WaveKey::None : WaveKey::Export;
    default:
      return WaveKey::None;
  }
}

// ---- The model ------------------------------------------------------------------------

void WaveViewModel::ResetView() {
  mouseDown_ = dragging_ = leftDragging_ = rightDragging_ = panning_ = false;
  leftChosen = rightChosen = false;
  leftPoint_ = rightPoint_ = WavePoint{};
  viewStart_ = viewLength_ = 0;
  totalTime = 0;
  playTime = 0;
}

WaveSpan WaveViewModel::Visible() const {
  const double total = std::max(0.0, totalTime);
  if (!(viewLength_ > 0) || viewLength_ >= total) return {0, total};
  return {std::clamp(viewStart_, 0.0, total - viewLength_), viewLength_};
}

bool WaveViewModel::Zoomed() const {
  return Visible().length < totalTime;
}

double WaveViewModel::MinLength(const WaveGeometry& g) const {
  return kWaveMinSecondsPerPixel * std::max(1, g.AxisLength());
}

bool WaveViewModel::ZoomAt(const WaveGeometry& g, double x, double factor) {
  if (!TimeKnown() || !(factor > 0) || g.AxisLength() <= 0) return false;
  const WaveSpan before = Visible();
  const double anchorX = std::clamp(x, static_cast<double>(g.AxisStart()), static_cast<double>(g.AxisEnd()));
  const double anchor = XToTime(g, anchorX, before);
  const double length = std::clamp(before.length / factor, std::min(MinLength(g), totalTime), totalTime);
  if (length >= totalTime) {
    viewStart_ = viewLength_ = 0;
  } else {
    viewLength_ = length;
    viewStart_ = anchor - (anchorX - g.AxisStart()) / g.AxisLength() * length;
  }
  viewStart_ = Visible().start;
  return !(Visible() == before);
}

void WaveViewModel::ZoomFit() {
  viewStart_ = viewLength_ = 0;
}

void WaveViewModel::ScrollTo(double startSec) {
  if (!Zoomed()) return;
  viewStart_ = startSec;
  viewStart_ = Visible().start;
}

bool WaveViewModel::EnsureVisible(double t) {
  const WaveSpan view = Visible();
  if (!Zoomed() || (t >= view.start && t < view.End())) return false;
  ScrollTo(t - view.length * 0.1);
  return true;
}

bool WaveViewModel::Wheel(const WaveGeometry& g, double x, int angleY, int angleX, bool shift) {
  const int sideways = angleX != 0 ? angleX : (shift ? angleY : 0);
  if (sideways != 0) {
    const WaveSpan before = Visible();
    ScrollTo(before.start - sideways / 120.0 * kWheelScrollPerNotch * before.length);
    return !(Visible() == before);
  }
  if (angleY == 0) return false;
  return ZoomAt(g, x, std::pow(kWheelZoomPerNotch, angleY / 120.0));
}

double WaveViewModel::StepSeconds(const WaveGeometry& g, bool fine) const {
  const double length = Visible().length;
  const double pixel = std::max(kFineStepMin, length / std::max(1, g.AxisLength()));
  return fine ? pixel : std::clamp(length / 10, pixel, kCoarseStepMax);
}

void WaveViewModel::ShowSelection(double left, double right) {
  leftChosen = rightChosen = true;
  leftTime = left;
  rightTime = right;
}

std::vector<WaveEvent> WaveViewModel::PlaceMarkers(const WaveGeometry& g) {
  std::vector<WaveEvent> events;
  const int start = g.AxisStart();
  const int end = g.AxisEnd();
  const int y = g.MarkerTop();
  if (!TimeKnown()) {
    // No time to place them by: a marker stays where it was left on the axis.
    if (leftPoint_ == WavePoint{} || !(leftChosen || leftDragging_)) leftPoint_ = {start, y};
    if (rightPoint_ == WavePoint{} || !(rightChosen || rightDragging_)) rightPoint_ = {end, y};
    if (leftDragging_)
      leftPoint_.x = std::clamp(cursor_.x + grabOffset_, start, std::max(start, rightPoint_.x));
    if (rightDragging_) rightPoint_.x = std::clamp(cursor_.x + grabOffset_, std::min(leftPoint_.x, end), end);
  } else {
    const WaveSpan view = Visible();
    const auto xOf = [&](double t) { return PixelOf(TimeToX(g, t, view)); };
    const auto dragged = [&](double lo, double hi) {
      const int x = std::clamp(cursor_.x + grabOffset_, start, end);
      return std::clamp(XToTime(g, x, view), lo, hi);
    };
    double right = rightChosen ? std::clamp(rightTime, 0.0, totalTime) : totalTime;
    double left = leftChosen ? std::clamp(leftTime, 0.0, totalTime) : 0.0;
    if (leftDragging_) {
      left = dragged(0, right);
      if (mouseDown_) {
        leftTime = left;
        events.push_back({WM_CUT_START, leftTime});
      }
    } else if (rightDragging_) {
      right = dragged(left, totalTime);
      if (mouseDown_) {
        rightTime = right;
        events.push_back({WM_CUT_END, rightTime});
      }
    }
    left = std::min(left, right);
    leftPoint_ = {xOf(left), y};
    rightPoint_ = {xOf(right), y};
  }
  leftHandleBox_ = HandleBoxAt(g, leftPoint_.x);
  rightHandleBox_ = HandleBoxAt(g, rightPoint_.x);
  return events;
}

WaveMarker WaveViewModel::MarkerAt(const WaveGeometry& g, int x, int y) {
  PlaceMarkers(g);
  return HitMarker(g, x, y, OnAxis(g, leftPoint_.x) ? leftPoint_.x : kNowhere,
                   OnAxis(g, rightPoint_.x) ? rightPoint_.x : kNowhere);
}

std::vector<WaveEvent> WaveViewModel::MouseDown(const WaveGeometry& g, int x, int y, bool pan) {
  mouseDown_ = true;
  cursor_ = {x, y};
  if (pan || (Zoomed() && OnLabelStrip(g, x, y))) {
    panning_ = Zoomed();
    panFromX_ = x;
    panFromStart_ = Visible().start;
    return {};
  }
  switch (MarkerAt(g, x, y)) {
    case WaveMarker::Left:
      dragging_ = leftDragging_ = leftChosen = true;
      grabOffset_ = leftPoint_.x - x;
      return {{WM_LEFT_MARKER_GRAB, 0}};
    case WaveMarker::Right:
      dragging_ = rightDragging_ = rightChosen = true;
      grabOffset_ = rightPoint_.x - x;
      return {{WM_RIGHT_MARKER_GRAB, 0}};
    case WaveMarker::None:
      break;
  }
  if (!InWaveBand(g, x, y)) return {};
  clickTime = XToTime(g, x, Visible());
  return {{WM_WAVE_CLICK, clickTime}};
}

std::vector<WaveEvent> WaveViewModel::MouseMove(const WaveGeometry& g, int x, int y) {
  cursor_ = {x, y};
  if (!mouseDown_) return {};
  if (panning_) {
    const double perPixel = Visible().length / std::max(1, g.AxisLength());
    ScrollTo(panFromStart_ - (x - panFromX_) * perPixel);
    return {};
  }
  if (dragging_) return PlaceMarkers(g);
  return {};
}

std::vector<WaveEvent> WaveViewModel::MouseUp(const WaveGeometry& g, int x, int y) {
  cursor_ = {x, y};
  std::vector<WaveEvent> events;
  if (dragging_) events = PlaceMarkers(g);
  mouseDown_ = false;
  if (dragging_ && leftDragging_) events.push_back({WM_LEFT_MARKER_RELEASE, 0});
  if (dragging_ && rightDragging_) events.push_back({WM_RIGHT_MARKER_RELEASE, 0});
  dragging_ = leftDragging_ = rightDragging_ = panning_ = false;
  return events;
}

std::vector<WaveShape> WaveViewModel::Layout(const WaveGeometry& g,
                                             const std::vector<const WaveEnvelope*>& sources) {
  std::vector<WaveShape> shapes;
  const WaveSpan view = Visible();
  const float start = static_cast<float>(g.AxisStart());
  const float end = static_cast<float>(g.AxisEnd());
  const float axisY = static_cast<float>(g.AxisY());
  const float labelY = static_cast<float>(g.bottom - kLabelHeight);
  const float markerTop = static_cast<float>(g.MarkerTop());
  const float markerFoot = static_cast<float>(g.MarkerFoot());

  // The axis, its ticks and the labels of the stretch's two ends.
  shapes.push_back(Line(kWaveAxisColour, start, axisY, end, axisY));
  const std::vector<RulerTick> ticks = RulerTicks(g);
  for (const RulerTick& tick : ticks)
    shapes.push_back(Line(kWaveAxisColour, tick.x, axisY, tick.x, static_cast<float>(tick.topY)));
  if (view.start > 0)  // a zoomed stretch: its start with hundredths, from the control's edge
    shapes.push_back(Text(FormatTimeText(view.start), WaveAlign::Left,
                          {static_cast<float>(g.left), labelY, 90, kLabelHeight}));
  else
    shapes.push_back(Text("00:00:00", WaveAlign::Right, {ticks.front().x - 35, labelY, 70, kLabelHeight}));
  shapes.push_back(
      Text(FormatTimeText(view.End()), WaveAlign::Left, {ticks.back().x - 55, labelY, 80, kLabelHeight}));

  // The play cursor on the axis: its line up to the position, the dot where the position is in
  // view (at the axis end for a position past the known duration).
  if (playTime >= 0 && totalTime > 0) {
    const int length = std::max(0, g.AxisLength());
    const double shown = std::min(playTime, totalTime);
    const int c = PixelOf(TimeToX(g, shown, view)) - g.AxisStart();
    if (c >= 0) {
      const float cx = start + static_cast<float>(std::min(c, length));
      shapes.push_back(Line(kWavePlayColour, start, axisY, cx, axisY));
      if (c <= length) {
        shapes.push_back(Boxed(WaveShapeKind::Ellipse, kWaveCursorOuterColour, {cx - 5, axisY - 5, 10, 10}));
        shapes.push_back(Boxed(WaveShapeKind::Ellipse, kWaveHandleColour, {cx - 2, axisY - 2, 4, 4}));
      }
    }
    shapes.push_back(Text(FormatTimeText(playTime), WaveAlign::Right,
                          {static_cast<float>(g.left + (g.Width() - 90) / 2), labelY, 90, kLabelHeight}));
  }

  // The end markers at the file's ends, where they are in view.
  const int fileStartX = TimeKnown() ? PixelOf(TimeToX(g, 0, view)) : g.AxisStart();
  const int fileEndX = TimeKnown() ? PixelOf(TimeToX(g, totalTime, view)) : g.AxisEnd();
  for (int x : {fileStartX, fileEndX}) {
    if (!OnAxis(g, x)) continue;
    const float fx = static_cast<float>(x);
    shapes.push_back(Line(kWaveAxisColour, fx, markerFoot, fx, markerTop));
    shapes.push_back(Boxed(WaveShapeKind::Ellipse, kWaveAxisColour, HandleBoxAt(g, x)));
  }

  // The waveform, and how much it is magnified.
  AddEnvelope(g, EnvelopeColumns(g, view, sources), gain, &shapes);
  if (gain > 1.001) {
    char text[16];
    std::snprintf(text, sizeof text, gain < 10 ? "×%.1f" : "×%.0f", gain);
    shapes.push_back(
        Text(text, WaveAlign::Left, {start + 4, static_cast<float>(g.BandTop()), 60, kLabelHeight}));
  }

  // The chosen markers and the shading outside the selection, cut to the axis.
  PlaceMarkers(g);
  const float shadeTop = static_cast<float>(g.BandTop());
  const float shadeHeight = axisY - shadeTop;
  const auto clampX = [&](int x) { return std::clamp(static_cast<float>(x), start, end); };
  const float fileStart = clampX(fileStartX);
  const float fileEnd = clampX(fileEndX);
  if (leftDragging_ || leftChosen) {
    const float x = clampX(leftPoint_.x);
    if (x > fileStart)
      shapes.push_back(
          Boxed(WaveShapeKind::Rect, kWaveShadeColour, {fileStart, shadeTop, x - fileStart, shadeHeight}));
    if (OnAxis(g, leftPoint_.x)) {
      shapes.push_back(Line(kWavePlayColour, x, markerFoot, x, markerTop));
      shapes.push_back(Boxed(WaveShapeKind::Ellipse, kWaveHandleColour, leftHandleBox_));
    }
  }
  if (rightDragging_ || rightChosen) {
    const float x = clampX(rightPoint_.x);
    if (fileEnd > x)
      shapes.push_back(Boxed(WaveShapeKind::Rect, kWaveShadeColour, {x, shadeTop, fileEnd - x, shadeHeight}));
    if (OnAxis(g, rightPoint_.x)) {
      shapes.push_back(Line(kWavePlayColour, x, markerFoot, x, markerTop));
      shapes.push_back(Boxed(WaveShapeKind::Ellipse, kWaveHandleColour, rightHandleBox_));
    }
  }
  return shapes;
}

}  // namespace tw

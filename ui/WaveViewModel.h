// The waveform view without any drawing or widget: the measures of the control's rectangle
// (time axis, ruler, waveform band, marker handles), the two markers and the mouse gestures
// that move them, and the shapes one paint draws, in drawing order. CPaintViewUI wraps it with
// Qt (mouse events in, messages out, shapes onto a QPainter); tests drive it directly.
// Coordinates are the control's own pixels, times are seconds. Window thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tw {

// ARGB colours of the view.
inline constexpr std::uint32_t kWaveAxisColour = 0xFF27B765;  // axis, ticks, waveform, end markers
inline constexpr std::uint32_t kWaveTextColour = 0xBE27B765;  // labels
inline constexpr std::uint32_t kWavePlayColour = 0xFFFF9800;  // play line, selection marker lines
inline constexpr std::uint32_t kWaveCursorOuterColour = 0x64FF9800;
inline constexpr std::uint32_t kWaveHandleColour = 0xBEFF9800;  // cursor inner dot, selection handles
inline constexpr std::uint32_t kWaveShadeColour = 0x3CFF9800;   // outside the selection

// Times at or below this count as "not set" for markers and as "unknown" for the total time.
inline constexpr double kWaveTimeEpsilon = 0.00001;

struct WavePoint {
  int x = -1;
  int y = -1;
  bool operator==(const WavePoint&) const = default;
};

struct WavePointF {
  float x = 0;
  float y = 0;
};

struct WaveBox {
  float x = 0, y = 0, w = 0, h = 0;
  // Edges included.
  bool Contains(double px, double py) const { return px >= x && px <= x + w && py >= y && py <= y + h; }
  bool operator==(const WaveBox&) const = default;
};

// The control's rectangle and what is measured from it: the time axis runs from AxisStart()
// to AxisEnd() on the line AxisY(), 30 px above the bottom edge.
struct WaveGeometry {
  int left = 0, top = 0, right = 0, bottom = 0;
  int margin = 20;
  int baselineOffset = 30;

  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  int AxisStart() const { return left + margin; }
  int AxisEnd() const { return right - margin; }
  int AxisLength() const { return Width() - 2 * margin; }
  int AxisY() const { return bottom - baselineOffset; }
};

// Position of time t on the axis; the axis start when the total time is not positive.
double TimeToX(const WaveGeometry& g, double t, double totalTime);
// Time of position x on the axis; 0 for an axis without length.
double XToTime(const WaveGeometry& g, double x, double totalTime);
// A position as a whole pixel: cut towards zero, without losing a pixel to rounding error
// (the x of a time computed from that same x stays put).
int PixelOf(double x);

// The band where a button-down seeks: strictly inside the axis ends, from 140 to 20 px above
// the bottom edge (exclusive).
bool InWaveBand(const WaveGeometry& g, int x, int y);
// Within 10 px of the axis line between its ends (exclusive): the hand cursor shows.
bool OnTimeAxis(const WaveGeometry& g, int x, int y);

// The ruler: 41 ticks over the axis, every fifth one 10 px tall, the others 4 px.
struct RulerTick {
  float x = 0;
  int topY = 0;
  bool major = false;
};
std::vector<RulerTick> RulerTicks(const WaveGeometry& g);

// The waveform line through the values, drawn downwards for positive values (value ÷ 1000
// px from the middle line), starting at the axis start on the middle line; it ends before a
// point that would lie past the axis end.
std::vector<WavePointF> WaveformLine(const WaveGeometry& g, const std::vector<std::int32_t>& peaks);

enum class WaveShapeKind { Line, Polyline, Ellipse, Rect, Text };
enum class WaveAlign { Left, Right };

// One drawing step. Line: from..to. Polyline: points. Ellipse, Rect (filled) and Text: box.
struct WaveShape {
  WaveShapeKind kind = WaveShapeKind::Line;
  std::uint32_t argb = 0;
  WavePointF from, to;
  WaveBox box;
  std::vector<WavePointF> points;
  std::string text;
  WaveAlign align = WaveAlign::Left;
};

// A message the view posts to its owner, with its seconds (0 for those without).
struct WaveEvent {
  unsigned message = 0;  // WM_CUT_START ... WM_WAVE_CLICK
  double seconds = 0;
  bool operator==(const WaveEvent&) const = default;
};

class WaveViewModel {
 public:
  WaveViewModel() { ResetView(); }

  // Every flag false, both markers back at the axis ends, total time and play time 0. The
  // marker and click times keep their values.
  void ResetView();
  void SetTotalTime(double seconds) { totalTime = seconds; }

  // The mouse gestures with the cursor in control coordinates; the messages to post, in order.
  // Button down: in the waveform band, a click at that time. A move with the button down
  // grabs a marker whose handle holds the cursor (the left one first), or moves the grabbed
  // marker (its new time once the total time is known). Button up releases it.
  std::vector<WaveEvent> MouseDown(const WaveGeometry& g, int x, int y);
  std::vector<WaveEvent> MouseMove(const WaveGeometry& g, int x, int y);
  std::vector<WaveEvent> MouseUp(const WaveGeometry& g, int x, int y);

  // The shapes of one paint, in drawing order: axis, ticks and their labels, play cursor, end
  // markers, waveform (when peaks is given and not empty), then the chosen markers with the
  // shading outside the selection. Places the markers as drawn (points and handle boxes).
  std::vector<WaveShape> Layout(const WaveGeometry& g, const std::vector<std::int32_t>* peaks);

  // Shows a chosen stretch: both markers chosen at these times; a time of 0 puts its marker
  // at the axis start.
  void ShowSelection(double left, double right);

  // Written directly by the owner, as the view's marker times are.
  double leftTime = 0;
  double rightTime = 0;
  double clickTime = 0;
  double playTime = 0;  // negative hides the play cursor
  double totalTime = 0;
  bool leftChosen = false;
  bool rightChosen = false;

  bool MouseIsDown() const { return mouseDown_; }
  bool Dragging() const { return dragging_; }
  bool LeftDragging() const { return leftDragging_; }
  bool RightDragging() const { return rightDragging_; }
  WavePoint LeftPoint() const { return leftPoint_; }
  WavePoint RightPoint() const { return rightPoint_; }
  const WaveBox& LeftHandleBox() const { return leftHandleBox_; }
  const WaveBox& RightHandleBox() const { return rightHandleBox_; }

 private:
  // Puts both markers where the next paint draws them and, while one is dragged with the
  // button down and the total time is known, takes its time from its place (the event then
  // carries it).
  std::vector<WaveEvent> PlaceMarkers(const WaveGeometry& g);

  bool mouseDown_ = false;
  bool dragging_ = false;
  bool leftDragging_ = false;
  bool rightDragging_ = false;
  WavePoint leftPoint_;
  WavePoint rightPoint_;
  WavePoint cursor_;
  WaveBox leftHandleBox_;
  WaveBox rightHandleBox_;
};

}  // namespace tw

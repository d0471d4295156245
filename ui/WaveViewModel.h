// The waveform view without any drawing or widget: the measures of the control's rectangle
// (time axis, ruler, waveform band, marker handles), the visible stretch of the file (zoom and
// scroll), the two markers and the mouse gestures that move them, the keys of the cut page,
// and the shapes one paint draws, in drawing order. CPaintViewUI wraps it with Qt (mouse, wheel
// and keys in, messages out, shapes onto a QPainter); tests drive it directly.
// Coordinates are the control's own pixels, times are seconds. Window thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media/WavePeaks.h"

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
// The closest zoom: this many seconds per pixel of the axis.
inline constexpr double kWaveMinSecondsPerPixel = 0.001;
// A marker is taken within this many pixels either side of its line (and of its handle).
inline constexpr int kWaveMarkerReach = 8;

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
// to AxisEnd() on the line AxisY(), 30 px above the bottom edge; the waveform fills the band
// from BandTop() to BandBottom(), between the marker handles and the ruler.
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
  int MarkerTop() const { return top + 40; }       // marker lines run up to here
  int MarkerFoot() const { return AxisY() - 14; }  // and down to here
  int BandTop() const { return MarkerTop() + 4; }
  int BandBottom() const { return MarkerFoot(); }
};

// The stretch of the file the axis shows, in seconds.
struct WaveSpan {
  double start = 0;
  double length = 0;
  double End() const { return start + length; }
  bool operator==(const WaveSpan&) const = default;
};

// Position of time t on the axis showing `visible`; the axis start when the stretch is empty.
double TimeToX(const WaveGeometry& g, double t, WaveSpan visible);
// Time of position x on the axis showing `visible`; the stretch's start on an axis without length.
double XToTime(const WaveGeometry& g, double x, WaveSpan visible);
// A position as a whole pixel: cut towards zero, without losing a pixel to rounding error
// (the x of a time computed from that same x stays put).
int PixelOf(double x);

// The band where a button-down seeks: strictly inside the axis ends, below the handles' row
// (more than 30 px under the top) and above the labels (20 px above the bottom).
bool InWaveBand(const WaveGeometry& g, int x, int y);
// Within 10 px of the axis line between its ends (exclusive): the hand cursor shows.
bool OnTimeAxis(const WaveGeometry& g, int x, int y);
// The strip of the labels under the axis, where a drag scrolls a zoomed view.
bool OnLabelStrip(const WaveGeometry& g, int x, int y);

// The ruler: 41 ticks over the axis, every fifth one 10 px tall, the others 4 px.
struct RulerTick {
  float x = 0;
  int topY = 0;
  bool major = false;
};
std::vector<RulerTick> RulerTicks(const WaveGeometry& g);

// The extremes under one pixel column of the axis (16-bit sample units); none where no values
// reach the column.
struct WaveColumn {
  bool has = false;
  std::int16_t lo = 0;
  std::int16_t hi = 0;
  bool operator==(const WaveColumn&) const = default;
};
// How far (in buckets) a bucket edge may lie from a time and still count as there: half a
// sample, since bucket edges fall on whole samples.
double WaveBucketSlack(const WaveEnvelope& envelope);
// One column per pixel of the axis, column c covering the times of [c, c + 1) px. Each column
// takes its values from the finest of `sources` that holds its time (a later source counts as
// finer), merging every bucket the column overlaps, or the one bucket it lies in.
std::vector<WaveColumn> EnvelopeColumns(const WaveGeometry& g, WaveSpan visible,
                                        const std::vector<const WaveEnvelope*>& sources);
// The y of a sample value in the band: full scale reaches the band's edges, positive upwards;
// gain magnifies the values (those beyond full scale stay at the edges).
float ValueToY(const WaveGeometry& g, double value, double gain = 1);
// The magnification of a file whose loudest sample is peak (16-bit units): none for a file that
// reaches half of full scale, otherwise enough to bring its loudest sample there (at most 64
// times), so that a quiet recording is readable too.
double GainForPeak(int peak);

// Which marker a press takes. Each marker is taken within kWaveMarkerReach px of its line,
// from 8 px above its handle down to the ticks; the nearer line wins, and of two markers on
// the same pixel the one with room to move that way.
enum class WaveMarker { None, Left, Right };
WaveMarker HitMarker(const WaveGeometry& g, int x, int y, int leftX, int rightX);

// The keys of the cut page. inTextEntry: the key goes to a text field, which keeps the keys
// it edits with (Space, the arrows, Home, End, letters, Enter).
enum class WaveKey {
  None,
  PlayPause,
  Back,         // Left
  Forward,      // Right
  FineBack,     // Shift+Left
  FineForward,  // Shift+Right
  ToStart,      // Home
  ToEnd,        // End
  MarkStart,    // I: the start marker at the play position
  MarkEnd,      // O
  JumpToStart,  // [: the play position to the start marker
  JumpToEnd,    // ]
  Export,       // Enter: cut and export the chosen stretch
  ZoomIn,       // Ctrl+= (Ctrl++)
  ZoomOut,      // Ctrl+-
  ZoomFit,      // Ctrl+0
};
// key: a Qt::Key value.
WaveKey WaveKeyFor(int key, bool shift, bool ctrl, bool inTextEntry);

enum class WaveShapeKind { Line, Polyline, Polygon, Ellipse, Rect, Text };
enum class WaveAlign { Left, Right };

// One drawing step. Line: from..to. Polyline, Polygon (filled): points. Ellipse, Rect
// (filled) and Text: box.
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

  // Every flag false, both markers back at the file's ends, the whole file in view, total time
  // and play time 0. The marker and click times keep their values.
  void ResetView();
  void SetTotalTime(double seconds) { totalTime = seconds; }

  // ---- The visible stretch -----------------------------------------------------------
  // The whole file, or the zoomed stretch kept inside it.
  WaveSpan Visible() const;
  bool Zoomed() const;
  // Seconds per pixel at the closest zoom the axis allows.
  double MinLength(const WaveGeometry& g) const;
  // Zooms by factor (> 1 in, < 1 out) keeping the time under x where it is. Zooming out to the
  // whole file shows it whole again. True when the stretch changed.
  bool ZoomAt(const WaveGeometry& g, double x, double factor);
  void ZoomFit();
  // Moves a zoomed stretch to start at startSec, kept inside the file.
  void ScrollTo(double startSec);
  // Scrolls a zoomed stretch so that t is in view (near its left edge) when it is not.
  bool EnsureVisible(double t);
  // Wheel notches (120 per notch): zoom around x, or with shift (or a sideways wheel) scroll
  // by a tenth of the stretch per notch. True when the stretch changed.
  bool Wheel(const WaveGeometry& g, double x, int angleY, int angleX, bool shift);
  // The play-position steps of the arrow keys: a tenth of the stretch in view (at most 5 s), or,
  // fine, one pixel of it; neither less than a hundredth of a second, the time texts' step.
  double StepSeconds(const WaveGeometry& g, bool fine) const;

  // ---- Mouse ---------------------------------------------------------------------------
  // The gestures with the cursor in control coordinates; the messages to post, in order.
  // Button down on a marker takes it at once (the left one first when both hold the cursor),
  // in the waveform band elsewhere it is a click at that time, and with pan (the middle
  // button), or on the labels of a zoomed view, it starts scrolling. A move with the button
  // down moves the taken marker with the cursor (its new time once the total time is known)
  // or scrolls. Button up releases it.
  std::vector<WaveEvent> MouseDown(const WaveGeometry& g, int x, int y, bool pan = false);
  std::vector<WaveEvent> MouseMove(const WaveGeometry& g, int x, int y);
  std::vector<WaveEvent> MouseUp(const WaveGeometry& g, int x, int y);
  // The marker a press at x, y would take.
  WaveMarker MarkerAt(const WaveGeometry& g, int x, int y);

  // ---- Paint ---------------------------------------------------------------------------
  // The shapes of one paint, in drawing order: axis, ticks and the labels of the stretch's
  // ends, play cursor, end markers, waveform (the filled envelope of the sources, coarse to
  // fine, with its magnification "×N" at the top left when there is one), then the chosen
  // markers with the shading outside the selection. Places the markers as drawn (points and
  // handle boxes).
  std::vector<WaveShape> Layout(const WaveGeometry& g, const std::vector<const WaveEnvelope*>& sources = {});

  // Shows a chosen stretch: both markers chosen at these times.
  void ShowSelection(double left, double right);

  // Written directly by the owner, as the view's marker times are.
  double leftTime = 0;
  double rightTime = 0;
  double clickTime = 0;
  double playTime = 0;  // negative hides the play cursor
  double totalTime = 0;
  double gain = 1;  // the waveform's magnification (GainForPeak of the file), shown when above 1
  bool leftChosen = false;
  bool rightChosen = false;

  bool MouseIsDown() const { return mouseDown_; }
  bool Dragging() const { return dragging_; }
  bool Panning() const { return panning_; }
  bool LeftDragging() const { return leftDragging_; }
  bool RightDragging() const { return rightDragging_; }
  WavePoint LeftPoint() const { return leftPoint_; }
  WavePoint RightPoint() const { return rightPoint_; }
  const WaveBox& LeftHandleBox() const { return leftHandleBox_; }
  const WaveBox& RightHandleBox() const { return rightHandleBox_; }

 private:
  bool TimeKnown() const { return totalTime > kWaveTimeEpsilon; }
  // Puts both markers where the next paint draws them and, while one is dragged with the
  // button down and the total time is known, takes its time from its place (the event then
  // carries it).
  std::vector<WaveEvent> PlaceMarkers(const WaveGeometry& g);

  bool mouseDown_ = false;
  bool dragging_ = false;
  bool leftDragging_ = false;
  bool rightDragging_ = false;
  bool panning_ = false;
  int grabOffset_ = 0;       // the taken marker's x minus the cursor's at the press
  int panFromX_ = 0;         // cursor x at the start of a scroll drag
  double panFromStart_ = 0;  // the stretch's start then
  double viewStart_ = 0;
  double viewLength_ = 0;  // 0: the whole file
  WavePoint leftPoint_;    // where a marker of an unknown total time was left
  WavePoint rightPoint_;
  WavePoint cursor_;
  WaveBox leftHandleBox_;
  WaveBox rightHandleBox_;
};

}  // namespace tw

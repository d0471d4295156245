// The waveform view's rules without a widget: the axis mapping of the stretch in view, zoom and
// scroll, the bands the mouse acts in, the markers' hit areas, the keys, the ruler, the envelope
// columns, what one paint draws where, and the marker gestures with the messages they post.
#include <QtCore/qnamespace.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "app/Messages.h"
#include "ui/WaveViewModel.h"

namespace tw {
namespace {

// A control of 540 x 170: the axis runs from x 20 to 520 (500 px) on y 140; the band from y 44
// to 126.
WaveGeometry View(int width = 540, int height = 170) {
  WaveGeometry g;
  g.right = width;
  g.bottom = height;
  return g;
}

const WaveShape* FindText(const std::vector<WaveShape>& shapes, const std::string& text) {
  for (const WaveShape& s : shapes)
    if (s.kind == WaveShapeKind::Text && s.text == text) return &s;
  return nullptr;
}

int Count(const std::vector<WaveShape>& shapes, WaveShapeKind kind, std::uint32_t argb) {
  return static_cast<int>(std::count_if(
      shapes.begin(), shapes.end(), [&](const WaveShape& s) { return s.kind == kind && s.argb == argb; }));
}

// An envelope whose bucket k spans [start + k × perBucket, ...) with extremes -v, v.
WaveEnvelope Envelope(double start, double perBucketSec, std::vector<std::int16_t> highs, int rate = 8000) {
  WaveEnvelope e;
  e.sampleRate = rate;
  e.startSec = start;
  e.samplesPerBucket = perBucketSec * rate;
  for (std::int16_t v : highs) {
    e.mins.push_back(static_cast<std::int16_t>(-v));
    e.maxs.push_back(v);
  }
  return e;
}

TEST(WaveViewModelTest, TimeAndPositionMapOntoTheStretchInView) {
  const WaveGeometry g = View();
  struct Case {
    double t;
    WaveSpan view;
    double x;
  };
  const Case cases[] = {
      {0, {0, 100}, 20},          {50, {0, 100}, 270},  {100, {0, 100}, 520}, {1, {0, 4}, 145},
      {3725.5, {0, 3725.5}, 520}, {7, {0, 0}, 20},  // an unknown total puts every time at the start
      {10, {10, 5}, 20},          {12.5, {10, 5}, 270}, {15, {10, 5}, 520},   {5, {10, 5}, -480},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.t << " in " << c.view.start << "+" << c.view.length);
    EXPECT_DOUBLE_EQ(TimeToX(g, c.t, c.view), c.x);
    if (c.view.length > 0) {
      EXPECT_NEAR(XToTime(g, c.x, c.view), c.t, 1e-9);
    }
  }
  EXPECT_EQ(XToTime(View(40), 30, {0, 10}), 0);  // an axis without length
  // A marker put at a pixel and drawn again from its time stays on that pixel.
  for (WaveSpan view : {WaveSpan{0, 1.0}, WaveSpan{0, 0.37}, WaveSpan{0, 3725.5}, WaveSpan{7199.2, 0.5}}) {
    for (int x = 20; x <= 520; ++x)
      ASSERT_EQ(PixelOf(TimeToX(g, XToTime(g, x, view), view)), x) << view.start << "+" << view.length;
  }
}

TEST(WaveViewModelTest, ZoomKeepsThePointedTimeAndStaysInsideTheFile) {
  const WaveGeometry g = View();  // 500 px: the closest zoom shows 0.5 s
  struct Step {
    char what;  // 'z' zoom at x by factor, 's' scroll to, 'f' fit, 'w' wheel (y notches at x, shift)
    double x, amount;
    bool shift = false;
  };
  struct Case {
    const char* name;
    double total;
    std::vector<Step> steps;
    WaveSpan visible;
  };
  const std::vector<Case> cases = {
      {"in around the middle", 100, {{'z', 270, 4}}, {37.5, 25}},
      {"in around the pointer keeps its time", 100, {{'z', 120, 2}}, {10, 50}},
      {"at the start stays at the start", 100, {{'z', 20, 10}}, {0, 10}},
      {"at the end stays at the end", 100, {{'z', 520, 10}}, {90, 10}},
      {"no closer than a millisecond a pixel", 100, {{'z', 270, 1e6}}, {49.75, 0.5}},
      {"out past the file shows it whole", 100, {{'z', 270, 4}, {'z', 100, 0.1}}, {0, 100}},
      {"fit", 100, {{'z', 270, 4}, {'f', 0, 0}}, {0, 100}},
      {"scrolled within the file", 100, {{'z', 270, 4}, {'s', 0, 90}}, {75, 25}},
      {"scrolled before the start", 100, {{'z', 270, 4}, {'s', 0, -5}}, {0, 25}},
      {"a whole view cannot scroll", 100, {{'s', 0, 30}}, {0, 100}},
      {"a wheel notch in zooms by 1.5", 90, {{'w', 270, 120}}, {15, 60}},
      {"two notches out after four in", 81, {{'w', 20, 480}, {'w', 20, -240}}, {0, 36}},
      {"shift scrolls a tenth a notch", 100, {{'z', 20, 4}, {'w', 0, -120, true}}, {2.5, 25}},
      {"unknown total: nothing zooms", 0, {{'z', 270, 4}}, {0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WaveViewModel m;
    m.SetTotalTime(c.total);
    for (const Step& s : c.steps) {
      if (s.what == 'z') m.ZoomAt(g, s.x, s.amount);
      if (s.what == 's') m.ScrollTo(s.amount);
      if (s.what == 'f') m.ZoomFit();
      if (s.what == 'w') m.Wheel(g, s.x, static_cast<int>(s.amount), 0, s.shift);
    }
    EXPECT_NEAR(m.Visible().start, c.visible.start, 1e-9);
    EXPECT_NEAR(m.Visible().length, c.visible.length, 1e-9);
    EXPECT_EQ(m.Zoomed(), c.visible.length < c.total);
  }
  // A view that follows a position pages so it shows it, and a reset shows the whole file.
  WaveViewModel m;
  m.SetTotalTime(100);
  m.ZoomAt(g, 20, 10);
  EXPECT_TRUE(m.EnsureVisible(55));
  EXPECT_NEAR(m.Visible().start, 54, 1e-9);
  EXPECT_FALSE(m.EnsureVisible(60));
  m.ResetView();
  EXPECT_FALSE(m.Zoomed());
}

TEST(WaveViewModelTest, ArrowKeyStepsFollowTheZoom) {
  const WaveGeometry g = View();
  struct Case {
    double total, zoom;
    double coarse, fine;
  };
  const Case cases[] = {
      {600, 1, 5, 1.2},         // a whole 10 minutes: 5 s, a pixel of 1.2 s
      {10, 1, 1, 0.02},         // a whole 10 s: a tenth, a pixel of 20 ms
      {100, 50, 0.2, 0.01},     // 2 s in view: 0.2 s, a pixel is 4 ms but a hundredth at least
      {100, 1000, 0.05, 0.01},  // at the closest zoom
      {0.05, 1, 0.01, 0.01},    // a file of 50 ms: a hundredth either way
  };
  for (const Case& c : cases) {
    WaveViewModel m;
    m.SetTotalTime(c.total);
    m.ZoomAt(g, 20, c.zoom);
    EXPECT_NEAR(m.StepSeconds(g, false), c.coarse, 1e-9) << c.total << " " << c.zoom;
    EXPECT_NEAR(m.StepSeconds(g, true), c.fine, 1e-9) << c.total << " " << c.zoom;
  }
}

TEST(WaveViewModelTest, TheMouseActsInItsBands) {
  const WaveGeometry g = View();
  struct Case {
    int x, y;
    bool band, axis, labels;
  };
  const Case cases[] = {
      {21, 100, true, false, false},   {20, 100, false, false, false},  // the axis ends are outside
      {519, 31, true, false, false},   {300, 30, false, false, false},  // the handles' row is outside
      {300, 149, true, true, false},   {300, 150, false, false, true},  // the labels' strip
      {300, 131, true, true, false},   {300, 130, true, false, false},  // the hand within 10 px of the axis
      {520, 140, false, false, false}, {5, 165, false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
    EXPECT_EQ(InWaveBand(g, c.x, c.y), c.band);
    EXPECT_EQ(OnTimeAxis(g, c.x, c.y), c.axis);
    EXPECT_EQ(OnLabelStrip(g, c.x, c.y), c.labels);
  }
}

TEST(WaveViewModelTest, AMarkerIsTakenAroundItsHandleAndLine) {
  const WaveGeometry g = View();  // handles at y 32..40, lines down to 126, ticks from 130
  struct Case {
    const char* name;
    int x, y, leftX, rightX;
    WaveMarker taken;
  };
  const Case cases[] = {
      {"on the handle", 100, 36, 100, 400, WaveMarker::Left},
      {"8 px beside the line", 108, 90, 100, 400, WaveMarker::Left},
      {"9 px beside it", 109, 90, 100, 400, WaveMarker::None},
      {"8 px above the handle", 400, 24, 100, 400, WaveMarker::Right},
      {"above that", 400, 23, 100, 400, WaveMarker::None},
      {"down to the ticks", 396, 130, 100, 400, WaveMarker::Right},
      {"not on the ticks", 396, 131, 100, 400, WaveMarker::None},
      {"the nearer of two", 205, 90, 200, 211, WaveMarker::Left},
      {"the nearer of two, right", 207, 90, 200, 211, WaveMarker::Right},
      {"both on one pixel, pressed left of it", 299, 90, 300, 300, WaveMarker::Left},
      {"both on one pixel, pressed right of it", 301, 90, 300, 300, WaveMarker::Right},
      {"both at the axis start: the right can move", 20, 90, 20, 20, WaveMarker::Right},
      {"both at the axis end: the left can move", 520, 90, 520, 520, WaveMarker::Left},
  };
  for (const Case& c : cases) EXPECT_EQ(HitMarker(g, c.x, c.y, c.leftX, c.rightX), c.taken) << c.name;
}

TEST(WaveViewModelTest, KeysOfTheCutPage) {
  struct Case {
    int key;
    bool shift, ctrl, text;
    WaveKey action;
  };
  const Case cases[] = {
      {Qt::Key_Space, false, false, false, WaveKey::PlayPause},
      {Qt::Key_Space, false, false, true, WaveKey::None},  // a text field types it
      {Qt::Key_Left, false, false, false, WaveKey::Back},
      {Qt::Key_Left, true, false, false, WaveKey::FineBack},
      {Qt::Key_Right, false, false, false, WaveKey::Forward},
      {Qt::Key_Right, true, false, false, WaveKey::FineForward},
      {Qt::Key_Right, false, false, true, WaveKey::None},
      {Qt::Key_Home, false, false, false, WaveKey::ToStart},
      {Qt::Key_End, false, false, false, WaveKey::ToEnd},
      {Qt::Key_I, false, false, false, WaveKey::MarkStart},
      {Qt::Key_O, false, false, false, WaveKey::MarkEnd},
      {Qt::Key_O, false, false, true, WaveKey::None},
      {Qt::Key_BracketLeft, false, false, false, WaveKey::JumpToStart},
      {Qt::Key_BracketRight, false, false, false, WaveKey::JumpToEnd},
      {Qt::Key_Return, false, false, false, WaveKey::Export},
      {Qt::Key_Enter, false, false, false, WaveKey::Export},
      {Qt::Key_Return, false, false, true, WaveKey::None},  // Enter in a time field only ends the typing
      {Qt::Key_Equal, false, true, false, WaveKey::ZoomIn},
      {Qt::Key_Plus, true, true, true, WaveKey::ZoomIn},
      {Qt::Key_Minus, false, true, false, WaveKey::ZoomOut},
      {Qt::Key_0, false, true, false, WaveKey::ZoomFit},
      {Qt::Key_I, false, true, false, WaveKey::None},
      {Qt::Key_A, false, false, false, WaveKey::None},
  };
  for (const Case& c : cases)
    EXPECT_EQ(WaveKeyFor(c.key, c.shift, c.ctrl, c.text), c.action)
        << std::hex << c.key << " shift " << c.shift << " ctrl " << c.ctrl << " text " << c.text;
}

TEST(WaveViewModelTest, TheRulerHas41TicksWithEveryFifthTall) {
  const std::vector<RulerTick> ticks = RulerTicks(View());
  ASSERT_EQ(ticks.size(), 41u);
  struct Case {
    int i;
    float x;
    int top;
  };
  for (const Case& c : {Case{0, 20, 130}, Case{1, 32.5f, 136}, Case{5, 82.5f, 130}, Case{39, 507.5f, 136},
                        Case{40, 520, 130}}) {
    SCOPED_TRACE(c.i);
    EXPECT_FLOAT_EQ(ticks[c.i].x, c.x);
    EXPECT_EQ(ticks[c.i].topY, c.top);
    EXPECT_EQ(ticks[c.i].major, c.top == 130);
  }
}

TEST(WaveViewModelTest, EachColumnTakesTheExtremesOfItsTimeFromTheFinestSource) {
  const WaveGeometry g = View(60);  // 20 columns
  // The overview: 10 buckets of 1 s over 10 s; bucket k reaches ±(1000 × (k + 1)).
  const WaveEnvelope overview = Envelope(0, 1, {1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000, 9000, 10000});
  // A finer stretch: 4 s to 6 s in 8 buckets, each ±(100 + k).
  const WaveEnvelope detail = Envelope(4, 0.25, {100, 101, 102, 103, 104, 105, 106, 107});
  struct Case {
    const char* name;
    WaveSpan view;
    std::vector<const WaveEnvelope*> sources;
    int column;
    WaveColumn expected;
  };
  const std::vector<Case> cases = {
      {"two columns share a bucket", {0, 10}, {&overview}, 0, {true, -1000, 1000}},
      {"the second half of it", {0, 10}, {&overview}, 1, {true, -1000, 1000}},
      {"the last bucket", {0, 10}, {&overview}, 19, {true, -10000, 10000}},
      {"a column over two buckets takes both", {0, 40}, {&overview}, 0, {true, -2000, 2000}},
      {"beyond the values: nothing", {0, 40}, {&overview}, 5, {false, 0, 0}},
      {"zoomed: stretched from the overview", {4, 2}, {&overview}, 3, {true, -5000, 5000}},
      {"zoomed: the finer stretch wins", {4, 2}, {&overview, &detail}, 3, {true, -101, 101}},
      {"the finer stretch's last bucket", {4, 2}, {&overview, &detail}, 19, {true, -107, 107}},
      {"outside the finer stretch the overview", {5, 2}, {&overview, &detail}, 15, {true, -7000, 7000}},
      {"no sources", {0, 10}, {}, 4, {false, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<WaveColumn> columns = EnvelopeColumns(g, c.view, c.sources);
    ASSERT_EQ(columns.size(), 20u);
    EXPECT_EQ(columns[static_cast<size_t>(c.column)], c.expected);
  }
  // A bucket without samples leaves its column empty.
  WaveEnvelope gap = Envelope(0, 1, {500, 500});
  std::swap(gap.mins[1], gap.maxs[1]);
  EXPECT_FALSE(EnvelopeColumns(g, {0, 2}, {&gap})[15].has);
}

TEST(WaveViewModelTest, TheEnvelopeFillsTheBandAtFullScale) {
  const WaveGeometry g = View();  // band 44..126, middle 85
  EXPECT_FLOAT_EQ(ValueToY(g, 32768), 44);
  EXPECT_FLOAT_EQ(ValueToY(g, -32768), 126);
  EXPECT_FLOAT_EQ(ValueToY(g, 0), 85);
  EXPECT_FLOAT_EQ(ValueToY(g, 16384), 64.5f);  // positive values upwards
  // Taller control, taller band.
  EXPECT_FLOAT_EQ(ValueToY(View(540, 500), 32768), 44);
  EXPECT_FLOAT_EQ(ValueToY(View(540, 500), -32768), 456);
  // A quiet file is magnified until its loudest sample reaches half the band, at most 64 times;
  // what goes beyond full scale stays at the edges.
  struct Gain {
    int peak;
    double gain;
  };
  for (const Gain& c : {Gain{32767, 1}, Gain{16384, 1}, Gain{20000, 1}, Gain{8192, 2},
                        Gain{1638, 16384.0 / 1638}, Gain{100, 64}, Gain{0, 1}})
    EXPECT_DOUBLE_EQ(GainForPeak(c.peak), c.gain) << c.peak;
  EXPECT_FLOAT_EQ(ValueToY(g, 1024, 16), 64.5f);
  EXPECT_FLOAT_EQ(ValueToY(g, -8000, 16), 126);

  WaveViewModel m;
  m.SetTotalTime(10);
  const WaveEnvelope full = Envelope(0, 0.02, std::vector<std::int16_t>(500, 32767));
  const WaveEnvelope silence = Envelope(0, 0.02, std::vector<std::int16_t>(500, 0));
  for (const WaveEnvelope* e : {&full, &silence}) {
    const auto shapes = m.Layout(g, {e});
    ASSERT_EQ(Count(shapes, WaveShapeKind::Polygon, kWaveAxisColour), 1);
    const auto wave = std::find_if(shapes.begin(), shapes.end(),
                                   [](const WaveShape& s) { return s.kind == WaveShapeKind::Polygon; });
    const auto [low, high] = std::minmax_element(wave->points.begin(), wave->points.end(),
                                                 [](WavePointF a, WavePointF b) { return a.y < b.y; });
    const auto [left, right] = std::minmax_element(wave->points.begin(), wave->points.end(),
                                                   [](WavePointF a, WavePointF b) { return a.x < b.x; });
    EXPECT_EQ(FindText(shapes, "×2.0"), nullptr) << "no magnification shown at 1";
    EXPECT_NEAR(left->x, 20, 1);
    EXPECT_NEAR(right->x, 520, 1);
    if (e == &full) {
      EXPECT_NEAR(low->y, 44, 0.01);
      EXPECT_NEAR(high->y, 126, 0.01);
    } else {
      EXPECT_NEAR(high->y - low->y, 1, 0.01) << "silence shows as a line";
    }
  }
  m.gain = 12.7;
  EXPECT_NE(FindText(m.Layout(g, {&silence}), "×13"), nullptr);
  m.gain = 2;
  const std::vector<WaveShape> magnified = m.Layout(g, {&silence});
  const WaveShape* label = FindText(magnified, "×2.0");
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->box, (WaveBox{24, 44, 60, 20}));
}

TEST(WaveViewModelTest, APaintDrawsTheRulerCursorAndLabelsInPlace) {
  struct Case {
    double total, play;
    double zoomAt;  // > 0: zoomed 4 times around this x first
    std::string startLabel, endLabel;
    WaveBox startBox;
    bool dot;
    float cursorX;  // where the play line ends
    std::string playLabel;
  };
  const WaveBox fitStart{-15, 150, 70, 20};
  const Case cases[] = {
      {3725.5, 0, 0, "00:00:00", "01:02:05.50", fitStart, true, 20, "00:00:00.00"},
      {100, 50, 0, "00:00:00", "00:01:40.00", fitStart, true, 270, "00:00:50.00"},
      {100, 130, 0, "00:00:00", "00:01:40.00", fitStart, true, 520,
       "00:02:10.00"},  // past the end: on the axis
      {100, -1, 0, "00:00:00", "00:01:40.00", fitStart, false, -1, ""},
      {0, 3, 0, "00:00:00", "00:00:00.00", fitStart, false, -1, ""},
      {100, 50, 270, "00:00:37.50", "00:01:02.50", {0, 150, 90, 20}, true, 270, "00:00:50.00"},
      {100, 80, 270, "00:00:37.50", "00:01:02.50", {0, 150, 90, 20}, false, 520, "00:01:20.00"},  // after the
                                                                                                  // view
      {100, 10, 270, "00:00:37.50", "00:01:02.50", {0, 150, 90, 20}, false, -1, "00:00:10.00"},   // before it
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.endLabel + " / " + std::to_string(c.play));
    WaveViewModel m;
    m.SetTotalTime(c.total);
    if (c.zoomAt > 0) m.ZoomAt(View(), c.zoomAt, 4);
    m.playTime = c.play;
    const auto shapes = m.Layout(View());
    EXPECT_EQ(shapes[0].kind, WaveShapeKind::Line);  // the axis first
    EXPECT_FLOAT_EQ(shapes[0].from.x, 20);
    EXPECT_FLOAT_EQ(shapes[0].to.x, 520);
    EXPECT_FLOAT_EQ(shapes[0].from.y, 140);
    const WaveShape* start = FindText(shapes, c.startLabel);
    ASSERT_NE(start, nullptr);
    EXPECT_EQ(start->box, c.startBox);
    const WaveShape* end = FindText(shapes, c.endLabel);
    ASSERT_NE(end, nullptr);
    EXPECT_EQ(end->box, (WaveBox{465, 150, 80, 20}));
    EXPECT_EQ(end->align, WaveAlign::Left);
    EXPECT_EQ(Count(shapes, WaveShapeKind::Ellipse, kWaveCursorOuterColour), c.dot ? 1 : 0);
    EXPECT_EQ(Count(shapes, WaveShapeKind::Line, kWavePlayColour), c.cursorX >= 0 ? 1 : 0);
    if (!c.playLabel.empty()) {
      const WaveShape* label = FindText(shapes, c.playLabel);
      ASSERT_NE(label, nullptr);
      EXPECT_EQ(label->box, (WaveBox{225, 150, 90, 20}));
    }
    for (const WaveShape& s : shapes) {
      if (s.kind == WaveShapeKind::Line && s.argb == kWavePlayColour) {
        EXPECT_FLOAT_EQ(s.to.x, c.cursorX);
      }
      if (s.argb == kWaveCursorOuterColour) {
        EXPECT_EQ(s.box, (WaveBox{c.cursorX - 5, 135, 10, 10}));
      }
    }
  }
}

TEST(WaveViewModelTest, OnlyChosenMarkersAreDrawnWithTheShadingOutsideTheSelection) {
  WaveViewModel m;
  m.SetTotalTime(100);
  const WaveEnvelope quiet = Envelope(0, 1, std::vector<std::int16_t>(100, 0));
  auto shapes = m.Layout(View(), {&quiet});
  EXPECT_EQ(Count(shapes, WaveShapeKind::Rect, kWaveShadeColour), 0);
  EXPECT_EQ(Count(shapes, WaveShapeKind::Ellipse, kWaveAxisColour), 2);  // the end markers' handles
  EXPECT_EQ(Count(shapes, WaveShapeKind::Polygon, kWaveAxisColour), 1);
  EXPECT_EQ(m.LeftHandleBox(), (WaveBox{16, 32, 8, 8}));
  EXPECT_EQ(m.RightHandleBox(), (WaveBox{516, 32, 8, 8}));

  m.ShowSelection(20, 60);  // x 120 and 320
  m.playTime = -1;          // no cursor dot among the handles
  struct Case {
    double zoomAt;
    std::vector<WaveBox> shades;
    int handles;  // selection handles in view
  };
  // Zoomed 4 times around x 270 the view shows 37.5 .. 62.5 s: the left marker is off to the
  // left (all of the view before 60 s is selected), the right one at x 470.
  const Case cases[] = {
      {0, {{20, 44, 100, 96}, {320, 44, 200, 96}}, 2},
      {270, {{470, 44, 50, 96}}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.zoomAt);
    m.ZoomFit();
    if (c.zoomAt > 0) m.ZoomAt(View(), c.zoomAt, 4);
    shapes = m.Layout(View());
    std::vector<WaveBox> shades;
    for (const WaveShape& s : shapes)
      if (s.kind == WaveShapeKind::Rect) shades.push_back(s.box);
    EXPECT_EQ(shades, c.shades);
    EXPECT_EQ(Count(shapes, WaveShapeKind::Ellipse, kWaveHandleColour), c.handles);
    EXPECT_EQ(Count(shapes, WaveShapeKind::Polygon, kWaveAxisColour), 0);  // no waveform given
  }

  // A reset forgets the markers but not their times.
  m.ResetView();
  EXPECT_FALSE(m.leftChosen || m.rightChosen);
  EXPECT_EQ(m.leftTime, 20);
  EXPECT_EQ(m.totalTime, 0);
}

TEST(WaveViewModelTest, MarkerGesturesPostTheirMessagesAndNeverCross) {
  struct Step {
    char what;  // 'd' down, 'm' move, 'u' up, 'p' middle-button down
    int x, y;
  };
  struct Case {
    const char* name;
    double total;
    double zoomAt;         // > 0: zoomed 4 times around this x first
    double rightChosenAt;  // > 0: the right marker is chosen there first
    std::vector<Step> steps;
    std::vector<unsigned> messages;
    double leftTime, rightTime;  // after the gesture
    double viewStart = 0;
  };
  const std::vector<Case> cases = {
      {"left taken at the press and dragged into the middle",
       100,
       0,
       0,
       {{'d', 20, 36}, {'m', 270, 36}, {'u', 270, 36}},
       {WM_LEFT_MARKER_GRAB, WM_CUT_START, WM_CUT_START, WM_LEFT_MARKER_RELEASE},
       50,
       0},
      {"taken beside its line, it keeps its distance to the cursor",
       100,
       0,
       0,
       {{'d', 27, 90}, {'m', 127, 90}, {'u', 127, 90}},
       {WM_LEFT_MARKER_GRAB, WM_CUT_START, WM_CUT_START, WM_LEFT_MARKER_RELEASE},
       20,
       0},
      {"a quick drag: one move far away",
       100,
       0,
       0,
       {{'d', 520, 100}, {'m', 120, 100}, {'u', 120, 100}},
       {WM_RIGHT_MARKER_GRAB, WM_CUT_END, WM_CUT_END, WM_RIGHT_MARKER_RELEASE},
       0,
       20},
      {"left beyond the right marker stops at it",
       100,
       0,
       60,
       {{'d', 20, 36}, {'m', 500, 36}, {'u', 500, 36}},
       {WM_LEFT_MARKER_GRAB, WM_CUT_START, WM_CUT_START, WM_LEFT_MARKER_RELEASE},
       60,
       60},
      {"right past the left end stops at the left marker",
       100,
       0,
       0,
       {{'d', 520, 36}, {'m', -50, 36}, {'u', -50, 36}},
       {WM_RIGHT_MARKER_GRAB, WM_CUT_END, WM_CUT_END, WM_RIGHT_MARKER_RELEASE},
       0,
       0},
      {"zoomed: a drag sets the time of the stretch in view",
       100,
       270,
       55,
       {{'d', 372, 60}, {'m', 172, 60}, {'u', 172, 60}},  // its line at x 370
       {WM_RIGHT_MARKER_GRAB, WM_CUT_END, WM_CUT_END, WM_RIGHT_MARKER_RELEASE},
       0,
       45,
       37.5},
      {"no total time: the marker moves, no time is posted",
       0,
       0,
       0,
       {{'d', 20, 36}, {'m', 200, 36}, {'u', 200, 36}},
       {WM_LEFT_MARKER_GRAB, WM_LEFT_MARKER_RELEASE},
       0,
       0},
      {"a move without the button takes nothing", 100, 0, 0, {{'m', 20, 36}, {'m', 200, 36}}, {}, 0, 0},
      {"a click in the band seeks", 100, 0, 0, {{'d', 30, 100}, {'u', 30, 100}}, {WM_WAVE_CLICK}, 0, 0},
      {"a click above the band does nothing", 100, 0, 0, {{'d', 300, 29}, {'u', 300, 29}}, {}, 0, 0},
      {"a click on the labels does nothing", 100, 0, 0, {{'d', 300, 160}, {'u', 300, 160}}, {}, 0, 0},
      {"zoomed: a drag on the labels scrolls",
       100,
       270,
       0,
       {{'d', 300, 160}, {'m', 200, 160}, {'u', 200, 160}},
       {},
       0,
       0,
       42.5},
      {"zoomed: the middle button scrolls anywhere",
       100,
       270,
       0,
       {{'p', 300, 100}, {'m', 400, 100}, {'u', 400, 100}},
       {},
       0,
       0,
       32.5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const WaveGeometry g = View();
    WaveViewModel m;
    m.SetTotalTime(c.total);
    if (c.zoomAt > 0) m.ZoomAt(g, c.zoomAt, 4);
    if (c.rightChosenAt > 0) {
      m.rightChosen = true;
      m.rightTime = c.rightChosenAt;
    }
    m.Layout(g);
    std::vector<unsigned> messages;
    for (const Step& s : c.steps) {
      const auto events = s.what == 'd'   ? m.MouseDown(g, s.x, s.y)
                          : s.what == 'p' ? m.MouseDown(g, s.x, s.y, true)
                          : s.what == 'm' ? m.MouseMove(g, s.x, s.y)
                                          : m.MouseUp(g, s.x, s.y);
      for (const WaveEvent& e : events) {
        messages.push_back(e.message);
        if (e.message == WM_CUT_START) {
          EXPECT_DOUBLE_EQ(e.seconds, m.leftTime);
        } else if (e.message == WM_CUT_END) {
          EXPECT_DOUBLE_EQ(e.seconds, m.rightTime);
        } else if (e.message == WM_WAVE_CLICK) {
          EXPECT_NEAR(e.seconds, 2, 1e-9);  // 10 px past the axis start: 2 s of 100 s on 500 px
        }
      }
      m.Layout(g);
    }
    EXPECT_EQ(messages, c.messages);
    EXPECT_NEAR(m.leftTime, c.leftTime, 1e-9);
    EXPECT_NEAR(m.rightTime, c.rightTime, 1e-9);
    EXPECT_NEAR(m.Visible().start, c.viewStart, 1e-9);
    EXPECT_FALSE(m.Dragging() || m.Panning());
    EXPECT_LE(m.LeftPoint().x, m.RightPoint().x);
  }
}

TEST(WaveViewModelTest, MarkersAreDrawnAtTheirTimes) {
  const WaveGeometry g = View();
  WaveViewModel m;
  m.SetTotalTime(100);
  m.leftChosen = true;
  m.leftTime = 30;  // x 170
  m.Layout(g);
  EXPECT_EQ(m.LeftPoint().x, 170);
  // A time written by the page moves the marker, to the axis start for 0.
  m.leftTime = 0;
  m.Layout(g);
  EXPECT_EQ(m.LeftPoint().x, 20);
  m.ShowSelection(10, 50);
  m.Layout(g);
  EXPECT_EQ(m.LeftPoint().x, 70);
  EXPECT_EQ(m.RightPoint().x, 270);
  // A wider control moves the markers with their times; a marker not chosen follows its end.
  WaveViewModel n;
  n.SetTotalTime(100);
  n.Layout(g);
  n.Layout(View(1040));
  EXPECT_EQ(n.RightHandleBox(), (WaveBox{1016, 32, 8, 8}));
  m.Layout(View(1040));
  EXPECT_EQ(m.RightPoint().x, 520);  // 50 s of 100 on a 1000 px axis
}

}  // namespace
}  // namespace tw

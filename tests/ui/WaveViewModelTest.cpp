// The waveform view's rules without a widget: the axis mapping, the bands the mouse acts in,
// the ruler, the waveform line, what one paint draws where, and the marker gestures with the
// messages they post.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "app/Messages.h"
#include "ui/WaveViewModel.h"

namespace tw {
namespace {

// A control of 540 x 170: the axis runs from x 20 to 520 (500 px) on y 140.
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

TEST(WaveViewModelTest, TimeAndPositionMapOntoTheAxis) {
  const WaveGeometry g = View();
  struct Case {
    double t, total, x;
  };
  const Case cases[] = {{0, 100, 20},          {50, 100, 270}, {100, 100, 520}, {1, 4, 145},
                        {3725.5, 3725.5, 520}, {7, 0, 20}};  // an unknown total puts every time at the start
  for (const Case& c : cases) {
    SCOPED_TRACE(c.t);
    EXPECT_DOUBLE_EQ(TimeToX(g, c.t, c.total), c.x);
    if (c.total > 0) {
      EXPECT_NEAR(XToTime(g, c.x, c.total), c.t, 1e-9);
    }
  }
  EXPECT_EQ(XToTime(View(40), 30, 10), 0);  // an axis without length
  // A marker put at a pixel and drawn again from its time stays on that pixel.
  for (double total : {1.0, 0.37, 5.0, 3725.5, 86399.99}) {
    for (int x = 20; x <= 520; ++x) ASSERT_EQ(PixelOf(TimeToX(g, XToTime(g, x, total), total)), x) << total;
  }
}

TEST(WaveViewModelTest, TheMouseActsInItsBands) {
  const WaveGeometry g = View();
  struct Case {
    int x, y;
    bool band, axis;
  };
  const Case cases[] = {
      {21, 100, true, false},   {20, 100, false, false},   // the axis ends themselves are outside
      {519, 31, true, false},   {300, 30, false, false},   // 140 px above the bottom is outside
      {300, 149, true, true},   {300, 150, false, false},  // the labels' strip (last 20 px) is outside
      {300, 131, true, true},   {300, 130, true, false},   // the hand shows within 10 px of the axis
      {520, 140, false, false}, {100, 10, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
    EXPECT_EQ(InWaveBand(g, c.x, c.y), c.band);
    EXPECT_EQ(OnTimeAxis(g, c.x, c.y), c.axis);
  }
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

TEST(WaveViewModelTest, TheWaveformSpansTheAxisAndDrawsPositiveValuesDownwards) {
  const WaveGeometry g = View();
  struct Case {
    std::vector<std::int32_t> peaks;
  };
  std::vector<std::int32_t> oneSecond(8000, 0);  // every sample of a one-second file
  oneSecond[0] = 32767;
  oneSecond[7999] = -32768;
  for (const auto& peaks :
       {oneSecond, std::vector<std::int32_t>(8640, 1000), std::vector<std::int32_t>{5000}}) {
    SCOPED_TRACE(peaks.size());
    const std::vector<WavePointF> line = WaveformLine(g, peaks);
    ASSERT_EQ(line.size(), peaks.size() + 1);
    EXPECT_FLOAT_EQ(line.front().x, 20);
    EXPECT_FLOAT_EQ(line.front().y, 85);  // starts on the middle line
    EXPECT_NEAR(line.back().x, 520, 0.01);
    for (size_t k = 1; k < line.size(); ++k) {
      ASSERT_LE(line[k].x, 520.0f);
      ASSERT_FLOAT_EQ(line[k].y, 85 + peaks[k - 1] / 1000.0f);
    }
  }
  EXPECT_NEAR(WaveformLine(g, oneSecond)[1].y - 85, 32.767, 1e-3);  // about 33 px below
  EXPECT_TRUE(WaveformLine(g, {}).empty());
}

TEST(WaveViewModelTest, APaintDrawsTheRulerCursorAndLabelsInPlace) {
  struct Case {
    double total, play;
    std::string totalLabel;
    bool cursor;
    float cursorX;
    std::string playLabel;
  };
  const Case cases[] = {
      {3725.5, 0, "01:02:05.50", true, 20, "00:00:00.00"},
      {100, 50, "00:01:40.00", true, 270, "00:00:50.00"},
      {100, 130, "00:01:40.00", true, 520, "00:02:10.00"},  // a position past the end stays on the axis
      {100, -1, "00:01:40.00", false, 0, ""},
      {0, 3, "00:00:00.00", false, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.totalLabel + " / " + std::to_string(c.play));
    WaveViewModel m;
    m.SetTotalTime(c.total);
    m.playTime = c.play;
    const auto shapes = m.Layout(View(), nullptr);
    EXPECT_EQ(shapes[0].kind, WaveShapeKind::Line);  // the axis first
    EXPECT_FLOAT_EQ(shapes[0].from.x, 20);
    EXPECT_FLOAT_EQ(shapes[0].to.x, 520);
    EXPECT_FLOAT_EQ(shapes[0].from.y, 140);
    const WaveShape* start = FindText(shapes, "00:00:00");
    ASSERT_NE(start, nullptr);
    EXPECT_EQ(start->box, (WaveBox{-15, 150, 70, 20}));
    EXPECT_EQ(start->align, WaveAlign::Right);
    const WaveShape* end = FindText(shapes, c.totalLabel);
    ASSERT_NE(end, nullptr);
    EXPECT_EQ(end->box, (WaveBox{465, 150, 80, 20}));
    EXPECT_EQ(end->align, WaveAlign::Left);
    EXPECT_EQ(Count(shapes, WaveShapeKind::Ellipse, kWaveCursorOuterColour), c.cursor ? 1 : 0);
    if (!c.cursor) continue;
    const WaveShape* label = FindText(shapes, c.playLabel);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->box, (WaveBox{225, 150, 90, 20}));
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
  std::vector<std::int32_t> peaks(100, 0);
  auto shapes = m.Layout(View(), &peaks);
  EXPECT_EQ(Count(shapes, WaveShapeKind::Rect, kWaveShadeColour), 0);
  EXPECT_EQ(Count(shapes, WaveShapeKind::Ellipse, kWaveAxisColour), 2);  // the end markers' handles
  EXPECT_EQ(Count(shapes, WaveShapeKind::Polyline, kWaveAxisColour), 1);
  EXPECT_EQ(m.LeftHandleBox(), (WaveBox{16, 32, 8, 8}));
  EXPECT_EQ(m.RightHandleBox(), (WaveBox{516, 32, 8, 8}));

  m.ShowSelection(20, 60);  // x 120 and 320
  shapes = m.Layout(View(), nullptr);
  std::vector<WaveBox> shades;
  for (const WaveShape& s : shapes)
    if (s.kind == WaveShapeKind::Rect) shades.push_back(s.box);
  ASSERT_EQ(shades.size(), 2u);
  EXPECT_EQ(shades[0], (WaveBox{20, 50, 100, 90}));
  EXPECT_EQ(shades[1], (WaveBox{320, 50, 200, 90}));
  EXPECT_EQ(m.LeftHandleBox(), (WaveBox{116, 32, 8, 8}));
  EXPECT_EQ(m.RightHandleBox(), (WaveBox{316, 32, 8, 8}));
  EXPECT_EQ(Count(shapes, WaveShapeKind::Polyline, kWaveAxisColour), 0);  // no waveform given

  // A reset forgets the markers but not their times.
  m.ResetView();
  EXPECT_FALSE(m.leftChosen || m.rightChosen);
  EXPECT_EQ(m.leftTime, 20);
  EXPECT_EQ(m.totalTime, 0);
}

TEST(WaveViewModelTest, MarkerGesturesPostTheirMessagesAndNeverCross) {
  struct Step {
    char what;  // 'd' down, 'm' move, 'u' up
    int x, y;
  };
  struct Case {
    const char* name;
    double total;
    double rightChosenAt;  // > 0: the right marker is chosen there first
    std::vector<Step> steps;
    std::vector<unsigned> messages;
    double leftTime, rightTime;  // after the gesture
  };
  const std::vector<Case> cases = {
      {"left dragged into the middle",
       100,
       0,
       {{'d', 20, 36}, {'m', 21, 36}, {'m', 270, 36}, {'u', 270, 36}},
       {WM_LEFT_MARKER_GRAB, WM_CUT_START, WM_LEFT_MARKER_RELEASE},
       50,
       0},
      {"left beyond the right marker stops at it",
       100,
       60,
       {{'d', 20, 36}, {'m', 20, 37}, {'m', 500, 36}, {'u', 500, 36}},
       {WM_LEFT_MARKER_GRAB, WM_CUT_START, WM_LEFT_MARKER_RELEASE},
       60,
       60},
      {"right past the left end stops at the left marker",
       100,
       0,
       {{'d', 520, 36}, {'m', 519, 36}, {'m', -50, 36}, {'u', -50, 36}},
       {WM_RIGHT_MARKER_GRAB, WM_CUT_END, WM_RIGHT_MARKER_RELEASE},
       0,
       0},
      {"left to the axis start reports 0",
       100,
       0,
       {{'d', 20, 36}, {'m', 20, 36}, {'m', 200, 36}, {'m', 5, 36}, {'u', 5, 36}},
       {WM_LEFT_MARKER_GRAB, WM_CUT_START, WM_CUT_START, WM_LEFT_MARKER_RELEASE},
       0,
       0},
      {"no total time: the marker moves, no time is posted",
       0,
       0,
       {{'d', 20, 36}, {'m', 20, 36}, {'m', 200, 36}, {'u', 200, 36}},
       {WM_LEFT_MARKER_GRAB, WM_LEFT_MARKER_RELEASE},
       0,
       0},
      {"a move without the button grabs nothing", 100, 0, {{'m', 20, 36}, {'m', 200, 36}}, {}, 0, 0},
      {"a click in the band at the axis start seeks near 0",
       100,
       0,
       {{'d', 21, 100}, {'u', 21, 100}},
       {WM_WAVE_CLICK},
       0,
       0},
      {"a click above the band does nothing", 100, 0, {{'d', 300, 29}, {'u', 300, 29}}, {}, 0, 0},
      {"a click on the labels does nothing", 100, 0, {{'d', 300, 160}, {'u', 300, 160}}, {}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const WaveGeometry g = View();
    WaveViewModel m;
    m.SetTotalTime(c.total);
    if (c.rightChosenAt > 0) {
      m.rightChosen = true;
      m.rightTime = c.rightChosenAt;
    }
    m.Layout(g, nullptr);
    std::vector<unsigned> messages;
    for (const Step& s : c.steps) {
      const auto events = s.what == 'd'   ? m.MouseDown(g, s.x, s.y)
                          : s.what == 'm' ? m.MouseMove(g, s.x, s.y)
                                          : m.MouseUp(g, s.x, s.y);
      for (const WaveEvent& e : events) {
        messages.push_back(e.message);
        if (e.message == WM_CUT_START) {
          EXPECT_DOUBLE_EQ(e.seconds, m.leftTime);
        } else if (e.message == WM_CUT_END) {
          EXPECT_DOUBLE_EQ(e.seconds, m.rightTime);
        } else if (e.message == WM_WAVE_CLICK) {
          EXPECT_NEAR(e.seconds, 0.2, 1e-9);  // 1 px past the axis start: 0.2 s of 100 s on 500 px
        }
      }
      m.Layout(g, nullptr);
    }
    EXPECT_EQ(messages, c.messages);
    EXPECT_NEAR(m.leftTime, c.leftTime, 1e-9);
    EXPECT_NEAR(m.rightTime, c.rightTime, 1e-9);
    EXPECT_FALSE(m.Dragging());
    EXPECT_LE(m.LeftPoint().x, m.RightPoint().x);
    EXPECT_GE(m.LeftPoint().x, 20);
    EXPECT_LE(m.RightPoint().x, 520);
  }
}

TEST(WaveViewModelTest, AMarkerTimeOfZeroLeavesTheMarkerWhereItWasDrawn) {
  const WaveGeometry g = View();
  WaveViewModel m;
  m.SetTotalTime(100);
  m.leftChosen = true;
  m.leftTime = 30;  // x 170
  m.Layout(g, nullptr);
  EXPECT_EQ(m.LeftPoint().x, 170);
  m.leftTime = 0;
  m.Layout(g, nullptr);
  EXPECT_EQ(m.LeftPoint().x, 170);
  // A stretch shown from the typed times starts at the axis start again.
  m.ShowSelection(0, 50);
  m.Layout(g, nullptr);
  EXPECT_EQ(m.LeftPoint().x, 20);
  EXPECT_EQ(m.RightPoint().x, 270);
  // A wider control moves the markers with their times; a marker not chosen follows its end.
  WaveViewModel n;
  n.SetTotalTime(100);
  n.Layout(g, nullptr);
  n.Layout(View(1040), nullptr);
  EXPECT_EQ(n.RightHandleBox(), (WaveBox{1016, 32, 8, 8}));
  m.Layout(View(1040), nullptr);
  EXPECT_EQ(m.RightPoint().x, 520);  // 50 s of 100 on a 1000 px axis
}

}  // namespace
}  // namespace tw

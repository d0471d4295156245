// The shadow picture, a pure function of the parent's shape and the shadow's settings.
#include <gtest/gtest.h>

#include "ui/dialogs/CWndShadow.h"
#include "ui/dialogs/ShadowImage.h"

namespace tw {
namespace {

constexpr std::uint32_t kWhite = 0xFFFFFF;

std::uint32_t Grey(int alpha) {
  return PremultipliedPixel(kWhite, alpha);
}

std::vector<ShadowSpan> Rectangle(int w, int h) {
  return std::vector<ShadowSpan>(h, ShadowSpan{0, w});
}

// A 16 x 12 rectangle; sharpness 3 keeps the soft edge's steps exact: 200, 150, 100, 50 at
// distances 0..3 from the shape's (shrunk) edge.
ShadowParams Soft(int size, int x, int y) {
  ShadowParams p;
  p.darkness = 200;
  p.sharpness = 3;
  p.size = size;
  p.xOffset = x;
  p.yOffset = y;
  p.colour = kWhite;
  return p;
}

TEST(ShadowImageTest, PixelsArePremultiplied) {
  const std::uint32_t grey = ParseShadowColour("#9E9D9D");
  EXPECT_EQ(grey, 0x9D9D9Eu);  // red in the low byte
  struct Case {
    std::uint32_t colour;
    int alpha;
    std::uint32_t pixel;
  };
  const std::vector<Case> cases = {
      {grey, 150, 0x965C5C5Cu},  // 158*150/255 = 92, 157*150/255 = 92
      {0x0000FF, 255, 0xFFFF0000u},
      {0xFF0000, 128, 0x80000080u},
      {kWhite, 0, 0u},
  };
  for (const auto& c : cases) EXPECT_EQ(PremultipliedPixel(c.colour, c.alpha), c.pixel);
  for (const char* bad : {"9E9D9D", "#9E9D9", "#GG0000", ""}) EXPECT_EQ(ParseShadowColour(bad), 0u) << bad;
}

TEST(ShadowImageTest, RectangleWithoutOffset) {
  const ShadowImage img = RenderShadow(Soft(2, 0, 0), Rectangle(16, 12), 16, 12);
  ASSERT_EQ(img.width, 20);
  ASSERT_EQ(img.height, 16);
  struct Case {
    int x, y;
    std::uint32_t pixel;
  };
  const std::vector<Case> cases = {
      {0, 8, Grey(50)},   {1, 8, Grey(100)},   {2, 8, Grey(150)},   // left edge, mid height
      {19, 8, Grey(50)},  {18, 8, Grey(100)},  {17, 8, Grey(150)},  // right edge
      {10, 0, Grey(50)},  {10, 1, Grey(100)},  {10, 2, Grey(150)},  // top edge
      {10, 15, Grey(50)}, {10, 13, Grey(150)},                      // bottom edge
      {0, 0, 0},          {1, 1, Grey(58)},                         // rounded corner: 200 * (1 - sqrt(8) / 4)
      {3, 8, 0},          {10, 8, 0},          {16, 3, 0},          // never under the parent
  };
  for (const auto& c : cases) EXPECT_EQ(img.At(c.x, c.y), c.pixel) << c.x << "," << c.y;
}

TEST(ShadowImageTest, OffsetShowsTheSolidPartBesideTheParent) {
  const ShadowImage img = RenderShadow(Soft(2, 2, 2), Rectangle(16, 12), 16, 12);
  // The parent covers image columns 0..15 and rows 0..11; the shape's solid part spans 3..16.
  EXPECT_EQ(img.At(15, 8), 0u);
  EXPECT_EQ(img.At(16, 8), Grey(200));
  EXPECT_EQ(img.At(8, 12), Grey(200));
  EXPECT_EQ(img.At(8, 11), 0u);
  EXPECT_EQ(img.At(19, 8), Grey(50));
}

TEST(ShadowImageTest, SizeBeyondSharpnessHasASolidCore) {
  ShadowParams p = Soft(4, 0, 0);
  p.sharpness = 2;  // kernel radius 4, solid within 2, then 200 * (1 - (d - 2) / 3)
  const ShadowImage img = RenderShadow(p, Rectangle(16, 12), 16, 12);
  ASSERT_EQ(img.width, 24);
  ASSERT_EQ(img.height, 20);
  const int mid = 10;
  EXPECT_EQ(img.At(0, mid), Grey(66));
  EXPECT_EQ(img.At(1, mid), Grey(133));
  EXPECT_EQ(img.At(2, mid), Grey(200));
  EXPECT_EQ(img.At(3, mid), Grey(200));
  EXPECT_EQ(img.At(4, mid), 0u);
}

TEST(ShadowImageTest, CutCornersAreFollowed) {
  std::vector<ShadowSpan> cut = Rectangle(16, 12);
  cut[0] = {3, 16};
  cut[1] = {2, 16};
  cut[2] = {1, 16};
  const ShadowImage rect = RenderShadow(Soft(2, 0, 0), Rectangle(16, 12), 16, 12);
  const ShadowImage cornered = RenderShadow(Soft(2, 0, 0), cut, 16, 12);
  // Outside the parent's bounding box the cut corner casts less shadow ...
  int weaker = 0;
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x) {
      if (x >= 2 && y >= 2) continue;
      EXPECT_LE(cornered.At(x, y), rect.At(x, y)) << x << "," << y;
      weaker += cornered.At(x, y) < rect.At(x, y);
    }
  EXPECT_GT(weaker, 3);
  // ... and where the corner is cut away the shadow shows, while the parent's body stays clear.
  EXPECT_GT(cornered.At(3, 3), 0u);  // parent pixel (1, 1), cut
  EXPECT_EQ(rect.At(3, 3), 0u);
  EXPECT_EQ(cornered.At(8, 8), 0u);  // the parent's body
  // The uncut corners stay as they were.
  for (int y = 0; y < 6; ++y)
    for (int x = 14; x < 20; ++x) EXPECT_EQ(cornered.At(x, y), rect.At(x, y)) << x << "," << y;
}

TEST(ShadowImageTest, ShapesWithoutBodyAndOddSizes) {
  struct Case {
    const char* name;
    ShadowParams params;
    std::vector<ShadowSpan> spans;
    int w, h, imgW, imgH;
  };
  ShadowParams defaults;  // darkness 150, sharpness 5, size 0, offset 5
  ShadowParams negative = Soft(-2, 0, 0);
  const std::vector<Case> cases = {
      {"no region", defaults, {}, 30, 20, 30, 20},
      {"all rows empty", defaults, std::vector<ShadowSpan>(20, ShadowSpan{30, 0}), 30, 20, 30, 20},
      {"shrunk away", defaults, Rectangle(6, 6), 6, 6, 6, 6},
      {"negative size", negative, Rectangle(16, 12), 16, 12, 12, 8},
      {"smaller than size", Soft(-8, 0, 0), Rectangle(10, 10), 10, 10, 0, 0},
  };
  for (const auto& c : cases) {
    const ShadowImage img = RenderShadow(c.params, c.spans, c.w, c.h);
    EXPECT_EQ(img.width, c.imgW) << c.name;
    EXPECT_EQ(img.height, c.imgH) << c.name;
    EXPECT_EQ(img.pixels.size(), static_cast<size_t>(c.imgW) * c.imgH) << c.name;
    if (std::string(c.name) != "negative size") {
      for (std::uint32_t px : img.pixels) ASSERT_EQ(px, 0u) << c.name;
    }
  }
}

// The margins a window keeps around its body so that the whole picture fits in its surface.
TEST(ShadowImageTest, MarginsHoldThePicture) {
  struct Case {
    int size, x, y;
    ShadowMargins margins;
  };
  const std::vector<Case> cases = {
      {4, 0, 0, {4, 4, 4, 4}},                                  // the dialogs' shadow
      {0, 5, 5, {0, 0, 5, 5}},                                  // the defaults: to the right and below only
      {3, 5, -2, {0, 5, 8, 1}},      {-4, 0, 0, {0, 0, 0, 0}},  // smaller than the body: nothing outside it
      {20, -20, 20, {40, 0, 0, 40}},
  };
  for (const Case& c : cases) {
    ShadowParams p;
    p.size = c.size;
    p.xOffset = c.x;
    p.yOffset = c.y;
    const ShadowMargins m = MarginsOf(p);
    EXPECT_EQ(std::vector<int>({m.left, m.top, m.right, m.bottom}),
              std::vector<int>({c.margins.left, c.margins.top, c.margins.right, c.margins.bottom}))
        << c.size << " " << c.x << "," << c.y;
    // The picture of a 30 x 20 body, placed by its offset, lies within body plus margins.
    const ShadowImage img = RenderShadow(p, Rectangle(30, 20), 30, 20);
    const int left = c.x - c.size, top = c.y - c.size;
    EXPECT_GE(left, -m.left);
    EXPECT_GE(top, -m.top);
    EXPECT_LE(left + img.width, 30 + m.right);
    EXPECT_LE(top + img.height, 20 + m.bottom);
  }
}

TEST(ShadowImageTest, SpansFollowTheShape) {
  // A diamond: row y holds |x - 4| <= min(y, 8 - y).
  const auto spans =
      SpansFromShape(9, 10, [](int x, int y) { return std::abs(x - 4) <= std::min(y, 8 - y); });
  ASSERT_EQ(spans.size(), 10u);
  EXPECT_EQ(spans[0].left, 4);
  EXPECT_EQ(spans[0].right, 5);
  EXPECT_EQ(spans[4].left, 0);
  EXPECT_EQ(spans[4].right, 9);
  EXPECT_TRUE(spans[9].Empty());
  EXPECT_EQ(spans[9].left, 9);
  EXPECT_EQ(spans[9].right, 0);
}

TEST(ShadowImageTest, SettersRefuseOutOfRangeValues) {
  CWndShadow shadow;
  struct Case {
    int size;
    bool ok;
  };
  for (const Case& c :
       std::vector<Case>{{21, false}, {-21, false}, {20, true}, {-20, true}, {4, true}, {100, false}}) {
    const int before = shadow.Params().size;
    EXPECT_EQ(shadow.SetShadowSize(c.size), c.ok) << c.size;
    EXPECT_EQ(shadow.Params().size, c.ok ? c.size : before) << c.size;
  }
  struct Offset {
    int x, y;
    bool ok;
  };
  for (const Offset& c :
       std::vector<Offset>{{21, 0, false}, {0, -21, false}, {-20, 20, true}, {0, 0, true}, {5, 25, false}}) {
    const ShadowParams before = shadow.Params();
    EXPECT_EQ(shadow.SetShadowOffset(c.x, c.y), c.ok) << c.x << "," << c.y;
    EXPECT_EQ(shadow.Params().xOffset, c.ok ? c.x : before.xOffset);
    EXPECT_EQ(shadow.Params().yOffset, c.ok ? c.y : before.yOffset);
  }
  EXPECT_TRUE(shadow.SetShadowColour(ParseShadowColour("#9E9D9D")));
  EXPECT_EQ(shadow.Params().colour, 0x9D9D9Eu);
  EXPECT_EQ(shadow.Params().darkness, 150);
  EXPECT_EQ(shadow.Params().sharpness, 5);
}

}  // namespace
}  // namespace tw

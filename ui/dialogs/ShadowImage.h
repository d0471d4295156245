// The window shadow's picture as a pure function of the parent's shape: no window, no Qt.
// Pixels are 32-bit premultiplied ARGB (alpha in the top byte, then red, green, blue), the
// layout of QImage::Format_ARGB32_Premultiplied; row 0 is the top row.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace tw {

// The extent of one row of a shape: [left, right). A row with no point inside is empty and
// is written {W, 0}, W being the shape's width.
struct ShadowSpan {
  int left = 0;
  int right = 0;
  bool Empty() const { return left >= right; }
};

struct ShadowParams {
  int darkness = 150;        // alpha of the solid part, 0..255
  int sharpness = 5;         // width of the soft edge
  int size = 0;              // reach beyond the parent on each side, -20..20
  int xOffset = 5;           // -20..20
  int yOffset = 5;           // -20..20
  std::uint32_t colour = 0;  // red in the low byte, then green, then blue
};

struct ShadowImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;  // width * height, top row first
  std::uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// How far the shadow picture reaches beyond the parent on each side: the margins its window keeps
// around the parent so that both fit in one surface. Never negative.
struct ShadowMargins {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};
ShadowMargins MarginsOf(const ShadowParams& params);

// Alpha in the top byte, then each of red, green and blue times alpha / 255 (integer division).
std::uint32_t PremultipliedPixel(std::uint32_t colour, int alpha);

// "#RRGGBB" read with two hex digits per channel; 0 (black) when malformed.
std::uint32_t ParseShadowColour(std::string_view text);

// The row spans of a W x H shape given by its inside test.
std::vector<ShadowSpan> SpansFromShape(int width, int height,
                                       const std::function<bool(int x, int y)>& inside);

// The shadow picture, (W + 2 size) by (H + 2 size), for a parent of W x H whose rows are
// parentSpans (H of them; an empty list means the parent has no shape and casts no body).
ShadowImage RenderShadow(const ShadowParams& params, const std::vector<ShadowSpan>& parentSpans, int width,
                         int height);

}  // namespace tw

#include "ui/dialogs/ShadowImage.h"

#include <algorithm>
#include <cmath>

namespace tw {

std::uint32_t PremultipliedPixel(std::uint32_t colour, int alpha) {
  const std::uint32_t a = static_cast<std::uint32_t>(std::clamp(alpha, 0, 255));
  const std::uint32_t r = colour & 0xFF, g = (colour >> 8) & 0xFF, b = (colour >> 16) & 0xFF;
  return (a << 24) | ((r * a / 255) << 16) | ((g * a / 255) << 8) | (b * a / 255);
}

ShadowMargins MarginsOf(const ShadowParams& p) {
  // The picture spans [offset - size, W + offset + size) around a parent of width W.
  return {std::max(p.size - p.xOffset, 0), std::max(p.size - p.yOffset, 0), std::max(p.size + p.xOffset, 0),
          std::max(p.size + p.yOffset, 0)};
}

std::uint32_t ParseShadowColour(std::string_view text) {
  if (text.size() != 7 || text[0] != '#') return 0;
  std::uint32_t channels[3] = {0, 0, 0};
  for (int c = 0; c < 3; ++c) {
    for (int i = 0; i < 2; ++i) {
      const char ch = text[1 + c * 2 + i];
      int v = -1;
      if (ch >= '0' && ch <= '9') v = ch - '0';
      if (ch >= 'a' && ch <= 'f') v = ch - 'a' + 10;
      if (ch >= 'A' && ch <= 'F') v = ch - 'A' + 10;
      if (v < 0) return 0;
      channels[c] = channels[c] * 16 + static_cast<std::uint32_t>(v);
    }
  }
  return channels[0] | (channels[1] << 8) | (channels[2] << 16);
}

std::vector<ShadowSpan> SpansFromShape(int width, int height, const std::function<bool(int, int)>& inside) {
  std::vector<ShadowSpan> spans(static_cast<size_t>(std::max(height, 0)), ShadowSpan{width, 0});
  for (int y = 0; y < height; ++y) {
    int first = -1, last = -1;
    for (int x = 0; x < width; ++x) {
      if (!inside(x, y)) continue;
      if (first < 0) first = x;
      last = x;
    }
    if (first >= 0) spans[y] = {first, last + 1};
  }
  return spans;
}

namespace {

struct Canvas {
  int width;
  int height;
  std::vector<std::uint32_t>& pixels;
  std::uint32_t& At(int x, int y) { return pixels[static_cast<size_t>(y) * width + x]; }
};

}  // namespace

ShadowImage RenderShadow(const ShadowParams& p, const std::vector<ShadowSpan>& parentSpans, int W, int H) {
  ShadowImage image;
  const int size = p.size;
  image.width = W + 2 * size;
  image.height = H + 2 * size;
  if (image.width <= 0 || image.height <= 0 || W <= 0 || H <= 0) {
    image.width = std::max(image.width, 0);
    image.height = std::max(image.height, 0);
    image.pixels.assign(static_cast<size_t>(image.width) * image.height, 0);
    return image;
  }
  image.pixels.assign(static_cast<size_t>(image.width) * image.height, 0);
  Canvas canvas{image.width, image.height, image.pixels};
  const ShadowSpan empty{W, 0};
  auto parentRow = [&](int y) -> ShadowSpan {
    if (y < 0 || y >= H || static_cast<size_t>(y) >= parentSpans.size()) return empty;
    return parentSpans[y];
  };

  // 1. The parent's spans in image coordinates, empty rows above and below.
  std::vector<ShadowSpan> rows(static_cast<size_t>(image.height), empty);
  for (int y = 0; y < H; ++y) {
    const ShadowSpan s = parentRow(y);
    const int r = y + size;
    if (s.Empty() || r < 0 || r >= image.height) continue;
    rows[r] = {s.left + size, s.right + size};
  }
  auto row = [&](int i) -> ShadowSpan {
    if (i < 0 || i >= image.height || rows[i].Empty()) return empty;
    return rows[i];
  };

  // 2. Shrink the shape by the part of the soft edge that lies inside it.
  for (int step = 0; step < p.sharpness - size; ++step) {
    std::vector<ShadowSpan> shrunk(rows.size(), empty);
    for (int i = 0; i < image.height; ++i) {
      const ShadowSpan a = row(i - 1), b = row(i), c = row(i + 1);
      const ShadowSpan s{1 + std::max({a.left, b.left, c.left}), std::min({a.right, b.right, c.right}) - 1};
      if (!s.Empty()) shrunk[i] = s;
    }
    rows.swap(shrunk);
  }

  // 3. The kernel.
  const int k = std::max(p.sharpness, size);
  const int inner = std::max(size - p.sharpness, 0);
  const int side = 2 * k + 1;
  std::vector<std::uint32_t> kernel(static_cast<size_t>(side) * side, 0);
  for (int dy = -k; dy <= k; ++dy) {
    for (int dx = -k; dx <= k; ++dx) {
      const double d = std::sqrt(static_cast<double>(dx * dx + dy * dy));
      int alpha = 0;
      if (d < inner)
        alpha = p.darkness;
      else if (d <= k)
        alpha = static_cast<int>(p.darkness * (1.0 - (d - inner) / (p.sharpness + 1)));
      kernel[static_cast<size_t>(dy + k) * side + (dx + k)] =
          alpha > 0 ? PremultipliedPixel(p.colour, alpha) : 0;
    }
  }
  auto stamp = [&](int cx, int cy) {
    for (int dy = -k; dy <= k; ++dy) {
      const int y = cy + dy;
      if (y < 0 || y >= image.height) continue;
      for (int dx = -k; dx <= k; ++dx) {
        const int x = cx + dx;
        if (x < 0 || x >= image.width) continue;
        std::uint32_t& px = canvas.At(x, y);
        px = std::max(px, kernel[static_cast<size_t>(dy + k) * side + (dx + k)]);
      }
    }
  };

  // 4. The soft edge along the left and right ends of every row, whole rows at top and bottom.
  for (int i = k; i < image.height - k; ++i) {
    const ShadowSpan s = row(i);
    if (s.Empty()) continue;
    const ShadowSpan above = row(i - 1), below = row(i + 1);
    int x = s.left;
    const int leftStop = 1 + std::max(above.left, below.left);
    for (; x < s.right && x < leftStop; ++x) stamp(x, i);
    for (int r = std::max(std::min(above.right, below.right) - 1, x); r < s.right; ++r) stamp(r, i);
  }

  // 5. The solid part, cut away wherever the parent itself lies over it.
  const std::uint32_t solid = PremultipliedPixel(p.colour, p.darkness);
  const int first = std::max(0, std::min(k, std::max(size - p.yOffset, 0)));
  const int last =
      std::min(image.height, std::max(H + std::min(size - p.yOffset, 2 * size), image.height - k));
  for (int i = first; i < last; ++i) {
    const ShadowSpan s = row(i);
    if (s.Empty()) continue;
    const ShadowSpan under = parentRow(i + p.yOffset - size);
    const int coverLeft = under.Empty() ? 0 : under.left + size - p.xOffset;
    const int coverRight = under.Empty() ? 0 : under.right + size - p.xOffset;
    for (int x = std::max(s.left, 0); x < std::min(s.right, image.width); ++x)
      canvas.At(x, i) = (x >= coverLeft && x < coverRight) ? 0 : solid;
  }
  return image;
}

}  // namespace tw

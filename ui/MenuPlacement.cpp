#include "ui/MenuPlacement.h"

#include <algorithm>

namespace tw {
namespace {

// The work area's right and bottom as the first coordinates outside it.
int Right(const QRect& area) {
  return area.x() + area.width();
}
int Bottom(const QRect& area) {
  return area.y() + area.height();
}

// Keeps a menu of size inside the work area; one larger than the area keeps its top-left corner
// on the area's.
QPoint ClampInto(QPoint topLeft, QSize menu, const QRect& area) {
  const int x = std::max(area.x(), std::min(topLeft.x(), Right(area) - menu.width()));
  const int y = std::max(area.y(), std::min(topLeft.y(), Bottom(area) - menu.height()));
  return {x, y};
}

}  // namespace

QPoint PlaceMainMenu(QPoint cursor, QSize menu, QRect workArea) {
  const int w = menu.width(), h = menu.height();
  int left = cursor.x(), top = cursor.y();
  if (top + h > Bottom(workArea)) top = h < workArea.height() ? cursor.y() - h : workArea.y();
  if (left + w > Right(workArea)) left = w < workArea.width() ? Right(workArea) - w : workArea.x();
  return ClampInto({left + 6, top - 6}, menu, workArea);
}

QPoint PlacePopMenu(QPoint anchor, QSize menu, QRect workArea) {
  const int w = menu.width(), h = menu.height();
  int left = anchor.x(), top = anchor.y();
  if (top + h > Bottom(workArea)) top = h < workArea.height() ? Bottom(workArea) - h : workArea.y();
  if (left + w > Right(workArea)) left = w < workArea.width() ? Right(workArea) - w : workArea.x();
  return ClampInto({left - w, top}, menu, workArea);
}

}  // namespace tw

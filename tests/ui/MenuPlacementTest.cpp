// Where the menus open against the edges of the work area.
#include <gtest/gtest.h>

#include "ui/MenuPlacement.h"

namespace tw {
namespace {

struct Case {
  const char* what;
  QPoint anchor;
  QSize menu;
  QRect area;
  QPoint expected;
};

[[maybe_unused]] void PrintTo(const QPoint& p, std::ostream* os) {
  *os << "(" << p.x() << ", " << p.y() << ")";
}

const QRect kArea(0, 0, 1280, 860);       // a panel of 40 below a 1280 x 900 screen
const QRect kTopPanel(0, 30, 1280, 870);  // a panel of 30 above

TEST(MenuPlacementTest, MainMenuOpensAtTheCursorAndStaysInsideTheWorkArea) {
  const std::vector<Case> cases = {
      {"room everywhere: 6 right, 6 up", {100, 100}, {140, 200}, kArea, {106, 94}},
      {"bottom-right corner: above and left of the cursor", {1270, 850}, {140, 200}, kArea, {1140, 644}},
      {"past the bottom only: opens upwards", {400, 800}, {140, 200}, kArea, {406, 594}},
      {"past the right only: right edge on the area's", {1200, 300}, {140, 200}, kArea, {1140, 294}},
      {"top-left corner: pulled down into the area", {0, 0}, {140, 200}, kArea, {6, 0}},
      {"taller than the area: top on the area's", {100, 500}, {140, 900}, kArea, {106, 0}},
      {"wider than the area: left on the area's", {600, 100}, {1400, 200}, kArea, {0, 94}},
      {"panel above: the area's top counts", {500, 880}, {140, 200}, kTopPanel, {506, 674}},
      {"panel above, cursor on it", {500, 10}, {140, 200}, kTopPanel, {506, 30}},
  };
  for (const Case& c : cases) EXPECT_EQ(PlaceMainMenu(c.anchor, c.menu, c.area), c.expected) << c.what;
}

TEST(MenuPlacementTest, RowMenuOpensToTheLeftOfTheClick) {
  const std::vector<Case> cases = {
      {"room everywhere", {800, 300}, {130, 70}, kArea, {670, 300}},
      {"near the bottom: moved up above the panel", {800, 850}, {130, 70}, kArea, {670, 790}},
      {"past the right edge: moved left, then opened to the left",
       {1275, 300},
       {130, 70},
       kArea,
       {1020, 300}},
      {"near the left edge: kept inside", {50, 300}, {130, 70}, kArea, {0, 300}},
      {"taller than the area: top on the area's", {800, 300}, {130, 900}, kArea, {670, 0}},
      {"panel above: the bottom is the area's", {800, 890}, {130, 70}, kTopPanel, {670, 830}},
  };
  for (const Case& c : cases) EXPECT_EQ(PlacePopMenu(c.anchor, c.menu, c.area), c.expected) << c.what;
}

}  // namespace
}  // namespace tw

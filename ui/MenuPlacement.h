// Where the pop-up menus open, as pure functions of the anchor point, the menu's size and the
// work area of the primary screen (the screen less its panels). Both keep the whole menu inside
// the work area whenever it fits.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace tw {

// The main menu at the cursor: below and to the right of it, or above it when it would pass
// the bottom, or against the right edge when it would pass it; then moved 6 pixels right and 6
// up, and pulled back inside the work area. The menu's top-left corner.
QPoint PlaceMainMenu(QPoint cursor, QSize menu, QRect workArea);

// A row menu at the click on the row's menu button: it opens to the left of the anchor, its top
// at the anchor, moved up when it would pass the bottom of the work area and pulled back inside
// the work area. The menu's top-left corner.
QPoint PlacePopMenu(QPoint anchor, QSize menu, QRect workArea);

}  // namespace tw

// What the window system lets the program do with its own top-level windows. On X11 the program
// places them (centres dialogs, clamps menus to the work area with global coordinates); on
// Wayland it cannot place or raise a top-level and knows no global position: the compositor
// places windows, popups are anchored to their parent, and activation needs a token.
#pragma once

#include <QByteArray>

namespace tw {

// False on Wayland: a move() of a top-level is ignored and global positions are guesses.
bool CanPlaceTopLevels();

// The environment variable through which a launcher hands its activation token to the program it
// starts, and through which Qt's Wayland platform activates a window with it.
inline constexpr const char* kActivationTokenVariable = "XDG_ACTIVATION_TOKEN";

// Makes the next activation request of a window use token (xdg-activation). Nothing on X11 or with
// an empty token.
void UseActivationToken(const QByteArray& token);

}  // namespace tw

// The X server's view of the pointer, in a file of its own because Xlib's macros clash with
// Qt's names.
#pragma once

#include <string>

namespace scopa {

// The title of the top-level window under the pointer (the first titled window going down
// from the root's child there) and whether the left button is down; false without a display.
bool X11PointerWindowTitle(std::string& title, bool& left_button_down);

}  // namespace scopa

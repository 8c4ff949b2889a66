// File and folder icons of the list and the tree: the core names them by index
// (IconIndexOfName); Qt finds each name in the user's icon theme, at the screen's pixel ratio.
#pragma once

#include <QIcon>

namespace scopa {

// The icon for an index; the style's file icon when the theme has none. Icons are kept for
// the life of the process, as an image list keeps them.
QIcon ThemeIconOfIndex(int index);

}  // namespace scopa

// Sidecar pictures: a Windows bitmap with the extension ".imf" that stands for a folder
// ("folder.imf" inside it) or a document (its name with ".imf" for its extension), drawn
// with the colour of its pixel (1, 1) see-through.
#pragma once

#include <string>

#include "imaging/dib.h"
#include "imaging/geometry.h"

namespace scopa {

inline constexpr const char* kFolderPictureName = "folder.imf";

// The sidecar of `item_path`. A name without '.' is a folder's: its "folder.imf", and
// `is_folder_picture` is set; otherwise the path up to the name's last '.' plus ".imf".
// Only the name after the last '/' is looked at, so dotted folders on the way do not count.
std::string SidecarPicturePath(const std::string& item_path, bool& is_folder_picture);

// Draws the item's sidecar centred in the cell, shrunk when it does not fit, with the
// folder badge inside its lower-left corner when it is a folder's picture and `show_badge`
// is on. False, with nothing drawn, when there is no readable sidecar. `anchor` becomes the
// picture's lower-left corner.
bool DrawSidecarPicture(oDIB& cell, const std::string& item_path, bool show_badge, Point& anchor);

}  // namespace scopa

// The control's own pictures, drawn by this code when first asked for: the splitter's
// checkerboard, the shortcut arrow, the folder badge, the document and picture icons, and
// the plain file and folder icons that stand in when no icon theme has one.
#pragma once

#include "imaging/dib.h"
#include "imaging/geometry.h"
#include "resources/icon_image.h"

namespace scopa {

inline constexpr int kBitmapSplitterPattern = 202;  // 8 x 8, 1 bit: a 50 % checkerboard
inline constexpr int kBitmapShortcutArrow = 204;    // 16 x 16, 16 colours, green is clear
inline constexpr int kBitmapFolderBadge = 220;      // 32 x 32, 24 bits, green is clear
// The colour that the arrow and badge bitmaps leave see-through.
inline constexpr Rgb kBitmapMaskColour{0, 255, 0};

inline constexpr int kIconDocument = 210;        // desktop-publishing and art documents
inline constexpr int kIconPictureWaiting = 211;  // a picture whose thumbnail is not made yet
inline constexpr int kIconScrapDocument = 212;   // scraps and design snippets
inline constexpr int kIconStyledText = 213;      // styled-text documents
inline constexpr int kIconPictureFailed = 214;   // a picture whose thumbnail could not be made

// The bitmap resource `id`; empty for a number that is not one.
oDIB LoadResourceBitmap(int id);

// Icon `id` at 32 or 16 pixels, made once per process; empty for other numbers or sizes.
const IconImage& LoadResourceIcon(int id, int size_px);

// The stand-ins for theme icons, at 32 or 16 pixels (empty for other sizes).
const IconImage& FallbackFileIcon(int size_px);
const IconImage& FallbackFolderIcon(int size_px);

}  // namespace scopa

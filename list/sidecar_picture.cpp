#include "list/sidecar_picture.h"

#include "imaging/draw.h"
#include "imaging/picture.h"
#include "list/cell_pictures.h"
#include "resources/pictures.h"

namespace scopa {

std::string SidecarPicturePath(const std::string& item_path, bool& is_folder_picture) {
    size_t name_start = item_path.rfind('/');
    name_start = name_start == std::string::npos ? 0 : name_start + 1;
    size_t dot = item_path.rfind('.');
    is_folder_picture = dot == std::string::npos || dot < name_start;
    if (is_folder_picture) {
        bool ends_with_slash = !item_path.empty() && item_path.back() == '/';
        return item_path + (ends_with_slash ? "" : "/") + kFolderPictureName;
    }
    return item_path.substr(0, dot) + ".imf";
}

bool DrawSidecarPicture(oDIB& cell, const std::string& item_path, bool show_badge, Point& anchor) {
    bool is_folder_picture = false;
    std::string path = SidecarPicturePath(item_path, is_folder_picture);
    oDIB picture;
    if (!LoadBitmapFile(path, picture)) return false;
    oDIB mask = MaskOfKeyColour(picture);
    ShrinkForCell(cell.Width(), picture);
    ShrinkForCell(cell.Width(), mask);
    int32_t x = (cell.Width() - picture.Width()) / 2;
    int32_t y = (cell.Height() - picture.Height()) / 2;
    // Picture xor cell, the key pixels' cell kept and the others cleared, xor picture again:
    // the cell where the key colour was, the picture everywhere else.
    int32_t width = picture.Width(), height = picture.Height();
    BitBlt(cell, x, y, width, height, picture, 0, 0, RasterOp::kSrcInvert);
    BitBlt(cell, x, y, width, height, mask, 0, 0, RasterOp::kSrcAnd);
    BitBlt(cell, x, y, width, height, picture, 0, 0, RasterOp::kSrcInvert);
    if (is_folder_picture && show_badge) {
        static const oDIB badge = LoadResourceBitmap(kBitmapFolderBadge);
        DrawMaskedImage(cell, x + 1, y + height - 33, badge, kBitmapMaskColour);
    }
    anchor = Point{x, y + height};
    return true;
}

}  // namespace scopa

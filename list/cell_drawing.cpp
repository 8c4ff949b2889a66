// Placeholder composition until the cell drawing lands: the window colour and the selection
// outline only.
#include "list/cell_drawing.h"

namespace scopa {
namespace {
SystemColours g_colours = SystemColours::Defaults();
}  // namespace

SystemColours SystemColours::Defaults() {
    SystemColours defaults;
    defaults.colours.fill(Rgb{192, 192, 192});
    defaults.colours[kColourWindow] = Rgb{255, 255, 255};
    defaults.colours[kColourHighlight] = Rgb{0, 0, 128};
    defaults.colours[kColourButtonShadow] = Rgb{128, 128, 128};
    return defaults;
}

void SetSystemColours(const SystemColours& colours) {
    g_colours = colours;
}
const SystemColours& GetSystemColours() {
    return g_colours;
}

oDIB ComposeItemImage(const CellRequest& request) {
    oDIB cell;
    cell.Create(request.cell_size_px, request.cell_size_px, 24);
    const Rgb window = g_colours[kColourWindow];
    for (int32_t y = 0; y < cell.Height(); ++y) {
        for (int32_t x = 0; x < cell.Width(); ++x) {
            cell.SetRawPixel(
                x, y, uint32_t(window.red) << 16 | uint32_t(window.green) << 8 | window.blue);
        }
    }
    return cell;
}

}  // namespace scopa

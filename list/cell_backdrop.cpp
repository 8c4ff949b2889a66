#include "list/cell_backdrop.h"

#include <algorithm>
#include <mutex>

#include "imaging/draw.h"
#include "imaging/picture.h"
#include "list/cell_pictures.h"
#include "list/population.h"

namespace scopa {
namespace {

std::mutex g_mutex;
std::shared_ptr<const oDIB> g_backdrop;

std::shared_ptr<const oDIB> LoadFile(const std::string& name) {
    auto picture = std::make_shared<oDIB>();
    if (!LoadBitmapFile(name, *picture)) return nullptr;
    return picture;
}

// One whole tile, clipped to the target first so that a large backdrop costs only the
// pixels it covers.
void BlitTile(oDIB& target, int32_t x, int32_t y, const oDIB& tile) {
    int32_t left = std::max(x, 0), top = std::max(y, 0);
    int32_t right = std::min(x + tile.Width(), target.Width());
    int32_t bottom = std::min(y + tile.Height(), target.Height());
    if (left >= right || top >= bottom) return;
    CopyPixels(target, left, top, right - left, bottom - top, tile, left - x, top - y);
}

}  // namespace

std::shared_ptr<const oDIB> CurrentBackdrop() {
    std::lock_guard lock(g_mutex);
    if (!g_backdrop) g_backdrop = LoadFile(std::string(kBackdropFileName));
    return g_backdrop;
}

void ReleaseBackdrop() {
    std::lock_guard lock(g_mutex);
    g_backdrop.reset();
}

void CListBackdrop::LoadBackdrop(const std::string& folder_backdrop_path) {
    if (!folder_backdrop_path.empty()) {
        m_bOwnBackdrop = true;
        std::shared_ptr<const oDIB> picture = LoadFile(folder_backdrop_path);
        std::lock_guard lock(g_mutex);
        g_backdrop = std::move(picture);
    } else if (m_bOwnBackdrop) {
        m_bOwnBackdrop = false;
        std::shared_ptr<const oDIB> picture = LoadFile(std::string(kBackdropFileName));
        std::lock_guard lock(g_mutex);
        g_backdrop = std::move(picture);
    }
}

void DrawBackdrop(oDIB& target, Rect rect, int32_t x_offset, int32_t y_offset,
                  const oDIB* backdrop) {
    if (backdrop == nullptr || backdrop->IsEmpty()) return;
    int32_t width = backdrop->Width(), height = backdrop->Height();
    int32_t columns = rect.Width() / width + 2;
    int32_t rows = rect.Height() / height + 2;
    // C++ `%` truncates toward zero, which is the remainder the tiling is defined with.
    int32_t first_x = rect.left - int32_t((int64_t(rect.left) + x_offset) % width);
    int32_t first_y = rect.top - int32_t((int64_t(rect.top) + y_offset) % height);
    for (int32_t row = 0; row < rows; ++row) {
        for (int32_t column = 0; column < columns; ++column) {
            BlitTile(target, first_x + column * width, first_y + row * height, *backdrop);
        }
    }
}

}  // namespace scopa

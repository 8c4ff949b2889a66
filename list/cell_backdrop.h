// The backdrop behind the preview styles: one picture for the whole process, tiled behind the
// items so that each cell continues the pattern behind it. A folder may bring its own
// "backdrop.imf"; otherwise the one in the program's folder is used, and without that no
// backdrop is painted.
#pragma once

#include <memory>
#include <string>

#include "imaging/dib.h"
#include "imaging/geometry.h"

namespace scopa {

// The process's backdrop; when none is loaded, the program folder's "backdrop.imf" is tried
// first. Null when there is none. Holding the pointer keeps the picture alive across a reload.
std::shared_ptr<const oDIB> CurrentBackdrop();

// Forgets the process's backdrop (the last list window went away).
void ReleaseBackdrop();

// What one list knows of the backdrop: whether the shown folder brought its own.
class CListBackdrop {
public:
    // After each population, with the shown folder's "backdrop.imf" path, or "" when it has
    // none: a folder's own picture replaces the backdrop; leaving such a folder goes back to
    // the default one; otherwise the backdrop stays.
    void LoadBackdrop(const std::string& folder_backdrop_path);
    bool HasOwnBackdrop() const { return m_bOwnBackdrop; }

private:
    bool m_bOwnBackdrop = false;
};

// Tiles `backdrop` over `rect` of the target; the tile whose corner is at (left - ((left +
// x_offset) mod w), top - ((top + y_offset) mod h)) starts the grid (C remainder: a negative
// sum gives a negative remainder). Nothing is drawn without a backdrop.
void DrawBackdrop(oDIB& target, Rect rect, int32_t x_offset, int32_t y_offset,
                  const oDIB* backdrop);

}  // namespace scopa

#include "imaging/sized_thumbnail.h"

#include <algorithm>

#include "imaging/filter.h"
#include "imaging/picture.h"
#include "imaging/stream.h"

namespace scopa {
namespace {

int32_t LongSide(vSIZE size) {
    return std::max(size.cx, size.cy);
}

// The smallest offered resolution whose long side still reaches `size_px` (resolutions come
// largest first), or -1 for the full size.
int ChooseResolutionFor(const std::string& path, int32_t size_px) {
    vFILE file(path, vFILE::kModeRead);
    if (file.Error()) return -1;
    oFILTER* filter = nullptr;
    if (oFILTERLIST::GetFilter(file, filter) != kFilterTypeBitmap || filter == nullptr) return -1;
    int chosen = -1;
    int count = filter->GetResolutionCount(path);
    for (int i = 0; i < count; ++i) {
        if (LongSide(filter->GetResolution(i)) >= size_px) chosen = i;
    }
    return chosen;
}

// The drawn size of a picture of `size` with its long side at `size_px`.
vSIZE FittedSize(vSIZE size, int32_t size_px) {
    if (size.cx <= 0 || size.cy <= 0) return {0, 0};
    Rect fitted = FitToBox(size.cx, size.cy, size_px, size_px);
    return {std::max(fitted.Width(), 1), std::max(fitted.Height(), 1)};
}

RgbaImage Render(int kind, const oDIB& dib, const vMETAFILE& metafile, vSIZE fitted) {
    oDIB target;
    if (fitted.cx < 1 || fitted.cy < 1 || !target.Create(fitted.cx, fitted.cy, 24)) return {};
    vSIZE covered = RenderPicture(target, kind, dib, metafile);
    if (covered.cx < 1 || covered.cy < 1) return {};
    return RgbaFromDib(target, covered);
}

bool IsSizeAllowed(int32_t size_px) {
    return size_px >= kMinSizedThumbnailPx && size_px <= kMaxSizedThumbnailPx;
}

}  // namespace

int RenderSizedThumbnail(const std::string& path, int32_t size_px, RgbaImage* out) {
    if (!IsSizeAllowed(size_px)) return kLoadFailed;
    oDIB dib;
    vMETAFILE metafile;
    int kind = kFilterTypeNone;
    int result =
        LoadPicture(nullptr, path, dib, metafile, kind, ChooseResolutionFor(path, size_px));
    if (result != kLoadRead) return result;
    vSIZE natural = kind == kFilterTypeVector ? vSIZE{metafile.m_cx, metafile.m_cy} : dib.Size();
    RgbaImage image = Render(kind, dib, metafile, FittedSize(natural, size_px));
    if (image.IsEmpty()) return kLoadFailed;
    *out = std::move(image);
    return kLoadRead;
}

RgbaImage ScaleDibToSize(const oDIB& dib, int32_t size_px) {
    if (dib.IsEmpty() || !IsSizeAllowed(size_px)) return {};
    return Render(kFilterTypeBitmap, dib, vMETAFILE(), FittedSize(dib.Size(), size_px));
}

}  // namespace scopa

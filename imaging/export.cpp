#include "imaging/export.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

#include "imaging/filter.h"
#include "imaging/palette.h"
#include "imaging/picture.h"
#include "imaging/thumbnail.h"
#include "platform/text.h"

namespace scopa {
namespace {

// Copies through a temporary file and a rename, so a failed copy leaves the target alone.
bool CopyReplacing(const std::string& source, const std::string& destination) {
    std::string temporary = destination + ".tmp-copy";
    std::error_code error;
    if (!std::filesystem::copy_file(source, temporary,
                                    std::filesystem::copy_options::overwrite_existing, error)) {
        std::filesystem::remove(temporary, error);
        return false;
    }
    std::filesystem::rename(temporary, destination, error);
    if (error) std::filesystem::remove(temporary, error);
    return !error;
}

// The text after the last '.' of the file name, "" when it has none.
std::string_view ExtensionOfName(std::string_view path) {
    size_t slash = path.rfind('/');
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
}

}  // namespace

bool KeepsItsFormat(const std::string& source, const std::string& id) {
    if (id.size() == kClassicIdentifierChars) {
        return source.size() >= id.size() &&
               ToUpperAscii(source.substr(source.size() - id.size())) == id;
    }
    return ToUpperAscii(ExtensionOfName(source)) == id;
}

std::string PathWithExtension(const std::string& path, const std::string& id) {
    std::string wanted = "." + id;
    if (path.size() >= wanted.size() &&
        EqualsNoCase(std::string_view(path).substr(path.size() - wanted.size()), wanted)) {
        return path;
    }
    return path + wanted;
}

bool ExportPicture(PictureLoadObserver* observer, const std::string& destination,
                   const std::string& id, int32_t width, int32_t height, const std::string& source,
                   int resolution_index) {
    if (KeepsItsFormat(source, id)) return CopyReplacing(source, destination);
    const oFILTER* target = oFILTERLIST::FindByID(id);
    if (target == nullptr || !target->DoesExport()) return false;
    oDIB dib;
    vMETAFILE metafile;
    int kind = kFilterTypeNone;
    // Our bitmap filters offer reduced sizes for thumbnails; an export without a chosen
    // resolution wants the picture's own size, which is the first one.
    int resolution = resolution_index == kAutomaticResolution ? 0 : resolution_index;
    if (LoadPicture(observer, source, dib, metafile, kind, resolution) != kLoadRead) {
        return false;
    }
    // What the picture is decides, not its name: a photograph without an extension is a
    // bitmap, and an EPS picture is its preview bitmap.
    bool source_bitmap = kind == kFilterTypeBitmap || kind == kFilterTypeEps;
    bool destination_bitmap = target->Type() == kFilterTypeBitmap;
    if (source_bitmap == destination_bitmap) {
        return WritePicture(destination, id, &dib, &metafile) == kFilterDone;
    }
    if (!source_bitmap) return RenderVectorToDib(destination, id, metafile, width, height);
    return WrapDibAsVector(destination, id, dib);
}

bool RenderVectorToDib(const std::string& destination, const std::string& id,
                       const vMETAFILE& metafile, int32_t width, int32_t height) {
    int64_t cx = metafile.m_cx, cy = metafile.m_cy;
    if (cx <= 0 || cy <= 0 || width <= 0 || height <= 0) return false;
    if (cx * height <= cy * width) {
        width = MulDiv(int32_t(cx), height, int32_t(cy));
    } else {
        height = MulDiv(int32_t(cy), width, int32_t(cx));
    }
    if (width <= 0 || height <= 0) return false;
    try {
        oDIB render;
        if (!render.Create(2 * width, 2 * height, 24)) return false;
        RenderPicture(render, kFilterTypeVector, oDIB(), metafile);
        int depth = id == "GIF" ? 8 : 24;
        oDIB halved;
        if (!halved.Create(width, height, depth)) return false;
        // The halving writes DIB rows bottom-up; our bitmaps keep rows top-down.
        std::vector<uint8_t> bottom_up(halved.Bits().size());
        if (!HalveToDib(render, bottom_up.data(), depth)) return false;
        for (int32_t y = 0; y < height; ++y) {
            std::copy_n(bottom_up.data() + size_t(height - 1 - y) * halved.Stride(),
                        halved.Stride(), halved.Row(y));
        }
        if (depth == 8) {
            const auto& palette = ScreenPalette();
            halved.ColourTable().assign(palette.begin(), palette.end());
        }
        return WritePicture(destination, id, &halved, nullptr) == kFilterDone;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool WrapDibAsVector(const std::string& destination, const std::string& id, const oDIB& dib) {
    int32_t w = dib.Width(), h = dib.Height();
    vMETAFILE metafile;
    metafile.LogicalExtents(0, w - 1, 0, h - 1);
    metafile.PhysicalExtents(dib.m_xPelsPerMeter / 40 * w, dib.m_yPelsPerMeter / 40 * h);
    metafile.DrawDIB(dib);
    return WritePicture(destination, id, nullptr, &metafile) == kFilterDone;
}

}  // namespace scopa

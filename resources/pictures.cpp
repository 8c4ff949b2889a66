// Every picture here is drawn at 32 pixels from rectangles and lines; the 16-pixel forms are
// that drawing halved. The arrow is small enough to be spelt out pixel by pixel.
#include "resources/pictures.h"

#include <array>
#include <map>
#include <mutex>
#include <string_view>
#include <utility>

namespace scopa {
namespace {

constexpr int kIconSidePx = 32;
constexpr int kFallbackFileId = -1;
constexpr int kFallbackFolderId = -2;

constexpr uint32_t Opaque(uint32_t rgb) {
    return 0xFF000000u | rgb;
}
constexpr uint32_t kOutline = Opaque(0x505050);
constexpr uint32_t kPaper = Opaque(0xFFFFFF);
constexpr uint32_t kFolderYellow = Opaque(0xF8D048);
constexpr uint32_t kFolderShade = Opaque(0xD8A820);
constexpr uint32_t kFolderEdge = Opaque(0x7A5A10);

// Drawing on a 32 x 32 icon; right and bottom are exclusive.
class Canvas {
public:
    Canvas() : m_icon(IconImage::Blank(kIconSidePx, kIconSidePx)) {}
    void Set(int x, int y, uint32_t argb) {
        if (x >= 0 && y >= 0 && x < kIconSidePx && y < kIconSidePx) {
            m_icon.pixels[size_t(y) * kIconSidePx + size_t(x)] = argb;
        }
    }
    void Fill(int left, int top, int right, int bottom, uint32_t argb) {
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x)
                Set(x, y, argb);
    }
    void Frame(int left, int top, int right, int bottom, uint32_t argb) {
        Fill(left, top, right, top + 1, argb);
        Fill(left, bottom - 1, right, bottom, argb);
        Fill(left, top, left + 1, bottom, argb);
        Fill(right - 1, top, right, bottom, argb);
    }
    void Box(int left, int top, int right, int bottom, uint32_t inside, uint32_t edge) {
        Fill(left, top, right, bottom, inside);
        Frame(left, top, right, bottom, edge);
    }
    // A line `thickness` pixels thick along the diagonal from (x, y), `length` steps long.
    void Diagonal(int x, int y, int length, int step_x, int thickness, uint32_t argb) {
        for (int i = 0; i < length; ++i)
            for (int t = 0; t < thickness; ++t)
                Set(x + i * step_x + t, y + i, argb);
    }
    IconImage Take() { return std::move(m_icon); }

private:
    IconImage m_icon;
};

// A sheet of paper with its top-right corner folded over.
void DrawPage(Canvas& canvas) {
    constexpr int left = 6, top = 2, right = 26, bottom = 30, fold = 6;
    canvas.Box(left, top, right, bottom, kPaper, kOutline);
    for (int y = top; y < top + fold; ++y) {
        for (int x = right - fold; x < right; ++x) {
            int over = (x - (right - fold)) - (y - top);
            canvas.Set(x, y, over > 0 ? 0 : over == 0 ? kOutline : Opaque(0xE0E0E0));
        }
    }
    canvas.Fill(right - fold, top + fold - 1, right, top + fold, kOutline);
    canvas.Fill(right - fold, top, right - fold + 1, top + fold, kOutline);
}

IconImage DrawDocumentIcon() {
    Canvas canvas;
    DrawPage(canvas);
    canvas.Box(9, 10, 17, 17, Opaque(0x3C78C8), Opaque(0x1E3C64));
    for (int y : {11, 13, 15})
        canvas.Fill(18, y, 23, y + 1, Opaque(0x808080));
    for (int y : {19, 22, 25})
        canvas.Fill(9, y, 23, y + 1, Opaque(0x808080));
    return canvas.Take();
}

IconImage DrawScrapIcon() {
    Canvas canvas;
    DrawPage(canvas);
    // A cut-out: a dashed box with a coloured shape in it.
    for (int i = 9; i < 23; i += 2) {
        canvas.Set(i, 9, kOutline);
        canvas.Set(i, 25, kOutline);
    }
    for (int i = 9; i < 26; i += 2) {
        canvas.Set(9, i, kOutline);
        canvas.Set(22, i, kOutline);
    }
    canvas.Fill(12, 12, 20, 22, Opaque(0xD04040));
    return canvas.Take();
}

IconImage DrawStyledTextIcon() {
    Canvas canvas;
    DrawPage(canvas);
    canvas.Fill(9, 9, 20, 12, Opaque(0xC03030));
    const std::array<std::pair<int, uint32_t>, 4> lines{{{15, Opaque(0x208040)},
                                                         {18, Opaque(0x2050C0)},
                                                         {21, Opaque(0x202020)},
                                                         {24, Opaque(0x9030A0)}}};
    int length = 14;
    for (const auto& [y, colour] : lines) {
        canvas.Fill(9, y, 9 + length, y + 2, colour);
        length -= 3;
    }
    return canvas.Take();
}

// A framed landscape: sky, sun and a green hill.
void DrawLandscape(Canvas& canvas, uint32_t sky, uint32_t hill, uint32_t sun) {
    constexpr int left = 3, top = 6, right = 29, bottom = 26;
    canvas.Box(left, top, right, bottom, sky, kOutline);
    for (int x = left + 1; x < right - 1; ++x) {
        int rise = x < 16 ? (x - left) / 2 : (right - x) / 2;
        canvas.Fill(x, bottom - 4 - rise / 2, x + 1, bottom - 1, hill);
    }
    canvas.Fill(7, 9, 12, 14, sun);
}

IconImage DrawPictureWaitingIcon() {
    Canvas canvas;
    DrawLandscape(canvas, Opaque(0xC8D8E8), Opaque(0xA8C0A8), Opaque(0xE8E0B0));
    return canvas.Take();
}

IconImage DrawPictureFailedIcon() {
    Canvas canvas;
    DrawLandscape(canvas, Opaque(0xA0C8F0), Opaque(0x60A860), Opaque(0xF0D040));
    canvas.Diagonal(7, 8, 17, 1, 3, Opaque(0xD02020));
    canvas.Diagonal(24, 8, 17, -1, 3, Opaque(0xD02020));
    return canvas.Take();
}

// The folder shape shared by the stand-in folder icon and the badge.
IconImage DrawFolderIcon() {
    Canvas canvas;
    canvas.Box(3, 6, 13, 10, kFolderShade, kFolderEdge);
    canvas.Box(2, 9, 30, 27, kFolderYellow, kFolderEdge);
    canvas.Fill(3, 10, 29, 11, Opaque(0xFCE890));
    return canvas.Take();
}

IconImage DrawFileIcon() {
    Canvas canvas;
    DrawPage(canvas);
    return canvas.Take();
}

IconImage DrawIcon32(int id) {
    switch (id) {
        case kIconDocument:
            return DrawDocumentIcon();
        case kIconPictureWaiting:
            return DrawPictureWaitingIcon();
        case kIconScrapDocument:
            return DrawScrapIcon();
        case kIconStyledText:
            return DrawStyledTextIcon();
        case kIconPictureFailed:
            return DrawPictureFailedIcon();
        case kFallbackFileId:
            return DrawFileIcon();
        case kFallbackFolderId:
            return DrawFolderIcon();
        default:
            return {};
    }
}

const IconImage& CachedIcon(int id, int size_px) {
    static std::mutex mutex;
    static std::map<std::pair<int, int>, IconImage> icons;
    static const IconImage empty;
    if (size_px != kIconSidePx && size_px != kIconSidePx / 2) return empty;
    std::lock_guard lock(mutex);
    auto key = std::make_pair(id, size_px);
    auto found = icons.find(key);
    if (found == icons.end()) {
        IconImage icon = DrawIcon32(id);
        if (size_px != kIconSidePx) icon = HalveIcon(icon);
        found = icons.emplace(key, std::move(icon)).first;
    }
    return found->second;
}

oDIB SplitterPattern() {
    oDIB bitmap;
    bitmap.Create(8, 8, 1);
    bitmap.ColourTable()[1] = RgbQuad{255, 255, 255, 0};
    for (int32_t y = 0; y < 8; ++y)
        bitmap.Row(y)[0] = y % 2 == 0 ? 0x55 : 0xAA;
    return bitmap;
}

// The 16 colours of the arrow bitmap's table: the classic display colours.
constexpr std::array<uint32_t, 16> kSixteenColours{
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

// '.' clear (green), 'D' dark grey, 'W' white, 'K' black.
constexpr std::array<std::string_view, 16> kArrowPixels{
    "................", "................", "................", "................",
    "................", "DDDDDDDDDDD.....", "DWWWWWWWWWK.....", "DWWWWKKKKWK.....",
    "DWWWWWKKKWK.....", "DWWWWKKKKWK.....", "DWWWKKWWKWK.....", "DWWKKWWWWWK.....",
    "DWWKWWWWWWK.....", "DWWKWWWWWWK.....", "DWWWWWWWWWK.....", "KKKKKKKKKKK.....",
};

oDIB ShortcutArrow() {
    oDIB bitmap;
    bitmap.Create(16, 16, 4);
    for (size_t i = 0; i < kSixteenColours.size(); ++i) {
        uint32_t rgb = kSixteenColours[i];
        bitmap.ColourTable()[i] = RgbQuad{uint8_t(rgb), uint8_t(rgb >> 8), uint8_t(rgb >> 16), 0};
    }
    for (int32_t y = 0; y < 16; ++y) {
        for (int32_t x = 0; x < 16; ++x) {
            char c = kArrowPixels[size_t(y)][size_t(x)];
            bitmap.SetRawPixel(x, y, c == 'D' ? 8 : c == 'W' ? 15 : c == 'K' ? 0 : 10);
        }
    }
    return bitmap;
}

oDIB FolderBadge() {
    oDIB bitmap;
    bitmap.Create(kIconSidePx, kIconSidePx, 24);
    const IconImage& folder = CachedIcon(kFallbackFolderId, kIconSidePx);
    for (int32_t y = 0; y < kIconSidePx; ++y) {
        for (int32_t x = 0; x < kIconSidePx; ++x) {
            uint32_t argb = folder.At(x, y);
            // The folder is drawn opaque; everything else is the clear green.
            bitmap.SetRawPixel(x, y, argb >> 24 == 0xFF ? argb & 0xFFFFFF : 0x00FF00);
        }
    }
    return bitmap;
}

}  // namespace

oDIB LoadResourceBitmap(int id) {
    switch (id) {
        case kBitmapSplitterPattern:
            return SplitterPattern();
        case kBitmapShortcutArrow:
            return ShortcutArrow();
        case kBitmapFolderBadge:
            return FolderBadge();
        default:
            return {};
    }
}

const IconImage& LoadResourceIcon(int id, int size_px) {
    static const IconImage empty;
    return id > 0 ? CachedIcon(id, size_px) : empty;
}

const IconImage& FallbackFileIcon(int size_px) {
    return CachedIcon(kFallbackFileId, size_px);
}
const IconImage& FallbackFolderIcon(int size_px) {
    return CachedIcon(kFallbackFolderId, size_px);
}

}  // namespace scopa

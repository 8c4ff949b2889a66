// The player keeps a device context's state (window, pens, brushes, fonts, colours, modes)
// and draws the common records: lines, polygons, rectangles, ellipses, arcs, text and
// device-independent bitmaps, with the pen styles, hatches, pattern brushes, text code pages
// and alignments the drawing calls had.
#include "imaging/wmf_player.h"

#include <cairo.h>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "imaging/dib.h"
#include "imaging/draw.h"
#include "platform/byte_reader.h"
#include "platform/code_pages.h"
#include "platform/loaded_libraries.h"

namespace scopa {
namespace {

using namespace wmf;

constexpr size_t kMaxSavedStates = 64;
constexpr int64_t kMaxBitmapPixels = int64_t(1) << 26;
// Records that create an object the player does not draw with still take a slot.
constexpr uint16_t kObjectCreators[] = {0x00F7, 0x06FF};

constexpr uint16_t kTransparentBkMode = 1;
constexpr uint16_t kWindingFill = 2;

// Pen style word: the line style in the low nibble, the end cap in 0x0F00, the join in 0xF000.
enum PenStyle : uint16_t {
    kPenSolid = 0,
    kPenDash = 1,
    kPenDot = 2,
    kPenDashDot = 3,
    kPenDashDotDot = 4,
    kPenNull = 5,
    kPenInsideFrame = 6,
};
constexpr uint16_t kPenStyleMask = 0x000F;
constexpr uint16_t kPenEndCapMask = 0x0F00;
constexpr uint16_t kPenEndCapSquare = 0x0100;
constexpr uint16_t kPenEndCapFlat = 0x0200;
constexpr uint16_t kPenJoinMask = 0xF000;
constexpr uint16_t kPenJoinBevel = 0x1000;
constexpr uint16_t kPenJoinMiter = 0x2000;
// A pen no wider than this many device pixels (after rounding) is cosmetic: one pixel wide,
// with its dashes measured in device pixels.
constexpr double kCosmeticMaxPx = 1.5;

enum BrushStyle : uint16_t {
    kBrushSolid = 0,
    kBrushNull = 1,
    kBrushHatched = 2,
    kBrushPattern = 3,
    kBrushDibPattern = 5,
    kBrushDibPatternPt = 6,
};
// Hatch brushes are 8 x 8 device-pixel tiles.
constexpr int kHatchTilePx = 8;
constexpr uint16_t kHatchStyles = 6;
// Pattern-brush bitmaps: the most pixels one may have, and the most all pattern brushes of
// one playing may decode together, so a file of many large patterns stays cheap.
constexpr int64_t kMaxPatternPixels = int64_t(1) << 22;
constexpr int64_t kMaxPatternPixelsPerPlay = int64_t(1) << 24;

// Text alignment flags (SetTextAlign): update-current-position, horizontal and vertical.
constexpr uint16_t kAlignUpdateCp = 0x0001;
constexpr uint16_t kAlignHorizontalMask = 0x0006;
constexpr uint16_t kAlignRight = 0x0002;
constexpr uint16_t kAlignCenter = 0x0006;
constexpr uint16_t kAlignVerticalMask = 0x0018;
constexpr uint16_t kAlignBottom = 0x0008;
constexpr uint16_t kAlignBaseline = 0x0018;
// ExtTextOut options: fill the rectangle with the background colour, clip to it.
constexpr uint16_t kTextOpaque = 0x0002;
constexpr uint16_t kTextClipped = 0x0004;
// The most bytes of one text record drawn; longer strings are cut.
constexpr size_t kMaxTextBytes = 4096;
// Glyphs larger than this (device pixels per em) are filled as paths, not cached as masks.
constexpr double kMaxCachedGlyphPx = 256;
constexpr double kDefaultFontHeight = 12;
constexpr uint8_t kSymbolCharset = 2;

struct Colour {
    double r = 0, g = 0, b = 0;
};
Colour FromColorRef(uint32_t ref) {
    return {(ref & 0xFF) / 255.0, (ref >> 8 & 0xFF) / 255.0, (ref >> 16 & 0xFF) / 255.0};
}

// A colour as a pixel of a cairo image surface (0x00RRGGBB).
uint32_t ImagePixel(const Colour& colour) {
    return uint32_t(std::lround(colour.r * 255)) << 16 |
           uint32_t(std::lround(colour.g * 255)) << 8 | uint32_t(std::lround(colour.b * 255));
}

using SurfacePtr = std::shared_ptr<cairo_surface_t>;

SurfacePtr OwnSurface(cairo_surface_t* surface) {
    if (Cairo().surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        Cairo().surface_destroy(surface);
        return nullptr;
    }
    return SurfacePtr(surface, Cairo().surface_destroy);
}

// A packed DIB as an RGB24 cairo surface; null when it is broken or has more than `max_pixels`.
SurfacePtr SurfaceFromDib(std::span<const uint8_t> dib_bytes, ColourUse colour_use,
                          int64_t max_pixels) {
    auto header = ReadBitmapInfoHeader(dib_bytes);
    if (!header || int64_t(header->width) * std::abs(int64_t(header->height)) > max_pixels) {
        return nullptr;
    }
    auto dib = oDIB::FromPackedDib(dib_bytes, colour_use);
    if (!dib || dib->IsEmpty()) return nullptr;
    SurfacePtr surface =
        OwnSurface(Cairo().image_surface_create(CAIRO_FORMAT_RGB24, dib->Width(), dib->Height()));
    if (surface == nullptr) return nullptr;
    uint8_t* data = Cairo().image_surface_get_data(surface.get());
    int stride = Cairo().image_surface_get_stride(surface.get());
    for (int32_t y = 0; y < dib->Height(); ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + size_t(y) * size_t(stride));
        for (int32_t x = 0; x < dib->Width(); ++x) {
            Rgb colour = dib->PixelColour(x, y);
            row[x] = uint32_t(colour.red) << 16 | uint32_t(colour.green) << 8 | colour.blue;
        }
    }
    Cairo().surface_mark_dirty(surface.get());
    return surface;
}

// Whether hatch style `hatch` sets pixel (x, y) of its 8 x 8 tile: horizontal lines on the
// last row, vertical lines on column 4, "\" along the main diagonal, "/" along the other.
bool HatchPixel(uint16_t hatch, int x, int y) {
    bool horizontal = y == kHatchTilePx - 1, vertical = x == kHatchTilePx / 2;
    bool forward = x == y, backward = x + y == kHatchTilePx - 1;
    switch (hatch) {
        case 0:
            return horizontal;
        case 1:
            return vertical;
        case 2:
            return forward;
        case 3:
            return backward;
        case 4:
            return horizontal || vertical;
        default:
            return forward || backward;
    }
}

// The hatch tile: the lines in `colour`, the rest transparent.
SurfacePtr HatchTile(uint16_t hatch, const Colour& colour) {
    SurfacePtr surface =
        OwnSurface(Cairo().image_surface_create(CAIRO_FORMAT_ARGB32, kHatchTilePx, kHatchTilePx));
    if (surface == nullptr) return nullptr;
    uint8_t* data = Cairo().image_surface_get_data(surface.get());
    int stride = Cairo().image_surface_get_stride(surface.get());
    uint32_t ink = 0xFF000000u | ImagePixel(colour);
    for (int y = 0; y < kHatchTilePx; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + size_t(y) * size_t(stride));
        for (int x = 0; x < kHatchTilePx; ++x)
            row[x] = HatchPixel(hatch, x, y) ? ink : 0;
    }
    Cairo().surface_mark_dirty(surface.get());
    return surface;
}

struct Pen {
    uint16_t style = 0;
    double width = 0;
    Colour colour;
    uint16_t Line() const { return style & kPenStyleMask; }
};
// A monochrome pattern: its set bits paint in the background colour, its clear bits in the
// text colour, both as they are when the brush fills.
struct MonochromePattern {
    int32_t width = 0, height = 0;
    size_t row_bytes = 0;
    std::vector<uint8_t> bits;  // rows top-down
};
struct Brush {
    uint16_t style = 0;
    Colour colour{1, 1, 1};
    uint16_t hatch = 0;
    SurfacePtr pattern;  // the bitmap of a pattern brush
    std::shared_ptr<const MonochromePattern> monochrome;
};
struct Font {
    double height = kDefaultFontHeight;
    double width = 0;               // average character width; 0 keeps the face's proportions
    double escapement_degrees = 0;  // counter-clockwise on screen
    bool bold = false, italic = false, underline = false, strike_out = false;
    uint8_t charset = 0;
    std::string face;
};
struct GdiObject {
    enum Kind { kNone, kPen, kBrush, kFont, kOther } kind = kNone;
    Pen pen;
    Brush brush;
    Font font;
};

struct DcState {
    Pen pen;
    Brush brush;
    Font font;
    Colour text_colour, bk_colour{1, 1, 1};
    bool opaque_background = true;
    bool winding = false;
    uint16_t text_align = 0;
    double window_x = 0, window_y = 0, window_w = 0, window_h = 0;
    double x = 0, y = 0;
};

// Format notes: LOGFONT's character set byte names the Windows code page of the text drawn
// with it; ANSI (0), default (1) and unknown sets are western (1252).
struct CharsetCodePage {
    uint8_t charset;
    uint32_t code_page;
};
constexpr CharsetCodePage kCharsetCodePages[] = {
    {128, 932},  {129, 949},  {134, 936},  {136, 950},  {161, 1253}, {162, 1254}, {163, 1258},
    {177, 1255}, {178, 1256}, {186, 1257}, {204, 1251}, {222, 874},  {238, 1250}, {255, 437},
};

uint32_t CodePageOf(uint8_t charset) {
    for (const CharsetCodePage& entry : kCharsetCodePages) {
        if (entry.charset == charset) return entry.code_page;
    }
    return kWesternCodePage;
}

// Part of a string: its UTF-8 and the bytes of the record it came from.
struct TextPiece {
    std::string utf8;
    size_t first_byte = 0;
    size_t byte_count = 0;
};

// The most bytes one character of the code pages here takes.
constexpr size_t kMaxCharacterBytes = 4;

// Text bytes to UTF-8. One converter per code page, made when first needed and owned by one
// player, so players on several threads share nothing.
class TextDecoder {
public:
    std::string ToUtf8(std::span<const uint8_t> bytes, uint32_t code_page) {
        return Converter(code_page).ToUtf8(bytes);
    }

    // The string cut into characters, each with the bytes it was made from, for strings whose
    // characters are placed one by one. A byte sequence that does not complete a character
    // within kMaxCharacterBytes becomes U+FFFD.
    std::vector<TextPiece> Characters(std::span<const uint8_t> bytes, uint32_t code_page) {
        CodePageConverter& converter = Converter(code_page);
        std::vector<TextPiece> pieces;
        size_t start = 0;
        while (start < bytes.size()) {
            TextPiece piece{{}, start, 1};
            AppendUtf8(piece.utf8, kReplacementCharacter);
            size_t longest = std::min(kMaxCharacterBytes, bytes.size() - start);
            for (size_t length = 1; length <= longest; ++length) {
                size_t consumed = 0;
                std::string utf8 = converter.ToUtf8(bytes.subspan(start, length), &consumed);
                if (consumed == length && !utf8.empty()) {
                    piece = {std::move(utf8), start, length};
                    break;
                }
            }
            pieces.push_back(std::move(piece));
            start += pieces.back().byte_count;
        }
        return pieces;
    }

private:
    CodePageConverter& Converter(uint32_t code_page) {
        std::unique_ptr<CodePageConverter>& converter = m_converters[code_page];
        if (!converter) converter = std::make_unique<CodePageConverter>(code_page);
        return *converter;
    }

    std::map<uint32_t, std::unique_ptr<CodePageConverter>> m_converters;
};

class WmfPlayer {
public:
    WmfPlayer(cairo_t* cairo, const vMETAFILE& frame, uint16_t objects)
        : m_cairo(cairo), m_objects(objects) {
        Cairo().get_matrix(cairo, &m_base);
        m_frame = {double(frame.m_x0), double(frame.m_y0), double(frame.m_x1 - frame.m_x0),
                   double(frame.m_y1 - frame.m_y0)};
        m_state.window_x = m_frame[0];
        m_state.window_y = m_frame[1];
        m_state.window_w = m_frame[2];
        m_state.window_h = m_frame[3];
        m_state.pen.style = 0;
        m_state.brush.colour = {1, 1, 1};
    }

    bool Play(const Record& record);

private:
    // Where an ExtTextOut record's rectangle applies.
    struct TextBox {
        uint16_t options = 0;
        double left = 0, top = 0, right = 0, bottom = 0;
    };

    void ApplyWindow();
    void AddObject(const GdiObject& object);
    void AddPatternBrush(const Record& record);
    void AddMonochromePatternBrush(const Record& record);
    void FillAndStroke(bool fill);
    void Fill();
    void FillWithTile(cairo_surface_t* tile);
    void Stroke();
    void StrokeCosmetic(const Pen& pen);
    void StrokeGeometric(const Pen& pen);
    double InsideFrameInset() const;
    void SetSourceColour(const Colour& colour) {
        Cairo().set_source_rgb(m_cairo, colour.r, colour.g, colour.b);
    }
    void AddPoints(const Record& record, size_t first_word, size_t count, bool close);
    void EllipsePath(double left, double top, double right, double bottom);
    void RoundRectPath(double left, double top, double right, double bottom, double corner_width,
                       double corner_height);
    void ArcPath(const Record& record, int kind);
    void DrawText(double x, double y, std::span<const uint8_t> bytes, const TextBox& box,
                  std::span<const uint8_t> spacing = {});
    void ApplyTextBox(const TextBox& box);
    bool EnterTextSpace(double x, double y, double& scale_y);
    std::vector<TextPiece> DecodeText(std::span<const uint8_t> bytes, bool one_by_one);
    double TextAdvance(const std::vector<TextPiece>& pieces, std::span<const uint8_t> spacing);
    void ShowText(const std::vector<TextPiece>& pieces, std::span<const uint8_t> spacing,
                  double start_x, double baseline_y, double scale_y);
    void SelectFont(const Font& font);
    void DrawTextDecorations(const Font& font, double start_x, double baseline_y, double advance);
    void DrawBitmap(std::span<const uint8_t> dib, double dx, double dy, double dw, double dh,
                    double sx, double sy, double sw, double sh);

    cairo_t* m_cairo;
    cairo_matrix_t m_base;
    std::array<double, 4> m_frame{};
    std::vector<GdiObject> m_objects;
    DcState m_state;
    std::vector<DcState> m_saved;
    TextDecoder m_decoder;
    int64_t m_patternPixels = 0;
};

void WmfPlayer::ApplyWindow() {
    Cairo().set_matrix(m_cairo, &m_base);
    if (m_state.window_w == 0 || m_state.window_h == 0) return;
    Cairo().translate(m_cairo, m_frame[0], m_frame[1]);
    Cairo().scale(m_cairo, m_frame[2] / m_state.window_w, m_frame[3] / m_state.window_h);
    Cairo().translate(m_cairo, -m_state.window_x, -m_state.window_y);
}

void WmfPlayer::AddObject(const GdiObject& object) {
    for (GdiObject& slot : m_objects) {
        if (slot.kind == GdiObject::kNone) {
            slot = object;
            return;
        }
    }
}

// Format notes: DIBCREATEPATTERNBRUSH holds the brush style, the colour usage (0 RGB colours,
// 1 palette indices) and a packed DIB, which is tiled from the device origin.
void WmfPlayer::AddPatternBrush(const Record& r) {
    GdiObject object;
    object.kind = GdiObject::kOther;
    uint16_t style = uint16_t(r.Word(0));
    ColourUse colour_use = style != kBrushPattern && r.Word(1) == 1 ? ColourUse::kPaletteIndices
                                                                    : ColourUse::kRgbColours;
    if (r.params.size() > 4 && m_patternPixels < kMaxPatternPixelsPerPlay) {
        int64_t allowed = std::min(kMaxPatternPixels, kMaxPatternPixelsPerPlay - m_patternPixels);
        if (SurfacePtr pattern = SurfaceFromDib(r.params.subspan(4), colour_use, allowed)) {
            m_patternPixels += int64_t(Cairo().image_surface_get_width(pattern.get())) *
                               Cairo().image_surface_get_height(pattern.get());
            object.kind = GdiObject::kBrush;
            object.brush.style = kBrushDibPatternPt;
            object.brush.pattern = std::move(pattern);
        }
    }
    AddObject(object);
}

// Format notes: the old pattern-brush record holds a 14-byte bitmap header (type, width,
// height, bytes per row, planes, bits per pixel, a pointer) and 18 reserved bytes, then the
// rows top-down. Only monochrome bitmaps are device-independent enough to draw.
void WmfPlayer::AddMonochromePatternBrush(const Record& r) {
    constexpr size_t kBitsOffset = 14 + 18;
    GdiObject object;
    object.kind = GdiObject::kOther;
    int32_t width = r.Word(1), height = r.Word(2), row_bytes = r.Word(3);
    ByteReader bitmap_header(r.params);
    uint8_t planes = bitmap_header.U8At(8);
    uint8_t bits_per_pixel = bitmap_header.U8At(9);
    int64_t pixels = int64_t(width) * height;
    bool usable = planes == 1 && bits_per_pixel == 1 && width > 0 && height > 0 &&
                  row_bytes >= (width + 7) / 8 && pixels <= kMaxPatternPixels &&
                  m_patternPixels + pixels <= kMaxPatternPixelsPerPlay &&
                  r.params.size() >= kBitsOffset + size_t(row_bytes) * size_t(height);
    if (usable) {
        auto pattern = std::make_shared<MonochromePattern>();
        pattern->width = width;
        pattern->height = height;
        pattern->row_bytes = size_t(row_bytes);
        auto bits = r.params.subspan(kBitsOffset, size_t(row_bytes) * size_t(height));
        pattern->bits.assign(bits.begin(), bits.end());
        m_patternPixels += pixels;
        object.kind = GdiObject::kBrush;
        object.brush.style = kBrushPattern;
        object.brush.monochrome = std::move(pattern);
    }
    AddObject(object);
}

// The monochrome pattern as a tile in the current text and background colours.
SurfacePtr MonochromeTile(const MonochromePattern& pattern, const Colour& clear_colour,
                          const Colour& set_colour) {
    SurfacePtr surface =
        OwnSurface(Cairo().image_surface_create(CAIRO_FORMAT_RGB24, pattern.width, pattern.height));
    if (surface == nullptr) return nullptr;
    uint32_t clear = ImagePixel(clear_colour), set = ImagePixel(set_colour);
    uint8_t* data = Cairo().image_surface_get_data(surface.get());
    int stride = Cairo().image_surface_get_stride(surface.get());
    for (int32_t y = 0; y < pattern.height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + size_t(y) * size_t(stride));
        const uint8_t* bits = pattern.bits.data() + size_t(y) * pattern.row_bytes;
        for (int32_t x = 0; x < pattern.width; ++x)
            row[x] = (bits[x / 8] >> (7 - x % 8) & 1) != 0 ? set : clear;
    }
    Cairo().surface_mark_dirty(surface.get());
    return surface;
}

// Paints the current path with `tile` repeated in device pixels from the device origin.
void WmfPlayer::FillWithTile(cairo_surface_t* tile) {
    cairo_pattern_t* pattern = Cairo().pattern_create_for_surface(tile);
    cairo_matrix_t user_to_device;
    Cairo().get_matrix(m_cairo, &user_to_device);
    Cairo().pattern_set_matrix(pattern, &user_to_device);
    Cairo().pattern_set_extend(pattern, CAIRO_EXTEND_REPEAT);
    Cairo().pattern_set_filter(pattern, CAIRO_FILTER_NEAREST);
    Cairo().set_source(m_cairo, pattern);
    Cairo().fill_preserve(m_cairo);
    Cairo().pattern_destroy(pattern);
}

void WmfPlayer::Fill() {
    const Brush& brush = m_state.brush;
    Cairo().set_fill_rule(m_cairo,
                          m_state.winding ? CAIRO_FILL_RULE_WINDING : CAIRO_FILL_RULE_EVEN_ODD);
    switch (brush.style) {
        case kBrushNull:
            return;
        case kBrushHatched: {
            if (m_state.opaque_background) {
                SetSourceColour(m_state.bk_colour);
                Cairo().fill_preserve(m_cairo);
            }
            if (SurfacePtr tile = HatchTile(brush.hatch, brush.colour)) FillWithTile(tile.get());
            return;
        }
        case kBrushDibPatternPt:
            if (brush.pattern != nullptr) FillWithTile(brush.pattern.get());
            return;
        case kBrushPattern:
            if (brush.monochrome == nullptr) return;
            if (SurfacePtr tile =
                    MonochromeTile(*brush.monochrome, m_state.text_colour, m_state.bk_colour)) {
                FillWithTile(tile.get());
            }
            return;
        default:
            SetSourceColour(brush.colour);
            Cairo().fill_preserve(m_cairo);
            return;
    }
}

void WmfPlayer::FillAndStroke(bool fill) {
    if (fill) Fill();
    Stroke();
}

void WmfPlayer::Stroke() {
    const Pen& pen = m_state.pen;
    if (pen.Line() == kPenNull) {
        Cairo().new_path(m_cairo);
        return;
    }
    double width_x = pen.width, width_y = 0;
    Cairo().user_to_device_distance(m_cairo, &width_x, &width_y);
    if (std::hypot(width_x, width_y) < kCosmeticMaxPx) {
        StrokeCosmetic(pen);
    } else {
        StrokeGeometric(pen);
    }
}

// A cosmetic pen is one device pixel wide: the path is flattened in device space and its
// points moved to the centres of the pixels they fall in, so lines cover whole pixels. Square
// caps make each dash cover exactly its length in pixels; gaps are painted in the background
// colour in opaque mode.
void WmfPlayer::StrokeCosmetic(const Pen& pen) {
    static constexpr double kDash[] = {17, 7};
    static constexpr double kDot[] = {2, 4};
    static constexpr double kDashDot[] = {8, 7, 2, 7};
    static constexpr double kDashDotDot[] = {8, 4, 2, 4, 2, 4};
    std::span<const double> dashes;
    switch (pen.Line()) {
        case kPenDash:
            dashes = kDash;
            break;
        case kPenDot:
            dashes = kDot;
            break;
        case kPenDashDot:
            dashes = kDashDot;
            break;
        case kPenDashDotDot:
            dashes = kDashDotDot;
            break;
        default:
            break;
    }
    Cairo().save(m_cairo);
    Cairo().identity_matrix(m_cairo);
    cairo_path_t* path = Cairo().copy_path_flat(m_cairo);
    Cairo().new_path(m_cairo);
    if (path->status == CAIRO_STATUS_SUCCESS) {
        for (int i = 0; i < path->num_data; i += path->data[i].header.length) {
            if (path->data[i].header.type == CAIRO_PATH_CLOSE_PATH) continue;
            cairo_path_data_t& point = path->data[i + 1];
            point.point.x = std::floor(point.point.x) + 0.5;
            point.point.y = std::floor(point.point.y) + 0.5;
        }
        Cairo().append_path(m_cairo, path);
    }
    Cairo().path_destroy(path);
    Cairo().set_line_width(m_cairo, 1);
    Cairo().set_line_cap(m_cairo, CAIRO_LINE_CAP_SQUARE);
    Cairo().set_line_join(m_cairo, CAIRO_LINE_JOIN_MITER);
    if (!dashes.empty() && m_state.opaque_background) {
        SetSourceColour(m_state.bk_colour);
        Cairo().stroke_preserve(m_cairo);
    }
    Cairo().set_dash(m_cairo, dashes.data(), int(dashes.size()), 0);
    SetSourceColour(pen.colour);
    Cairo().stroke(m_cairo);
    Cairo().restore(m_cairo);
}

// A wider pen is drawn solid, with round caps and joins unless its style asks otherwise.
void WmfPlayer::StrokeGeometric(const Pen& pen) {
    Cairo().save(m_cairo);
    Cairo().set_line_width(m_cairo, pen.width);
    switch (pen.style & kPenEndCapMask) {
        case kPenEndCapSquare:
            Cairo().set_line_cap(m_cairo, CAIRO_LINE_CAP_SQUARE);
            break;
        case kPenEndCapFlat:
            Cairo().set_line_cap(m_cairo, CAIRO_LINE_CAP_BUTT);
            break;
        default:
            Cairo().set_line_cap(m_cairo, CAIRO_LINE_CAP_ROUND);
            break;
    }
    switch (pen.style & kPenJoinMask) {
        case kPenJoinBevel:
            Cairo().set_line_join(m_cairo, CAIRO_LINE_JOIN_BEVEL);
            break;
        case kPenJoinMiter:
            Cairo().set_line_join(m_cairo, CAIRO_LINE_JOIN_MITER);
            break;
        default:
            Cairo().set_line_join(m_cairo, CAIRO_LINE_JOIN_ROUND);
            break;
    }
    SetSourceColour(pen.colour);
    Cairo().stroke(m_cairo);
    Cairo().restore(m_cairo);
}

// How far an inside-frame pen moves a rectangle's or ellipse's outline inwards, so that the
// whole stroke stays inside the bounding box.
double WmfPlayer::InsideFrameInset() const {
    const Pen& pen = m_state.pen;
    if (pen.Line() != kPenInsideFrame) return 0;
    double width_x = pen.width, width_y = 0;
    Cairo().user_to_device_distance(m_cairo, &width_x, &width_y);
    return std::hypot(width_x, width_y) < kCosmeticMaxPx ? 0 : pen.width / 2;
}

void WmfPlayer::AddPoints(const Record& record, size_t first_word, size_t count, bool close) {
    for (size_t i = 0; i < count; ++i) {
        double x = record.Word(first_word + 2 * i), y = record.Word(first_word + 2 * i + 1);
        if (i == 0) {
            Cairo().move_to(m_cairo, x, y);
        } else {
            Cairo().line_to(m_cairo, x, y);
        }
    }
    if (close && count > 0) Cairo().close_path(m_cairo);
}

void WmfPlayer::EllipsePath(double left, double top, double right, double bottom) {
    double rx = (right - left) / 2, ry = (bottom - top) / 2;
    if (rx == 0 || ry == 0) return;
    Cairo().save(m_cairo);
    Cairo().translate(m_cairo, left + rx, top + ry);
    Cairo().scale(m_cairo, rx, ry);
    Cairo().new_sub_path(m_cairo);
    Cairo().arc(m_cairo, 0, 0, 1, 0, 2 * M_PI);
    Cairo().restore(m_cairo);
}

// A rectangle whose corners are quarters of a `corner_width` x `corner_height` ellipse, as
// large as the rectangle at most.
void WmfPlayer::RoundRectPath(double left, double top, double right, double bottom,
                              double corner_width, double corner_height) {
    if (left > right) std::swap(left, right);
    if (top > bottom) std::swap(top, bottom);
    double rx = std::min(std::abs(corner_width), right - left) / 2;
    double ry = std::min(std::abs(corner_height), bottom - top) / 2;
    if (rx == 0 || ry == 0) {
        Cairo().rectangle(m_cairo, left, top, right - left, bottom - top);
        return;
    }
    // Each corner is a quarter of the unit circle scaled to the corner ellipse.
    auto corner = [&](double cx, double cy, double from_angle) {
        Cairo().save(m_cairo);
        Cairo().translate(m_cairo, cx, cy);
        Cairo().scale(m_cairo, rx, ry);
        Cairo().arc(m_cairo, 0, 0, 1, from_angle, from_angle + M_PI / 2);
        Cairo().restore(m_cairo);
    };
    Cairo().new_sub_path(m_cairo);
    corner(right - rx, top + ry, -M_PI / 2);
    corner(right - rx, bottom - ry, 0);
    corner(left + rx, bottom - ry, M_PI / 2);
    corner(left + rx, top + ry, M_PI);
    Cairo().close_path(m_cairo);
}

// Arc (kind 0), pie (1) or chord (2): counter-clockwise on screen from the start radial to the
// end radial of the ellipse in the bounding box.
void WmfPlayer::ArcPath(const Record& record, int kind) {
    double y_end = record.Word(0), x_end = record.Word(1);
    double y_start = record.Word(2), x_start = record.Word(3);
    double bottom = record.Word(4), right = record.Word(5), top = record.Word(6),
           left = record.Word(7);
    double rx = (right - left) / 2, ry = (bottom - top) / 2;
    if (rx == 0 || ry == 0) return;
    double cx = left + rx, cy = top + ry;
    double a0 = std::atan2((y_start - cy) / ry, (x_start - cx) / rx);
    double a1 = std::atan2((y_end - cy) / ry, (x_end - cx) / rx);
    Cairo().save(m_cairo);
    Cairo().translate(m_cairo, cx, cy);
    Cairo().scale(m_cairo, rx, ry);
    Cairo().new_sub_path(m_cairo);
    if (kind == 1) Cairo().move_to(m_cairo, 0, 0);
    Cairo().arc_negative(m_cairo, 0, 0, 1, a0, a1);
    if (kind != 0) Cairo().close_path(m_cairo);
    Cairo().restore(m_cairo);
    if (kind == 0) {
        Stroke();
    } else {
        FillAndStroke(true);
    }
}

// Symbol fonts hold their glyphs at U+F020..U+F0FF; a symbol-set string is shown there when the
// chosen font has every one of those glyphs, and read as ANSI text otherwise. Strings spaced
// by an ExtTextOut array are cut into characters (`one_by_one`).
std::vector<TextPiece> WmfPlayer::DecodeText(std::span<const uint8_t> bytes, bool one_by_one) {
    if (m_state.font.charset == kSymbolCharset) {
        std::vector<TextPiece> pieces;
        std::string symbols;
        for (size_t i = 0; i < bytes.size(); ++i) {
            std::string symbol;
            AppendUtf8(symbol, char32_t(0xF000u + bytes[i]));
            symbols += symbol;
            if (one_by_one) pieces.push_back({symbol, i, 1});
        }
        cairo_glyph_t* glyphs = nullptr;
        int glyph_count = 0;
        cairo_status_t status = Cairo().scaled_font_text_to_glyphs(
            Cairo().get_scaled_font(m_cairo), 0, 0, symbols.data(), int(symbols.size()), &glyphs,
            &glyph_count, nullptr, nullptr, nullptr);
        bool renders = status == CAIRO_STATUS_SUCCESS;
        for (int i = 0; renders && i < glyph_count; ++i)
            renders = glyphs[i].index != 0;
        Cairo().glyph_free(glyphs);
        if (renders) {
            if (!one_by_one) pieces.push_back({std::move(symbols), 0, bytes.size()});
            return pieces;
        }
    }
    uint32_t code_page = CodePageOf(m_state.font.charset);
    if (one_by_one) return m_decoder.Characters(bytes, code_page);
    return {{m_decoder.ToUtf8(bytes, code_page), 0, bytes.size()}};
}

// Selects the font at its size in logical units: a negative height is the em height, a
// positive one the cell height (ascent plus descent). A width narrows or widens the glyphs so
// that the average character (taken as the width of "x") is that wide.
void WmfPlayer::SelectFont(const Font& font) {
    Cairo().select_font_face(m_cairo, font.face.empty() ? "sans-serif" : font.face.c_str(),
                             font.italic ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
                             font.bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    double height = font.height == 0 ? kDefaultFontHeight : std::abs(font.height);
    Cairo().set_font_size(m_cairo, height);
    if (font.height > 0) {
        cairo_font_extents_t extents;
        Cairo().font_extents(m_cairo, &extents);
        double cell = extents.ascent + extents.descent;
        if (cell > 0) Cairo().set_font_size(m_cairo, height * height / cell);
    }
    if (font.width > 0) {
        cairo_text_extents_t x_extents;
        Cairo().text_extents(m_cairo, "x", &x_extents);
        if (x_extents.x_advance > 0) {
            cairo_matrix_t font_matrix;
            Cairo().get_font_matrix(m_cairo, &font_matrix);
            font_matrix.xx *= font.width / x_extents.x_advance;
            Cairo().set_font_matrix(m_cairo, &font_matrix);
        }
    }
}

// Underline and strike-out bars, about a fifteenth of the em thick (at least a device pixel),
// below the baseline and at half the x-height.
void WmfPlayer::DrawTextDecorations(const Font& font, double start_x, double baseline_y,
                                    double advance) {
    if (!font.underline && !font.strike_out) return;
    cairo_matrix_t font_matrix;
    Cairo().get_font_matrix(m_cairo, &font_matrix);
    double em = font_matrix.yy;
    double pixel_x = 0, pixel_y = 1;
    Cairo().device_to_user_distance(m_cairo, &pixel_x, &pixel_y);
    double thickness = std::max(em / 15, std::hypot(pixel_x, pixel_y));
    if (font.underline)
        Cairo().rectangle(m_cairo, start_x, baseline_y + em / 10, advance, thickness);
    if (font.strike_out) {
        Cairo().rectangle(m_cairo, start_x, baseline_y - em / 4 - thickness / 2, advance,
                          thickness);
    }
    Cairo().fill(m_cairo);
}

// ExtTextOut's rectangle: filled with the background colour, clipping the text, or both.
void WmfPlayer::ApplyTextBox(const TextBox& box) {
    if ((box.options & (kTextOpaque | kTextClipped)) == 0) return;
    Cairo().rectangle(m_cairo, box.left, box.top, box.right - box.left, box.bottom - box.top);
    if ((box.options & kTextOpaque) != 0) {
        SetSourceColour(m_state.bk_colour);
        Cairo().fill_preserve(m_cairo);
    }
    if ((box.options & kTextClipped) != 0) Cairo().clip(m_cairo);
    Cairo().new_path(m_cairo);
}

// Text space has the device's axes, scaled as the window mapping scales each axis and turned
// by the font's escapement, with the reference point (x, y) at its origin: text stays upright
// whichever way the logical axes point. False when the mapping flattens an axis.
bool WmfPlayer::EnterTextSpace(double x, double y, double& scale_y) {
    double unit_x = 1, unit_xy = 0, unit_yx = 0, unit_y = 1;
    Cairo().user_to_device_distance(m_cairo, &unit_x, &unit_xy);
    Cairo().user_to_device_distance(m_cairo, &unit_yx, &unit_y);
    double scale_x = std::hypot(unit_x, unit_xy);
    scale_y = std::hypot(unit_yx, unit_y);
    if (scale_x == 0 || scale_y == 0) return false;
    Cairo().user_to_device(m_cairo, &x, &y);
    Cairo().identity_matrix(m_cairo);
    Cairo().translate(m_cairo, x, y);
    Cairo().rotate(m_cairo, -m_state.font.escapement_degrees * M_PI / 180);
    Cairo().scale(m_cairo, scale_x, scale_y);
    return true;
}

// Format notes: ExtTextOut may end with one 16-bit advance per byte of the string, in logical
// units along the baseline; a double-byte character advances by the sum of its two.
double SpacingOf(std::span<const uint8_t> spacing, size_t first_byte, size_t byte_count) {
    ByteReader advances(spacing);
    advances.Seek(2 * first_byte);
    double sum = 0;
    for (size_t i = 0; i < byte_count && advances.Remaining() >= 2; ++i)
        sum += advances.I16();
    return sum;
}

double WmfPlayer::TextAdvance(const std::vector<TextPiece>& pieces,
                              std::span<const uint8_t> spacing) {
    double advance = 0;
    for (const TextPiece& piece : pieces) {
        if (!spacing.empty()) {
            advance += SpacingOf(spacing, piece.first_byte, piece.byte_count);
        } else {
            cairo_text_extents_t extents;
            Cairo().text_extents(m_cairo, piece.utf8.c_str(), &extents);
            advance += extents.x_advance;
        }
    }
    return advance;
}

void WmfPlayer::ShowText(const std::vector<TextPiece>& pieces, std::span<const uint8_t> spacing,
                         double start_x, double baseline_y, double scale_y) {
    cairo_matrix_t font_matrix;
    Cairo().get_font_matrix(m_cairo, &font_matrix);
    bool as_paths = font_matrix.yy * scale_y > kMaxCachedGlyphPx;
    double x = start_x;
    for (const TextPiece& piece : pieces) {
        Cairo().move_to(m_cairo, x, baseline_y);
        if (as_paths) {
            Cairo().text_path(m_cairo, piece.utf8.c_str());
            Cairo().fill(m_cairo);
        } else {
            Cairo().show_text(m_cairo, piece.utf8.c_str());
        }
        x += SpacingOf(spacing, piece.first_byte, piece.byte_count);
    }
}

// Draws a string at its reference point (or the current position) as the text alignment says,
// over its cell in the background colour when the background mode is opaque, its characters
// spaced by `spacing` when ExtTextOut gives advances.
void WmfPlayer::DrawText(double x, double y, std::span<const uint8_t> bytes, const TextBox& box,
                         std::span<const uint8_t> spacing) {
    bytes = bytes.first(
        std::min<size_t>(std::find(bytes.begin(), bytes.end(), 0) - bytes.begin(), kMaxTextBytes));
    const uint16_t align = m_state.text_align;
    if ((align & kAlignUpdateCp) != 0) {
        x = m_state.x;
        y = m_state.y;
    }
    Cairo().save(m_cairo);
    ApplyTextBox(box);
    double scale_y = 1;
    if (!EnterTextSpace(x, y, scale_y)) {
        Cairo().restore(m_cairo);
        return;
    }
    SelectFont(m_state.font);
    std::vector<TextPiece> pieces = DecodeText(bytes, !spacing.empty());
    double advance = TextAdvance(pieces, spacing);
    cairo_font_extents_t font_extents;
    Cairo().font_extents(m_cairo, &font_extents);
    double start_x = 0;
    if ((align & kAlignHorizontalMask) == kAlignRight) start_x = -advance;
    if ((align & kAlignHorizontalMask) == kAlignCenter) start_x = -advance / 2;
    double baseline_y = font_extents.ascent;
    if ((align & kAlignVerticalMask) == kAlignBottom) baseline_y = -font_extents.descent;
    if ((align & kAlignVerticalMask) == kAlignBaseline) baseline_y = 0;

    if (m_state.opaque_background) {
        Cairo().rectangle(m_cairo, start_x, baseline_y - font_extents.ascent, advance,
                          font_extents.ascent + font_extents.descent);
        SetSourceColour(m_state.bk_colour);
        Cairo().fill(m_cairo);
    }
    SetSourceColour(m_state.text_colour);
    ShowText(pieces, spacing, start_x, baseline_y, scale_y);
    DrawTextDecorations(m_state.font, start_x, baseline_y, advance);

    // Updating the current position moves it past the text on the side it grows towards.
    double moved_x = 0, moved_y = 0;
    if ((align & kAlignHorizontalMask) == 0) moved_x = advance;
    if ((align & kAlignHorizontalMask) == kAlignRight) moved_x = -advance;
    Cairo().user_to_device_distance(m_cairo, &moved_x, &moved_y);
    Cairo().restore(m_cairo);
    if ((align & kAlignUpdateCp) != 0) {
        Cairo().device_to_user_distance(m_cairo, &moved_x, &moved_y);
        m_state.x += moved_x;
        m_state.y += moved_y;
    }
}

void WmfPlayer::DrawBitmap(std::span<const uint8_t> dib_bytes, double dx, double dy, double dw,
                           double dh, double sx, double sy, double sw, double sh) {
    if (sw == 0 || sh == 0) return;
    SurfacePtr surface = SurfaceFromDib(dib_bytes, ColourUse::kRgbColours, kMaxBitmapPixels);
    if (surface == nullptr) return;
    Cairo().save(m_cairo);
    Cairo().rectangle(m_cairo, dx, dy, dw, dh);
    Cairo().clip(m_cairo);
    Cairo().translate(m_cairo, dx, dy);
    Cairo().scale(m_cairo, dw / sw, dh / sh);
    Cairo().set_source_surface(m_cairo, surface.get(), -sx, -sy);
    Cairo().pattern_set_filter(Cairo().get_source(m_cairo), CAIRO_FILTER_GOOD);
    Cairo().paint(m_cairo);
    Cairo().restore(m_cairo);
}

bool WmfPlayer::Play(const Record& r) {
    switch (r.function) {
        case kSaveDc:
            if (m_saved.size() < kMaxSavedStates) m_saved.push_back(m_state);
            break;
        case kRestoreDc:
            if (!m_saved.empty()) {
                m_state = m_saved.back();
                m_saved.pop_back();
                ApplyWindow();
            }
            break;
        case kSetBkMode:
            m_state.opaque_background = r.Word(0) != kTransparentBkMode;
            break;
        case kSetTextAlign:
            m_state.text_align = uint16_t(r.Word(0));
            break;
        case kSetPolyFillMode:
            m_state.winding = r.Word(0) == kWindingFill;
            break;
        case kSetBkColor:
            m_state.bk_colour = FromColorRef(r.DWord(0));
            break;
        case kSetTextColor:
            m_state.text_colour = FromColorRef(r.DWord(0));
            break;
        case kSetWindowOrg:
            m_state.window_y = r.Word(0);
            m_state.window_x = r.Word(1);
            ApplyWindow();
            break;
        case kSetWindowExt:
            m_state.window_h = r.Word(0);
            m_state.window_w = r.Word(1);
            ApplyWindow();
            break;
        case kMoveTo:
            m_state.y = r.Word(0);
            m_state.x = r.Word(1);
            break;
        case kLineTo: {
            double y = r.Word(0), x = r.Word(1);
            Cairo().move_to(m_cairo, m_state.x, m_state.y);
            Cairo().line_to(m_cairo, x, y);
            Stroke();
            m_state.x = x;
            m_state.y = y;
            break;
        }
        case kCreatePenIndirect: {
            GdiObject object;
            object.kind = GdiObject::kPen;
            object.pen = {uint16_t(r.Word(0)), std::abs(double(r.Word(1))),
                          FromColorRef(r.DWord(3))};
            AddObject(object);
            break;
        }
        case kCreateBrushIndirect: {
            GdiObject object;
            object.kind = GdiObject::kBrush;
            object.brush.style = uint16_t(r.Word(0));
            object.brush.colour = FromColorRef(r.DWord(1));
            object.brush.hatch = std::min<uint16_t>(uint16_t(r.Word(3)), kHatchStyles - 1);
            // Pattern styles need a bitmap this record cannot carry; they paint nothing.
            if (object.brush.style != kBrushSolid && object.brush.style != kBrushHatched) {
                object.brush.style = kBrushNull;
            }
            AddObject(object);
            break;
        }
        case kDibCreatePatternBrush:
            AddPatternBrush(r);
            break;
        case kCreatePatternBrush:
            AddMonochromePatternBrush(r);
            break;
        case kCreateFontIndirect: {
            GdiObject object;
            object.kind = GdiObject::kFont;
            object.font.height = r.Word(0);
            object.font.width = std::abs(double(r.Word(1)));
            object.font.bold = r.Word(4) >= 600;
            object.font.escapement_degrees = r.Word(2) / 10.0;
            object.font.italic = (r.Word(5) & 0xFF) != 0;
            object.font.underline = (r.Word(5) >> 8 & 0xFF) != 0;
            object.font.strike_out = (r.Word(6) & 0xFF) != 0;
            object.font.charset = uint8_t(r.Word(6) >> 8);
            // The face name (up to 32 bytes) follows the 18 bytes of numbers.
            for (size_t i = 18; i < r.params.size() && i < 18 + 32 && r.params[i] != 0; ++i) {
                object.font.face += char(r.params[i]);
            }
            AddObject(object);
            break;
        }
        case kSelectObject: {
            size_t index = uint16_t(r.Word(0));
            if (index >= m_objects.size()) break;
            const GdiObject& object = m_objects[index];
            if (object.kind == GdiObject::kPen) m_state.pen = object.pen;
            if (object.kind == GdiObject::kBrush) m_state.brush = object.brush;
            if (object.kind == GdiObject::kFont) m_state.font = object.font;
            break;
        }
        case kDeleteObject: {
            size_t index = uint16_t(r.Word(0));
            if (index < m_objects.size()) m_objects[index] = GdiObject();
            break;
        }
        case kPolygon:
        case kPolyline: {
            size_t count = std::min<size_t>(uint16_t(r.Word(0)), (r.Words() - 1) / 2);
            AddPoints(r, 1, count, r.function == kPolygon);
            if (r.function == kPolygon) {
                FillAndStroke(true);
            } else {
                Stroke();
            }
            break;
        }
        case kPolyPolygon: {
            size_t polygons = uint16_t(r.Word(0));
            if (polygons >= r.Words()) break;
            size_t point_word = 1 + polygons;
            for (size_t p = 0; p < polygons; ++p) {
                size_t count = uint16_t(r.Word(1 + p));
                if (point_word + 2 * count > r.Words()) break;
                AddPoints(r, point_word, count, true);
                point_word += 2 * count;
            }
            FillAndStroke(true);
            break;
        }
        case kRectangle:
        case kRoundRect: {
            size_t at = r.function == kRoundRect ? 2 : 0;
            double bottom = r.Word(at), right = r.Word(at + 1), top = r.Word(at + 2),
                   left = r.Word(at + 3);
            double inset = InsideFrameInset();
            if (r.function == kRoundRect) {
                // The corner ellipse's height and width come first.
                RoundRectPath(left + inset, top + inset, right - inset, bottom - inset, r.Word(1),
                              r.Word(0));
            } else {
                Cairo().rectangle(m_cairo, left + inset, top + inset, right - left - 2 * inset,
                                  bottom - top - 2 * inset);
            }
            FillAndStroke(true);
            break;
        }
        case kEllipse: {
            double inset = InsideFrameInset();
            EllipsePath(r.Word(3) + inset, r.Word(2) + inset, r.Word(1) - inset, r.Word(0) - inset);
            FillAndStroke(true);
            break;
        }
        case kArc:
            ArcPath(r, 0);
            break;
        case kPie:
            ArcPath(r, 1);
            break;
        case kChord:
            ArcPath(r, 2);
            break;
        case kTextOut: {
            size_t count = uint16_t(r.Word(0));
            size_t padded = (count + 1) & ~size_t(1);
            if (2 + padded + 4 > r.params.size()) break;
            double y = r.Word(1 + padded / 2), x = r.Word(2 + padded / 2);
            DrawText(x, y, r.params.subspan(2, count), TextBox());
            break;
        }
        case kExtTextOut: {
            double y = r.Word(0), x = r.Word(1);
            size_t count = uint16_t(r.Word(2));
            uint16_t options = uint16_t(r.Word(3));
            TextBox box{options, double(r.Word(4)), double(r.Word(5)), double(r.Word(6)),
                        double(r.Word(7))};
            bool has_box = (options & (kTextOpaque | kTextClipped)) != 0;
            size_t text_at = 8 + (has_box ? 8 : 0);
            if (text_at + count > r.params.size()) break;
            // The advances follow the string, padded to a whole word, when the record holds them.
            size_t spacing_at = text_at + ((count + 1) & ~size_t(1));
            std::span<const uint8_t> spacing;
            if (count > 0 && spacing_at + 2 * count <= r.params.size()) {
                spacing = r.params.subspan(spacing_at, 2 * count);
            }
            DrawText(x, y, r.params.subspan(text_at, count), has_box ? box : TextBox(), spacing);
            break;
        }
        case kStretchDib:
            if (r.params.size() > 22) {
                DrawBitmap(r.params.subspan(22), r.Word(10), r.Word(9), r.Word(8), r.Word(7),
                           r.Word(6), r.Word(5), r.Word(4), r.Word(3));
            }
            break;
        case kDibStretchBlt:
            if (r.params.size() > 20) {
                DrawBitmap(r.params.subspan(20), r.Word(9), r.Word(8), r.Word(7), r.Word(6),
                           r.Word(5), r.Word(4), r.Word(3), r.Word(2));
            }
            break;
        case kDibBitBlt:
            if (r.params.size() > 16) {
                double w = r.Word(5), h = r.Word(4);
                DrawBitmap(r.params.subspan(16), r.Word(7), r.Word(6), w, h, r.Word(3), r.Word(2),
                           w, h);
            }
            break;
        default:
            for (uint16_t creator : kObjectCreators) {
                if (r.function == creator) {
                    GdiObject other;
                    other.kind = GdiObject::kOther;
                    AddObject(other);
                }
            }
            break;
    }
    return true;
}

}  // namespace

void PlayWmf(cairo_t* cairo, const vMETAFILE& frame, std::span<const uint8_t> bytes,
             const wmf::WmfLayout& layout) {
    WmfPlayer player(cairo, frame, layout.objects);
    ForEachRecord(bytes, layout.records_offset,
                  [&](const Record& record) { return player.Play(record); });
}

}  // namespace scopa

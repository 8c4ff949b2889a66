// WMF: Windows metafiles. A player of the common records (state, pens, brushes, fonts, lines,
// polygons, rectangles, ellipses, arcs, text and device-independent bitmaps) draws through
// cairo; the writer stores a bitmap as a placeable metafile with one StretchDIB record, and
// writes a metafile that was read as a WMF back unchanged.
#include <cairo.h>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numeric>

#include "imaging/byte_reader.h"
#include "imaging/codecs.h"
#include "imaging/draw.h"

namespace scopa {
namespace {

// Format notes: an optional 22-byte placeable header (key 0x9AC6CDD7, handle, bounding box
// left top right bottom as signed words, units per inch, reserved, checksum: the XOR of the 10
// words before it), then an 18-byte header (type 1 or 2, header words 9, version, size in
// words, object count, largest record in words, 0), then records: size in words (32 bits,
// counting the 6-byte record head), function number (16 bits), parameters as 16-bit words,
// mostly in reverse order of the drawing call's arguments. Colours are 0x00BBGGRR.
constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr size_t kPlaceableBytes = 22;
constexpr size_t kHeaderBytes = 18;
constexpr uint64_t kMaxWmfBytes = uint64_t(64) << 20;
constexpr uint16_t kMaxObjects = 4096;
constexpr size_t kMaxSavedStates = 64;
constexpr int64_t kMaxBitmapPixels = int64_t(1) << 26;
constexpr double kHimetricPerInch = 2540.0;
constexpr double kDefaultUnitsPerInch = 96.0;
// The largest side, in pixels, a non-bitmap vector picture is rendered at for writing.
constexpr int32_t kMaxWrittenRenderPx = 1024;

enum Function : uint16_t {
    kEof = 0x0000,
    kSaveDc = 0x001E,
    kSetBkMode = 0x0102,
    kSetMapMode = 0x0103,
    kSetPolyFillMode = 0x0106,
    kRestoreDc = 0x0127,
    kSelectObject = 0x012D,
    kDeleteObject = 0x01F0,
    kSetBkColor = 0x0201,
    kSetTextColor = 0x0209,
    kSetWindowOrg = 0x020B,
    kSetWindowExt = 0x020C,
    kLineTo = 0x0213,
    kMoveTo = 0x0214,
    kCreatePenIndirect = 0x02FA,
    kCreateFontIndirect = 0x02FB,
    kCreateBrushIndirect = 0x02FC,
    kPolygon = 0x0324,
    kPolyline = 0x0325,
    kEllipse = 0x0418,
    kRectangle = 0x041B,
    kTextOut = 0x0521,
    kPolyPolygon = 0x0538,
    kRoundRect = 0x061C,
    kArc = 0x0817,
    kPie = 0x081A,
    kChord = 0x0830,
    kDibBitBlt = 0x0940,
    kExtTextOut = 0x0A32,
    kDibStretchBlt = 0x0B41,
    kStretchDib = 0x0F43,
};
// Records that create an object the player does not draw with still take a slot.
constexpr uint16_t kObjectCreators[] = {0x00F7, 0x0142, 0x01F9, 0x06FF};

constexpr uint32_t kSrcCopy = 0x00CC0020;
constexpr uint16_t kPenNull = 5;
constexpr uint16_t kBrushNull = 1;
constexpr uint16_t kTransparentBkMode = 1;
constexpr uint16_t kWindingFill = 2;

struct WmfLayout {
    bool placeable = false;
    int16_t left = 0, top = 0, right = 0, bottom = 0;
    uint16_t units_per_inch = 0;
    size_t records_offset = 0;
    uint16_t objects = 0;
};

bool ParseLayout(std::span<const uint8_t> file, WmfLayout& layout) {
    ByteReader reader(file);
    if (file.size() >= kPlaceableBytes && reader.U32() == kPlaceableKey) {
        layout.placeable = true;
        reader.U16();
        layout.left = reader.I16();
        layout.top = reader.I16();
        layout.right = reader.I16();
        layout.bottom = reader.I16();
        layout.units_per_inch = reader.U16();
        reader.Skip(6);
    } else {
        reader.Seek(0);
    }
    size_t header_at = reader.Offset();
    uint16_t type = reader.U16();
    uint16_t header_words = reader.U16();
    reader.Skip(2 + 4);
    layout.objects = reader.U16();
    reader.Skip(4 + 2);
    if (!reader.Ok() || (type != 1 && type != 2) || header_words != kHeaderBytes / 2 ||
        layout.objects > kMaxObjects) {
        return false;
    }
    layout.records_offset = header_at + kHeaderBytes;
    return true;
}

// One record: its function and its parameter words.
struct Record {
    uint16_t function = 0;
    std::span<const uint8_t> params;
    int16_t Word(size_t index) const {
        if (2 * index + 1 >= params.size()) return 0;
        return int16_t(params[2 * index] | params[2 * index + 1] << 8);
    }
    uint32_t DWord(size_t index) const {
        return uint16_t(Word(index)) | uint32_t(uint16_t(Word(index + 1))) << 16;
    }
    size_t Words() const { return params.size() / 2; }
};

// Walks the records from `offset`; calls `visit` for each until EOF or the data ends.
template <typename Visitor>
void ForEachRecord(std::span<const uint8_t> file, size_t offset, Visitor&& visit) {
    while (offset + 6 <= file.size()) {
        ByteReader reader(file.subspan(offset));
        uint64_t words = reader.U32();
        uint16_t function = reader.U16();
        if (words < 3 || words * 2 > file.size() - offset || function == kEof) return;
        Record record{function, file.subspan(offset + 6, size_t(words * 2 - 6))};
        if (!visit(record)) return;
        offset += size_t(words * 2);
    }
}

struct Colour {
    double r = 0, g = 0, b = 0;
};
Colour FromColorRef(uint32_t ref) {
    return {(ref & 0xFF) / 255.0, (ref >> 8 & 0xFF) / 255.0, (ref >> 16 & 0xFF) / 255.0};
}

struct Pen {
    uint16_t style = 0;
    double width = 0;
    Colour colour;
};
struct Brush {
    uint16_t style = 0;
    Colour colour{1, 1, 1};
};
struct Font {
    double height = 12;
    bool bold = false, italic = false;
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
    bool transparent_text = false;
    bool winding = false;
    double window_x = 0, window_y = 0, window_w = 0, window_h = 0;
    double x = 0, y = 0;
};

class WmfPlayer {
public:
    WmfPlayer(cairo_t* cairo, const vMETAFILE& frame, uint16_t objects)
        : m_cairo(cairo), m_objects(objects) {
        cairo_get_matrix(cairo, &m_base);
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
    void ApplyWindow();
    void AddObject(const GdiObject& object);
    void FillAndStroke(bool fill);
    void Stroke();
    void AddPoints(const Record& record, size_t first_word, size_t count, bool close);
    void EllipsePath(double left, double top, double right, double bottom);
    void ArcPath(const Record& record, int kind);
    void DrawText(double x, double y, std::span<const uint8_t> bytes);
    void DrawBitmap(std::span<const uint8_t> dib, double dx, double dy, double dw, double dh,
                    double sx, double sy, double sw, double sh);

    cairo_t* m_cairo;
    cairo_matrix_t m_base;
    std::array<double, 4> m_frame{};
    std::vector<GdiObject> m_objects;
    DcState m_state;
    std::vector<DcState> m_saved;
};

void WmfPlayer::ApplyWindow() {
    cairo_set_matrix(m_cairo, &m_base);
    if (m_state.window_w == 0 || m_state.window_h == 0) return;
    cairo_translate(m_cairo, m_frame[0], m_frame[1]);
    cairo_scale(m_cairo, m_frame[2] / m_state.window_w, m_frame[3] / m_state.window_h);
    cairo_translate(m_cairo, -m_state.window_x, -m_state.window_y);
}

void WmfPlayer::AddObject(const GdiObject& object) {
    for (GdiObject& slot : m_objects) {
        if (slot.kind == GdiObject::kNone) {
            slot = object;
            return;
        }
    }
}

void WmfPlayer::Stroke() {
    const Pen& pen = m_state.pen;
    if (pen.style == kPenNull) {
        cairo_new_path(m_cairo);
        return;
    }
    double width = pen.width;
    if (width <= 0) {
        double dy = 0;
        width = 1;
        cairo_device_to_user_distance(m_cairo, &width, &dy);
        width = std::abs(width);
    }
    cairo_set_line_width(m_cairo, width);
    cairo_set_source_rgb(m_cairo, pen.colour.r, pen.colour.g, pen.colour.b);
    cairo_stroke(m_cairo);
}

void WmfPlayer::FillAndStroke(bool fill) {
    const Brush& brush = m_state.brush;
    if (fill && brush.style != kBrushNull) {
        cairo_set_fill_rule(m_cairo,
                            m_state.winding ? CAIRO_FILL_RULE_WINDING : CAIRO_FILL_RULE_EVEN_ODD);
        cairo_set_source_rgb(m_cairo, brush.colour.r, brush.colour.g, brush.colour.b);
        cairo_fill_preserve(m_cairo);
    }
    Stroke();
}

void WmfPlayer::AddPoints(const Record& record, size_t first_word, size_t count, bool close) {
    for (size_t i = 0; i < count; ++i) {
        double x = record.Word(first_word + 2 * i), y = record.Word(first_word + 2 * i + 1);
        if (i == 0) {
            cairo_move_to(m_cairo, x, y);
        } else {
            cairo_line_to(m_cairo, x, y);
        }
    }
    if (close && count > 0) cairo_close_path(m_cairo);
}

void WmfPlayer::EllipsePath(double left, double top, double right, double bottom) {
    double rx = (right - left) / 2, ry = (bottom - top) / 2;
    if (rx == 0 || ry == 0) return;
    cairo_save(m_cairo);
    cairo_translate(m_cairo, left + rx, top + ry);
    cairo_scale(m_cairo, rx, ry);
    cairo_new_sub_path(m_cairo);
    cairo_arc(m_cairo, 0, 0, 1, 0, 2 * M_PI);
    cairo_restore(m_cairo);
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
    cairo_save(m_cairo);
    cairo_translate(m_cairo, cx, cy);
    cairo_scale(m_cairo, rx, ry);
    cairo_new_sub_path(m_cairo);
    if (kind == 1) cairo_move_to(m_cairo, 0, 0);
    cairo_arc_negative(m_cairo, 0, 0, 1, a0, a1);
    if (kind != 0) cairo_close_path(m_cairo);
    cairo_restore(m_cairo);
    if (kind == 0) {
        Stroke();
    } else {
        FillAndStroke(true);
    }
}

void WmfPlayer::DrawText(double x, double y, std::span<const uint8_t> bytes) {
    // Text is in the ANSI code page; Latin-1 is its common part, turned into UTF-8 for cairo.
    std::string utf8;
    for (uint8_t byte : bytes) {
        if (byte == 0) break;
        if (byte < 0x80) {
            utf8 += char(byte);
        } else {
            utf8 += char(0xC0 | byte >> 6);
            utf8 += char(0x80 | (byte & 0x3F));
        }
    }
    const Font& font = m_state.font;
    cairo_save(m_cairo);
    cairo_select_font_face(m_cairo, font.face.empty() ? "sans-serif" : font.face.c_str(),
                           font.italic ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
                           font.bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(m_cairo, std::max(1.0, std::abs(font.height)));
    cairo_font_extents_t extents;
    cairo_font_extents(m_cairo, &extents);
    // The reference point is the top-left of the text cell.
    cairo_move_to(m_cairo, x, y + extents.ascent);
    const Colour& colour = m_state.text_colour;
    cairo_set_source_rgb(m_cairo, colour.r, colour.g, colour.b);
    cairo_show_text(m_cairo, utf8.c_str());
    cairo_restore(m_cairo);
}

void WmfPlayer::DrawBitmap(std::span<const uint8_t> dib_bytes, double dx, double dy, double dw,
                           double dh, double sx, double sy, double sw, double sh) {
    auto header = ReadBitmapInfoHeader(dib_bytes);
    if (!header || int64_t(header->width) * std::abs(int64_t(header->height)) > kMaxBitmapPixels) {
        return;
    }
    auto dib = oDIB::FromPackedDib(dib_bytes);
    if (!dib || sw == 0 || sh == 0) return;
    cairo_surface_t* surface =
        cairo_image_surface_create(CAIRO_FORMAT_RGB24, dib->Width(), dib->Height());
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return;
    }
    uint8_t* data = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    for (int32_t y = 0; y < dib->Height(); ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + size_t(y) * size_t(stride));
        for (int32_t x = 0; x < dib->Width(); ++x) {
            Rgb colour = dib->PixelColour(x, y);
            row[x] = uint32_t(colour.red) << 16 | uint32_t(colour.green) << 8 | colour.blue;
        }
    }
    cairo_surface_mark_dirty(surface);
    cairo_save(m_cairo);
    cairo_rectangle(m_cairo, dx, dy, dw, dh);
    cairo_clip(m_cairo);
    cairo_translate(m_cairo, dx, dy);
    cairo_scale(m_cairo, dw / sw, dh / sh);
    cairo_set_source_surface(m_cairo, surface, -sx, -sy);
    cairo_pattern_set_filter(cairo_get_source(m_cairo), CAIRO_FILTER_GOOD);
    cairo_paint(m_cairo);
    cairo_restore(m_cairo);
    cairo_surface_destroy(surface);
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
            m_state.transparent_text = r.Word(0) == kTransparentBkMode;
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
            cairo_move_to(m_cairo, m_state.x, m_state.y);
            cairo_line_to(m_cairo, x, y);
            Stroke();
            m_state.x = x;
            m_state.y = y;
            break;
        }
        case kCreatePenIndirect: {
            GdiObject object;
            object.kind = GdiObject::kPen;
            object.pen = {uint16_t(r.Word(0)), double(r.Word(1)), FromColorRef(r.DWord(3))};
            AddObject(object);
            break;
        }
        case kCreateBrushIndirect: {
            GdiObject object;
            object.kind = GdiObject::kBrush;
            object.brush = {uint16_t(r.Word(0)), FromColorRef(r.DWord(1))};
            AddObject(object);
            break;
        }
        case kCreateFontIndirect: {
            GdiObject object;
            object.kind = GdiObject::kFont;
            object.font.height = r.Word(0);
            object.font.bold = r.Word(4) >= 600;
            object.font.italic = (r.Word(5) & 0xFF) != 0;
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
            cairo_rectangle(m_cairo, left, top, right - left, bottom - top);
            FillAndStroke(true);
            break;
        }
        case kEllipse:
            EllipsePath(r.Word(3), r.Word(2), r.Word(1), r.Word(0));
            FillAndStroke(true);
            break;
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
            DrawText(x, y, r.params.subspan(2, count));
            break;
        }
        case kExtTextOut: {
            double y = r.Word(0), x = r.Word(1);
            size_t count = uint16_t(r.Word(2));
            uint16_t options = uint16_t(r.Word(3));
            size_t text_at = 8 + ((options & 0x0006) != 0 ? 8 : 0);
            if (text_at + count > r.params.size()) break;
            DrawText(x, y, r.params.subspan(text_at, count));
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

class WmfDrawing : public VectorDrawing {
public:
    WmfDrawing(std::vector<uint8_t> bytes, WmfLayout layout, const vMETAFILE& frame)
        : m_bytes(std::move(bytes)), m_layout(layout), m_frame(frame) {}
    void Draw(cairo_t* cairo) const override {
        WmfPlayer player(cairo, m_frame, m_layout.objects);
        ForEachRecord(m_bytes, m_layout.records_offset,
                      [&](const Record& record) { return player.Play(record); });
    }
    const std::vector<uint8_t>& Bytes() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
    WmfLayout m_layout;
    vMETAFILE m_frame;  // extents only
};

// Appends one record: size in words, function, parameter words.
void PutRecord(std::vector<uint8_t>& out, uint16_t function, std::span<const uint16_t> words,
               std::span<const uint8_t> tail = {}) {
    size_t tail_words = (tail.size() + 1) / 2;
    uint32_t size = uint32_t(3 + words.size() + tail_words);
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(size >> (8 * i)));
    out.push_back(uint8_t(function));
    out.push_back(uint8_t(function >> 8));
    for (uint16_t word : words) {
        out.push_back(uint8_t(word));
        out.push_back(uint8_t(word >> 8));
    }
    out.insert(out.end(), tail.begin(), tail.end());
    if (tail.size() % 2 != 0) out.push_back(0);
}

std::vector<uint8_t> WriteBitmapMetafile(const oDIB& dib, uint16_t units_per_inch) {
    std::vector<uint8_t> packed = dib.ToPackedDib();
    uint16_t w = uint16_t(dib.Width()), h = uint16_t(dib.Height());
    std::vector<uint8_t> records;
    const uint16_t map_mode[] = {8};  // anisotropic
    PutRecord(records, kSetMapMode, map_mode);
    const uint16_t origin[] = {0, 0};
    PutRecord(records, kSetWindowOrg, origin);
    const uint16_t extent[] = {h, w};
    PutRecord(records, kSetWindowExt, extent);
    const uint16_t stretch[] = {
        uint16_t(kSrcCopy & 0xFFFF), uint16_t(kSrcCopy >> 16), 0, h, w, 0, 0, h, w, 0, 0};
    PutRecord(records, kStretchDib, stretch, packed);
    size_t largest = 3 + std::size(stretch) + (packed.size() + 1) / 2;
    PutRecord(records, kEof, {});

    std::vector<uint8_t> out;
    auto put16 = [&](uint16_t v) {
        out.push_back(uint8_t(v));
        out.push_back(uint8_t(v >> 8));
    };
    auto put32 = [&](uint32_t v) {
        put16(uint16_t(v));
        put16(uint16_t(v >> 16));
    };
    put32(kPlaceableKey);
    put16(0);
    put16(0);
    put16(0);
    put16(w);
    put16(h);
    put16(units_per_inch);
    put32(0);
    uint16_t checksum = 0;
    for (size_t i = 0; i < 20; i += 2)
        checksum ^= uint16_t(out[i] | out[i + 1] << 8);
    put16(checksum);
    put16(1);
    put16(kHeaderBytes / 2);
    put16(0x0300);
    put32(uint32_t((kHeaderBytes + records.size()) / 2));
    put16(0);
    put32(uint32_t(largest));
    put16(0);
    out.insert(out.end(), records.begin(), records.end());
    return out;
}

class WmfFilter : public oFILTER {
public:
    oFILTER_TYPE Type() const override { return kFilterTypeVector; }
    const char* GetID() const override { return "WMF"; }
    const char* GetDescription() const override { return "Windows Metafile"; }
    bool DoesExport() const override { return true; }
    bool CheckStream(std::span<const uint8_t> head) const override {
        WmfLayout layout;
        return head.size() >= kHeaderBytes && ParseLayout(head, layout);
    }

    oFILTER_STATUS Convert(vSTREAM& in, vMETAFILE& out) override {
        std::vector<uint8_t> bytes;
        WmfLayout layout;
        if (!in.ReadRest(bytes, kMaxWmfBytes) || !ParseLayout(bytes, layout)) {
            return kFilterFailed;
        }
        ReportStart(1);
        ReportEnd();
        out = vMETAFILE();
        double units_per_inch = kDefaultUnitsPerInch;
        if (layout.placeable) {
            out.LogicalExtents(layout.left, layout.right, layout.top, layout.bottom);
            if (layout.units_per_inch != 0) units_per_inch = layout.units_per_inch;
        } else if (!FindWindow(bytes, layout, out)) {
            return kFilterFailed;
        }
        if (out.m_x1 == out.m_x0 || out.m_y1 == out.m_y0) return kFilterFailed;
        SetPhysicalExtents(out, units_per_inch);
        out.m_drawing = std::make_shared<WmfDrawing>(std::move(bytes), layout, out);
        return kFilterDone;
    }

    oFILTER_STATUS Convert(const vMETAFILE& in, vSTREAM& out) override {
        if (auto* wmf = dynamic_cast<const WmfDrawing*>(in.m_drawing.get());
            wmf != nullptr && in.m_bitmap == nullptr) {
            return out.Write(wmf->Bytes().data(), wmf->Bytes().size()) ? kFilterDone
                                                                       : kFilterFailed;
        }
        oDIB bitmap;
        uint16_t units_per_inch = uint16_t(kDefaultUnitsPerInch);
        if (in.m_bitmap != nullptr && in.m_drawing == nullptr) {
            bitmap = *in.m_bitmap;
            if (bitmap.m_xPelsPerMeter > 0) {
                units_per_inch =
                    uint16_t(std::clamp(bitmap.m_xPelsPerMeter * 254 / 10000, 1, 65535));
            }
        } else if (!RenderForWriting(in, bitmap)) {
            return kFilterFailed;
        }
        if (bitmap.Width() > 32767 || bitmap.Height() > 32767) return kFilterFailed;
        std::vector<uint8_t> bytes = WriteBitmapMetafile(bitmap, units_per_inch);
        return out.Write(bytes.data(), bytes.size()) ? kFilterDone : kFilterFailed;
    }

private:
    // Hundredths of a millimetre, rounded as a whole multiple of the smallest integer ratio of
    // the two spans, so that a 4:3 picture stays exactly 4:3 when it is fitted into a box.
    static void SetPhysicalExtents(vMETAFILE& out, double units_per_inch) {
        int64_t span_x = std::abs(int64_t(out.m_x1) - out.m_x0);
        int64_t span_y = std::abs(int64_t(out.m_y1) - out.m_y0);
        int64_t divisor = std::gcd(span_x, span_y);
        int64_t ratio_x = span_x / divisor, ratio_y = span_y / divisor;
        double himetric_x = double(span_x) / units_per_inch * kHimetricPerInch;
        int64_t multiple = std::max<int64_t>(1, std::llround(himetric_x / double(ratio_x)));
        if (multiple * std::max(ratio_x, ratio_y) > INT32_MAX) multiple = 1;
        out.PhysicalExtents(int32_t(std::min<int64_t>(multiple * ratio_x, INT32_MAX)),
                            int32_t(std::min<int64_t>(multiple * ratio_y, INT32_MAX)));
    }

    // Without a placeable header the first window origin and extent set the extents.
    static bool FindWindow(std::span<const uint8_t> bytes, const WmfLayout& layout,
                           vMETAFILE& out) {
        int16_t x = 0, y = 0, w = 0, h = 0;
        ForEachRecord(bytes, layout.records_offset, [&](const Record& record) {
            if (record.function == kSetWindowOrg) {
                y = record.Word(0);
                x = record.Word(1);
            } else if (record.function == kSetWindowExt) {
                h = record.Word(0);
                w = record.Word(1);
                return false;
            }
            return true;
        });
        if (w == 0 || h == 0) return false;
        out.LogicalExtents(x, x + w, y, y + h);
        return true;
    }

    static bool RenderForWriting(const vMETAFILE& in, oDIB& bitmap) {
        double cx = std::max(1, in.m_cx), cy = std::max(1, in.m_cy);
        double scale = kDefaultUnitsPerInch / kHimetricPerInch;
        double longer = std::max(cx, cy) * scale;
        if (longer > kMaxWrittenRenderPx) scale *= kMaxWrittenRenderPx / longer;
        int32_t w = std::max(1, int32_t(cx * scale + 0.5)),
                h = std::max(1, int32_t(cy * scale + 0.5));
        if (!bitmap.Create(w, h, 24)) return false;
        FillRect(bitmap, {0, 0, w, h}, kWhite);
        return DrawMetafile(bitmap, {0, 0, w, h}, in);
    }
};

}  // namespace

std::unique_ptr<oFILTER> MakeWmfFilter() {
    return std::make_unique<WmfFilter>();
}

}  // namespace scopa

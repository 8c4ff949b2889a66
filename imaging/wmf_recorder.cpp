#include "imaging/wmf_recorder.h"

#include <cairo-script.h>
#include <cairo.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <string>
#include <string_view>

#include "imaging/wmf_format.h"
#include "platform/loaded_libraries.h"

namespace scopa {

namespace {

using namespace wmf;

constexpr double kHimetricPerInch = 2540.0;
// Logical coordinates are signed words.
constexpr double kMaxSide = 32767.0;
// A drawing whose script grows beyond this is not worth recording as polygons.
constexpr size_t kMaxScriptBytes = size_t(16) << 20;
// Points one polygon record can carry (its count is a word, its size must stay sane).
constexpr size_t kMaxPolygonPoints = 16000;
// Curves are flattened into segments of about this many logical units (hundredths of a
// millimetre at full size).
constexpr double kCurveStepUnits = 20.0;

// GDI's numbers for the objects written.
constexpr uint16_t kPenSolid = 0, kPenNull = 5;
constexpr uint16_t kPenCapRound = 0x0000, kPenCapSquare = 0x0100, kPenCapFlat = 0x0200;
constexpr uint16_t kPenJoinRound = 0x0000, kPenJoinBevel = 0x1000, kPenJoinMiter = 0x2000;
constexpr uint16_t kBrushSolid = 0, kBrushNull = 1;
constexpr uint16_t kAlternate = 1, kWinding = 2;
constexpr uint16_t kAnisotropic = 8;

struct Vertex {
    double x = 0, y = 0;
};
struct SubPath {
    std::vector<Vertex> points;
    bool closed = false;
};

struct Matrix {
    double xx = 1, yx = 0, xy = 0, yy = 1, x0 = 0, y0 = 0;
    double Scale() const { return std::sqrt(std::abs(xx * yy - xy * yx)); }
};

struct GraphicsState {
    uint32_t colour = 0;  // 0x00BBGGRR
    bool invisible = false;
    double line_width = 2.0;
    uint16_t cap = kPenCapFlat;
    uint16_t join = kPenJoinMiter;
    bool even_odd = false;
    Matrix matrix;
};

// One value on the script's operand stack.
struct Operand {
    enum Kind { kNumber, kName, kMark, kMatrix, kColour } kind = kNumber;
    double number = 0;  // for a colour: its alpha
    std::string name;
    Matrix matrix;
    uint32_t colour = 0;

    static Operand Of(Kind kind, double number = 0) {
        Operand operand;
        operand.kind = kind;
        operand.number = number;
        return operand;
    }
};

cairo_status_t AppendScript(void* closure, const unsigned char* data, unsigned int length) {
    auto* text = static_cast<std::string*>(closure);
    if (text->size() + length > kMaxScriptBytes) return CAIRO_STATUS_WRITE_ERROR;
    text->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

// The script of the picture drawn onto a surface of width x height logical units.
std::optional<std::string> ScriptOf(const vMETAFILE& picture, double width, double height) {
    if (!LoadCairo()) return std::nullopt;
    std::string text;
    cairo_device_t* device = Cairo().script_create_for_stream(AppendScript, &text);
    cairo_surface_t* surface =
        Cairo().script_surface_create(device, CAIRO_CONTENT_COLOR_ALPHA, width, height);
    cairo_t* cairo = Cairo().create(surface);
    Cairo().scale(cairo, width / (picture.m_x1 - picture.m_x0),
                  height / (picture.m_y1 - picture.m_y0));
    Cairo().translate(cairo, -picture.m_x0, -picture.m_y0);
    picture.m_drawing->Draw(cairo);
    bool ok = Cairo().status(cairo) == CAIRO_STATUS_SUCCESS;
    Cairo().destroy(cairo);
    Cairo().surface_finish(surface);
    ok = ok && Cairo().surface_status(surface) == CAIRO_STATUS_SUCCESS;
    Cairo().surface_destroy(surface);
    Cairo().device_finish(device);
    ok = ok && Cairo().device_status(device) == CAIRO_STATUS_SUCCESS;
    Cairo().device_destroy(device);
    if (!ok) return std::nullopt;
    return text;
}

// Alpha values this close to 0 or 1 count as invisible or opaque.
constexpr double kAlphaMargin = 1.0 / 512;

uint32_t ColourRef(double r, double g, double b) {
    auto channel = [](double value) {
        return uint32_t(std::lround(std::clamp(value, 0.0, 1.0) * 255.0));
    };
    return channel(r) | channel(g) << 8 | channel(b) << 16;
}

class MetafileWriter {
public:
    explicit MetafileWriter(std::vector<uint8_t>& out) : m_out(out) {}

    void Put(uint16_t function, std::initializer_list<uint16_t> words) {
        Begin(function, words.size());
        for (uint16_t word : words)
            Word(word);
    }
    void Begin(uint16_t function, size_t words) {
        uint32_t size = uint32_t(3 + words);
        m_largest = std::max(m_largest, size);
        for (int i = 0; i < 4; ++i)
            m_out.push_back(uint8_t(size >> (8 * i)));
        Word(function);
    }
    void Word(uint16_t word) {
        m_out.push_back(uint8_t(word));
        m_out.push_back(uint8_t(word >> 8));
    }
    void PutVertex(const Vertex& p) {
        Word(uint16_t(int16_t(std::lround(std::clamp(p.x, -kMaxSide, kMaxSide)))));
        Word(uint16_t(int16_t(std::lround(std::clamp(p.y, -kMaxSide, kMaxSide)))));
    }
    uint32_t Largest() const { return m_largest; }

private:
    std::vector<uint8_t>& m_out;
    uint32_t m_largest = 0;
};

// Reads the script: a stack machine over the operators cairo writes for paths, colours and
// line settings. Anything else ends the reading unsuccessfully.
class ScriptReader {
public:
    ScriptReader(std::vector<uint8_t>& out) : m_writer(out) {}

    bool Read(std::string_view text) {
        size_t position = 0;
        while (position < text.size()) {
            char c = text[position];
            if (c == ' ' || c == '\n' || c == '\r' || c == '\t') {
                ++position;
                continue;
            }
            if (c == '%') {  // a comment to the end of the line
                size_t end = text.find('\n', position);
                position = end == std::string_view::npos ? text.size() : end + 1;
                continue;
            }
            size_t end = text.find_first_of(" \n\r\t", position);
            if (end == std::string_view::npos) end = text.size();
            if (!Token(text.substr(position, end - position))) return false;
            position = end;
        }
        return true;
    }
    uint32_t Largest() const { return m_writer.Largest(); }

private:
    bool Token(std::string_view token) {
        // Arrays are written "[1 0 0 1 0 0]": the brackets stick to the numbers.
        if (token.size() > 1 && token.front() == '[') {
            return Token(token.substr(0, 1)) && Token(token.substr(1));
        }
        if (token.size() > 1 && token.back() == ']') {
            return Token(token.substr(0, token.size() - 1)) &&
                   Token(token.substr(token.size() - 1));
        }
        double number = 0;
        auto [stop, error] = std::from_chars(token.data(), token.data() + token.size(), number);
        if (error == std::errc() && stop == token.data() + token.size()) {
            Push(Operand::Of(Operand::kNumber, number));
            return true;
        }
        if (token[0] == '/') {
            Operand name = Operand::Of(Operand::kName);
            name.name = std::string(token);
            Push(name);
            return true;
        }
        if (token == "<<" || token == "[") {
            Push(Operand::Of(Operand::kMark));
            return true;
        }
        if (token == ">>") return PopToMark();  // the surface's settings: not needed
        if (token == "]") return MatrixFromArray();
        return Operator(token);
    }

    bool Operator(std::string_view op) {
        if (op == "surface" || op == "context") return true;
        if (op == "pop") return !m_stack.empty() ? (m_stack.pop_back(), true) : true;
        if (op == "n") return (m_path.clear(), true);
        if (op == "m") return MoveTo();
        if (op == "l") return LineTo();
        if (op == "c") return CurveTo();
        if (op == "h") return ClosePath();
        if (op == "rectangle") return Rectangle();
        if (op == "rgb" || op == "rgba") return Colour(op == "rgba");
        if (op == "g" || op == "ga") return Grey(op == "ga");
        if (op == "set-source") return SetSource();
        if (op == "fill" || op == "fill+") return Fill(op == "fill");
        if (op == "stroke" || op == "stroke+") return Stroke(op == "stroke");
        if (op == "set-line-width") return PopNumber(m_state.line_width);
        if (op == "set-line-cap") return SetCap();
        if (op == "set-line-join") return SetJoin();
        if (op == "set-fill-rule") return SetFillRule();
        if (op == "set-miter-limit" || op == "set-tolerance") return Discard(1);
        if (op == "set-antialias") return Discard(1);
        if (op == "set-operator") return SetOperator();
        if (op == "identity") return (Push(Operand::Of(Operand::kMatrix)), true);
        if (op == "matrix") return MatrixFromNumbers();
        if (op == "set-matrix") return SetMatrix(false);
        if (op == "transform") return SetMatrix(true);
        if (op == "scale") return Scale();
        if (op == "translate") return Translate();
        if (op == "save") return (m_saved.push_back(m_state), true);
        if (op == "restore") {
            if (m_saved.empty()) return false;
            m_state = m_saved.back();
            m_saved.pop_back();
            return true;
        }
        return false;  // gradients, images, text, clips, dashes, groups: not recordable
    }

    void Push(Operand operand) { m_stack.push_back(std::move(operand)); }
    bool PopNumber(double& value) {
        if (m_stack.empty() || m_stack.back().kind != Operand::kNumber) return false;
        value = m_stack.back().number;
        m_stack.pop_back();
        return std::isfinite(value);
    }
    bool PopNumbers(double* values, int count) {
        for (int i = count - 1; i >= 0; --i) {
            if (!PopNumber(values[i])) return false;
        }
        return true;
    }
    bool PopName(std::string& name) {
        if (m_stack.empty() || m_stack.back().kind != Operand::kName) return false;
        name = m_stack.back().name;
        m_stack.pop_back();
        return true;
    }
    bool Discard(size_t count) {
        if (m_stack.size() < count) return false;
        m_stack.resize(m_stack.size() - count);
        return true;
    }
    bool PopToMark() {
        while (!m_stack.empty()) {
            bool mark = m_stack.back().kind == Operand::kMark;
            m_stack.pop_back();
            if (mark) return true;
        }
        return false;
    }

    bool MoveTo() {
        Vertex p;
        if (!PopNumbers(&p.x, 2)) return false;
        m_path.push_back({{p}, false});
        return true;
    }
    bool LineTo() {
        Vertex p;
        if (!PopNumbers(&p.x, 2) || m_path.empty()) return false;
        m_path.back().points.push_back(p);
        return PointsWithinLimit();
    }
    bool CurveTo() {
        double v[6];
        if (!PopNumbers(v, 6) || m_path.empty()) return false;
        Vertex p0 = m_path.back().points.back(), p1{v[0], v[1]}, p2{v[2], v[3]}, p3{v[4], v[5]};
        double length = std::hypot(p1.x - p0.x, p1.y - p0.y) +
                        std::hypot(p2.x - p1.x, p2.y - p1.y) + std::hypot(p3.x - p2.x, p3.y - p2.y);
        int steps = std::clamp(int(length / kCurveStepUnits), 2, 64);
        for (int i = 1; i <= steps; ++i) {
            double t = double(i) / steps, u = 1 - t;
            double a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
            m_path.back().points.push_back({a * p0.x + b * p1.x + c * p2.x + d * p3.x,
                                            a * p0.y + b * p1.y + c * p2.y + d * p3.y});
        }
        return PointsWithinLimit();
    }
    bool ClosePath() {
        if (m_path.empty()) return true;
        m_path.back().closed = true;
        // cairo starts a new sub-path at the start point after a close.
        m_path.push_back({{m_path.back().points.front()}, false});
        return true;
    }
    bool Rectangle() {
        double v[4];
        if (!PopNumbers(v, 4)) return false;
        m_path.push_back(
            {{{v[0], v[1]}, {v[0] + v[2], v[1]}, {v[0] + v[2], v[1] + v[3]}, {v[0], v[1] + v[3]}},
             true});
        return true;
    }
    bool PointsWithinLimit() const { return m_path.back().points.size() <= kMaxPolygonPoints; }

    bool Colour(bool alpha) {
        double v[4] = {0, 0, 0, 1};
        if (!PopNumbers(v, alpha ? 4 : 3)) return false;
        // Metafiles have no transparency: only opaque and invisible colours are recorded.
        if (v[3] > kAlphaMargin && v[3] < 1 - kAlphaMargin) return false;
        Operand colour = Operand::Of(Operand::kColour, v[3]);
        colour.colour = ColourRef(v[0], v[1], v[2]);
        Push(colour);
        return true;
    }
    bool Grey(bool alpha) {
        double v[2] = {0, 1};
        if (!PopNumbers(v, alpha ? 2 : 1)) return false;
        Push(Operand::Of(Operand::kNumber, v[0]));
        Push(Operand::Of(Operand::kNumber, v[0]));
        Push(Operand::Of(Operand::kNumber, v[0]));
        Push(Operand::Of(Operand::kNumber, v[1]));
        return Colour(true);
    }
    bool SetSource() {
        if (m_stack.empty() || m_stack.back().kind != Operand::kColour) return false;
        m_state.colour = m_stack.back().colour;
        m_state.invisible = m_stack.back().number <= kAlphaMargin;
        m_stack.pop_back();
        return true;
    }
    bool SetCap() {
        std::string name;
        if (!PopName(name)) return false;
        if (name == "//LINE_CAP_ROUND") {
            m_state.cap = kPenCapRound;
        } else if (name == "//LINE_CAP_SQUARE") {
            m_state.cap = kPenCapSquare;
        } else {
            m_state.cap = kPenCapFlat;
        }
        return true;
    }
    bool SetJoin() {
        std::string name;
        if (!PopName(name)) return false;
        if (name == "//LINE_JOIN_ROUND") {
            m_state.join = kPenJoinRound;
        } else if (name == "//LINE_JOIN_BEVEL") {
            m_state.join = kPenJoinBevel;
        } else {
            m_state.join = kPenJoinMiter;
        }
        return true;
    }
    bool SetFillRule() {
        std::string name;
        if (!PopName(name)) return false;
        m_state.even_odd = name == "//EVEN_ODD" || name == "//FILL_RULE_EVEN_ODD";
        return true;
    }
    bool SetOperator() {
        std::string name;
        return PopName(name) && name == "//OPERATOR_OVER";
    }

    bool MatrixFromNumbers() {
        Operand matrix = Operand::Of(Operand::kMatrix);
        return PopNumbers(&matrix.matrix.xx, 6) && (Push(matrix), true);
    }
    bool MatrixFromArray() {
        // "[xx yx xy yy x0 y0]": six numbers after the mark.
        if (m_stack.size() < 7 || m_stack[m_stack.size() - 7].kind != Operand::kMark) return false;
        Operand matrix = Operand::Of(Operand::kMatrix);
        if (!PopNumbers(&matrix.matrix.xx, 6)) return false;
        m_stack.pop_back();
        Push(matrix);
        return true;
    }
    bool SetMatrix(bool multiply) {
        if (m_stack.empty() || m_stack.back().kind != Operand::kMatrix) return false;
        Matrix m = m_stack.back().matrix;
        m_stack.pop_back();
        if (multiply) {
            const Matrix& c = m_state.matrix;
            m = {m.xx * c.xx + m.yx * c.xy,        m.xx * c.yx + m.yx * c.yy,
                 m.xy * c.xx + m.yy * c.xy,        m.xy * c.yx + m.yy * c.yy,
                 m.x0 * c.xx + m.y0 * c.xy + c.x0, m.x0 * c.yx + m.y0 * c.yy + c.y0};
        }
        m_state.matrix = m;
        return true;
    }
    bool Scale() {
        double v[2];
        if (!PopNumbers(v, 2)) return false;
        Matrix& m = m_state.matrix;
        m.xx *= v[0];
        m.yx *= v[0];
        m.xy *= v[1];
        m.yy *= v[1];
        return true;
    }
    bool Translate() {
        double v[2];
        if (!PopNumbers(v, 2)) return false;
        Matrix& m = m_state.matrix;
        m.x0 += m.xx * v[0] + m.xy * v[1];
        m.y0 += m.yx * v[0] + m.yy * v[1];
        return true;
    }

    // Sub-paths that draw something: at least two points.
    std::vector<const SubPath*> Drawn() const {
        std::vector<const SubPath*> drawn;
        for (const SubPath& sub : m_path) {
            if (sub.points.size() >= 2) drawn.push_back(&sub);
        }
        return drawn;
    }

    // Pen in slot 0, brush in slot 1, selected, then the shape, then both deleted.
    void WithObjects(uint16_t pen_style, uint16_t pen_width, uint16_t brush_style,
                     const std::function<void()>& draw) {
        uint32_t colour = m_state.colour;
        m_writer.Put(kCreatePenIndirect,
                     {pen_style, pen_width, 0, uint16_t(colour), uint16_t(colour >> 16)});
        m_writer.Put(kCreateBrushIndirect,
                     {brush_style, uint16_t(colour), uint16_t(colour >> 16), 0});
        m_writer.Put(kSelectObject, {0});
        m_writer.Put(kSelectObject, {1});
        draw();
        m_writer.Put(kDeleteObject, {0});
        m_writer.Put(kDeleteObject, {1});
    }

    bool Fill(bool clear) {
        if (m_path.size() > kMaxPolygonPoints) return false;  // the polygon count is a word
        std::vector<const SubPath*> drawn =
            m_state.invisible ? std::vector<const SubPath*>() : Drawn();
        if (!drawn.empty()) {
            m_writer.Put(kSetPolyFillMode, {m_state.even_odd ? kAlternate : kWinding});
            WithObjects(kPenNull, 0, kBrushSolid, [&] {
                size_t points = 0;
                for (const SubPath* sub : drawn)
                    points += sub->points.size();
                m_writer.Begin(kPolyPolygon, 1 + drawn.size() + 2 * points);
                m_writer.Word(uint16_t(drawn.size()));
                for (const SubPath* sub : drawn)
                    m_writer.Word(uint16_t(sub->points.size()));
                for (const SubPath* sub : drawn) {
                    for (const Vertex& p : sub->points)
                        m_writer.PutVertex(p);
                }
            });
        }
        if (clear) m_path.clear();
        return true;
    }

    bool Stroke(bool clear) {
        std::vector<const SubPath*> drawn =
            m_state.invisible ? std::vector<const SubPath*>() : Drawn();
        double width = m_state.line_width * m_state.matrix.Scale();
        auto pen_width = uint16_t(std::clamp(std::lround(width), 1L, long(kMaxSide)));
        uint16_t style = uint16_t(kPenSolid | m_state.cap | m_state.join);
        if (!drawn.empty()) {
            WithObjects(style, pen_width, kBrushNull, [&] {
                for (const SubPath* sub : drawn) {
                    m_writer.Begin(sub->closed ? kPolygon : kPolyline, 1 + 2 * sub->points.size());
                    m_writer.Word(uint16_t(sub->points.size()));
                    for (const Vertex& p : sub->points)
                        m_writer.PutVertex(p);
                }
            });
        }
        if (clear) m_path.clear();
        return true;
    }

    MetafileWriter m_writer;
    std::vector<Operand> m_stack;
    std::vector<SubPath> m_path;
    GraphicsState m_state;
    std::vector<GraphicsState> m_saved;
};

}  // namespace

std::optional<RecordedMetafile> RecordAsMetafile(const vMETAFILE& picture) {
    if (picture.m_drawing == nullptr || picture.m_bitmap != nullptr ||
        picture.m_x1 == picture.m_x0 || picture.m_y1 == picture.m_y0 || picture.m_cx <= 0 ||
        picture.m_cy <= 0) {
        return std::nullopt;
    }
    // Hundredths of a millimetre, reduced when the picture is larger than a word can count.
    double scale = std::min(1.0, kMaxSide / std::max(picture.m_cx, picture.m_cy));
    double width = std::max(1.0, std::round(picture.m_cx * scale));
    double height = std::max(1.0, std::round(picture.m_cy * scale));
    std::optional<std::string> script = ScriptOf(picture, width, height);
    if (!script) return std::nullopt;

    RecordedMetafile recorded;
    recorded.width = int16_t(width);
    recorded.height = int16_t(height);
    recorded.units_per_inch = uint16_t(std::lround(kHimetricPerInch * scale));
    recorded.objects = 2;
    MetafileWriter head(recorded.records);
    head.Put(kSetMapMode, {kAnisotropic});
    head.Put(kSetWindowOrg, {0, 0});
    head.Put(kSetWindowExt, {uint16_t(recorded.height), uint16_t(recorded.width)});
    ScriptReader reader(recorded.records);
    if (!reader.Read(*script)) return std::nullopt;
    MetafileWriter tail(recorded.records);
    tail.Put(kEof, {});
    recorded.largest_record_words = std::max({head.Largest(), reader.Largest(), tail.Largest()});
    return recorded;
}

}  // namespace scopa

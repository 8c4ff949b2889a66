// The metafile player's drawing, pixel by pixel: pen styles, caps and joins, hatched and
// bitmap pattern brushes, and text (code pages, alignment, background, decorations). Each
// metafile maps one logical unit onto one pixel, so positions are device pixels.
#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "fixtures/metafile_writer.h"
#include "imaging/dib.h"
#include "imaging/draw.h"
#include "imaging/filter.h"
#include "imaging/stream.h"
#include "imaging/vector.h"
#include "platform/loaded_libraries.h"

namespace scopa {
namespace {

using fixtures::kWmfBlue;
using fixtures::kWmfRed;
using fixtures::MetafileRecords;

constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kBlue{0, 0, 255};
constexpr int kWidth = 200;
constexpr int kHeight = 100;

// Pen style words.
constexpr uint16_t kDash = 1, kDot = 2, kDashDot = 3, kDashDotDot = 4, kNullPen = 5,
                   kInsideFrame = 6;
constexpr uint16_t kSquareCap = 0x0100, kFlatCap = 0x0200;
// Background modes and text alignment.
constexpr uint16_t kTransparent = 1;
constexpr uint16_t kUpdateCp = 1, kRight = 2, kCenter = 6, kBaseline = 24;
constexpr uint8_t kRussianCharset = 204;

// A metafile of window 0,0 .. 200 x 100 followed by `records`.
MetafileRecords Records() {
    MetafileRecords records;
    records.Window(0, 0, kWidth, kHeight);
    return records;
}

// Plays the metafile into a white 200 x 100 bitmap.
oDIB Play(const MetafileRecords& records, uint16_t objects = 8) {
    std::string bytes = records.Build(objects);
    vMEMSTREAM stream({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
    vMETAFILE picture;
    oDIB target;
    target.Create(kWidth, kHeight, 24);
    FillRect(target, {0, 0, kWidth, kHeight}, kWhite);
    oFILTER* filter = oFILTERLIST::FindByID("WMF");
    if (filter == nullptr || filter->Convert(stream, picture) != kFilterDone) return target;
    DrawMetafile(target, {0, 0, kWidth, kHeight}, picture);
    return target;
}

bool IsInk(Rgb colour) {
    return colour.red < 128 && colour.green < 128 && colour.blue < 128;
}

// The smallest rectangle holding every dark pixel; empty when there is none.
Rect InkBox(const oDIB& dib) {
    Rect box{kWidth, kHeight, 0, 0};
    for (int y = 0; y < dib.Height(); ++y) {
        for (int x = 0; x < dib.Width(); ++x) {
            if (!IsInk(dib.PixelColour(x, y))) continue;
            box = {std::min(box.left, x), std::min(box.top, y), std::max(box.right, x + 1),
                   std::max(box.bottom, y + 1)};
        }
    }
    return box;
}

int CountColour(const oDIB& dib, Rgb colour) {
    int count = 0;
    for (int y = 0; y < dib.Height(); ++y) {
        for (int x = 0; x < dib.Width(); ++x)
            count += dib.PixelColour(x, y) == colour;
    }
    return count;
}

// ---- pens ----

struct DashCase {
    uint16_t style;
    std::vector<int> rhythm;  // on, off, on, off ... in pixels
};

TEST(WmfPenTest, CosmeticDashesFollowTheirRhythmInDevicePixels) {
    const DashCase cases[] = {{kDash, {18, 6}},
                              {kDot, {3, 3}},
                              {kDashDot, {9, 6, 3, 6}},
                              {kDashDotDot, {9, 3, 3, 3, 3, 3}}};
    for (const DashCase& dash : cases) {
        for (bool opaque : {true, false}) {
            MetafileRecords records = Records();
            if (!opaque) records.BkMode(kTransparent);
            records.BkColour(kWmfBlue).Pen(dash.style, 0, kWmfRed).Select(0);
            records.MoveTo(10, 20).LineTo(190, 20);
            oDIB dib = Play(records);
            int period = 0;
            for (int length : dash.rhythm)
                period += length;
            for (int x = 10; x < 10 + 2 * period; ++x) {
                int at = (x - 10) % period;
                size_t part = 0;
                while (at >= dash.rhythm[part])
                    at -= dash.rhythm[part++];
                Rgb expected = part % 2 == 0 ? kRed : (opaque ? kBlue : kWhite);
                EXPECT_EQ(dib.PixelColour(x, 20), expected)
                    << "style " << dash.style << " opaque " << opaque << " x " << x;
            }
            // One pixel wide: the rows beside the line are untouched.
            EXPECT_EQ(dib.PixelColour(12, 19), kWhite);
            EXPECT_EQ(dib.PixelColour(12, 21), kWhite);
        }
    }
}

TEST(WmfPenTest, WidePensAreSolidWithTheirEndCaps) {
    // A dashed pen six pixels wide from x 40 to 160 along y 50.
    auto line = [](uint16_t style) {
        MetafileRecords records = Records();
        records.Pen(style, 6, kWmfRed).Select(0).MoveTo(40, 50).LineTo(160, 50);
        return Play(records);
    };
    oDIB flat = line(kDash | kFlatCap);
    for (int x = 41; x < 160; ++x)
        ASSERT_EQ(flat.PixelColour(x, 50), kRed) << x;
    EXPECT_EQ(flat.PixelColour(38, 50), kWhite);
    EXPECT_EQ(flat.PixelColour(161, 50), kWhite);
    oDIB square = line(kSquareCap);
    EXPECT_EQ(square.PixelColour(38, 50), kRed);
    EXPECT_EQ(square.PixelColour(37, 47), kRed);  // the square's corner
    oDIB round = line(0);
    EXPECT_EQ(round.PixelColour(38, 50), kRed);
    EXPECT_NE(round.PixelColour(37, 47), kRed);  // mostly outside the round cap
}

TEST(WmfPenTest, InsideFramePensStayInsideTheBox) {
    auto box = [](uint16_t style) {
        MetafileRecords records = Records();
        records.Pen(style, 10, kWmfRed).Brush(1, 0).Select(0).Select(1);
        records.Rectangle(20, 20, 80, 80);
        records.Ellipse(100, 20, 160, 80);
        return Play(records);
    };
    oDIB inside = box(kInsideFrame);
    EXPECT_EQ(inside.PixelColour(18, 50), kWhite);
    EXPECT_EQ(inside.PixelColour(21, 50), kRed);
    EXPECT_EQ(inside.PixelColour(28, 50), kRed);
    EXPECT_EQ(inside.PixelColour(31, 50), kWhite);
    EXPECT_EQ(inside.PixelColour(98, 50), kWhite);
    EXPECT_EQ(inside.PixelColour(101, 50), kRed);
    oDIB centred = box(0);
    EXPECT_EQ(centred.PixelColour(18, 50), kRed);
    EXPECT_EQ(centred.PixelColour(28, 50), kWhite);
}

TEST(WmfShapeTest, RoundRectCornersFollowTheirEllipse) {
    // A 100 x 60 box with 40 x 30 corner ellipses, filled red with a null pen.
    constexpr uint16_t kRoundRect = 0x061C;
    MetafileRecords records = Records();
    records.Pen(kNullPen, 0, 0).Brush(0, kWmfRed).Select(0).Select(1);
    records.Add(kRoundRect, {30, 40, 80, 120, 20, 20});  // height, width, bottom, right, top, left
    oDIB picture = Play(records);
    EXPECT_EQ(picture.PixelColour(70, 50), kRed);    // the middle
    EXPECT_EQ(picture.PixelColour(21, 50), kRed);    // the left edge between the corners
    EXPECT_EQ(picture.PixelColour(70, 21), kRed);    // the top edge between the corners
    EXPECT_EQ(picture.PixelColour(21, 21), kWhite);  // outside the top-left corner's curve
    EXPECT_EQ(picture.PixelColour(118, 78), kWhite);
    // On the corner ellipse's diagonal, just inside and just outside its curve: the centre is
    // (40, 35), radii 20 x 15, so the curve crosses the diagonal near (25.9, 24.4).
    EXPECT_EQ(picture.PixelColour(28, 27), kRed);
    EXPECT_EQ(picture.PixelColour(24, 22), kWhite);
}

// ---- brushes ----

struct HatchCase {
    uint16_t hatch;
    std::function<bool(int x, int y)> line;  // in device pixels
};

TEST(WmfBrushTest, HatchesLieOnDevicePixelRowsAndColumns) {
    const HatchCase cases[] = {
        {0, [](int, int y) { return y % 8 == 7; }},
        {1, [](int x, int) { return x % 8 == 4; }},
        {2, [](int x, int y) { return x % 8 == y % 8; }},
        {3, [](int x, int y) { return (x + y) % 8 == 7; }},
        {4, [](int x, int y) { return y % 8 == 7 || x % 8 == 4; }},
        {5, [](int x, int y) { return x % 8 == y % 8 || (x + y) % 8 == 7; }},
    };
    for (const HatchCase& hatch : cases) {
        for (bool opaque : {true, false}) {
            // The window starts at logical x 3: the pattern still starts at device pixel 0.
            MetafileRecords records;
            records.Window(3, 0, kWidth, kHeight);
            if (!opaque) records.BkMode(kTransparent);
            records.BkColour(kWmfBlue).Pen(kNullPen, 0, 0).Brush(2, kWmfRed, hatch.hatch);
            records.Select(0).Select(1).Rectangle(3, 0, 203, 100);
            oDIB dib = Play(records);
            for (int y = 0; y < 40; ++y) {
                for (int x = 0; x < 40; ++x) {
                    Rgb expected = hatch.line(x, y) ? kRed : (opaque ? kBlue : kWhite);
                    ASSERT_EQ(dib.PixelColour(x, y), expected)
                        << "hatch " << hatch.hatch << " opaque " << opaque << " at " << x << ","
                        << y;
                }
            }
        }
    }
}

TEST(WmfBrushTest, DibPatternRepeatsFromTheDeviceOrigin) {
    oDIB tile;
    ASSERT_TRUE(tile.Create(4, 2, 24));
    const Rgb colours[2][4] = {{kRed, kBlue, kWhite, {0, 255, 0}},
                               {{0, 0, 0}, {255, 255, 0}, {0, 255, 255}, {255, 0, 255}}};
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 4; ++x)
            FillRect(tile, {x, y, x + 1, y + 1}, colours[y][x]);
    }
    std::vector<uint8_t> packed = tile.ToPackedDib();
    MetafileRecords records = Records();
    records.Pen(kNullPen, 0, 0).PatternBrush(std::string(packed.begin(), packed.end()));
    records.Select(0).Select(1).Rectangle(10, 10, 190, 90);
    oDIB dib = Play(records);
    for (int y = 10; y < 90; y += 7) {
        for (int x = 10; x < 190; x += 5)
            ASSERT_EQ(dib.PixelColour(x, y), colours[y % 2][x % 4]) << x << "," << y;
    }
    EXPECT_EQ(dib.PixelColour(5, 5), kWhite);
}

TEST(WmfBrushTest, MonochromePatternPaintsInTheTextAndBackgroundColours) {
    // An 8 x 8 checker, rows padded to two bytes: set bits take the background colour (blue),
    // clear ones the text colour (red).
    std::string rows;
    for (int y = 0; y < 8; ++y)
        rows += {char(y % 2 == 0 ? 0xAA : 0x55), '\0'};
    MetafileRecords records = Records();
    records.TextColour(kWmfRed).BkColour(kWmfBlue).Pen(kNullPen, 0, 0);
    records.MonochromePatternBrush(8, 8, 2, rows).Select(0).Select(1).Rectangle(10, 10, 190, 90);
    oDIB dib = Play(records);
    for (int y = 10; y < 90; y += 3) {
        for (int x = 10; x < 190; x += 7) {
            bool set = (x + y) % 2 == 0;
            ASSERT_EQ(dib.PixelColour(x, y), set ? kBlue : kRed) << x << "," << y;
        }
    }
    EXPECT_EQ(dib.PixelColour(5, 5), kWhite);

    // Colour bitmaps, cut rows and absurd sizes only take their object slot.
    MetafileRecords others = Records();
    others.Pen(kNullPen, 0, 0).Select(0);
    others.MonochromePatternBrush(8, 8, 8, std::string(64, 'x'), 0x0801).Select(1);
    others.Rectangle(0, 0, 50, 50);
    others.MonochromePatternBrush(8, 8, 2, rows.substr(0, 5)).Select(2);
    others.Rectangle(50, 0, 100, 50);
    others.MonochromePatternBrush(30000, 30000, 3750, rows).Select(3);
    others.Rectangle(100, 0, 150, 50);
    oDIB untouched = Play(others);
    for (int x = 5; x < 150; x += 10)
        EXPECT_EQ(untouched.PixelColour(x, 25), kWhite) << x;
}

TEST(WmfBrushTest, HostilePatternBrushesAndHatchesDrawNothingWrong) {
    // A DIB header claiming 30000 x 30000 pixels, a cut DIB, an unknown hatch index.
    std::string huge(40, '\0');
    huge[0] = 40;
    huge[4] = char(0x30), huge[5] = char(0x75);
    huge[8] = char(0x30), huge[9] = char(0x75);
    huge[12] = 1, huge[14] = 24;
    MetafileRecords records = Records();
    records.Pen(kNullPen, 0, 0).Select(0);
    records.PatternBrush(huge).Select(1).Rectangle(0, 0, 50, 50);
    records.PatternBrush(huge.substr(0, 20)).Select(2).Rectangle(0, 0, 50, 50);
    records.Brush(2, kWmfRed, 0x7FFF).Select(3).Rectangle(100, 0, 150, 50);
    oDIB dib = Play(records);
    EXPECT_EQ(dib.PixelColour(25, 25), kWhite);
    EXPECT_GT(CountColour(dib, kRed), 0);
}

// ---- text ----

// "Privet" in Cyrillic, as CP1251 bytes and as UTF-8.
const std::string kPrivetCp1251 = "\xCF\xF0\xE8\xE2\xE5\xF2";
const std::string kPrivetUtf8 = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";

TEST(WmfTextTest, CharacterSetChoosesTheCodePage) {
    MetafileRecords records = Records();
    records.BkMode(kTransparent).Font(-30, kRussianCharset, "DejaVu Sans").Select(0);
    records.TextOut(20, 30, kPrivetCp1251);
    oDIB played = Play(records);

    // The same words drawn from UTF-8 straight through cairo, top-aligned at 20,30.
    ASSERT_TRUE(LoadCairo());
    cairo_surface_t* surface = Cairo().image_surface_create(CAIRO_FORMAT_RGB24, kWidth, kHeight);
    cairo_t* cairo = Cairo().create(surface);
    Cairo().set_source_rgb(cairo, 1, 1, 1);
    Cairo().paint(cairo);
    Cairo().select_font_face(cairo, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                             CAIRO_FONT_WEIGHT_NORMAL);
    Cairo().set_font_size(cairo, 30);
    cairo_font_extents_t extents;
    Cairo().font_extents(cairo, &extents);
    Cairo().set_source_rgb(cairo, 0, 0, 0);
    Cairo().move_to(cairo, 20, 30 + extents.ascent);
    Cairo().show_text(cairo, kPrivetUtf8.c_str());
    Cairo().surface_flush(surface);
    const uint8_t* data = Cairo().image_surface_get_data(surface);
    int stride = Cairo().image_surface_get_stride(surface);
    int differing = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            uint32_t pixel = reinterpret_cast<const uint32_t*>(data + y * stride)[x];
            Rgb cairo_colour{uint8_t(pixel >> 16), uint8_t(pixel >> 8), uint8_t(pixel)};
            differing += IsInk(cairo_colour) != IsInk(played.PixelColour(x, y));
        }
    }
    Cairo().destroy(cairo);
    Cairo().surface_destroy(surface);
    EXPECT_GT(CountColour(played, kBlack), 50);
    EXPECT_LE(differing, 5);

    // Read as the ANSI code page the same bytes are other letters.
    MetafileRecords latin = Records();
    latin.BkMode(kTransparent).Font(-30, 0, "DejaVu Sans").Select(0);
    latin.TextOut(20, 30, kPrivetCp1251);
    EXPECT_NE(InkBox(Play(latin)), InkBox(played));
}

TEST(WmfTextTest, AlignmentPlacesTextAboutItsReferencePoint) {
    auto ink = [](uint16_t align, int16_t x) {
        MetafileRecords records = Records();
        records.BkMode(kTransparent).Font(-24, 0, "DejaVu Sans").Select(0).TextAlign(align);
        records.TextOut(x, 60, "Centred");
        return InkBox(Play(records));
    };
    Rect centred = ink(kCenter | kBaseline, 100);
    ASSERT_FALSE(centred.IsEmpty());
    EXPECT_NEAR((centred.left + centred.right) / 2.0, 100, 2);
    EXPECT_LE(centred.bottom, 61);  // on the baseline: no descenders in "Centred"
    EXPECT_GE(centred.bottom, 58);
    Rect right = ink(kRight, 190);
    EXPECT_LE(right.right, 191);
    EXPECT_GE(right.right, 186);
    EXPECT_GE(right.top, 60);  // top-aligned: the text hangs below y 60
    Rect left = ink(0, 10);
    EXPECT_GE(left.left, 10);
    EXPECT_LE(left.left, 13);
}

TEST(WmfTextTest, UpdatingTheCurrentPositionRunsStringsOn) {
    MetafileRecords split = Records();
    split.BkMode(kTransparent).Font(-24, 0, "DejaVu Sans").Select(0).TextAlign(kUpdateCp);
    split.MoveTo(10, 20).TextOut(0, 0, "Left").TextOut(0, 0, "Right");
    MetafileRecords whole = Records();
    whole.BkMode(kTransparent).Font(-24, 0, "DejaVu Sans").Select(0);
    whole.TextOut(10, 20, "LeftRight");
    Rect split_box = InkBox(Play(split)), whole_box = InkBox(Play(whole));
    EXPECT_NEAR(split_box.left, whole_box.left, 1);
    EXPECT_NEAR(split_box.right, whole_box.right, 2);
    EXPECT_NEAR(split_box.top, whole_box.top, 1);
}

TEST(WmfTextTest, BackgroundOpaqueBoxAndClipping) {
    auto text = [](bool opaque_mode, uint16_t options) {
        MetafileRecords records = Records();
        if (!opaque_mode) records.BkMode(kTransparent);
        records.BkColour(kWmfBlue).Font(-40, 0, "DejaVu Sans").Select(0);
        records.ExtTextOut(10, 10, options, "Wide text", 100, 0, 200, 100);
        return Play(records);
    };
    oDIB opaque = text(true, 0);
    EXPECT_GT(CountColour(opaque, kBlue), 500);
    EXPECT_EQ(opaque.PixelColour(5, 5), kWhite);
    oDIB transparent = text(false, 0);
    EXPECT_EQ(CountColour(transparent, kBlue), 0);
    // ETO_OPAQUE fills its rectangle whatever the mode; ETO_CLIPPED keeps the text inside it.
    oDIB boxed = text(false, 0x0002);
    EXPECT_EQ(boxed.PixelColour(150, 95), kBlue);
    oDIB clipped = text(false, 0x0004);
    Rect box = InkBox(clipped);
    ASSERT_FALSE(box.IsEmpty());
    EXPECT_GE(box.left, 100);
}

TEST(WmfTextTest, ExtTextOutAdvancesPlaceEachCharacter) {
    auto ink = [](const std::vector<int16_t>& spacing) {
        MetafileRecords records = Records();
        records.BkMode(kTransparent).Font(-20, 0, "DejaVu Sans").Select(0);
        records.ExtTextOut(10, 10, 0, "iiii", 0, 0, 0, 0, spacing);
        return InkBox(Play(records));
    };
    Rect natural = ink({});
    Rect spread = ink({40, 40, 40, 40});
    EXPECT_LT(natural.Width(), 30);
    EXPECT_NEAR(spread.Width(), 3 * 40 + natural.Width() / 4.0, 3);
    EXPECT_EQ(spread.left, natural.left);
    // Double-byte characters take the sum of their two advances; a short array is ignored.
    MetafileRecords records = Records();
    records.BkMode(kTransparent).Font(-20, 128, "DejaVu Sans").Select(0);
    records.ExtTextOut(10, 10, 0, "i\x82\xA0i", 0, 0, 0, 0, {30, 20, 20, 5});
    records.ExtTextOut(10, 50, 0, "iiii", 0, 0, 0, 0, {40});
    oDIB dib = Play(records);
    Rect upper = InkBox(dib);
    EXPECT_GE(upper.right, 10 + 70);
    EXPECT_LT(upper.right, 10 + 70 + 10);
}

TEST(WmfTextTest, EscapementHeightsAndDecorations) {
    auto ink = [](int16_t height, int16_t escapement, bool underline, bool strike_out) {
        MetafileRecords records = Records();
        records.BkMode(kTransparent).TextAlign(kBaseline);
        records.Font(height, 0, "DejaVu Sans", escapement, underline, strike_out).Select(0);
        records.TextOut(60, 90, "mmmm");
        return InkBox(Play(records));
    };
    Rect flat = ink(-30, 0, false, false);
    EXPECT_GT(flat.Width(), flat.Height());
    Rect turned = ink(-30, 900, false, false);  // a quarter turn counter-clockwise
    EXPECT_GT(turned.Height(), turned.Width());
    EXPECT_LE(turned.bottom, 91);
    // A positive height is the whole cell, so the letters are smaller than at that em height.
    EXPECT_LT(ink(30, 0, false, false).Height(), flat.Height());
    EXPECT_LE(flat.bottom, 91);
    EXPECT_GT(ink(-30, 0, true, false).bottom, 91);  // the underline is below the baseline
    // A width of twice the face's own average character width doubles the run's length.
    auto pair = [](int16_t width) {
        MetafileRecords records = Records();
        records.BkMode(kTransparent).TextAlign(kBaseline);
        records.Font(-30, 0, "DejaVu Sans", 0, false, false, width).Select(0);
        records.TextOut(10, 90, "mm");
        return InkBox(Play(records));
    };
    Rect natural = pair(0), stretched = pair(36);
    EXPECT_NEAR(stretched.Width(), 2 * natural.Width(), 6);
    EXPECT_EQ(stretched.Height(), natural.Height());
    Rect struck = ink(-30, 0, false, true);
    EXPECT_EQ(struck.bottom, flat.bottom);
    EXPECT_LT(struck.left, flat.left + 1);
}

TEST(WmfTextTest, HostileTextRecordsAreBounded) {
    MetafileRecords records = Records();
    // Unknown character set, enormous height, a count beyond the record, invalid bytes.
    records.Font(-32000, 77, std::string(40, 'f')).Select(0);
    records.TextOut(0, 0, "\x81\x82\xFF");
    records.Add(0x0521, {0xFFFF, 0x4141, 0, 0});
    records.Font(-20, 128, "").Select(1).TextOut(5, 5, "\x81\x20\xFF\xFE\x82");
    records.Font(-20, 2, "Symbol").Select(2).TextOut(5, 50, "abc");
    records.Add(0x0A32, {10, 10, 0xFFFF, 0x0006});
    Play(records);
}

}  // namespace
}  // namespace scopa

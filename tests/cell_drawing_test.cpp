// Cell composition of the preview styles, checked pixel by pixel against positions worked out
// from the drawing rules: framed thumbnails and their halving, the arrow at the anchor, icons,
// sidecar pictures with and without the badge, stored previews, pilots, the outline, the load
// progress square and the backdrop's tiling.
#include <array>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "documents/document_previews.h"
#include "documents/pilot_programs.h"
#include "documents/preview_dib.h"
#include "fixtures/document_writer.h"
#include "imaging/draw.h"
#include "imaging/thumbnail.h"
#include "list/cell_backdrop.h"
#include "list/cell_drawing.h"
#include "list/list_item.h"
#include "list/sidecar_picture.h"
#include "resources/icon_theme.h"
#include "resources/pictures.h"
#include "support/pe_builder.h"
#include "support/picture_files.h"
#include "support/temp_dir.h"

namespace scopa {
namespace {

namespace fs = std::filesystem;
using test::ScopedTempDir;
using test::Solid;
using test::WriteFileBytes;

constexpr Rgb kScrollBar{10, 20, 30};
constexpr Rgb kShadow{40, 50, 60};
constexpr Rgb kHighlight{200, 0, 100};
constexpr Rgb kWindow{250, 250, 240};
constexpr Rgb kArrowBlack{0, 0, 0};
constexpr Rgb kArrowGrey{128, 128, 128};
constexpr Rgb kKey{255, 0, 255};
constexpr Rgb kOrange{255, 128, 0};

struct FakeList final : IListItemOwner {
    bool ShowFileExtensions() const override { return true; }
    bool ShowsDrivesFolder() const override { return false; }
};

// A cache thumbnail of `covered` whose indices are all `index`, or a black and white
// checkerboard when `index` is 0.
oDIB Thumbnail(vSIZE covered, uint8_t index) {
    std::vector<uint8_t> pixels(kThumbnailBytes);
    for (size_t i = 0; i < pixels.size(); ++i) {
        size_t x = i % kThumbnailSidePx, y = i / kThumbnailSidePx;
        pixels[i] = index != 0 ? index : (x + y) % 2 == 0 ? 20 : 235;
    }
    return ThumbnailToDib(pixels.data(), covered);
}
constexpr uint8_t kCubeBlue = 20 + 5;  // level 5 blue only: (0, 0, 255)

void WriteBmp(const fs::path& path, const oDIB& dib) {
    std::vector<uint8_t> packed = dib.ToPackedDib();
    uint32_t offset = 14 + 40 + uint32_t(dib.ColourTable().size()) * 4;
    uint32_t size = 14 + uint32_t(packed.size());
    std::string bytes = "BM";
    for (uint32_t value : {size, 0u, offset})
        for (int shift = 0; shift < 32; shift += 8)
            bytes += char(value >> shift);
    bytes.append(packed.begin(), packed.end());
    WriteFileBytes(path, bytes);
}

class CellDrawingTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_saved = GetSystemColours();
        SystemColours colours = SystemColours::Defaults();
        colours.colours[kColourScrollBar] = kScrollBar;
        colours.colours[kColourButtonShadow] = kShadow;
        colours.colours[kColourHighlight] = kHighlight;
        colours.colours[kColourWindow] = kWindow;
        SetSystemColours(colours);
    }
    void TearDown() override { SetSystemColours(m_saved); }

    const CListItem& Item(ListItemKind kind, const fs::path& path, bool shortcut = false) {
        m_items.push_back(MakeListItem(kind, &m_list, path.filename().string(), 0,
                                       CShellPath(path.string()), shortcut));
        return *m_items.back();
    }
    CellRequest Request(const CListItem& item, int cell_size_px = 130) const {
        CellRequest request;
        request.item = &item;
        request.cell_size_px = cell_size_px;
        return request;
    }

    ScopedTempDir m_dir;
    FakeList m_list;
    std::vector<std::unique_ptr<CListItem>> m_items;
    SystemColours m_saved;
};

// Checks the one-pixel frame around a picture at (x, y) of the given size: light left and
// top (the lower-left corner included), shadow right and bottom (the upper-right included).
void ExpectFrame(const oDIB& cell, int32_t x, int32_t y, int32_t width, int32_t height) {
    int32_t right = x + width, bottom = y + height;
    for (int32_t row = y - 1; row <= bottom; ++row) {
        EXPECT_EQ(cell.PixelColour(x - 1, row), kScrollBar) << "left, row " << row;
        EXPECT_EQ(cell.PixelColour(right, row), kShadow) << "right, row " << row;
    }
    for (int32_t column = x; column < right; ++column) {
        EXPECT_EQ(cell.PixelColour(column, y - 1), kScrollBar) << "top, column " << column;
        EXPECT_EQ(cell.PixelColour(column, bottom), kShadow) << "bottom, column " << column;
    }
}

bool SameBits(const oDIB& a, const oDIB& b) {
    return a.Bits().size() == b.Bits().size() &&
           std::equal(a.Bits().begin(), a.Bits().end(), b.Bits().begin());
}

// An empty large cell, with `icon` at its centre when given.
oDIB IconCell(const IconImage* icon) {
    oDIB cell = Solid(130, 130, kWindow);
    if (icon != nullptr) DrawIcon(cell, 49, 49, *icon);
    return cell;
}

TEST_F(CellDrawingTest, ThumbnailsAreCentredAndFramed) {
    struct Case {
        int cell;
        vSIZE covered;
        int32_t x, y, width, height;
        uint8_t index = kCubeBlue;
        Rgb colour{0, 0, 255};
    };
    const Case cases[] = {
        {130, {128, 128}, 1, 1, 128, 128},  // fits the large style's limit: unscaled
        // Halved once for the small style: each pixel averages four of the checkerboard.
        {66, {128, 128}, 1, 1, 64, 64, 0, {127, 127, 127}},
        {130, {100, 50}, 15, 40, 100, 50},
        {66, {65, 30}, 17, 25, 32, 15},  // one pixel over the limit is enough to halve
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.cell << " " << c.covered.cx << "x" << c.covered.cy);
        oDIB thumbnail = Thumbnail(c.covered, c.index);
        CellRequest request = Request(Item(ListItemKind::Picture, m_dir / "a.png"), c.cell);
        request.thumbnail = {PictureThumbnailState::kMade, &thumbnail};
        oDIB cell = ComposeItemImage(request);
        ASSERT_EQ(cell.Width(), c.cell);
        EXPECT_EQ(cell.PixelColour(c.x, c.y), c.colour);
        EXPECT_EQ(cell.PixelColour(c.x + c.width / 2, c.y + c.height / 2), c.colour);
        EXPECT_EQ(cell.PixelColour(c.x + c.width - 1, c.y + c.height - 1), c.colour);
        if (c.x > 0) ExpectFrame(cell, c.x, c.y, c.width, c.height);
    }
}

TEST_F(CellDrawingTest, ShortcutArrowSitsOnTheAnchor) {
    oDIB thumbnail = Thumbnail({100, 50}, kCubeBlue);
    const Rgb blue{0, 0, 255};
    // The arrow's square is 11 pixels wide: grey top edge on its row 5, black bottom edge on
    // its row 15, clear (the picture shows) right of column 10.
    auto expect_arrow = [&](const oDIB& cell, Point anchor, Rgb clear) {
        EXPECT_EQ(cell.PixelColour(anchor.x, anchor.y - 1), kArrowBlack);
        EXPECT_EQ(cell.PixelColour(anchor.x + 10, anchor.y - 1), kArrowBlack);
        EXPECT_EQ(cell.PixelColour(anchor.x, anchor.y - 11), kArrowGrey);
        EXPECT_EQ(cell.PixelColour(anchor.x + 1, anchor.y - 10), kWhite);
        EXPECT_EQ(cell.PixelColour(anchor.x + 11, anchor.y - 1), clear);
        EXPECT_EQ(cell.PixelColour(anchor.x, anchor.y - 12), clear);
    };
    {
        CellRequest request = Request(Item(ListItemKind::Picture, m_dir / "a.png", true));
        request.thumbnail = {PictureThumbnailState::kMade, &thumbnail};
        oDIB cell = ComposeItemImage(request);
        expect_arrow(cell, {15, 90}, blue);
        EXPECT_EQ(cell.PixelColour(15, 90), kShadow);  // the frame below is untouched
        request.show_shortcut_overlays = false;
        EXPECT_EQ(ComposeItemImage(request).PixelColour(15, 89), blue);
    }
    {
        // The waiting icon's lower-left corner is the anchor: (49, 81) in the large style.
        CellRequest request = Request(Item(ListItemKind::Picture, m_dir / "b.png", true));
        oDIB cell = ComposeItemImage(request);
        EXPECT_EQ(cell.PixelColour(49, 80), kArrowBlack);
        EXPECT_EQ(cell.PixelColour(49, 70), kArrowGrey);
    }
    {
        // Folders never get the arrow.
        fs::create_directories(m_dir / "sub");
        CellRequest request = Request(Item(ListItemKind::Folder, m_dir / "sub", true));
        oDIB with = ComposeItemImage(request);
        request.show_shortcut_overlays = false;
        EXPECT_TRUE(SameBits(with, ComposeItemImage(request)));
    }
}

TEST_F(CellDrawingTest, PicturesWithoutThumbnailShowTheirStateIcon) {
    const CListItem& item = Item(ListItemKind::Custom, m_dir / "c.qor");
    CellRequest request = Request(item);
    oDIB waiting = ComposeItemImage(request);
    request.thumbnail.state = PictureThumbnailState::kFailed;
    oDIB failed = ComposeItemImage(request);
    // Both are 32-pixel icons at (49, 49); outside that square only the window shows.
    EXPECT_TRUE(SameBits(waiting, IconCell(&LoadResourceIcon(kIconPictureWaiting, 32))));
    EXPECT_TRUE(SameBits(failed, IconCell(&LoadResourceIcon(kIconPictureFailed, 32))));
    EXPECT_FALSE(SameBits(waiting, failed));
}

TEST_F(CellDrawingTest, WithoutDynamicCacheOnlyTheProgressSquareShows) {
    oDIB thumbnail = Thumbnail({128, 128}, kCubeBlue);
    struct Case {
        int cell, percentage;
        Rect square;
    };
    const Case cases[] = {
        {130, 0, {65, 65, 65, 65}},  {130, 100, {0, 0, 130, 130}},
        {130, 50, {32, 32, 98, 98}},  // 32.5 rounds away from zero to 33
        {66, 100, {0, 0, 66, 66}},   {66, 10, {30, 30, 36, 36}},  // 3.3 rounds to 3
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.cell << " at " << c.percentage << "%");
        CellRequest request = Request(Item(ListItemKind::Picture, m_dir / "p.png", true), c.cell);
        request.has_dynamic_cache = false;
        request.load_percentage = c.percentage;
        request.thumbnail = {PictureThumbnailState::kMade, &thumbnail};
        oDIB cell = ComposeItemImage(request);
        for (int32_t y = 0; y < c.cell; ++y) {
            for (int32_t x = 0; x < c.cell; ++x) {
                bool inside = x >= c.square.left && x < c.square.right && y >= c.square.top &&
                              y < c.square.bottom;
                ASSERT_EQ(cell.PixelColour(x, y), inside ? kHighlight : kWindow) << x << "," << y;
            }
        }
    }
}

TEST_F(CellDrawingTest, SelectedCellsCarryTheOutline) {
    fs::create_directories(m_dir / "empty");
    WriteBmp(m_dir / "empty" / kFolderPictureName, Solid(4, 4, kKey));  // all see-through
    CellRequest request = Request(Item(ListItemKind::Folder, m_dir / "empty"), 66);
    request.show_folder_overlays = false;
    request.selected = true;
    oDIB cell = ComposeItemImage(request);
    for (int32_t along : {1, 30, 64}) {
        EXPECT_EQ(cell.PixelColour(0, along), kWindow);
        EXPECT_EQ(cell.PixelColour(1, along), kHighlight);
        EXPECT_EQ(cell.PixelColour(2, along), kHighlight);
        EXPECT_EQ(cell.PixelColour(along, 1), kHighlight);
        EXPECT_EQ(cell.PixelColour(along, 2), kHighlight);
        EXPECT_EQ(cell.PixelColour(65, along), kHighlight);
        EXPECT_EQ(cell.PixelColour(along, 65), kHighlight);
    }
    EXPECT_EQ(cell.PixelColour(3, 30), kWindow);
    EXPECT_EQ(cell.PixelColour(64, 30), kWindow);
    request.selected = false;
    EXPECT_EQ(ComposeItemImage(request).PixelColour(1, 30), kWindow);
}

// A 40 x 30 orange picture with a 3-pixel key-coloured border.
oDIB BorderedPicture() {
    oDIB picture = Solid(40, 30, kKey);
    FillRect(picture, Rect{3, 3, 37, 27}, kOrange);
    return picture;
}

TEST_F(CellDrawingTest, FolderPictureIsKeyedAndBadged) {
    fs::create_directories(m_dir / "Photos");
    WriteBmp(m_dir / "Photos" / kFolderPictureName, BorderedPicture());
    const oDIB badge = LoadResourceBitmap(kBitmapFolderBadge);
    ASSERT_NE(badge.PixelColour(10, 20), kBitmapMaskColour);
    ASSERT_EQ(badge.PixelColour(31, 31), kBitmapMaskColour);
    // Centred at (45, 50); the badge's corner at (46, 47).
    CellRequest request = Request(Item(ListItemKind::Folder, m_dir / "Photos"));
    oDIB cell = ComposeItemImage(request);
    EXPECT_EQ(cell.PixelColour(45, 50), kWindow);
    EXPECT_EQ(cell.PixelColour(84, 79), kWindow);
    EXPECT_EQ(cell.PixelColour(80, 60), kOrange);
    EXPECT_EQ(cell.PixelColour(56, 67), badge.PixelColour(10, 20));
    EXPECT_EQ(cell.PixelColour(77, 78), kWindow);  // clear badge pixel over the key border
    EXPECT_EQ(cell.PixelColour(76, 76), kOrange);  // clear badge pixel over the picture

    request.show_folder_overlays = false;
    oDIB plain = ComposeItemImage(request);
    EXPECT_EQ(plain.PixelColour(56, 67), kOrange);
    EXPECT_EQ(plain.PixelColour(46, 60), kWindow);
}

TEST_F(CellDrawingTest, FolderWithoutPictureShowsItsThemeIcon) {
    fs::create_directories(m_dir / "Plain");
    const CListItem& item = Item(ListItemKind::Folder, m_dir / "Plain");
    EXPECT_TRUE(SameBits(ComposeItemImage(Request(item)),
                         IconCell(&LoadThemeIcon(item.path().GetIconName(0), 32))));
}

TEST_F(CellDrawingTest, DocumentSidecarReplacesTheStoredPreview) {
    const std::string dib = fixtures::PackedDib(60, 40, 24, "", 7);
    WriteFileBytes(m_dir / "report.dtp",
                   fixtures::CompoundDocument(fixtures::DtpContents(200, dib)));
    DocumentPreview preview;
    ASSERT_TRUE(MakeDTPPreview(DocumentSource::File((m_dir / "report.dtp").string()), &preview));
    oDIB stored = PreviewToDib(preview);
    const CListItem& item = Item(ListItemKind::Dtp, m_dir / "report.dtp", true);

    // The stored preview, framed at (35, 45), the arrow at (35, 85).
    oDIB cell = ComposeItemImage(Request(item));
    ExpectFrame(cell, 35, 45, 60, 40);
    EXPECT_EQ(cell.PixelColour(35, 45), stored.PixelColour(0, 0));
    EXPECT_EQ(cell.PixelColour(94, 84), stored.PixelColour(59, 39));
    EXPECT_EQ(cell.PixelColour(35, 84), kArrowBlack);

    // report.imf beside it: 20 x 20 teal with its key pixel at (1, 1), centred at (55, 55).
    oDIB sidecar = Solid(20, 20, {0, 128, 128});
    FillRect(sidecar, Rect{1, 1, 2, 2}, kKey);
    WriteBmp(m_dir / "report.imf", sidecar);
    cell = ComposeItemImage(Request(item));
    EXPECT_EQ(cell.PixelColour(34, 44), kWindow);
    EXPECT_EQ(cell.PixelColour(55, 55), (Rgb{0, 128, 128}));
    EXPECT_EQ(cell.PixelColour(56, 56), kWindow);
    EXPECT_EQ(cell.PixelColour(55, 74), kArrowBlack);
    EXPECT_EQ(cell.PixelColour(56, 60), (Rgb{0, 128, 128}));  // no badge on documents

    // An art document has no sidecar: its (unreadable) preview gives way to icon 210.
    WriteFileBytes(m_dir / "drawing.art", "not a document");
    WriteBmp(m_dir / "drawing.imf", sidecar);
    EXPECT_TRUE(SameBits(ComposeItemImage(Request(Item(ListItemKind::Art, m_dir / "drawing.art"))),
                         IconCell(&LoadResourceIcon(kIconDocument, 32))));
}

TEST(SidecarPicturePath, FoldersAndDocuments) {
    struct Case {
        const char* item;
        const char* sidecar;
        bool folder;
    };
    const Case cases[] = {
        {"/data/Photos", "/data/Photos/folder.imf", true},
        {"/data/report.dtp", "/data/report.imf", false},
        {"/data/archive.tar.gz", "/data/archive.tar.imf", false},
        {"/home/u.v/Photos", "/home/u.v/Photos/folder.imf", true},
        {"/", "/folder.imf", true},
    };
    for (const Case& c : cases) {
        bool folder = !c.folder;
        EXPECT_EQ(SidecarPicturePath(c.item, folder), c.sidecar);
        EXPECT_EQ(folder, c.folder) << c.item;
    }
}

TEST_F(CellDrawingTest, PilotBitmapKeyColourIsSeeThrough) {
    if (!test::HavePeTools()) GTEST_SKIP() << "the mingw-w64 binutils are not installed";
    fs::path path = test::BuildPilot(m_dir.path(), test::PilotProgram{});
    ASSERT_FALSE(path.empty());
    DocumentPreview preview;
    ASSERT_TRUE(MakePilotPreview(path.string(), &preview));
    oDIB picture = PreviewToDib(preview);
    ASSERT_EQ(picture.Size(), (vSIZE{5, 3}));
    Rgb key = picture.PixelColour(1, 1);
    oDIB cell = ComposeItemImage(Request(Item(ListItemKind::Pilot, path)));
    for (int32_t y = 0; y < 3; ++y) {
        for (int32_t x = 0; x < 5; ++x) {
            Rgb colour = picture.PixelColour(x, y);
            EXPECT_EQ(cell.PixelColour(62 + x, 63 + y), colour == key ? kWindow : colour);
        }
    }
    EXPECT_EQ(cell.PixelColour(61, 63), kWindow);

    // A pilot that cannot be read leaves the cell empty.
    WriteFileBytes(m_dir / "broken.dll", "MZ");
    EXPECT_TRUE(SameBits(ComposeItemImage(Request(Item(ListItemKind::Pilot, m_dir / "broken.dll"))),
                         IconCell(nullptr)));
}

// A 7 x 5 backdrop whose every pixel tells its own position.
oDIB PositionBackdrop() {
    oDIB backdrop;
    backdrop.Create(7, 5, 24);
    for (int32_t y = 0; y < 5; ++y)
        for (int32_t x = 0; x < 7; ++x)
            FillRect(backdrop, Rect{x, y, x + 1, y + 1}, {uint8_t(x * 30), uint8_t(y * 40), 99});
    return backdrop;
}

TEST_F(CellDrawingTest, BackdropContinuesAcrossCells) {
    oDIB backdrop = PositionBackdrop();
    struct Case {
        int32_t x_offset, y_offset;
        int32_t uncovered_columns, uncovered_rows;  // a negative remainder leaves a strip
    };
    const Case cases[] = {{0, 0, 0, 0}, {8 + 13, 4, 0, 0}, {130 + 8, 260, 0, 0}, {-3, -2, 3, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x_offset << "," << c.y_offset);
        CellRequest request;
        request.cell_size_px = 66;
        request.backdrop = &backdrop;
        request.backdrop_x_offset = c.x_offset;
        request.backdrop_y_offset = c.y_offset;
        oDIB cell = ComposeItemImage(request);
        for (int32_t y = 0; y < 66; ++y) {
            for (int32_t x = 0; x < 66; ++x) {
                Rgb expected = kWindow;
                if (x >= c.uncovered_columns && y >= c.uncovered_rows) {
                    int32_t bx = ((x + c.x_offset) % 7 + 7) % 7,
                            by = ((y + c.y_offset) % 5 + 5) % 5;
                    expected = backdrop.PixelColour(bx, by);
                }
                ASSERT_EQ(cell.PixelColour(x, y), expected) << x << "," << y;
            }
        }
    }
}

TEST(ListBackdrop, FolderBackdropsComeAndGo) {
    ScopedTempDir dir;
    WriteBmp(dir / "backdrop.imf", PositionBackdrop());
    ReleaseBackdrop();
    // The test program's folder has no "backdrop.imf": no default backdrop.
    EXPECT_EQ(CurrentBackdrop(), nullptr);
    CListBackdrop list;
    list.LoadBackdrop((dir / "backdrop.imf").string());
    EXPECT_TRUE(list.HasOwnBackdrop());
    ASSERT_NE(CurrentBackdrop(), nullptr);
    EXPECT_EQ(CurrentBackdrop()->Size(), (vSIZE{7, 5}));
    // Another list showing a folder without one keeps the shared backdrop...
    CListBackdrop other;
    other.LoadBackdrop("");
    EXPECT_NE(CurrentBackdrop(), nullptr);
    // ...but the list that brought it goes back to the default on leaving that folder.
    list.LoadBackdrop("");
    EXPECT_FALSE(list.HasOwnBackdrop());
    EXPECT_EQ(CurrentBackdrop(), nullptr);
    // A folder backdrop that cannot be read leaves none.
    list.LoadBackdrop((dir / "missing.imf").string());
    EXPECT_EQ(CurrentBackdrop(), nullptr);
    ReleaseBackdrop();
}

}  // namespace
}  // namespace scopa

// Acting on a chosen picture without windows: the preview window's geometry, what a drag
// offers and renders, the drag-start delay, the generic-drop assistant, and the export
// dialog's types, sizes and names.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "control/control_host.h"
#include "platform/registry.h"
#include "prefs/control_prefs.h"
#include "support/loaded_picture.h"
#include "support/picture_files.h"
#include "support/scripted_user_interface.h"
#include "support/temp_dir.h"
#include "view/drag_data.h"
#include "view/export_dialog_model.h"
#include "view/preview_geometry.h"

namespace scopa::test {
namespace {

namespace fs = std::filesystem;

constexpr vSIZE kScreen{1024, 740};
constexpr FrameExtra kFrame{8, 27};

// ---- preview window geometry ----

TEST(PreviewGeometry, SideCoveredSizeAndPlacementOfTheExamples) {
    struct Case {
        vSIZE picture;
        int32_t side;
        vSIZE covered;
    };
    const Case cases[] = {
        {{1600, 1200}, 1024, {1024, 768}},  // limited by the screen's width
        {{100, 50}, 200, {200, 100}},       // the smallest side
        {{300, 900}, 740, {247, 740}},      // limited by the screen's height
    };
    for (const Case& c : cases) {
        int32_t side = BitmapPreviewSide(c.picture, kScreen);
        EXPECT_EQ(side, c.side) << c.picture.cx;
        EXPECT_EQ(CoveredSize(c.picture, side), c.covered) << c.picture.cx;
    }
    EXPECT_EQ(InitialPreviewSide(kScreen), 512);

    // Taller and wider than the screen: pushed to the top-left corner.
    vSIZE big{1024 + kFrame.width, 768 + kFrame.height};
    Rect first = FirstPreviewRect(big, nullptr);
    EXPECT_EQ(first, (Rect{100, 100, 100 + big.cx, 100 + big.cy}));
    EXPECT_EQ(CentredPreviewRect(first, big, kScreen), (Rect{0, 0, big.cx, big.cy}));
    // A small window first goes where (100, 100) puts it.
    vSIZE small{208, 127};
    EXPECT_EQ(CentredPreviewRect(FirstPreviewRect(small, nullptr), small, kScreen),
              (Rect{100, 100, 308, 227}));
    // A remembered rectangle is the start; the next picture keeps its centre.
    Rect remembered{500, 300, 700, 400};
    EXPECT_EQ(CentredPreviewRect(FirstPreviewRect(small, &remembered), small, kScreen),
              (Rect{496, 287, 704, 414}));
    // Near the right and bottom edges the window is pushed back inside.
    EXPECT_EQ(CentredPreviewRect({900, 680, 1000, 730}, small, kScreen),
              (Rect{816, 613, 1024, 740}));
}

TEST(PreviewGeometry, SizingKeepsTheProportionsByEdgeAndCorner) {
    const vSIZE two_to_one{400, 200};
    auto window = [](int32_t left, int32_t top, int32_t cx, int32_t cy) {
        return Rect{left, top, left + cx + kFrame.width, top + cy + kFrame.height};
    };
    struct Case {
        SizingEdge edge;
        Rect proposed;
        Rect expected;
    };
    const Case cases[] = {
        // The right edge dragged to a client width of 400: the height follows, 200.
        {SizingEdge::Right, window(10, 20, 400, 90), window(10, 20, 400, 200)},
        {SizingEdge::Left, window(10, 20, 301, 90), window(10, 20, 301, 151)},  // rounded
        {SizingEdge::Bottom, window(10, 20, 90, 150), window(10, 20, 300, 150)},
        {SizingEdge::Top, window(10, 20, 90, 150), window(10, 20, 300, 150)},
        // Corners: the wider proposal keeps its width, the taller its height; only the two
        // sides of the dragged corner move.
        {SizingEdge::BottomRight, window(10, 20, 500, 100), window(10, 20, 500, 250)},
        {SizingEdge::BottomRight, window(10, 20, 100, 300), window(10, 20, 600, 300)},
        {SizingEdge::TopLeft, Rect{0, 0, 500 + kFrame.width, 100 + kFrame.height},
         Rect{0, -150, 500 + kFrame.width, 100 + kFrame.height}},
        {SizingEdge::TopRight, Rect{0, 0, 100 + kFrame.width, 300 + kFrame.height},
         Rect{0, 0, 600 + kFrame.width, 300 + kFrame.height}},
        {SizingEdge::BottomLeft, Rect{0, 0, 100 + kFrame.width, 300 + kFrame.height},
         Rect{-500, 0, 100 + kFrame.width, 300 + kFrame.height}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(KeepProportions(c.proposed, c.edge, two_to_one, kFrame), c.expected)
            << int(c.edge) << " " << c.proposed.Width();
    }
}

TEST(PreviewGeometry, TrackingLimitsFollowTheCoveredProportions) {
    TrackingLimits wide = PreviewTrackingLimits({1024, 768}, kScreen, kFrame);
    EXPECT_EQ(wide.largest, (vSIZE{987 + kFrame.width, 740 + kFrame.height}));
    EXPECT_EQ(wide.smallest, (vSIZE{200 + kFrame.width, 150 + kFrame.height}));
    TrackingLimits tall = PreviewTrackingLimits({100, 400}, kScreen, kFrame);
    EXPECT_EQ(tall.largest, (vSIZE{185 + kFrame.width, 740 + kFrame.height}));
    EXPECT_EQ(tall.smallest, (vSIZE{50 + kFrame.width, 200 + kFrame.height}));
}

// ---- drag data ----

class DragTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(WriteTestPicture(m_dir / "photo one.png", 600, 450, 7));
        WriteFileBytes(m_dir / "shape.svg",
                       R"(<svg xmlns="http://www.w3.org/2000/svg" width="60" height="30">)"
                       R"(<rect width="30" height="30" fill="red"/></svg>)");
        WriteFileBytes(m_dir / "notes.txt", "not a picture");
        fs::create_directories(m_temp);
    }
    std::string Path(const char* name) const { return (m_dir / name).string(); }

    SandboxedEnvironment m_environment;
    ScopedTempDir m_dir;
    fs::path m_temp = m_dir / "tmp";
};

TEST_F(DragTest, FormatsFollowTheFilterTypeAndRenderToRealFiles) {
    const std::pair<const char*, std::vector<std::string>> offered[] = {
        {"photo one.png", {"image/bmp", "image/png", "text/uri-list"}},
        {"shape.svg", {"image/x-wmf", "text/uri-list"}},
        {"notes.txt", {"text/uri-list"}},
    };
    std::vector<std::string> formats;
    for (const auto& [name, expected] : offered) {
        ASSERT_TRUE(DragFormatsOf(Path(name), formats)) << name;
        EXPECT_EQ(formats, expected) << name;
    }
    EXPECT_FALSE(DragFormatsOf(Path("missing.png"), formats));

    // Each rendering, written out, reads back as the picture.
    struct Case {
        const char* source;
        const char* format;
        const char* written;
        int kind;
    };
    const Case cases[] = {{"photo one.png", "image/bmp", "out.bmp", kFilterTypeBitmap},
                          {"photo one.png", "image/png", "out.png", kFilterTypeBitmap},
                          {"shape.svg", "image/x-wmf", "out.wmf", kFilterTypeVector}};
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(RenderDragFormat(Path(c.source), c.format, -1, bytes)) << c.format;
        WriteFileBytes(m_dir / c.written, std::string(bytes.begin(), bytes.end()));
        Loaded loaded = Load(m_dir / c.written);
        ASSERT_EQ(loaded.result, kLoadRead);
        EXPECT_EQ(loaded.kind, c.kind) << c.format;
        if (loaded.kind == kFilterTypeBitmap) {
            // Its own size, not a thumbnail's reduced read.
            EXPECT_EQ(loaded.dib.Size(), (vSIZE{600, 450}));
        } else {
            EXPECT_EQ(loaded.metafile.m_cx, 2 * loaded.metafile.m_cy);
        }
    }
    std::vector<uint8_t> bytes;
    EXPECT_FALSE(RenderDragFormat(Path("shape.svg"), "image/bmp", -1, bytes));
    EXPECT_FALSE(RenderDragFormat(Path("notes.txt"), "image/png", -1, bytes));
    ASSERT_TRUE(RenderDragFormat(Path("photo one.png"), "text/uri-list", -1, bytes));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
              "file://" + m_dir.path().string() + "/photo%20one.png\r\n");
}

TEST(DragStart, DelayFiresOnAMoveOfFivePixelsOrAtTheInterval) {
    DragStartDelay delay;
    EXPECT_FALSE(delay.OnMove({100, 100}));  // not armed
    delay.Arm({10, 10});
    EXPECT_FALSE(delay.OnMove({14, 6}));
    EXPECT_TRUE(delay.OnMove({10, 15}));
    EXPECT_FALSE(delay.IsArmed());
    EXPECT_FALSE(delay.OnIntervalEnded());
    delay.Arm({10, 10});
    EXPECT_TRUE(delay.OnIntervalEnded());
    EXPECT_FALSE(delay.OnMove({50, 50}));
}

TEST(DragTarget, ApplicationNameIsTheTitleBeforeBracketsQuotesAndDashes) {
    const std::pair<const char*, const char*> cases[] = {
        {"Report [Read-Only] - Writer", "Report"},
        {"Painter - Tree.gif", "Painter"},
        {"  Notes {2} ", "Notes"},
        {"Bob's Viewer", "Bob"},
        {"Plain", "Plain"},
        {"- untitled", ""},
    };
    for (auto [title, name] : cases)
        EXPECT_EQ(ApplicationNameFromTitle(title), name) << title;
}

TEST_F(DragTest, SecondDropOntoTheSameApplicationAsksAndYesMakesItGeneric) {
    ScriptedUserInterface ui;
    CControlPrefs prefs;
    GenericDropAssistant assistant;
    const std::string photo = Path("photo one.png");
    const std::string temp = m_temp.string();
    const std::string generic = temp + "/Picture.bmp";
    auto drop = [&](const std::string& path, const char* application, uint32_t at_ms,
                    bool button_up = true) {
        return assistant.PathForDrop(path, application, button_up, at_ms, prefs, temp, -1);
    };
    EXPECT_EQ(drop(photo, "Painter", 10'000), photo);
    EXPECT_EQ(drop(photo, "Painter", 10'500), photo);        // under a second: no question
    EXPECT_EQ(drop(photo, "Painter", 71'000), photo);        // over a minute
    EXPECT_EQ(drop(photo, "Writer", 72'000), photo);         // another application
    EXPECT_EQ(drop(photo, "Writer", 73'000, false), photo);  // not at the drop: not counted
    EXPECT_TRUE(ui.shown().empty());
    EXPECT_EQ(drop(photo, "Writer", 73'000), photo);  // asked, answered No
    ASSERT_EQ(ui.shown().size(), 1u);
    EXPECT_EQ(ui.shown()[0].caption, "Drag & Drop Assistant");
    EXPECT_EQ(ui.shown()[0].buttons, MessageButtons::YesNo);
    EXPECT_FALSE(fs::exists(generic));

    ui.QueueAnswer(MessageAnswer::Yes);
    EXPECT_EQ(drop(photo, "Writer", 103'000), generic);
    EXPECT_TRUE(prefs.IsGenericDrop("Writer"));
    Loaded loaded = Load(generic);
    ASSERT_EQ(loaded.result, kLoadRead);
    EXPECT_EQ(loaded.dib.Width(), 600);
    // From now on without asking; a vector picture becomes Picture.wmf.
    EXPECT_EQ(drop(Path("shape.svg"), "Writer", 500'000), temp + "/Picture.wmf");
    EXPECT_EQ(ui.shown().size(), 2u);
    // Bitmap and metafile files are never converted.
    const std::string bmp = (m_dir / "out.bmp").string();
    EXPECT_EQ(drop(bmp, "Writer", 600'000), bmp);

    DeleteGenericDropFiles(temp);
    EXPECT_FALSE(fs::exists(generic));
    EXPECT_FALSE(fs::exists(temp + "/Picture.wmf"));
}

// ---- export dialog ----

// The index of the file type `id` in the dialog's list, or -1.
int TypeIndex(const CExportDialogModel& model, const std::string& id) {
    for (size_t i = 0; i < model.types().size(); ++i)
        if (model.types()[i].id == id) return int(i);
    return -1;
}

TEST_F(DragTest, ExportDialogOffersTypesSizesAndRenames) {
    WriteFileBytes(m_dir / "photo.TIF", "");
    CExportDialogModel bitmap(Path("photo.TIF"), -1);
    EXPECT_EQ(bitmap.InitialTypeIndex(), TypeIndex(bitmap, "TIF"));
    EXPECT_NE(TypeIndex(bitmap, "WMF"), -1);
    EXPECT_EQ(TypeIndex(bitmap, "SVG"), -1);  // read only
    EXPECT_FALSE(bitmap.HasResolutionList());
    const int gif = TypeIndex(bitmap, "GIF");
    ASSERT_NE(gif, -1);
    EXPECT_EQ(bitmap.RenameForType("photo.TIF", gif), "photo.GIF");
    EXPECT_EQ(bitmap.RenameForType("dir.v2/photo", gif), "dir.v2/photo");
    EXPECT_EQ(bitmap.PatternOf(gif), "*.GIF");
    ExportChoice copy = bitmap.Choose("out", bitmap.InitialTypeIndex(), -1);
    EXPECT_EQ(copy.format_id, "TIF");
    EXPECT_EQ(copy.resolution_index, -1);

    CExportDialogModel vector(Path("shape.svg"), -1);
    ASSERT_TRUE(vector.HasResolutionList());
    EXPECT_EQ(vector.SizeTexts(),
              (std::vector<std::string>{"640 x 480", "800 x 600", "1024 x 768"}));
    EXPECT_EQ(vector.InitialSizeIndex(), 2);
    EXPECT_EQ(vector.InitialTypeIndex(), TypeIndex(vector, "SVG"));
    const int png = TypeIndex(vector, "PNG");
    EXPECT_FALSE(vector.IsResolutionListEnabled(vector.InitialTypeIndex()));
    EXPECT_TRUE(vector.IsResolutionListEnabled(png));
    EXPECT_FALSE(vector.IsResolutionListEnabled(TypeIndex(vector, "WMF")));
    ExportChoice chosen = vector.Choose("out", png, 1);
    EXPECT_EQ(chosen.format_id, "PNG");
    EXPECT_EQ(chosen.width_px, 800);
    EXPECT_EQ(chosen.height_px, 600);
    EXPECT_EQ(ExportFolderOf("/a/b/out.png"), "/a/b");
    EXPECT_EQ(ExportFolderOf("out.png"), "");
}

}  // namespace
}  // namespace scopa::test

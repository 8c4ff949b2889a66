// The control's resources: the string table, our own pictures, and theme icon lookup against
// the installed themes and against small themes made in a temporary folder.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "resources/icon_theme.h"
#include "resources/pictures.h"
#include "resources/strings.h"
#include "support/temp_dir.h"

namespace scopa {
namespace {

namespace fs = std::filesystem;
using test::ScopedTempDir;
using test::WriteFileBytes;

TEST(StringTable, TextsByNumber) {
    EXPECT_EQ(LoadResourceString(kIdsControlTypeName), "QOR Scopa Control");
    EXPECT_EQ(LoadResourceString(102), "Picture");
    EXPECT_EQ(LoadResourceString(218), "RECENT");
    EXPECT_EQ(LoadResourceString(223), "%#d/%#m/%y %#I:%M %p");
    EXPECT_EQ(LoadResourceString(103), "");
    for (int id : {1, 2, 100, 101, 102})
        EXPECT_FALSE(LoadResourceString(id).empty()) << id;
    for (int id = 215; id <= 228; ++id)
        EXPECT_FALSE(LoadResourceString(id).empty()) << id;
    EXPECT_EQ(FormatResourceString(kIdsShortcutDiskMessage, {"D:\\a.jpg", "Clip Art"}),
              "The file or foIder that the shortcut refers to is unavailable.\n\nD:\\a.jpg\n\n"
              "Insert the 'Clip Art' disk and try again.");
    // Missing arguments become nothing; a '%' that is not "%s" stays.
    EXPECT_EQ(FormatResourceString(kIdsDateFormat, {}), "%#d/%#m/%y %#I:%M %p");
    EXPECT_EQ(FormatResourceString(kIdsShortcutDiskMessage, {}).find("%"), std::string::npos);
}

TEST(ResourcePictures, BitmapsHaveTheirShapes) {
    oDIB pattern = LoadResourceBitmap(kBitmapSplitterPattern);
    ASSERT_EQ(pattern.Size(), (vSIZE{8, 8}));
    ASSERT_EQ(pattern.BitCount(), 1);
    for (int32_t y = 0; y < 8; ++y)
        EXPECT_EQ(pattern.Row(y)[0], y % 2 == 0 ? 0x55 : 0xAA);

    oDIB arrow = LoadResourceBitmap(kBitmapShortcutArrow);
    ASSERT_EQ(arrow.Size(), (vSIZE{16, 16}));
    EXPECT_EQ(arrow.BitCount(), 4);
    EXPECT_EQ(arrow.PixelColour(15, 0), kBitmapMaskColour);
    EXPECT_EQ(arrow.PixelColour(0, 15), kBlack);  // black bottom edge at the lower-left

    oDIB badge = LoadResourceBitmap(kBitmapFolderBadge);
    ASSERT_EQ(badge.Size(), (vSIZE{32, 32}));
    EXPECT_EQ(badge.PixelColour(0, 0), kBitmapMaskColour);
    Rgb middle = badge.PixelColour(16, 18);
    EXPECT_GT(middle.red, 200);  // yellow
    EXPECT_GT(middle.green, 150);
    EXPECT_LT(middle.blue, 100);

    EXPECT_TRUE(LoadResourceBitmap(999).IsEmpty());
}

TEST(ResourcePictures, IconsAtBothSizes) {
    for (int id : {kIconDocument, kIconPictureWaiting, kIconScrapDocument, kIconStyledText,
                   kIconPictureFailed}) {
        const IconImage& large = LoadResourceIcon(id, 32);
        const IconImage& small = LoadResourceIcon(id, 16);
        ASSERT_EQ(large.width_px, 32) << id;
        ASSERT_EQ(small.width_px, 16) << id;
        EXPECT_EQ(large.At(0, 0) >> 24, 0u) << id;      // clear corner
        EXPECT_EQ(large.At(16, 16) >> 24, 255u) << id;  // solid middle
        EXPECT_EQ(&LoadResourceIcon(id, 32), &large);   // made once
    }
    EXPECT_TRUE(LoadResourceIcon(kIconDocument, 24).IsEmpty());
    EXPECT_TRUE(LoadResourceIcon(300, 32).IsEmpty());
}

TEST(IconThemeIndex, ReadsDirectoriesAndParents) {
    auto index = ParseIconThemeIndex(
        "# a theme\n[Icon Theme]\nName=T\nInherits= Parent , hicolor,\n"
        "Directories=16x16/places,scalable/apps,bad,missing,\nScaledDirectories=16x16@2/places\n"
        "\n[16x16/places]\nSize=16\nType=Fixed\n[scalable/apps]\nSize=48\nType=Scalable\n"
        "MinSize=8\nMaxSize=256\n[bad]\nSize=-4\n[16x16@2/places]\nSize=16\nScale=2\n"
        "[Other]\nSize=1\n");
    ASSERT_TRUE(index);
    EXPECT_EQ(index->inherits, (std::vector<std::string>{"Parent", "hicolor"}));
    ASSERT_EQ(index->directories.size(), 3u);
    const IconThemeDirectory& fixed = index->directories[0];
    EXPECT_EQ(fixed.type, IconThemeDirectory::Type::kFixed);
    EXPECT_EQ(index->directories[1].max_size_px, 256);
    EXPECT_EQ(index->directories[2].scale, 2);
    EXPECT_EQ(index->directories[2].type, IconThemeDirectory::Type::kThreshold);
    EXPECT_FALSE(ParseIconThemeIndex("[Icon Them]\nDirectories=a\n"));
    EXPECT_FALSE(ParseIconThemeIndex(""));
}

TEST(IconThemeIndex, SizeRules) {
    using Type = IconThemeDirectory::Type;
    struct Case {
        Type type;
        int size, min, max, threshold, asked;
        bool matches;
        int distance;
    };
    const Case cases[] = {
        {Type::kFixed, 32, 32, 32, 2, 32, true, 0},
        {Type::kFixed, 48, 48, 48, 2, 32, false, 16},
        {Type::kScalable, 48, 8, 256, 2, 16, true, 0},
        {Type::kScalable, 48, 64, 256, 2, 16, false, 48},
        {Type::kScalable, 48, 8, 12, 2, 16, false, 4},
        {Type::kThreshold, 32, 32, 32, 2, 30, true, 0},
        {Type::kThreshold, 32, 32, 32, 2, 35, false, 1},
        {Type::kThreshold, 22, 22, 22, 2, 16, false, 4},
    };
    for (const Case& c : cases) {
        IconThemeDirectory directory;
        directory.type = c.type;
        directory.size_px = c.size;
        directory.min_size_px = c.min;
        directory.max_size_px = c.max;
        directory.threshold_px = c.threshold;
        EXPECT_EQ(DirectoryMatchesSize(directory, c.asked), c.matches) << c.size << " " << c.asked;
        EXPECT_EQ(DirectorySizeDistance(directory, c.asked), c.distance)
            << c.size << " " << c.asked;
    }
}

// Writes a theme with the given index text and empty icon files.
void WriteTheme(const fs::path& base, const std::string& name, const std::string& index,
                const std::vector<std::string>& files) {
    WriteFileBytes(base / name / "index.theme", index);
    for (const std::string& file : files)
        WriteFileBytes(base / name / file, "");
}

TEST(IconThemeLookup, ThemeThenParentsThenHicolor) {
    ScopedTempDir dir;
    const std::string sizes =
        "Directories=16,32,48\n[16]\nSize=16\nType=Fixed\n[32]\nSize=32\nType=Fixed\n"
        "[48]\nSize=48\nType=Fixed\n";
    WriteTheme(dir.path(), "Mine", "[Icon Theme]\nInherits=Parent\n" + sizes,
               {"32/own.png", "48/near.svg", "8/near.png"});
    WriteTheme(dir.path(), "Parent", "[Icon Theme]\nInherits=Mine\n" + sizes,
               {"32/own.png", "32/inherited.png", "32/near.png"});
    WriteTheme(dir.path(), "hicolor", "[Icon Theme]\n" + sizes,
               {"16/last.png", "32/inherited.svg"});
    WriteFileBytes(dir / "loose.png", "");
    const std::string base = dir.path().string();
    IconThemeLookup lookup({base}, "Mine");
    EXPECT_EQ(lookup.FindIconFile("own", 32), base + "/Mine/32/own.png");
    EXPECT_EQ(lookup.FindIconFile("inherited", 32), base + "/Parent/32/inherited.png");
    // No exact size in the theme: the nearest of its folders, before any parent's exact one.
    EXPECT_EQ(lookup.FindIconFile("near", 32), base + "/Mine/48/near.svg");
    EXPECT_EQ(lookup.FindIconFile("last", 32), base + "/hicolor/16/last.png");
    EXPECT_EQ(lookup.FindIconFile("loose", 16), base + "/loose.png");
    EXPECT_EQ(lookup.FindIconFile("absent", 16), "");
    EXPECT_EQ(lookup.FindIconFile("../Mine/32/own", 16), "");
    // A theme that does not exist still falls back on hicolor.
    IconThemeLookup unknown({base}, "Nobody");
    EXPECT_EQ(unknown.FindIconFile("inherited", 32), base + "/hicolor/32/inherited.svg");
}

TEST(IconThemeLookup, InstalledThemes) {
    if (!fs::exists("/usr/share/icons/Adwaita/index.theme") ||
        !fs::exists("/usr/share/icons/hicolor/index.theme")) {
        GTEST_SKIP() << "the Adwaita and hicolor icon themes are not installed";
    }
    IconThemeLookup lookup({"/usr/share/icons"}, "Adwaita");
    EXPECT_EQ(lookup.FindIconFile("folder", 32),
              "/usr/share/icons/Adwaita/32x32/places/folder.png");
    EXPECT_EQ(lookup.FindIconFile("folder", 16),
              "/usr/share/icons/Adwaita/16x16/places/folder.png");
    for (int size : {16, 32}) {
        IconImage icon = LoadIconFile(lookup.FindIconFile("image-x-generic", size), size);
        ASSERT_EQ(icon.width_px, size);
        EXPECT_EQ(icon.height_px, size);
        EXPECT_EQ(icon.At(size / 2, size / 2) >> 24, 255u);
    }
    // An SVG is drawn at the size asked for.
    std::string svg = lookup.FindIconFile("folder-symbolic", 32);
    if (svg.ends_with(".svg")) {
        EXPECT_EQ(LoadIconFile(svg, 32).width_px, 32);
    }
}

TEST(ThemeIcons, NeverEmptyForTheTwoSizes) {
    for (int size : {16, 32}) {
        const IconImage& unknown = LoadThemeIcon("no-such-icon-anywhere", size);
        EXPECT_EQ(unknown.pixels, FallbackFileIcon(size).pixels);
        const IconImage& folder = LoadThemeIcon("folder-of-nowhere", size);
        EXPECT_EQ(folder.width_px, size);
        EXPECT_EQ(&LoadThemeIcon("no-such-icon-anywhere", size), &unknown);  // cached
    }
    EXPECT_EQ(LoadThemeIcon("zz-no-such-x", 32).pixels, FallbackFileIcon(32).pixels);
}

}  // namespace
}  // namespace scopa

// The desktop's shared thumbnail cache: URIs and MD5 names, thumbnails written by us read by
// GdkPixbuf with their keys, thumbnails written by GdkPixbuf used by us instead of decoding,
// stale times ignored, failure records that hold until the file changes, the preference that
// stops writing, shared repositories beside the files (unless a static cache covers them),
// background caching writing through the user's folder, and damaged thumbnails refused.
#include "cache/freedesktop_thumbnails.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "cache/background_caching.h"
#include "cache/cache_manager.h"
#include "cache/shared_thumbnails.h"
#include "cache/static_cache_creation.h"
#include "imaging/picture.h"
#include "imaging/thumbnail.h"
#include "platform/registry.h"
#include "prefs/control_prefs.h"
#include "support/cache_sandbox.h"
#include "support/picture_files.h"
#include "support/temp_dir.h"

namespace scopa::test {
namespace {

namespace fs = std::filesystem;

// A w x h picture whose pixel (x, y) is (x, y, 200, 255), easy to compare exactly.
RgbaImage Gradient(int32_t width_px, int32_t height_px) {
    RgbaImage image{width_px, height_px, {}};
    for (int32_t y = 0; y < height_px; ++y) {
        for (int32_t x = 0; x < width_px; ++x) {
            image.pixels.insert(image.pixels.end(), {uint8_t(x), uint8_t(y), 200, 255});
        }
    }
    return image;
}

// Saves `image` as GdkPixbuf's PNG saver does for file managers, with optional keys.
void SaveWithGdkPixbuf(const fs::path& path, const RgbaImage& image, const char* uri,
                       const std::string& mtime) {
    fs::create_directories(path.parent_path());
    GdkPixbuf* pixbuf =
        gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, image.width_px, image.height_px);
    for (int32_t y = 0; y < image.height_px; ++y) {
        std::copy_n(image.pixels.data() + size_t(y) * image.width_px * 4, image.width_px * 4,
                    gdk_pixbuf_get_pixels(pixbuf) + y * gdk_pixbuf_get_rowstride(pixbuf));
    }
    GError* error = nullptr;
    gboolean saved = uri != nullptr
                         ? gdk_pixbuf_save(pixbuf, path.c_str(), "png", &error, "tEXt::Thumb::URI",
                                           uri, "tEXt::Thumb::MTime", mtime.c_str(), nullptr)
                         : gdk_pixbuf_save(pixbuf, path.c_str(), "png", &error, nullptr);
    g_object_unref(pixbuf);
    ASSERT_TRUE(saved) << (error != nullptr ? error->message : "");
}

class FreedesktopThumbnailsTest : public ::testing::Test {
protected:
    void SetUp() override { SetShareThumbnails(true); }
    void TearDown() override { SetShareThumbnails(true); }

    OriginalFile Original(const fs::path& path) { return *DescribeOriginal(path.string()); }
    fs::path CachePath(const char* size, const OriginalFile& original) {
        return m_cache / size / ThumbnailFileName(original.uri);
    }
    // The maker of background caching over our sandboxed desktop cache.
    int Make(const fs::path& path, vSIZE* covered = nullptr) {
        vSIZE size{};
        int result = MakeCacheThumbnailSharing(nullptr, path.string(), m_cache.string(),
                                               m_pixels.data(), size);
        if (covered != nullptr) *covered = size;
        return result;
    }

    ScopedTempDir m_dir;
    fs::path m_cache = m_dir / "thumbnails";
    std::vector<uint8_t> m_pixels = std::vector<uint8_t>(kThumbnailBytes);
};

TEST_F(FreedesktopThumbnailsTest, UrisAreEscapedAsTheDesktopEscapesThemAndNamedByTheirMd5) {
    struct Case {
        const char* path;
        const char* uri;
    };
    const Case cases[] = {
        {"/home/user/a b.png", "file:///home/user/a%20b.png"},
        {"/p/#1%.jpg", "file:///p/%231%25.jpg"},
        {"/p/caf\xC3\xA9 & co.jpg", "file:///p/caf%C3%A9%20&%20co.jpg"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FileUriOfPath(c.path), c.uri);
        EXPECT_EQ(PathOfFileUri(c.uri), c.path);
    }
    EXPECT_EQ(FileUriOfPath("relative.png"), "");
    EXPECT_EQ(PathOfFileUri("http://example/x.png"), std::nullopt);
    EXPECT_EQ(PathOfFileUri("file://elsewhere/x.png"), std::nullopt);
    EXPECT_EQ(PathOfFileUri("file://localhost/x.png"), "/x.png");
    // The standard's own example.
    EXPECT_EQ(ThumbnailFileName("file:///home/jens/photos/me.png"),
              "c6ee772d9e49320e97ec29a7eb5b1697.png");
}

TEST_F(FreedesktopThumbnailsTest, OursIsReadByGdkPixbufWithTheRequiredKeys) {
    fs::path picture = m_dir / "photo one.png";
    ASSERT_TRUE(WriteTestPicture(picture, 40, 30, 7));
    OriginalFile original = Original(picture);
    RgbaImage image = Gradient(256, 192);
    ASSERT_TRUE(
        WriteDesktopThumbnail(m_cache.string(), DesktopThumbnailSize::kLarge, original, image));
    fs::path written = CachePath("large", original);
    struct stat status {};
    ASSERT_EQ(::stat(written.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat((m_cache / "large").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    EXPECT_EQ(fs::directory_iterator(m_cache / "large")->path(), written) << "no temporary left";

    GError* error = nullptr;
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(written.c_str(), &error);
    ASSERT_NE(pixbuf, nullptr) << error->message;
    EXPECT_EQ(gdk_pixbuf_get_width(pixbuf), 256);
    EXPECT_EQ(gdk_pixbuf_get_height(pixbuf), 192);
    EXPECT_TRUE(gdk_pixbuf_get_has_alpha(pixbuf));
    EXPECT_STREQ(gdk_pixbuf_get_option(pixbuf, "tEXt::Thumb::URI"), original.uri.c_str());
    EXPECT_EQ(gdk_pixbuf_get_option(pixbuf, "tEXt::Thumb::MTime"),
              std::to_string(original.mtime_s));
    const guchar* pixel = gdk_pixbuf_get_pixels(pixbuf) + 100 * gdk_pixbuf_get_rowstride(pixbuf);
    EXPECT_EQ(std::vector<int>(pixel + 4 * 50, pixel + 4 * 51),
              (std::vector<int>{50, 100, 200, 255}));
    g_object_unref(pixbuf);
}

TEST_F(FreedesktopThumbnailsTest, GdkPixbufsThumbnailIsUsedInsteadOfDecodingAndStaleOnesAreNot) {
    // The original cannot be decoded: a thumbnail made from it proves the original was not read.
    fs::path picture = m_dir / "undecodable.jpg";
    WriteFileBytes(picture, "\xFF\xD8\xFF not really a JPEG");
    OriginalFile original = Original(picture);
    RgbaImage image = Gradient(256, 128);
    SaveWithGdkPixbuf(CachePath("x-large", original), Gradient(512, 256), original.uri.c_str(),
                      std::to_string(original.mtime_s - 1));
    EXPECT_FALSE(FindDesktopThumbnail(m_cache.string(), original, DesktopThumbnailSize::kLarge));
    EXPECT_EQ(Make(picture), kLoadFailed) << "a stale thumbnail is ignored";

    fs::remove_all(m_cache);
    SaveWithGdkPixbuf(CachePath("large", original), image, original.uri.c_str(),
                      std::to_string(original.mtime_s));
    std::optional<RgbaImage> found =
        FindDesktopThumbnail(m_cache.string(), original, DesktopThumbnailSize::kLarge);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->pixels, image.pixels);
    vSIZE covered{};
    EXPECT_EQ(Make(picture, &covered), kLoadRead);
    EXPECT_EQ(covered.cx, 128);
    EXPECT_EQ(covered.cy, 64);
    // A normal (128) thumbnail is too small to stand for the 256 render.
    fs::remove_all(m_cache);
    SaveWithGdkPixbuf(CachePath("normal", original), Gradient(128, 64), original.uri.c_str(),
                      std::to_string(original.mtime_s));
    EXPECT_EQ(Make(picture), kLoadFailed);
}

TEST_F(FreedesktopThumbnailsTest, ADecodedPictureIsWrittenBackAsTheSameRenderWeHalve) {
    fs::path picture = m_dir / "wide.png";
    ASSERT_TRUE(WriteTestPicture(picture, 400, 200, 3));
    vSIZE covered{};
    ASSERT_EQ(Make(picture, &covered), kLoadRead);
    std::vector<uint8_t> decoded = m_pixels;
    OriginalFile original = Original(picture);
    std::optional<RgbaImage> written =
        ReadFreshThumbnail(CachePath("large", original).string(), original);
    ASSERT_TRUE(written);
    EXPECT_EQ(written->width_px, 256);
    EXPECT_EQ(written->height_px, 128);
    // Made again from the written thumbnail, the cache thumbnail is the same, byte for byte.
    vSIZE again{};
    ASSERT_EQ(Make(picture, &again), kLoadRead);
    EXPECT_EQ(again.cx, covered.cx);
    EXPECT_EQ(again.cy, covered.cy);
    EXPECT_EQ(m_pixels, decoded);
}

TEST_F(FreedesktopThumbnailsTest, AFailureRecordStopsRetriesUntilTheFileChanges) {
    fs::path picture = m_dir / "broken.png";
    WriteFileBytes(picture, "\x89PNG\r\n\x1A\n broken");
    SetModifiedTime(picture, 1700000000);
    EXPECT_EQ(Make(picture), kLoadFailed);
    OriginalFile original = Original(picture);
    EXPECT_TRUE(HasFailRecord(m_cache.string(), original));
    EXPECT_TRUE(
        fs::exists(m_cache / "fail" / FailRecordFolderName() / ThumbnailFileName(original.uri)));
    // Repaired but with the same time: the record still holds, so the file is not read again.
    ASSERT_TRUE(WriteTestPicture(picture, 20, 20, 1));
    SetModifiedTime(picture, 1700000000);
    EXPECT_EQ(Make(picture), kLoadFailed);
    // Changed: made, and shared.
    SetModifiedTime(picture, 1700000100);
    EXPECT_EQ(Make(picture), kLoadRead);
    EXPECT_FALSE(HasFailRecord(m_cache.string(), Original(picture)));
    EXPECT_TRUE(fs::exists(CachePath("large", Original(picture))));
}

TEST_F(FreedesktopThumbnailsTest, WithThePreferenceOffNothingIsWritten) {
    fs::path good = m_dir / "good.png";
    fs::path bad = m_dir / "bad.png";
    ASSERT_TRUE(WriteTestPicture(good, 20, 20, 1));
    WriteFileBytes(bad, "nothing");
    SandboxedEnvironment environment;
    ASSERT_TRUE(RegistryKey::Create(HKEY_CURRENT_USER, kGeneralPrefsKey)
                    .WriteDword(kShareThumbnailsValue, 0));
    LoadShareThumbnailsPreference();
    EXPECT_FALSE(ShareThumbnails());
    RegistryResetStore();
    EXPECT_EQ(Make(good), kLoadRead);
    EXPECT_EQ(Make(bad), kLoadFailed);
    EXPECT_FALSE(fs::exists(m_cache));
}

TEST_F(FreedesktopThumbnailsTest, SharedRepositoriesBesideTheFilesAreNamedByTheFileName) {
    fs::path picture = m_dir / "disc" / "shot.jpg";
    WriteFileBytes(picture, "not decodable");
    OriginalFile original = Original(picture);
    fs::path repository = m_dir / "disc" / ".sh_thumbnails" / "large";
    SaveWithGdkPixbuf(repository / ThumbnailFileName("shot.jpg"), Gradient(200, 256), nullptr, "");
    vSIZE covered{};
    EXPECT_EQ(Make(picture, &covered), kLoadRead);
    EXPECT_EQ(covered.cx, 100);
    EXPECT_EQ(covered.cy, 128);
    // One that names another file or another time is not used.
    SaveWithGdkPixbuf(repository / ThumbnailFileName("shot.jpg"), Gradient(200, 256), "other.jpg",
                      std::to_string(original.mtime_s));
    EXPECT_EQ(Make(picture), kLoadFailed);

    // A static cache for the disc is its own answer: the repository is then left alone.
    SandboxedEnvironment environment;
    RegistryResetStore();
    CPreviewCacheManager::Destroy();
    fs::remove_all(m_cache);
    SaveWithGdkPixbuf(repository / ThumbnailFileName("shot.jpg"), Gradient(200, 256), nullptr, "");
    ASSERT_TRUE(
        CreateStaticCache((environment.root() / "Disc").string(), (m_dir / "disc").string(), {}));
    RememberStaticCacheRoots(CPreviewCacheManager::Get());
    EXPECT_TRUE(IsUnderStaticCacheRoot((m_dir / "disc" / "sub").string()));
    EXPECT_FALSE(IsUnderStaticCacheRoot((m_dir / "disc2").string()));
    EXPECT_EQ(Make(picture), kLoadFailed);
    CPreviewCacheManager::Destroy();
    RegistryResetStore();
    RememberStaticCacheRoots(CPreviewCacheManager::Get());
    CPreviewCacheManager::Destroy();
}

TEST_F(FreedesktopThumbnailsTest, BackgroundCachingSharesThroughTheUsersThumbnailFolder) {
    CacheSandbox environment;
    fs::path picture = environment.root() / "photos" / "p.png";
    ASSERT_TRUE(WriteTestPicture(picture, 64, 48, 5));
    CCacheEntry* entry = CPreviewCacheManager::Get().FindOrCreateEntry(
        picture.parent_path().string(), "p.png", true);
    ASSERT_NE(entry, nullptr);
    oDIB unused;
    FetchThumbnail(*entry, unused);
    CBackgroundCaching caching(nullptr, nullptr);
    EXPECT_EQ(caching.MakeQueueHeadThumbnail(), CachingJobResult::kWritten);
    OriginalFile original = Original(picture);
    EXPECT_TRUE(ReadFreshThumbnail(
        (environment.cache_dir() / "thumbnails/large" / ThumbnailFileName(original.uri)).string(),
        original));
}

TEST_F(FreedesktopThumbnailsTest, DamagedOrOversizedThumbnailsAreRefused) {
    RgbaImage image = Gradient(64, 64);
    std::vector<uint8_t> png;
    ASSERT_TRUE(EncodeRgbaPng(image, {{kThumbUriKey, "file:///x"}}, &png));
    RgbaImage decoded;
    PngTexts texts;
    ASSERT_TRUE(DecodeRgbaPng(png, 64, &decoded, &texts));
    EXPECT_EQ(decoded.pixels, image.pixels);
    EXPECT_EQ(*FindPngText(texts, kThumbUriKey), "file:///x");
    EXPECT_FALSE(DecodeRgbaPng(png, 63, &decoded, &texts)) << "larger than allowed";
    for (size_t cut : {size_t(7), size_t(40), png.size() - 13}) {
        EXPECT_FALSE(DecodeRgbaPng(std::span(png).first(cut), 64, &decoded, &texts)) << cut;
    }
    png[png.size() / 2] ^= 0x55;
    EXPECT_FALSE(DecodeRgbaPng(png, 64, &decoded, &texts));
}

}  // namespace
}  // namespace scopa::test

// The compound-file reader: round trips through the test writer, files written by other
// tools, name lookup, and damaged files that must fail quietly.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "fixtures/compound_writer.h"
#include "platform/compound_file.h"
#include "platform/text.h"
#include "support/temp_dir.h"

using namespace scopa::fixtures;  // NOLINT: fixture writers read like test helpers

namespace scopa::test {
namespace {

std::string Pattern(size_t size, uint32_t seed) {
    std::string bytes(size, '\0');
    uint32_t state = seed * 2654435761u + 1;
    for (char& c : bytes) {
        state = state * 1103515245u + 12345u;
        c = char(state >> 24);
    }
    return bytes;
}

std::string ReadAll(OleStream& stream) {
    std::string bytes(size_t(stream.Size()), '\0');
    size_t got = stream.Read(bytes.data(), bytes.size());
    bytes.resize(got);
    return bytes;
}

std::unique_ptr<OleStream> OpenPath(const OleStorage& root, const std::string& path) {
    size_t slash = path.find('/');
    if (slash == std::string::npos) return root.OpenStream(path, kStgmShareExclusive);
    auto storage = root.OpenStorage(path.substr(0, slash), kStgmShareExclusive);
    return storage ? OpenPath(*storage, path.substr(slash + 1)) : nullptr;
}

// Runs a shell command and returns its standard output.
std::string Capture(const std::string& command, int* status = nullptr) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof(buffer), pipe)) > 0)
        out.append(buffer, got);
    int code = pclose(pipe);
    if (status != nullptr) *status = code;
    return out;
}

const std::vector<size_t> kBoundarySizes = {0, 1, 63, 64, 65, 4095, 4096, 4097, 70000};

class RoundTrip : public testing::TestWithParam<int> {};

TEST_P(RoundTrip, EveryStreamReadsBackWholeAtEverySizeBoundary) {
    CompoundFileWriter writer(GetParam());
    std::map<std::string, std::string> expected;
    for (size_t i = 0; i < kBoundarySizes.size(); ++i) {
        std::string path = (i % 2 ? "Nested/Deeper/S" : "S") + std::to_string(kBoundarySizes[i]);
        expected[path] = Pattern(kBoundarySizes[i], uint32_t(i));
        writer.AddStream(path, expected[path]);
    }
    std::string bytes = writer.Build();
    std::string error;
    auto root = OleStorage::OpenBytes(bytes.data(), bytes.size(), &error);
    ASSERT_NE(root, nullptr) << error;
    for (const auto& [path, content] : expected) {
        auto stream = OpenPath(*root, path);
        ASSERT_NE(stream, nullptr) << path;
        EXPECT_EQ(stream->Size(), content.size()) << path;
        EXPECT_EQ(ReadAll(*stream), content) << path;
        EXPECT_EQ(stream->Read(bytes.data(), 1), 0u) << "nothing past the end of " << path;
    }
}

INSTANTIATE_TEST_SUITE_P(Versions, RoundTrip, testing::Values(3, 4));

TEST(CompoundFileTest, SeekStatAndCloneKeepTheirOwnPositions) {
    CompoundFileWriter writer(3);
    std::string content = Pattern(10000, 7);
    writer.AddStream("Contents", content);
    std::string bytes = writer.Build();
    auto root = OleStorage::OpenBytes(bytes.data(), bytes.size());
    ASSERT_NE(root, nullptr);
    auto stream = root->OpenStream("Contents", kStgmShareExclusive | kStgmRead);
    ASSERT_NE(stream, nullptr);

    uint64_t position = 0;
    ASSERT_TRUE(stream->Seek(5000, SeekOrigin::kSet, &position));
    EXPECT_EQ(position, 5000u);
    auto clone = stream->Clone();
    char a[10], b[10];
    ASSERT_EQ(stream->Read(a, 10), 10u);
    ASSERT_TRUE(stream->Seek(-20, SeekOrigin::kCurrent, &position));
    EXPECT_EQ(position, 4990u);
    ASSERT_EQ(clone->Read(b, 10), 10u);  // the clone still stands at 5000
    EXPECT_EQ(std::string(a, 10), content.substr(5000, 10));
    EXPECT_EQ(std::string(b, 10), content.substr(5000, 10));
    ASSERT_TRUE(stream->Seek(-1, SeekOrigin::kEnd, &position));
    EXPECT_EQ(position, 9999u);
    EXPECT_FALSE(stream->Seek(-1, SeekOrigin::kSet));
    EXPECT_EQ(stream->Position(), 9999u);
    ASSERT_TRUE(stream->Seek(20000, SeekOrigin::kSet));
    EXPECT_EQ(stream->Read(a, 10), 0u);

    StorageStat stat = stream->Stat(true);
    EXPECT_EQ(stat.name, "Contents");
    EXPECT_EQ(stat.size, 10000u);
    EXPECT_EQ(stat.type, StorageElementType::kStream);
    EXPECT_TRUE(stream->Stat(false).name.empty());
    EXPECT_EQ(root->Stat().type, StorageElementType::kRoot);
}

TEST(CompoundFileTest, NamesCompareByLengthThenUpperCasedUnits) {
    EXPECT_LT(CompareElementNames(u"Zz", u"aaa"), 0);  // shorter first, whatever the letters
    EXPECT_EQ(CompareElementNames(u"contents", u"CONTENTS"), 0);
    EXPECT_EQ(CompareElementNames(u"\u00e9t\u00e9", u"\u00c9T\u00c9"), 0);
    EXPECT_LT(CompareElementNames(u"ABC", u"abd"), 0);
    EXPECT_GT(CompareElementNames(u"_", u"a"), 0);  // '_' sorts after 'A' once upper-cased

    CompoundFileWriter writer(3);
    const std::vector<std::string> names = {
        "Contents", "\x05SummaryInformation", "Preview.dib", "Ünïcödé", "a", "B", "cc", "D"};
    for (const std::string& name : names)
        writer.AddStream(name, name);
    for (bool unsorted : {false, true}) {
        writer.SetUnsortedTrees(unsorted);
        std::string bytes = writer.Build();
        auto root = OleStorage::OpenBytes(bytes.data(), bytes.size());
        ASSERT_NE(root, nullptr);
        for (const std::string& name : names) {
            auto stream = root->OpenStream(ToUpperAscii(name), 0x10);
            ASSERT_NE(stream, nullptr) << name << (unsorted ? " unsorted" : "");
            EXPECT_EQ(ReadAll(*stream), name);
        }
        EXPECT_EQ(root->OpenStream("Content", 0x10), nullptr);
        EXPECT_EQ(root->OpenStorage("Contents", 0x10), nullptr) << "a stream is no storage";
        EXPECT_EQ(root->EnumElements().size(), names.size());
    }
}

TEST(CompoundFileTest, FatBeyondTheHeaderIsFoundThroughDifatSectors) {
    // 109 FAT sectors of 128 entries cover 7 MB of 512-byte sectors; go past that.
    CompoundFileWriter writer(3);
    std::string big = Pattern(8 * 1024 * 1024, 3);
    writer.AddStream("Big", big);
    writer.AddStream("Small", "tail");
    CompoundLayout layout;
    std::string bytes = writer.Build(&layout);
    ASSERT_GT(layout.fat_sectors.size(), 109u);
    auto root = OleStorage::OpenBytes(bytes.data(), bytes.size());
    ASSERT_NE(root, nullptr);
    auto stream = root->OpenStream("Big", 0x10);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(ReadAll(*stream), big);
    EXPECT_EQ(ReadAll(*root->OpenStream("Small", 0x10)), "tail");
}

TEST(CompoundFileTest, SignatureTestAndWriteModes) {
    ScopedTempDir dir;
    CompoundFileWriter writer(3);
    writer.AddStream("Contents", "x");
    writer.WriteTo(dir / "doc.dtp");
    WriteFileBytes(dir / "plain.dtp", "DTPI plain bytes");
    WriteFileBytes(dir / "short", "\xD0\xCF");
    EXPECT_EQ(StgIsStorageFile((dir / "doc.dtp").string()), StorageFileAnswer::kStorage);
    EXPECT_EQ(StgIsStorageFile((dir / "plain.dtp").string()), StorageFileAnswer::kNotStorage);
    EXPECT_EQ(StgIsStorageFile((dir / "short").string()), StorageFileAnswer::kNotStorage);
    EXPECT_EQ(StgIsStorageFile((dir / "missing").string()), StorageFileAnswer::kUnreadable);

    EXPECT_NE(OleStorage::Open((dir / "doc.dtp").string(), 0x40040), nullptr);
    EXPECT_NE(OleStorage::Open((dir / "doc.dtp").string(), 0x10020), nullptr);
    EXPECT_EQ(OleStorage::Open((dir / "doc.dtp").string(), kStgmReadWrite), nullptr);
    EXPECT_EQ(OleStorage::Open((dir / "plain.dtp").string(), 0x40000), nullptr);
    auto root = OleStorage::Open((dir / "doc.dtp").string(), 0x40000);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->OpenStream("Contents", kStgmWrite), nullptr);
}

// ---- independent tools ----
// The test writer is checked against one independent reader; our reader against gsf's writer.

TEST(CompoundFileCrossCheck, OlefileListsAndReadsWhatTheWriterWrites) {
    if (std::system("/usr/bin/python3 -c 'import olefile' 2>/dev/null") != 0) {
        GTEST_SKIP() << "python3-olefile is not installed";
    }
    ScopedTempDir dir;
    for (int version : {3, 4}) {
        CompoundFileWriter writer(version);
        std::map<std::string, std::string> expected;
        for (size_t i = 0; i < kBoundarySizes.size(); ++i) {
            std::string path = (i % 3 ? "Store/S" : "S") + std::to_string(kBoundarySizes[i]);
            expected[path] = Pattern(kBoundarySizes[i], uint32_t(i + 10));
            writer.AddStream(path, expected[path]);
        }
        expected["\u00dcn\u00efc\u00f6d\u00e9/\u03a9mega"] = "non-ASCII names";
        expected["\x05SummaryInformation"] = Pattern(300, 99);
        for (const char* path :
             {"\u00dcn\u00efc\u00f6d\u00e9/\u03a9mega", "\x05SummaryInformation"}) {
            writer.AddStream(path, expected[path]);
        }
        std::filesystem::path file = dir / ("v" + std::to_string(version) + ".ole");
        writer.WriteTo(file);
        std::string script =
            "import olefile,sys,zlib\n"
            "f=olefile.OleFileIO(sys.argv[1], raise_defects=olefile.DEFECT_INCORRECT)\n"
            "for e in f.listdir(streams=True, storages=False):\n"
            "  d=f.openstream(e).read()\n"
            "  line='%s %d %d\\n' % ('/'.join(e), len(d), zlib.crc32(d))\n"
            "  sys.stdout.buffer.write(line.encode('utf-8'))\n";
        WriteFileBytes(dir / "list.py", script);
        int status = 0;
        std::string out = Capture(
            "/usr/bin/python3 " + (dir / "list.py").string() + " " + file.string() + " 2>&1",
            &status);
        ASSERT_EQ(status, 0) << out;
        std::string want;
        for (const auto& [path, content] : expected) {
            want += path + " " + std::to_string(content.size()) + " " +
                    std::to_string(Crc32(content)) + "\n";
        }
        // olefile lists in its own order; compare as sorted lines.
        auto sorted = [](const std::string& text) {
            std::vector<std::string> lines;
            std::istringstream in(text);
            for (std::string line; std::getline(in, line);)
                lines.push_back(line);
            std::sort(lines.begin(), lines.end());
            return lines;
        };
        EXPECT_EQ(sorted(out), sorted(want)) << "version " << version;
    }
}

TEST(CompoundFileCrossCheck, ReaderReadsWhatGsfWrites) {
    if (std::system("command -v gsf >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "gsf (libgsf-bin) is not installed";
    }
    ScopedTempDir dir;
    std::map<std::string, std::string> expected;
    for (size_t i = 0; i < kBoundarySizes.size(); ++i) {
        std::string path = (i % 2 ? "Store/Inner/F" : "F") + std::to_string(kBoundarySizes[i]);
        expected[path] = Pattern(kBoundarySizes[i], uint32_t(i + 20));
        WriteFileBytes(dir / "src" / path, expected[path]);
    }
    std::string command = "cd " + (dir / "src").string() + " && gsf createole " +
                          (dir / "out.ole").string() + " Store";
    for (const auto& [path, content] : expected) {
        if (path.find('/') == std::string::npos) command += " " + path;
    }
    int status = 0;
    std::string out = Capture(command + " 2>&1", &status);
    ASSERT_EQ(status, 0) << out;
    std::string error;
    auto root = OleStorage::Open((dir / "out.ole").string(), 0x40000, &error);
    ASSERT_NE(root, nullptr) << error;
    for (const auto& [path, content] : expected) {
        auto stream = OpenPath(*root, path);
        ASSERT_NE(stream, nullptr) << path;
        EXPECT_EQ(ReadAll(*stream), content) << path;
    }
}

// ---- damaged files ----

class DamagedFile : public testing::Test {
protected:
    void SetUp() override {
        writer.AddStream("Big", Pattern(20000, 1));
        writer.AddStream("Small", Pattern(300, 2));
        writer.AddStream("Other", Pattern(100, 3));
        bytes = writer.Build(&layout);
    }
    std::unique_ptr<OleStorage> Open() { return OleStorage::OpenBytes(bytes.data(), bytes.size()); }
    // Where the FAT entry of regular sector `sector` lives.
    size_t FatEntryOffset(uint32_t sector) {
        return size_t(layout.SectorOffset(layout.fat_sectors[sector / 128]) + 4 * (sector % 128));
    }
    size_t MiniFatEntryOffset(uint32_t mini_sector) {
        return size_t(layout.SectorOffset(layout.first_mini_fat_sector) + 4 * mini_sector);
    }
    CompoundFileWriter writer{3};
    CompoundLayout layout;
    std::string bytes;
};

TEST_F(DamagedFile, ChainsThatLoopOrLeaveTheFileEndShort) {
    uint32_t big = layout.start_sectors["Big"];
    for (uint32_t bad : {big, big + 1, 0x00FFFFFFu, 0xFFFFFFFAu, 0xFFFFFFFFu}) {
        std::string saved = bytes;
        PutLe32(bytes, FatEntryOffset(big + 1), bad);  // the third sector of "Big"
        auto root = Open();
        ASSERT_NE(root, nullptr);
        auto stream = root->OpenStream("Big", 0x10);
        ASSERT_NE(stream, nullptr);
        EXPECT_EQ(ReadAll(*stream).size(), 1024u) << std::hex << bad;
        bytes = saved;
    }
    uint32_t small = layout.start_sectors["Small"];
    PutLe32(bytes, MiniFatEntryOffset(small + 2), small);  // mini chain loops to its start
    auto root = Open();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(ReadAll(*root->OpenStream("Small", 0x10)).size(), 192u);
    EXPECT_EQ(ReadAll(*root->OpenStream("Other", 0x10)), Pattern(100, 3));
}

TEST_F(DamagedFile, SizesPastTheEndAreRefused) {
    PutLe32(bytes, size_t(layout.EntryOffset(layout.directory_ids["Big"]) + 120), 0x7FFFFFFF);
    PutLe32(bytes, size_t(layout.EntryOffset(layout.directory_ids["Other"]) + 120), 4095);
    auto root = Open();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->OpenStream("Big", 0x10), nullptr);
    EXPECT_EQ(root->OpenStream("Other", 0x10), nullptr) << "mini stream is shorter than that";
    EXPECT_NE(root->OpenStream("Small", 0x10), nullptr);
}

TEST_F(DamagedFile, DirectoryTreesWithCyclesEnd) {
    // Every child points back at the first one, on both sides.
    uint32_t first = layout.directory_ids["Big"];
    for (const char* name : {"Big", "Small", "Other"}) {
        size_t entry = size_t(layout.EntryOffset(layout.directory_ids[name]));
        PutLe32(bytes, entry + 68, first);
        PutLe32(bytes, entry + 72, first);
    }
    PutLe32(bytes, size_t(layout.EntryOffset(0) + 76), first);
    auto root = Open();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->OpenStream("Missing", 0x10), nullptr);
    EXPECT_LE(root->EnumElements().size(), 3u);
    // A storage whose child is the root itself.
    PutLe32(bytes, size_t(layout.EntryOffset(0) + 76), 0);
    root = Open();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->OpenStorage("Root Entry", 0x10), nullptr);
    EXPECT_LE(root->EnumElements().size(), 1u);
}

TEST_F(DamagedFile, BrokenHeadersFailToOpen) {
    struct Case {
        const char* what;
        size_t offset;
        uint32_t value;
        bool le16;
    };
    const Case cases[] = {
        {"byte order", 28, 0xFEFF, true},      {"version 5", 26, 5, true},
        {"version 3 with 4 KB", 30, 12, true}, {"mini sector shift", 32, 7, true},
        {"cutoff", 56, 8192, false},           {"directory out of range", 48, 0x10000, false},
    };
    for (const Case& c : cases) {
        std::string saved = bytes;
        if (c.le16) {
            PutLe16(bytes, c.offset, uint16_t(c.value));
        } else {
            PutLe32(bytes, c.offset, c.value);
        }
        EXPECT_EQ(Open(), nullptr) << c.what;
        bytes = saved;
    }
    for (size_t cut : {size_t(0), size_t(8), size_t(511), size_t(512), bytes.size() / 2}) {
        std::string whole = bytes;
        bytes.resize(cut);
        auto root = Open();  // may open when the cut spares the directory; must not crash
        if (root) {
            for (const char* name : {"Big", "Small", "Other"}) {
                if (auto stream = root->OpenStream(name, 0x10)) ReadAll(*stream);
            }
        }
        bytes = whole;
    }
}

TEST_F(DamagedFile, DifatLoopsEnd) {
    CompoundFileWriter big_writer(3);
    big_writer.AddStream("Big", Pattern(8 * 1024 * 1024, 4));
    CompoundLayout big_layout;
    std::string big_bytes = big_writer.Build(&big_layout);
    // The first DIFAT sector names itself as the next one, and claims more FAT sectors.
    size_t difat = size_t(big_layout.SectorOffset(big_layout.first_difat_sector));
    PutLe32(big_bytes, difat + 508, big_layout.first_difat_sector);
    PutLe32(big_bytes, 72, 5);
    PutLe32(big_bytes, 44, uint32_t(109 + 127 * 5));
    auto root = OleStorage::OpenBytes(big_bytes.data(), big_bytes.size());
    ASSERT_NE(root, nullptr);
    auto stream = root->OpenStream("Big", 0x10);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(ReadAll(*stream), Pattern(8 * 1024 * 1024, 4)) << "the real chain still reads";
}

}  // namespace
}  // namespace scopa::test

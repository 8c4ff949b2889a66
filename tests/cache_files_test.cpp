// Preview cache files: the index in each version with hand-built bytes, damaged and hostile
// indexes, byte-exact saving through the temporary file, and slot and compressed data records.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cache/cache_files.h"
#include "cache/implode.h"
#include "support/temp_dir.h"

namespace scopa::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// ---- hand-built index bytes ----

struct IndexBuilder {
    Bytes bytes;
    IndexBuilder& Raw(std::string_view text) {
        bytes.insert(bytes.end(), text.begin(), text.end());
        return *this;
    }
    IndexBuilder& I32(int32_t value) {
        for (int shift = 0; shift < 32; shift += 8) {
            bytes.push_back(static_cast<uint8_t>(static_cast<uint32_t>(value) >> shift));
        }
        return *this;
    }
    IndexBuilder& I16(int16_t value) {
        bytes.push_back(static_cast<uint8_t>(value));
        bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(value) >> 8));
        return *this;
    }
    IndexBuilder& Str(std::string_view text) {
        I16(static_cast<int16_t>(text.size()));
        return Raw(text);
    }
    IndexBuilder& Entry(std::string_view name, int32_t index, int32_t seq_id, int32_t stamp) {
        return Str(name).I32(index).I32(seq_id).I32(stamp);
    }
};

// Two folders: PHOTOS\TREES with two entries, C:\PICTURES with one.
Bytes SampleIndex(int32_t version, int32_t compressed_flag = 1) {
    IndexBuilder b;
    b.Raw("ImgC").I32(version);
    if (version >= 2) b.I32(compressed_flag);
    b.I32(2);
    b.Str("PHOTOS\\TREES").Str("CDROM_1").I32(2);
    b.Entry("OAK.JPG", 0, 1234, 1000000).Entry("ELM.TIF", 16396, 32767, 0);
    b.Str("C:\\PICTURES").Str("").I32(1);
    b.Entry("A.BMP", 7, 5, 86400);
    return b.bytes;
}

TEST(CacheIndexTest, LoadsEachKnownVersion) {
    for (int32_t version : {0, 1, 2}) {
        SCOPED_TRACE(version);
        CacheIndexContents index = ParseCacheIndex(SampleIndex(version));
        EXPECT_EQ(index.compressed, version == 2);  // versions 0 and 1 have no flag: 0
        ASSERT_EQ(index.folders.size(), 2u);
        EXPECT_EQ(index.entry_total, 3);
        const CacheFolderRecord& trees = index.folders[0];
        EXPECT_EQ(trees.folder_path, "PHOTOS\\TREES");
        EXPECT_EQ(trees.volume_label, "CDROM_1");
        ASSERT_EQ(trees.entries.size(), 2u);
        EXPECT_EQ(trees.entries[1].name, "ELM.TIF");
        EXPECT_EQ(trees.entries[1].index, 16396);
        EXPECT_EQ(trees.entries[1].seq_id, 32767);
        EXPECT_EQ(trees.entries[1].stamp, 0);
        EXPECT_EQ(trees.entries[1].state, EntryState::kValid);
        EXPECT_EQ(index.folders[1].volume_label, "");
    }
}

TEST(CacheIndexTest, RefusesLaterVersionsAndOtherTags) {
    EXPECT_TRUE(ParseCacheIndex(SampleIndex(3)).folders.empty());
    EXPECT_TRUE(ParseCacheIndex(SampleIndex(-1)).folders.empty());
    Bytes wrong_tag = SampleIndex(2);
    wrong_tag[3] = 'c';
    EXPECT_TRUE(ParseCacheIndex(wrong_tag).folders.empty());
    EXPECT_TRUE(ParseCacheIndex({}).folders.empty());
    // Only a sound header tells the reader the records' kind.
    EXPECT_FALSE(ParseCacheIndex(SampleIndex(3)).header_read);
    EXPECT_FALSE(ParseCacheIndex({}).header_read);
    EXPECT_TRUE(ParseCacheIndex(SampleIndex(1)).header_read);
    Bytes header_only = SampleIndex(2);
    header_only.resize(12);  // tag, version, flag; no folder count
    EXPECT_TRUE(ParseCacheIndex(header_only).header_read);
    EXPECT_TRUE(ParseCacheIndex(header_only).compressed);
}

TEST(CacheIndexTest, FolderWithoutEntriesDisappears) {
    IndexBuilder b;
    b.Raw("ImgC").I32(2).I32(0).I32(3);
    b.Str("EMPTY").Str("").I32(0);
    b.Str("NEGATIVE").Str("").I32(-5);
    b.Str("KEPT").Str("").I32(1).Entry("X.GIF", 3, 4, 5);
    CacheIndexContents index = ParseCacheIndex(b.bytes);
    ASSERT_EQ(index.folders.size(), 1u);
    EXPECT_EQ(index.folders[0].folder_path, "KEPT");
    EXPECT_EQ(index.entry_total, 1);
}

TEST(CacheIndexTest, TruncatedIndexKeepsTheEntriesReadBeforeTheCut) {
    Bytes full = SampleIndex(2);
    size_t first_entry_end = 16 + 2 + 12 + 2 + 7 + 4 + (2 + 7 + 12);
    size_t first_folder_end = first_entry_end + (2 + 7 + 12);
    for (size_t size = 0; size < full.size(); ++size) {
        CacheIndexContents index = ParseCacheIndex({full.data(), size});
        int64_t expected = size < first_entry_end ? 0 : size < first_folder_end ? 1 : 2;
        EXPECT_EQ(index.entry_total, expected) << size;
        EXPECT_FALSE(index.problem.empty()) << size;  // a cut index is not sound
    }
    CacheIndexContents whole = ParseCacheIndex(full);
    EXPECT_EQ(whole.folders.size(), 2u);
    EXPECT_TRUE(whole.problem.empty());
}

TEST(CacheIndexTest, EntriesWhoseIndexCannotBeRightAreDropped) {
    // Compressed records: an Index must leave room for the record's head in the data file.
    CacheIndexContents compressed = ParseCacheIndex(SampleIndex(2));  // Indexes 0, 16396, 7
    DropEntriesOutsideData(compressed, 16396 + 11, 0);
    EXPECT_EQ(compressed.entry_total, 2);
    EXPECT_EQ(compressed.dropped_entries, 1);
    EXPECT_FALSE(compressed.problem.empty());
    // Unknown data file length (a disk that is gone): only negative Indexes go.
    CacheIndexContents unknown = ParseCacheIndex(SampleIndex(2));
    DropEntriesOutsideData(unknown, -1, 0);
    EXPECT_EQ(unknown.entry_total, 3);
    // Slots: negative or beyond the capacity; a folder left empty goes too.
    IndexBuilder b;
    b.Raw("ImgC").I32(2).I32(0).I32(2);
    b.Str("/a").Str("").I32(3).Entry("x", 249, 1, 0).Entry("y", 250, 1, 0).Entry("z", -4, 1, 0);
    b.Str("/b").Str("").I32(1).Entry("w", 0x7FFF0000, 1, 0);
    CacheIndexContents slots = ParseCacheIndex(b.bytes);
    DropEntriesOutsideData(slots, 4099000, 250);
    ASSERT_EQ(slots.folders.size(), 1u);
    ASSERT_EQ(slots.folders[0].entries.size(), 1u);
    EXPECT_EQ(slots.folders[0].entries[0].name, "x");
    EXPECT_EQ(slots.dropped_entries, 3);
}

TEST(CacheIndexTest, HostileIndexesLoadAsFarAsSound) {
    // Zero-filled: the tag is wrong.
    EXPECT_TRUE(ParseCacheIndex(Bytes(4096, 0)).folders.empty());
    // A huge folder count with nothing behind it.
    IndexBuilder huge;
    huge.Raw("ImgC").I32(2).I32(0).I32(0x7FFFFFFF);
    EXPECT_TRUE(ParseCacheIndex(huge.bytes).folders.empty());
    // A huge entry count: the folder keeps the entries that are there.
    IndexBuilder entries;
    entries.Raw("ImgC").I32(1).I32(1).Str("F").Str("").I32(0x7FFFFFFF).Entry("A", 1, 2, 3);
    EXPECT_EQ(ParseCacheIndex(entries.bytes).entry_total, 1);
    EXPECT_FALSE(ParseCacheIndex(entries.bytes).problem.empty());
    // String lengths out of range end the load after the sound folder.
    for (int16_t length : {int16_t{-1}, int16_t{1024}, int16_t{0x7FFF}}) {
        IndexBuilder bad;
        bad.Raw("ImgC").I32(2).I32(0).I32(2).Str("GOOD").Str("").I32(1).Entry("A", 1, 2, 3);
        bad.I16(length).Raw(std::string(1100, 'x')).Str("").I32(1).Entry("B", 1, 2, 3);
        CacheIndexContents index = ParseCacheIndex(bad.bytes);
        ASSERT_EQ(index.folders.size(), 1u) << length;
        EXPECT_EQ(index.folders[0].folder_path, "GOOD");
    }
    // The longest allowed string loads.
    IndexBuilder longest;
    longest.Raw("ImgC").I32(2).I32(0).I32(1).Str(std::string(1023, 'P')).Str("").I32(1);
    longest.Entry(std::string(1023, 'N'), 0, 0, 0);
    EXPECT_EQ(ParseCacheIndex(longest.bytes).folders.size(), 1u);
}

TEST(CacheIndexTest, SavesVersionTwoByteExactWithOnlyValidEntries) {
    CacheIndexContents index = ParseCacheIndex(SampleIndex(2));
    EXPECT_EQ(SerializeCacheIndex(index), SampleIndex(2));

    // Pending and Empty entries are left out; a folder with none left keeps count 0.
    index.folders[0].entries[0].state = EntryState::kPending;
    index.folders[1].entries[0].state = EntryState::kEmpty;
    IndexBuilder b;
    b.Raw("ImgC").I32(2).I32(1).I32(2);
    b.Str("PHOTOS\\TREES").Str("CDROM_1").I32(1).Entry("ELM.TIF", 16396, 32767, 0);
    b.Str("C:\\PICTURES").Str("").I32(0);
    EXPECT_EQ(SerializeCacheIndex(index), b.bytes);
    // ... and that folder is gone at the next load.
    EXPECT_EQ(ParseCacheIndex(b.bytes).folders.size(), 1u);
}

TEST(CacheIndexTest, LongStringsAreCutTo1023Bytes) {
    CacheIndexContents index;
    index.folders.push_back(
        {std::string(2000, 'F'), "L", {{std::string(1500, 'N'), 1, 2, 3, EntryState::kValid}}});
    CacheIndexContents back = ParseCacheIndex(SerializeCacheIndex(index));
    ASSERT_EQ(back.folders.size(), 1u);
    EXPECT_EQ(back.folders[0].folder_path, std::string(1023, 'F'));
    EXPECT_EQ(back.folders[0].entries[0].name, std::string(1023, 'N'));
}

TEST(CacheIndexTest, SaveReplacesTheIndexThroughTheTemporaryFile) {
    ScopedTempDir dir;
    fs::path index_path = CacheIndexPath(dir / "ImgCache");
    EXPECT_EQ(index_path.filename(), "ImgCache.pvi");
    EXPECT_EQ(CacheTemporaryIndexPath(index_path).filename(), "ImgCache.pvi.pvt");
    EXPECT_TRUE(LoadCacheIndex(index_path).folders.empty());  // missing: an empty cache

    CacheIndexContents index = ParseCacheIndex(SampleIndex(1));
    ASSERT_TRUE(SaveCacheIndex(index_path, index));
    EXPECT_FALSE(fs::exists(CacheTemporaryIndexPath(index_path)));
    std::string saved = ReadFileBytes(index_path);
    Bytes expected = SampleIndex(2, 0);  // rewritten as version 2 with the flag 0
    EXPECT_EQ(Bytes(saved.begin(), saved.end()), expected);
    EXPECT_EQ(LoadCacheIndex(index_path).entry_total, 3);
}

TEST(CacheIndexTest, FailedSaveLeavesThePreviousIndex) {
    // A temporary path that is a folder stops the save, for root as for anyone.
    ScopedTempDir dir;
    fs::path index_path = dir / "ImgCache.pvi";
    WriteFileBytes(index_path, "previous");
    fs::create_directories(CacheTemporaryIndexPath(index_path) / "blocker");
    EXPECT_FALSE(SaveCacheIndex(index_path, ParseCacheIndex(SampleIndex(2))));
    EXPECT_EQ(ReadFileBytes(index_path), "previous");
}

// ---- data records ----

std::array<uint8_t, kThumbnailBlockBytes> Block(uint8_t seed) {
    std::array<uint8_t, kThumbnailBlockBytes> block{};
    for (size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<uint8_t>(i / 128 < 96 ? 20 + (i * seed + i / 128) % 216 : 235);
    }
    return block;
}

TEST(CacheRecordTest, DynamicDataFileGrowsOneSlotAtATimeAndRecordsCarryTheirSeqId) {
    ScopedTempDir dir;
    fs::path base = dir / "ImgCache";
    fs::path data = CacheDataPath(base);
    ASSERT_TRUE(EnsureDynamicDataFile(base));
    EXPECT_EQ(fs::file_size(data), 655840u);
    ASSERT_TRUE(EnsureDynamicDataFile(base));  // an existing file is left alone
    EXPECT_EQ(fs::file_size(data), 655840u);

    auto block = Block(3);
    ASSERT_TRUE(WriteCacheRecord(data, false, 0, 77, block, 128, 96));
    std::string bytes = ReadFileBytes(data);
    EXPECT_EQ(bytes.substr(0, 12), std::string("\x4d\0\0\0\x80\0\0\0\x60\0\0\0", 12));
    EXPECT_EQ(bytes.substr(12, kThumbnailBlockBytes), std::string(block.begin(), block.end()));

    ASSERT_TRUE(LengthenDataFileForEntries(data, 40));
    EXPECT_EQ(fs::file_size(data), 672236u);  // slot 40 exists only now
    ASSERT_TRUE(WriteCacheRecord(data, false, 40, 9, block, 100, 128));
    EXPECT_EQ(fs::file_size(data), 672236u);
    ASSERT_TRUE(LengthenDataFileForEntries(data, 10));  // never shortens
    EXPECT_EQ(fs::file_size(data), 672236u);

    CacheThumbnail thumbnail;
    int32_t seq_id = 9;
    ASSERT_TRUE(ReadCacheRecord(data, false, 40, seq_id, thumbnail));
    EXPECT_EQ(thumbnail.width, 100);
    EXPECT_EQ(thumbnail.height, 128);
    EXPECT_EQ(thumbnail.pixels, block);
    // Another SeqId: the stored one is handed back.
    seq_id = 5;
    EXPECT_FALSE(ReadCacheRecord(data, false, 0, seq_id, thumbnail));
    EXPECT_EQ(seq_id, 77);
    // Writes never create the data file.
    EXPECT_FALSE(WriteCacheRecord(dir / "none.pvd", false, 0, 1, block, 1, 1));
    EXPECT_FALSE(fs::exists(dir / "none.pvd"));
    EXPECT_FALSE(ReadCacheRecord(dir / "none.pvd", false, 0, seq_id, thumbnail));
}

TEST(CacheRecordTest, CompressedRecordsAppendAndReadBack) {
    ScopedTempDir dir;
    fs::path base = dir / "Static";
    ASSERT_TRUE(CreateEmptyDataFile(base));
    fs::path data = CacheDataPath(base);
    auto first = Block(5);
    auto second = Block(11);
    EXPECT_EQ(AppendCompressedRecord(data, 100, first, 128, 128), 0);
    auto length_after_first = static_cast<int32_t>(fs::file_size(data));
    EXPECT_EQ(AppendCompressedRecord(data, 200, second, 64, 48), length_after_first);
    // The stream right after the head starts with binary literals and a 4096 dictionary.
    std::string bytes = ReadFileBytes(data);
    EXPECT_EQ(bytes.substr(12, 2), std::string("\x00\x06", 2));

    CacheThumbnail thumbnail;
    int32_t seq_id = 200;
    ASSERT_TRUE(ReadCacheRecord(data, true, length_after_first, seq_id, thumbnail));
    EXPECT_EQ(thumbnail.pixels, second);
    EXPECT_EQ(thumbnail.width, 64);
    seq_id = 100;
    ASSERT_TRUE(ReadCacheRecord(data, true, 0, seq_id, thumbnail));
    EXPECT_EQ(thumbnail.pixels, first);

    ASSERT_TRUE(CreateEmptyDataFile(base));  // empties an existing file
    EXPECT_EQ(fs::file_size(data), 0u);
}

TEST(CacheRecordTest, DamagedCompressedRecordsFail) {
    ScopedTempDir dir;
    fs::path data = dir / "bad.pvd";
    // Writes a record of SeqId 1 holding `stream` and reads it back.
    auto reads = [&](const Bytes& stream, uint8_t width = 10) {
        Bytes record = {1, 0, 0, 0, width, 0, 0, 0, 10, 0, 0, 0};
        record.insert(record.end(), stream.begin(), stream.end());
        WriteFileBytes(data, std::string(record.begin(), record.end()));
        CacheThumbnail thumbnail;
        int32_t seq_id = 1;
        return ReadCacheRecord(data, true, 0, seq_id, thumbnail);
    };
    Bytes good;
    ASSERT_EQ(implode::CompressBytes(Block(2), good), 0);
    EXPECT_TRUE(reads(good));
    EXPECT_FALSE(reads(Bytes(good.begin(), good.begin() + 100)));  // cut before its end code
    Bytes bad_header = good;
    bad_header[1] = 7;
    EXPECT_FALSE(reads(bad_header));
    EXPECT_FALSE(reads(good, 200));  // wider than a thumbnail
    // A stream that expands past 16,384 bytes.
    Bytes too_long;
    ASSERT_EQ(implode::CompressBytes(Bytes(kThumbnailBlockBytes + 1, 7), too_long), 0);
    EXPECT_FALSE(reads(too_long));
    // Negative Index and a record past the end of the file.
    CacheThumbnail thumbnail;
    int32_t seq_id = 1;
    EXPECT_FALSE(ReadCacheRecord(data, true, -5, seq_id, thumbnail));
    EXPECT_FALSE(ReadCacheRecord(data, false, 3, seq_id, thumbnail));
}

}  // namespace
}  // namespace scopa::test

// The bounds-checked byte reader every parser of bytes from disk goes through: field values
// in both byte orders, the last byte of a range, sticky failure, sub-ranges, offsets that
// would overflow, and texts.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/byte_reader.h"

namespace scopa {
namespace {

const std::vector<uint8_t> kBytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x88};

TEST(ByteReaderTest, ReadsFieldsInBothByteOrders) {
    struct Case {
        bool big_endian;
        uint16_t u16;
        uint32_t u32;
        uint64_t u64;
        int16_t i16_at_6;
    };
    const Case cases[] = {
        {false, 0x0201, 0x04030201, 0x8807060504030201, int16_t(0x8807)},
        {true, 0x0102, 0x01020304, 0x0102030405060788, int16_t(0x0788)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.big_endian ? "big-endian" : "little-endian");
        EXPECT_EQ(ByteReader(kBytes, c.big_endian).U16(), c.u16);
        EXPECT_EQ(ByteReader(kBytes, c.big_endian).U32(), c.u32);
        EXPECT_EQ(ByteReader(kBytes, c.big_endian).U64(), c.u64);
        ByteReader reader(kBytes, c.big_endian);
        EXPECT_EQ(reader.I16At(6), c.i16_at_6);
        EXPECT_EQ(reader.U32At(0), c.u32);
        EXPECT_EQ(reader.Offset(), 0u);  // absolute reads leave the offset alone
        EXPECT_EQ(reader.U8(), 0x01);
        EXPECT_EQ(reader.I8(), 0x02);
        reader.Skip(5);
        EXPECT_EQ(reader.I8(), int8_t(0x88));
        EXPECT_TRUE(reader.Ok());
        EXPECT_EQ(reader.Remaining(), 0u);
    }
}

TEST(ByteReaderTest, ReadsEndingAtTheLastByteSucceedAndOnePastFails) {
    struct Case {
        const char* name;
        bool (*read)(ByteReader&);
        bool ok;
    };
    const Case cases[] = {
        {"U8At last", [](ByteReader& r) { return r.U8At(7) == 0x88; }, true},
        {"U8At end", [](ByteReader& r) { return r.U8At(8) == 0; }, false},
        {"U32At last four", [](ByteReader& r) { return r.U32At(4) == 0x88070605; }, true},
        {"U32At one over", [](ByteReader& r) { return r.U32At(5) == 0; }, false},
        {"U64 whole", [](ByteReader& r) { return r.U64() != 0; }, true},
        {"Bytes whole", [](ByteReader& r) { return r.Bytes(8).size() == 8; }, true},
        {"Bytes one over", [](ByteReader& r) { return r.Bytes(9).empty(); }, false},
        {"Seek to end", [](ByteReader& r) { return (r.Seek(8), r.Remaining() == 0); }, true},
        {"Seek past end", [](ByteReader& r) { return (r.Seek(9), r.Remaining() == 0); }, false},
        {"Skip then U32", [](ByteReader& r) { return (r.Skip(5), r.U32() == 0); }, false},
        {"Sub at end", [](ByteReader& r) { return r.Sub(8, 0).Ok(); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ByteReader reader(kBytes);
        EXPECT_TRUE(c.read(reader));
        EXPECT_EQ(reader.Ok(), c.ok);
    }
}

TEST(ByteReaderTest, FailureIsStickyAndYieldsZeros) {
    ByteReader reader(kBytes);
    reader.Skip(6);
    EXPECT_EQ(reader.U32(), 0u);
    EXPECT_FALSE(reader.Ok());
    EXPECT_EQ(reader.Offset(), 6u);  // a failed read does not move
    // Reads that would fit now fail too, and every value is empty.
    EXPECT_EQ(reader.U8(), 0);
    EXPECT_EQ(reader.U8At(0), 0);
    EXPECT_TRUE(reader.Bytes(1).empty());
    EXPECT_EQ(reader.Array<2>(), (std::array<uint8_t, 2>{}));
    EXPECT_EQ(reader.Remaining(), 0u);
    EXPECT_FALSE(reader.Sub(0, 1).Ok());
    reader.Seek(0);
    EXPECT_FALSE(reader.Ok());

    ByteReader rejected(kBytes);
    rejected.Fail();
    EXPECT_EQ(rejected.U16(), 0);
    EXPECT_FALSE(rejected.Ok());
}

TEST(ByteReaderTest, SubReadersAreBoundedByTheirRange) {
    ByteReader reader(kBytes, true);
    ByteReader sub = reader.Sub(2, 4);
    EXPECT_EQ(sub.Size(), 4u);
    EXPECT_EQ(sub.U16(), 0x0304);  // keeps the byte order, counts from its own start
    EXPECT_EQ(sub.U16At(2), 0x0506);
    EXPECT_EQ(sub.U8At(4), 0);  // byte 6 of the whole lies outside the range
    EXPECT_FALSE(sub.Ok());
    EXPECT_TRUE(reader.Ok());  // the sub-reader's failure stays its own

    ByteReader taken = reader.Take(3);
    EXPECT_EQ(reader.Offset(), 3u);
    EXPECT_EQ(taken.Bytes(3).size(), 3u);
    EXPECT_FALSE(reader.Take(6).Ok());  // five bytes are left
    EXPECT_FALSE(reader.Ok());
    EXPECT_EQ(reader.Offset(), 3u);
}

TEST(ByteReaderTest, OffsetsAndLengthsNearSizeMaxFailWithoutWrapping) {
    struct Case {
        const char* name;
        void (*read)(ByteReader&);
    };
    const Case cases[] = {
        {"Seek", [](ByteReader& r) { r.Seek(SIZE_MAX); }},
        {"Skip", [](ByteReader& r) { r.Skip(SIZE_MAX); }},
        {"Bytes", [](ByteReader& r) { r.Bytes(SIZE_MAX); }},
        {"U32At", [](ByteReader& r) { r.U32At(SIZE_MAX - 1); }},
        {"U8At", [](ByteReader& r) { r.U8At(SIZE_MAX); }},
        {"Sub offset", [](ByteReader& r) { r.Sub(SIZE_MAX, 2); }},
        {"Sub length", [](ByteReader& r) { r.Sub(2, SIZE_MAX - 1); }},
        {"Take", [](ByteReader& r) { r.Take(SIZE_MAX); }},
        {"Utf16", [](ByteReader& r) { r.Utf16(SIZE_MAX / 2 + 1); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ByteReader reader(kBytes);
        reader.Skip(1);  // an offset that a wrapping sum would carry back into range
        c.read(reader);
        EXPECT_FALSE(reader.Ok());
        EXPECT_EQ(reader.Offset(), 1u);
    }
}

TEST(ByteReaderTest, ReadsTextsAndMatchesFixedFields) {
    const std::vector<uint8_t> bytes = {'a', 'b', 0, 'c', 0, 'C', 0, 0, 0, 'x'};
    ByteReader reader(bytes);
    EXPECT_EQ(reader.CString(), "ab");
    EXPECT_EQ(reader.Utf16CString(), u"cC");
    EXPECT_EQ(reader.Offset(), 9u);
    EXPECT_EQ(reader.CString(), "");  // "x" has no NUL after it
    EXPECT_FALSE(reader.Ok());

    ByteReader wide(std::span<const uint8_t>(bytes).subspan(3), true);
    EXPECT_EQ(wide.Utf16(2), u"\u6300\u4300");
    EXPECT_EQ(wide.Utf16CString(), u"");
    EXPECT_TRUE(wide.Ok());
    EXPECT_EQ(wide.Utf16CString(), u"");  // one byte left: no whole unit
    EXPECT_FALSE(wide.Ok());

    ByteReader fields(bytes);
    EXPECT_FALSE(fields.Match("aX"));  // a mismatch is an answer, not a failure
    EXPECT_TRUE(fields.Ok());
    EXPECT_TRUE(fields.Match(std::string_view("\0c\0", 3)));
    EXPECT_EQ(fields.Array<3>(), (std::array<uint8_t, 3>{'C', 0, 0}));
    EXPECT_FALSE(fields.Match("xyz"));
    EXPECT_FALSE(fields.Ok());
}

}  // namespace
}  // namespace scopa

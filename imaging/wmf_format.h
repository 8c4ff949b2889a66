// Windows metafile (WMF) layout shared by the player and the filter.
//
// Format notes: an optional 22-byte placeable header (key 0x9AC6CDD7, handle, bounding box
// left top right bottom as signed words, units per inch, reserved, checksum: the XOR of the 10
// words before it), then an 18-byte header (type 1 or 2, header words 9, version, size in
// words, object count, largest record in words, 0), then records: size in words (32 bits,
// counting the 6-byte record head), function number (16 bits), parameters as 16-bit words,
// mostly in reverse order of the drawing call's arguments. Colours are 0x00BBGGRR.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/byte_reader.h"

namespace scopa::wmf {

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr size_t kPlaceableBytes = 22;
constexpr size_t kHeaderBytes = 18;
constexpr uint16_t kMaxObjects = 4096;
constexpr uint32_t kSrcCopy = 0x00CC0020;

enum Function : uint16_t {
    kEof = 0x0000,
    kSaveDc = 0x001E,
    kSetBkMode = 0x0102,
    kSetMapMode = 0x0103,
    kSetPolyFillMode = 0x0106,
    kRestoreDc = 0x0127,
    kSelectObject = 0x012D,
    kSetTextAlign = 0x012E,
    kDibCreatePatternBrush = 0x0142,
    kCreatePatternBrush = 0x01F9,
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

// Where the records start and what the headers say.
struct WmfLayout {
    bool placeable = false;
    int16_t left = 0, top = 0, right = 0, bottom = 0;
    uint16_t units_per_inch = 0;
    size_t records_offset = 0;
    uint16_t objects = 0;
};

// Reads the optional placeable header and the standard header; false when they are not a
// metafile's (or declare more objects than kMaxObjects).
bool ParseLayout(std::span<const uint8_t> file, WmfLayout& layout);

// One record: its function and its parameter words.
struct Record {
    uint16_t function = 0;
    std::span<const uint8_t> params;
    // The parameter word at `index`, 0 past the end.
    int16_t Word(size_t index) const { return ByteReader(params).I16At(2 * index); }
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

}  // namespace scopa::wmf

#include "imaging/codecs.h"

#include <cstring>

#include "platform/byte_reader.h"

namespace scopa {

std::vector<std::unique_ptr<oFILTER>> MakeAllFilters() {
    std::vector<std::unique_ptr<oFILTER>> filters;
    filters.push_back(MakeBmpFilter());
    filters.push_back(MakeJpegFilter("JPG"));
    filters.push_back(MakePngFilter());
    filters.push_back(MakeGifFilter());
    filters.push_back(MakeTiffFilter("TIF"));
    filters.push_back(MakeWebpFilter());
    filters.push_back(MakePcxFilter());
    filters.push_back(MakePnmFilter("PPM"));
    filters.push_back(MakeIcoFilter());
    filters.push_back(MakeWmfFilter());
    filters.push_back(MakeSvgFilter());
    filters.push_back(MakeEpsFilter());
    // Other spellings of the same formats, so that files named that way are found by
    // extension; they read but do not offer themselves for export.
    filters.push_back(MakeJpegFilter("JPEG"));
    filters.push_back(MakeJpegFilter("JPE"));
    filters.push_back(MakeTiffFilter("TIFF"));
    filters.push_back(MakePnmFilter("PGM"));
    filters.push_back(MakePnmFilter("PBM"));
    filters.push_back(MakePnmFilter("PNM"));
    // Last: the format has no signature, so every other filter is asked first.
    filters.push_back(MakeTgaFilter());
    return filters;
}

std::string CutText(const vSTREAM& in, int64_t row, int64_t rows) {
    return "cut at byte " + std::to_string(in.Size()) + " in row " + std::to_string(row + 1) +
           " of " + std::to_string(rows);
}

oDIB ApplyOrientation(const oDIB& stored, int orientation) {
    if (orientation < 2 || orientation > 8 || stored.BitCount() != 24) return stored;
    int32_t w = stored.Width(), h = stored.Height();
    bool swap = OrientationSwapsSides(orientation);
    oDIB upright;
    if (!upright.Create(swap ? h : w, swap ? w : h, 24)) return stored;
    upright.m_xPelsPerMeter = swap ? stored.m_yPelsPerMeter : stored.m_xPelsPerMeter;
    upright.m_yPelsPerMeter = swap ? stored.m_xPelsPerMeter : stored.m_yPelsPerMeter;
    for (int32_t oy = 0; oy < upright.Height(); ++oy) {
        uint8_t* out = upright.Row(oy);
        for (int32_t ox = 0; ox < upright.Width(); ++ox, out += 3) {
            int32_t sx = ox, sy = oy;
            switch (orientation) {
                case 2:
                    sx = w - 1 - ox;
                    break;
                case 3:
                    sx = w - 1 - ox;
                    sy = h - 1 - oy;
                    break;
                case 4:
                    sy = h - 1 - oy;
                    break;
                case 5:
                    sx = oy;
                    sy = ox;
                    break;
                case 6:
                    sx = oy;
                    sy = h - 1 - ox;
                    break;
                case 7:
                    sx = w - 1 - oy;
                    sy = h - 1 - ox;
                    break;
                default:
                    sx = w - 1 - oy;
                    sy = ox;
                    break;  // 8
            }
            std::memcpy(out, stored.Row(sy) + 3 * size_t(sx), 3);
        }
    }
    return upright;
}

// Format notes: APP1 holds "Exif\0\0" and a TIFF structure: byte order "II" or "MM", 42, the
// offset of the first directory; each directory entry is tag, type, count, value (12 bytes).
// Orientation is tag 0x0112, a SHORT held in the value field.
int ExifOrientation(std::span<const uint8_t> app1) {
    ByteReader exif(app1);
    if (app1.size() < 14 || !exif.Match(std::string_view("Exif\0\0", 6))) return 1;
    ByteReader reader = exif.Take(exif.Remaining());
    uint16_t order = reader.U16();
    if (order != 0x4949 && order != 0x4D4D) return 1;
    reader.SetBigEndian(order == 0x4D4D);
    if (reader.U16() != 42) return 1;
    reader.Seek(reader.U32());
    uint16_t entries = reader.U16();
    for (uint16_t i = 0; i < entries && reader.Ok(); ++i) {
        uint16_t tag = reader.U16();
        uint16_t type = reader.U16();
        reader.U32();
        uint16_t value = reader.U16();
        reader.U16();
        if (tag == 0x0112 && type == 3) return reader.Ok() && value >= 1 && value <= 8 ? value : 1;
    }
    return 1;
}

const oDIB& As24(const oDIB& dib, oDIB& storage) {
    if (dib.BitCount() == 24) return dib;
    storage = dib.ConvertTo24();
    return storage;
}

}  // namespace scopa

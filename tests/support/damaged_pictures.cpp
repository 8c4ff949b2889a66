#include "support/damaged_pictures.h"

#include <cstdint>
#include <random>

#include "imaging/dib.h"
#include "imaging/filter.h"
#include "imaging/stream.h"

namespace scopa::test {
namespace {

uint32_t Get(const std::string& bytes, size_t at, int count, bool big_endian) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) {
        uint8_t byte = uint8_t(bytes.at(at + size_t(big_endian ? i : count - 1 - i)));
        value = value << 8 | byte;
    }
    return value;
}

void PutLe32(std::string& bytes, size_t at, uint32_t value) {
    for (size_t i = 0; i < 4; ++i)
        bytes.at(at + i) = char(value >> (8 * i));
}

}  // namespace

std::string EncodedNoise(const char* id) {
    oDIB dib;
    if (!dib.Create(96, 64, 24)) return {};
    std::mt19937 generator(7);
    for (uint8_t& byte : dib.Bits())
        byte = uint8_t(generator());
    oFILTER* filter = oFILTERLIST::FindByID(id);
    vMEMSTREAM stream;
    if (filter == nullptr || filter->Convert(dib, stream) != kFilterDone) return {};
    std::vector<uint8_t> data = stream.TakeData();
    return {data.begin(), data.end()};
}

// Chunks: 4-byte big-endian length, 4-byte type, data, CRC.
std::string PngCutInIdat() {
    std::string png = EncodedNoise("PNG");
    size_t type = png.find("IDAT");
    if (type == std::string::npos || type < 4) return {};
    return png.substr(0, type + 4 + Get(png, type - 4, 4, true) / 2);
}

// The scan header is 0xFF 0xDA and a big-endian length; the entropy-coded data runs from its
// end to the end-of-image marker.
std::string JpegCutInEntropyData() {
    std::string jpeg = EncodedNoise("JPG");
    size_t scan = jpeg.find("\xFF\xDA");
    size_t end = jpeg.rfind("\xFF\xD9");
    if (scan == std::string::npos || end == std::string::npos) return {};
    size_t data = scan + 2 + Get(jpeg, scan + 2, 2, true);
    return jpeg.substr(0, data + (end - data) / 2);
}

// A directory entry is tag, type, count and a value (or the offset of the values) of 4 bytes;
// StripOffsets is tag 273.
std::string TiffWithStripBeyondTheEnd() {
    std::string tiff = EncodedNoise("TIF");
    if (tiff.size() < 8 || tiff.compare(0, 2, "II") != 0) return {};
    size_t directory = Get(tiff, 4, 4, false);
    uint32_t entries = Get(tiff, directory, 2, false);
    for (uint32_t i = 0; i < entries; ++i) {
        size_t entry = directory + 2 + 12 * size_t(i);
        if (Get(tiff, entry, 2, false) != 273 || Get(tiff, entry + 2, 2, false) != 4) continue;
        size_t first =
            Get(tiff, entry + 4, 4, false) == 1 ? entry + 8 : Get(tiff, entry + 8, 4, false);
        PutLe32(tiff, first, uint32_t(tiff.size() + 1000));
        return tiff;
    }
    return {};
}

}  // namespace scopa::test

#include "imaging/wmf_format.h"

namespace scopa::wmf {

bool ParseLayout(std::span<const uint8_t> file, WmfLayout& layout) {
    ByteReader reader(file);
    if (file.size() >= kPlaceableBytes && reader.U32() == kPlaceableKey) {
        layout.placeable = true;
        reader.U16();
        layout.left = reader.I16();
        layout.top = reader.I16();
        layout.right = reader.I16();
        layout.bottom = reader.I16();
        layout.units_per_inch = reader.U16();
        reader.Skip(6);
    } else {
        reader.Seek(0);
    }
    size_t header_at = reader.Offset();
    uint16_t type = reader.U16();
    uint16_t header_words = reader.U16();
    reader.Skip(2 + 4);
    layout.objects = reader.U16();
    reader.Skip(4 + 2);
    if (!reader.Ok() || (type != 1 && type != 2) || header_words != kHeaderBytes / 2 ||
        layout.objects > kMaxObjects) {
        return false;
    }
    layout.records_offset = header_at + kHeaderBytes;
    return true;
}

}  // namespace scopa::wmf

// RGBA PNG through libpng's classic interface, which (unlike the simplified one) hands over the
// text chunks. libpng's longjmp is confined to the Guarded* functions, whose locals are
// trivially destructible.
#include "imaging/rgba_png.h"

#include <png.h>

#include <csetjmp>
#include <cstring>
#include <fstream>

#include "imaging/png_chunk_limit.h"
#include "platform/byte_reader.h"

namespace scopa {
namespace {

// Text chunks of a thumbnail are a few short keys; anything larger is refused unread.
constexpr png_alloc_size_t kMaxChunkBytes = 1u << 20;
constexpr int kMaxTextChunks = 64;

void OnError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void OnWarning(png_structp png, png_const_charp message) {
    if (IsOverlongChunkWarning(png, message)) png_longjmp(png, 1);
}

struct MemoryReader {
    const uint8_t* data;
    size_t size;
    size_t position;
};

void ReadFromMemory(png_structp png, png_bytep out, size_t length) {
    auto* reader = static_cast<MemoryReader*>(png_get_io_ptr(png));
    if (length > reader->size - reader->position) png_error(png, "truncated");
    std::memcpy(out, reader->data + reader->position, length);
    reader->position += length;
}

void WriteToVector(png_structp png, png_bytep data, size_t length) {
    static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png))
        ->insert(static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png))->end(), data,
                 data + length);
}
void FlushNothing(png_structp) {}

// Reads the header into `info` with 8-bit RGBA transformations set; fills width and height.
bool GuardedReadHead(png_structp png, png_infop info, MemoryReader* reader, int32_t max_side_px,
                     png_uint_32* width, png_uint_32* height) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_read_fn(png, reader, ReadFromMemory);
    png_set_user_limits(png, png_uint_32(max_side_px), png_uint_32(max_side_px));
    png_set_chunk_malloc_max(png, kMaxChunkBytes);
    png_read_info(png, info);
    int bit_depth = 0, colour_type = 0;
    png_get_IHDR(png, info, width, height, &bit_depth, &colour_type, nullptr, nullptr, nullptr);
    png_set_expand(png);
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    return png_get_rowbytes(png, info) == size_t(*width) * 4;
}

bool GuardedReadRows(png_structp png, png_infop info, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_image(png, rows);
    png_read_end(png, info);
    return true;
}

void CollectTexts(png_structp png, png_infop info, PngTexts* texts) {
    png_textp chunks = nullptr;
    int count = png_get_text(png, info, &chunks, nullptr);
    for (int i = 0; i < count && i < kMaxTextChunks; ++i) {
        if (chunks[i].key == nullptr) continue;
        size_t length = chunks[i].text_length != 0 ? chunks[i].text_length : chunks[i].itxt_length;
        std::string text = chunks[i].text != nullptr ? std::string(chunks[i].text, length) : "";
        texts->emplace_back(chunks[i].key, std::move(text));
    }
}

bool GuardedEncode(png_structp png, png_infop info, const RgbaImage& image,
                   std::vector<png_text>& chunks, png_bytepp rows, std::vector<uint8_t>* out) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_write_fn(png, out, WriteToVector, FlushNothing);
    png_set_IHDR(png, info, png_uint_32(image.width_px), png_uint_32(image.height_px), 8,
                 PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!chunks.empty()) png_set_text(png, info, chunks.data(), int(chunks.size()));
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, info);
    return true;
}

// Format notes: after the 8-byte signature, chunks of a 4-byte big-endian length, a 4-byte
// type, the data and a 4-byte CRC. libpng allocates a text chunk's whole stated length before
// reading it, so every stated length is checked against the bytes really there (and
// ancillary ones against kMaxChunkBytes) before libpng sees the file.
bool ChunkLengthsFit(std::span<const uint8_t> bytes) {
    constexpr size_t kChunkOverheadBytes = 12;
    size_t position = 8;
    while (position + kChunkOverheadBytes <= bytes.size()) {
        ByteReader chunk(bytes.subspan(position), true);
        size_t length = chunk.U32();
        bool critical = (chunk.U8At(4) & 0x20) == 0;
        if (length > bytes.size() - position - kChunkOverheadBytes ||
            (!critical && length > kMaxChunkBytes)) {
            return false;
        }
        if (chunk.Match("IEND")) return true;
        position += kChunkOverheadBytes + length;
    }
    return false;
}

std::vector<png_bytep> RowPointers(uint8_t* pixels, int32_t width_px, int32_t height_px) {
    std::vector<png_bytep> rows(static_cast<size_t>(height_px));
    for (int32_t y = 0; y < height_px; ++y)
        rows[size_t(y)] = pixels + size_t(y) * size_t(width_px) * 4;
    return rows;
}

}  // namespace

bool EncodeRgbaPng(const RgbaImage& image, const PngTexts& texts, std::vector<uint8_t>* out) {
    if (image.IsEmpty() || image.width_px > kMaxRgbaPngSidePx ||
        image.height_px > kMaxRgbaPngSidePx ||
        image.pixels.size() != size_t(image.width_px) * size_t(image.height_px) * 4) {
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    std::vector<png_text> chunks(texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        chunks[i].compression = PNG_TEXT_COMPRESSION_NONE;
        chunks[i].key = const_cast<char*>(texts[i].first.c_str());
        chunks[i].text = const_cast<char*>(texts[i].second.c_str());
        chunks[i].text_length = texts[i].second.size();
    }
    // libpng only reads the rows it is given.
    std::vector<png_bytep> rows =
        RowPointers(const_cast<uint8_t*>(image.pixels.data()), image.width_px, image.height_px);
    out->clear();
    bool done = info != nullptr && GuardedEncode(png, info, image, chunks, rows.data(), out);
    png_destroy_write_struct(&png, &info);
    return done;
}

bool DecodeRgbaPng(std::span<const uint8_t> bytes, int32_t max_side_px, RgbaImage* image,
                   PngTexts* texts) {
    if (bytes.size() < 8 || png_sig_cmp(bytes.data(), 0, 8) != 0 || max_side_px < 1 ||
        !ChunkLengthsFit(bytes)) {
        return false;
    }
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    MemoryReader reader{bytes.data(), bytes.size(), 0};
    png_uint_32 width = 0, height = 0;
    bool done = info != nullptr &&
                GuardedReadHead(png, info, &reader, std::min(max_side_px, kMaxRgbaPngSidePx),
                                &width, &height);
    RgbaImage decoded;
    if (done) {
        decoded.width_px = int32_t(width);
        decoded.height_px = int32_t(height);
        decoded.pixels.resize(size_t(width) * size_t(height) * 4);
        std::vector<png_bytep> rows =
            RowPointers(decoded.pixels.data(), decoded.width_px, decoded.height_px);
        done = GuardedReadRows(png, info, rows.data());
    }
    if (done && texts != nullptr) {
        texts->clear();
        CollectTexts(png, info, texts);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    if (done) *image = std::move(decoded);
    return done;
}

bool ReadRgbaPngFile(const std::string& path, int32_t max_side_px, RgbaImage* image,
                     PngTexts* texts) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    std::vector<uint8_t> bytes;
    char buffer[65536];
    while (file.read(buffer, sizeof(buffer)) || file.gcount() > 0) {
        bytes.insert(bytes.end(), buffer, buffer + file.gcount());
        if (bytes.size() > kMaxRgbaPngFileBytes) return false;
    }
    return DecodeRgbaPng(bytes, max_side_px, image, texts);
}

RgbaImage RgbaFromDib(const oDIB& dib, vSIZE part) {
    RgbaImage image;
    oDIB source = dib.BitCount() == 24 ? dib : dib.ConvertTo24();
    if (source.IsEmpty() || part.cx < 1 || part.cy < 1) return image;
    image.width_px = std::min(part.cx, source.Width());
    image.height_px = std::min(part.cy, source.Height());
    image.pixels.resize(size_t(image.width_px) * size_t(image.height_px) * 4);
    uint8_t* out = image.pixels.data();
    for (int32_t y = 0; y < image.height_px; ++y) {
        const uint8_t* row = source.Row(y);
        for (int32_t x = 0; x < image.width_px; ++x, row += 3) {
            *out++ = row[2];
            *out++ = row[1];
            *out++ = row[0];
            *out++ = 0xFF;
        }
    }
    return image;
}

oDIB DibFromRgba(const RgbaImage& image) {
    oDIB dib;
    if (image.IsEmpty() || image.pixels.size() < size_t(image.width_px) * image.height_px * 4 ||
        !dib.Create(image.width_px, image.height_px, 24)) {
        return oDIB();
    }
    const uint8_t* in = image.pixels.data();
    for (int32_t y = 0; y < image.height_px; ++y) {
        uint8_t* row = dib.Row(y);
        for (int32_t x = 0; x < image.width_px; ++x, in += 4) {
            // Over white: c * a + 255 * (255 - a), rounded.
            unsigned alpha = in[3];
            for (int c = 0; c < 3; ++c) {
                unsigned blended = in[c] * alpha + 255 * (255 - alpha);
                row[3 * x + (2 - c)] = uint8_t((blended + 127) / 255);
            }
        }
    }
    return dib;
}

const std::string* FindPngText(const PngTexts& texts, std::string_view keyword) {
    for (const auto& [key, text] : texts) {
        if (key == keyword) return &text;
    }
    return nullptr;
}

}  // namespace scopa

// The maker's documents: recognising desktop-publishing, scrap, art (and design snippet) and
// styled-text documents by content, and reading the preview picture stored inside them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/compound_file.h"

namespace scopa {

class PlainFile;  // a file read as a stream of bytes; private

// A document to read: a file on disk, or bytes in memory (not copied; they must outlive
// every reader made from the source).
class DocumentSource {
public:
    static DocumentSource File(std::string path);
    static DocumentSource Bytes(const void* data, size_t size);

    StorageFileAnswer IsStorageFile() const;
    std::unique_ptr<OleStorage> OpenStorage(uint32_t mode) const;
    std::unique_ptr<PlainFile> OpenPlain() const;
    // Bytes read from the source by every storage and plain reader closed so far.
    uint64_t BytesRead() const { return *m_bytesRead; }
    void CountBytesRead(uint64_t bytes) const { *m_bytesRead += bytes; }

private:
    std::string m_path;
    const uint8_t* m_data = nullptr;
    size_t m_size = 0;
    bool m_inMemory = false;
    std::shared_ptr<uint64_t> m_bytesRead = std::make_shared<uint64_t>(0);
};

// Opens a document as a compound file with a "Contents" stream or as a plain file holding
// the same bytes, and reads big-endian values from it.
class CContentsReader {
public:
    CContentsReader();
    ~CContentsReader();
    CContentsReader(const CContentsReader&) = delete;
    CContentsReader& operator=(const CContentsReader&) = delete;

    bool Open(const DocumentSource& source);
    void Close();

    bool ReadBe32(uint32_t* value);
    bool ReadBe16(uint16_t* value);
    bool ReadBytes(void* buffer, size_t size);
    // Moves from the current position; false when that would go before the start.
    bool Skip(int64_t bytes);
    // A big-endian 16-bit length taken as signed, then that many bytes.
    bool SkipBlock();
    // Bytes from the position to the end (0 past the end).
    uint64_t BytesLeft() const;
    // The root storage; null for a plain file.
    const OleStorage* GetStorage() const { return m_storage.get(); }

private:
    const DocumentSource* m_source = nullptr;
    std::unique_ptr<OleStorage> m_storage;
    std::unique_ptr<OleStream> m_stream;
    std::unique_ptr<PlainFile> m_plain;
};

// ---- document tests: each answers true or false, never throws ----

// A "Contents" that starts with "DTPI", and, when `keyword_filter` is not empty, summary
// information whose keywords the filter accepts (a plain file then fails).
bool IsDTPContent(const DocumentSource& source, std::string_view keyword_filter);
bool IsScrapContent(const DocumentSource& source);
// Art documents and design snippets share one test.
bool IsArtContent(const DocumentSource& source);
inline bool IsSnippetContent(const DocumentSource& source) {
    return IsArtContent(source);
}
bool IsFlourishContent(const DocumentSource& source);

// The keyword filter: tokens between commas, trimmed; accepts when any token is a
// case-sensitive substring of `keywords` (an empty token always is) or the filter is empty.
bool KeywordFilterAccepts(std::string_view keyword_filter, std::string_view keywords);

// ---- previews ----

// How a preview's colour table is read.
enum class DibColourUsage {
    kRgbColours,      // table entries are colours, 0x00RRGGBB
    kPaletteIndices,  // table entries are indices into the shared screen palette
};

// A preview as the document stores it, cut to the size of the bitmap to make.
struct DocumentPreview {
    int width_px = 0;  // of the bitmap: the stored width (bit 15 cleared), art at most 128
    int height_px = 0;
    int bits_per_pixel = 0;
    DibColourUsage colour_usage = DibColourUsage::kRgbColours;
    std::vector<uint32_t> colour_table;  // 2, 16 or 256 entries for 1, 4, 8 bits; else empty
    // width_px x height_px, rows top-down: a colour-table index for 1, 4 and 8 bits per
    // pixel, otherwise the colour as 0x00RRGGBB.
    std::vector<uint32_t> pixels;
};

// Bounds against hostile documents, applied before allocating.
inline constexpr size_t kMaxPreviewDibBytes = size_t(64) << 20;
inline constexpr uint64_t kMaxPreviewPixels = uint64_t(16) << 20;
// Art previews are drawn at most this size, from their top-left corner.
inline constexpr int kArtPreviewMaxSidePx = 128;

// The four readers; false ("no preview") leaves `preview` unchanged.
bool MakeDTPPreview(const DocumentSource& source, DocumentPreview* preview);
bool MakeScrapPreview(const DocumentSource& source, DocumentPreview* preview);
bool MakeArtPreview(const DocumentSource& source, DocumentPreview* preview);
bool MakeFlourishPreview(const DocumentSource& source, DocumentPreview* preview);

// Decodes a packed DIB as a program's bitmap resource holds it: a BITMAPINFOHEADER (or a
// larger one), a colour table of biClrUsed entries (or as many as the bit count gives),
// rows bottom-up or, with a negative height, top-down. RGB colours; whole size.
bool DecodePackedDib(const std::vector<uint8_t>& dib, DocumentPreview* preview);

// One of the 20 reserved screen colours as 0x00RRGGBB: the first ten, then the last ten.
uint32_t StaticColourRgb(size_t index);

}  // namespace scopa

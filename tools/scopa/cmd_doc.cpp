// scopa doc FILE [--json] [-o out.png]: what kind of the maker's documents a file is, its
// summary-information keywords and its stored preview.
#include <png.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "command.h"
#include "docs/document_previews.h"
#include "docs/pilot_programs.h"
#include "docs/property_set.h"
#include "platform/text.h"

namespace scopa::tool {
namespace {

// The applications whose pilots are recognised, by the tag their version resource carries.
constexpr const char* kPilotTags[] = {"QLMK", "TSLN"};
constexpr const char* kCommandName = "doc";

struct DocumentReport {
    std::string kind = "none";
    std::string keywords;
    bool has_preview = false;
    DocumentPreview preview;
};

DocumentReport Examine(const std::string& path) {
    DocumentReport report;
    DocumentSource source = DocumentSource::File(path);
    bool (*reader)(const DocumentSource&, DocumentPreview*) = nullptr;
    if (IsDTPContent(source, "")) {
        report.kind = "dtp";
        reader = MakeDTPPreview;
    } else if (IsScrapContent(source)) {
        report.kind = "scrap";
        reader = MakeScrapPreview;
    } else if (IsArtContent(source)) {
        report.kind = EndsWithNoCase(path, ".DSP") ? "snippet" : "art";
        reader = MakeArtPreview;
    } else if (IsFlourishContent(source)) {
        report.kind = "styledtext";
        reader = MakeFlourishPreview;
    }
    if (reader != nullptr) {
        report.has_preview = reader(source, &report.preview);
    } else {
        for (const char* tag : kPilotTags) {
            if (IsPilot(path, tag, "", {})) {
                report.kind = "pilot";
                report.has_preview = MakePilotPreview(path, &report.preview);
                break;
            }
        }
    }
    if (source.IsStorageFile() == StorageFileAnswer::kStorage) {
        std::unique_ptr<OleStorage> storage = source.OpenStorage(kStgmPriority | kStgmRead);
        CSummaryInfo summary;
        if (summary.ReadFromStorage(storage.get())) report.keywords = summary.GetKeywords();
    }
    return report;
}

// The shared screen palette as far as this tool knows it: the reserved colours at both ends
// and the 6 x 6 x 6 colour cube at 20 + 36r + 6g + b. The imaging layer owns the real one.
std::array<uint32_t, 256> ScreenPalette() {
    std::array<uint32_t, 256> palette{};
    for (int i = 0; i < 10; ++i) {
        palette[size_t(i)] = kStaticColours[i];
        palette[size_t(246 + i)] = kStaticColours[10 + i];
    }
    for (uint32_t r = 0; r < 6; ++r) {
        for (uint32_t g = 0; g < 6; ++g) {
            for (uint32_t b = 0; b < 6; ++b) {
                palette[20 + 36 * r + 6 * g + b] = (51 * r) << 16 | (51 * g) << 8 | (51 * b);
            }
        }
    }
    return palette;
}

uint32_t PixelColour(const DocumentPreview& preview, uint32_t value,
                     const std::array<uint32_t, 256>& palette) {
    if (preview.bits_per_pixel > 8) return value;
    if (value >= preview.colour_table.size()) return 0;
    uint32_t entry = preview.colour_table[value];
    if (preview.colour_usage == DibColourUsage::kPaletteIndices) return palette[entry & 0xFF];
    return entry;
}

// libpng reports errors by longjmp; this frame holds only trivially destructible locals.
bool WritePngRows(std::FILE* file, int width, int height, const std::vector<uint8_t>& rgb) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) {
        png_write_row(png, const_cast<png_bytep>(rgb.data() + size_t(y) * size_t(width) * 3));
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

// Writes through a temporary file beside the target and a rename.
bool WritePng(const std::string& path, const DocumentPreview& preview, std::string* error) {
    const std::array<uint32_t, 256> palette = ScreenPalette();
    std::vector<uint8_t> rgb;
    rgb.reserve(preview.pixels.size() * 3);
    for (uint32_t value : preview.pixels) {
        uint32_t colour = PixelColour(preview, value, palette);
        rgb.push_back(uint8_t(colour >> 16));
        rgb.push_back(uint8_t(colour >> 8));
        rgb.push_back(uint8_t(colour));
    }
    const std::string temporary = path + ".tmp" + std::to_string(::getpid());
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    bool written = WritePngRows(file, preview.width_px, preview.height_px, rgb);
    written = (std::fclose(file) == 0) && written;
    if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

int RunDoc(const Arguments& arguments) {
    if (arguments.positional.size() != 1) {
        return Fail(kCommandName, "expects one FILE (see --help)", kExitUsage);
    }
    const std::string& path = arguments.positional[0];
    std::error_code code;
    if (!std::filesystem::is_regular_file(path, code) || ::access(path.c_str(), R_OK) != 0) {
        return Fail(kCommandName, "cannot read " + path);
    }
    DocumentReport report = Examine(path);
    const int width = report.has_preview ? report.preview.width_px : 0;
    const int height = report.has_preview ? report.preview.height_px : 0;
    if (std::optional<std::string> out = arguments.Value("-o")) {
        if (!report.has_preview) return Fail(kCommandName, path + " has no preview to write");
        std::string error;
        if (!WritePng(*out, report.preview, &error)) return Fail(kCommandName, error);
    }
    if (arguments.Has("--json")) {
        std::printf(
            "{\"kind\": %s, \"keywords\": %s, \"preview_width\": %d, "
            "\"preview_height\": %d}\n",
            JsonString(report.kind).c_str(), JsonString(report.keywords).c_str(), width, height);
    } else {
        std::printf("kind: %s\nkeywords: %s\n", report.kind.c_str(), report.keywords.c_str());
        if (report.has_preview) {
            std::printf("preview: %d x %d\n", width, height);
        } else {
            std::printf("preview: none\n");
        }
    }
    return kExitOk;
}

const RegisterCommand kRegistration({
    kCommandName,
    "doc FILE [--json] [-o out.png]",
    "show the kind, keywords and preview of a document or pilot program",
    "Recognises desktop-publishing, scrap, art, snippet and styled-text documents by\n"
    "their content and pilot programs by their resources, prints the kind (\"none\" for\n"
    "any other file), the summary-information keywords and the size of the stored\n"
    "preview, and writes the preview as a PNG file with -o.",
    {{"--json", false, "print one JSON object: kind, keywords, preview_width, preview_height"},
     {"-o", true, "write the preview to this PNG file"}},
    RunDoc,
});

}  // namespace
}  // namespace scopa::tool

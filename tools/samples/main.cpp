// Draws the sample collection that `scripts/run` shows: pictures of several formats and
// sizes, nested folders, hidden files, shortcuts (symbolic links and a ".lnk" file), an
// include file, a backdrop and the maker's documents of every kind, all made here so no data
// file is checked in.
//
// usage: scopa-make-samples OUTPUT_FOLDER
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "fixtures/document_writer.h"
#include "fixtures/shell_link_writer.h"
#include "imaging/dib.h"
#include "imaging/palette.h"
#include "imaging/picture.h"
#include "platform/volumes.h"

namespace {

namespace fs = std::filesystem;

struct Rgb {
    uint8_t r, g, b;
};

// A plain RGB canvas, rows top-down.
struct Canvas {
    int width;
    int height;
    std::vector<Rgb> pixels;

    Canvas(int w, int h) : width(w), height(h), pixels(size_t(w) * size_t(h)) {}
    Rgb& At(int x, int y) { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
};

uint8_t Clamp(double value) {
    return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : std::lround(value));
}

// A sky that goes from deep blue to orange, with a sun disc and dark hills.
Canvas DrawSunset(int width, int height) {
    Canvas canvas(width, height);
    double sun_x = width * 0.65, sun_y = height * 0.55, sun_radius = height * 0.12;
    for (int y = 0; y < height; ++y) {
        double t = double(y) / height;
        for (int x = 0; x < width; ++x) {
            double horizon = height * (0.70 + 0.06 * std::sin(9.0 * x / width));
            Rgb sky{Clamp(40 + 215 * t), Clamp(30 + 120 * t), Clamp(120 - 80 * t)};
            double dx = x - sun_x, dy = y - sun_y;
            if (dx * dx + dy * dy < sun_radius * sun_radius) sky = {255, 230, 120};
            canvas.At(x, y) = y > horizon ? Rgb{Clamp(20 + 30 * t), Clamp(50 + 40 * t), 30} : sky;
        }
    }
    return canvas;
}

// Concentric coloured rings.
Canvas DrawRings(int width, int height) {
    Canvas canvas(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            double d = std::hypot(x - width / 2.0, y - height / 2.0);
            canvas.At(x, y) = {Clamp(128 + 127 * std::sin(d / 6.0)),
                               Clamp(128 + 127 * std::sin(d / 9.0 + 2.0)),
                               Clamp(128 + 127 * std::sin(d / 13.0 + 4.0))};
        }
    }
    return canvas;
}

// A checkerboard of two colours with the given square size.
Canvas DrawChecker(int width, int height, int square, Rgb a, Rgb b) {
    Canvas canvas(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            canvas.At(x, y) = ((x / square + y / square) % 2 == 0) ? a : b;
        }
    }
    return canvas;
}

void PutLe16(std::string& out, uint32_t v) {
    out.push_back(char(v & 0xFF));
    out.push_back(char((v >> 8) & 0xFF));
}
void PutLe32(std::string& out, uint32_t v) {
    PutLe16(out, v & 0xFFFF);
    PutLe16(out, v >> 16);
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

// The 40-byte info header of a bottom-up DIB of `bit_count` bits with `colours_used` table
// entries.
void AppendInfoHeader(std::string& out, const Canvas& canvas, uint16_t bit_count,
                      uint32_t image_size, uint32_t colours_used) {
    PutLe32(out, 40);
    PutLe32(out, uint32_t(canvas.width));
    PutLe32(out, uint32_t(canvas.height));
    PutLe16(out, 1);
    PutLe16(out, bit_count);
    PutLe32(out, 0);
    PutLe32(out, image_size);
    PutLe32(out, 2835);
    PutLe32(out, 2835);
    PutLe32(out, colours_used);
    PutLe32(out, 0);
}

// The pixels as a packed DIB: 40-byte info header, 24-bit rows bottom-up.
std::string PackedDib24(const Canvas& canvas) {
    uint32_t stride = (uint32_t(canvas.width) * 3 + 3) & ~3u;
    std::string out;
    AppendInfoHeader(out, canvas, 24, stride * uint32_t(canvas.height), 0);
    for (int y = canvas.height - 1; y >= 0; --y) {
        size_t row_start = out.size();
        for (int x = 0; x < canvas.width; ++x) {
            const Rgb& p = canvas.pixels[size_t(y) * size_t(canvas.width) + size_t(x)];
            out.push_back(char(p.b));
            out.push_back(char(p.g));
            out.push_back(char(p.r));
        }
        out.resize(row_start + stride, '\0');
    }
    return out;
}

// A 24-bit bottom-up BMP file.
void WriteBmp(const fs::path& path, const Canvas& canvas) {
    // A BMP file is the 14-byte file header followed by a packed DIB.
    std::string dib = PackedDib24(canvas);
    std::string out = "BM";
    PutLe32(out, uint32_t(14 + dib.size()));
    PutLe32(out, 0);
    PutLe32(out, 14 + 40);
    WriteFile(path, out + dib);
}

// Binary PPM (P6), or PGM (P5) of the green channel when `grey`.
void WritePnm(const fs::path& path, const Canvas& canvas, bool grey) {
    std::string out = (grey ? "P5\n" : "P6\n") + std::to_string(canvas.width) + " " +
                      std::to_string(canvas.height) + "\n255\n";
    for (const Rgb& p : canvas.pixels) {
        if (grey) {
            out.push_back(char(p.g));
        } else {
            out.push_back(char(p.r));
            out.push_back(char(p.g));
            out.push_back(char(p.b));
        }
    }
    WriteFile(path, out);
}

// Any format our imaging library writes ("PNG", "JPG", "GIF", "TIF", "WEBP"), through it.
void WritePictureFile(const fs::path& path, const Canvas& canvas, const char* format_id) {
    scopa::oDIB dib;
    if (!dib.Create(canvas.width, canvas.height, 24)) throw std::runtime_error("no memory");
    for (int y = 0; y < canvas.height; ++y) {
        uint8_t* row = dib.Row(y);
        for (int x = 0; x < canvas.width; ++x) {
            const Rgb& p = canvas.pixels[size_t(y) * size_t(canvas.width) + size_t(x)];
            row[3 * x] = p.b;
            row[3 * x + 1] = p.g;
            row[3 * x + 2] = p.r;
        }
    }
    dib.m_xPelsPerMeter = dib.m_yPelsPerMeter = 2835;
    fs::create_directories(path.parent_path());
    if (scopa::WritePicture(path.string(), format_id, &dib, nullptr) != 0) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

// The pixels as an 8-bit packed DIB in the colours of the screen palette's cube, with a
// colour table of 256 RGBQUAD entries (the palette itself) or of 256 two-byte palette indices.
std::string PackedDib8(const Canvas& canvas, bool palette_index_table) {
    uint32_t stride = (uint32_t(canvas.width) + 3) & ~3u;
    std::string out;
    AppendInfoHeader(out, canvas, 8, stride * uint32_t(canvas.height), 256);
    for (int i = 0; i < 256; ++i) {
        if (palette_index_table) {
            PutLe16(out, uint32_t(i));
        } else {
            const scopa::RgbQuad& entry = scopa::ScreenPalette()[size_t(i)];
            out += {char(entry.blue), char(entry.green), char(entry.red), '\0'};
        }
    }
    for (int y = canvas.height - 1; y >= 0; --y) {
        size_t row_start = out.size();
        for (int x = 0; x < canvas.width; ++x) {
            const Rgb& p = canvas.pixels[size_t(y) * size_t(canvas.width) + size_t(x)];
            out.push_back(char(scopa::NearestCubeIndex({p.r, p.g, p.b})));
        }
        out.resize(row_start + stride, '\0');
    }
    return out;
}

// The maker's documents, each with its preview stored as a packed DIB: art documents (and
// design snippets) in their plain-file form; desktop-publishing, scrap and styled-text
// documents as compound files, the first with summary-information keywords.
void WriteDocuments(const fs::path& folder) {
    using namespace scopa::fixtures;
    WriteFile(folder / "Sunset drawing.art", ArtPlainFile(257, PackedDib24(DrawSunset(128, 80))));
    WriteFile(folder / "Notes.qor", "A custom file: listed by its extension alone.\n");
    WriteFile(folder / "Rings motif.dsp", ArtPlainFile(257, PackedDib24(DrawRings(64, 64))));
    WriteFile(folder / "Brochure.dtp",
              CompoundDocument(
                  DtpContents(210, PackedDib24(DrawSunset(120, 160))),
                  {{"\x05SummaryInformation", SummaryInformationStream("sunset, brochure")}}));
    WriteFile(folder / "Cut-out.srp",
              CompoundDocument(ScrapContents(PackedDib8(DrawRings(96, 96), true))));
    WriteFile(folder / "Letter.flx",
              CompoundDocument(FlourishContents(
                  210, "FLRT",
                  PackedDib8(DrawChecker(100, 140, 10, {255, 255, 255}, {204, 204, 255}), false))));
}

// `folder` as an include file's first line: '/' and the path below the mount point of the
// volume that holds it.
std::string VolumeRelativeLine(const fs::path& folder) {
    std::string text = fs::absolute(folder).lexically_normal().string();
    std::optional<scopa::Volume> volume = scopa::VolumeOfPath(text);
    if (volume && volume->mount_point != "/") text = text.substr(volume->mount_point.size());
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: scopa-make-samples OUTPUT_FOLDER\n");
        return 2;
    }
    try {
        fs::path root = argv[1];
        fs::create_directories(root);
        WriteBmp(root / "Landscapes" / "Sunset.bmp", DrawSunset(640, 400));
        WritePnm(root / "Landscapes" / "Evening hills.ppm", DrawSunset(300, 450), false);
        WriteBmp(root / "Patterns" / "Rings.bmp", DrawRings(256, 256));
        WritePnm(root / "Patterns" / "Checker.pgm",
                 DrawChecker(200, 120, 10, {255, 255, 255}, {0, 0, 0}), true);
        WriteBmp(root / "Patterns" / "Tiny" / "Dot.bmp", DrawChecker(1, 1, 1, {200, 0, 0}, {}));
        WriteBmp(root / "Patterns" / "Tiny" / "Strip.bmp",
                 DrawChecker(1000, 8, 4, {0, 120, 255}, {255, 200, 0}));
        WritePictureFile(root / "Landscapes" / "Wide sunset.png", DrawSunset(1200, 500), "PNG");
        WritePictureFile(root / "Landscapes" / "Dusk.jpg", DrawSunset(1600, 1200), "JPG");
        WritePictureFile(root / "Landscapes" / "Dawn.webp", DrawSunset(900, 600), "WEBP");
        WritePictureFile(root / "Patterns" / "Rings.gif", DrawRings(200, 200), "GIF");
        WritePictureFile(root / "Patterns" / "Rings.tif", DrawRings(300, 200), "TIF");
        WritePictureFile(root / "Patterns" / "Checker.png",
                         DrawChecker(120, 200, 20, {30, 90, 200}, {250, 250, 250}), "PNG");
        WriteFile(root / "Read me.txt",
                  "A sample collection drawn by scopa-make-samples for trying Scopa.\n");
        WriteFile(root / ".hidden note.txt", "Hidden files start with a dot.\n");
        WriteBmp(root / "Patterns" / ".Hidden rings.bmp", DrawRings(64, 64));
        WriteBmp(root / ".Thumbnails" / "Kept out.bmp", DrawChecker(16, 16, 4, {0, 0, 0}, {}));
        // A tile drawn behind the previews of its folder.
        WriteBmp(root / "Patterns" / "backdrop.imf",
                 DrawChecker(64, 64, 32, {236, 240, 246}, {246, 248, 252}));
        // Shortcuts: links to a picture and to a folder, a link whose target is gone, and a
        // ".lnk" file for a CD-ROM labelled SCOPA_PHOTOS (shown only when such a disk is in).
        fs::create_directories(root / "Shortcuts");
        fs::create_symlink("../Landscapes/Sunset.bmp", root / "Shortcuts" / "Sunset link.bmp");
        fs::create_directory_symlink("../Patterns", root / "Shortcuts" / "Patterns link");
        fs::create_symlink("../Landscapes/Gone.bmp", root / "Shortcuts" / "Dangling.bmp");
        scopa::fixtures::ShellLinkFixture link;
        link.local_base_path = "E:\\PHOTOS";
        link.volume_label = "SCOPA_PHOTOS";
        WriteFile(root / "Shortcuts" / "Holiday photos.lnk",
                  scopa::fixtures::MakeShellLinkBytes(link));
        // An include file: the Collection folder shows the landscapes as its own.
        WriteBmp(root / "Collection" / "Rings.bmp", DrawRings(96, 96));
        WriteFile(root / "Collection" / "HASH0001.INC",
                  VolumeRelativeLine(root / "Landscapes") + "\r\n");
        WriteDocuments(root / "Documents");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "scopa-make-samples: %s\n", error.what());
        return 1;
    }
    return 0;
}

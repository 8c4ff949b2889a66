// scopa thumb: makes the cache thumbnail of one picture, as a PNG of its covered part or as a
// raw cache record on standard output.
#include <cstdio>
#include <string>
#include <vector>

#include "command.h"
#include "imaging/dib.h"
#include "imaging/picture.h"
#include "imaging/thumbnail.h"

namespace scopa::tool {
namespace {

void PutLe32(std::vector<uint8_t>& out, int32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(uint32_t(value) >> (8 * i)));
}

int WriteRaw(const std::vector<uint8_t>& pixels, vSIZE covered) {
    // The head of a cache data record: SeqId (0 here), width, height.
    std::vector<uint8_t> record;
    PutLe32(record, 0);
    PutLe32(record, covered.cx);
    PutLe32(record, covered.cy);
    record.insert(record.end(), pixels.begin(), pixels.end());
    if (std::fwrite(record.data(), 1, record.size(), stdout) != record.size() ||
        std::fflush(stdout) != 0) {
        return Fail("thumb", "cannot write to standard output");
    }
    return kExitOk;
}

int WritePng(const std::vector<uint8_t>& pixels, vSIZE covered, const std::string& path) {
    oDIB thumbnail = ThumbnailToDib(pixels.data(), covered);
    if (thumbnail.IsEmpty()) return Fail("thumb", "the picture covers no pixels");
    if (WritePicture(path, "PNG", &thumbnail, nullptr) != kFilterDone) {
        return Fail("thumb", "cannot write " + path);
    }
    return kExitOk;
}

int RunThumb(const Arguments& arguments) {
    if (arguments.positional.size() != 1) {
        return Fail("thumb", "expects one picture file (see --help)", kExitUsage);
    }
    bool raw = arguments.Has("--raw");
    auto output = arguments.Value("-o");
    if (raw == output.has_value()) {
        return Fail("thumb", "give either -o FILE or --raw", kExitUsage);
    }
    const std::string& path = arguments.positional[0];
    std::vector<uint8_t> pixels(kThumbnailBytes);
    vSIZE covered;
    int result = RenderCachePreview(nullptr, path, pixels.data(), covered);
    if (result != kLoadRead) {
        const FilterFailure& why = LastPictureFailure();
        return Fail("thumb",
                    "cannot read the picture " + path + (why.IsSet() ? ": " + why.text : ""));
    }
    return raw ? WriteRaw(pixels, covered) : WritePng(pixels, covered, *output);
}

const RegisterCommand kThumb({
    "thumb",
    "thumb FILE (-o OUT.png | --raw)",
    "Make the 128 x 128 cache thumbnail of a picture",
    "The picture is read at a reduced size, drawn at 256 x 256 on white in the top-left\n"
    "corner and halved into screen-palette indices with error diffusion. -o writes the\n"
    "covered part as a PNG; --raw writes a cache data record to standard output: SeqId 0,\n"
    "covered width and height (32-bit little-endian each), then 16,384 index bytes.",
    {{"-o", true, "write the thumbnail as a PNG file"},
     {"--raw", false, "write the raw cache record to standard output"}},
    RunThumb,
});

}  // namespace
}  // namespace scopa::tool

// Fuzzes the reader of desktop thumbnails (RGBA PNG with text chunks); what it decodes must
// encode again and decode to the same pixels and texts.
#include <cstdlib>

#include "imaging/rgba_png.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    scopa::RgbaImage image;
    scopa::PngTexts texts;
    if (!scopa::DecodeRgbaPng({data, size}, 512, &image, &texts)) return 0;
    std::vector<uint8_t> encoded;
    scopa::PngTexts plain;
    for (const auto& [key, text] : texts) {
        // tEXt keys are 1 to 79 Latin-1 bytes without NUL; other chunks may carry any text.
        if (!key.empty() && key.size() < 80 && text.find('\0') == std::string::npos) {
            plain.emplace_back(key, text);
        }
    }
    if (!scopa::EncodeRgbaPng(image, plain, &encoded)) std::abort();
    scopa::RgbaImage again;
    scopa::PngTexts again_texts;
    if (!scopa::DecodeRgbaPng(encoded, 512, &again, &again_texts) || again.pixels != image.pixels ||
        again_texts.size() != plain.size()) {
        std::abort();
    }
    return 0;
}

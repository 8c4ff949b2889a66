// PBM, PGM and PPM (the portable bitmap family): plain (ASCII) and raw forms, maxval up to
// 65535, read row by row through the box reduction.
#include <cstring>
#include <string>

#include "imaging/codecs.h"
#include "imaging/row_reducer.h"

namespace scopa {
namespace {

// Format notes: "P1".."P6", then width, height and (except for bitmaps) maxval as decimal
// numbers separated by white space, with '#' comments to the end of a line; one white-space
// byte separates the header from raw data. Raw samples are 1 byte, or 2 big-endian bytes when
// maxval exceeds 255. In bitmaps 1 is black.
constexpr uint32_t kMaxSidePx = 1u << 20;
constexpr uint32_t kMaxValue = 65535;

bool IsSpace(int c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// The next decimal number of the header or plain data, skipping white space and comments;
// false when there is none or it exceeds `limit`.
bool ReadNumber(BufferedReader& reader, uint32_t limit, uint32_t& value, int& after) {
    int c = reader.Next();
    for (;;) {
        if (c == '#') {
            while (c >= 0 && c != '\n' && c != '\r')
                c = reader.Next();
        } else if (IsSpace(c)) {
            c = reader.Next();
        } else {
            break;
        }
    }
    if (c < '0' || c > '9') return false;
    uint64_t number = 0;
    while (c >= '0' && c <= '9') {
        number = number * 10 + uint64_t(c - '0');
        if (number > limit) return false;
        c = reader.Next();
    }
    value = uint32_t(number);
    after = c;
    return true;
}

struct PnmHead {
    int kind = 0;  // 1..6
    uint32_t width = 0, height = 0, maxval = 1;
};

// Reads and checks the header: null when it is sound, else what is wrong with it.
const char* ReadPnmHead(BufferedReader& reader, PnmHead& head) {
    if (reader.Next() != 'P') return "no P signature";
    int kind = reader.Next() - '0';
    if (kind < 1 || kind > 6) return "unknown kind after P";
    head.kind = kind;
    int after = 0;
    if (!ReadNumber(reader, kMaxSidePx, head.width, after) || !IsSpace(after) ||
        !ReadNumber(reader, kMaxSidePx, head.height, after)) {
        return "width or height missing or above 1048576";
    }
    if (head.width == 0 || head.height == 0) return "width or height 0";
    if (kind != 1 && kind != 4) {
        if (!IsSpace(after) || !ReadNumber(reader, kMaxValue, head.maxval, after)) {
            return "maximum value missing or above 65535";
        }
        if (head.maxval == 0) return "maximum value 0";
    }
    // Raw data starts after exactly one white-space byte, which `after` was.
    return IsSpace(after) ? nullptr : "no white space after the header";
}

class PnmFilter : public BitmapFilter {
public:
    PnmFilter(const char* id, const char* description) : BitmapFilter(id, description) {}
    bool CheckStream(std::span<const uint8_t> head) const override {
        return head.size() >= 3 && head[0] == 'P' && head[1] >= '1' && head[1] <= '6' &&
               (IsSpace(head[2]) || head[2] == '#');
    }
    oFILTER_STATUS Convert(vSTREAM& in, oDIB& out) override;

protected:
    bool ReadPictureSize(vSTREAM& in, vSIZE& size) override {
        BufferedReader reader(in);
        PnmHead head;
        if (ReadPnmHead(reader, head) != nullptr) return false;
        size = {int32_t(head.width), int32_t(head.height)};
        return true;
    }
    int MaxReductionFactor() const override { return 1 << 16; }

private:
    static bool ReadRow(BufferedReader& reader, const PnmHead& head, std::vector<uint8_t>& raw,
                        uint8_t* bgr);
};

bool PnmFilter::ReadRow(BufferedReader& reader, const PnmHead& head, std::vector<uint8_t>& raw,
                        uint8_t* bgr) {
    size_t width = head.width;
    int channels = head.kind == 3 || head.kind == 6 ? 3 : 1;
    auto scale = [&](uint32_t v) { return uint8_t(std::min(v, head.maxval) * 255 / head.maxval); };
    auto put = [&](size_t x, uint8_t r, uint8_t g, uint8_t b) {
        bgr[3 * x] = b;
        bgr[3 * x + 1] = g;
        bgr[3 * x + 2] = r;
    };
    if (head.kind == 4) {
        raw.resize((width + 7) / 8);
        if (!reader.Read(raw.data(), raw.size())) return false;
        for (size_t x = 0; x < width; ++x) {
            uint8_t v = (raw[x / 8] >> (7 - x % 8)) & 1 ? 0 : 255;
            put(x, v, v, v);
        }
        return true;
    }
    if (head.kind == 1) {
        for (size_t x = 0; x < width; ++x) {
            int c = reader.Next();
            while (IsSpace(c) || c == '#') {
                if (c == '#') {
                    while (c >= 0 && c != '\n')
                        c = reader.Next();
                }
                c = reader.Next();
            }
            if (c != '0' && c != '1') return false;
            uint8_t v = c == '1' ? 0 : 255;
            put(x, v, v, v);
        }
        return true;
    }
    uint32_t sample[3] = {};
    if (head.kind <= 3) {
        for (size_t x = 0; x < width; ++x) {
            int after = 0;
            for (int c = 0; c < channels; ++c) {
                if (!ReadNumber(reader, kMaxValue, sample[c], after)) return false;
            }
            if (channels == 1) sample[1] = sample[2] = sample[0];
            put(x, scale(sample[0]), scale(sample[1]), scale(sample[2]));
        }
        return true;
    }
    size_t bytes_per_sample = head.maxval > 255 ? 2 : 1;
    raw.resize(width * size_t(channels) * bytes_per_sample);
    if (!reader.Read(raw.data(), raw.size())) return false;
    for (size_t x = 0; x < width; ++x) {
        for (int c = 0; c < channels; ++c) {
            size_t at = (x * size_t(channels) + size_t(c)) * bytes_per_sample;
            sample[c] = bytes_per_sample == 2 ? uint32_t(raw[at]) << 8 | raw[at + 1] : raw[at];
        }
        if (channels == 1) sample[1] = sample[2] = sample[0];
        put(x, scale(sample[0]), scale(sample[1]), scale(sample[2]));
    }
    return true;
}

oFILTER_STATUS PnmFilter::Convert(vSTREAM& in, oDIB& out) {
    BufferedReader reader(in);
    PnmHead head;
    if (const char* fault = ReadPnmHead(reader, head)) return DataFault(fault);
    vSIZE size{int32_t(head.width), int32_t(head.height)};
    int factor = TakeReductionFactor(size);
    if (IsTooLargeToRead(size, factor)) return TooLargeFault(size);
    std::vector<uint8_t> raw;
    auto fill_row = [&](int32_t y, uint8_t* bgr) {
        if (ReadRow(reader, head, raw, bgr)) return kFilterDone;
        // Plain samples are text: a cut there looks like a missing number.
        if (head.kind <= 3) {
            return DataFault("sample missing or not a number in row " + std::to_string(y + 1));
        }
        return DataFault(CutText(in, y, size.cy));
    };
    return ReduceRows(size, factor, false, fill_row, out);
}

}  // namespace

std::unique_ptr<oFILTER> MakePnmFilter(const char* id) {
    const char* description = std::strcmp(id, "PBM") == 0   ? "Portable Bitmap"
                              : std::strcmp(id, "PGM") == 0 ? "Portable Graymap"
                              : std::strcmp(id, "PPM") == 0 ? "Portable Pixmap"
                                                            : "Portable Anymap";
    return std::make_unique<PnmFilter>(id, description);
}

}  // namespace scopa

#include "imaging/jpeg_dc_scan.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace scopa {
namespace {

// Format notes. Entropy-coded data is a bit stream, most significant bit first, in which a
// 0xFF byte is followed by a stuffed 0x00; 0xFF bytes may repeat as fill before a marker.
// Restart markers 0xD0-0xD7, numbered in turn, split it into intervals of `restart_interval`
// MCUs that each start on a byte with fresh DC predictions; any other marker ends the scan.
// A block is a DC code (a category s, then s bits of difference from the previous block of
// its component) and AC codes (a run r of zeros and a category s, then s bits) until an
// end-of-block code or the last coefficient; r = 15 with s = 0 is a run of sixteen zeros.

// Codes up to this many bits, with their extra bits, are decoded by one table lookup.
constexpr int kLookupBits = 12;
constexpr int kMaxCodeBits = 16;
constexpr int kBlockCoefficients = 64;
// What an AC code moves on by when it ends the block: past the last coefficient from anywhere.
constexpr uint8_t kEndOfBlock = kBlockCoefficients;
constexpr uint8_t kZeroRun = 16;
// The library refuses interleaved scans with more blocks in an MCU.
constexpr int kMaxBlocksInMcu = 10;
constexpr int kMaxSamplingFactor = 4;
// The library's multiplier tables hold quantisation values as 16-bit signed numbers.
constexpr unsigned kMaxQuantValue = 32767;

constexpr size_t kChunkBytes = 64 * 1024;
// The bit reader loads 8 bytes at a time and may read ahead by 8 more before it notices that a
// scan has run out; the data is followed by this many zero bytes.
constexpr size_t kReadAheadBytes = 8;
constexpr size_t kPaddingBytes = 2 * kReadAheadBytes;
// Scans with more entropy-coded data than this are left to the library, which streams them.
constexpr size_t kMaxScanBytes = size_t(64) << 20;
// Scan memory up to this size is kept for the next picture.
constexpr size_t kKeptScanBytes = size_t(16) << 20;

// Natural (row-major) position of each zigzag index. Runs that overshoot the block land on the
// last coefficient, as in the library, so the table goes on to the furthest an end-of-block
// code can reach.
constexpr std::array<uint8_t, 2 * kBlockCoefficients> kNaturalOrder = [] {
    std::array<uint8_t, 2 * kBlockCoefficients> order{};
    int index = 0;
    for (int sum = 0; sum < 15; ++sum) {
        // Anti-diagonals, walked up-right on even sums and down-left on odd ones.
        for (int step = 0; step <= sum; ++step) {
            int row = sum % 2 == 0 ? sum - step : step;
            int column = sum - row;
            if (row < 8 && column < 8) order[size_t(index++)] = uint8_t(row * 8 + column);
        }
    }
    for (size_t i = kBlockCoefficients; i < order.size(); ++i)
        order[i] = kBlockCoefficients - 1;
    return order;
}();

// The library's post-IDCT range limit: a sample is its value plus 128, clamped to 0-255 for
// values from -512 to 511 and wrapping beyond, indexed by the value's low ten bits.
constexpr int kRangeMask = 1023;
constexpr std::array<uint8_t, kRangeMask + 1> kRangeLimit = [] {
    std::array<uint8_t, kRangeMask + 1> table{};
    for (int i = 0; i <= kRangeMask; ++i) {
        table[size_t(i)] = uint8_t(i < 128 ? i + 128 : i < 512 ? 255 : i < 896 ? 0 : i - 896);
    }
    return table;
}();

int32_t Descale(int64_t value, int bits) {
    return int32_t((value + (int64_t(1) << (bits - 1))) >> bits);
}

uint8_t RangeLimit(int32_t value) {
    return kRangeLimit[size_t(value & kRangeMask)];
}

// The value of `bits` extra bits of category `category`: the upper half of the range as it is,
// the lower half standing for negative values.
int32_t Extend(uint32_t bits, int category) {
    if (category == 0) return 0;
    return bits < (1u << (category - 1)) ? int32_t(bits) - (1 << category) + 1 : int32_t(bits);
}

// One entry of the lookup on the next kLookupBits bits.
struct FastEntry {
    // The coefficient (or DC difference) when `length` is set. Otherwise, for a code that fits
    // the lookup but whose extra bits do not, its length | category << 8; 0 for longer codes.
    int16_t value = 0;
    // Bits of code and extra bits together; 0 when they do not fit the lookup.
    uint8_t length = 0;
    // AC: positions the code moves on by (the run plus one, kZeroRun or kEndOfBlock).
    uint8_t advance = 0;
};

// One entry of the lookup that steps over several AC codes at once: as many whole codes (with
// their extra bits) as the next kLookupBits bits hold, up to the block's end.
struct SkipEntry {
    uint8_t length = 0;       // bits of all the codes; 0 when not even one fits
    uint8_t advance = 0;      // positions they move on by together
    uint8_t before_last = 0;  // positions the codes before the last move on by
};

class HuffmanTable {
public:
    // False for a table the library refuses: more than 256 codes, codes that do not fit their
    // length (or are all ones), DC categories above 15.
    bool Build(const JHUFF_TBL& source, bool dc) {
        // Pictures from one camera or program share their tables: the last one built is kept.
        if (m_built && m_dc == dc &&
            std::memcmp(m_source.bits, source.bits, sizeof source.bits) == 0 &&
            std::memcmp(m_source.huffval, source.huffval, sizeof source.huffval) == 0) {
            return m_valid;
        }
        m_built = true;
        m_dc = dc;
        std::memcpy(m_source.bits, source.bits, sizeof source.bits);
        std::memcpy(m_source.huffval, source.huffval, sizeof source.huffval);
        m_valid = BuildFrom(source, dc);
        return m_valid;
    }

private:
    bool BuildFrom(const JHUFF_TBL& source, bool dc) {
        m_fast.fill({});
        int count = 0;
        for (int length = 1; length <= kMaxCodeBits; ++length)
            count += source.bits[length];
        if (count > int(m_symbols.size())) return false;
        std::memcpy(m_symbols.data(), source.huffval, size_t(count));
        int32_t code = 0;
        int index = 0;
        for (int length = 1; length <= kMaxCodeBits; ++length) {
            int codes = source.bits[length];
            if (code + codes >= (int32_t(1) << length)) return false;
            m_maxCode[size_t(length)] = codes > 0 ? code + codes - 1 : -1;
            m_symbolOffset[size_t(length)] = index - code;
            for (int i = 0; i < codes; ++i, ++code, ++index) {
                uint8_t symbol = m_symbols[size_t(index)];
                if (dc && symbol > 15) return false;
                if (length <= kLookupBits) Fill(code, length, symbol, dc);
            }
            code <<= 1;
        }
        if (!dc) FillSkips();
        return true;
    }

public:
    const FastEntry& Lookup(uint64_t bits) const { return m_fast[bits >> (64 - kLookupBits)]; }
    const SkipEntry& LookupSkip(uint64_t bits) const { return m_skip[bits >> (64 - kLookupBits)]; }

    // The symbol whose code starts `bits` and the code's length; -1 when no code does.
    int SlowSymbol(uint64_t bits, int& length) const {
        for (length = 1; length <= kMaxCodeBits; ++length) {
            auto code = int32_t(bits >> (64 - length));
            if (code <= m_maxCode[size_t(length)]) {
                auto index = size_t(code + m_symbolOffset[size_t(length)]);
                return index < m_symbols.size() ? m_symbols[index] : -1;
            }
        }
        return -1;
    }

private:
    void Fill(int32_t code, int length, uint8_t symbol, bool dc) {
        int category = dc ? symbol : symbol & 15;
        int run = dc ? 0 : symbol >> 4;
        int free_bits = kLookupBits - length;
        for (uint32_t tail = 0; tail < (1u << free_bits); ++tail) {
            FastEntry entry;
            if (!dc && category == 0) {
                // The library takes every category-0 code but the zero run as the block's end.
                entry = {0, uint8_t(length), run == 15 ? kZeroRun : kEndOfBlock};
            } else if (length + category <= kLookupBits) {
                uint32_t extra = (tail >> (free_bits - category)) & ((1u << category) - 1);
                entry = {int16_t(Extend(extra, category)), uint8_t(length + category),
                         uint8_t(run + 1)};
            } else {
                entry = {int16_t(length | category << 8), 0, uint8_t(run + 1)};
            }
            m_fast[size_t(code) << free_bits | tail] = entry;
        }
    }

    // Each pattern's codes, read one after the other through the single-code lookup.
    void FillSkips() {
        constexpr uint32_t kMask = (1u << kLookupBits) - 1;
        for (uint32_t pattern = 0; pattern <= kMask; ++pattern) {
            SkipEntry skip;
            int used = 0;
            while (skip.advance < kBlockCoefficients) {
                const FastEntry& entry = m_fast[(pattern << used) & kMask];
                if (entry.length == 0 || entry.length > kLookupBits - used) break;
                used += entry.length;
                skip = {uint8_t(used), uint8_t(skip.advance + entry.advance), skip.advance};
            }
            m_skip[pattern] = skip;
        }
    }

    std::array<FastEntry, size_t(1) << kLookupBits> m_fast{};
    std::array<SkipEntry, size_t(1) << kLookupBits> m_skip{};
    std::array<int32_t, kMaxCodeBits + 1> m_maxCode{};
    std::array<int32_t, kMaxCodeBits + 1> m_symbolOffset{};
    std::array<uint8_t, 256> m_symbols{};
    JHUFF_TBL m_source{};  // what the table was built from
    bool m_built = false;
    bool m_dc = false;
    bool m_valid = false;
};

uint64_t LoadBigEndian64(const uint8_t* bytes) {
    uint64_t value;
    std::memcpy(&value, bytes, sizeof value);
    return __builtin_bswap64(value);
}

// Reads bits most significant first from unstuffed data followed by kPaddingBytes zeros. The
// buffer holds `m_count` bits at its top, at least 32 after Refill.
class BitReader {
public:
    BitReader(const uint8_t* data, size_t size)
        : m_data(data), m_limit(data + size + kReadAheadBytes) {}

    void Start(size_t offset) {
        m_next = m_data + offset;
        m_bits = 0;
        m_count = 0;
        Refill();
    }
    void Refill() {
        m_bits |= LoadBigEndian64(m_next) >> m_count;
        m_next += (63 - m_count) >> 3;
        m_count |= 56;
        if (m_next > m_limit) {
            // Past the data and what may be read ahead of it: the scan has run out.
            m_next = m_limit;
            m_overran = true;
        }
    }
    void Need32() {
        if (m_count < 32) Refill();
    }
    uint64_t Bits() const { return m_bits; }
    void Consume(int count) {
        m_bits <<= count;
        m_count -= count;
    }
    // True while the bits consumed lie within the first `end_offset` bytes of the data.
    bool ConsumedWithin(size_t end_offset) const {
        return !m_overran &&
               uint64_t(m_next - m_data) * 8 - uint64_t(m_count) <= uint64_t(end_offset) * 8;
    }

private:
    const uint8_t* m_data;
    const uint8_t* m_limit;
    const uint8_t* m_next = nullptr;
    uint64_t m_bits = 0;
    int m_count = 0;
    bool m_overran = false;
};

// A code with its extra bits, as the slow path decodes it.
struct SlowCode {
    int length = 0;  // code and extra bits; 0 when no code of the table starts here
    int32_t value = 0;
    int advance = 0;
};

// Decodes the code at the top of `bits` (32 bits or more) that the lookup could not finish: a
// short code with many extra bits, or a long code. Kept out of line so that the bit reader of
// the loops calling it can live in registers.
[[gnu::noinline]] SlowCode SlowDecode(uint64_t bits, const HuffmanTable& table,
                                      const FastEntry& entry, bool dc) {
    int length = entry.value & 0xFF;
    int category = entry.value >> 8;
    int advance = entry.advance;
    if (entry.value == 0) {
        int symbol = table.SlowSymbol(bits, length);
        if (symbol < 0) return {};
        category = dc ? symbol : symbol & 15;
        int run = dc ? 0 : symbol >> 4;
        advance = dc || category != 0 ? run + 1 : run == 15 ? kZeroRun : kEndOfBlock;
    }
    uint32_t extra = category == 0 ? 0 : uint32_t((bits << length) >> (64 - category));
    return {length + category, Extend(extra, category), advance};
}

[[gnu::always_inline]] inline bool DecodeDc(BitReader& reader, const HuffmanTable& table,
                                            int32_t& difference) {
    reader.Need32();
    const FastEntry& entry = table.Lookup(reader.Bits());
    if (entry.length != 0) {
        reader.Consume(entry.length);
        difference = entry.value;
        return true;
    }
    SlowCode code = SlowDecode(reader.Bits(), table, entry, true);
    reader.Consume(code.length);
    difference = code.value;
    return code.length != 0;
}

// Walks past a block's AC codes, several at a time while they all start inside the block.
[[gnu::always_inline]] inline bool SkipAc(BitReader& reader, const HuffmanTable& table) {
    int k = 1;
    while (k < kBlockCoefficients) {
        reader.Need32();
        const SkipEntry& skip = table.LookupSkip(reader.Bits());
        if (skip.length != 0 && k + skip.before_last < kBlockCoefficients) {
            reader.Consume(skip.length);
            k += skip.advance;
            continue;
        }
        const FastEntry& entry = table.Lookup(reader.Bits());
        if (entry.length != 0) {
            reader.Consume(entry.length);
            k += entry.advance;
            continue;
        }
        SlowCode code = SlowDecode(reader.Bits(), table, entry, false);
        if (code.length == 0) return false;
        reader.Consume(code.length);
        k += code.advance;
    }
    return true;
}

// Decodes a block's AC coefficients into `block` (zeroed, natural order); `any` tells whether
// one is not zero.
[[gnu::always_inline]] inline bool DecodeAc(BitReader& reader, const HuffmanTable& table,
                                            int16_t* block, bool& any) {
    int32_t seen = 0;
    int k = 1;
    while (k < kBlockCoefficients) {
        reader.Need32();
        const FastEntry& entry = table.Lookup(reader.Bits());
        int32_t value = entry.value;
        int advance = entry.advance;
        if (entry.length != 0) {
            reader.Consume(entry.length);
        } else {
            SlowCode code = SlowDecode(reader.Bits(), table, entry, false);
            if (code.length == 0) return false;
            reader.Consume(code.length);
            value = code.value;
            advance = code.advance;
        }
        k += advance;
        // Zero runs and block ends store a zero where nothing was yet.
        block[kNaturalOrder[size_t(k - 1)]] = int16_t(value);
        seen |= value;
    }
    any = seen != 0;
    return true;
}

// The library's reduced inverse DCT to 2 x 2 pixels: each output is the average of a 4 x 4
// quarter of the block, which the DC and the odd rows and columns of coefficients give.
constexpr int kConstBits = 13;
constexpr int kPass1Bits = 2;
constexpr int64_t kFix0_720959822 = 5906;
constexpr int64_t kFix0_850430095 = 6967;
constexpr int64_t kFix1_272758580 = 10426;
constexpr int64_t kFix3_624509785 = 29692;

int64_t OddPart(int64_t c1, int64_t c3, int64_t c5, int64_t c7) {
    return c7 * -kFix0_720959822 + c5 * kFix0_850430095 + c3 * -kFix1_272758580 +
           c1 * kFix3_624509785;
}

void InverseDct2x2(const int16_t* block, const int16_t* quant, uint8_t* out, size_t stride) {
    int32_t work[2][8] = {};
    for (int column : {0, 1, 3, 5, 7}) {
        auto coefficient = [&](int row) {
            return int64_t(int32_t(block[row * 8 + column]) * quant[row * 8 + column]);
        };
        int64_t even = coefficient(0) << (kConstBits + 2);
        int64_t odd = OddPart(coefficient(1), coefficient(3), coefficient(5), coefficient(7));
        work[0][column] = Descale(even + odd, kConstBits - kPass1Bits + 2);
        work[1][column] = Descale(even - odd, kConstBits - kPass1Bits + 2);
    }
    for (int row = 0; row < 2; ++row) {
        const int32_t* w = work[row];
        int64_t even = int64_t(w[0]) << (kConstBits + 2);
        int64_t odd = OddPart(w[1], w[3], w[5], w[7]);
        constexpr int kBits = kConstBits + kPass1Bits + 3 + 2;
        out[size_t(row) * stride] = RangeLimit(Descale(even + odd, kBits));
        out[size_t(row) * stride + 1] = RangeLimit(Descale(even - odd, kBits));
    }
}

// The library's YCbCr to RGB tables, in 16-bit fixed point.
constexpr int kScaleBits = 16;
constexpr int32_t Fix(double x) {
    return int32_t(x * (1 << kScaleBits) + 0.5);
}
struct ColourTables {
    std::array<int32_t, 256> cr_red{};
    std::array<int32_t, 256> cb_blue{};
    std::array<int32_t, 256> cr_green{};
    std::array<int32_t, 256> cb_green{};  // with the rounding half
};
constexpr ColourTables kColour = [] {
    ColourTables tables;
    constexpr int32_t kHalf = 1 << (kScaleBits - 1);
    for (int i = 0; i < 256; ++i) {
        int32_t x = i - 128;
        tables.cr_red[size_t(i)] = (Fix(1.40200) * x + kHalf) >> kScaleBits;
        tables.cb_blue[size_t(i)] = (Fix(1.77200) * x + kHalf) >> kScaleBits;
        tables.cr_green[size_t(i)] = -Fix(0.71414) * x;
        tables.cb_green[size_t(i)] = -Fix(0.34414) * x + kHalf;
    }
    return tables;
}();

uint8_t Clamp(int32_t value) {
    return uint8_t(std::clamp(value, 0, 255));
}

void ConvertRow(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* bgr,
                int32_t width) {
    for (int32_t x = 0; x < width; ++x, bgr += 3) {
        int32_t luma = y[x];
        bgr[0] = Clamp(luma + kColour.cb_blue[cb[x]]);
        bgr[1] = Clamp(luma + ((kColour.cb_green[cb[x]] + kColour.cr_green[cr[x]]) >> kScaleBits));
        bgr[2] = Clamp(luma + kColour.cr_red[cr[x]]);
    }
}

// Entropy-coded data with its stuffing removed, split at restart markers.
struct ScanData {
    std::vector<uint8_t> bytes;
    std::vector<size_t> segment_starts;    // of each restart interval's data
    std::vector<uint8_t> segment_markers;  // the number of the marker before each segment
    std::vector<uint8_t> chunk;
};

// Appends the data of [next, end) to `scan`; true once the marker that ends the scan is met.
// `after_ff` carries a 0xFF at the end of one piece over to the next.
bool Unstuff(const uint8_t* next, const uint8_t* end, ScanData& scan, bool& after_ff) {
    while (next < end) {
        if (after_ff) {
            uint8_t byte = *next++;
            if (byte == 0xFF) continue;  // fill
            after_ff = false;
            if (byte == 0x00) {
                scan.bytes.push_back(0xFF);
            } else if (byte >= JPEG_RST0 && byte <= JPEG_RST0 + 7) {
                scan.segment_starts.push_back(scan.bytes.size());
                scan.segment_markers.push_back(uint8_t(byte - JPEG_RST0));
            } else {
                return true;
            }
            continue;
        }
        const auto* mark = static_cast<const uint8_t*>(std::memchr(next, 0xFF, size_t(end - next)));
        const uint8_t* stop = mark != nullptr ? mark : end;
        scan.bytes.insert(scan.bytes.end(), next, stop);
        if (mark == nullptr) break;
        next = mark + 1;
        after_ff = true;
    }
    return false;
}

// Gathers the scan's data up to its end marker or the end of the stream; false when it is
// larger than kMaxScanBytes.
bool GatherScan(std::span<const uint8_t> buffered, vSTREAM& rest, ScanData& scan) {
    scan.bytes.clear();
    scan.segment_starts.assign(1, 0);
    scan.segment_markers.assign(1, 0);
    bool after_ff = false;
    bool ended = Unstuff(buffered.data(), buffered.data() + buffered.size(), scan, after_ff);
    scan.chunk.resize(kChunkBytes);
    while (!ended && scan.bytes.size() <= kMaxScanBytes) {
        size_t count = rest.Read(scan.chunk.data(), kChunkBytes);
        if (count == 0) break;
        ended = Unstuff(scan.chunk.data(), scan.chunk.data() + count, scan, after_ff);
    }
    if (scan.bytes.size() > kMaxScanBytes) return false;
    scan.bytes.resize(scan.bytes.size() + kPaddingBytes, 0);
    return true;
}

// Per-thread memory reused from picture to picture.
struct ScanMemory {
    ScanData scan;
    std::array<HuffmanTable, 2 * kMaxDcScanComponents> tables;
    std::array<std::vector<uint8_t>, kMaxDcScanComponents> planes;
    std::array<std::vector<uint8_t>, kMaxDcScanComponents> widened;
};

ScanMemory& ThreadMemory() {
    thread_local ScanMemory memory;
    return memory;
}

// One component while its scan is decoded.
struct ComponentState {
    const HuffmanTable* dc = nullptr;
    const HuffmanTable* ac = nullptr;
    std::array<int16_t, kBlockCoefficients> quant{};
    uint32_t prediction = 0;  // wraps as the library's does on hostile data
    int h_samp = 1;
    int v_samp = 1;
    int block_px = 1;
    int widen_x = 1;  // output pixels per sample
    int widen_y = 1;
    uint8_t* plane = nullptr;  // this MCU row's samples
    size_t stride = 0;
};

// Decodes one block of `c` into its plane at block column `bx`, block row `by` of the MCU row.
[[gnu::always_inline]] inline bool DecodeBlock(BitReader& reader, ComponentState& c, int32_t bx,
                                               int by) {
    int32_t difference;
    if (!DecodeDc(reader, *c.dc, difference)) return false;
    c.prediction += uint32_t(difference);
    auto dc = int16_t(c.prediction);
    // A block without AC coefficients is flat: its DC over eight, at any output size.
    uint8_t flat = RangeLimit(Descale(int32_t(dc) * c.quant[0], 3));
    if (c.block_px == 1) {
        if (!SkipAc(reader, *c.ac)) return false;
        c.plane[size_t(by) * c.stride + size_t(bx)] = flat;
        return true;
    }
    std::array<int16_t, kBlockCoefficients> block{};
    block[0] = dc;
    bool any = false;
    if (!DecodeAc(reader, *c.ac, block.data(), any)) return false;
    uint8_t* out = c.plane + size_t(2 * by) * c.stride + size_t(2 * bx);
    if (any) {
        InverseDct2x2(block.data(), c.quant.data(), out, c.stride);
    } else {
        out[0] = out[1] = out[c.stride] = out[c.stride + 1] = flat;
    }
    return true;
}

// Repeats each sample `times` times across `wide` (simple upsampling).
void Widen(const uint8_t* samples, int times, std::vector<uint8_t>& wide) {
    uint8_t* out = wide.data();
    for (size_t x = 0; x < wide.size() / size_t(times); ++x) {
        for (int i = 0; i < times; ++i)
            *out++ = samples[x];
    }
}

// The tables of a scan, each built once however many components share it.
class ScanTables {
public:
    explicit ScanTables(ScanMemory& memory) : m_memory(memory) {}
    // Null when the table is one the library refuses.
    const HuffmanTable* For(const JHUFF_TBL* source, bool dc) {
        for (size_t i = 0; i < m_count; ++i) {
            if (m_sources[i] == source && m_dc[i] == dc) return &m_memory.tables[i];
        }
        if (m_count == m_memory.tables.size() || !m_memory.tables[m_count].Build(*source, dc)) {
            return nullptr;
        }
        m_sources[m_count] = source;
        m_dc[m_count] = dc;
        return &m_memory.tables[m_count++];
    }

private:
    ScanMemory& m_memory;
    std::array<const JHUFF_TBL*, 2 * kMaxDcScanComponents> m_sources{};
    std::array<bool, 2 * kMaxDcScanComponents> m_dc{};
    size_t m_count = 0;
};

// One block of an MCU: its component and where it lies in the MCU.
struct PlannedBlock {
    ComponentState* component;
    int bx;
    int by;
};

// Decodes a scan MCU row by MCU row and turns each into output rows.
class ScanDecoder {
public:
    ScanDecoder(const DcScanLayout& layout, ScanMemory& memory)
        : m_layout(layout), m_memory(memory), m_count(layout.component_count) {}

    // Builds the tables and buffers; false for a layout or table the library would refuse.
    bool SetUp() {
        if (m_count != 1 && m_count != kMaxDcScanComponents) return false;
        for (int c = 0; c < m_count; ++c) {
            m_maxH = std::max(m_maxH, m_layout.components[size_t(c)].h_samp);
            m_maxV = std::max(m_maxV, m_layout.components[size_t(c)].v_samp);
        }
        if (m_maxH > kMaxSamplingFactor || m_maxV > kMaxSamplingFactor) return false;
        const uint32_t mcu_px_x = uint32_t(m_maxH) * 8, mcu_px_y = uint32_t(m_maxV) * 8;
        m_mcusPerRow = int32_t((m_layout.width + mcu_px_x - 1) / mcu_px_x);
        m_mcuRows = int32_t((m_layout.height + mcu_px_y - 1) / mcu_px_y);
        m_outWidth = int32_t((m_layout.width + 7) / 8);
        m_outHeight = int32_t((m_layout.height + 7) / 8);
        ScanTables tables(m_memory);
        for (int c = 0; c < m_count; ++c) {
            if (!SetUpComponent(c, tables)) return false;
        }
        for (int i = 0; i < m_count; ++i) {
            ComponentState& state = m_states[size_t(m_layout.scan_order[size_t(i)])];
            for (int by = 0; by < state.v_samp; ++by) {
                for (int bx = 0; bx < state.h_samp; ++bx) {
                    if (m_planSize == m_plan.size()) return false;
                    m_plan[m_planSize++] = {&state, bx, by};
                }
            }
        }
        return true;
    }

    DcScanResult Decode(oDIB& out, DcScanRowCallback on_row, void* user) {
        const ScanData& scan = m_memory.scan;
        const size_t data_size = scan.bytes.size() - kPaddingBytes;
        if (!out.Create(m_outWidth, m_outHeight, 24)) return DcScanResult::kNotRead;
        BitReader reader(scan.bytes.data(), data_size);
        reader.Start(0);
        m_segment = 0;
        m_leftInInterval = m_layout.restart_interval;
        int32_t rows_done = 0;
        for (int32_t mcu_row = 0; mcu_row < m_mcuRows; ++mcu_row) {
            if (!DecodeMcuRow(reader) || !reader.ConsumedWithin(SegmentEnd(m_segment))) {
                return DcScanResult::kNotRead;
            }
            int32_t rows = std::min<int32_t>(m_maxV, m_outHeight - rows_done);
            for (int32_t r = 0; r < rows; ++r) {
                EmitRow(r, out.Row(rows_done++));
                if (!on_row(user, rows_done)) return DcScanResult::kInterrupted;
            }
        }
        return DcScanResult::kDone;
    }

private:
    bool SetUpComponent(int c, ScanTables& tables) {
        const DcScanComponent& component = m_layout.components[size_t(c)];
        int block_px = component.block_px;
        if ((block_px != 1 && block_px != 2) || component.h_samp < 1 || component.v_samp < 1 ||
            m_maxH % (component.h_samp * block_px) != 0 ||
            m_maxV % (component.v_samp * block_px) != 0) {
            return false;
        }
        ComponentState& state = m_states[size_t(c)];
        state.dc = tables.For(component.dc_table, true);
        state.ac = tables.For(component.ac_table, false);
        if (state.dc == nullptr || state.ac == nullptr) return false;
        for (int i = 0; i < kBlockCoefficients; ++i) {
            state.quant[size_t(i)] = int16_t(component.quant_table->quantval[i]);
        }
        state.h_samp = component.h_samp;
        state.v_samp = component.v_samp;
        state.block_px = component.block_px;
        state.widen_x = m_maxH / (component.h_samp * component.block_px);
        state.widen_y = m_maxV / (component.v_samp * component.block_px);
        state.stride = size_t(m_mcusPerRow) * size_t(component.h_samp * component.block_px);
        std::vector<uint8_t>& plane = m_memory.planes[size_t(c)];
        plane.resize(state.stride * size_t(component.v_samp * component.block_px));
        state.plane = plane.data();
        m_memory.widened[size_t(c)].resize(size_t(m_mcusPerRow) * size_t(m_maxH));
        return true;
    }

    size_t SegmentEnd(size_t segment) const {
        const ScanData& scan = m_memory.scan;
        return segment + 1 < scan.segment_starts.size() ? scan.segment_starts[segment + 1]
                                                        : scan.bytes.size() - kPaddingBytes;
    }

    // Moves to the next restart interval: the last one's data must be all there, and the next
    // begin with the next marker in turn.
    bool Restart(BitReader& reader) {
        const ScanData& scan = m_memory.scan;
        if (!reader.ConsumedWithin(SegmentEnd(m_segment))) return false;
        ++m_segment;
        if (m_segment >= scan.segment_starts.size() ||
            scan.segment_markers[m_segment] != (m_segment - 1) % 8) {
            return false;
        }
        reader.Start(scan.segment_starts[m_segment]);
        for (ComponentState& state : m_states)
            state.prediction = 0;
        m_leftInInterval = m_layout.restart_interval;
        return true;
    }

    bool DecodeMcuRow(BitReader& reader) {
        for (int32_t mcu = 0; mcu < m_mcusPerRow; ++mcu) {
            if (m_layout.restart_interval != 0) {
                if (m_leftInInterval == 0 && !Restart(reader)) return false;
                --m_leftInInterval;
            }
            for (size_t i = 0; i < m_planSize; ++i) {
                const PlannedBlock& block = m_plan[i];
                ComponentState& state = *block.component;
                if (!DecodeBlock(reader, state, mcu * state.h_samp + block.bx, block.by)) {
                    return false;
                }
            }
        }
        return true;
    }

    // Output row `r` of the MCU row just decoded, in colour.
    void EmitRow(int32_t r, uint8_t* bgr) {
        std::array<const uint8_t*, kMaxDcScanComponents> samples{};
        for (int c = 0; c < m_count; ++c) {
            const ComponentState& state = m_states[size_t(c)];
            const uint8_t* row = state.plane + size_t(r / state.widen_y) * state.stride;
            if (state.widen_x > 1) {
                Widen(row, state.widen_x, m_memory.widened[size_t(c)]);
                row = m_memory.widened[size_t(c)].data();
            }
            samples[size_t(c)] = row;
        }
        if (m_count == 1) {
            for (int32_t x = 0; x < m_outWidth; ++x, bgr += 3) {
                bgr[0] = bgr[1] = bgr[2] = samples[0][x];
            }
        } else {
            ConvertRow(samples[0], samples[1], samples[2], bgr, m_outWidth);
        }
    }

    const DcScanLayout& m_layout;
    ScanMemory& m_memory;
    int m_count;
    int m_maxH = 1;
    int m_maxV = 1;
    int32_t m_mcusPerRow = 0;
    int32_t m_mcuRows = 0;
    int32_t m_outWidth = 0;
    int32_t m_outHeight = 0;
    std::array<ComponentState, kMaxDcScanComponents> m_states;
    std::array<PlannedBlock, kMaxBlocksInMcu> m_plan{};
    size_t m_planSize = 0;
    size_t m_segment = 0;
    unsigned m_leftInInterval = 0;
};

}  // namespace

bool DescribeDcScan(j_decompress_ptr info, DcScanLayout& layout) {
    if (info->progressive_mode || info->arith_code || info->data_precision != 8) return false;
    bool grey = info->jpeg_color_space == JCS_GRAYSCALE && info->num_components == 1;
    bool ycc = info->jpeg_color_space == JCS_YCbCr && info->num_components == 3;
    if ((!grey && !ycc) || info->comps_in_scan != info->num_components) return false;
    if (info->Ss != 0 || info->Se != kBlockCoefficients - 1 || info->Ah != 0 || info->Al != 0) {
        return false;
    }
    if (info->image_width == 0 || info->image_height == 0) return false;
    info->scale_num = 1;
    info->scale_denom = 8;
    jpeg_calc_output_dimensions(info);
    layout = {};
    layout.width = info->image_width;
    layout.height = info->image_height;
    layout.component_count = info->num_components;
    layout.restart_interval = info->restart_interval;
    int blocks_in_mcu = 0;
    for (int c = 0; c < info->num_components; ++c) {
        const jpeg_component_info& source = info->comp_info[c];
        DcScanComponent& component = layout.components[size_t(c)];
        // A lone component is scanned block by block whatever its sampling factors.
        component.h_samp = grey ? 1 : source.h_samp_factor;
        component.v_samp = grey ? 1 : source.v_samp_factor;
        component.block_px = source.DCT_scaled_size;
        int max_h = grey ? 1 : info->max_h_samp_factor;
        int max_v = grey ? 1 : info->max_v_samp_factor;
        if (component.block_px != 1 && component.block_px != 2) return false;
        // Upsampling by fractions is refused by the library.
        if (max_h % (component.h_samp * component.block_px) != 0 ||
            max_v % (component.v_samp * component.block_px) != 0) {
            return false;
        }
        blocks_in_mcu += component.h_samp * component.v_samp;
        if (source.quant_tbl_no < 0 || source.quant_tbl_no >= NUM_QUANT_TBLS ||
            source.dc_tbl_no < 0 || source.dc_tbl_no >= NUM_HUFF_TBLS || source.ac_tbl_no < 0 ||
            source.ac_tbl_no >= NUM_HUFF_TBLS) {
            return false;
        }
        component.quant_table = info->quant_tbl_ptrs[source.quant_tbl_no];
        component.dc_table = info->dc_huff_tbl_ptrs[source.dc_tbl_no];
        component.ac_table = info->ac_huff_tbl_ptrs[source.ac_tbl_no];
        if (component.quant_table == nullptr || component.dc_table == nullptr ||
            component.ac_table == nullptr) {
            return false;
        }
        for (UINT16 value : component.quant_table->quantval) {
            if (value > kMaxQuantValue) return false;
        }
    }
    if (blocks_in_mcu > kMaxBlocksInMcu) return false;
    for (int i = 0; i < info->comps_in_scan; ++i) {
        ptrdiff_t index = info->cur_comp_info[i] - info->comp_info;
        if (index < 0 || index >= info->num_components) return false;
        layout.scan_order[size_t(i)] = int(index);
    }
    return true;
}

DcScanResult ReadDcScan(const DcScanLayout& layout, std::span<const uint8_t> buffered,
                        vSTREAM& rest, oDIB& out, DcScanRowCallback on_row, void* user) {
    ScanDecoder decoder(layout, ThreadMemory());
    if (!decoder.SetUp()) return DcScanResult::kNotRead;
    if (!GatherScan(buffered, rest, ThreadMemory().scan)) return DcScanResult::kNotRead;
    return decoder.Decode(out, on_row, user);
}

void TrimDcScanMemory() {
    ScanData& scan = ThreadMemory().scan;
    if (scan.bytes.capacity() > kKeptScanBytes) {
        std::vector<uint8_t>().swap(scan.bytes);
    }
}

}  // namespace scopa

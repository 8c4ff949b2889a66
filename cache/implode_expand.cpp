// The implode expander: table-driven decoding into a sliding output window, all state in the
// caller's work area.
//
// Format notes:
// - Byte 0 is the literal mode (0 plain bytes, 1 Huffman-coded), byte 1 the dictionary bits
//   (4, 5 or 6). Tokens follow, each led by one flag bit: 0 literal, 1 copy.
// - A copy is a length symbol with its extra bits, then the distance: a Huffman-coded high
//   part, then 2 plain low bits for length 2 or dictionary-bits low bits otherwise. The copy
//   reaches back (high << low_bits) + low + 1 bytes. Length 519 is the end code.
// - A copy may overlap its own output (distance below length): it repeats bytes.
#include <bit>
#include <cstring>
#include <new>
#include <string>

#include "cache/implode.h"
#include "cache/implode_codes.h"

namespace scopa::implode {
namespace {

using namespace detail;

constexpr unsigned kInputChunkBytes = 2048;
constexpr unsigned kMinFirstReadBytes = 5;
constexpr unsigned kHistoryBytes = 4096;  // the largest dictionary
constexpr unsigned kWindowBytes = 8192;   // history plus one piece of output
constexpr unsigned kCopySlackBytes = 8;   // wide copies may write this far past the end
constexpr unsigned kMaxTokenBits = 1 + 7 + 8 + 8 + 6;  // flag, length code+extra, distance

constexpr auto kLengthTable = DecodeTable<kMaxLengthCodeBits>(kLengthCodeBits);
constexpr auto kDistanceTable = DecodeTable<kMaxDistanceCodeBits>(kDistanceCodeBits);
constexpr auto kLiteralTable = DecodeTable<kMaxLiteralCodeBits>(kLiteralCodeBits);

struct ExpandState {
    ReadFunction read;
    WriteFunction write;
    void* context;

    // Bit input: `bits` holds `bit_count` unread stream bits, the next one lowest; bits above
    // them are zero.
    uint64_t bits;
    unsigned bit_count;
    unsigned input_pos;
    unsigned input_end;
    bool input_done;
    uint64_t input_total;  // bytes the read callback supplied

    // Output window: unwritten output starts at kHistoryBytes; bytes before `history_start`
    // were never produced.
    unsigned output_pos;
    unsigned history_start;
    uint64_t output_total;  // bytes given to the write callback

    unsigned char input[kInputChunkBytes + 8];
    unsigned char window[kWindowBytes + kMaxCodedCopy + kCopySlackBytes];
};
static_assert(sizeof(ExpandState) <= kExpandWorkBytes);
static_assert(alignof(ExpandState) <= alignof(ExpandWorkArea));

inline uint64_t Load64(const unsigned char* from) {
    uint64_t value;
    std::memcpy(&value, from, sizeof value);
    return value;  // little-endian hosts only; see the static_assert below
}
static_assert(std::endian::native == std::endian::little);

// Tops up the bit buffer to at least 57 bits unless the input has ended.
void Refill(ExpandState& s) {
    if (s.input_end - s.input_pos >= 8) {
        s.bits |= Load64(s.input + s.input_pos) << s.bit_count;
        s.input_pos += (63 - s.bit_count) >> 3;
        s.bit_count |= 56;
        return;
    }
    while (s.bit_count <= 56) {
        if (s.input_pos == s.input_end) {
            if (s.input_done) return;
            unsigned request = kInputChunkBytes;
            unsigned got = s.read(s.input, &request, s.context);
            if (got == 0 || got > kInputChunkBytes) {
                s.input_done = true;
                return;
            }
            s.input_pos = 0;
            s.input_end = got;
            s.input_total += got;
            if (got >= 8) {
                Refill(s);
                return;
            }
        }
        s.bits |= uint64_t{s.input[s.input_pos++]} << s.bit_count;
        s.bit_count += 8;
    }
}

void WriteOut(ExpandState& s, unsigned char* from, unsigned count) {
    if (count == 0) return;
    unsigned size = count;
    s.write(from, &size, s.context);
    s.output_total += count;
}

// Hands the upper half of a full window to the caller and slides the rest down.
void SlideWindow(ExpandState& s) {
    WriteOut(s, s.window + kHistoryBytes, kWindowBytes - kHistoryBytes);
    std::memmove(s.window, s.window + kHistoryBytes, s.output_pos - kHistoryBytes);
    s.output_pos -= kHistoryBytes;
    s.history_start = 0;
}

// Copies `length` bytes from `distance` back; overlapping copies repeat bytes, as the format
// requires. Works in 8-byte pieces and may write up to 7 bytes past the end, into the window's
// slack.
inline void CopyMatch(unsigned char* to, unsigned distance, unsigned length) {
    const unsigned char* from = to - distance;
    if (distance == 1) {
        std::memset(to, *from, length);
        return;
    }
    unsigned done = 0;
    if (distance < 8) {
        // Lay down the first 8 bytes one by one; from there on the output repeats with a
        // period that is a multiple of the distance and at least 8, so whole pieces copy.
        for (; done < 8; ++done)
            to[done] = from[done];
        distance *= (8 + distance - 1) / distance;
        from = to - distance;
    }
    for (; done < length; done += 8) {
        uint64_t piece = Load64(from + done);
        std::memcpy(to + done, &piece, 8);
    }
}

enum class Step { kContinue, kEnd, kInputEnded, kDistanceTooFar };

// The hot decoding state, kept in locals (registers) while tokens are decoded and written back
// to the work area only around the slow refill and the window slide.
struct Cursor {
    uint64_t bits;
    unsigned bit_count;
    unsigned output_pos;
    unsigned bad_distance;  // set with kDistanceTooFar
};

inline unsigned Peek(const Cursor& c, unsigned count) {
    return static_cast<unsigned>(c.bits & ((uint64_t{1} << count) - 1));
}

inline void Drop(Cursor& c, unsigned count) {
    c.bits >>= count;
    c.bit_count -= count;
}

// Decodes one token into the window. With at least kMaxTokenBits in the buffer every field is
// there; only near the end of the input (`Checked`) can a field run past the bits left.
template <bool Checked>
[[gnu::always_inline]] inline Step DecodeToken(Cursor& c, unsigned char* window,
                                               unsigned history_start, bool ascii,
                                               unsigned dictionary_bits) {
    if (Checked && c.bit_count < 1) return Step::kInputEnded;
    bool is_copy = c.bits & 1;
    Drop(c, 1);
    if (!is_copy) {
        unsigned literal;
        if (ascii) {
            unsigned entry = kLiteralTable[Peek(c, kMaxLiteralCodeBits)];
            unsigned code_bits = entry >> 8;
            if (Checked && code_bits > c.bit_count) return Step::kInputEnded;
            Drop(c, code_bits);
            literal = entry & 0xFF;
        } else {
            if (Checked && c.bit_count < 8) return Step::kInputEnded;
            literal = Peek(c, 8);
            Drop(c, 8);
        }
        window[c.output_pos++] = static_cast<unsigned char>(literal);
        return Step::kContinue;
    }
    unsigned length_entry = kLengthTable[Peek(c, kMaxLengthCodeBits)];
    unsigned symbol = length_entry & 0xFF;
    unsigned length_bits = (length_entry >> 8) + kLengthExtraBits[symbol];
    if (Checked && length_bits > c.bit_count) return Step::kInputEnded;
    unsigned length = kLengthBase[symbol] + (Peek(c, length_bits) >> (length_entry >> 8));
    Drop(c, length_bits);
    if (length == kEndCodeLength) return Step::kEnd;

    unsigned low_bits = length == 2 ? 2 : dictionary_bits;
    unsigned distance_entry = kDistanceTable[Peek(c, kMaxDistanceCodeBits)];
    unsigned high_bits = distance_entry >> 8;
    if (Checked && high_bits + low_bits > c.bit_count) return Step::kInputEnded;
    unsigned distance =
        ((distance_entry & 0xFF) << low_bits) + (Peek(c, high_bits + low_bits) >> high_bits) + 1;
    Drop(c, high_bits + low_bits);
    if (distance > c.output_pos - history_start) {
        c.bad_distance = distance;
        return Step::kDistanceTooFar;
    }
    CopyMatch(window + c.output_pos, distance, length);
    c.output_pos += length;
    return Step::kContinue;
}

int ExpandStream(ExpandState& s, ExpandDetail& detail) {
    unsigned request = kInputChunkBytes;
    unsigned got = s.read(s.input, &request, s.context);
    detail.input_bytes = got <= kInputChunkBytes ? got : 0;
    if (got < kMinFirstReadBytes || got > kInputChunkBytes) return kResultShortInput;
    s.input_end = got;
    s.input_total = got;

    unsigned literal_mode = s.input[0];
    unsigned dictionary_bits = s.input[1];
    if (dictionary_bits < 4 || dictionary_bits > 6) return kResultBadDictionary;
    if (literal_mode != kLiteralsBinary && literal_mode != kLiteralsAscii) {
        return kResultBadLiteralMode;
    }
    s.input_pos = 2;
    bool ascii = literal_mode == kLiteralsAscii;

    Cursor c{s.bits, s.bit_count, s.output_pos, 0};
    unsigned input_pos = s.input_pos;
    int result = kResultOk;
    for (;;) {
        if (c.bit_count < kMaxTokenBits) {
            if (s.input_end - input_pos >= 8) {
                c.bits |= Load64(s.input + input_pos) << c.bit_count;
                input_pos += (63 - c.bit_count) >> 3;
                c.bit_count |= 56;
            } else {
                s.bits = c.bits;
                s.bit_count = c.bit_count;
                s.input_pos = input_pos;
                Refill(s);
                c.bits = s.bits;
                c.bit_count = s.bit_count;
                input_pos = s.input_pos;
            }
        }
        Step step = c.bit_count >= kMaxTokenBits
                        ? DecodeToken<false>(c, s.window, s.history_start, ascii, dictionary_bits)
                        : DecodeToken<true>(c, s.window, s.history_start, ascii, dictionary_bits);
        if (step != Step::kContinue) {
            if (step == Step::kEnd) {
                // Bits left in the buffer past the end code's byte are whole unused bytes.
                detail.unused_input_bytes = (s.input_end - input_pos) + c.bit_count / 8;
            } else {
                result = kResultNoEndCode;
                detail.fault = step == Step::kInputEnded ? ExpandFault::kInputEnded
                                                         : ExpandFault::kDistanceTooFar;
                detail.distance = c.bad_distance;
            }
            break;
        }
        if (c.output_pos >= kWindowBytes) {
            s.output_pos = c.output_pos;
            SlideWindow(s);
            c.output_pos = s.output_pos;
        }
    }
    // Where a copy failed is counted before the rest of the window is handed over.
    detail.output_bytes = s.output_total + (c.output_pos - kHistoryBytes);
    WriteOut(s, s.window + kHistoryBytes, c.output_pos - kHistoryBytes);
    detail.input_bytes = s.input_total;
    return result;
}

}  // namespace

int Expand(ReadFunction read, WriteFunction write, ExpandWorkArea& work, void* context,
           ExpandDetail* detail) {
    // The state lives in the caller's work area; every field is set here, the buffers are
    // written before they are read.
    auto* state = new (work.bytes) ExpandState;
    state->read = read;
    state->write = write;
    state->context = context;
    state->bits = 0;
    state->bit_count = 0;
    state->input_pos = 0;
    state->input_end = 0;
    state->input_done = false;
    state->input_total = 0;
    state->output_pos = kHistoryBytes;
    state->history_start = kHistoryBytes;
    state->output_total = 0;
    ExpandDetail local;
    ExpandDetail& found = detail != nullptr ? *detail : local;
    found = {};
    return ExpandStream(*state, found);
}

std::string DescribeExpandFault(const ExpandDetail& detail) {
    switch (detail.fault) {
        case ExpandFault::kInputEnded:
            return "input ends after " + std::to_string(detail.input_bytes) +
                   " bytes, before the end code";
        case ExpandFault::kDistanceTooFar:
            return "a copy at output byte " + std::to_string(detail.output_bytes) + " reaches " +
                   std::to_string(detail.distance) + " bytes back, before the start of the output";
        case ExpandFault::kOutputLimit:
            return "output reaches its limit of " + std::to_string(detail.output_bytes) +
                   " bytes before the end code";
        default:
            return {};
    }
}

}  // namespace scopa::implode

// The implode compressor: hash-chain match search over a sliding buffer and the format's
// one-step lazy parse, all state in the caller's work area.
//
// Format notes (see implode_expand.cpp for the token layout):
// - Copies are 2 to 518 bytes long; we make at most 516, as the published library does.
// - A copy of length 2 keeps only 2 low distance bits, so it reaches back at most 256 bytes.
// - The stream ends with the copy length 519 and is padded with zero bits to a whole byte.
//
// Search: matches of 4 bytes or more come from chains of earlier positions sharing a hash of
// their first four bytes, nearest first, so among equally long matches the nearest wins. When
// they give nothing, the nearest 3-byte match comes from a second set of chains keyed by three
// bytes, and the nearest 2-byte match (only worth a copy within 256 bytes) from scanning those
// 256 bytes directly.
#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "cache/implode.h"
#include "cache/implode_codes.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace scopa::implode {
namespace {

using namespace detail;

constexpr unsigned kOutputPieceBytes = 2048;
constexpr unsigned kInputBlockBytes = 4096;
constexpr unsigned kMaxMatch = 516;
// Deciding at a position looks at the match one position further on.
constexpr unsigned kLookaheadBytes = kMaxMatch + 2;
// The buffer holds the dictionary, one block being compressed and the lookahead; once the
// position passes two blocks, everything slides down by one block.
constexpr unsigned kSlideAt = 2 * kInputBlockBytes;
constexpr unsigned kBufferBytes = kSlideAt + kLookaheadBytes;
constexpr unsigned kOverreadBytes = 8;  // word-wise compares may read this far past the data
constexpr unsigned kHashBits = 11;
// One chain slot per position within reach of the largest dictionary: a slot is reused only
// by the position 4096 bytes later, when the old one can no longer be reached.
constexpr unsigned kChainSlots = kInputBlockBytes;
constexpr uint16_t kNoPosition = 0xFFFF;

// Parse rules that writers of this format follow; they fix which matches become copies.
constexpr unsigned kMaxPairDistance = 256;        // a 2-byte copy reaches no further
constexpr unsigned kTakeAtOnceLength = 8;         // matches this long skip the look ahead
constexpr unsigned kNearDistanceForLonger = 129;  // see CompressInput

// Search effort, tuned on picture thumbnails for size and speed together: at most this many
// chain steps per search, giving up after this many steps without a longer match (later ones
// rarely are), and the steps spent looking for a 3-byte match.
constexpr unsigned kMaxChainSteps = 256;
constexpr unsigned kPatience = 64;
constexpr unsigned kMaxTripleSteps = 64;

static_assert(kBufferBytes < kNoPosition);

struct Match {
    unsigned length = 0;
    unsigned distance = 0;
};

// Flag, length code and extra bits of every copy length, in stream order, with their count.
struct LengthCode {
    uint32_t value;
    uint8_t bit_count;
};
constexpr auto kLengthCodes = [] {
    std::array<LengthCode, kEndCodeLength + 1> codes{};
    for (unsigned symbol = 0; symbol < kLengthSymbols; ++symbol) {
        unsigned code_bits = kLengthCodeBits[symbol];
        unsigned extra_bits = kLengthExtraBits[symbol];
        for (unsigned extra = 0; extra < (1u << extra_bits); ++extra) {
            unsigned length = kLengthBase[symbol] + extra;
            codes[length].value =
                1u | (uint32_t{kLengthStreamCodes[symbol]} << 1) | (extra << (1 + code_bits));
            codes[length].bit_count = static_cast<uint8_t>(1 + code_bits + extra_bits);
        }
    }
    return codes;
}();

struct CompressState {
    ReadFunction read;
    WriteFunction write;
    void* context;
    unsigned dictionary_bits;
    unsigned dictionary_bytes;
    bool ascii;

    unsigned fill;  // bytes of input in `window`
    bool input_done;
    unsigned next_insert;  // first position not yet linked into the hash chains

    uint64_t bit_buffer;
    unsigned bit_count;
    unsigned out_count;

    // Two sets of hash chains: positions sharing a hash of their first four bytes, for the
    // longest-match search, and of their first three, for the nearest 3-byte match.
    uint16_t head[1u << kHashBits];
    uint16_t chain[kChainSlots];  // per position: the previous one with the same hash
    uint16_t head3[1u << kHashBits];
    uint16_t chain3[kChainSlots];
    unsigned char window[kBufferBytes + kOverreadBytes];
    unsigned char out[kOutputPieceBytes + 8];
};
static_assert(sizeof(CompressState) <= kCompressWorkBytes);
static_assert(alignof(CompressState) <= alignof(CompressWorkArea));
static_assert(std::endian::native == std::endian::little);

inline uint64_t Load64(const unsigned char* from) {
    uint64_t value;
    std::memcpy(&value, from, sizeof value);
    return value;
}
inline uint32_t Load32(const unsigned char* from) {
    uint32_t value;
    std::memcpy(&value, from, sizeof value);
    return value;
}

// ---- output ----

void WritePiece(CompressState& s, unsigned count) {
    unsigned size = count;
    s.write(s.out, &size, s.context);
    std::memmove(s.out, s.out + count, s.out_count - count);
    s.out_count -= count;
}

inline void PutBits(CompressState& s, uint32_t value, unsigned count) {
    s.bit_buffer |= uint64_t{value} << s.bit_count;
    s.bit_count += count;
    if (s.bit_count >= 32) {
        uint32_t word = static_cast<uint32_t>(s.bit_buffer);
        std::memcpy(s.out + s.out_count, &word, sizeof word);
        s.out_count += 4;
        s.bit_buffer >>= 32;
        s.bit_count -= 32;
        if (s.out_count >= kOutputPieceBytes) WritePiece(s, kOutputPieceBytes);
    }
}

inline void EmitLiteral(CompressState& s, unsigned char byte) {
    if (s.ascii) {
        PutBits(s, uint32_t{kLiteralStreamCodes[byte]} << 1, 1 + kLiteralCodeBits[byte]);
    } else {
        PutBits(s, uint32_t{byte} << 1, 9);
    }
}

inline void EmitCopy(CompressState& s, Match match) {
    const LengthCode& length_code = kLengthCodes[match.length];
    PutBits(s, length_code.value, length_code.bit_count);
    unsigned low_bits = match.length == 2 ? 2 : s.dictionary_bits;
    unsigned offset = match.distance - 1;
    unsigned high = offset >> low_bits;
    unsigned high_bits = kDistanceCodeBits[high];
    PutBits(s, kDistanceStreamCodes[high] | ((offset & ((1u << low_bits) - 1)) << high_bits),
            high_bits + low_bits);
}

void FinishStream(CompressState& s) {
    const LengthCode& end = kLengthCodes[kEndCodeLength];
    PutBits(s, end.value, end.bit_count);
    while (s.bit_count > 0) {
        s.out[s.out_count++] = static_cast<unsigned char>(s.bit_buffer);
        s.bit_buffer >>= 8;
        s.bit_count = s.bit_count > 8 ? s.bit_count - 8 : 0;
    }
    while (s.out_count > 0)
        WritePiece(s, std::min(s.out_count, kOutputPieceBytes));
}

// ---- input and hash chains ----

void Refill(CompressState& s) {
    while (s.fill < kBufferBytes) {
        unsigned request = std::min(kBufferBytes - s.fill, kInputBlockBytes);
        unsigned got = s.read(s.window + s.fill, &request, s.context);
        if (got == 0) {
            s.input_done = true;
            return;
        }
        s.fill += std::min(got, request);
    }
}

inline uint16_t Rebase(uint16_t position) {
    return position != kNoPosition && position >= kInputBlockBytes
               ? static_cast<uint16_t>(position - kInputBlockBytes)
               : kNoPosition;
}

// Drops the oldest block: positions move down by one block. Chain slots are taken modulo the
// block size, so they stay where they are; only the positions stored in them change.
void Slide(CompressState& s, unsigned& pos) {
    std::memmove(s.window, s.window + kInputBlockBytes, s.fill - kInputBlockBytes);
    s.fill -= kInputBlockBytes;
    pos -= kInputBlockBytes;
    s.next_insert -= kInputBlockBytes;
    for (uint16_t& position : s.head)
        position = Rebase(position);
    for (uint16_t& position : s.chain)
        position = Rebase(position);
    for (uint16_t& position : s.head3)
        position = Rebase(position);
    for (uint16_t& position : s.chain3)
        position = Rebase(position);
}

inline unsigned Hash4(const unsigned char* at) {
    return (Load32(at) * 0x9E3779B1u) >> (32 - kHashBits);
}
inline unsigned Hash3(const unsigned char* at) {
    return ((Load32(at) & 0xFFFFFFu) * 0x9E3779B1u) >> (32 - kHashBits);
}

// Links every position up to `end` into its chains, in order. The last bytes of the input
// start no full key and stay out.
inline void InsertUpTo(CompressState& s, unsigned end) {
    for (; s.next_insert < end; ++s.next_insert) {
        unsigned position = s.next_insert;
        unsigned slot = position % kChainSlots;
        if (position + 3 > s.fill) continue;
        unsigned hash3 = Hash3(s.window + position);
        s.chain3[slot] = s.head3[hash3];
        s.head3[hash3] = static_cast<uint16_t>(position);
        if (position + 4 > s.fill) continue;
        unsigned hash4 = Hash4(s.window + position);
        s.chain[slot] = s.head[hash4];
        s.head[hash4] = static_cast<uint16_t>(position);
    }
}

// ---- match search ----

// Bytes equal at `a` and `b`, at most `limit`; may read up to 7 bytes past the limit.
inline unsigned MatchLength(const unsigned char* a, const unsigned char* b, unsigned limit) {
    unsigned length = 0;
    while (length < limit) {
        uint64_t difference = Load64(a + length) ^ Load64(b + length);
        if (difference != 0) {
            length += static_cast<unsigned>(std::countr_zero(difference)) / 8;
            return std::min(length, limit);
        }
        length += 8;
    }
    return limit;
}

// Longest match of 4 bytes or more at `pos` among the nearest positions that share its hash,
// nearest first so the nearest of equally long matches wins; length 0 when none. `pos` must
// not be in the chains yet.
Match ChainSearch(const CompressState& s, unsigned pos, unsigned limit) {
    const unsigned char* here = s.window + pos;
    Match best;
    unsigned best_length = 3;
    unsigned steps = kMaxChainSteps;
    unsigned patience = kPatience;
    for (unsigned candidate = s.head[Hash4(here)];
         pos - candidate <= s.dictionary_bytes && steps != 0;
         candidate = s.chain[candidate % kChainSlots], --steps) {
        if (--patience == 0) break;
        const unsigned char* there = s.window + candidate;
        // Only a candidate that also matches the four bytes ending one past the best can win;
        // this also throws out hash collisions.
        unsigned check = best_length - 3;
        if (Load32(there + check) != Load32(here + check)) continue;
        unsigned length = MatchLength(there, here, limit);
        if (length > best_length) {
            best_length = length;
            best = {length, pos - candidate};
            patience = kPatience;
            if (length >= limit) break;
        }
    }
    return best;
}

// Nearest earlier position from `nearest` to `reach` bytes back whose first `Width` bytes equal
// those at `pos`.
template <unsigned Width>
Match NearestShort(const CompressState& s, unsigned pos, unsigned nearest, unsigned reach) {
    const unsigned char* w = s.window;
    unsigned lowest = pos > reach ? pos - reach : 0;
    if (pos < nearest) return {};
    unsigned top = pos - nearest + 1;  // candidates below `top` remain to be looked at
#if defined(__SSE2__)
    __m128i want[Width];
    for (unsigned i = 0; i < Width; ++i)
        want[i] = _mm_set1_epi8(static_cast<char>(w[pos + i]));
    while (top >= lowest + 16) {
        unsigned start = top - 16;
        __m128i equal = _mm_set1_epi8(-1);
        for (unsigned i = 0; i < Width; ++i) {
            __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + start + i));
            equal = _mm_and_si128(equal, _mm_cmpeq_epi8(bytes, want[i]));
        }
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(equal));
        if (mask != 0) {
            unsigned candidate = start + 31 - static_cast<unsigned>(std::countl_zero(mask));
            return {Width, pos - candidate};
        }
        top = start;
    }
#endif
    while (top > lowest) {
        --top;
        if (std::memcmp(w + top, w + pos, Width) == 0) return {Width, pos - top};
    }
    return {};
}

// Nearest earlier position at least `nearest` bytes back whose first three bytes equal those
// at `pos`.
Match NearestTriple(const CompressState& s, unsigned pos, unsigned nearest) {
    const unsigned char* here = s.window + pos;
    uint32_t key = Load32(here) & 0xFFFFFFu;
    unsigned steps = kMaxTripleSteps;
    for (unsigned candidate = s.head3[Hash3(here)];
         pos - candidate <= s.dictionary_bytes && steps != 0;
         candidate = s.chain3[candidate % kChainSlots], --steps) {
        unsigned distance = pos - candidate;
        if (distance >= nearest && (Load32(s.window + candidate) & 0xFFFFFFu) == key) {
            return {3, distance};
        }
    }
    return {};
}

// The match at `pos` that the parse starts from: the longest the chains give, or failing that
// a three- or two-byte match near enough to be worth a copy.
Match FindMatch(CompressState& s, unsigned pos) {
    InsertUpTo(s, pos);
    unsigned limit = std::min(kMaxMatch, s.fill - pos);
    Match match;
    if (limit >= 4) match = ChainSearch(s, pos, limit);
    if (match.length != 0 || limit < 2) return match;
    // A 3-byte match is also a 2-byte one, so none lies nearer than the nearest pair.
    Match pair = NearestShort<2>(s, pos, 1, kMaxPairDistance);
    if (limit >= 3) {
        unsigned nearest = pair.length != 0 ? pair.distance : kMaxPairDistance + 1;
        match = NearestTriple(s, pos, nearest);
    }
    return match.length != 0 ? match : pair;
}

// The quick look one position further on: only the newest position with the same hash.
// Looking no deeper is deliberate: under the format's fixed rule (a longer match there costs a
// literal here) an exhaustive look turns out more literals and larger streams on pictures.
Match LookAhead(CompressState& s, unsigned pos) {
    InsertUpTo(s, pos);
    unsigned limit = std::min(kMaxMatch, s.fill - pos);
    if (limit < 4) return {};
    unsigned candidate = s.head[Hash4(s.window + pos)];
    unsigned distance = pos - candidate;
    if (distance > s.dictionary_bytes) return {};
    unsigned length = MatchLength(s.window + candidate, s.window + pos, limit);
    if (length < 4) return {};
    return {length, distance};
}

// ---- the parse ----

void CompressInput(CompressState& s) {
    unsigned pos = 0;
    Match current;
    bool have_current = false;
    for (;;) {
        if (pos >= kSlideAt) Slide(s, pos);
        if (!s.input_done && s.fill - pos < kLookaheadBytes) Refill(s);
        if (pos >= s.fill) break;
        if (!have_current) current = FindMatch(s, pos);
        have_current = false;

        if (current.length < 2) {
            EmitLiteral(s, s.window[pos]);
            ++pos;
            continue;
        }
        // Short matches wait for a look at the next position: a longer match there is worth a
        // literal now, unless it is only one byte longer and this one is near (its distance
        // less one, the offset the stream carries, is below 129).
        if (current.length < kTakeAtOnceLength && pos + current.length < s.fill) {
            Match next = LookAhead(s, pos + 1);
            bool next_is_better =
                next.length > current.length + 1 ||
                (next.length == current.length + 1 && current.distance > kNearDistanceForLonger);
            if (next_is_better) {
                EmitLiteral(s, s.window[pos]);
                ++pos;
                current = FindMatch(s, pos);  // at least as long as the quick look's
                have_current = true;
                continue;
            }
        }
        EmitCopy(s, current);
        pos += current.length;
    }
}

}  // namespace

int Compress(ReadFunction read, WriteFunction write, CompressWorkArea& work, void* context,
             unsigned literal_mode, unsigned dictionary_bytes) {
    unsigned dictionary_bits;
    switch (dictionary_bytes) {
        case 1024:
            dictionary_bits = 4;
            break;
        case 2048:
            dictionary_bits = 5;
            break;
        case 4096:
            dictionary_bits = 6;
            break;
        default:
            return kResultBadDictionary;
    }
    if (literal_mode != kLiteralsBinary && literal_mode != kLiteralsAscii) {
        return kResultBadLiteralMode;
    }
    auto* s = new (work.bytes) CompressState;
    s->read = read;
    s->write = write;
    s->context = context;
    s->dictionary_bits = dictionary_bits;
    s->dictionary_bytes = dictionary_bytes;
    s->ascii = literal_mode == kLiteralsAscii;
    s->fill = 0;
    s->input_done = false;
    s->next_insert = 0;
    // Chain slots are only reached through `head`, and a slot is written when its position is
    // linked, before anything can point to it.
    s->bit_buffer = 0;
    s->bit_count = 0;
    std::fill(std::begin(s->head), std::end(s->head), kNoPosition);
    // Word-wise compares may look past the data; keep those bytes defined.
    std::memset(s->window, 0, sizeof s->window);
    s->out[0] = static_cast<unsigned char>(literal_mode);
    s->out[1] = static_cast<unsigned char>(dictionary_bits);
    s->out_count = 2;
    CompressInput(*s);
    FinishStream(*s);
    return kResultOk;
}

}  // namespace scopa::implode

// The fixed codes of the implode format, shared by the compressor and the expander, all built
// at compile time from the published code lengths.
//
// Format notes:
// - Each code is canonical: symbols ordered by code length, then by symbol number, get
//   consecutive code values, counting up from all zeros at the shortest length.
// - The stream carries each code with its bits inverted, first (most significant) bit first,
//   and the bit stream fills bytes from their least significant bit up. So the value to put at
//   the stream's bit position is the inverted code with its bit order reversed.
// - Extra bits (copy lengths) and low distance bits are plain little-endian bit fields.
#pragma once

#include <array>
#include <cstdint>

namespace scopa::implode::detail {

inline constexpr unsigned kLengthSymbols = 16;
inline constexpr unsigned kDistanceSymbols = 64;
inline constexpr unsigned kLiteralSymbols = 256;

inline constexpr unsigned kMinCopy = 2;
inline constexpr unsigned kMaxCodedCopy = 518;
inline constexpr unsigned kEndCodeLength = 519;  // the length value that ends the stream

// Per length symbol: the smallest length it codes, its extra bits and its code length.
inline constexpr std::array<uint16_t, kLengthSymbols> kLengthBase = {
    3, 2, 4, 5, 6, 7, 8, 9, 10, 12, 16, 24, 40, 72, 136, 264};
inline constexpr std::array<uint8_t, kLengthSymbols> kLengthExtraBits = {0, 0, 0, 0, 0, 0, 0, 0,
                                                                         1, 2, 3, 4, 5, 6, 7, 8};
// Length 3 (symbol 0) is the most frequent copy and has the one 2-bit code; length 2 has 3 bits.
inline constexpr std::array<uint8_t, kLengthSymbols> kLengthCodeBits = {2, 3, 3, 3, 4, 4, 4, 5,
                                                                        5, 5, 5, 6, 6, 6, 7, 7};

// Distance high-part symbols: 1 code of 2 bits, 2 of 4, 4 of 5, 15 of 6, 26 of 7, 16 of 8.
inline constexpr std::array<uint8_t, kDistanceSymbols> kDistanceCodeBits = {
    2, 4, 4, 5, 5, 5, 5, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
    7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8};

// Code lengths of the ASCII-mode literal code, by byte value.
inline constexpr std::array<uint8_t, kLiteralSymbols> kLiteralCodeBits = {
    11, 12, 12, 12, 12, 12, 12, 12, 12, 8,  7,  12, 12, 7,  12, 12,  // 0x00
    12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 13, 12, 12, 12, 12, 12,  // 0x10
    4,  10, 8,  12, 10, 12, 10, 8,  7,  7,  8,  9,  7,  6,  7,  8,   // 0x20
    7,  6,  7,  7,  7,  7,  8,  7,  7,  8,  8,  12, 11, 7,  9,  11,  // 0x30
    12, 6,  7,  6,  6,  5,  7,  8,  8,  6,  11, 9,  6,  7,  6,  6,   // 0x40
    7,  11, 6,  6,  6,  7,  9,  8,  9,  9,  11, 8,  11, 9,  12, 8,   // 0x50
    12, 5,  6,  6,  6,  5,  6,  6,  6,  5,  11, 7,  5,  6,  5,  5,   // 0x60
    6,  10, 5,  5,  5,  5,  8,  7,  8,  8,  10, 11, 11, 12, 12, 12,  // 0x70
    13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13,  // 0x80
    13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13,  // 0x90
    13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13,  // 0xa0
    12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,  // 0xb0
    12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,  // 0xc0
    12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,  // 0xd0
    13, 12, 13, 13, 13, 12, 13, 13, 13, 12, 13, 13, 13, 13, 12, 13,  // 0xe0
    13, 13, 12, 12, 12, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13,  // 0xf0
};

inline constexpr unsigned kMaxLengthCodeBits = 7;
inline constexpr unsigned kMaxDistanceCodeBits = 8;
inline constexpr unsigned kMaxLiteralCodeBits = 13;

// Stream values (bits in stream order, first bit lowest) of a canonical code given its lengths.
template <std::size_t N>
constexpr std::array<uint16_t, N> StreamCodes(const std::array<uint8_t, N>& code_bits) {
    std::array<uint16_t, N> stream{};
    unsigned code = 0;
    unsigned previous_bits = 0;
    for (unsigned bits = 1; bits <= 16; ++bits) {
        for (std::size_t symbol = 0; symbol < N; ++symbol) {
            if (code_bits[symbol] != bits) continue;
            if (previous_bits != 0) code = (code + 1) << (bits - previous_bits);
            previous_bits = bits;
            unsigned inverted = ~code & ((1u << bits) - 1);
            unsigned reversed = 0;
            for (unsigned bit = 0; bit < bits; ++bit) {
                reversed |= ((inverted >> bit) & 1u) << (bits - 1 - bit);
            }
            stream[symbol] = static_cast<uint16_t>(reversed);
        }
    }
    return stream;
}

inline constexpr std::array<uint16_t, kLengthSymbols> kLengthStreamCodes =
    StreamCodes(kLengthCodeBits);
inline constexpr std::array<uint16_t, kDistanceSymbols> kDistanceStreamCodes =
    StreamCodes(kDistanceCodeBits);
inline constexpr std::array<uint16_t, kLiteralSymbols> kLiteralStreamCodes =
    StreamCodes(kLiteralCodeBits);

// Published stream values of the first length and distance codes, as a guard on the above.
static_assert(kLengthStreamCodes[0] == 0x03 && kLengthStreamCodes[1] == 0x05 &&
              kLengthStreamCodes[2] == 0x01 && kLengthStreamCodes[15] == 0x00);
static_assert(kDistanceStreamCodes[0] == 0x03 && kDistanceStreamCodes[1] == 0x0D);

// A decoding table: indexed by the next `Bits` stream bits, each entry holds the symbol in its
// low byte and the code length above it. Every table is full because every code is complete.
template <unsigned Bits, std::size_t N>
constexpr std::array<uint16_t, (1u << Bits)> DecodeTable(const std::array<uint8_t, N>& code_bits) {
    std::array<uint16_t, (1u << Bits)> table{};
    std::array<uint16_t, N> stream = StreamCodes(code_bits);
    for (std::size_t symbol = 0; symbol < N; ++symbol) {
        unsigned length = code_bits[symbol];
        for (unsigned high = 0; high < (1u << (Bits - length)); ++high) {
            table[stream[symbol] | (high << length)] =
                static_cast<uint16_t>(symbol | (length << 8));
        }
    }
    return table;
}

}  // namespace scopa::implode::detail

// The implode stream format: a compressor and an expander driven by read and write callbacks,
// each working in one fixed work area, so neither needs the whole stream in memory and neither
// allocates. Compressed cache records hold their pixel block in this format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace scopa::implode {

// Literal modes announced by the first byte of a stream.
inline constexpr unsigned kLiteralsBinary = 0;  // literals are plain 8-bit values
inline constexpr unsigned kLiteralsAscii = 1;   // literals use the format's fixed Huffman code

// Results of Compress and Expand.
enum Result : int {
    kResultOk = 0,
    kResultBadDictionary = 1,   // dictionary size (or header dictionary bits) not allowed
    kResultBadLiteralMode = 2,  // literal mode other than binary or ASCII
    kResultShortInput = 3,      // the first read supplied fewer than 5 bytes
    // The input ended, or the stream broke (a copy reaching before the start of the output),
    // before the end code; ExpandDetail tells which. What was decoded up to that point has
    // been written.
    kResultNoEndCode = 4,
};

// Why an expansion gave kResultNoEndCode.
enum class ExpandFault {
    kNone,
    kInputEnded,      // the input ran out in the middle of the stream
    kDistanceTooFar,  // a copy reached back before the first byte of the output
    kOutputLimit,     // ExpandBytes only: the output would have passed its limit
};

// What an expansion found beside its result code.
struct ExpandDetail {
    ExpandFault fault = ExpandFault::kNone;
    std::uint64_t input_bytes = 0;   // bytes the read callback supplied
    std::uint64_t output_bytes = 0;  // bytes given to the write callback
    // Whole bytes supplied after the byte that holds the end code, which the stream does not
    // use (a stream followed by other data, or garbage).
    std::uint64_t unused_input_bytes = 0;
    unsigned distance = 0;  // the copy's distance, for kDistanceTooFar
};

// The fault in words: "input ends after 1234 bytes, before the end code", "a copy at output
// byte 10 reaches 300 bytes back, before the start of the output"; empty for kNone.
std::string DescribeExpandFault(const ExpandDetail& detail);

// Fills `buffer` with up to `*size` bytes and returns how many it supplied; 0 ends the input.
using ReadFunction = unsigned (*)(unsigned char* buffer, unsigned* size, void* context);
// Takes `*size` bytes from `buffer`.
using WriteFunction = void (*)(unsigned char* buffer, unsigned* size, void* context);

// Work-area sizes of the published library, kept so that callers size them the same way.
inline constexpr std::size_t kCompressWorkBytes = 36312;
inline constexpr std::size_t kExpandWorkBytes = 12596;

struct CompressWorkArea {
    alignas(16) unsigned char bytes[kCompressWorkBytes];
};
struct ExpandWorkArea {
    alignas(16) unsigned char bytes[kExpandWorkBytes];
};

// The largest stream a 16,384-byte block can give (every byte a 9-bit literal, plus header,
// end code and padding) is 18,436 bytes; buffers for one cache block use this size.
inline constexpr std::size_t kMaxStreamBytesPerBlock = 18436;

// Compresses everything `read` supplies into one stream given to `write` in pieces of up to
// 2048 bytes. `dictionary_bytes` is 1024, 2048 or 4096.
int Compress(ReadFunction read, WriteFunction write, CompressWorkArea& work, void* context,
             unsigned literal_mode, unsigned dictionary_bytes);

// Expands one stream from `read`, giving the output to `write` in pieces of up to 4096 bytes.
// `detail`, when given, receives what the result code does not say.
int Expand(ReadFunction read, WriteFunction write, ExpandWorkArea& work, void* context,
           ExpandDetail* detail = nullptr);

// In-memory conveniences over the callback interface (they allocate their own work area and
// output; the callback functions above do not allocate).
int CompressBytes(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& output,
                  unsigned literal_mode = kLiteralsBinary, unsigned dictionary_bytes = 4096);
// Stops and reports kResultNoEndCode (fault kOutputLimit) once the output would pass
// `max_output_bytes`.
int ExpandBytes(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& output,
                std::size_t max_output_bytes = SIZE_MAX, ExpandDetail* detail = nullptr);

}  // namespace scopa::implode

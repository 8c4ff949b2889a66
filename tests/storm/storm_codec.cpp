#include "storm_codec.h"

#include <algorithm>
#include <cstring>

// The library's header for these two is not installed; they are plain C functions.
extern "C" {
unsigned int implode(unsigned int (*read_buf)(char* buf, unsigned int* size, void* param),
                     void (*write_buf)(char* buf, unsigned int* size, void* param), char* work_buf,
                     void* param, unsigned int* type, unsigned int* dsize);
unsigned int explode(unsigned int (*read_buf)(char* buf, unsigned int* size, void* param),
                     void (*write_buf)(char* buf, unsigned int* size, void* param), char* work_buf,
                     void* param);
}

namespace scopa::storm {
namespace {

// Well above the library's work-structure sizes on 64-bit hosts (pointers make them larger
// than the published 32-bit figures).
constexpr std::size_t kWorkBytes = 1 << 16;

struct Pipe {
    std::span<const std::uint8_t> input;
    std::size_t position = 0;
    std::vector<std::uint8_t>* output;
};

unsigned int ReadPipe(char* buffer, unsigned int* size, void* param) {
    auto* pipe = static_cast<Pipe*>(param);
    std::size_t count = std::min<std::size_t>(*size, pipe->input.size() - pipe->position);
    if (count != 0) std::memcpy(buffer, pipe->input.data() + pipe->position, count);
    pipe->position += count;
    return static_cast<unsigned int>(count);
}

void WritePipe(char* buffer, unsigned int* size, void* param) {
    auto* pipe = static_cast<Pipe*>(param);
    pipe->output->insert(pipe->output->end(), buffer, buffer + *size);
}

}  // namespace

struct StormCodec::WorkAreas {
    alignas(16) char compress[kWorkBytes];
    alignas(16) char expand[kWorkBytes];
};

StormCodec::StormCodec() : m_work(std::make_unique<WorkAreas>()) {}
StormCodec::~StormCodec() = default;

unsigned StormCodec::Implode(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& stream,
                             unsigned literal_mode, unsigned dictionary_bytes) {
    stream.clear();
    Pipe pipe{input, 0, &stream};
    unsigned int type = literal_mode;
    unsigned int dictionary = dictionary_bytes;
    return implode(ReadPipe, WritePipe, m_work->compress, &pipe, &type, &dictionary);
}

unsigned StormCodec::Explode(std::span<const std::uint8_t> stream,
                             std::vector<std::uint8_t>& output) {
    output.clear();
    Pipe pipe{stream, 0, &output};
    return explode(ReadPipe, WritePipe, m_work->expand, &pipe);
}

}  // namespace scopa::storm

// In-memory adaptors over the callback codec, for tools and tests.
#include <algorithm>
#include <cstring>
#include <memory>

#include "cache/implode.h"

namespace scopa::implode {
namespace {

struct MemoryReader {
    std::span<const std::uint8_t> input;
    std::size_t position = 0;
};

struct MemoryWriter {
    std::vector<std::uint8_t>* output;
    std::size_t max_bytes;
    bool overflowed = false;
};

struct ExpandContext {
    MemoryReader reader;
    MemoryWriter writer;
};

unsigned ReadMemory(MemoryReader& reader, unsigned char* buffer, unsigned size) {
    std::size_t count = std::min<std::size_t>(size, reader.input.size() - reader.position);
    if (count != 0) std::memcpy(buffer, reader.input.data() + reader.position, count);
    reader.position += count;
    return static_cast<unsigned>(count);
}

void WriteMemory(MemoryWriter& writer, const unsigned char* buffer, unsigned size) {
    std::size_t room = writer.max_bytes - std::min(writer.max_bytes, writer.output->size());
    if (size > room) writer.overflowed = true;
    std::size_t count = std::min<std::size_t>(size, room);
    writer.output->insert(writer.output->end(), buffer, buffer + count);
}

}  // namespace

int CompressBytes(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& output,
                  unsigned literal_mode, unsigned dictionary_bytes) {
    struct Context {
        MemoryReader reader;
        MemoryWriter writer;
    } context{{input}, {&output, SIZE_MAX}};
    auto work = std::make_unique<CompressWorkArea>();
    output.clear();
    return Compress(
        [](unsigned char* buffer, unsigned* size, void* param) {
            return ReadMemory(static_cast<Context*>(param)->reader, buffer, *size);
        },
        [](unsigned char* buffer, unsigned* size, void* param) {
            WriteMemory(static_cast<Context*>(param)->writer, buffer, *size);
        },
        *work, &context, literal_mode, dictionary_bytes);
}

int ExpandBytes(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& output,
                std::size_t max_output_bytes, ExpandDetail* detail) {
    ExpandContext context{{input}, {&output, max_output_bytes}};
    auto work = std::make_unique<ExpandWorkArea>();
    output.clear();
    int result = Expand(
        [](unsigned char* buffer, unsigned* size, void* param) -> unsigned {
            auto* expand = static_cast<ExpandContext*>(param);
            // Once the output has overflowed, end the input so the expander stops early.
            if (expand->writer.overflowed) return 0;
            return ReadMemory(expand->reader, buffer, *size);
        },
        [](unsigned char* buffer, unsigned* size, void* param) {
            WriteMemory(static_cast<ExpandContext*>(param)->writer, buffer, *size);
        },
        *work, &context, detail);
    if (context.writer.overflowed) {
        result = kResultNoEndCode;
        if (detail != nullptr) {
            detail->fault = ExpandFault::kOutputLimit;
            detail->output_bytes = output.size();
        }
    }
    return result;
}

}  // namespace scopa::implode

// The published library's implode and explode, as Debian's libstorm carries them, behind the
// same in-memory shape as our own codec, so tests and benchmarks can cross-check the two.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace scopa::storm {

class StormCodec {
public:
    StormCodec();
    ~StormCodec();
    StormCodec(const StormCodec&) = delete;
    StormCodec& operator=(const StormCodec&) = delete;

    // The library's result codes: 0 done, 1 bad dictionary size, 2 bad literal mode, 3 bad
    // data, 4 aborted.
    unsigned Implode(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& stream,
                     unsigned literal_mode = 0, unsigned dictionary_bytes = 4096);
    unsigned Explode(std::span<const std::uint8_t> stream, std::vector<std::uint8_t>& output);

private:
    struct WorkAreas;
    std::unique_ptr<WorkAreas> m_work;
};

}  // namespace scopa::storm

// Bounds-checked reading of untrusted bytes: every read either succeeds or sets a sticky
// failure flag and yields zero, so parsers check once at the end of a block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace scopa {

class ByteReader {
public:
    explicit ByteReader(std::span<const uint8_t> bytes, bool big_endian = false)
        : m_bytes(bytes), m_bigEndian(big_endian) {}

    bool Ok() const { return m_ok; }
    size_t Offset() const { return m_offset; }
    size_t Remaining() const { return m_ok ? m_bytes.size() - m_offset : 0; }
    void SetBigEndian(bool big_endian) { m_bigEndian = big_endian; }

    uint8_t U8() {
        if (!Need(1)) return 0;
        return m_bytes[m_offset++];
    }
    uint16_t U16() {
        if (!Need(2)) return 0;
        uint16_t a = m_bytes[m_offset], b = m_bytes[m_offset + 1];
        m_offset += 2;
        return m_bigEndian ? uint16_t(a << 8 | b) : uint16_t(b << 8 | a);
    }
    uint32_t U32() {
        uint32_t a = U16(), b = U16();
        return m_bigEndian ? (a << 16 | b) : (b << 16 | a);
    }
    int32_t I32() { return int32_t(U32()); }
    int16_t I16() { return int16_t(U16()); }

    void Skip(size_t count) {
        if (Need(count)) m_offset += count;
    }
    // Moves to an absolute offset; fails when it lies beyond the end.
    void Seek(size_t offset) {
        if (!m_ok || offset > m_bytes.size()) {
            m_ok = false;
            return;
        }
        m_offset = offset;
    }
    // The next `count` bytes, or an empty span (and failure) when there are fewer.
    std::span<const uint8_t> Bytes(size_t count) {
        if (!Need(count)) return {};
        auto view = m_bytes.subspan(m_offset, count);
        m_offset += count;
        return view;
    }

private:
    bool Need(size_t count) {
        if (!m_ok || count > m_bytes.size() - m_offset) {
            m_ok = false;
            return false;
        }
        return true;
    }

    std::span<const uint8_t> m_bytes;
    size_t m_offset = 0;
    bool m_bigEndian = false;
    bool m_ok = true;
};

}  // namespace scopa

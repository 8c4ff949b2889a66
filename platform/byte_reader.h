// Bounds-checked reading of untrusted bytes: every read either succeeds or sets a sticky
// failure flag and yields zero (or an empty value), so parsers read a whole block and check
// once at its end. Offsets and lengths are compared against what is left, never added to a
// position first, so a stored offset near SIZE_MAX fails like any other one out of range.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

namespace scopa {

class ByteReader {
public:
    ByteReader() = default;
    explicit ByteReader(std::span<const uint8_t> bytes, bool big_endian = false)
        : m_bytes(bytes), m_bigEndian(big_endian) {}

    bool Ok() const { return m_ok; }
    // Marks the data as rejected, for parsers that find a field they cannot accept.
    void Fail() { m_ok = false; }
    size_t Offset() const { return m_offset; }
    size_t Size() const { return m_bytes.size(); }
    size_t Remaining() const { return m_ok ? m_bytes.size() - m_offset : 0; }
    void SetBigEndian(bool big_endian) { m_bigEndian = big_endian; }

    // ---- at the current offset, moving past what was read ----

    uint8_t U8() { return Next<uint8_t>(); }
    uint16_t U16() { return Next<uint16_t>(); }
    uint32_t U32() { return Next<uint32_t>(); }
    uint64_t U64() { return Next<uint64_t>(); }
    int8_t I8() { return int8_t(U8()); }
    int16_t I16() { return int16_t(U16()); }
    int32_t I32() { return int32_t(U32()); }
    int64_t I64() { return int64_t(U64()); }

    void Skip(size_t count) {
        if (Need(m_offset, count)) m_offset += count;
    }
    // Moves to an absolute offset; fails when it lies beyond the end.
    void Seek(size_t offset) {
        if (Need(offset, 0)) m_offset = offset;
    }
    // The next `count` bytes, or an empty span (and failure) when there are fewer.
    std::span<const uint8_t> Bytes(size_t count) {
        if (!Need(m_offset, count)) return {};
        auto view = m_bytes.subspan(m_offset, count);
        m_offset += count;
        return view;
    }
    // A fixed-size field copied out (class identifiers, palettes); zeros on failure.
    template <size_t N>
    std::array<uint8_t, N> Array() {
        std::array<uint8_t, N> out{};
        std::span<const uint8_t> view = Bytes(N);
        if (!view.empty()) std::copy(view.begin(), view.end(), out.begin());
        return out;
    }
    // Reads as many bytes as `expected` holds and tells whether they are equal to it; only
    // running out of data fails the reader, a mismatch is the caller's to judge.
    bool Match(std::span<const uint8_t> expected) {
        std::span<const uint8_t> view = Bytes(expected.size());
        return m_ok && std::equal(view.begin(), view.end(), expected.begin(), expected.end());
    }
    bool Match(std::string_view expected) {
        return Match(std::span(reinterpret_cast<const uint8_t*>(expected.data()), expected.size()));
    }
    // An 8-bit text ending with a NUL, without it; fails when no NUL comes before the end.
    std::string_view CString() {
        if (!m_ok) return {};
        std::span<const uint8_t> rest = m_bytes.subspan(m_offset);
        const auto* nul =
            rest.empty() ? nullptr
                         : static_cast<const uint8_t*>(std::memchr(rest.data(), 0, rest.size()));
        if (nul == nullptr) {
            m_ok = false;
            return {};
        }
        size_t length = size_t(nul - rest.data());
        m_offset += length + 1;
        return {reinterpret_cast<const char*>(rest.data()), length};
    }
    // `units` UTF-16 code units in the reader's byte order.
    std::u16string Utf16(size_t units) {
        if (units > Remaining() / 2) {
            m_ok = false;
            return {};
        }
        std::u16string text(units, u'\0');
        for (char16_t& unit : text)
            unit = char16_t(U16());
        return text;
    }
    // UTF-16 code units up to a zero unit, without it; fails when none comes before the end.
    std::u16string Utf16CString() {
        std::u16string text;
        for (char16_t unit = char16_t(U16()); m_ok && unit != 0; unit = char16_t(U16()))
            text.push_back(unit);
        if (!m_ok) text.clear();
        return text;
    }

    // ---- at an absolute offset, leaving the current one where it is ----

    uint8_t U8At(size_t offset) { return At<uint8_t>(offset); }
    uint16_t U16At(size_t offset) { return At<uint16_t>(offset); }
    uint32_t U32At(size_t offset) { return At<uint32_t>(offset); }
    uint64_t U64At(size_t offset) { return At<uint64_t>(offset); }
    int16_t I16At(size_t offset) { return int16_t(U16At(offset)); }
    int32_t I32At(size_t offset) { return int32_t(U32At(offset)); }

    // A reader over `count` bytes from `offset`, in this reader's byte order, its offsets
    // counted from its own start. When the range does not fit, this reader fails and so
    // does the one returned (which is empty).
    ByteReader Sub(size_t offset, size_t count) {
        if (!Need(offset, count)) return Failed();
        return ByteReader(m_bytes.subspan(offset, count), m_bigEndian);
    }
    // The next `count` bytes as a reader of their own, moving past them.
    ByteReader Take(size_t count) {
        ByteReader sub = Sub(m_offset, count);
        if (m_ok) m_offset += count;
        return sub;
    }

private:
    // Whether `count` bytes from `offset` lie inside the data; fails the reader otherwise.
    bool Need(size_t offset, size_t count) {
        if (!m_ok || offset > m_bytes.size() || count > m_bytes.size() - offset) {
            m_ok = false;
            return false;
        }
        return true;
    }
    template <typename T>
    T At(size_t offset) {
        if (!Need(offset, sizeof(T))) return 0;
        const uint8_t* p = m_bytes.data() + offset;
        T value = 0;
        for (size_t i = 0; i < sizeof(T); ++i) {
            size_t shift = 8 * (m_bigEndian ? sizeof(T) - 1 - i : i);
            value = T(value | T(T(p[i]) << shift));
        }
        return value;
    }
    template <typename T>
    T Next() {
        T value = At<T>(m_offset);
        if (m_ok) m_offset += sizeof(T);
        return value;
    }
    static ByteReader Failed() {
        ByteReader reader;
        reader.m_ok = false;
        return reader;
    }

    std::span<const uint8_t> m_bytes;
    size_t m_offset = 0;
    bool m_bigEndian = false;
    bool m_ok = true;
};

}  // namespace scopa

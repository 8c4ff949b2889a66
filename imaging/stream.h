// Byte streams the filters read and write: files and memory blocks.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

namespace scopa {

class vSTREAM {
public:
    virtual ~vSTREAM() = default;
    // Copies up to `bytes` bytes; returns how many were read (0 at the end or on error).
    virtual size_t Read(void* buffer, size_t bytes) = 0;
    virtual bool Write(const void* buffer, size_t bytes) = 0;
    virtual bool Seek(uint64_t offset) = 0;
    virtual uint64_t Tell() const = 0;
    virtual uint64_t Size() const = 0;

    bool MoveFromStart(uint64_t offset) { return Seek(offset); }
    bool ReadExact(void* buffer, size_t bytes) { return Read(buffer, bytes) == bytes; }
    // The rest of the stream from the current position, unless it is longer than `max_bytes`
    // (then false and `out` empty).
    bool ReadRest(std::vector<uint8_t>& out, uint64_t max_bytes);
};

// A file opened for reading (kModeRead) or created for writing (kModeCreate). A created file is
// written under a temporary name and takes its real name only at Commit, so a failed write
// never leaves a half-written picture in place of a good one.
class vFILE : public vSTREAM {
public:
    static constexpr uint32_t kModeRead = 0x80000000;
    static constexpr uint32_t kModeCreate = 5;

    vFILE(const std::string& path, uint32_t mode);
    ~vFILE() override;
    vFILE(const vFILE&) = delete;
    vFILE& operator=(const vFILE&) = delete;

    // Non-zero after a failed open.
    int Error() const { return m_file == nullptr ? 1 : 0; }
    const std::string& Path() const { return m_path; }
    // Moves a created file to its name; false when writing or renaming failed.
    bool Commit();
    // Closes the file; an uncommitted created file is removed.
    void Close();

    size_t Read(void* buffer, size_t bytes) override;
    bool Write(const void* buffer, size_t bytes) override;
    bool Seek(uint64_t offset) override;
    uint64_t Tell() const override;
    uint64_t Size() const override;

private:
    std::string m_path;
    std::string m_temporaryPath;
    std::FILE* m_file = nullptr;
    bool m_writeFailed = false;
    uint64_t m_size = 0;
};

// A stream over memory: a read-only view of caller's bytes, or (default-constructed) a
// growable block that writes append to.
class vMEMSTREAM : public vSTREAM {
public:
    vMEMSTREAM() = default;
    explicit vMEMSTREAM(std::span<const uint8_t> bytes) : m_view(bytes), m_readOnly(true) {}

    std::span<const uint8_t> Data() const { return m_readOnly ? m_view : m_owned; }
    std::vector<uint8_t> TakeData() { return std::move(m_owned); }

    size_t Read(void* buffer, size_t bytes) override;
    bool Write(const void* buffer, size_t bytes) override;
    bool Seek(uint64_t offset) override;
    uint64_t Tell() const override { return m_position; }
    uint64_t Size() const override { return Data().size(); }

private:
    std::span<const uint8_t> m_view;
    std::vector<uint8_t> m_owned;
    bool m_readOnly = false;
    uint64_t m_position = 0;
};

}  // namespace scopa

namespace scopa {

// Byte-at-a-time reading of a stream through a buffer, for run-length decoders.
class BufferedReader {
public:
    explicit BufferedReader(vSTREAM& stream) : m_stream(stream) {}
    // The next byte, or -1 at the end of the stream.
    int Next() {
        if (m_position == m_count) {
            m_count = m_stream.Read(m_buffer, sizeof m_buffer);
            m_position = 0;
            if (m_count == 0) return -1;
        }
        return m_buffer[m_position++];
    }
    // Fills `bytes` completely, or returns false at the end of the stream.
    bool Read(uint8_t* bytes, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            int byte = Next();
            if (byte < 0) return false;
            bytes[i] = uint8_t(byte);
        }
        return true;
    }

private:
    vSTREAM& m_stream;
    uint8_t m_buffer[64 * 1024];
    size_t m_position = 0;
    size_t m_count = 0;
};

}  // namespace scopa

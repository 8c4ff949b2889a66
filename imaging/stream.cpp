#include "imaging/stream.h"

#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>

#include "platform/regular_file.h"

namespace scopa {

bool vSTREAM::ReadRest(std::vector<uint8_t>& out, uint64_t max_bytes) {
    out.clear();
    uint64_t size = Size(), position = Tell();
    if (position > size || size - position > max_bytes) return false;
    out.resize(size_t(size - position));
    if (!ReadExact(out.data(), out.size())) {
        out.clear();
        return false;
    }
    return true;
}

vFILE::vFILE(const std::string& path, uint32_t mode) : m_path(path) {
    if (mode == kModeCreate) {
        static std::atomic<unsigned> counter{0};
        m_temporaryPath =
            path + ".tmp" + std::to_string(getpid()) + "-" + std::to_string(counter++);
        m_file = std::fopen(m_temporaryPath.c_str(), "wb+");
        return;
    }
    m_file = OpenRegularFileStream(path);
    if (m_file != nullptr && std::fseek(m_file, 0, SEEK_END) == 0) {
        long end = std::ftell(m_file);
        m_size = end > 0 ? uint64_t(end) : 0;
        std::fseek(m_file, 0, SEEK_SET);
    }
}

vFILE::~vFILE() {
    Close();
}

bool vFILE::Commit() {
    if (m_file == nullptr || m_temporaryPath.empty()) return false;
    bool ok = !m_writeFailed && std::fflush(m_file) == 0;
    ok = std::fclose(m_file) == 0 && ok;
    m_file = nullptr;
    if (ok) ok = std::rename(m_temporaryPath.c_str(), m_path.c_str()) == 0;
    if (!ok) std::remove(m_temporaryPath.c_str());
    m_temporaryPath.clear();
    return ok;
}

void vFILE::Close() {
    if (m_file == nullptr) return;
    std::fclose(m_file);
    m_file = nullptr;
    if (!m_temporaryPath.empty()) std::remove(m_temporaryPath.c_str());
    m_temporaryPath.clear();
}

size_t vFILE::Read(void* buffer, size_t bytes) {
    if (m_file == nullptr) return 0;
    return std::fread(buffer, 1, bytes, m_file);
}

bool vFILE::Write(const void* buffer, size_t bytes) {
    if (m_file == nullptr || std::fwrite(buffer, 1, bytes, m_file) != bytes) {
        m_writeFailed = true;
        return false;
    }
    m_size = std::max<uint64_t>(m_size, Tell());
    return true;
}

bool vFILE::Seek(uint64_t offset) {
    return m_file != nullptr && offset <= uint64_t(INT64_MAX) &&
           fseeko(m_file, off_t(offset), SEEK_SET) == 0;
}

uint64_t vFILE::Tell() const {
    if (m_file == nullptr) return 0;
    off_t position = ftello(m_file);
    return position < 0 ? 0 : uint64_t(position);
}

uint64_t vFILE::Size() const {
    return m_size;
}

size_t vMEMSTREAM::Read(void* buffer, size_t bytes) {
    std::span<const uint8_t> data = Data();
    if (bytes == 0 || m_position >= data.size()) return 0;
    size_t count = std::min<uint64_t>(bytes, data.size() - m_position);
    std::memcpy(buffer, data.data() + m_position, count);
    m_position += count;
    return count;
}

bool vMEMSTREAM::Write(const void* buffer, size_t bytes) {
    if (m_readOnly) return false;
    if (bytes == 0) return true;
    if (m_position + bytes > m_owned.size()) m_owned.resize(size_t(m_position + bytes));
    std::memcpy(m_owned.data() + m_position, buffer, bytes);
    m_position += bytes;
    return true;
}

bool vMEMSTREAM::Seek(uint64_t offset) {
    if (offset > Data().size()) return false;
    m_position = offset;
    return true;
}

}  // namespace scopa

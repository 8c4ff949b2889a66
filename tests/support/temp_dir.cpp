#include "support/temp_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "platform/registry.h"

namespace scopa::test {

namespace fs = std::filesystem;

namespace {

fs::path TestTempRoot() {
    if (const char* root = std::getenv("SCOPA_TEST_TMP"); root != nullptr && *root != '\0') {
        return root;
    }
    return fs::temp_directory_path();
}

void SetOrUnset(const char* name, bool had, const std::string& value) {
    if (had) {
        setenv(name, value.c_str(), 1);
    } else {
        unsetenv(name);
    }
}

}  // namespace

ScopedTempDir::ScopedTempDir() {
    fs::path root = TestTempRoot();
    fs::create_directories(root);
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path candidate = root / ("scopa-test-" + std::to_string(getpid()) + "-" +
                                     std::to_string(random() % 1000000000u));
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            m_path = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder under " + root.string());
}

ScopedTempDir::~ScopedTempDir() {
    std::error_code error;
    // Make everything writable again so read-only fixtures can be removed too.
    for (auto it = fs::recursive_directory_iterator(m_path, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
    }
    fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, error);
    fs::remove_all(m_path, error);
}

void WriteFileBytes(const fs::path& path, const std::string& bytes) {
    if (path.has_parent_path()) fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

void WriteSizedFile(const fs::path& path, std::uint64_t size, std::int64_t time) {
    WriteFileBytes(path, "");
    if (truncate(path.c_str(), static_cast<off_t>(size)) != 0) {
        throw std::runtime_error("cannot size " + path.string());
    }
    SetModifiedTime(path, time);
}

void SetModifiedTime(const fs::path& path, std::int64_t time) {
    timespec times[2] = {{time, 0}, {time, 0}};
    if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
        throw std::runtime_error("cannot set the time of " + path.string());
    }
}

std::string ReadFileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

ScopedUtc::ScopedUtc() {
    if (const char* tz = std::getenv("TZ")) {
        m_had = true;
        m_saved = tz;
    }
    setenv("TZ", "UTC", 1);
    tzset();
}

ScopedUtc::~ScopedUtc() {
    SetOrUnset("TZ", m_had, m_saved);
    tzset();
}

SandboxedEnvironment::SandboxedEnvironment() {
    if (const char* value = std::getenv("SCOPA_REGISTRY_DIR")) {
        m_had_registry = true;
        m_saved_registry = value;
    }
    if (const char* value = std::getenv("XDG_CACHE_HOME")) {
        m_had_cache = true;
        m_saved_cache = value;
    }
    setenv("SCOPA_REGISTRY_DIR", registry_dir().c_str(), 1);
    setenv("XDG_CACHE_HOME", cache_dir().c_str(), 1);
    RegistryResetStore();
}

SandboxedEnvironment::~SandboxedEnvironment() {
    SetOrUnset("SCOPA_REGISTRY_DIR", m_had_registry, m_saved_registry);
    SetOrUnset("XDG_CACHE_HOME", m_had_cache, m_saved_cache);
    RegistryResetStore();
}

}  // namespace scopa::test

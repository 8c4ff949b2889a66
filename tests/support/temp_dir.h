// A temporary folder for one test, removed with everything in it when the test ends.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace scopa::test {

class ScopedTempDir {
public:
    ScopedTempDir();
    ~ScopedTempDir();
    ScopedTempDir(const ScopedTempDir&) = delete;
    ScopedTempDir& operator=(const ScopedTempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

// Writes `bytes` to `path`, creating parent folders.
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);
// Makes a file of `size` bytes (sparse, so sizes beyond 4 GiB cost nothing) modified at
// `time` (seconds since 1970).
void WriteSizedFile(const std::filesystem::path& path, std::uint64_t size, std::int64_t time);
// Sets the modification time of a file or folder.
void SetModifiedTime(const std::filesystem::path& path, std::int64_t time);
// The whole content of a file, or an empty string when it cannot be read.
std::string ReadFileBytes(const std::filesystem::path& path);

// Local time is UTC for the lifetime of the object.
class ScopedUtc {
public:
    ScopedUtc();
    ~ScopedUtc();
    ScopedUtc(const ScopedUtc&) = delete;
    ScopedUtc& operator=(const ScopedUtc&) = delete;

private:
    bool m_had = false;
    std::string m_saved;
};

// Points the process's configuration (registry store, cache folder) into a fresh temporary
// folder for the lifetime of the object, and restores the previous environment afterwards.
// The registry store is forgotten at both ends, so it is read from the folder in force.
class SandboxedEnvironment {
public:
    SandboxedEnvironment();
    ~SandboxedEnvironment();
    SandboxedEnvironment(const SandboxedEnvironment&) = delete;
    SandboxedEnvironment& operator=(const SandboxedEnvironment&) = delete;

    const std::filesystem::path& root() const { return m_dir.path(); }
    std::filesystem::path registry_dir() const { return m_dir.path() / "registry"; }
    std::filesystem::path cache_dir() const { return m_dir.path() / "cache"; }

private:
    ScopedTempDir m_dir;
    std::string m_saved_registry;
    std::string m_saved_cache;
    bool m_had_registry = false;
    bool m_had_cache = false;
};

}  // namespace scopa::test

// A temporary folder for one test, removed with everything in it when the test ends.
#pragma once

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
// The whole content of a file, or an empty string when it cannot be read.
std::string ReadFileBytes(const std::filesystem::path& path);

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

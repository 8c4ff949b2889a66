#include "platform/folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace scopa {

namespace {

std::string EnvironmentText(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string XdgFolder(const char* variable, const char* fallback_under_home) {
    std::string base = EnvironmentText(variable);
    if (base.empty() || base[0] != '/') base = HomeFolder() + "/" + fallback_under_home;
    return WithoutTrailingSlash(base) + "/scopa";
}

}  // namespace

std::string TemporaryFolder() {
    std::string folder = EnvironmentText("TMPDIR");
    return folder.empty() ? std::string("/tmp") : WithoutTrailingSlash(folder);
}

std::string HomeFolder() {
    std::string home = EnvironmentText("HOME");
    if (!home.empty()) return WithoutTrailingSlash(home);
    if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) {
        return WithoutTrailingSlash(entry->pw_dir);
    }
    return "/";
}

std::string DefaultConfigFolder() {
    return XdgFolder("XDG_CONFIG_HOME", ".config");
}

std::string DefaultCacheFolder() {
    return XdgFolder("XDG_CACHE_HOME", ".cache");
}

std::vector<std::string> ProgramFolders() {
    std::vector<std::string> folders;
    std::error_code error;
    std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) folders.push_back(executable.parent_path().string());
    // SCOPA_DATA_DIR in the environment stands for an installation elsewhere (tests, a
    // program run from its build tree with its data installed apart).
    std::string data = EnvironmentText("SCOPA_DATA_DIR");
    folders.push_back(!data.empty() && data[0] == '/' ? WithoutTrailingSlash(data)
                                                      : std::string(SCOPA_DATA_DIR));
    return folders;
}

std::string FindProgramFile(std::string_view file_name) {
    for (const std::string& folder : ProgramFolders()) {
        std::string candidate = folder + "/" + std::string(file_name);
        if (access(candidate.c_str(), R_OK) == 0) return candidate;
    }
    return {};
}

bool IsHiddenName(std::string_view name) {
    return !name.empty() && name[0] == '.';
}

}  // namespace scopa

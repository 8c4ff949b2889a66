#include "shell/file_status.h"

#include <sys/stat.h>
#include <unistd.h>

#include "platform/folders.h"

namespace scopa {

bool GetFileStatus(const std::string& path, FileStatus& status) {
    if (path.empty()) return false;
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return false;
    status = FileStatusOf(info, path);
    return true;
}

FileStatus FileStatusOf(const struct stat& info, std::string_view path) {
    FileStatus read;
    read.created = static_cast<std::int64_t>(info.st_ctime);
    read.modified = static_cast<std::int64_t>(info.st_mtime);
    read.accessed = static_cast<std::int64_t>(info.st_atime);
    read.size = S_ISREG(info.st_mode) ? static_cast<std::uint64_t>(info.st_size) : 0;
    std::string_view name = path;
    if (size_t slash = name.rfind('/'); slash != std::string_view::npos) {
        name.remove_prefix(slash + 1);
    }
    if (IsHiddenName(name)) read.attributes |= kFileAttributeHidden;
    read.attributes |= S_ISDIR(info.st_mode) ? kFileAttributeDirectory : kFileAttributeArchive;
    if ((info.st_mode & S_IWUSR) == 0) read.attributes |= kFileAttributeReadOnly;
    return read;
}

}  // namespace scopa

#include "platform/volumes.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>

#include "platform/loaded_libraries.h"
#include "platform/mount_watch.h"
#include "platform/text.h"

namespace scopa {

namespace {

namespace fs = std::filesystem;

constexpr std::array<std::string_view, 12> kNetworkFileSystems = {
    "nfs", "nfs4", "cifs",      "smb3",  "smbfs",      "9p",
    "afs", "ceph", "glusterfs", "sshfs", "fuse.sshfs", "davfs"};

// udev writes unsafe bytes of labels as \xNN.
std::string UnescapeHex(std::string_view text) {
    std::string result;
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' && hex(text[i + 2]) >= 0 &&
            hex(text[i + 3]) >= 0) {
            result.push_back(char(hex(text[i + 2]) * 16 + hex(text[i + 3])));
            i += 3;
            continue;
        }
        result.push_back(text[i]);
    }
    return result;
}

bool IsNetworkFileSystem(std::string_view fs_type) {
    return std::find(kNetworkFileSystems.begin(), kNetworkFileSystems.end(), fs_type) !=
           kNetworkFileSystems.end();
}

bool IsRemovableBlockDevice(const std::string& device) {
    std::error_code error;
    fs::path resolved = fs::canonical(device, error);
    if (error) return false;
    // /sys/class/block/<name>/removable exists for whole disks; partitions ask their parent.
    fs::path block = fs::path("/sys/class/block") / resolved.filename();
    for (fs::path candidate : {block / "removable", block / ".." / "removable"}) {
        std::ifstream in(candidate);
        char flag = '0';
        if (in >> flag) return flag == '1';
    }
    return false;
}

DriveType TypeOf(const MountEntry& mount) {
    if (mount.fs_type == "iso9660" || mount.fs_type == "udf") return DriveType::CdRom;
    if (IsNetworkFileSystem(mount.fs_type)) return DriveType::Remote;
    if (IsRemovableBlockDevice(mount.source)) return DriveType::Removable;
    return DriveType::Fixed;
}

std::string SystemLabelOf(const MountEntry& mount) {
    if (mount.source.rfind("/dev/", 0) != 0) return {};
    std::string label = LabelFromLabelFolder("/dev/disk/by-label", mount.source);
    if (!label.empty()) return label;
    // The blkid cache answers without probing when it knows the device; probing the device
    // itself works when we may read it.
    if (!LoadBlkid()) return label;
    blkid_cache cache = nullptr;
    if (Blkid().get_cache(&cache, nullptr) == 0) {
        if (char* value = Blkid().get_tag_value(cache, "LABEL", mount.source.c_str())) {
            label = value;
            free(value);
        }
        Blkid().put_cache(cache);
    }
    return label;
}

bool PathIsInside(std::string_view path, std::string_view mount_point) {
    if (mount_point == "/") return !path.empty() && path[0] == '/';
    if (path.size() < mount_point.size() || path.compare(0, mount_point.size(), mount_point) != 0) {
        return false;
    }
    return path.size() == mount_point.size() || path[mount_point.size()] == '/';
}

}  // namespace

std::vector<MountEntry> ReadMountTable(const std::string& mountinfo_path) {
    std::vector<MountEntry> mounts;
    if (!LoadMount()) return mounts;
    const MountLibrary& mount = Mount();
    std::unique_ptr<libmnt_table, decltype(mount.unref_table)> table(mount.new_table(),
                                                                     mount.unref_table);
    std::unique_ptr<libmnt_iter, decltype(mount.free_iter)> iter(mount.new_iter(MNT_ITER_FORWARD),
                                                                 mount.free_iter);
    if (!table || !iter) return mounts;
    // Lines libmount cannot read are skipped; what it read before and after them is kept.
    if (mountinfo_path.empty()) {
        mount.table_parse_mtab(table.get(), nullptr);
    } else {
        mount.table_parse_file(table.get(), mountinfo_path.c_str());
    }
    libmnt_fs* fs = nullptr;
    while (mount.table_next_fs(table.get(), iter.get(), &fs) == 0) {
        const char* target = mount.fs_get_target(fs);
        if (target == nullptr || target[0] != '/') continue;
        const char* fs_type = mount.fs_get_fstype(fs);
        const char* source = mount.fs_get_source(fs);
        mounts.push_back(
            {target, fs_type != nullptr ? fs_type : "", source != nullptr ? source : ""});
    }
    return mounts;
}

std::string LabelFromLabelFolder(const std::string& label_folder, const std::string& device) {
    std::error_code error;
    fs::path wanted = fs::weakly_canonical(device, error);
    if (error) return {};
    for (const auto& entry : fs::directory_iterator(label_folder, error)) {
        std::error_code link_error;
        fs::path target = fs::weakly_canonical(entry.path(), link_error);
        if (!link_error && target == wanted) return UnescapeHex(entry.path().filename().string());
    }
    return {};
}

std::vector<Volume> VolumesFromMounts(const std::vector<MountEntry>& mounts,
                                      std::string (*label_of)(const MountEntry&)) {
    std::map<std::string, Volume> by_mount_point;
    for (const MountEntry& mount : mounts) {
        bool real = mount.mount_point == "/" || mount.source.rfind("/dev/", 0) == 0 ||
                    IsNetworkFileSystem(mount.fs_type);
        if (!real) {
            by_mount_point.erase(mount.mount_point);  // a pseudo file system hides what was there
            continue;
        }
        // Containers bind single files (/etc/hosts) from the root device: those are no volumes.
        struct stat info {};
        if (mount.mount_point != "/" &&
            (stat(mount.mount_point.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))) {
            continue;
        }
        Volume volume;
        volume.mount_point = mount.mount_point;
        volume.device = mount.source;
        volume.fs_type = mount.fs_type;
        volume.type = TypeOf(mount);
        if (label_of != nullptr) volume.label = label_of(mount);
        by_mount_point[volume.mount_point] = std::move(volume);
    }
    std::vector<Volume> volumes;
    for (auto& [mount_point, volume] : by_mount_point)
        volumes.push_back(std::move(volume));
    return volumes;  // std::map order puts "/" first
}

namespace {

constexpr auto kMountWatchInterval = std::chrono::milliseconds(100);

// The mount table as last read, with and without labels (labels cost a folder scan per
// volume, so they are read only when asked for). Both are read again only after the kernel
// reported a change of the mount table.
struct MountTableCache {
    std::mutex mutex;
    MountTableWatch watch;
    std::optional<std::vector<MountEntry>> mounts;
    std::chrono::steady_clock::time_point asked;
    std::shared_ptr<const std::vector<Volume>> plain;
    std::shared_ptr<const std::vector<Volume>> labelled;
};

MountTableCache& TheMountTableCache() {
    static MountTableCache cache;
    return cache;
}

// The current list, shared so that asking for it copies nothing.
std::shared_ptr<const std::vector<Volume>> CurrentVolumes(bool with_labels) {
    MountTableCache& cache = TheMountTableCache();
    std::lock_guard lock(cache.mutex);
    // Parsing a folder of paths asks thousands of times in a row; the kernel is asked at most
    // once per interval, and a disk mounted meanwhile is seen at the next ask after it.
    auto now = std::chrono::steady_clock::now();
    bool ask = !cache.mounts || now - cache.asked >= kMountWatchInterval;
    if (ask) cache.asked = now;
    if (!cache.mounts || (ask && cache.watch.Changed())) {
        cache.mounts = ReadMountTable();
        cache.plain.reset();
        cache.labelled.reset();
    }
    std::shared_ptr<const std::vector<Volume>>& volumes =
        with_labels ? cache.labelled : cache.plain;
    if (!volumes) {
        volumes = std::make_shared<const std::vector<Volume>>(
            VolumesFromMounts(*cache.mounts, with_labels ? &SystemLabelOf : nullptr));
    }
    return volumes;
}

}  // namespace

std::vector<Volume> MountedVolumes(bool with_labels) {
    return *CurrentVolumes(with_labels);
}

std::vector<Volume> ListVolumes() {
    return MountedVolumes(true);
}

std::optional<Volume> VolumeOfPath(std::string_view path, const std::vector<Volume>& volumes) {
    const Volume* best = nullptr;
    for (const Volume& volume : volumes) {
        if (PathIsInside(path, volume.mount_point) &&
            (best == nullptr || volume.mount_point.size() > best->mount_point.size())) {
            best = &volume;
        }
    }
    if (best == nullptr) return std::nullopt;
    return *best;
}

std::optional<Volume> VolumeOfPath(std::string_view path) {
    return VolumeOfPath(path, *CurrentVolumes(false));
}

std::optional<Volume> FindVolumeByLabel(std::string_view label) {
    if (label.empty()) return std::nullopt;
    for (Volume& volume : ListVolumes()) {
        if (EqualsNoCase(volume.label, label)) return std::move(volume);
    }
    return std::nullopt;
}

bool IsDriveRoot(std::string_view path) {
    for (const Volume& volume : *CurrentVolumes(false)) {
        if (volume.mount_point == path) return true;
    }
    return false;
}

}  // namespace scopa

// Mounted volumes: what the system calls drives. A drive is a mounted volume, its drive text
// is its mount point and a drive root is a mount point. The list holds the root file system
// and the real (block-device or network) file systems, never pseudo file systems.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scopa {

enum class DriveType {
    Fixed,
    Removable,  // the block device says it is removable (USB sticks, card readers)
    CdRom,      // iso9660 or udf file systems
    Remote,     // network file systems
};

struct Volume {
    std::string mount_point;  // absolute, no trailing '/' except for "/" itself
    std::string device;       // the mount source, e.g. "/dev/sdb1"
    std::string fs_type;      // "ext4", "iso9660", ...
    std::string label;        // the file-system label, empty when it has none
    DriveType type = DriveType::Fixed;

    bool IsCdRom() const { return type == DriveType::CdRom; }
};

// One mount of a mount table.
struct MountEntry {
    std::string mount_point;
    std::string fs_type;
    std::string source;
};

// The mounts of a table in the kernel's mountinfo format, read by libmount (which undoes the
// table's escapes, "\040" for a space): this process's own table when `mountinfo_path` is
// empty. Lines libmount cannot read and mount points that are not absolute are left out.
std::vector<MountEntry> ReadMountTable(const std::string& mountinfo_path = {});

// Labels by device: reads a folder laid out like /dev/disk/by-label (label names with \xNN
// escapes, symbolic links to devices) and returns the label of `device`, or "".
std::string LabelFromLabelFolder(const std::string& label_folder, const std::string& device);

// The volumes a mount table describes, sorted by mount point ("/" first). Pseudo file
// systems, mounts of single files and hidden duplicates are left out; when two mounts share a
// mount point the later one wins, as the kernel shows it. `label_of` gives each volume's label.
std::vector<Volume> VolumesFromMounts(const std::vector<MountEntry>& mounts,
                                      std::string (*label_of)(const MountEntry&) = nullptr);

// The machine's mounted volumes from this process's mount table, with their labels or without. The
// table is read once and again only after the kernel reported a change (a disk mounted or
// unmounted), so asking often costs a poll() and a copy.
std::vector<Volume> MountedVolumes(bool with_labels);
// The mounted volumes with their labels.
std::vector<Volume> ListVolumes();

// The volume that holds `path` (longest mount point that contains it), if any.
std::optional<Volume> VolumeOfPath(std::string_view path, const std::vector<Volume>& volumes);
std::optional<Volume> VolumeOfPath(std::string_view path);

// The first mounted volume whose label equals `label` (compared without ASCII case), if any.
std::optional<Volume> FindVolumeByLabel(std::string_view label);

// Finds the mounted volume with a label (FindVolumeByLabel unless a caller knows better).
using VolumeFinder = std::function<std::optional<Volume>(std::string_view label)>;

// True when `path` is the mount point of a volume (a "drive root").
bool IsDriveRoot(std::string_view path);

}  // namespace scopa

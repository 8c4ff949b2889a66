#include "shell/insert_disk.h"

#include "platform/text.h"
#include "platform/volumes.h"
#include "shell/file_status.h"

namespace scopa {

CInsertCDRom::CInsertCDRom(std::string label, std::string drive, std::string path_on_disk)
    : m_strLabel(std::move(label)),
      m_strDrive(std::move(drive)),
      m_strPath(std::move(path_on_disk)),
      m_strLocation(m_strDrive + m_strPath),
      m_pathOnDisk(m_strPath) {
    m_strPath = ToUpperAscii(m_strPath);
}

void CInsertCDRom::SetLocation(std::string location) {
    m_strLocation = std::move(location);
    UpdateData();
}

bool CInsertCDRom::OnTimer() {
    UpdateData();
    std::optional<Volume> volume = m_finder ? m_finder(m_strLabel) : FindVolumeByLabel(m_strLabel);
    if (!volume) return false;
    std::string candidate =
        (volume->mount_point == "/" ? std::string() : volume->mount_point) + m_pathOnDisk;
    FileStatus status;
    if (!GetFileStatus(candidate, status)) return false;
    SetLocation(candidate);
    return m_okEnabled;
}

bool CInsertCDRom::OnOk() {
    UpdateData();
    return m_okEnabled;
}

std::string CInsertCDRom::GetPromptText() const {
    std::string_view format = kInsertDiskPromptFormat;
    size_t slot = format.find("%s");
    return std::string(format.substr(0, slot)) + m_strLabel + std::string(format.substr(slot + 2));
}

// An existing location enables OK; the drive is what stands before the path on the disk in
// it, when the path is found there after the first character (else the drive is kept).
void CInsertCDRom::UpdateData() {
    FileStatus status;
    if (!GetFileStatus(m_strLocation, status)) {
        m_okEnabled = false;
        return;
    }
    size_t position =
        m_strPath.empty() ? std::string::npos : ToUpperAscii(m_strLocation).find(m_strPath);
    if (position != std::string::npos && position > 0) {
        m_strDrive = m_strLocation.substr(0, position);
    }
    m_okEnabled = true;
}

std::string FirstCdRomDrive() {
    for (const Volume& volume : ListVolumes()) {
        if (volume.IsCdRom()) return volume.mount_point;
    }
    return {};
}

std::string FindFolderOnDisk(const std::string& label, const std::string& path_on_disk,
                             std::map<std::string, std::string>& include_drives,
                             const InsertDiskPrompt& prompt, const VolumeFinder& finder) {
    std::optional<Volume> mounted = finder ? finder(label) : FindVolumeByLabel(label);
    auto remembered = include_drives.find(label);
    std::string drive = mounted ? mounted->mount_point
                        : remembered != include_drives.end() && !remembered->second.empty()
                            ? remembered->second
                            : FirstCdRomDrive();
    bool known = mounted || !drive.empty();
    while (true) {
        std::string candidate = known ? drive + path_on_disk : std::string();
        FileStatus status;
        if (known && GetFileStatus(candidate, status)) {
            if (!drive.empty()) include_drives[label] = drive;
            return candidate;
        }
        CInsertCDRom dialog(label, drive, path_on_disk);
        dialog.OnInitDialog();
        if (!prompt || !prompt(dialog)) return candidate;
        drive = dialog.m_strDrive;
        known = true;
    }
}

}  // namespace scopa

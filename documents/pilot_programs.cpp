#include "documents/pilot_programs.h"

#include <cstdio>

#include "platform/text.h"

namespace scopa {

bool HasPilotVersionMark(const PeResources& resources, std::string_view application_tag) {
    std::optional<std::vector<uint8_t>> block = resources.Find(kResourceTypeVersion, 1);
    if (!block) block = resources.FindFirst(kResourceTypeVersion);
    FileVersionInfo info;
    if (!block || !info.Parse(*block)) return false;
    for (uint32_t translation : info.Translations()) {
        char path[64];
        std::snprintf(path, sizeof(path), "\\StringFileInfo\\%.4x%.4x\\Comments",
                      unsigned(translation & 0xFFFF), unsigned(translation >> 16));
        std::optional<std::string> comments = info.QueryString(path);
        if (comments && comments->find(application_tag) != std::string::npos) return true;
    }
    return false;
}

std::string PilotRegistryKey(std::string_view path, std::string_view registry_path) {
    size_t slash = path.find_last_of("/\\");
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    size_t dot = name.rfind('.');
    if (dot != std::string_view::npos) name = name.substr(0, dot);
    return std::string(registry_path) + std::string(name);
}

bool LoadPilotBitmap(const PeResources& resources, DocumentPreview* preview) {
    std::optional<std::vector<uint8_t>> dib = resources.Find(kResourceTypeBitmap, kPilotBitmapId);
    return dib && DecodePackedDib(*dib, preview);
}

bool IsPilot(const std::string& path, std::string_view application_tag,
             std::string_view registry_path, const RegistryKeyExists& registry_key_exists) {
    if (!EndsWithNoCase(path, ".EXE") && !EndsWithNoCase(path, ".DLL")) return false;
    std::unique_ptr<PeResources> resources = PeResources::Open(path);
    if (!resources) return false;
    bool marked =
        HasPilotVersionMark(*resources, application_tag) ||
        (registry_key_exists && registry_key_exists(PilotRegistryKey(path, registry_path)));
    DocumentPreview bitmap;
    return marked && LoadPilotBitmap(*resources, &bitmap);
}

bool MakePilotPreview(const std::string& path, DocumentPreview* preview) {
    std::unique_ptr<PeResources> resources = PeResources::Open(path);
    return resources && LoadPilotBitmap(*resources, preview);
}

}  // namespace scopa

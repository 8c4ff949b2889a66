#include "view/drag_data.h"

#include <glib.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <new>

#include "imaging/filter.h"
#include "imaging/picture.h"
#include "imaging/stream.h"
#include "platform/loaded_libraries.h"
#include "platform/text.h"
#include "platform/user_interface.h"
#include "prefs/control_prefs.h"

namespace scopa {
namespace {

// The filter type of a file by its content; kFilterTypeNone also when it cannot be opened.
bool IdentifyFilterType(const std::string& path, oFILTER_TYPE& type) {
    vFILE file(path, vFILE::kModeRead);
    if (file.Error()) return false;
    oFILTER* filter = nullptr;
    type = oFILTERLIST::GetFilter(file, filter);
    return true;
}

// Writes a loaded picture through the filter `id` into memory.
bool EncodeThrough(const char* id, const oDIB* dib, const vMETAFILE* metafile,
                   std::vector<uint8_t>& bytes) {
    oFILTER* filter = oFILTERLIST::FindByID(id);
    if (filter == nullptr || !filter->DoesExport()) return false;
    vMEMSTREAM stream;
    oPROGRESS progress;
    filter->m_progress = &progress;
    oFILTER_STATUS status = kFilterFailed;
    try {
        status =
            dib != nullptr ? filter->Convert(*dib, stream) : filter->Convert(*metafile, stream);
    } catch (const std::bad_alloc&) {
        status = kFilterFailed;
    }
    filter->m_progress = nullptr;
    if (status != kFilterDone) return false;
    bytes = stream.TakeData();
    return true;
}

// Reads `path` and writes it as `id`, when the picture read is of `wanted_kind`.
bool Convert(const std::string& path, int wanted_kind, const char* id, int resolution_index,
             std::vector<uint8_t>& bytes) {
    oDIB dib;
    vMETAFILE metafile;
    int kind = 0;
    // Without a chosen resolution the target gets the picture's own size (the first one), not
    // the reduced read made for thumbnails.
    int resolution = resolution_index == kAutomaticResolution ? 0 : resolution_index;
    if (LoadPicture(nullptr, path, dib, metafile, kind, resolution) != kLoadRead ||
        kind != wanted_kind) {
        return false;
    }
    return wanted_kind == kFilterTypeBitmap ? EncodeThrough(id, &dib, nullptr, bytes)
                                            : EncodeThrough(id, nullptr, &metafile, bytes);
}

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    vFILE file(path, vFILE::kModeCreate);
    return !file.Error() && file.Write(bytes.data(), bytes.size()) && file.Commit();
}

}  // namespace

bool DragFormatsOf(const std::string& path, std::vector<std::string>& formats) {
    formats.clear();
    oFILTER_TYPE type = kFilterTypeNone;
    if (!IdentifyFilterType(path, type)) return false;
    if (type == kFilterTypeBitmap) {
        formats.emplace_back(kDragMimeBmp);
        formats.emplace_back(kDragMimePng);
    } else if (type == kFilterTypeVector) {
        formats.emplace_back(kDragMimeWmf);
    }
    formats.emplace_back(kDragMimeUriList);
    return true;
}

bool RenderDragFormat(const std::string& path, std::string_view format, int resolution_index,
                      std::vector<uint8_t>& bytes) {
    bytes.clear();
    if (format == kDragMimeUriList) {
        std::string uri = UriListOf(path);
        bytes.assign(uri.begin(), uri.end());
        return !uri.empty();
    }
    if (format == kDragMimeBmp)
        return Convert(path, kFilterTypeBitmap, "BMP", resolution_index, bytes);
    if (format == kDragMimePng)
        return Convert(path, kFilterTypeBitmap, "PNG", resolution_index, bytes);
    if (format == kDragMimeWmf) return Convert(path, kFilterTypeVector, "WMF", -1, bytes);
    return false;
}

std::string UriListOf(const std::string& path) {
    if (!LoadGlib()) return {};
    std::unique_ptr<char, decltype(Glib().free)> uri(
        Glib().filename_to_uri(path.c_str(), nullptr, nullptr), Glib().free);
    if (!uri) return {};
    return std::string(uri.get()) + "\r\n";
}

bool DragStartDelay::OnMove(Point pointer) {
    if (!m_armed) return false;
    if (std::abs(pointer.x - m_press.x) <= kDragStartDistance_px &&
        std::abs(pointer.y - m_press.y) <= kDragStartDistance_px) {
        return false;
    }
    m_armed = false;
    return true;
}

bool DragStartDelay::OnIntervalEnded() {
    bool fire = m_armed;
    m_armed = false;
    return fire;
}

std::string ApplicationNameFromTitle(std::string_view title) {
    for (char cut : {'[', '{', '\'', '-'})
        title = title.substr(0, title.find(cut));
    return std::string(TrimWhiteSpace(title));
}

std::string WriteGenericDropFile(const std::string& path, const std::string& folder,
                                 int resolution_index) {
    oFILTER_TYPE type = kFilterTypeNone;
    if (!IdentifyFilterType(path, type)) return {};
    std::vector<uint8_t> bytes;
    std::string target;
    if (type == kFilterTypeBitmap &&
        Convert(path, kFilterTypeBitmap, "BMP", resolution_index, bytes)) {
        target = folder + "/" + std::string(kGenericDropBitmapName);
    } else if (type == kFilterTypeVector && Convert(path, kFilterTypeVector, "WMF", -1, bytes)) {
        target = folder + "/" + std::string(kGenericDropVectorName);
    } else {
        return {};
    }
    return WriteWholeFile(target, bytes) ? target : std::string();
}

void DeleteGenericDropFiles(const std::string& folder) {
    std::error_code ignored;
    for (std::string_view name : {kGenericDropBitmapName, kGenericDropVectorName})
        std::filesystem::remove(std::filesystem::path(folder) / name, ignored);
}

std::string GenericDropAssistant::PathForDrop(const std::string& path,
                                              const std::string& application, bool button_up,
                                              uint32_t now_ms, CControlPrefs& prefs,
                                              const std::string& temporary_folder,
                                              int resolution_index) {
    // Bitmap and metafile files are already in the generic formats.
    if (!button_up || application.empty() || EndsWithNoCase(path, ".WMF") ||
        EndsWithNoCase(path, ".BMP")) {
        return path;
    }
    bool generic = prefs.IsGenericDrop(application);
    if (!generic) {
        uint32_t elapsed_ms = now_ms - m_lastTick_ms;
        if (path == m_lastPath && application == m_lastApplication &&
            elapsed_ms >= kDoubleDropMin_ms && elapsed_ms <= kDoubleDropMax_ms &&
            UserInterface().ShowMessage({std::string(kDropAssistantQuestion),
                                         std::string(kDropAssistantCaption), MessageButtons::YesNo,
                                         MessageIcon::Question}) == MessageAnswer::Yes) {
            prefs.AddGenericDrop(application);
            generic = true;
        }
        m_lastPath = path;
        m_lastApplication = application;
        m_lastTick_ms = now_ms;
    }
    if (!generic) return path;
    std::string written = WriteGenericDropFile(path, temporary_folder, resolution_index);
    return written.empty() ? path : written;
}

GenericDropAssistant& ProcessDropAssistant() {
    static GenericDropAssistant assistant;
    return assistant;
}

}  // namespace scopa

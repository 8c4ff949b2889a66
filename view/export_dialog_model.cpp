#include "view/export_dialog_model.h"

#include <cstdio>

#include "imaging/export.h"
#include "imaging/filter.h"
#include "imaging/picture.h"
#include "list/population.h"
#include "platform/text.h"

namespace scopa {
namespace {

// The multi-resolution list starts here when the control has no resolution set.
constexpr int kDefaultMultiResolutionIndex = 3;

std::string UpperExtension(const std::string& path) {
    size_t dot = path.rfind('.');
    size_t slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return ToUpperAscii(std::string_view(path).substr(dot + 1));
}

}  // namespace

CExportDialogModel::CExportDialogModel(const std::string& source_path, int control_resolution)
    : m_sourceExtension(UpperExtension(source_path)) {
    m_vector = IsPictureOfKind(source_path, std::string(kFilterVectors), false);
    oFILTER* own = m_sourceExtension.empty() ? nullptr : oFILTERLIST::FindByID(m_sourceExtension);
    m_multiResolution = own != nullptr && own->HasSeveralResolutions();
    if (m_multiResolution) {
        int count = own->GetResolutionCount(source_path);
        for (int i = 0; i < count; ++i)
            m_sizes.push_back(own->GetResolution(i));
        m_initialSize =
            control_resolution == -1 ? kDefaultMultiResolutionIndex : control_resolution;
    } else if (m_vector) {
        m_sizes.assign(std::begin(kVectorExportSizes), std::end(kVectorExportSizes));
        m_initialSize = kDefaultVectorExportSize;
    }
    m_hasResolutionList = m_vector || m_multiResolution;

    for (int i = 0; i < oFILTERLIST::GetNoItems(); ++i) {
        const oFILTER& filter = oFILTERLIST()[i];
        std::string id = filter.GetID();
        bool own_format = id == m_sourceExtension;
        bool offered =
            own_format || (filter.DoesExport() &&
                           (m_vector || filter.Type() == kFilterTypeBitmap || id == "WMF"));
        if (!offered) continue;
        if (own_format) m_initialType = int(m_types.size());
        m_types.push_back({id, filter.GetDescription()});
    }
}

std::string CExportDialogModel::PatternOf(int type_index) const {
    if (type_index < 0 || type_index >= int(m_types.size())) return {};
    return "*." + m_types[size_t(type_index)].id;
}

bool CExportDialogModel::IsResolutionListEnabled(int type_index) const {
    if (!m_hasResolutionList || type_index < 0 || type_index >= int(m_types.size())) return false;
    const std::string& id = m_types[size_t(type_index)].id;
    if (id == m_sourceExtension) return false;
    return m_multiResolution ||
           (m_vector && IsPictureOfKind(id, std::string(kFilterBitmaps), false));
}

std::vector<std::string> CExportDialogModel::SizeTexts() const {
    std::vector<std::string> texts;
    for (vSIZE size : m_sizes) {
        char text[32];
        std::snprintf(text, sizeof text, "%d x %d", int(size.cx), int(size.cy));
        texts.emplace_back(text);
    }
    return texts;
}

std::string CExportDialogModel::RenameForType(const std::string& file_name, int type_index) const {
    if (type_index < 0 || type_index >= int(m_types.size())) return file_name;
    size_t dot = file_name.rfind('.');
    size_t slash = file_name.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return file_name;
    return file_name.substr(0, dot + 1) + m_types[size_t(type_index)].id;
}

ExportChoice CExportDialogModel::Choose(const std::string& path, int type_index,
                                        int size_index) const {
    ExportChoice choice;
    if (type_index >= 0 && type_index < int(m_types.size())) {
        choice.format_id = m_types[size_t(type_index)].id;
    }
    choice.path = path;
    if (m_hasResolutionList) {
        choice.resolution_index = m_initialSize;
        if (size_index >= 0 && size_index < int(m_sizes.size())) {
            choice.resolution_index = size_index;
            choice.width_px = m_sizes[size_t(size_index)].cx;
            choice.height_px = m_sizes[size_t(size_index)].cy;
        }
    }
    return choice;
}

std::string ExportFolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace scopa

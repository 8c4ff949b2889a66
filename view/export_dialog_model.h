// The export dialog's rules without its window: which file types it offers for a source and
// in what order, which one it starts on, the resolution list and when it is enabled, how the
// file name follows a type change, and what the user's choice becomes. The widget shows the
// types as its save dialog's filters and the sizes in a combo box below the file name.
#pragma once

#include <string>
#include <vector>

#include "control/control_host.h"
#include "imaging/geometry.h"

namespace scopa {

struct ExportFileType {
    std::string id;           // the filter identifier ("PNG")
    std::string description;  // the filter's description
};

class CExportDialogModel {
public:
    // `source_path` is the picture exported; `control_resolution` the control's
    // SetResolution value (-1 none), where a multi-resolution source's list starts.
    CExportDialogModel(const std::string& source_path, int control_resolution);

    // Every filter, in the filter list's order, that has the source's extension as its
    // identifier, or writes and either the source is vector, or it writes bitmaps, or it is WMF.
    const std::vector<ExportFileType>& types() const { return m_types; }
    // The entry of the source's own format; 0 when the source's format is not offered.
    int InitialTypeIndex() const { return m_initialType; }
    // "*.PNG" for the filter of `type_index`.
    std::string PatternOf(int type_index) const;

    // A vector or multi-resolution source has a resolution list.
    bool HasResolutionList() const { return m_hasResolutionList; }
    // Enabled when the type changes the format and the source is multi-resolution, or it is
    // vector and the type writes bitmaps.
    bool IsResolutionListEnabled(int type_index) const;
    const std::vector<vSIZE>& sizes() const { return m_sizes; }
    // "640 x 480", one per size.
    std::vector<std::string> SizeTexts() const;
    int InitialSizeIndex() const { return m_initialSize; }

    // The file name after the type changed to `type_index`: when the name has an extension
    // (a '.' after the last '/'), the text after it becomes the type's identifier.
    std::string RenameForType(const std::string& file_name, int type_index) const;

    // What OK gives: the path as typed (the control adds the extension), the
    // identifier, the size chosen (when a list is shown and has a selection) and the
    // resolution index (-1 without a list).
    ExportChoice Choose(const std::string& path, int type_index, int size_index) const;

    bool IsVectorSource() const { return m_vector; }
    bool IsMultiResolutionSource() const { return m_multiResolution; }

private:
    std::string m_sourceExtension;  // upper case
    bool m_vector = false;
    bool m_multiResolution = false;
    bool m_hasResolutionList = false;
    std::vector<ExportFileType> m_types;
    int m_initialType = 0;
    std::vector<vSIZE> m_sizes;
    int m_initialSize = 0;
};

// The folder part of a path (before its last '/'), or "" when it has none.
std::string ExportFolderOf(const std::string& path);

}  // namespace scopa

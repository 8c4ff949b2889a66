// The export dialog: Qt's own save dialog (not the desktop's, so it can carry the resolution
// list below the file name) with the file types, sizes and renaming rules of
// CExportDialogModel.
#pragma once

#include <QFileDialog>

#include "control/control_host.h"
#include "view/export_dialog_model.h"

class QComboBox;
class QLabel;

namespace scopa {

class ExportDialog final : public QFileDialog {
    Q_OBJECT
public:
    ExportDialog(QWidget* parent, const ExportRequest& request);

    // What the user chose; meaningful after the dialog was accepted.
    ExportChoice Choice() const;
    const CExportDialogModel& model() const { return m_model; }
    // The resolution list, or null when the source has none.
    QComboBox* ResolutionList() const { return m_sizes; }
    int SelectedTypeIndex() const;

private:
    void TypeChanged(const QString& filter);
    void RefreshResolutionList();

    CExportDialogModel m_model;
    QStringList m_filters;
    QLabel* m_sizesLabel = nullptr;
    QComboBox* m_sizes = nullptr;
    int m_chosenSize = 0;
};

}  // namespace scopa

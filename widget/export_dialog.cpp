#include "widget/export_dialog.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

namespace scopa {
namespace {

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

}  // namespace

ExportDialog::ExportDialog(QWidget* parent, const ExportRequest& request)
    : QFileDialog(parent), m_model(request.source_path, request.resolution) {
    setObjectName("exportDialog");
    setOption(QFileDialog::DontUseNativeDialog);
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
    for (size_t i = 0; i < m_model.types().size(); ++i) {
        const ExportFileType& type = m_model.types()[i];
        m_filters << FromUtf8(type.description) + " (" + FromUtf8(m_model.PatternOf(int(i))) + ")";
    }
    setNameFilters(m_filters);
    if (!request.initial_folder.empty()) setDirectory(FromUtf8(request.initial_folder));
    if (!m_filters.isEmpty()) selectNameFilter(m_filters[m_model.InitialTypeIndex()]);
    selectFile(FromUtf8(request.file_name));

    if (m_model.HasResolutionList()) {
        m_chosenSize = m_model.InitialSizeIndex();
        m_sizesLabel = new QLabel(tr("&Resolution:"), this);
        m_sizes = new QComboBox(this);
        m_sizes->setObjectName("resolutionList");
        m_sizesLabel->setBuddy(m_sizes);
        // Below the file name and type rows of the dialog's own grid.
        if (auto* grid = qobject_cast<QGridLayout*>(layout())) {
            int row = grid->rowCount();
            grid->addWidget(m_sizesLabel, row, 0);
            grid->addWidget(m_sizes, row, 1);
        }
        connect(m_sizes, &QComboBox::currentIndexChanged, this, [this](int index) {
            if (index >= 0) m_chosenSize = index;
        });
    }
    // The type list's own index, so a type chosen by the user or by code renames alike.
    if (auto* types = findChild<QComboBox*>("fileTypeCombo")) {
        connect(types, &QComboBox::currentIndexChanged, this, [this](int index) {
            if (index >= 0 && index < m_filters.size()) TypeChanged(m_filters[index]);
        });
    } else {
        connect(this, &QFileDialog::filterSelected, this, &ExportDialog::TypeChanged);
    }
    RefreshResolutionList();
}

int ExportDialog::SelectedTypeIndex() const {
    int index = int(m_filters.indexOf(selectedNameFilter()));
    return index < 0 ? m_model.InitialTypeIndex() : index;
}

void ExportDialog::TypeChanged(const QString& filter) {
    int index = int(m_filters.indexOf(filter));
    if (auto* name = findChild<QLineEdit*>("fileNameEdit"); name != nullptr && index >= 0) {
        std::string text = name->text().toStdString();
        name->setText(FromUtf8(m_model.RenameForType(text, index)));
    }
    RefreshResolutionList();
}

void ExportDialog::RefreshResolutionList() {
    if (m_sizes == nullptr) return;
    bool enabled = m_model.IsResolutionListEnabled(SelectedTypeIndex());
    QSignalBlocker blocker(m_sizes);
    m_sizes->clear();
    if (enabled) {
        for (const std::string& text : m_model.SizeTexts())
            m_sizes->addItem(FromUtf8(text));
        m_sizes->setCurrentIndex(m_chosenSize);
    }
    m_sizes->setEnabled(enabled);
    m_sizesLabel->setEnabled(enabled);
}

ExportChoice ExportDialog::Choice() const {
    QStringList files = selectedFiles();
    std::string path = files.isEmpty() ? std::string() : files.first().toStdString();
    int size_index = m_sizes != nullptr && m_sizes->isEnabled() ? m_sizes->currentIndex() : -1;
    return m_model.Choose(path, SelectedTypeIndex(), size_index);
}

}  // namespace scopa

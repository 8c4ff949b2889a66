#include "widget/insert_disk_dialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>

namespace scopa {
namespace {

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

}  // namespace

InsertDiskDialog::InsertDiskDialog(QWidget* parent, CInsertCDRom& state)
    : QDialog(parent), m_state(state) {
    setObjectName("insertDiskDialog");
    setWindowTitle(FromUtf8(kInsertDiskTitle));
    setModal(true);
    auto* icon = new QLabel(this);
    int icon_px = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_DriveCDIcon, nullptr, this).pixmap(icon_px));
    auto* prompt = new QLabel(FromUtf8(m_state.GetPromptText()), this);
    prompt->setObjectName("prompt");
    prompt->setAlignment(Qt::AlignCenter);
    auto* location_label = new QLabel(FromUtf8(kInsertDiskLocationLabel), this);
    m_location = new QLineEdit(FromUtf8(m_state.m_strLocation), this);
    m_location->setObjectName("location");
    location_label->setBuddy(m_location);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* grid = new QGridLayout(this);
    grid->addWidget(icon, 0, 0, Qt::AlignTop);
    grid->addWidget(prompt, 0, 1);
    grid->addWidget(location_label, 1, 0, 1, 2);
    grid->addWidget(m_location, 2, 0, 1, 2);
    grid->addWidget(buttons, 3, 0, 1, 2);

    connect(m_location, &QLineEdit::textEdited, this, [this](const QString& text) {
        m_state.SetLocation(text.toStdString());
        Refresh();
    });
    m_location->setFocus();
    m_location->setCursorPosition(0);
    m_state.OnInitDialog();
    Refresh();
    m_poll.setInterval(kInsertDiskPollInterval_ms);
    connect(&m_poll, &QTimer::timeout, this, &InsertDiskDialog::Poll);
    m_poll.start();
}

void InsertDiskDialog::Poll() {
    bool arrived = m_state.OnTimer();
    if (QString location = FromUtf8(m_state.m_strLocation); location != m_location->text())
        m_location->setText(location);
    Refresh();
    if (arrived) accept();
}

void InsertDiskDialog::Refresh() {
    m_ok->setEnabled(m_state.IsOkEnabled());
}

void InsertDiskDialog::accept() {
    m_state.SetLocation(m_location->text().toStdString());
    if (!m_state.OnOk()) {
        Refresh();
        return;
    }
    m_poll.stop();
    QDialog::accept();
}

bool InsertDiskDialog::Ask(QWidget* parent, CInsertCDRom& state) {
    InsertDiskDialog dialog(parent, state);
    return dialog.exec() == QDialog::Accepted;
}

}  // namespace scopa

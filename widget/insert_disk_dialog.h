// The modal "Insert CD-ROM disk" dialog over CInsertCDRom: the prompt naming the disk, the
// location field, OK enabled while the location exists, and a poll every 250 ms that closes
// the dialog by itself when a volume with the label arrives.
#pragma once

#include <QDialog>
#include <QTimer>

#include "shell/insert_disk.h"

class QLineEdit;
class QPushButton;

namespace scopa {

class InsertDiskDialog final : public QDialog {
    Q_OBJECT
public:
    InsertDiskDialog(QWidget* parent, CInsertCDRom& state);

    QLineEdit* LocationField() const { return m_location; }
    QPushButton* OkButton() const { return m_ok; }

    // Runs the dialog for the search of the preview list: true for OK.
    static bool Ask(QWidget* parent, CInsertCDRom& state);

protected:
    void accept() override;

private:
    void Poll();
    void Refresh();

    CInsertCDRom& m_state;
    QLineEdit* m_location = nullptr;
    QPushButton* m_ok = nullptr;
    QTimer m_poll;
};

}  // namespace scopa

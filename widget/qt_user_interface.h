// Messages and questions of the core shown as QMessageBoxes over the widget's window.
#pragma once

#include <QPointer>
#include <QWidget>

#include "platform/user_interface.h"

namespace scopa {

class QtUserInterface final : public IUserInterface {
public:
    // `parent` (may be null) centres the boxes over its window.
    explicit QtUserInterface(QWidget* parent) : m_parent(parent) {}
    MessageAnswer ShowMessage(const MessageRequest& request) override;

private:
    QPointer<QWidget> m_parent;
};

}  // namespace scopa

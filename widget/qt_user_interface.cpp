#include "widget/qt_user_interface.h"

#include <QMessageBox>

namespace scopa {
namespace {

QMessageBox::Icon IconOf(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Information:
            return QMessageBox::Information;
        case MessageIcon::Exclamation:
            return QMessageBox::Warning;
        case MessageIcon::Error:
            return QMessageBox::Critical;
        case MessageIcon::Question:
            return QMessageBox::Question;
        case MessageIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons ButtonsOf(MessageButtons buttons) {
    switch (buttons) {
        case MessageButtons::Ok:
            return QMessageBox::Ok;
        case MessageButtons::OkCancel:
            return QMessageBox::Ok | QMessageBox::Cancel;
        case MessageButtons::YesNo:
            return QMessageBox::Yes | QMessageBox::No;
        case MessageButtons::RetryCancel:
            return QMessageBox::Retry | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

MessageAnswer AnswerOf(int button) {
    switch (button) {
        case QMessageBox::Ok:
            return MessageAnswer::Ok;
        case QMessageBox::Yes:
            return MessageAnswer::Yes;
        case QMessageBox::No:
            return MessageAnswer::No;
        case QMessageBox::Retry:
            return MessageAnswer::Retry;
        default:
            return MessageAnswer::Cancel;
    }
}

}  // namespace

MessageAnswer QtUserInterface::ShowMessage(const MessageRequest& request) {
    QString caption =
        request.caption.empty() ? QStringLiteral("Scopa") : QString::fromStdString(request.caption);
    QMessageBox box(IconOf(request.icon), caption, QString::fromStdString(request.text),
                    ButtonsOf(request.buttons), m_parent.data());
    box.setObjectName("scopaMessage");
    return AnswerOf(box.exec());
}

}  // namespace scopa

#include "platform/user_interface.h"

#include <cstdio>

namespace scopa {

namespace {

HeadlessUserInterface g_headless;
IUserInterface* g_current = &g_headless;

}  // namespace

MessageAnswer HeadlessUserInterface::ShowMessage(const MessageRequest& request) {
    if (request.caption.empty()) {
        std::fprintf(stderr, "%s\n", request.text.c_str());
    } else {
        std::fprintf(stderr, "%s: %s\n", request.caption.c_str(), request.text.c_str());
    }
    switch (request.buttons) {
        case MessageButtons::Ok:
            return MessageAnswer::Ok;
        case MessageButtons::YesNo:
            return MessageAnswer::No;
        case MessageButtons::OkCancel:
        case MessageButtons::RetryCancel:
            return MessageAnswer::Cancel;
    }
    return MessageAnswer::Cancel;
}

IUserInterface& UserInterface() {
    return *g_current;
}

IUserInterface* SetUserInterface(IUserInterface* service) {
    IUserInterface* previous = g_current;
    g_current = service != nullptr ? service : &g_headless;
    return previous;
}

void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) {
    UserInterface().ShowMessage({text, caption, MessageButtons::Ok, icon});
}

bool AskYesNo(const std::string& text, const std::string& caption) {
    return UserInterface().ShowMessage(
               {text, caption, MessageButtons::YesNo, MessageIcon::Question}) == MessageAnswer::Yes;
}

}  // namespace scopa

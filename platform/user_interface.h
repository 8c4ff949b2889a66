// The user-interface service through which the core shows messages and asks questions, so
// the core stays toolkit-neutral: the widget installs an implementation that opens real
// dialogs, the command-line tool one that writes to the terminal, and tests one that records
// what was shown and answers from a script.
#pragma once

#include <string>

namespace scopa {

enum class MessageIcon { None, Information, Exclamation, Error, Question };
enum class MessageButtons { Ok, OkCancel, YesNo, RetryCancel };
enum class MessageAnswer { Ok, Cancel, Yes, No, Retry };

struct MessageRequest {
    std::string text;
    std::string caption;  // empty: the host's default caption
    MessageButtons buttons = MessageButtons::Ok;
    MessageIcon icon = MessageIcon::None;
};

class IUserInterface {
public:
    virtual ~IUserInterface() = default;
    // Shows a message box and waits for the user's answer.
    virtual MessageAnswer ShowMessage(const MessageRequest& request) = 0;
};

// Writes messages to standard error and answers every question negatively (Cancel or No),
// which is what a user who cannot see a dialog would want: nothing is done on their behalf.
class HeadlessUserInterface final : public IUserInterface {
public:
    MessageAnswer ShowMessage(const MessageRequest& request) override;
};

// The process's current service; the headless one until something else is installed.
IUserInterface& UserInterface();
// Installs `service` (not owned; nullptr restores the headless one). Returns the previous one.
IUserInterface* SetUserInterface(IUserInterface* service);

// Shorthands for the two common forms.
void ShowMessage(const std::string& text, const std::string& caption = {},
                 MessageIcon icon = MessageIcon::Exclamation);
bool AskYesNo(const std::string& text, const std::string& caption = {});

}  // namespace scopa

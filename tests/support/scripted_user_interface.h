// A user-interface service for tests: records every message shown and answers from a script,
// and installs itself for its lifetime.
#pragma once

#include <deque>
#include <vector>

#include "platform/user_interface.h"

namespace scopa::test {

class ScriptedUserInterface final : public IUserInterface {
public:
    ScriptedUserInterface() { m_previous = SetUserInterface(this); }
    ~ScriptedUserInterface() override { SetUserInterface(m_previous); }
    ScriptedUserInterface(const ScriptedUserInterface&) = delete;
    ScriptedUserInterface& operator=(const ScriptedUserInterface&) = delete;

    // Answers given in order; when the script runs out, questions get Cancel/No, messages Ok.
    void QueueAnswer(MessageAnswer answer) { m_answers.push_back(answer); }
    const std::vector<MessageRequest>& shown() const { return m_shown; }

    MessageAnswer ShowMessage(const MessageRequest& request) override {
        m_shown.push_back(request);
        if (!m_answers.empty()) {
            MessageAnswer answer = m_answers.front();
            m_answers.pop_front();
            return answer;
        }
        if (request.buttons == MessageButtons::Ok) return MessageAnswer::Ok;
        return request.buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Cancel;
    }

private:
    IUserInterface* m_previous = nullptr;
    std::deque<MessageAnswer> m_answers;
    std::vector<MessageRequest> m_shown;
};

}  // namespace scopa::test

// An environment variable set for the lifetime of the object, then put back as it was (also
// when a failed assertion leaves the test early).
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace scopa::test {

class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::string& value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_previous = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedVariable() {
        if (m_previous) {
            setenv(m_name, m_previous->c_str(), 1);
        } else {
            unsetenv(m_name);
        }
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_previous;
};

}  // namespace scopa::test

// Sets or removes one environment variable for the lifetime of the object, and restores what
// it was afterwards.
#pragma once

#include <cstdlib>
#include <string>

namespace scopa::test {

class ScopedEnvironmentVariable {
public:
    // A null `value` removes the variable.
    ScopedEnvironmentVariable(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old, m_had = true;
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnvironmentVariable() {
        if (m_had)
            setenv(m_name.c_str(), m_old.c_str(), 1);
        else
            unsetenv(m_name.c_str());
    }
    ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
    ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

private:
    std::string m_name;
    std::string m_old;
    bool m_had = false;
};

}  // namespace scopa::test

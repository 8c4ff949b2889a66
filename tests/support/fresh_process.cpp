#include "support/fresh_process.h"

#include <unistd.h>

#include <cstdio>

namespace scopa::test {

void ChildReport::ExitWithReport(const std::filesystem::path& made_here) const {
    std::error_code ignored;
    std::filesystem::remove_all(made_here, ignored);
    std::fputs(m_text.c_str(), stderr);
    std::fflush(stderr);
    _exit(m_text.empty() ? 0 : 1);
}

}  // namespace scopa::test

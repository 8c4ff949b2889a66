// Runs the built scopa tool as a separate process, as a user would.
#pragma once

#include <string>
#include <vector>

namespace scopa::test {

struct ToolResult {
    int exit_status = -1;  // the process's exit status, or -1 when it did not exit normally
    std::string out;       // standard output
    std::string err;       // standard error
};

// Runs `scopa ARGS...` with the current environment, standard input from /dev/null.
ToolResult RunTool(const std::vector<std::string>& args);

}  // namespace scopa::test

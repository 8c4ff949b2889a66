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

// Starts `scopa ARGS...` without waiting, its output to /dev/null; gives its process id.
int StartTool(const std::vector<std::string>& args);
// Waits for a started tool: its exit status, or -1 when it did not exit normally.
int WaitTool(int process_id);

}  // namespace scopa::test

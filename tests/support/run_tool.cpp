#include "support/run_tool.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

#include "support/temp_dir.h"

namespace scopa::test {

namespace {

// Starts the tool with the three standard streams on the given files; gives its process id.
pid_t SpawnTool(const std::vector<std::string>& args, const char* in_path, const char* out_path,
                const char* err_path) {
    pid_t child = fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        int in = open(in_path, O_RDONLY);
        int out = open(out_path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(err_path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0) _exit(127);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> argv;
        std::string tool = SCOPA_TOOL_PATH;
        argv.push_back(tool.data());
        std::vector<std::string> copies = args;
        for (std::string& arg : copies)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        execv(tool.c_str(), argv.data());
        _exit(127);
    }
    return child;
}

}  // namespace

ToolResult RunTool(const std::vector<std::string>& args) {
    ScopedTempDir dir;
    std::string out_path = (dir / "out").string();
    std::string err_path = (dir / "err").string();
    ToolResult result;
    result.exit_status = WaitTool(SpawnTool(args, "/dev/null", out_path.c_str(), err_path.c_str()));
    result.out = ReadFileBytes(out_path);
    result.err = ReadFileBytes(err_path);
    return result;
}

int StartTool(const std::vector<std::string>& args) {
    return SpawnTool(args, "/dev/null", "/dev/null", "/dev/null");
}

int WaitTool(int process_id) {
    int status = 0;
    if (waitpid(process_id, &status, 0) != process_id) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace scopa::test

// Entry point of the scopa tool: the table of registered subcommands, and main.
#include <cstdio>
#include <string>

#include "command.h"

namespace scopa::tool {
namespace {

std::map<std::string, Command>& CommandTable() {
    static std::map<std::string, Command> table;
    return table;
}

}  // namespace

std::optional<std::string> Arguments::Value(const std::string& option) const {
    auto found = values.find(option);
    if (found == values.end()) return std::nullopt;
    return found->second;
}

RegisterCommand::RegisterCommand(Command command) {
    std::string name = command.name;
    CommandTable().emplace(std::move(name), std::move(command));
}

const std::map<std::string, Command>& AllCommands() {
    return CommandTable();
}

int Fail(const std::string& command, const std::string& message, int status) {
    std::fprintf(stderr, "scopa %s: %s\n", command.c_str(), message.c_str());
    return status;
}

}  // namespace scopa::tool

int main(int argc, char** argv) {
    return scopa::tool::RunCommandLine(std::vector<std::string>(argv + 1, argv + argc));
}

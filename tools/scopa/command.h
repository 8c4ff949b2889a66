// The scopa tool's subcommands. Each subcommand lives in its own cmd_*.cpp and registers
// itself with a static RegisterCommand object, so adding one touches no other file. The
// command line is parsed from the registered option tables (command_line.cpp).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace scopa::tool {

// Exit statuses shared by every subcommand.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the job could not be done (unreadable input, ...)
inline constexpr int kExitUsage = 2;    // bad arguments

struct OptionSpec {
    std::string name;  // "--json", "-o"
    bool takes_value = false;
    std::string help;  // one line for --help
};

// Parsed arguments of one subcommand invocation: options may come anywhere among the
// positional words, "--" ends the options, and an option given twice keeps its last value.
class Arguments {
public:
    std::vector<std::string> positional;
    std::map<std::string, std::string> values;  // option name -> value ("" for flags)

    bool Has(const std::string& option) const { return values.count(option) != 0; }
    std::optional<std::string> Value(const std::string& option) const;
};

struct Command {
    std::string name;      // "reg", "codec", ...
    std::string synopsis;  // "reg export KEY | reg import FILE"
    std::string summary;   // one line for `scopa --help`
    std::string details;   // paragraphs for `scopa NAME --help`
    std::vector<OptionSpec> options;
    int (*run)(const Arguments& arguments) = nullptr;
};

struct RegisterCommand {
    explicit RegisterCommand(Command command);
};

const std::map<std::string, Command>& AllCommands();

// Prints "scopa NAME: message" on standard error and returns `status`.
int Fail(const std::string& command, const std::string& message, int status = kExitFailure);

// Parses the words after the program name and runs what they ask for: the overview, the
// version, a command's help or the command itself. Gives the exit status.
int RunCommandLine(const std::vector<std::string>& words);

// A parsing name of the namespace ("::{...}"), which names no file-system path.
bool IsVirtualFolderText(const std::string& text);

// A path the user typed, made absolute from the working folder and with "." and ".." taken
// out; a parsing name is kept as typed.
std::string PathFromArgument(const std::string& argument);

}  // namespace scopa::tool

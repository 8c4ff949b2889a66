// Entry point of the scopa tool: dispatches to the registered subcommands.
#include <cstdio>
#include <cstring>
#include <string>

#include "command.h"

namespace scopa::tool {
namespace {

std::map<std::string, Command>& CommandTable() {
    static std::map<std::string, Command> table;
    return table;
}

void PrintOverview(std::FILE* out) {
    std::fprintf(out,
                 "usage: scopa COMMAND [ARGUMENTS]\n\n"
                 "Scopa looks into folders of pictures and documents, makes their thumbnails\n"
                 "and keeps them in preview caches.\n\nCommands:\n");
    for (const auto& [name, command] : CommandTable()) {
        std::fprintf(out, "  %-14s %s\n", name.c_str(), command.summary.c_str());
    }
    std::fprintf(out, "\nRun 'scopa COMMAND --help' for the arguments of one command.\n");
}

void PrintCommandHelp(const Command& command) {
    std::printf("usage: scopa %s\n\n%s\n", command.synopsis.c_str(), command.summary.c_str());
    if (!command.details.empty()) std::printf("\n%s\n", command.details.c_str());
    if (!command.options.empty()) {
        std::printf("\nOptions:\n");
        for (const OptionSpec& option : command.options) {
            std::string left = option.name + (option.takes_value ? " VALUE" : "");
            std::printf("  %-20s %s\n", left.c_str(), option.help.c_str());
        }
    }
}

const OptionSpec* FindOption(const Command& command, const std::string& name) {
    for (const OptionSpec& option : command.options) {
        if (option.name == name) return &option;
    }
    return nullptr;
}

// Returns kExitOk and fills `arguments`, or prints the problem and returns kExitUsage.
int ParseArguments(const Command& command, int argc, char** argv, Arguments& arguments) {
    bool only_positional = false;
    for (int i = 0; i < argc; ++i) {
        std::string word = argv[i];
        if (only_positional || word.size() < 2 || word[0] != '-') {
            arguments.positional.push_back(word);
            continue;
        }
        if (word == "--") {
            only_positional = true;
            continue;
        }
        std::string value;
        bool inline_value = false;
        if (size_t equals = word.find('=');
            word.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = word.substr(equals + 1);
            word = word.substr(0, equals);
            inline_value = true;
        }
        const OptionSpec* option = FindOption(command, word);
        if (option == nullptr) {
            return Fail(command.name, "unknown option '" + word + "' (see --help)", kExitUsage);
        }
        if (option->takes_value && !inline_value) {
            if (i + 1 >= argc) {
                return Fail(command.name, "option '" + word + "' needs a value", kExitUsage);
            }
            value = argv[++i];
        } else if (!option->takes_value && inline_value) {
            return Fail(command.name, "option '" + word + "' takes no value", kExitUsage);
        }
        arguments.values[word] = value;
    }
    return kExitOk;
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

// Under the leak checker: cairo's text drawing (scopa thumbs) and fontconfig keep process-wide
// caches that they never free; those are not leaks of ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libcairo.so\n";
}

int main(int argc, char** argv) {
    using namespace scopa::tool;
    if (argc < 2) {
        PrintOverview(stderr);
        return kExitUsage;
    }
    std::string first = argv[1];
    if (first == "--help" || first == "-h" || first == "help") {
        PrintOverview(stdout);
        return kExitOk;
    }
    if (first == "--version") {
        std::printf("scopa 0.1.0\n");
        return kExitOk;
    }
    auto found = CommandTable().find(first);
    if (found == CommandTable().end()) {
        std::fprintf(stderr, "scopa: unknown command '%s' (see scopa --help)\n", first.c_str());
        return kExitUsage;
    }
    const Command& command = found->second;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) break;
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            PrintCommandHelp(command);
            return kExitOk;
        }
    }
    Arguments arguments;
    if (int status = ParseArguments(command, argc - 2, argv + 2, arguments); status != kExitOk) {
        return status;
    }
    return command.run(arguments);
}

// The tool's command line, parsed with CLI11. The top level only picks the command (or the
// overview, help and version); the parser of that one command is then built from its option
// table, so a run pays for one command's options, not for all of them.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "command.h"

namespace scopa::tool {
namespace {

constexpr const char* kVersionLine = "scopa 0.1.0\n";
constexpr const char* kOverviewHead =
    "usage: scopa COMMAND [ARGUMENTS]\n\n"
    "Scopa looks into folders of pictures and documents, makes their thumbnails\n"
    "and keeps them in preview caches.\n\nCommands:\n";
constexpr const char* kOverviewTail =
    "\nRun 'scopa COMMAND --help' for the arguments of one command.\n";
constexpr const char* kHelpFlags = "-h,--help";
// Widths of the name columns in the overview and in a command's option list.
constexpr size_t kCommandColumn = 14;
constexpr size_t kOptionColumn = 20;

// `left` padded with spaces to `width`, then one space: the two-column rows of the help texts.
std::string Row(const std::string& left, size_t width, const std::string& right) {
    std::string row = "  " + left;
    if (left.size() < width) row.append(width - left.size(), ' ');
    return row + " " + right + "\n";
}

// The tool's overview: every registered command with its summary, in name order.
class OverviewHelp final : public CLI::FormatterBase {
public:
    std::string make_help(const CLI::App*, std::string, CLI::AppFormatMode) const override {
        std::string text = kOverviewHead;
        for (const auto& [name, command] : AllCommands()) {
            text += Row(name, kCommandColumn, command.summary);
        }
        return text + kOverviewTail;
    }
};

// One command's help: its synopsis, summary and details, then its options (the help flag
// itself is not listed).
class CommandHelp final : public CLI::FormatterBase {
public:
    explicit CommandHelp(std::string synopsis) : m_synopsis(std::move(synopsis)) {}

    std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode) const override {
        std::string text = "usage: scopa " + m_synopsis + "\n\n" + app->get_description() + "\n";
        if (!app->get_footer().empty()) text += "\n" + app->get_footer() + "\n";
        std::vector<const CLI::Option*> options =
            app->get_options([app](const CLI::Option* option) {
                return option != app->get_help_ptr() && !option->get_positional();
            });
        if (!options.empty()) text += "\nOptions:\n";
        for (const CLI::Option* option : options) {
            std::string left =
                option->get_name() + (option->get_expected_max() > 0 ? " VALUE" : "");
            text += Row(left, kOptionColumn, option->get_description());
        }
        return text;
    }

private:
    std::string m_synopsis;
};

// "--name" of a word "--name=value"; other words as they are.
std::string OptionNameOf(const std::string& word) {
    if (word.rfind("--", 0) != 0) return word;
    return word.substr(0, word.find('='));
}

// The command's parser, from its option table; positional words are gathered in `arguments`.
std::unique_ptr<CLI::App> MakeParser(const Command& command, Arguments& arguments) {
    auto app = std::make_unique<CLI::App>(command.summary, command.name);
    app->formatter(std::make_shared<CommandHelp>(command.synopsis));
    app->footer(command.details);
    app->set_help_flag(kHelpFlags);
    for (const OptionSpec& spec : command.options) {
        CLI::Option* option =
            spec.takes_value ? app->add_option(spec.name) : app->add_flag(spec.name);
        option->description(spec.help);
        option->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    }
    app->add_option("ARGUMENTS", arguments.positional);
    return app;
}

// Reads the given options back from the parser; false (having said why) when a flag was
// given a value.
bool CollectOptions(const Command& command, const CLI::App& app, Arguments& arguments) {
    for (const OptionSpec& spec : command.options) {
        const CLI::Option* option = app.get_option(spec.name);
        if (option->count() == 0) continue;
        const std::vector<std::string>& results = option->results();
        if (!spec.takes_value) {
            // A plain flag parses as "true"; anything else came from "--flag=value".
            for (const std::string& result : results) {
                if (result != "true") {
                    Fail(command.name, "option '" + spec.name + "' takes no value", kExitUsage);
                    return false;
                }
            }
        }
        arguments.values[spec.name] = spec.takes_value ? results.back() : std::string();
    }
    return true;
}

int RunCommand(const Command& command, const std::vector<std::string>& words) {
    Arguments arguments;
    std::unique_ptr<CLI::App> app = MakeParser(command, arguments);
    try {
        // CLI11 takes the words last first.
        std::vector<std::string> reversed(words.rbegin(), words.rend());
        app->parse(reversed);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app->help().c_str(), stdout);
        return kExitOk;
    } catch (const CLI::ExtrasError&) {
        // Positional words are never extra, so what is left over is an unknown option.
        std::vector<std::string> unknown = app->remaining();
        std::string name = unknown.empty() ? std::string() : OptionNameOf(unknown.front());
        return Fail(command.name, "unknown option '" + name + "' (see --help)", kExitUsage);
    } catch (const CLI::ArgumentMismatch&) {
        // An option takes the word after it whatever it is, so only the last word can lack
        // its value.
        return Fail(command.name, "option '" + OptionNameOf(words.back()) + "' needs a value",
                    kExitUsage);
    } catch (const CLI::ParseError& error) {
        return Fail(command.name, error.what(), kExitUsage);
    }
    if (!CollectOptions(command, *app, arguments)) return kExitUsage;
    return command.run(arguments);
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& words) {
    // The usual case, a command's name first, leaves the top level nothing to parse: going
    // straight to the command saves building its parser at every start.
    if (!words.empty()) {
        auto named = AllCommands().find(words.front());
        if (named != AllCommands().end()) {
            return RunCommand(named->second,
                              std::vector<std::string>(words.begin() + 1, words.end()));
        }
    }
    CLI::App app("", "scopa");
    app.formatter(std::make_shared<OverviewHelp>());
    app.set_help_flag(kHelpFlags);
    CLI::Option* version = app.add_flag("--version")->disable_flag_override();
    // Parsing stops at the first word that is not one of the above: the command's name.
    app.prefix_command();
    std::vector<std::string> rest;
    try {
        std::vector<std::string> reversed(words.rbegin(), words.rend());
        app.parse(reversed);
        rest = app.remaining();
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
        return kExitOk;
    } catch (const CLI::ParseError&) {
        rest = words;
    }
    if (version->count() != 0) {
        std::fputs(kVersionLine, stdout);
        return kExitOk;
    }
    if (rest.empty()) {
        std::fputs(app.help().c_str(), stderr);
        return kExitUsage;
    }
    if (rest.front() == "help") {
        std::fputs(app.help().c_str(), stdout);
        return kExitOk;
    }
    auto found = AllCommands().find(rest.front());
    if (found == AllCommands().end()) {
        std::fprintf(stderr, "scopa: unknown command '%s' (see scopa --help)\n",
                     rest.front().c_str());
        return kExitUsage;
    }
    return RunCommand(found->second, std::vector<std::string>(rest.begin() + 1, rest.end()));
}

}  // namespace scopa::tool

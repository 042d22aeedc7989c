#pragma once

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What every command-line tool of the updater shares: its exit status, its option syntax, and
// the two options that do no work but answer a question (--help and --version). Plain C++ so
// that tools without Qt use it too.
namespace toolcommandline {

// The exit status of every tool.
enum ExitCode : int {
    Done = 0,   // the work is done (or --help, --version)
    Failed = 1, // the work failed, or there was nothing to find
    Usage = 2,  // the command line was wrong; nothing was done
};

// "<tool> <version>\n", the answer to --version.
inline std::string versionLine(std::string_view tool) {
    return std::string(tool) + ' ' + UPDATE_TOOL_VERSION + '\n';
}

// What to print on stdout when `argument` is --help (or -h) or --version; the caller then
// prints it and exits with Done. Nothing for any other argument.
inline std::optional<std::string> standardAnswer(std::string_view argument, std::string_view tool,
                                                 std::string_view usage) {
    if (argument == "--help" || argument == "-h")
        return std::string(usage);
    if (argument == "--version")
        return versionLine(tool);
    return std::nullopt;
}

// standardAnswer(), printed on stdout; whether there was one.
inline bool answersStandardOption(std::string_view argument, std::string_view tool,
                                  std::string_view usage) {
    const auto answer = standardAnswer(argument, tool, usage);
    if (answer)
        std::fputs(answer->c_str(), stdout);
    return answer.has_value();
}

// One option as it was given: its name with the dashes ("--id") and its value.
struct Option {
    std::string name;
    std::string value;
};

// A command line read with the tools' one syntax. Every option takes a value, given either as
// the next argument ("--id 7", whatever that argument looks like) or after "=" ("--id=7");
// "--" ends the options; "-" and every argument that does not start with "-" is an operand.
struct CommandLine {
    std::optional<std::string> answer; // for --help, -h or --version: print it, exit with Done
    std::string error;                 // a usage error for stderr: exit with Usage
    std::vector<Option> options;       // in the order given
    std::vector<std::string> operands;

    // The last value given for `name` ("--id"); nothing when the option was not given.
    std::optional<std::string> value(std::string_view name) const {
        const auto found =
            std::find_if(options.rbegin(), options.rend(),
                         [name](const Option &option) { return option.name == name; });
        if (found == options.rend())
            return std::nullopt;
        return found->value;
    }
};

// Reads `arguments` (the program's name left out) from left to right and stops at the first
// usage error or standard answer. `valueOptions` are the options the tool takes with a value,
// `flagOptions` those it takes without one (recorded with an empty value); any other is a
// usage error.
inline CommandLine readCommandLine(const std::vector<std::string> &arguments,
                                   std::initializer_list<std::string_view> valueOptions,
                                   std::string_view tool, std::string_view usage,
                                   std::initializer_list<std::string_view> flagOptions = {}) {
    CommandLine line;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            line.operands.emplace_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        if ((line.answer = standardAnswer(argument, tool, usage)))
            return line;
        const std::size_t equals = argument.find('=');
        const std::string_view name = argument.substr(0, equals);
        if (std::find(flagOptions.begin(), flagOptions.end(), name) != flagOptions.end()) {
            if (equals != std::string_view::npos) {
                line.error = std::string(name) + " takes no value";
                return line;
            }
            line.options.push_back({std::string(name), {}});
            continue;
        }
        if (std::find(valueOptions.begin(), valueOptions.end(), name) == valueOptions.end()) {
            line.error = "unknown option " + std::string(name);
            return line;
        }
        if (equals != std::string_view::npos) {
            line.options.push_back({std::string(name), std::string(argument.substr(equals + 1))});
        } else if (i + 1 < arguments.size()) {
            line.options.push_back({std::string(name), arguments[++i]});
        } else {
            line.error = std::string(name) + " needs a value";
            return line;
        }
    }
    return line;
}

} // namespace toolcommandline

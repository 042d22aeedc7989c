#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

// What every command-line tool of the updater shares: its exit status, and the two options
// that do no work but answer a question (--help and --version). Plain C++ so that tools
// without Qt use it too.
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

} // namespace toolcommandline

// update-tool-notify [--kind N] [--timeout MS] TEXT
// Sends one progress message to the running updater, as the conversion engine does, and
// waits for its answer. Built on the client library alone, so it starts in a moment and
// needs no Qt.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ToolCommandLine.h"
#include "update-tool/progress.h"

using namespace toolcommandline;

namespace {

constexpr std::string_view ToolName = "update-tool-notify";

constexpr std::string_view UsageText =
    "Usage: update-tool-notify [--kind N] [--timeout MS] TEXT\n"
    "Sends one progress message to the running updater and waits for its answer.\n"
    "Example: update-tool-notify \"Trancel1_ProgressValue?0.5\"\n"
    "\n"
    "  --kind N       message kind (default 3, progress)\n"
    "  --timeout MS   milliseconds to wait for the connection and for the answer (default "
    "5000)\n"
    "  TEXT           the message text, sent as the bytes given (the locale's codeset);\n"
    "                 put -- before a TEXT that starts with -\n"
    "\n"
    "  --help, --version\n"
    "\n"
    "Exit status: 0 answered, 1 no updater listening or no answer, 2 bad usage or message\n"
    "too large.\n";

void complain(const char *message) {
    std::fprintf(stderr, "update-tool-notify: %s\n", message);
}

std::optional<unsigned long> parseNumber(const char *text, unsigned long maximum) {
    if (text == nullptr || *text < '0' || *text > '9')
        return std::nullopt;
    errno = 0;
    char *end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (errno != 0 || *end != '\0' || value > maximum)
        return std::nullopt;
    return value;
}

struct Arguments {
    unsigned long kind = 0;
    unsigned long timeoutMs = 0;
    std::string text;
};

// Reads the command line; nothing when main is to exit at once with `exitCode` (Usage after
// a complaint on stderr, Done after --help or --version).
std::optional<Arguments> parseArguments(int argc, char *argv[], int &exitCode) {
    exitCode = Usage;
    const CommandLine line = readCommandLine(std::vector<std::string>(argv + 1, argv + argc),
                                             {"--kind", "--timeout"}, ToolName, UsageText);
    if (line.answer) {
        std::fputs(line.answer->c_str(), stdout);
        exitCode = Done;
        return std::nullopt;
    }
    if (!line.error.empty()) {
        complain((line.error + " (see --help)").c_str());
        return std::nullopt;
    }
    if (line.operands.size() != 1) {
        complain("give exactly one TEXT (see --help)");
        return std::nullopt;
    }
    const auto kind = parseNumber(line.value("--kind").value_or("3").c_str(), 0xFFFFFFFFul);
    if (!kind) {
        complain("--kind needs a number from 0 to 4294967295");
        return std::nullopt;
    }
    const auto timeoutMs = parseNumber(line.value("--timeout").value_or("5000").c_str(), 3600000);
    if (!timeoutMs || *timeoutMs == 0) {
        complain("--timeout needs milliseconds from 1 to 3600000");
        return std::nullopt;
    }
    return Arguments{*kind, *timeoutMs, line.operands.front()};
}

} // namespace

int main(int argc, char *argv[]) {
    int exitCode = Done;
    const auto arguments = parseArguments(argc, argv, exitCode);
    if (!arguments)
        return exitCode;
    exitCode = Done;

    // The text goes out as the bytes it was given in, which are already in the locale's
    // codeset.
    utp_conn *connection = nullptr;
    utp_status status = utp_open(&connection, nullptr, static_cast<int>(arguments->timeoutMs));
    if (status == UTP_OK)
        status = utp_send(connection, static_cast<uint32_t>(arguments->kind),
                          arguments->text.data(), arguments->text.size(), nullptr);
    switch (status) {
    case UTP_OK:
        break;
    case UTP_TOO_LARGE:
        complain(utp_error(connection));
        exitCode = Usage;
        break;
    case UTP_NO_UPDATER:
    case UTP_TIMED_OUT:
    case UTP_IO_ERROR:
        complain(utp_error(connection));
        exitCode = Failed;
        break;
    }
    utp_close(connection);
    return exitCode;
}

// update-tool-portal --port N --id ID --title TITLE --package FILE [--page-charset CS]
//                    [--throttle KIB_PER_S] [--signature FILE.minisig]
// A download portal for demonstrations and end-to-end tests: serves one product page and
// its package on 127.0.0.1 until it is told to stop (SIGTERM or SIGINT).
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QSocketNotifier>

#include "ToolCommandLine.h"
#include "httpserver/HttpServer.h"
#include "platform/Text.h"
#include "signing/Minisign.h"

using toolcommandline::Done;
using toolcommandline::Failed;

namespace {

// A wrong command line; exit code toolcommandline::Usage.
constexpr int BadUsage = toolcommandline::Usage;
constexpr std::string_view ToolName = "update-tool-portal";

// The drip interval of a throttled package; small enough for a smooth progress bar.
constexpr int ThrottleIntervalMs = 100;

int complain(const QString &message, int code) {
    std::fprintf(stderr, "update-tool-portal: %s\n", qPrintable(message));
    return code;
}

std::optional<quint32> parseUnsigned(const QString &text, quint32 maximum) {
    bool ok = false;
    const quint32 value = text.toUInt(&ok);
    return ok && value <= maximum ? std::optional<quint32>(value) : std::nullopt;
}

// Signals only write a byte here; the event loop reads it and quits, so nothing that is
// unsafe in a signal handler runs there.
int g_signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

bool quitOnSignals(QCoreApplication &app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return false;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] { app.quit(); });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGTERM, &action, nullptr) == 0 &&
           ::sigaction(SIGINT, &action, nullptr) == 0;
}

QByteArray packagePath(const QByteArray &id) {
    return "/download/d_load.php?d_id=" + id + "&down_id=1";
}

// `signature`: the .minisig file's bytes, announced in a meta tag when there are any.
QByteArray productPage(const QByteArray &title, const QByteArray &charset, const QByteArray &id,
                       const QByteArray &signature) {
    QByteArray link = packagePath(id);
    link.replace("&", "&amp;");
    QByteArray signatureMeta;
    if (!signature.isEmpty())
        signatureMeta =
            "<meta name=\"package-signature\" content=\"" + signature.toBase64() + "\">";
    return "<!DOCTYPE html>\n<html><head><meta charset=\"" + charset + "\">" + signatureMeta +
           "<title>" + title + "</title></head>\n<body>\n<h1 title=\"" + title + "\">" + title +
           "</h1>\n<p><a href=\"" + link + "\">download</a></p>\n</body></html>\n";
}

// What the portal serves, as the command line asked.
struct PortalSettings {
    quint16 port = 0;
    QByteArray id;
    QByteArray charset;
    QByteArray title; // in `charset`
    QString packagePath;
    QString signaturePath;
    std::optional<quint32> kibPerSecond;
};

constexpr std::string_view UsageText =
    "Usage: update-tool-portal --port N --id ID --title TITLE --package FILE\n"
    "                          [--page-charset CS] [--throttle KIB_PER_S]\n"
    "                          [--signature FILE.minisig]\n"
    "Serves a product page and its package on 127.0.0.1 until SIGTERM or SIGINT.\n"
    "Example: update-tool-portal --port 0 --id 7 --title \"Demo 2.1\" --package demo.zip\n"
    "\n"
    "  --port N                  port to listen on; 0 picks a free one\n"
    "  --id ID                   the software id\n"
    "  --title TITLE             the newest version's title on the page\n"
    "  --package FILE            the package file to serve\n"
    "  --page-charset CS         the page's charset (default UTF-8)\n"
    "  --throttle KIB_PER_S      send the package at this many KiB/s\n"
    "  --signature FILE.minisig  announce this minisign signature of the package on the page\n"
    "\n"
    "  --help, --version\n"
    "\n"
    "Exit status: 0 stopped by a signal (or --help, --version), 1 cannot serve, 2 bad usage.\n";

// The page's title in its charset; nothing, with the usage error in `error`, when the
// charset is unknown or cannot hold the title, or the title would break the page's markup.
std::optional<QByteArray> encodedTitle(const QString &title, const QString &charset,
                                       QString &error) {
    if (title.contains(QRegularExpression(QStringLiteral("[\"<>]")))) {
        error = QStringLiteral("the title may not contain \" < or >");
        return std::nullopt;
    }
    const QByteArray pageCharset = charset.toLatin1();
    const auto bytes = platform::encodeCharset(title, pageCharset);
    if (!bytes) {
        error = QStringLiteral("unknown page charset %1").arg(charset);
        return std::nullopt;
    }
    if (platform::decodeCharset(*bytes, pageCharset) != title) {
        error = QStringLiteral("the title cannot be written in %1").arg(charset);
        return std::nullopt;
    }
    return bytes;
}

// Checks the parsed command line; nothing, with the usage error in `error`, when it is wrong.
std::optional<PortalSettings> readSettings(const toolcommandline::CommandLine &line,
                                           QString &error) {
    if (!line.operands.empty()) {
        error = QStringLiteral("unexpected argument %1 (see --help)")
                    .arg(QString::fromLocal8Bit(line.operands.front()));
        return std::nullopt;
    }
    for (const char *required : {"--port", "--id", "--title", "--package"})
        if (!line.value(required)) {
            error = QStringLiteral("%1 is required (see --help)").arg(QLatin1String(required));
            return std::nullopt;
        }
    // Arguments are in the locale's codeset, as QCoreApplication::arguments() reads them.
    const auto value = [&line](const char *name, const char *fallback = "") {
        return QString::fromLocal8Bit(line.value(name).value_or(fallback));
    };
    PortalSettings settings;
    const auto port = parseUnsigned(value("--port"), 65535);
    if (!port) {
        error = QStringLiteral("--port wants a number from 0 to 65535");
        return std::nullopt;
    }
    settings.port = static_cast<quint16>(*port);
    const auto softwareId = parseUnsigned(value("--id"), 0x7FFFFFFF);
    if (!softwareId || *softwareId < 1) {
        error = QStringLiteral("--id wants a positive number");
        return std::nullopt;
    }
    settings.id = QByteArray::number(*softwareId);
    if (line.value("--throttle")) {
        settings.kibPerSecond = parseUnsigned(value("--throttle"), 1024 * 1024);
        if (!settings.kibPerSecond || *settings.kibPerSecond < 1) {
            error = QStringLiteral("--throttle wants a positive number of KiB/s");
            return std::nullopt;
        }
    }
    const QString charset = value("--page-charset", "UTF-8");
    const auto title = encodedTitle(value("--title"), charset, error);
    if (!title)
        return std::nullopt;
    settings.title = *title;
    settings.charset = charset.toLatin1();
    settings.packagePath = value("--package");
    settings.signaturePath = value("--signature");
    return settings;
}

// The .minisig file's bytes; nothing, with the reason in `error`, when it cannot be read or
// is no minisign signature.
std::optional<QByteArray> readSignature(const QString &path, QString &error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read the signature %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    QByteArray bytes = file.read(signing::MaxSignatureFileSize + 1);
    if (const auto parsed = signing::parseSignature(bytes);
        const auto *format = std::get_if<signing::FormatError>(&parsed)) {
        error = QStringLiteral("%1 is no minisign signature: %2")
                    .arg(path, QLatin1String(signing::describe(*format)));
        return std::nullopt;
    }
    return bytes;
}

// Routes the product page and the package.
void routePortal(httpserver::HttpServer &server, const PortalSettings &settings,
                 const QByteArray &package, const QByteArray &signature) {
    server.route("/content/" + settings.id + ".html",
                 httpserver::Response::ok(
                     productPage(settings.title, settings.charset, settings.id, signature),
                     "text/html; charset=" + settings.charset));
    auto packageResponse = httpserver::Response::ok(package, "application/zip");
    if (settings.kibPerSecond)
        packageResponse.dripping(qint64(*settings.kibPerSecond) * 1024 * ThrottleIntervalMs / 1000,
                                 ThrottleIntervalMs);
    server.route(packagePath(settings.id), packageResponse);
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const toolcommandline::CommandLine line = toolcommandline::readCommandLine(
        std::vector<std::string>(argv + 1, argv + argc),
        {"--port", "--id", "--title", "--package", "--page-charset", "--throttle", "--signature"},
        ToolName, UsageText);
    if (line.answer) {
        std::fputs(line.answer->c_str(), stdout);
        return Done;
    }
    if (!line.error.empty())
        return complain(QString::fromStdString(line.error) + QStringLiteral(" (see --help)"),
                        BadUsage);
    QString error;
    const auto settings = readSettings(line, error);
    if (!settings)
        return complain(error, BadUsage);

    QFile packageFile(settings->packagePath);
    if (!packageFile.open(QIODevice::ReadOnly))
        return complain(QStringLiteral("cannot read the package %1: %2")
                            .arg(packageFile.fileName(), packageFile.errorString()),
                        Failed);
    const QByteArray packageBytes = packageFile.readAll();
    packageFile.close();
    QByteArray signatureBytes;
    if (!settings->signaturePath.isEmpty()) {
        const auto signature = readSignature(settings->signaturePath, error);
        if (!signature)
            return complain(error, BadUsage);
        signatureBytes = *signature;
    }

    httpserver::HttpServer server;
    routePortal(server, *settings, packageBytes, signatureBytes);
    if (!quitOnSignals(app))
        return complain(QStringLiteral("cannot install the signal handlers"), Failed);
    if (!server.listen(settings->port))
        return complain(QStringLiteral("cannot listen on 127.0.0.1:%1").arg(settings->port),
                        Failed);
    std::printf("listening on http://127.0.0.1:%u\n", unsigned(server.port()));
    std::fflush(stdout);
    return app.exec() == 0 ? Done : Failed;
}

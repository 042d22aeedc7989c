// update-tool-portal --port N --id ID --title TITLE --package FILE [--page-charset CS]
//                    [--throttle KIB_PER_S] [--signature FILE.minisig]
// A download portal for demonstrations and end-to-end tests: serves one product page and
// its package on 127.0.0.1 until it is told to stop (SIGTERM or SIGINT).
#include <csignal>
#include <cstdio>
#include <optional>

#include <sys/socket.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QSocketNotifier>

#include "platform/Text.h"
#include "signing/Minisign.h"
#include "support/TestPortal.h"

namespace {

enum ExitCode { Stopped = 0, BadUsage = 2, CannotServe = 3 };

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

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Serves a product page and its package on 127.0.0.1 until SIGTERM or SIGINT.\n"
        "Example: update-tool-portal --port 0 --id 7 --title \"Demo 2.1\" --package demo.zip"));
    parser.addHelpOption();
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Port to listen on; 0 picks a free one."),
                                  QStringLiteral("N"));
    const QCommandLineOption id(QStringLiteral("id"), QStringLiteral("The software id."),
                                QStringLiteral("ID"));
    const QCommandLineOption title(QStringLiteral("title"),
                                   QStringLiteral("The newest version's title on the page."),
                                   QStringLiteral("TITLE"));
    const QCommandLineOption package(QStringLiteral("package"),
                                     QStringLiteral("The package file to serve."),
                                     QStringLiteral("FILE"));
    const QCommandLineOption charset(QStringLiteral("page-charset"),
                                     QStringLiteral("The page's charset (default UTF-8)."),
                                     QStringLiteral("CS"), QStringLiteral("UTF-8"));
    const QCommandLineOption throttle(QStringLiteral("throttle"),
                                      QStringLiteral("Send the package at this many KiB/s."),
                                      QStringLiteral("KIB_PER_S"));
    const QCommandLineOption signature(
        QStringLiteral("signature"),
        QStringLiteral("Announce this minisign signature of the package on the page."),
        QStringLiteral("FILE.minisig"));
    parser.addOptions({port, id, title, package, charset, throttle, signature});
    if (!parser.parse(app.arguments()))
        return complain(parser.errorText(), BadUsage);
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return Stopped;
    }
    if (!parser.positionalArguments().isEmpty())
        return complain(QStringLiteral("unexpected argument %1 (see --help)")
                            .arg(parser.positionalArguments().constFirst()),
                        BadUsage);
    for (const QCommandLineOption *required : {&port, &id, &title, &package})
        if (!parser.isSet(*required))
            return complain(
                QStringLiteral("--%1 is required (see --help)").arg(required->names().constFirst()),
                BadUsage);

    const auto portNumber = parseUnsigned(parser.value(port), 65535);
    if (!portNumber)
        return complain(QStringLiteral("--port wants a number from 0 to 65535"), BadUsage);
    const auto softwareId = parseUnsigned(parser.value(id), 0x7FFFFFFF);
    if (!softwareId || *softwareId < 1)
        return complain(QStringLiteral("--id wants a positive number"), BadUsage);
    std::optional<quint32> kibPerSecond;
    if (parser.isSet(throttle)) {
        kibPerSecond = parseUnsigned(parser.value(throttle), 1024 * 1024);
        if (!kibPerSecond || *kibPerSecond < 1)
            return complain(QStringLiteral("--throttle wants a positive number of KiB/s"),
                            BadUsage);
    }
    if (parser.value(title).contains(QRegularExpression(QStringLiteral("[\"<>]"))))
        return complain(QStringLiteral("the title may not contain \" < or >"), BadUsage);
    const QByteArray pageCharset = parser.value(charset).toLatin1();
    const QString titleText = parser.value(title);
    const auto titleBytes = platform::encodeCharset(titleText, pageCharset);
    if (!titleBytes)
        return complain(QStringLiteral("unknown page charset %1").arg(parser.value(charset)),
                        BadUsage);
    if (platform::decodeCharset(*titleBytes, pageCharset) != titleText)
        return complain(
            QStringLiteral("the title cannot be written in %1").arg(parser.value(charset)),
            BadUsage);

    QFile packageFile(parser.value(package));
    if (!packageFile.open(QIODevice::ReadOnly))
        return complain(QStringLiteral("cannot read the package %1: %2")
                            .arg(packageFile.fileName(), packageFile.errorString()),
                        CannotServe);
    const QByteArray packageBytes = packageFile.readAll();
    packageFile.close();

    QByteArray signatureBytes;
    if (parser.isSet(signature)) {
        QFile signatureFile(parser.value(signature));
        if (!signatureFile.open(QIODevice::ReadOnly))
            return complain(QStringLiteral("cannot read the signature %1: %2")
                                .arg(signatureFile.fileName(), signatureFile.errorString()),
                            BadUsage);
        signatureBytes = signatureFile.read(signing::MaxSignatureFileSize + 1);
        if (const auto parsed = signing::parseSignature(signatureBytes);
            const auto *error = std::get_if<signing::FormatError>(&parsed))
            return complain(
                QStringLiteral("%1 is no minisign signature: %2")
                    .arg(signatureFile.fileName(), QLatin1String(signing::describe(*error))),
                BadUsage);
    }

    testsupport::TestPortal portal;
    const QByteArray idText = QByteArray::number(*softwareId);
    portal.route("/content/" + idText + ".html",
                 testsupport::PortalResponse::ok(
                     productPage(*titleBytes, pageCharset, idText, signatureBytes),
                     "text/html; charset=" + pageCharset));
    auto packageResponse = testsupport::PortalResponse::ok(packageBytes, "application/zip");
    if (kibPerSecond)
        packageResponse.dripping(qint64(*kibPerSecond) * 1024 * ThrottleIntervalMs / 1000,
                                 ThrottleIntervalMs);
    portal.route(packagePath(idText), packageResponse);

    if (!quitOnSignals(app))
        return complain(QStringLiteral("cannot install the signal handlers"), CannotServe);
    if (!portal.listen(static_cast<quint16>(*portNumber)))
        return complain(QStringLiteral("cannot listen on 127.0.0.1:%1").arg(*portNumber),
                        CannotServe);
    std::printf("listening on http://127.0.0.1:%u\n", unsigned(portal.port()));
    std::fflush(stdout);
    return app.exec() == 0 ? Stopped : CannotServe;
}

// update-tool-notify [--kind N] [--timeout MS] TEXT
// Sends one progress message to the running updater, as the conversion engine does, and
// waits for its answer.
#include <cstdio>
#include <optional>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>

#include "hook/ProgressPayload.h"
#include "hook/ProgressSender.h"
#include "platform/Text.h"

namespace {

enum ExitCode { Answered = 0, NoUpdater = 1, BadUsage = 2, NotAnswered = 3 };

int complain(const QString &message, int code) {
    std::fprintf(stderr, "update-tool-notify: %s\n", qPrintable(message));
    return code;
}

std::optional<quint32> parseUnsigned(const QString &text) {
    bool ok = false;
    const quint32 value = text.toUInt(&ok);
    return ok ? std::optional<quint32>(value) : std::nullopt;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Sends one progress message to the running updater and waits for its answer.\n"
        "Example: update-tool-notify \"Trancel1_ProgressValue?0.5\""));
    parser.addHelpOption();
    const QCommandLineOption kind(QStringLiteral("kind"),
                                  QStringLiteral("Message kind (default 3, progress)."),
                                  QStringLiteral("N"), QString::number(hook::kProgressKind));
    const QCommandLineOption timeout(QStringLiteral("timeout"),
                                     QStringLiteral("Milliseconds to wait for the answer "
                                                    "(default 5000)."),
                                     QStringLiteral("MS"), QStringLiteral("5000"));
    parser.addOption(kind);
    parser.addOption(timeout);
    parser.addPositionalArgument(QStringLiteral("TEXT"),
                                 QStringLiteral("The message text, sent in the locale's "
                                                "codeset."));
    if (!parser.parse(app.arguments()))
        return complain(parser.errorText(), BadUsage);
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return Answered;
    }
    const QStringList texts = parser.positionalArguments();
    if (texts.size() != 1)
        return complain(QStringLiteral("give exactly one TEXT (see --help)"), BadUsage);
    const auto dwData = parseUnsigned(parser.value(kind));
    if (!dwData)
        return complain(QStringLiteral("--kind needs a number from 0 to 4294967295"), BadUsage);
    const auto timeoutMs = parseUnsigned(parser.value(timeout));
    if (!timeoutMs || *timeoutMs == 0 || *timeoutMs > 3600000)
        return complain(QStringLiteral("--timeout needs milliseconds from 1 to 3600000"), BadUsage);

    // The text goes out as the bytes it was given in, which are already in the locale's
    // codeset; decoding and encoding it again could change bytes Qt reads as UTF-8.
    QByteArray payload = platform::toLocaleCodeset(texts.first());
    for (int i = argc - 1; i > 0; --i) {
        if (QString::fromLocal8Bit(argv[i]) == texts.first()) {
            payload = QByteArray(argv[i]);
            break;
        }
    }
    const hook::SendResult sent =
        hook::sendCopyData(*dwData, payload, static_cast<int>(*timeoutMs));
    switch (sent.outcome) {
    case hook::SendOutcome::Answered:
        return Answered;
    case hook::SendOutcome::NoUpdater:
        return complain(sent.message, NoUpdater);
    case hook::SendOutcome::TooLong:
        return complain(sent.message, BadUsage);
    case hook::SendOutcome::Timeout:
    case hook::SendOutcome::Failed:
        break;
    }
    return complain(sent.message, NotAnswered);
}

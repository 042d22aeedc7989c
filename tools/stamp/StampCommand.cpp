#include "StampCommand.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include "ToolCommandLine.h"
#include "platform/Files.h"
#include "platform/PropertyBag.h"
#include "platform/SettingsTrailer.h"
#include "signing/Minisign.h"

namespace stamp {
namespace {

constexpr std::string_view ToolName = "update-tool-stamp";

// The one-line form that follows each usage error.
const QString ShortUsage = QStringLiteral(
    "usage: update-tool-stamp write IN OUT --name NAME --id N [--style N] [--color C] "
    "[--special-color C] [--portal URL] [--public-key KEY|FILE.pub [--public-key ...]] "
    "[--require-release-info] | update-tool-stamp show EXE");

constexpr std::string_view UsageText =
    "Usage: update-tool-stamp write IN OUT --name NAME --id N [--style N] [--color C]\n"
    "                         [--special-color C] [--portal URL] [--public-key KEY|FILE.pub]\n"
    "                         [--public-key KEY2|FILE2.pub] [--require-release-info]\n"
    "       update-tool-stamp show EXE\n"
    "       update-tool-stamp --help | --version\n"
    "\n"
    "write  copies IN to OUT with a fresh settings trailer (an existing one is replaced);\n"
    "       OUT is written in one step and gets IN's mode. Colours are decimal OLE values\n"
    "       (0 to 16777215) or #RRGGBB; --portal is an http:// or https:// base; --public-key\n"
    "       is a minisign public key (its base64 line or a .pub file), given at most twice\n"
    "       (key rotation); --require-release-info makes the copy refuse signatures whose\n"
    "       trusted comment lacks the product, version or size.\n"
    "show   prints the settings EXE carries, one Key=value line each.\n"
    "\n"
    "Exit status: 0 done, 1 failed (or EXE carries no settings), 2 bad usage.\n";

// The keys a copy may carry, in the order they are written and shown.
const QStringList Keys{QStringLiteral("SoftwareName"),
                       QStringLiteral("SoftwareID"),
                       QStringLiteral("SoftwareThemeStyle"),
                       QStringLiteral("SoftwareThemeColor"),
                       QStringLiteral("SoftwareThemeSpecialColor"),
                       QStringLiteral("PortalBase"),
                       QStringLiteral("PackagePublicKey"),
                       QStringLiteral("PackagePublicKey2"),
                       QStringLiteral("PackageRequireReleaseInfo")};

Result failure(const QString &message) {
    return {toolcommandline::Failed, {}, message};
}
Result usageError(const QString &message) {
    return {toolcommandline::Usage, {}, message + QStringLiteral("; ") + ShortUsage};
}

std::optional<qint64> integerArgument(const QString &text, qint64 min, qint64 max) {
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, 10);
    if (!ok || value < min || value > max)
        return std::nullopt;
    return value;
}

// "#RRGGBB" or a decimal OLE colour; the result is the OLE colour 0x00BBGGRR.
std::optional<qint64> colourArgument(const QString &text) {
    if (text.startsWith(u'#')) {
        if (text.size() != 7)
            return std::nullopt;
        bool ok = false;
        const uint rgb = text.mid(1).toUInt(&ok, 16);
        if (!ok)
            return std::nullopt;
        return qint64((rgb >> 16) & 0xFF) | qint64((rgb >> 8) & 0xFF) << 8 |
               qint64(rgb & 0xFF) << 16;
    }
    return integerArgument(text, 0, 0xFFFFFF);
}

std::optional<QString> portalArgument(QString text) {
    while (text.endsWith(u'/'))
        text.chop(1);
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != u"http" && url.scheme() != u"https") ||
        url.host().isEmpty() || url.hasQuery() || url.hasFragment())
        return std::nullopt;
    return text;
}

// A minisign public key: its base64 line, or the path of a .pub file holding it.
std::optional<QString> publicKeyArgument(const QString &text, QString &error) {
    QByteArray keyText = text.toUtf8();
    if (QFileInfo(text).isFile()) {
        QFile file(text);
        if (!file.open(QIODevice::ReadOnly)) {
            error = QStringLiteral("cannot read %1: %2").arg(text, file.errorString());
            return std::nullopt;
        }
        keyText = file.read(signing::MaxPublicKeyFileSize + 1);
    }
    const auto key = signing::parsePublicKey(keyText);
    if (const auto *format = std::get_if<signing::FormatError>(&key)) {
        error = QStringLiteral("--public-key takes a minisign public key or .pub file, but %1")
                    .arg(QLatin1String(signing::describe(*format)));
        return std::nullopt;
    }
    return QString::fromLatin1(std::get<signing::PublicKey>(key).toBase64());
}

QString displayValue(const platform::PropertyValue &value) {
    if (const auto *text = std::get_if<QString>(&value))
        return *text;
    return QString::number(std::get<std::int32_t>(value));
}

// The updater is a few MiB; an input far beyond that is not a copy of it.
constexpr qint64 MaxInputSize = qint64(256) << 20;

// Reads a regular, non-empty file of at most MaxInputSize bytes. The kind and size are
// checked on the opened file itself (opened without blocking, so a FIFO cannot stall us), and
// no more than the size it had then is read, so a file that grows meanwhile is not followed.
std::optional<QByteArray> readStampInput(const QString &path, QString &error) {
    const auto fail = [&](const QString &reason) {
        error = QStringLiteral("cannot read %1: %2").arg(path, reason);
        return std::nullopt;
    };
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return fail(file.errorString());
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    if (!S_ISREG(info.st_mode))
        return fail(QStringLiteral("not a regular file"));
    if (info.st_size == 0)
        return fail(QStringLiteral("the file is empty"));
    if (info.st_size > MaxInputSize)
        return fail(QStringLiteral("larger than %1 MiB").arg(MaxInputSize >> 20));
    QByteArray bytes = file.read(info.st_size);
    if (file.error() != QFileDevice::NoError)
        return fail(file.errorString());
    if (bytes.size() != info.st_size)
        return fail(QStringLiteral("the file changed while it was read"));
    return bytes;
}

// Reads the whole input and returns it without a trailer of ours at its end, so that
// stamping a stamped copy replaces its settings instead of stacking a second trailer.
std::optional<QByteArray> readWithoutTrailer(const QString &path, QString &error) {
    auto bytes = readStampInput(path, error);
    if (!bytes)
        return std::nullopt;
    QBuffer buffer(&*bytes);
    buffer.open(QIODevice::ReadOnly);
    const auto location = platform::locateTrailer(buffer);
    if (location && location->endsTheFile) {
        const auto contents = platform::readTrailerContents(buffer);
        if (contents && platform::PropertyBag::fromContents(*contents))
            bytes->truncate(static_cast<qsizetype>(location->start));
    }
    return bytes;
}

// Replaces `path` in one step with the wanted mode. A failure leaves no partial output.
bool writeAtomically(const QString &path, const QByteArray &bytes,
                     QFileDevice::Permissions permissions, QString &error) {
    if (platform::replaceFileContents(path, bytes, permissions, error))
        return true;
    error = QStringLiteral("cannot write %1: %2").arg(path, error);
    return false;
}

// What `write` puts into the trailer, as read from its options.
struct WriteSettings {
    std::optional<QString> name;
    std::optional<qint64> id;
    std::optional<qint64> style;
    std::optional<qint64> colour;
    std::optional<qint64> specialColour;
    std::optional<QString> portal;
    QStringList publicKeys;
    bool requireReleaseInfo = false;
};

// Reads one option of `write` and its value into `settings`; false, with the usage error
// in `error`, for an unknown option or a value it does not take.
bool readWriteOption(const QString &option, const QString &value, WriteSettings &settings,
                     QString &error) {
    if (option == u"--name") {
        settings.name = value;
    } else if (option == u"--id") {
        settings.id = integerArgument(value, std::numeric_limits<qint32>::min(),
                                      std::numeric_limits<qint32>::max());
        if (!settings.id)
            error = QStringLiteral("--id takes a whole number, not '%1'").arg(value);
    } else if (option == u"--style") {
        settings.style = integerArgument(value, 0, std::numeric_limits<qint32>::max());
        if (!settings.style)
            error = QStringLiteral("--style takes a whole number from 0, not '%1'").arg(value);
    } else if (option == u"--color" || option == u"--special-color") {
        auto &slot = option == u"--color" ? settings.colour : settings.specialColour;
        slot = colourArgument(value);
        if (!slot)
            error = QStringLiteral("%1 takes #RRGGBB or a number from 0 to 16777215, not '%2'")
                        .arg(option, value);
    } else if (option == u"--portal") {
        settings.portal = portalArgument(value);
        if (!settings.portal)
            error = QStringLiteral("--portal takes an http:// or https:// address, not '%1'")
                        .arg(value);
    } else if (option == u"--require-release-info") {
        settings.requireReleaseInfo = true;
    } else if (option == u"--public-key") {
        if (settings.publicKeys.size() == 2)
            error = QStringLiteral("--public-key may be given twice at most");
        else if (const auto key = publicKeyArgument(value, error))
            settings.publicKeys << *key;
    } else {
        error = QStringLiteral("unknown option '%1'").arg(option);
    }
    return error.isEmpty();
}

// The trailer's property bag for `settings`, keys in the order of Keys.
platform::PropertyBag settingsBag(const WriteSettings &settings) {
    platform::PropertyBag bag;
    const auto writeNumber = [&](const QString &key, const std::optional<qint64> &value) {
        if (value)
            bag.write(key, QString::number(*value));
    };
    bag.write(Keys[0], *settings.name);
    writeNumber(Keys[1], settings.id);
    writeNumber(Keys[2], settings.style);
    writeNumber(Keys[3], settings.colour);
    writeNumber(Keys[4], settings.specialColour);
    if (settings.portal)
        bag.write(Keys[5], *settings.portal);
    for (qsizetype i = 0; i < settings.publicKeys.size(); ++i)
        bag.write(Keys[6 + i], settings.publicKeys[i]);
    if (settings.requireReleaseInfo)
        bag.write(Keys[8], QStringLiteral("1"));
    return bag;
}

// `operands` are the command's: IN and OUT.
Result write(const QStringList &operands, const std::vector<toolcommandline::Option> &options) {
    if (operands.size() < 2)
        return usageError(QStringLiteral("write needs IN and OUT"));
    if (operands.size() > 2)
        return usageError(QStringLiteral("unexpected argument '%1'").arg(operands[2]));
    const QString &in = operands[0];
    const QString &out = operands[1];
    WriteSettings settings;
    QString error;
    for (const toolcommandline::Option &option : options)
        if (!readWriteOption(QString::fromStdString(option.name),
                             QString::fromStdString(option.value), settings, error))
            return usageError(error);
    if (!settings.name || !settings.id)
        return usageError(QStringLiteral("write needs --name and --id"));
    if (settings.requireReleaseInfo && settings.publicKeys.isEmpty())
        return usageError(QStringLiteral("--require-release-info needs --public-key"));

    auto bytes = readWithoutTrailer(in, error);
    if (!bytes)
        return failure(error);
    bytes->append(platform::makeTrailer(settingsBag(settings).contents(), bytes->size()));
    if (!writeAtomically(out, *bytes, QFileInfo(in).permissions(), error))
        return failure(error);
    return {};
}

Result show(const QStringList &operands, const std::vector<toolcommandline::Option> &options) {
    if (!options.empty())
        return usageError(QStringLiteral("show takes no options"));
    if (operands.size() != 1)
        return usageError(QStringLiteral("show takes one file"));
    const QString &path = operands[0];
    if (!QFileInfo(path).isFile())
        return failure(QStringLiteral("cannot read %1").arg(path));
    const auto contents = platform::readTrailerContents(path);
    const auto bag = contents ? platform::PropertyBag::fromContents(*contents) : std::nullopt;
    if (!bag)
        return failure(QStringLiteral("%1 carries no readable settings trailer").arg(path));
    Result result;
    for (const QString &key : Keys)
        if (const auto value = bag->read(key))
            result.output += key + u'=' + displayValue(*value) + u'\n';
    if (result.output.isEmpty())
        return failure(QStringLiteral("%1 carries no settings").arg(path));
    return result;
}

} // namespace

Result run(const QStringList &args) {
    std::vector<std::string> arguments;
    for (const QString &argument : args)
        arguments.push_back(argument.toStdString());
    const toolcommandline::CommandLine line = toolcommandline::readCommandLine(
        arguments,
        {"--name", "--id", "--style", "--color", "--special-color", "--portal", "--public-key"},
        ToolName, UsageText, {"--require-release-info"});
    if (line.answer)
        return {toolcommandline::Done, QString::fromStdString(*line.answer), {}};
    if (!line.error.empty())
        return usageError(QString::fromStdString(line.error));
    if (line.operands.empty())
        return usageError(QStringLiteral("no command"));
    QStringList operands;
    for (const std::string &operand : line.operands)
        operands.append(QString::fromStdString(operand));
    const QString command = operands.takeFirst();
    if (command == u"write")
        return write(operands, line.options);
    if (command == u"show")
        return show(operands, line.options);
    return usageError(QStringLiteral("unknown command '%1'").arg(command));
}

} // namespace stamp

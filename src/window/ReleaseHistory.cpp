#include "window/ReleaseHistory.h"
#include "window/StateFiles.h"

#include <algorithm>
#include <limits>

#include <QDir>
#include <QFile>
#include <QList>
#include <QStringDecoder>

namespace window {
namespace {

constexpr qsizetype MaxEntries = 1024;

QByteArray keyIdHex(const signing::KeyId &keyId) {
    return QByteArray(reinterpret_cast<const char *>(keyId.data()), qsizetype(keyId.size()))
        .toHex();
}

std::optional<AcceptedRelease> parseLine(QByteArrayView line) {
    const QList<QByteArray> fields = line.toByteArray().split('\t');
    if (fields.size() != 4)
        return std::nullopt;
    AcceptedRelease release;
    const auto product = stateDecimal(fields[0], std::numeric_limits<std::int32_t>::max());
    const auto timestamp = stateDecimal(fields[2], std::numeric_limits<qint64>::max() / 16);
    const QByteArray keyId = QByteArray::fromHex(fields[1]);
    if (!product || !timestamp || fields[1].size() != 16 || keyId.size() != 8 ||
        keyId.toHex() != fields[1].toLower())
        return std::nullopt;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    release.version = utf8.decode(fields[3]);
    if (utf8.hasError())
        return std::nullopt;
    release.product = std::int32_t(*product);
    release.timestamp = *timestamp;
    std::copy(keyId.begin(), keyId.end(), release.keyId.begin());
    return release;
}

} // namespace

QString releaseHistoryPath() {
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/update-tool/releases");
}

std::optional<qint64> newestAccepted(const ReleaseHistory &history, std::int32_t product,
                                     const signing::KeyId &keyId) {
    std::optional<qint64> newest;
    for (const AcceptedRelease &release : history)
        if (release.product == product && release.keyId == keyId &&
            (!newest || release.timestamp > *newest))
            newest = release.timestamp;
    return newest;
}

ReleaseHistory withAccepted(ReleaseHistory history, const AcceptedRelease &release) {
    const auto same = std::find_if(history.begin(), history.end(), [&](const auto &entry) {
        return entry.product == release.product && entry.keyId == release.keyId;
    });
    if (same == history.end())
        history.push_back(release);
    else if (same->timestamp <= release.timestamp)
        *same = release;
    return history;
}

QByteArray formatReleaseHistory(const ReleaseHistory &history) {
    QByteArray text;
    for (const AcceptedRelease &release : history) {
        // The version comes from a signed comment, which holds neither tabs nor line breaks;
        // a blank keeps a damaged one from breaking the file's lines all the same.
        QString version = release.version;
        for (QChar &c : version)
            if (c == u'\t' || c == u'\n' || c == u'\r')
                c = u' ';
        text += QByteArray::number(release.product) + '\t' + keyIdHex(release.keyId) + '\t' +
                QByteArray::number(release.timestamp) + '\t' + version.toUtf8() + '\n';
    }
    return text;
}

std::optional<ReleaseHistory> parseReleaseHistory(QByteArrayView text) {
    if (text.size() > MaxReleaseHistorySize || (!text.isEmpty() && !text.endsWith('\n')))
        return std::nullopt;
    ReleaseHistory history;
    for (const QByteArray &line : text.toByteArray().split('\n')) {
        if (line.isEmpty())
            continue;
        const auto release = parseLine(line);
        if (!release || qsizetype(history.size()) >= MaxEntries)
            return std::nullopt;
        history.push_back(*release);
    }
    return history;
}

ReleaseHistory readReleaseHistory(const QString &path, QString &error) {
    const std::optional<QByteArray> text = readStateFile(path, MaxReleaseHistorySize, error);
    if (!text)
        return {};
    auto history = parseReleaseHistory(*text);
    if (!history) {
        error = QStringLiteral("%1 is damaged and counts as empty").arg(path);
        return {};
    }
    return std::move(*history);
}

bool writeReleaseHistory(const QString &path, const ReleaseHistory &history, QString &error) {
    return writeStateFile(path, formatReleaseHistory(history), error);
}

} // namespace window

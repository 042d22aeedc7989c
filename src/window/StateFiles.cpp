#include "window/StateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace window {

std::optional<qint64> stateDecimal(QByteArrayView text, qint64 max) {
    if (text.isEmpty() || text.size() > 18)
        return std::nullopt;
    qint64 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value <= max ? std::optional(value) : std::nullopt;
}

std::optional<QByteArray> readStateFile(const QString &path, qint64 maxSize, QString &error) {
    QFile file(path);
    if (!file.exists())
        return QByteArray();
    QByteArray text;
    if (file.open(QIODevice::ReadOnly))
        text = file.read(maxSize + 1);
    if (!file.isOpen() || file.error() != QFileDevice::NoError) {
        error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    return text;
}

bool writeStateFile(const QString &path, const QByteArray &text, QString &error) {
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        error = QStringLiteral("cannot make the folder %1").arg(folder);
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace window

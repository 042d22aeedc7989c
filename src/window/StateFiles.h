#pragma once

#include <optional>

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// The small files a copy keeps under its state folder (the releases it accepted, the
// packages it published): read whole with a size limit, replaced whole in one step.
namespace window {

// Digits only (no sign, no blanks), at most `max`; nothing for anything else.
std::optional<qint64> stateDecimal(QByteArrayView text, qint64 max);

// The file's bytes: empty when it does not exist, all of them up to `maxSize` + 1 (so that
// the parser sees a file that is too large), nothing with the reason in `error` when it
// cannot be read.
std::optional<QByteArray> readStateFile(const QString &path, qint64 maxSize, QString &error);

// Replaces the file with `text` in one step, making its folder first. False, with the
// reason in `error`, when that fails; the old file then stays as it was.
bool writeStateFile(const QString &path, const QByteArray &text, QString &error);

} // namespace window

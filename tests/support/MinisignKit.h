#pragma once

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

// Keys and signatures made by the real minisign tool, so that the tests check what vendors
// will really publish.
namespace testsupport {

// Runs minisign without a terminal; keys made with -W need no password. False when the tool
// is missing or fails.
inline bool runMinisign(const QStringList &args) {
    const QString exe = QStandardPaths::findExecutable(QStringLiteral("minisign"));
    if (exe.isEmpty())
        return false;
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(exe, args);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// Makes `stem`.pub and `stem`.key.
inline bool makeMinisignKey(const QString &stem) {
    return runMinisign({QStringLiteral("-G"), QStringLiteral("-f"), QStringLiteral("-W"),
                        QStringLiteral("-p"), stem + QStringLiteral(".pub"), QStringLiteral("-s"),
                        stem + QStringLiteral(".key")});
}

// The trusted comment of signed release information, fields left out where empty or < 0.
inline QString releaseComment(qint64 timestamp, const QString &product, const QString &version,
                              qint64 size) {
    QStringList fields;
    if (timestamp >= 0)
        fields << QStringLiteral("timestamp:%1").arg(timestamp);
    if (!product.isEmpty())
        fields << QStringLiteral("product:") + product;
    if (!version.isEmpty())
        fields << QStringLiteral("version:") + version;
    if (size >= 0)
        fields << QStringLiteral("size:%1").arg(size);
    return fields.join(u'\t');
}

// Signs `file` with the secret key `stem`.key into `signature`; `wholeFile` makes the
// legacy "Ed" kind instead of the hashed "ED" one; `trustedComment` replaces minisign's
// default comment when given.
inline bool minisignFile(const QString &file, const QString &stem, const QString &signature,
                         bool wholeFile = false, const QString &trustedComment = {}) {
    QStringList args{QStringLiteral("-S"),
                     QStringLiteral("-s"),
                     stem + QStringLiteral(".key"),
                     QStringLiteral("-m"),
                     file,
                     QStringLiteral("-x"),
                     signature};
    if (wholeFile)
        args << QStringLiteral("-l");
    if (!trustedComment.isEmpty())
        args << QStringLiteral("-t") << trustedComment;
    return runMinisign(args);
}

inline QByteArray readAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace testsupport

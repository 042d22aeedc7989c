#pragma once

#include <functional>
#include <vector>

#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTest>

#include "download/ctlAsyncDownload.h"
#include "support/ZipArchive.h"

// What the download tests share: an event recorder and a look at scratch folders.

inline QByteArray contentsOf(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

inline bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A publish check that follows the bytes as they are written and refuses the file unless
// what it saw is exactly what the file holds, every chunk at the offset where the last one
// ended (or at 0, starting over).
struct FollowingCheck final : download::PublishCheck {
    QByteArray seen;
    QString problem;
    int startsOver = 0;
    void observe(qint64 offset, const QByteArray &bytes) override {
        if (offset == 0) {
            seen.clear();
            ++startsOver;
        }
        if (offset != seen.size())
            problem = QStringLiteral("a chunk at %1 after %2 bytes").arg(offset).arg(seen.size());
        seen.append(bytes.data(), bytes.size());
    }
    bool verify(const QString &file, QString &error) override {
        QFile in(file);
        if (problem.isEmpty() && (!in.open(QIODevice::ReadOnly) || in.readAll() != seen))
            problem = QStringLiteral("the file is not what was written");
        error = problem;
        return problem.isEmpty();
    }
};

// Runs the event loop until `control` has no checks running: their verdicts arrive queued.
inline bool waitForPublishing(const download::ctlAsyncDownload &control) {
    return QTest::qWaitFor([&] { return !control.isPublishing(); }, 30000);
}

// Every entry of `folder`, hidden ones and dangling links included, by name.
inline QStringList entriesOf(const QString &folder) {
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// The name a test reads for each status number the control reports. The numbers are written
// out here on purpose: they are what the control stores and its host receives.
inline QString statusName(std::int32_t status) {
    static const QStringList names{"Completed",   "Connecting", "BeginningData", "ReceivingData",
                                   "Redirecting", "Cancelled",  "AllCancelled",  "Error"};
    return status >= 0 && status < names.size() ? names.at(status) : QString::number(status);
}

// Records the control's events as short lines, in order, so that a test can compare whole
// sequences. Hooks let a test call back into the control from inside an event.
struct EventLog final : download::ctlAsyncDownloadEvents {
    QStringList lines;
    std::vector<net::AsyncProperty> finished;
    std::vector<float> percents;
    QStringList savedFiles;
    std::function<void(std::int32_t, const QString &)> onStatus;
    std::function<void(const net::AsyncProperty &)> onFinished;
    std::function<void()> onProgress;

    void Progress(const net::AsyncProperty &X, float Percent, std::int32_t DownloadsCount,
                  qint64 BytesRead, qint64 BytesMax) override {
        percents.push_back(Percent);
        lines << QStringLiteral("Progress %1 %2 %3/%4 %5")
                     .arg(double(Percent))
                     .arg(DownloadsCount)
                     .arg(BytesRead)
                     .arg(BytesMax)
                     .arg(X.target);
        if (onProgress)
            onProgress();
    }
    void Status(std::int32_t Status, const QString &Info) override {
        lines << QStringLiteral("Status %1 %2").arg(statusName(Status), Info);
        if (onStatus)
            onStatus(Status, Info);
    }
    void Finished(const net::AsyncProperty &X, std::int32_t DownloadsCount) override {
        finished.push_back(X);
        lines << QStringLiteral("Finished %1 %2 %3")
                     .arg(X.succeeded() ? QStringLiteral("ok") : QStringLiteral("failed"))
                     .arg(DownloadsCount)
                     .arg(X.target);
        if (onFinished)
            onFinished(X);
    }
    void FileSaved(const QString &FileName, const QString &Url) override {
        savedFiles << FileName;
        lines << QStringLiteral("FileSaved %1 %2").arg(FileName, Url);
    }
    void MimeType(const QString &MimeType) override {
        lines << QStringLiteral("MimeType ") + MimeType;
    }
    void CacheFileAvailable(const QString &FileName) override {
        lines << QStringLiteral("CacheFileAvailable ") + FileName;
    }

    // The lines that start with `prefix`.
    QStringList only(const QString &prefix) const {
        QStringList out;
        for (const QString &line : lines)
            if (line.startsWith(prefix))
                out << line;
        return out;
    }
};

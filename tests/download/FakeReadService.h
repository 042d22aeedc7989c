#pragma once

#include <QString>
#include <QStringList>

#include "net/ReadService.h"

// A read service that only records what it is asked and sends the notifications a test
// scripts, including status codes no real transport produces.
class FakeReadService final : public net::ReadService {
    Q_OBJECT

public:
    struct Started {
        QString target;
        QString propertyName;
        std::optional<QString> spoolFolder;
        net::ChunkObserver observer;
    };
    std::vector<Started> started;
    QStringList cancelled;
    QStringList cancelledKeepingBytes;

    void AsyncRead(const QString &target, const QString &propertyName,
                   const std::optional<QString> &spoolFolder,
                   const net::ChunkObserver &observer = {}) override {
        started.push_back({target, propertyName, spoolFolder, observer});
    }
    void CancelAsyncRead(const QString &propertyName,
                         net::KeptBytes kept = net::KeptBytes::Remove) override {
        cancelled << propertyName;
        if (kept == net::KeptBytes::KeepWhenResumable)
            cancelledKeepingBytes << propertyName;
    }

    static net::AsyncProperty record(const QString &target, const QString &propertyName,
                                          std::int32_t code, const QString &text = QString(),
                                          qint64 read = 0, qint64 max = 0) {
        net::AsyncProperty r;
        r.target = target;
        r.propertyName = propertyName;
        r.statusCode = code;
        r.statusText = text;
        r.bytesRead = read;
        r.bytesMax = max;
        return r;
    }
    void progress(const net::AsyncProperty &r) { emit readProgress(r); }
    void complete(net::AsyncProperty r, net::ReadOutcome outcome,
                  const QByteArray &value = QByteArray()) {
        r.outcome = outcome;
        r.value = value;
        r.bytesRead = value.size();
        emit readComplete(r);
    }
};

#include "net/NetworkRead.h"

#include <algorithm>
#include <utility>

#include "platform/Files.h"

namespace net {

NetworkReadService::Read::~Read() {
    releaseReply();
    retryTimer.stop();
    if (partial) {
        if (keepBytes)
            partial->keep();
        else
            partial->discard();
    }
    discardSpool();
}

bool NetworkReadService::Read::openSink(const QString &folder, QString &problem) {
    QString busy;
    partial = PartialDownload::open(folder, record.target, busy);
    if (!partial) {
        spool = platform::createHiddenTemporaryFile(folder, record.propertyName, problem);
        return spool != nullptr;
    }
    // Bytes an earlier run kept count only while they belong to the answer the server still
    // gives; the first request asks for the rest under their validator.
    const std::optional<PartialSidecar> sidecar = partial->readSidecar();
    const qint64 size = partial->file().size();
    const std::optional<AnswerIdentity> kept =
        sidecar ? keptAnswer(sidecar->url, sidecar->validator, sidecar->size, record.target, size)
                : std::nullopt;
    if (kept) {
        answer = *kept;
        record.bytesRead = size;
        partial->file().seek(size);
    } else {
        partial->removeSidecar();
        truncate();
    }
    return true;
}

void NetworkReadService::Read::takeWhole(const AnswerIdentity &whole) {
    if (record.bytesRead > 0)
        truncate();
    rangeStart = 0;
    answer = whole;
    record.bytesMax = whole.totalSize;
    if (partial) {
        // Bytes that no sidecar describes are of no use to a later run: they are not kept.
        sidecarLost = resumable() &&
                      !partial->writeSidecar({record.target, whole.validator, whole.totalSize});
        if (!resumable() || sidecarLost)
            partial->removeSidecar();
    }
}

bool NetworkReadService::Read::showKeptBytes(QByteArray &chunk) {
    if (!observer || observed >= record.bytesRead)
        return true;
    QFile &sink = *file();
    const qint64 end = record.bytesRead;
    bool ok = sink.seek(observed);
    while (ok && observed < end) {
        const qint64 got = sink.read(chunk.data(), std::min<qint64>(chunk.size(), end - observed));
        ok = got > 0;
        if (ok) {
            observer(observed, QByteArrayView(chunk.constData(), got));
            observed += got;
        }
    }
    return sink.seek(end) && ok;
}

std::optional<QString> NetworkReadService::Read::store(QByteArray &chunk, qint64 memoryLimit) {
    QFile *sink = file();
    while (reply->bytesAvailable() > 0) {
        if (!sink) {
            if (record.value.size() + reply->bytesAvailable() > memoryLimit)
                return QStringLiteral("the answer is larger than %1 bytes and too large to hold "
                                      "in memory")
                    .arg(memoryLimit);
            record.value += reply->readAll();
            record.bytesRead = record.value.size();
            continue;
        }
        const qint64 got = reply->read(chunk.data(), chunk.size());
        if (got <= 0)
            break;
        if (sink->write(chunk.constData(), got) != got)
            return QStringLiteral("cannot write %1: %2").arg(sink->fileName(), sink->errorString());
        if (observer && observed == record.bytesRead) {
            observer(record.bytesRead, QByteArrayView(chunk.constData(), got));
            observed += got;
        }
        record.bytesRead += got;
    }
    return std::nullopt;
}

void NetworkReadService::Read::releaseReply() {
    stallTimer.stop();
    headTimer.stop();
    if (!reply)
        return;
    QNetworkReply *r = std::exchange(reply, nullptr);
    // Only our own connections: Qt's own ones carry the abort to the transfer.
    QObject::disconnect(r, nullptr, service, nullptr);
    r->abort();
    r->deleteLater();
}

void NetworkReadService::Read::discardSpool() {
    if (!spool)
        return;
    spool->close();
    spool->remove();
    spool.reset();
}

void NetworkReadService::Read::truncate() {
    record.value.clear();
    record.bytesRead = 0;
    observed = 0;
    if (QFile *f = file()) {
        f->resize(0);
        f->seek(0);
    }
}

} // namespace net

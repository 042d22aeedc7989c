#include "net/NetworkRead.h"

#include <algorithm>
#include <utility>

#include "platform/Files.h"

namespace net {
NetworkReadService::Read::~Read() {
    releaseReply();
    retryTimer.stop();
    if (partial) {
        if (keepBytes) {
            // What was received is worth a later run's while; nobody looks at it now.
            observer = nullptr;
            writeSlice();
            partial->keep();
        } else {
            partial->discard();
        }
    }
    discardSpool();
}

bool NetworkReadService::Read::openSink(const QString &folder, QString &problem) {
    QString busy;
    partial = PartialDownload::open(folder, record.target, busy);
    if (!partial) {
        spool = platform::createHiddenTemporaryFile(folder, record.propertyName, problem);
        if (spool)
            writeBehind = platform::WriteBehind(spool->handle());
        return spool != nullptr;
    }
    writeBehind = platform::WriteBehind(partial->file().handle());
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
        writeBehind.restart(size);
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

bool NetworkReadService::Read::showKeptBytes() {
    if (!observer || observed >= record.bytesRead)
        return true;
    QFile &sink = *file();
    const qint64 end = record.bytesRead;
    bool ok = sink.seek(observed);
    while (ok && observed < end) {
        // A fresh array each time: the observer may keep the last one.
        const QByteArray piece = sink.read(std::min<qint64>(SliceSize, end - observed));
        ok = !piece.isEmpty();
        if (ok) {
            observer(observed, piece);
            observed += piece.size();
        }
    }
    return sink.seek(end) && ok;
}

std::optional<QString> NetworkReadService::Read::store(qint64 memoryLimit) {
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
        if (filled == 0)
            takeFreeSlice();
        const qint64 got = reply->read(slice.data() + filled, SliceSize - filled);
        if (got <= 0)
            break;
        filled += got;
        record.bytesRead += got;
        if (filled == SliceSize) {
            if (std::optional<QString> problem = writeSlice())
                return problem;
        }
    }
    return std::nullopt;
}

void NetworkReadService::Read::takeFreeSlice() {
    // The observer may still hold the last slices: those are never written into. One it let
    // go of is taken again, as fresh memory costs a page fault per page.
    if (!slice.isDetached()) {
        const auto freed = std::find_if(spareSlices.begin(), spareSlices.end(),
                                        [](const QByteArray &s) { return s.isDetached(); });
        if (freed != spareSlices.end()) {
            std::swap(slice, *freed);
        } else {
            std::rotate(spareSlices.begin(), spareSlices.begin() + 1, spareSlices.end());
            spareSlices.back() = std::exchange(slice, QByteArray(SliceSize, Qt::Uninitialized));
        }
    }
    slice.resize(SliceSize);
}

std::optional<QString> NetworkReadService::Read::writeSlice() {
    QFile *sink = file();
    if (!sink || filled == 0)
        return std::nullopt;
    const qint64 at = record.bytesRead - filled;
    const qsizetype size = std::exchange(filled, 0);
    QString problem;
    if (sink->write(slice.constData(), size) != size || !sink->flush())
        problem = sink->errorString();
    else
        writeBehind.written(at + size, problem);
    if (!problem.isEmpty()) {
        // The file holds what it holds: a retry asks for the bytes after those.
        record.bytesRead = std::max<qint64>(0, sink->size());
        return QStringLiteral("cannot write %1: %2").arg(sink->fileName(), problem);
    }
    if (observer && observed == at) {
        slice.truncate(size);
        observer(at, slice);
        observed += size;
    }
    return std::nullopt;
}

ResponseHead NetworkReadService::Read::head() const {
    ResponseHead head;
    head.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    head.reasonPhrase = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray();
    for (const auto &[name, value] : reply->rawHeaderPairs())
        head.headers.append({name, value});
    return head;
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
    filled = 0;
    writeBehind.restart(0);
    if (QFile *f = file()) {
        f->resize(0);
        f->seek(0);
    }
}

} // namespace net

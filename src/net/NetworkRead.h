#pragma once

#include <array>
#include <memory>
#include <optional>

#include <QFile>
#include <QNetworkReply>
#include <QTimer>

#include "net/DownloadDecisions.h"
#include "net/NetworkReadService.h"
#include "net/PartialDownloads.h"
#include "platform/WriteBehind.h"

namespace net {

// One read of the network read service: its record, its reply and timers, what the server
// said so far, and the file its bytes go to. The service drives it; the read keeps its sink
// in order.
struct NetworkReadService::Read {
    quint64 id = 0;
    QObject *service = nullptr;
    AsyncProperty record;
    QNetworkReply *reply = nullptr;
    // A read to a file writes into the address's partial file, or, when another read holds
    // that, into a plain temporary file that no later run looks for.
    std::unique_ptr<PartialDownload> partial;
    std::unique_ptr<QFile> spool;
    QTimer stallTimer;
    QTimer headTimer; // runs from a request until its head is complete
    qint64 bytesSinceStallCheck = 0;
    QTimer retryTimer;
    ChunkObserver observer;
    qint64 observed = 0; // how many of the file's bytes the observer has seen
    // Received bytes reach the file a whole slice at a time, each slice in one write and in
    // an array of its own once the observer may keep it. `record.bytesRead` counts them
    // all; the last `filled` of them are still in `slice`.
    QByteArray slice;
    qsizetype filled = 0;
    std::array<QByteArray, 3> spareSlices; // earlier slices, for when the observer is through
    platform::WriteBehind writeBehind;
    bool dataSeen = false;
    bool connecting = true;
    bool answerTaken = false; // the current request's answer has been looked at

    // What the server said about the whole answer; empty and 0 while unknown.
    AnswerIdentity answer;
    qint64 rangeStart = 0;      // where the answer now arriving starts in the file
    bool rangesGivenUp = false; // after a 416 or a wrong Content-Range: whole answers only
    RetryBudget budget;
    qint64 furthest = 0; // the most bytes ever held; progress is never reported below it
    bool keepBytes = false;
    bool sidecarLost = false; // the sidecar of the answer being taken could not be written

    // Aborts the reply and keeps or removes the file as `keepBytes` says.
    ~Read();

    QFile *file() { return partial ? &partial->file() : spool.get(); }
    bool resumable() const { return answer.resumable() && !rangesGivenUp; }
    // Whether the bytes should stay for a later run once the read ends now.
    bool worthKeeping() const {
        return partial && resumable() && !sidecarLost && record.bytesRead > 0;
    }

    // Opens the file the bytes go to in `folder`: the address's partial file, resumed from
    // where an earlier run left it while its sidecar still describes it, else a temporary
    // file. False, with the reason in `problem`, when neither can be created.
    bool openSink(const QString &folder, QString &problem);
    // Takes an answer that starts at byte 0: whatever the file held goes, and `whole` is what
    // a later resume must match (its sidecar says so).
    void takeWhole(const AnswerIdentity &whole);
    // Shows the observer the bytes a resumed read starts with, read back from the file once.
    // False when they cannot be read.
    bool showKeptBytes();
    // Moves what the reply holds to the sink; a read into memory holds at most `memoryLimit`
    // bytes. The reason when that fails.
    std::optional<QString> store(qint64 memoryLimit);
    // Writes the bytes still in `slice` to the file and shows them to the observer; the
    // reason when they cannot be written.
    std::optional<QString> writeSlice();
    // Makes `slice` an array of `SliceSize` that nobody else holds.
    void takeFreeSlice();
    // Stops the reply and its stall timer; the reply is gone after the event loop's turn.
    // The reply's head as plain values for the decisions.
    ResponseHead head() const;
    void releaseReply();
    void discardSpool();
    // Forgets every byte received: the answer comes again from its start.
    void truncate();
};

} // namespace net

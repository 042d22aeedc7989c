// How the control ends a download, and a delta download: with its package, or by giving way
// to the full one.
#include <algorithm>
#include <cstdio>

#include "download/DeltaDownload.h"
#include "download/ctlAsyncDownload.h"
#include "platform/Events.h"

namespace download {

using net::AsyncProperty;
namespace Code = net::AsyncStatusCode;

// The download of `X` has ended, published or not: it leaves the list and the host is told.
void ctlAsyncDownload::finishDownload(const AsyncProperty &X) {
    const qsizetype index = indexOf(X.target);
    if (index >= 0)
        m_AsyncDownloads.erase(m_AsyncDownloads.begin() + index);
    setStatus(DownloadStatus::Completed, X.statusText);
    if (m_sink) {
        const std::int32_t count = DownloadsCount();
        platform::ignoringErrors([&] { m_sink->Finished(X, count); });
    }
}

// A delta that failed, or whose package its checks refused, gives way to the full download
// under the same name, which the host does not see as a new download.
void ctlAsyncDownload::fallBack(const QString &url, const QString &saveFileName,
                                const QString &reason) {
    std::fprintf(stderr, "update-tool: no delta download, fetching the whole package: %s\n",
                 qPrintable(reason));
    if (m_lastDelta) {
        m_lastDelta->used = false;
        m_lastDelta->fallbackReason = reason;
    }
    startRead(url, saveFileName, true);
}

void ctlAsyncDownload::deltaDone(DeltaDownload *delta, bool ok, const QString &fileOrReason) {
    platform::ignoringErrors([&] {
        m_deltas.erase(std::remove(m_deltas.begin(), m_deltas.end(), delta), m_deltas.end());
        delta->deleteLater();
        if (m_lastDelta)
            m_lastDelta->report = delta->report();
        const QString url = delta->url();
        const QString saveFileName = delta->saveFileName();
        const auto started = std::find_if(m_reads.begin(), m_reads.end(), [&](const auto &r) {
            return r.url == url && r.propertyName == saveFileName;
        });
        if (started == m_reads.end())
            return;
        const std::shared_ptr<PublishChecks> checks = started->checks;
        m_reads.erase(started);
        if (!ok) {
            fallBack(url, saveFileName, fileOrReason);
            return;
        }
        AsyncProperty X;
        X.target = url;
        X.propertyName = saveFileName;
        X.bytesRead = X.bytesMax = delta->report().size;
        X.statusCode = Code::EndDownloadData;
        X.outcome = net::ReadOutcome::Succeeded;
        X.spoolFile = fileOrReason;
        // The delta is gone by the time its checks are through.
        saveFile(X, checks, SpoolOwner::Control,
                 [this, url, saveFileName](const AsyncProperty &checked) {
                     if (!checked.succeeded()) {
                         fallBack(url, saveFileName, checked.statusText);
                         return;
                     }
                     if (m_lastDelta)
                         m_lastDelta->used = true;
                     finishDownload(checked);
                 });
    });
}

} // namespace download

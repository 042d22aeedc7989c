#include "download/ctlAsyncDownload.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include <QFile>

#include "platform/Events.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace download {
namespace {

bool sameUrl(const QString &a, const QString &b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// The save path is a path of this system (the host builds it from its own folder), so it is
// never cut at a "\", which may be part of a folder's name.
QString folderOf(const QString &saveFileName) {
    return platform::systemFolderOf(saveFileName);
}

} // namespace

using net::AsyncProperty;
namespace Code = net::AsyncStatusCode;

// Nothing may escape: this runs inside the service's network handlers or the control's
// completion. A check that missed bytes fails its verification later.
void ctlAsyncDownload::observeAll(const PublishChecks &checks, qint64 offset,
                                  const QByteArray &bytes) {
    for (const auto &check : checks)
        platform::ignoringErrors([&] { check->observe(offset, bytes); });
}

ctlAsyncDownload::ctlAsyncDownload(net::ReadService &service, QObject *parent)
    : QObject(parent)
    , m_service(service) {
    connect(&service, &net::ReadService::readProgress, this, &ctlAsyncDownload::onReadProgress);
    connect(&service, &net::ReadService::readComplete, this, &ctlAsyncDownload::onReadComplete);
}

ctlAsyncDownload::~ctlAsyncDownload() {
    platform::ignoringErrors([this] {
        while (!m_AsyncDownloads.empty())
            cancel(m_AsyncDownloads.front(), net::KeptBytes::KeepWhenResumable);
        // Reads of addresses no longer pending (a second read of the same address) must not
        // outlive the control either, nor their temporary files.
        const std::vector<StartedRead> rest = std::exchange(m_reads, {});
        for (const StartedRead &read : rest)
            m_service.CancelAsyncRead(read.propertyName, net::KeptBytes::KeepWhenResumable);
        // Nor a check: it stops at its next step and removes its file without us.
        m_publishes.clear();
    });
}

std::shared_ptr<PublishChecks> ctlAsyncDownload::makeChecks(const QString &Url,
                                                            const QString &SaveFileName) {
    auto checks = std::make_shared<PublishChecks>();
    for (const PublishCheckFactory &factory : m_checkFactories) {
        if (auto check = factory(Url, SaveFileName))
            checks->push_back(std::move(check));
    }
    return checks;
}

void ctlAsyncDownload::Download(const QString &Url, const QString &SaveFileName,
                                const QString &DeltaBase) {
    platform::ignoringErrors([&] {
        // The property name is the save path when there is one, the address otherwise; the
        // completion tells the two apart by comparing it with the target.
        const QString propertyName = SaveFileName.isEmpty() ? Url : SaveFileName;
        const bool toFile = propertyName != Url;
        const auto zip = [](const QString &name) {
            return name.endsWith(QStringLiteral(".zip"), Qt::CaseInsensitive);
        };
        if (toFile && !DeltaBase.isEmpty() && zip(SaveFileName) && zip(DeltaBase))
            startDelta(Url, SaveFileName, DeltaBase);
        else
            startRead(Url, propertyName, toFile);
        if (indexOf(Url) < 0)
            m_AsyncDownloads.push_back(Url);
    });
}

void ctlAsyncDownload::startRead(const QString &Url, const QString &propertyName, bool toFile) {
    auto checks = toFile ? makeChecks(Url, propertyName) : std::make_shared<PublishChecks>();
    net::ChunkObserver observer;
    if (!checks->empty())
        observer = [checks](qint64 offset, const QByteArray &bytes) {
            observeAll(*checks, offset, bytes);
        };
    // Known before the service sees it, so that its notifications are never taken for
    // strangers.
    m_reads.push_back({Url, propertyName, checks});
    m_service.AsyncRead(Url, propertyName,
                        toFile ? std::optional<QString>(folderOf(propertyName)) : std::nullopt,
                        observer);
}

void ctlAsyncDownload::startDelta(const QString &Url, const QString &SaveFileName,
                                  const QString &base) {
    auto checks = makeChecks(Url, SaveFileName);
    net::FailureKind kind = net::FailureKind::Lie;
    const std::optional<qint64> size = expectedSize(*checks, kind);
    m_reads.push_back({Url, SaveFileName, checks});
    m_lastDelta = DeltaOutcome{};
    auto *delta = new DeltaDownload(
        Url, base, SaveFileName,
        [checks](qint64 offset, const QByteArray &bytes) { observeAll(*checks, offset, bytes); },
        size,
        [this, Url, SaveFileName](qint64 written, qint64 total) {
            AsyncProperty record;
            record.target = Url;
            record.propertyName = SaveFileName;
            record.bytesRead = written;
            record.bytesMax = total;
            record.statusCode = Code::DownloadingData;
            setStatus(DownloadStatus::ReceivingData, QString());
            if (m_sink)
                platform::ignoringErrors([&] {
                    m_sink->Progress(
                        record, float(double(written) / double(std::max<qint64>(total, 1)) * 100.0),
                        DownloadsCount(), written, total);
                });
        },
        {}, this);
    m_deltas.push_back(delta);
    // Set after construction: the handler names the object it belongs to.
    delta->setDoneHandler([this, delta](bool ok, const QString &fileOrReason) {
        deltaDone(delta, ok, fileOrReason);
    });
    delta->start();
}

void ctlAsyncDownload::CancelDownload(const QString &Url) {
    cancel(Url, net::KeptBytes::Remove);
}

void ctlAsyncDownload::cancel(const QString &UrlGiven, net::KeptBytes kept) {
    // A copy: the caller's text may live in the list this call changes.
    const QString Url = UrlGiven;
    platform::ignoringErrors([&] {
        // Every read of the address stops, whatever name it runs under (a download to a
        // file runs under its save path).
        std::vector<QString> names;
        for (auto it = m_reads.begin(); it != m_reads.end();) {
            if (sameUrl(it->url, Url)) {
                if (std::find(names.begin(), names.end(), it->propertyName) == names.end())
                    names.push_back(it->propertyName);
                it = m_reads.erase(it);
            } else {
                ++it;
            }
        }
        for (const QString &name : names)
            m_service.CancelAsyncRead(name, kept);
        // A delta keeps nothing: the next try plans again.
        for (auto it = m_deltas.begin(); it != m_deltas.end();) {
            if (sameUrl((*it)->url(), Url)) {
                (*it)->stop();
                (*it)->deleteLater();
                it = m_deltas.erase(it);
            } else {
                ++it;
            }
        }
        // A check still running is dropped with its file: nothing is published after a cancel.
        std::erase_if(m_publishes, [&](const Publishing &p) { return sameUrl(p.url, Url); });
        const qsizetype index = indexOf(Url);
        if (index >= 0)
            m_AsyncDownloads.erase(m_AsyncDownloads.begin() + index);
    });
    setStatus(DownloadStatus::Cancelled, Url);
}

void ctlAsyncDownload::CancelAllDownload(net::KeptBytes kept) {
    // The list is read afresh each time: a handler of a Cancelled status may change it.
    while (!m_AsyncDownloads.empty())
        cancel(m_AsyncDownloads.front(), kept);
    setStatus(DownloadStatus::AllCancelled, QString());
}

qsizetype ctlAsyncDownload::indexOf(const QString &Url) const {
    const auto it = std::find_if(m_AsyncDownloads.begin(), m_AsyncDownloads.end(),
                                 [&](const QString &entry) { return sameUrl(entry, Url); });
    return it == m_AsyncDownloads.end() ? -1 : it - m_AsyncDownloads.begin();
}

bool ctlAsyncDownload::isOurs(const AsyncProperty &record) const {
    return std::any_of(m_reads.begin(), m_reads.end(), [&](const StartedRead &read) {
        return read.url == record.target && read.propertyName == record.propertyName;
    });
}

void ctlAsyncDownload::setStatus(std::int32_t value, const QString &Info) {
    m_Status = value;
    if (m_sink)
        platform::ignoringErrors([&] { m_sink->Status(value, Info); });
}

// The smallest size the checks of a download expect, if any of them knows one.
std::optional<qint64> ctlAsyncDownload::expectedSize(const PublishChecks &checks,
                                                     net::FailureKind &kind) {
    std::optional<qint64> size;
    for (const auto &check : checks)
        platform::ignoringErrors([&] {
            const std::optional<qint64> own = check->expectedSize();
            if (own && (!size || *own < *size)) {
                size = own;
                kind = check->refusalKind();
            }
        });
    return size;
}

// A download whose size its checks know in advance stops as soon as the server contradicts
// them, so that a hostile answer costs neither time nor disk space. True when it stopped.
bool ctlAsyncDownload::stopOversized(const AsyncProperty &record) {
    const auto started = std::find_if(m_reads.begin(), m_reads.end(), [&](const StartedRead &r) {
        return r.url == record.target && r.propertyName == record.propertyName;
    });
    if (started == m_reads.end() || !started->checks)
        return false;
    net::FailureKind kind = net::FailureKind::Lie;
    const std::optional<qint64> size = expectedSize(*started->checks, kind);
    if (!size)
        return false;
    QString reason;
    if (record.bytesMax > 0 && record.bytesMax != *size)
        reason = QStringLiteral("the server announces %1 bytes, but the package has %2")
                     .arg(record.bytesMax)
                     .arg(*size);
    else if (record.bytesRead > *size)
        reason = QStringLiteral("the server sends more than the package's %1 bytes").arg(*size);
    if (reason.isEmpty())
        return false;
    m_reads.erase(started);
    m_service.CancelAsyncRead(record.propertyName, net::KeptBytes::Remove);
    const qsizetype index = indexOf(record.target);
    if (index >= 0)
        m_AsyncDownloads.erase(m_AsyncDownloads.begin() + index);
    AsyncProperty X = record;
    X.outcome = net::ReadOutcome::Failed;
    X.failure = kind;
    X.statusText = reason;
    X.value.clear();
    X.spoolFile.clear();
    setStatus(DownloadStatus::Error, reason);
    setStatus(DownloadStatus::Completed, reason);
    if (m_sink) {
        const std::int32_t count = DownloadsCount();
        platform::ignoringErrors([&] { m_sink->Finished(X, count); });
    }
    return true;
}

void ctlAsyncDownload::onReadProgress(const AsyncProperty &record) {
    // A cancelled read may still have a notification on its way.
    if (!isOurs(record) || stopOversized(record))
        return;
    switch (record.statusCode) {
    case Code::Error:
        setStatus(DownloadStatus::Error, record.statusText);
        break;
    case Code::Connecting:
        setStatus(DownloadStatus::Connecting, record.statusText);
        break;
    case Code::Redirecting:
        setStatus(DownloadStatus::Redirecting, record.statusText);
        break;
    case Code::BeginDownloadData:
        setStatus(DownloadStatus::BeginningData, record.target);
        break;
    case Code::DownloadingData:
    case Code::EndDownloadData: {
        float Percent = 0.0F;
        if (record.bytesMax >= 1)
            Percent = static_cast<float>(static_cast<double>(record.bytesRead) /
                                         static_cast<double>(record.bytesMax) * 100.0);
        setStatus(DownloadStatus::ReceivingData, record.statusText);
        if (m_sink)
            platform::ignoringErrors([&] {
                m_sink->Progress(record, Percent, DownloadsCount(), record.bytesRead,
                                 record.bytesMax);
            });
        break;
    }
    case Code::MimeTypeAvailable:
        if (m_sink)
            platform::ignoringErrors([&] { m_sink->MimeType(record.statusText); });
        break;
    case Code::CacheFileNameAvailable:
        if (m_sink)
            platform::ignoringErrors([&] { m_sink->CacheFileAvailable(record.statusText); });
        break;
    default:
        break;
    }
}

void ctlAsyncDownload::onReadComplete(const AsyncProperty &record) {
    const auto started = std::find_if(m_reads.begin(), m_reads.end(), [&](const StartedRead &r) {
        return r.url == record.target && r.propertyName == record.propertyName;
    });
    if (started == m_reads.end())
        return;
    const std::shared_ptr<PublishChecks> checks = started->checks;
    m_reads.erase(started);

    if (record.propertyName == record.target) {
        finishDownload(record);
        return;
    }
    saveFile(record, checks, SpoolOwner::Service,
             [this](const AsyncProperty &X) { finishDownload(X); });
}

} // namespace download

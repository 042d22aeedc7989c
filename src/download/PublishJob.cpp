#include "download/PublishJob.h"

#include <mutex>

#include <QFile>
#include <QObject>
#include <QThreadPool>

namespace download {

// What the worker and the thread of the context share. The mutex orders the worker's end
// against `abandon`, so that the file is removed by whichever of the two comes last and the
// context is never called after it let the job go.
struct PublishJob::Shared {
    QString file;
    std::shared_ptr<PublishChecks> checks;
    QObject *context = nullptr;
    Done done;
    std::atomic<bool> stop{false};
    std::mutex mutex;
    bool workerDone = false;
    bool abandoned = false;
    bool delivered = false;

    void deliver(const Verification &verdict) {
        Done handler;
        {
            const std::lock_guard lock(mutex);
            if (abandoned)
                return;
            delivered = true;
            handler = std::move(done);
        }
        // The handler may destroy the job; it owns its own copy meanwhile.
        try {
            handler(verdict);
        } catch (...) {
        }
    }

    // Runs on the worker.
    static void run(const std::shared_ptr<Shared> &shared) {
        Verification verdict;
        try {
            verdict.passed = verifyDownload(shared->file, *shared->checks, shared->stop,
                                            verdict.error, verdict.kind);
        } catch (...) {
            verdict = Verification{false, QStringLiteral("the package could not be checked"),
                                   net::FailureKind::Disk};
        }
        const std::lock_guard lock(shared->mutex);
        shared->workerDone = true;
        if (shared->abandoned) {
            QFile::remove(shared->file);
            return;
        }
        // The context is alive: it abandons the job before it goes, and that waits for this lock.
        QMetaObject::invokeMethod(
            shared->context, [shared, verdict] { shared->deliver(verdict); }, Qt::QueuedConnection);
    }
};

PublishJob::PublishJob(const QString &file, std::shared_ptr<PublishChecks> checks, QObject *context,
                       Done done)
    : m_shared(std::make_shared<Shared>()) {
    m_shared->file = file;
    m_shared->checks = std::move(checks);
    m_shared->context = context;
    m_shared->done = std::move(done);
    // The global pool, which the application waits for as it ends: a check still running
    // then finishes and removes its file rather than being cut off.
    QThreadPool::globalInstance()->start([shared = m_shared] { Shared::run(shared); });
}

PublishJob::~PublishJob() {
    abandon();
}

void PublishJob::abandon() {
    const std::lock_guard lock(m_shared->mutex);
    if (m_shared->delivered || m_shared->abandoned)
        return;
    m_shared->abandoned = true;
    m_shared->stop = true;
    m_shared->done = {};
    if (m_shared->workerDone)
        QFile::remove(m_shared->file);
}

} // namespace download

#pragma once

#include <functional>
#include <memory>

#include <QString>

#include "download/PublishStep.h"

class QObject;

namespace download {

// What the checks of a finished download decided.
struct Verification {
    bool passed = false;
    QString error;
    net::FailureKind kind = net::FailureKind::Disk;
};

// The checks of one finished download and its flush to disk (`verifyDownload`), run on a
// worker thread so that reading a large package never stalls the thread of `context`. The
// verdict comes back to that thread as a queued call of `done`, unless the job was abandoned
// before. Created, abandoned and destroyed on that thread.
class PublishJob {
public:
    using Done = std::function<void(const Verification &)>;

    // Starts checking `file` with `checks`, which the worker shares until it is through.
    // `context` must abandon (or destroy) the job before it goes away.
    PublishJob(const QString &file, std::shared_ptr<PublishChecks> checks, QObject *context,
               Done done);
    // Abandons the job unless its verdict was delivered.
    ~PublishJob();
    Q_DISABLE_COPY_MOVE(PublishJob)

    // Drops the verdict: `done` is never called, the checks stop before their next step, and
    // `file` is removed once the worker no longer reads it. Never waits for the worker.
    void abandon();

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};

} // namespace download

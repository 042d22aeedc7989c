#include "platform/WriteBehind.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <system_error>
#include <thread>
#include <unistd.h>

#include "platform/Files.h"

namespace platform {

struct WriteBehind::Flusher {
    explicit Flusher(int ownFd)
        : fd(ownFd) {}
    ~Flusher() {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        changed.notify_all();
        if (thread.joinable())
            thread.join();
        ::close(fd);
    }

    const int fd; // our own duplicate
    std::mutex mutex;
    std::condition_variable changed;
    qint64 written = 0; // the file's size as last reported
    qint64 flushed = 0; // bytes known to be on disk, and dropped from the page cache
    bool flushing = false;
    bool stopping = false;
    bool fellBack = false;
    int failure = 0; // the errno of the first flush that failed
    std::thread thread;

    // Under the lock: whether the flusher has nothing more to do for good.
    bool done() const { return stopping || fellBack || failure != 0; }

    void flushWhileDue() {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return done() || written - flushed >= FlushBytes; });
            if (done())
                return;
            const qint64 target = written;
            const qint64 from = flushed;
            flushing = true;
            lock.unlock();
            const int code = retryInterrupted([this] { return ::fdatasync(fd); }) == 0 ? 0 : errno;
            // Clean pages of a file nobody reads again are of no more use to anyone.
            if (code == 0 && target > from)
                ::posix_fadvise(fd, from, target - from, POSIX_FADV_DONTNEED);
            lock.lock();
            flushing = false;
            if (code == EINVAL || code == ENOSYS || code == EOPNOTSUPP)
                fellBack = true;
            else if (code != 0)
                failure = code;
            else
                flushed = std::max(flushed, target);
            changed.notify_all();
        }
    }

    // Under the lock: the failure for `error`, if any.
    bool report(QString &error) const {
        if (failure == 0)
            return true;
        error = QString::fromLocal8Bit(std::strerror(failure));
        return false;
    }
};

WriteBehind::WriteBehind() = default;

WriteBehind::WriteBehind(int fd) {
    const int own = fd < 0 ? -1 : ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own >= 0)
        m_flusher = std::make_unique<Flusher>(own);
}

WriteBehind::~WriteBehind() = default;
WriteBehind::WriteBehind(WriteBehind &&) noexcept = default;
WriteBehind &WriteBehind::operator=(WriteBehind &&) noexcept = default;

bool WriteBehind::written(qint64 end, QString &error) {
    if (!m_flusher)
        return true;
    Flusher &f = *m_flusher;
    std::unique_lock lock(f.mutex);
    f.written = end;
    if (f.done())
        return f.report(error);
    if (end - f.flushed >= FlushBytes) {
        if (!f.thread.joinable()) {
            try {
                f.thread = std::thread([&f] { f.flushWhileDue(); });
            } catch (const std::system_error &) {
                f.fellBack = true; // no thread to spare: the final flush does it all
                return true;
            }
        }
        f.changed.notify_all();
    }
    // A disk slower than the network: the writer keeps its pace.
    f.changed.wait(lock, [&f] { return f.done() || f.written - f.flushed <= MaxUnflushedBytes; });
    return f.report(error);
}

void WriteBehind::restart(qint64 size) {
    if (!m_flusher)
        return;
    std::lock_guard lock(m_flusher->mutex);
    m_flusher->written = size;
    m_flusher->flushed = std::min(m_flusher->flushed, size);
}

bool WriteBehind::finish(QString &error) {
    if (!m_flusher)
        return true;
    Flusher &f = *m_flusher;
    std::unique_lock lock(f.mutex);
    f.changed.wait(
        lock, [&f] { return !f.flushing && (f.done() || f.written - f.flushed < FlushBytes); });
    return f.report(error);
}

bool WriteBehind::fellBack() const {
    if (!m_flusher)
        return false;
    std::lock_guard lock(m_flusher->mutex);
    return m_flusher->fellBack;
}

} // namespace platform

#pragma once

#include <memory>

#include <QString>

namespace platform {

// Puts a growing file on disk while it is still being written, so that the flush before it
// is published has only the last few MiB left to do. Each time another `FlushBytes` were
// written, a thread of its own flushes the file (fdatasync) and drops the flushed pages from
// the page cache (a large download would otherwise push everything else out of it).
//
// Starting write-back alone (sync_file_range) is not enough: on a disk with a volatile write
// cache (most have one, virtual disks included) the data is only safe after a flush, and the
// flush is what takes the time. Flushing on the side overlaps that time with receiving.
//
// The writer never waits for a flush unless it is more than `MaxUnflushedBytes` ahead of the
// disk. A file system that cannot flush a file (fdatasync fails with EINVAL, ENOSYS or
// EOPNOTSUPP) is left to the final flush, as without this. Works on a duplicate of the
// descriptor, so the owner may close its own at any time.
class WriteBehind {
public:
    static constexpr qint64 FlushBytes = qint64(32) << 20;
    static constexpr qint64 MaxUnflushedBytes = qint64(128) << 20;

    // Does nothing: for a file that is not written yet.
    WriteBehind();
    explicit WriteBehind(int fd);
    // Waits for a flush under way (never longer than the disk takes for one).
    ~WriteBehind();
    WriteBehind(WriteBehind &&) noexcept;
    WriteBehind &operator=(WriteBehind &&) noexcept;

    // The file now holds `end` bytes. False, with the reason in `error`, when flushing failed:
    // the disk reported an error that a later fsync through another descriptor would not see.
    bool written(qint64 end, QString &error);
    // The file was cut to `size` bytes (0 after a start over).
    void restart(qint64 size);
    // Waits for the flushes under way or due; false, with the reason in `error`, when any
    // failed. The last bytes (less than `FlushBytes`) are left to the caller's own flush.
    bool finish(QString &error);
    // Whether the file system has been found unable to flush the file on the side.
    bool fellBack() const;

private:
    struct Flusher;
    std::unique_ptr<Flusher> m_flusher;
};

} // namespace platform

/* The sending side of the updater's progress channel. */
#define _GNU_SOURCE
#include "update-tool/progress.h"

#include "progress_path.h"

#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

enum { HEADER_SIZE = UTP_HEADER_SIZE, ANSWER_SIZE = UTP_ANSWER_SIZE, ERROR_SIZE = 320 };
/* A kept connection idle for three quarters of the updater's idle timeout is replaced before
 * sending, so the updater cannot close it while a message is on its way (which would leave
 * unknown whether the message was handled). */
enum { IDLE_REPLACE_MS = UTP_IDLE_TIMEOUT_MS * 3 / 4 };
_Static_assert(IDLE_REPLACE_MS > 0 && IDLE_REPLACE_MS < UTP_IDLE_TIMEOUT_MS,
               "a kept connection must be replaced before the updater drops it");

struct utp_conn {
    pthread_mutex_t lock;
    int fd; /* -1 while not connected */
    int timeout_ms;
    long long last_used_ms; /* when the last answer came, or the connection was made */
    char path[sizeof(((struct sockaddr_un *)0)->sun_path)];
    char error[ERROR_SIZE];
};

/* ---- time ---- */

static long long now_ms(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

static int remaining_ms(long long deadline) {
    const long long left = deadline - now_ms();
    return left <= 0 ? 0 : left > 0x7fffffff ? 0x7fffffff : (int)left;
}

/* Waits until `fd` is ready for `events` or the deadline passes; 1 ready, 0 timed out. */
static int wait_for(int fd, short events, long long deadline) {
    for (;;) {
        struct pollfd entry = {fd, events, 0};
        const int ready = poll(&entry, 1, remaining_ms(deadline));
        if (ready > 0)
            return 1;
        if (ready == 0)
            return 0;
        if (errno != EINTR)
            return 1; /* let the next call report the error */
    }
}

/* ---- connections ---- */

static void disconnect(utp_conn *conn) {
    if (conn->fd >= 0)
        close(conn->fd);
    conn->fd = -1;
}

static utp_status fail(utp_conn *conn, utp_status status, const char *format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(conn->error, sizeof conn->error, format, args);
    va_end(args);
    disconnect(conn);
    return status;
}

static utp_status connect_now(utp_conn *conn, long long deadline) {
    disconnect(conn);
    char why[ERROR_SIZE - 64];
    if (utp_check_channel_folder(conn->path, why, sizeof why) != 0)
        return fail(conn, UTP_NO_UPDATER, "no updater is listening on %s: %s", conn->path, why);

    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return fail(conn, UTP_IO_ERROR, "cannot make a socket: %s", strerror(errno));
    conn->fd = fd;
    struct sockaddr_un address;
    memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    memcpy(address.sun_path, conn->path, strlen(conn->path));
    /* A full backlog refuses a non-blocking connection with EAGAIN: retry until the
     * deadline, since the updater is only busy. */
    while (connect(fd, (struct sockaddr *)&address, sizeof address) != 0) {
        if (errno == EINTR)
            continue;
        if (errno == ENOENT || errno == ECONNREFUSED)
            return fail(conn, UTP_NO_UPDATER, "no updater is listening on %s", conn->path);
        if (errno != EAGAIN && errno != EINPROGRESS)
            return fail(conn, UTP_IO_ERROR, "cannot connect to %s: %s", conn->path,
                        strerror(errno));
        if (remaining_ms(deadline) == 0)
            return fail(conn, UTP_TIMED_OUT,
                        "the updater on %s did not accept the connection in time", conn->path);
        const struct timespec pause = {0, 2 * 1000 * 1000};
        nanosleep(&pause, NULL);
    }

    /* The folder keeps other users out, but check the listener itself as well: a message
     * goes only to an updater of the same user. */
    struct ucred peer;
    socklen_t length = sizeof peer;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || length != sizeof peer)
        return fail(conn, UTP_IO_ERROR, "cannot identify the listener on %s: %s", conn->path,
                    strerror(errno));
    if (peer.uid != geteuid())
        return fail(conn, UTP_NO_UPDATER,
                    "no updater is listening on %s: its listener belongs to another user",
                    conn->path);
    conn->error[0] = '\0';
    conn->last_used_ms = now_ms();
    return UTP_OK;
}

/* Whether the updater has closed its end since the last answer (it drops idle senders and
 * is gone when it restarted). Any unasked-for byte also means the stream cannot be trusted. */
static int connection_gone(int fd) {
    char byte;
    const ssize_t got = recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return got >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
}

/* 1 when all was written, 0 on timeout, -1 on an error (errno set). */
static int write_all(int fd, const char *bytes, size_t size, long long deadline) {
    while (size > 0) {
        const ssize_t sent = send(fd, bytes, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            bytes += sent;
            size -= (size_t)sent;
        } else if (sent < 0 && errno == EINTR) {
            continue;
        } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!wait_for(fd, POLLOUT, deadline))
                return 0;
        } else {
            return -1;
        }
    }
    return 1;
}

static utp_status send_locked(utp_conn *conn, uint32_t kind, const void *data, size_t size,
                              int32_t *answer) {
    if (size > UTP_MESSAGE_LIMIT) {
        snprintf(conn->error, sizeof conn->error,
                 "the message is %zu bytes long; the updater accepts at most %u", size,
                 UTP_MESSAGE_LIMIT);
        return UTP_TOO_LARGE;
    }
    if (size > 0 && data == NULL) {
        snprintf(conn->error, sizeof conn->error, "no message bytes were given");
        return UTP_IO_ERROR;
    }
    const long long deadline = now_ms() + conn->timeout_ms;
    unsigned char header[HEADER_SIZE];
    for (int i = 0; i < 4; ++i) {
        header[i] = (unsigned char)(kind >> (8 * i));
        header[4 + i] = (unsigned char)((uint32_t)size >> (8 * i));
    }

    /* A kept connection may have been closed by the updater: then the message goes out on a
     * fresh one. Once the updater may have received a message, it is never sent twice. */
    int fresh = 0;
    if (conn->fd >= 0 &&
        (now_ms() - conn->last_used_ms > IDLE_REPLACE_MS || connection_gone(conn->fd)))
        disconnect(conn);
    for (;;) {
        if (conn->fd < 0) {
            const utp_status status = connect_now(conn, deadline);
            if (status != UTP_OK)
                return status;
            fresh = 1;
        }
        int written = write_all(conn->fd, (const char *)header, HEADER_SIZE, deadline);
        if (written == 1)
            written = write_all(conn->fd, data, size, deadline);
        if (written == 1)
            break;
        if (written == 0)
            return fail(conn, UTP_TIMED_OUT, "the updater on %s took no message within %d ms",
                        conn->path, conn->timeout_ms);
        if ((errno == EPIPE || errno == ECONNRESET) && !fresh) {
            disconnect(conn);
            continue;
        }
        return fail(conn, UTP_IO_ERROR, "cannot send to %s: %s", conn->path, strerror(errno));
    }

    unsigned char reply[ANSWER_SIZE];
    size_t have = 0;
    while (have < ANSWER_SIZE) {
        const ssize_t got = recv(conn->fd, reply + have, ANSWER_SIZE - have, MSG_DONTWAIT);
        if (got > 0) {
            have += (size_t)got;
        } else if (got == 0) {
            return fail(conn, UTP_IO_ERROR, "the updater closed the connection without answering");
        } else if (errno == EINTR) {
            continue;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            /* A late answer would be taken for the next message's: drop the connection. */
            if (!wait_for(conn->fd, POLLIN, deadline))
                return fail(conn, UTP_TIMED_OUT, "the updater did not answer within %d ms",
                            conn->timeout_ms);
        } else {
            return fail(conn, UTP_IO_ERROR, "cannot read the answer: %s", strerror(errno));
        }
    }
    if (answer != NULL)
        *answer = (int32_t)((uint32_t)reply[0] | (uint32_t)reply[1] << 8 |
                            (uint32_t)reply[2] << 16 | (uint32_t)reply[3] << 24);
    conn->error[0] = '\0';
    conn->last_used_ms = now_ms();
    return UTP_OK;
}

utp_status utp_open(utp_conn **conn, const char *socket_path, int timeout_ms) {
    *conn = NULL;
    utp_conn *made = calloc(1, sizeof *made);
    if (made == NULL || pthread_mutex_init(&made->lock, NULL) != 0) {
        free(made);
        return UTP_IO_ERROR;
    }
    made->fd = -1;
    made->timeout_ms = timeout_ms < 1 ? 1 : timeout_ms;
    *conn = made;
    if (socket_path == NULL) {
        if (utp_socket_path(made->path, sizeof made->path) == 0) {
            snprintf(made->error, sizeof made->error,
                     "the channel's socket path is longer than a socket address allows");
            return UTP_NO_UPDATER;
        }
    } else if (socket_path[0] == '\0' || strlen(socket_path) >= sizeof made->path) {
        snprintf(made->error, sizeof made->error, "not a socket path: \"%.200s\"", socket_path);
        return UTP_NO_UPDATER;
    } else {
        memcpy(made->path, socket_path, strlen(socket_path) + 1);
    }
    return connect_now(made, now_ms() + made->timeout_ms);
}

utp_status utp_send(utp_conn *conn, uint32_t kind, const void *data, size_t size, int32_t *answer) {
    if (conn == NULL)
        return UTP_IO_ERROR;
    if (conn->path[0] == '\0')
        return UTP_NO_UPDATER;
    pthread_mutex_lock(&conn->lock);
    const utp_status status = send_locked(conn, kind, data, size, answer);
    pthread_mutex_unlock(&conn->lock);
    return status;
}

const char *utp_error(const utp_conn *conn) {
    return conn == NULL ? "out of memory" : conn->error;
}

void utp_close(utp_conn *conn) {
    if (conn == NULL)
        return;
    disconnect(conn);
    pthread_mutex_destroy(&conn->lock);
    free(conn);
}

utp_status utp_notify(const char *socket_path, uint32_t kind, const void *data, size_t size,
                      int timeout_ms, int32_t *answer) {
    if (size > UTP_MESSAGE_LIMIT)
        return UTP_TOO_LARGE;
    utp_conn *conn = NULL;
    utp_status status = utp_open(&conn, socket_path, timeout_ms);
    if (status == UTP_OK)
        status = utp_send(conn, kind, data, size, answer);
    utp_close(conn);
    return status;
}

const char *utp_status_text(utp_status status) {
    switch (status) {
    case UTP_OK:
        return "answered";
    case UTP_NO_UPDATER:
        return "no updater listening";
    case UTP_TIMED_OUT:
        return "timed out";
    case UTP_TOO_LARGE:
        return "message too large";
    case UTP_IO_ERROR:
        return "input/output error";
    }
    return "unknown status";
}

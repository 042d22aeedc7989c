/* Sends progress messages to the running updater over its local channel.
 *
 * Plain C and POSIX sockets: no Qt, no global state, no signals raised. A connection may be
 * used from several threads; its calls are serialised (see utp_error for its text). docs/progress-protocol.md describes
 * the channel itself. */
#ifndef UPDATE_TOOL_PROGRESS_H
#define UPDATE_TOOL_PROGRESS_H

#include <stddef.h>
#include <stdint.h>

#if defined(UTP_BUILDING) && defined(__GNUC__)
#define UTP_API __attribute__((visibility("default")))
#else
#define UTP_API
#endif

/* For the caller's compiler only: inside the library they would let the compiler drop the
 * checks that keep a wrong call harmless. */
#if defined(__GNUC__) && !defined(UTP_BUILDING)
#define UTP_CHECK_RESULT __attribute__((warn_unused_result))
#define UTP_NONNULL(...) __attribute__((nonnull(__VA_ARGS__)))
#else
#define UTP_CHECK_RESULT
#define UTP_NONNULL(...)
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The channel's wire constants, shared by the senders and the updater. */
/* The longest payload the updater accepts; a longer one is refused before sending. */
#define UTP_MESSAGE_LIMIT 65536u
/* The message kind that moves the updater's progress bar. */
#define UTP_KIND_PROGRESS 3u
/* A message starts with its kind and its payload's length, unsigned 32-bit little-endian
 * each; the updater answers with a signed 32-bit little-endian result. */
#define UTP_HEADER_SIZE 8u
#define UTP_ANSWER_SIZE 4u
/* The updater drops a sender that has not delivered a whole message within this many
 * milliseconds of its connection or of its previous answer. */
#define UTP_IDLE_TIMEOUT_MS 2000

typedef enum utp_status {
    UTP_OK = 0,         /* answered (utp_send, utp_notify) or connected (utp_open) */
    UTP_NO_UPDATER = 1, /* nothing of this user listens on the channel */
    UTP_TIMED_OUT = 2,  /* no connection or no answer in the time allowed */
    UTP_TOO_LARGE = 3,  /* the payload exceeds UTP_MESSAGE_LIMIT; nothing was sent */
    UTP_IO_ERROR = 4    /* anything else: the updater left mid-message, out of memory */
} utp_status;

typedef struct utp_conn utp_conn;

/* Writes the channel's socket path, resolved as the updater resolves it, NUL-terminated
 * into `buffer`. Returns its length, or 0 when it does not fit. */
UTP_API size_t utp_socket_path(char *buffer, size_t size) UTP_CHECK_RESULT UTP_NONNULL(1);

/* Connects to the updater listening on `socket_path` (NULL: utp_socket_path()).
 * `timeout_ms` bounds the connection and, later, each utp_send.
 * Sets *conn to a connection in every case but out of memory (then NULL and UTP_IO_ERROR);
 * after a failure it is not connected, utp_error() says why, and utp_send tries again.
 * Close it with utp_close in every case. */
UTP_API utp_status utp_open(utp_conn **conn, const char *socket_path, int timeout_ms)
    UTP_NONNULL(1);

/* Sends one message and waits for the updater's answer (stored in *answer unless NULL).
 * Reconnects first when the updater has closed the connection or restarted since. */
UTP_API utp_status utp_send(utp_conn *conn, uint32_t kind, const void *data, size_t size,
                            int32_t *answer) UTP_CHECK_RESULT;

/* One sentence on the last failure of this connection, for a person to read. The text lives
 * in the connection and the next call on it rewrites it: where threads share a connection,
 * read it before any other thread calls it again. */
UTP_API const char *utp_error(const utp_conn *conn);

UTP_API void utp_close(utp_conn *conn);

/* Open, send, close. */
UTP_API utp_status utp_notify(const char *socket_path, uint32_t kind, const void *data, size_t size,
                              int timeout_ms, int32_t *answer) UTP_CHECK_RESULT;

/* A short text for a status ("answered", "no updater listening", ...). */
UTP_API const char *utp_status_text(utp_status status);

#ifdef __cplusplus
}
#endif

#endif

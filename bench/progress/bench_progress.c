/* Messages answered per second on one kept connection of the client library.
 *   bench_progress MESSAGES   (the updater must be listening) */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "update-tool/progress.h"

static double seconds(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

int main(int argc, char **argv) {
    const int messages = argc > 1 ? atoi(argv[1]) : 2000;
    utp_conn *conn = NULL;
    utp_status status = utp_open(&conn, NULL, 5000);
    const double start = seconds();
    int sent = 0;
    /* Fractions below 1 keep the window in its progress state, so each message repaints. */
    for (; sent < messages && status == UTP_OK; ++sent) {
        char text[64];
        const int size = snprintf(text, sizeof text, "Trancel1_ProgressValue?%.4f",
                                  0.01 + 0.98 * sent / messages);
        status = utp_send(conn, UTP_KIND_PROGRESS, text, (size_t)size, NULL);
    }
    const double elapsed = seconds() - start;
    if (status != UTP_OK) {
        fprintf(stderr, "bench_progress: %s\n", utp_error(conn));
        utp_close(conn);
        return 1;
    }
    utp_close(conn);
    printf("%.0f\n", sent / elapsed);
    return 0;
}

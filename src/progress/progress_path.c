/* Where the progress channel is, resolved the same way by the senders and the updater. */
#define _GNU_SOURCE
#include "update-tool/progress.h"

#include "progress_path.h"

#include <errno.h>
#include <pwd.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

static void say(char *why, size_t why_size, const char *format, ...) {
    if (why == NULL || why_size == 0)
        return;
    va_list args;
    va_start(args, format);
    vsnprintf(why, why_size, format, args);
    va_end(args);
}

/* `folder` followed by `tail` in `buffer`; the length, or 0 (and an empty buffer) when it does
 * not fit. */
static size_t join_path(char *buffer, size_t size, const char *folder, const char *tail) {
    const int length = snprintf(buffer, size, "%s%s", folder, tail);
    if (length < 0 || (size_t)length >= size) {
        if (size > 0)
            buffer[0] = '\0';
        return 0;
    }
    return (size_t)length;
}

/* The user's home: $HOME when it is an absolute path, else the password database's. */
static const char *home_folder(char *storage, size_t size) {
    const char *home = getenv("HOME");
    if (home != NULL && home[0] == '/')
        return home;
    struct passwd entry;
    struct passwd *found = NULL;
    if (getpwuid_r(geteuid(), &entry, storage, size, &found) != 0 || found == NULL ||
        found->pw_dir == NULL || found->pw_dir[0] != '/')
        return NULL;
    return found->pw_dir;
}

size_t utp_resolve_socket_path(char *buffer, size_t size, char *why, size_t why_size) {
    say(why, why_size, "%s", "");
    const unsigned uid = (unsigned)geteuid();
    const char *runtime = getenv("XDG_RUNTIME_DIR");
    if (runtime != NULL && runtime[0] == '/')
        return join_path(buffer, size, runtime, "/update-tool/progress.sock");

    const char *temp = getenv("TMPDIR");
    char temp_folder[4096];
    snprintf(temp_folder, sizeof temp_folder, "%s", temp != NULL && temp[0] == '/' ? temp : "/tmp");
    for (size_t end = strlen(temp_folder); end > 1 && temp_folder[end - 1] == '/'; --end)
        temp_folder[end - 1] = '\0';
    char folder[4096 + 32];
    snprintf(folder, sizeof folder, "%s/update-tool-%u",
             strcmp(temp_folder, "/") ? temp_folder : "", uid);

    /* Anyone may create a name in the temporary folder before us. A folder there that is not
     * ours sends us to one in the home folder, which nobody else can create. */
    struct stat info;
    const int found = lstat(folder, &info);
    const int squatted = found == 0 && (!S_ISDIR(info.st_mode) || info.st_uid != uid);
    char storage[4096];
    const char *home = squatted ? home_folder(storage, sizeof storage) : NULL;
    if (home == NULL)
        return join_path(buffer, size, folder, "/progress.sock");
    const size_t length = join_path(buffer, size, home, "/.cache/update-tool/progress.sock");
    if (length > 0)
        say(why, why_size, "%s is not a folder of this user; the channel is %s instead", folder,
            buffer);
    return length;
}

size_t utp_socket_path(char *buffer, size_t size) {
    return utp_resolve_socket_path(buffer, size, NULL, 0);
}

int utp_check_channel_folder(const char *socket_path, char *why, size_t why_size) {
    char folder[sizeof(((struct sockaddr_un *)0)->sun_path)];
    snprintf(folder, sizeof folder, "%s", socket_path);
    char *slash = strrchr(folder, '/');
    if (slash == NULL) {
        say(why, why_size, "%s is not an absolute path", socket_path);
        return -1;
    }
    if (slash == folder)
        ++slash; /* the root folder itself */
    *slash = '\0';
    struct stat info;
    if (lstat(folder, &info) != 0) {
        say(why, why_size, "cannot inspect %s: %s", folder, strerror(errno));
        return -1;
    }
    if (!S_ISDIR(info.st_mode)) {
        say(why, why_size, "%s is not a folder", folder);
        return -1;
    }
    if (info.st_uid != geteuid()) {
        say(why, why_size, "%s belongs to another user", folder);
        return -1;
    }
    if ((info.st_mode & 077) != 0) {
        say(why, why_size, "%s is open to other users (mode %03o)", folder,
            (unsigned)(info.st_mode & 0777));
        return -1;
    }
    return 0;
}

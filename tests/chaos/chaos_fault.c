/* An LD_PRELOAD helper beside libfiu's POSIX preload: counts the calls of the libc functions a
 * download makes, or fails exactly one of them, chosen by the environment:
 *   CHAOS_FAULT_COUNTS=FILE      write "SITE COUNT" lines to FILE at exit (counting)
 *   CHAOS_FAULT_SITE=write CHAOS_FAULT_INDEX=N CHAOS_FAULT_ERRNO=EIO
 *                                fail the N-th armed call of write() with EIO
 *   CHAOS_FAULT_FIRED=FILE       created when that call was failed
 * Only calls between the program's chaos_arm() and chaos_disarm() count, so start-up and
 * the program's own report stay out. The functions the POSIX preload does not wrap
 * (openat, renameat2, link, mkdir, flock, the stat family) are wrapped here, as libfiu points
 * of their own. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdatomic.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#define FIU_ENABLE 1
#include <fiu-control.h>
#include <fiu.h>

static const char *const Sites[][2] = {
    {"open", "posix/io/oc/open"},
    {"openat", "chaos/openat"},
    {"read", "posix/io/rw/read"},
    {"write", "posix/io/rw/write"},
    {"pwrite", "posix/io/rw/pwrite"},
    {"fsync", "posix/io/sync/fsync"},
    {"fdatasync", "posix/io/sync/fdatasync"},
    {"ftruncate", "posix/io/rw/ftruncate"},
    {"rename", "posix/io/dir/rename"},
    {"renameat2", "chaos/renameat2"},
    {"link", "chaos/link"},
    {"unlink", "posix/io/dir/unlink"},
    {"mkdir", "chaos/mkdir"},
    {"flock", "chaos/flock"},
    {"stat", "chaos/stat"},
    {"connect", "posix/io/net/connect"},
    {"recv", "posix/io/net/recv"},
    {"send", "posix/io/net/send"},
};
enum { SiteCount = sizeof Sites / sizeof Sites[0] };

static atomic_int armed;
static atomic_ulong counts[SiteCount];
static int target = -1;
static unsigned long targetIndex;
static long targetErrno = EIO;

static void writeFileRaw(const char *path, const char *text, size_t size) {
    if (!path)
        return;
    const int fd = (int)syscall(SYS_openat, AT_FDCWD, path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return;
    syscall(SYS_write, fd, text, size);
    syscall(SYS_close, fd);
}

static int decide(const char *name, int *failnum, void **failinfo, unsigned int *flags) {
    (void)failnum;
    (void)flags;
    if (!atomic_load(&armed))
        return 0;
    for (int i = 0; i < SiteCount; ++i) {
        if (strcmp(name, Sites[i][1]) != 0)
            continue;
        const unsigned long n = atomic_fetch_add(&counts[i], 1) + 1;
        if (i != target || n != targetIndex)
            return 0;
        *failinfo = (void *)targetErrno;
        writeFileRaw(getenv("CHAOS_FAULT_FIRED"), "fired\n", 6);
        return 1;
    }
    return 0;
}

void chaos_arm(void) {
    atomic_store(&armed, 1);
}
void chaos_disarm(void) {
    atomic_store(&armed, 0);
}

static long errnoByName(const char *name) {
    static const struct {
        const char *name;
        long value;
    } Known[] = {{"EIO", EIO},     {"ENOSPC", ENOSPC}, {"EACCES", EACCES},
                 {"EINTR", EINTR}, {"ENOSYS", ENOSYS}, {"EINVAL", EINVAL}};
    for (size_t i = 0; i < sizeof Known / sizeof Known[0]; ++i)
        if (strcmp(name, Known[i].name) == 0)
            return Known[i].value;
    return EIO;
}

__attribute__((constructor)) static void setUp(void) {
    fiu_init(0);
    const char *site = getenv("CHAOS_FAULT_SITE");
    const char *index = getenv("CHAOS_FAULT_INDEX");
    const char *error = getenv("CHAOS_FAULT_ERRNO");
    for (int i = 0; site && i < SiteCount; ++i)
        if (strcmp(site, Sites[i][0]) == 0)
            target = i;
    targetIndex = index ? strtoul(index, NULL, 10) : 0;
    if (error)
        targetErrno = errnoByName(error);
    for (int i = 0; i < SiteCount; ++i)
        fiu_enable_external(Sites[i][1], 1, NULL, 0, decide);
}

__attribute__((destructor)) static void report(void) {
    const char *path = getenv("CHAOS_FAULT_COUNTS");
    if (!path)
        return;
    char text[2048];
    size_t used = 0;
    for (int i = 0; i < SiteCount && used + 64 < sizeof text; ++i) {
        const char *name = Sites[i][0];
        const size_t length = strlen(name);
        memcpy(text + used, name, length);
        used += length;
        text[used++] = ' ';
        char digits[24];
        int d = 0;
        unsigned long value = atomic_load(&counts[i]);
        do {
            digits[d++] = (char)('0' + value % 10);
            value /= 10;
        } while (value);
        while (d)
            text[used++] = digits[--d];
        text[used++] = '\n';
    }
    writeFileRaw(path, text, used);
}

/* The wrappers of the calls libfiu's preload leaves alone. */
/* Calls the definition of `name` that this library hides, looked up once. */
#define CALL_NEXT(name, ...)                                                                       \
    do {                                                                                           \
        static __typeof__(&name) real;                                                             \
        if (!real)                                                                                 \
            *(void **)&real = dlsym(RTLD_NEXT, #name);                                             \
        return real(__VA_ARGS__);                                                                  \
    } while (0)
#define FAIL_POINT(point)                                                                          \
    do {                                                                                           \
        if (fiu_fail(point)) {                                                                     \
            errno = (int)(long)fiu_failinfo();                                                     \
            return -1;                                                                             \
        }                                                                                          \
    } while (0)

int openat(int dirfd, const char *path, int flags, ...) {
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    FAIL_POINT("chaos/openat");
    CALL_NEXT(openat, dirfd, path, flags, mode);
}
int openat64(int dirfd, const char *path, int flags, ...) __attribute__((alias("openat")));

int renameat2(int olddirfd, const char *oldpath, int newdirfd, const char *newpath,
              unsigned int flags) {
    FAIL_POINT("chaos/renameat2");
    CALL_NEXT(renameat2, olddirfd, oldpath, newdirfd, newpath, flags);
}

int link(const char *from, const char *to) {
    FAIL_POINT("chaos/link");
    CALL_NEXT(link, from, to);
}

int mkdir(const char *path, mode_t mode) {
    FAIL_POINT("chaos/mkdir");
    CALL_NEXT(mkdir, path, mode);
}

int flock(int fd, int operation) {
    FAIL_POINT("chaos/flock");
    CALL_NEXT(flock, fd, operation);
}

int stat(const char *path, struct stat *info) {
    FAIL_POINT("chaos/stat");
    CALL_NEXT(stat, path, info);
}
int stat64(const char *path, struct stat64 *info) {
    FAIL_POINT("chaos/stat");
    CALL_NEXT(stat64, path, info);
}

int lstat(const char *path, struct stat *info) {
    FAIL_POINT("chaos/stat");
    CALL_NEXT(lstat, path, info);
}
int lstat64(const char *path, struct stat64 *info) {
    FAIL_POINT("chaos/stat");
    CALL_NEXT(lstat64, path, info);
}

int fstat(int fd, struct stat *info) {
    FAIL_POINT("chaos/stat");
    CALL_NEXT(fstat, fd, info);
}
int fstat64(int fd, struct stat64 *info) {
    FAIL_POINT("chaos/stat");
    CALL_NEXT(fstat64, fd, info);
}

int fstatat(int dirfd, const char *path, struct stat *info, int flags) {
    FAIL_POINT("chaos/stat");
    CALL_NEXT(fstatat, dirfd, path, info, flags);
}
int fstatat64(int dirfd, const char *path, struct stat64 *info, int flags) {
    FAIL_POINT("chaos/stat");
    CALL_NEXT(fstatat64, dirfd, path, info, flags);
}

int statx(int dirfd, const char *path, int flags, unsigned int mask, struct statx *info) {
    FAIL_POINT("chaos/stat");
    CALL_NEXT(statx, dirfd, path, flags, mask, info);
}

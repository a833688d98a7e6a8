/* Preloaded into hexfold by the end-to-end tests: makes one occurrence of one
 * system call fail, so that every error path can be reached on purpose.
 *
 *   HEXFOLD_FAULT_CALL    open, fstat, fcntl, ftruncate, read, write, pwrite,
 *                         lseek, close (each name covers its 64-bit and *at twins)
 *   HEXFOLD_FAULT_AT      which occurrence of that call fails, from 1
 *   HEXFOLD_FAULT_ERRNO   the errno it fails with; 0 makes a read or write move
 *                         half its bytes instead (a short transfer), -1 none
 *                         at all, returning 0
 *   HEXFOLD_FAULT_REPORT  a file that gets, at exit, how often each call was
 *                         made, whether the fault was injected and how many
 *                         writes went to a descriptor left non-blocking
 *   HEXFOLD_FAULT_STDERR  text written to descriptor 2 at the first read, as
 *                         the C library's own message to standard error would be
 *   HEXFOLD_FAULT_SWAP    a path that, as the fault is injected, is replaced
 *                         by PATH.next, or removed when there is no PATH.next:
 *                         another program's work between two of hexfold's calls
 *
 * A failing close still closes, as Linux does whatever close returns. Only
 * calls made before main returns are counted or failed: those after it are
 * the C runtime's, such as a coverage build writing its counters. */
#undef _FILE_OFFSET_BITS
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

enum Call { kOpen, kFstat, kFcntl, kFtruncate, kRead, kWrite, kPwrite, kLseek, kClose, kCalls };
static const char *const kNames[kCalls] = {"open",  "fstat",  "fcntl", "ftruncate", "read",
                                           "write", "pwrite", "lseek", "close"};

static int fault_call = -1;
static long fault_at;
static int fault_errno;
static long counts[kCalls];
static int fired;
static long nonblocking_writes;
static int counting = 1;
static int registered;

__attribute__((constructor)) static void Configure(void)
{
    const char *call = getenv("HEXFOLD_FAULT_CALL");
    const char *at = getenv("HEXFOLD_FAULT_AT");
    const char *error = getenv("HEXFOLD_FAULT_ERRNO");
    for (int k = 0; call != NULL && k < kCalls; ++k) {
        if (strcmp(call, kNames[k]) == 0) {
            fault_call = k;
        }
    }
    fault_at = at != NULL ? atol(at) : 0;
    fault_errno = error != NULL ? atoi(error) : EIO;
}

static void Report(void)
{
    if (!counting) {
        return;
    }
    counting = 0;
    const char *path = getenv("HEXFOLD_FAULT_REPORT");
    FILE *report = path != NULL ? fopen(path, "w") : NULL;
    if (report == NULL) {
        return;
    }
    for (int k = 0; k < kCalls; ++k) {
        fprintf(report, "%s %ld\n", kNames[k], counts[k]);
    }
    fprintf(report, "fired %d\n", fired);
    fprintf(report, "nonblocking %ld\n", nonblocking_writes);
    fclose(report);
}

/* For a run that made no call at all. */
__attribute__((destructor)) static void ReportLate(void)
{
    Report();
}

static void Swap(void)
{
    const char *path = getenv("HEXFOLD_FAULT_SWAP");
    if (path == NULL) {
        return;
    }
    char next[4096];
    (void)snprintf(next, sizeof next, "%s.next", path);
    if (rename(next, path) != 0) {
        (void)unlink(path);
    }
}

/* Counts the call; 1: fail it with errno set, 2: make it short, 3: make it
 * move nothing, 0: let it be. */
static int Inject(enum Call call)
{
    if (!counting) {
        return 0;
    }
    /* Handlers registered while main runs are run as it returns, before the
     * destructors in which the runtime does its own work. */
    if (!registered) {
        registered = 1;
        (void)atexit(Report);
    }
    if (++counts[call] != fault_at || (int)call != fault_call) {
        return 0;
    }
    fired = 1;
    Swap();
    if (fault_errno == 0) {
        return 2;
    }
    if (fault_errno == -1) {
        return 3;
    }
    errno = fault_errno;
    return 1;
}

static void *Next(const char *name)
{
    void *next = dlsym(RTLD_NEXT, name);
    if (next == NULL) {
        abort();
    }
    return next;
}

/* dlsym hands back an object pointer; POSIX makes it callable. */
#define NEXT(type, name) (__extension__(type) Next(name))

/* Writes must block until they are done, whatever the target is. */
static void CheckBlocking(int fd)
{
    if (!counting) {
        return;
    }
    const int flags = NEXT(int (*)(int, int, ...), "fcntl")(fd, F_GETFL);
    if (flags != -1 && (flags & O_NONBLOCK) != 0) {
        ++nonblocking_writes;
    }
}

static size_t Shortened(size_t count)
{
    return count > 1 ? count / 2 : count;
}

static int OpenAs(const char *name, int dir, const char *path, int flags, mode_t mode)
{
    if (Inject(kOpen) == 1) {
        return -1;
    }
    if (dir == -1) {
        return NEXT(int (*)(const char *, int, ...), name)(path, flags, mode);
    }
    return NEXT(int (*)(int, const char *, int, ...), name)(dir, path, flags, mode);
}

#define MODE_ARG(flags, mode)                                                                                \
    do {                                                                                                     \
        if (((flags) & (O_CREAT | O_TMPFILE)) != 0) {                                                        \
            va_list args;                                                                                    \
            va_start(args, flags);                                                                           \
            (mode) = (mode_t)va_arg(args, int);                                                              \
            va_end(args);                                                                                    \
        }                                                                                                    \
    } while (0)

int open(const char *path, int flags, ...)
{
    mode_t mode = 0;
    MODE_ARG(flags, mode);
    return OpenAs("open", -1, path, flags, mode);
}

int open64(const char *path, int flags, ...)
{
    mode_t mode = 0;
    MODE_ARG(flags, mode);
    return OpenAs("open64", -1, path, flags, mode);
}

int openat(int dir, const char *path, int flags, ...)
{
    mode_t mode = 0;
    MODE_ARG(flags, mode);
    return OpenAs("openat", dir, path, flags, mode);
}

int openat64(int dir, const char *path, int flags, ...)
{
    mode_t mode = 0;
    MODE_ARG(flags, mode);
    return OpenAs("openat64", dir, path, flags, mode);
}

int fstat(int fd, struct stat *info)
{
    return Inject(kFstat) == 1 ? -1 : NEXT(int (*)(int, struct stat *), "fstat")(fd, info);
}

int fstat64(int fd, struct stat64 *info)
{
    return Inject(kFstat) == 1 ? -1 : NEXT(int (*)(int, struct stat64 *), "fstat64")(fd, info);
}

/* hexfold's commands take an int or nothing. */
#define FCNTL(name)                                                                                          \
    int name(int fd, int command, ...)                                                                       \
    {                                                                                                        \
        va_list args;                                                                                        \
        va_start(args, command);                                                                             \
        void *arg = va_arg(args, void *);                                                                    \
        va_end(args);                                                                                        \
        return Inject(kFcntl) == 1 ? -1 : NEXT(int (*)(int, int, ...), #name)(fd, command, arg);             \
    }
FCNTL(fcntl)
FCNTL(fcntl64)

int ftruncate(int fd, off_t size)
{
    return Inject(kFtruncate) == 1 ? -1 : NEXT(int (*)(int, off_t), "ftruncate")(fd, size);
}

int ftruncate64(int fd, off64_t size)
{
    return Inject(kFtruncate) == 1 ? -1 : NEXT(int (*)(int, off64_t), "ftruncate64")(fd, size);
}

off_t lseek(int fd, off_t offset, int whence)
{
    return Inject(kLseek) == 1 ? -1 : NEXT(off_t(*)(int, off_t, int), "lseek")(fd, offset, whence);
}

off64_t lseek64(int fd, off64_t offset, int whence)
{
    return Inject(kLseek) == 1 ? -1 : NEXT(off64_t(*)(int, off64_t, int), "lseek64")(fd, offset, whence);
}

ssize_t read(int fd, void *buffer, size_t count)
{
    const int injected = Inject(kRead);
    const char *text = getenv("HEXFOLD_FAULT_STDERR");
    if (counts[kRead] == 1 && text != NULL) {
        (void)NEXT(ssize_t(*)(int, const void *, size_t), "write")(2, text, strlen(text));
    }
    if (injected == 1) {
        return -1;
    }
    if (injected == 3) {
        return 0;
    }
    return NEXT(ssize_t(*)(int, void *, size_t), "read")(fd, buffer,
                                                         injected == 2 ? Shortened(count) : count);
}

ssize_t write(int fd, const void *bytes, size_t count)
{
    const int injected = Inject(kWrite);
    CheckBlocking(fd);
    if (injected == 1) {
        return -1;
    }
    if (injected == 3) {
        return 0;
    }
    return NEXT(ssize_t(*)(int, const void *, size_t), "write")(fd, bytes,
                                                                injected == 2 ? Shortened(count) : count);
}

ssize_t pwrite(int fd, const void *bytes, size_t count, off_t offset)
{
    const int injected = Inject(kPwrite);
    CheckBlocking(fd);
    if (injected == 1) {
        return -1;
    }
    if (injected == 3) {
        return 0;
    }
    return NEXT(ssize_t(*)(int, const void *, size_t, off_t),
                "pwrite")(fd, bytes, injected == 2 ? Shortened(count) : count, offset);
}

ssize_t pwrite64(int fd, const void *bytes, size_t count, off64_t offset)
{
    const int injected = Inject(kPwrite);
    CheckBlocking(fd);
    if (injected == 1) {
        return -1;
    }
    if (injected == 3) {
        return 0;
    }
    return NEXT(ssize_t(*)(int, const void *, size_t, off64_t),
                "pwrite64")(fd, bytes, injected == 2 ? Shortened(count) : count, offset);
}

int close(int fd)
{
    const int injected = Inject(kClose);
    const int closed = NEXT(int (*)(int), "close")(fd);
    if (injected == 1) {
        errno = fault_errno;
        return -1;
    }
    return closed;
}

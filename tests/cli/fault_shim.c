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

/* What a wrapper does with its call once Inject has counted it. */
enum Injected { kPass, kFail, kShort, kNothing };

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
    const int flags = NEXT(int (*)(int, int, ...), "fcntl")(fd, F_GETFL);
    if (flags != -1 && (flags & O_NONBLOCK) != 0) {
        ++nonblocking_writes;
    }
}

/* Counts the call on fd and says what becomes of it, with errno set for kFail. */
static enum Injected Inject(enum Call call, int fd)
{
    if (!counting) {
        return kPass;
    }
    /* Handlers registered while main runs are run as it returns, before the
     * destructors in which the runtime does its own work. */
    if (!registered) {
        registered = 1;
        (void)atexit(Report);
    }
    ++counts[call];
    const char *text = getenv("HEXFOLD_FAULT_STDERR");
    if (call == kRead && counts[kRead] == 1 && text != NULL) {
        (void)NEXT(ssize_t(*)(int, const void *, size_t), "write")(2, text, strlen(text));
    }
    if (call == kWrite || call == kPwrite) {
        CheckBlocking(fd);
    }
    if (counts[call] != fault_at || (int)call != fault_call) {
        return kPass;
    }
    fired = 1;
    Swap();
    if (fault_errno == 0) {
        return kShort;
    }
    if (fault_errno == -1) {
        return kNothing;
    }
    errno = fault_errno;
    return kFail;
}

/* The byte count that a transfer passes on: half of it when cut short,
 * none when it is to move nothing. */
static size_t Moved(enum Injected injected, size_t count)
{
    if (injected == kShort && count > 1) {
        return count / 2;
    }
    return injected == kNothing ? 0 : count;
}

/* Every wrapper but close's: NAME(PARAMS) counts as CALL on FD, runs
 * PROLOGUE, then fails with -1 or passes ARGS to the next NAME, of type
 * TYPE, in which a transfer's count is written Moved(injected, count). */
#define WRAP(result, name, params, call, fd, prologue, type, args)                                           \
    result name params                                                                                       \
    {                                                                                                        \
        prologue;                                                                                            \
        const enum Injected injected = Inject(call, fd);                                                     \
        (void)injected;                                                                                      \
        if (injected == kFail) {                                                                             \
            return -1;                                                                                       \
        }                                                                                                    \
        return NEXT(type, #name) args;                                                                       \
    }

/* The mode, which open and openat take only when they may create the file. */
#define MODE(flags)                                                                                          \
    mode_t mode = 0;                                                                                         \
    if (((flags) & (O_CREAT | O_TMPFILE)) != 0) {                                                            \
        va_list rest;                                                                                        \
        va_start(rest, flags);                                                                               \
        mode = (mode_t)va_arg(rest, int);                                                                    \
        va_end(rest);                                                                                        \
    }

/* hexfold's fcntl commands take an int or nothing. */
#define FCNTL_ARG                                                                                            \
    va_list rest;                                                                                            \
    va_start(rest, command);                                                                                 \
    void *arg = va_arg(rest, void *);                                                                        \
    va_end(rest)

typedef int (*OpenCall)(const char *, int, ...);
typedef int (*OpenAtCall)(int, const char *, int, ...);
typedef int (*FcntlCall)(int, int, ...);

WRAP(int, open, (const char *path, int flags, ...), kOpen, -1, MODE(flags), OpenCall, (path, flags, mode))
WRAP(int, open64, (const char *path, int flags, ...), kOpen, -1, MODE(flags), OpenCall, (path, flags, mode))
WRAP(int, openat, (int dir, const char *path, int flags, ...), kOpen, -1, MODE(flags), OpenAtCall,
     (dir, path, flags, mode))
WRAP(int, openat64, (int dir, const char *path, int flags, ...), kOpen, -1, MODE(flags), OpenAtCall,
     (dir, path, flags, mode))
WRAP(int, fstat, (int fd, struct stat *info), kFstat, fd, , int (*)(int, struct stat *), (fd, info))
WRAP(int, fstat64, (int fd, struct stat64 *info), kFstat, fd, , int (*)(int, struct stat64 *), (fd, info))
WRAP(int, fcntl, (int fd, int command, ...), kFcntl, fd, FCNTL_ARG, FcntlCall, (fd, command, arg))
WRAP(int, fcntl64, (int fd, int command, ...), kFcntl, fd, FCNTL_ARG, FcntlCall, (fd, command, arg))
WRAP(int, ftruncate, (int fd, off_t size), kFtruncate, fd, , int (*)(int, off_t), (fd, size))
WRAP(int, ftruncate64, (int fd, off64_t size), kFtruncate, fd, , int (*)(int, off64_t), (fd, size))
WRAP(off_t, lseek, (int fd, off_t offset, int whence), kLseek, fd, , off_t (*)(int, off_t, int),
     (fd, offset, whence))
WRAP(off64_t, lseek64, (int fd, off64_t offset, int whence), kLseek, fd, , off64_t (*)(int, off64_t, int),
     (fd, offset, whence))
WRAP(ssize_t, read, (int fd, void *buffer, size_t count), kRead, fd, , ssize_t (*)(int, void *, size_t),
     (fd, buffer, Moved(injected, count)))
WRAP(ssize_t, write, (int fd, const void *bytes, size_t count), kWrite, fd, ,
     ssize_t (*)(int, const void *, size_t), (fd, bytes, Moved(injected, count)))
WRAP(ssize_t, pwrite, (int fd, const void *bytes, size_t count, off_t offset), kPwrite, fd, ,
     ssize_t (*)(int, const void *, size_t, off_t), (fd, bytes, Moved(injected, count), offset))
WRAP(ssize_t, pwrite64, (int fd, const void *bytes, size_t count, off64_t offset), kPwrite, fd, ,
     ssize_t (*)(int, const void *, size_t, off64_t), (fd, bytes, Moved(injected, count), offset))

int close(int fd)
{
    const enum Injected injected = Inject(kClose, fd);
    const int closed = NEXT(int (*)(int), "close")(fd);
    if (injected == kFail) {
        errno = fault_errno;
        return -1;
    }
    return closed;
}

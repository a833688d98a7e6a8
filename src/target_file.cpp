#include "target_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

// No O_TRUNC, since the file may turn out to be the source; O_NONBLOCK, so
// that a FIFO without a reader fails with ENXIO rather than blocking the open.
constexpr int kWriteFlags = O_WRONLY | O_NONBLOCK | O_CLOEXEC;
// As for any new file; the umask takes its share.
constexpr mode_t kCreateMode = 0666;

// Compares the open files, since a path seen twice may name two files by
// then; only regular files, since devices such as /dev/null may serve as both.
bool IsSameRegularFile(const struct stat &one, const struct stat &other)
{
    return S_ISREG(one.st_mode) && S_ISREG(other.st_mode) && one.st_dev == other.st_dev &&
           one.st_ino == other.st_ino;
}

// Sets *created only when this very call made the file, which is then the
// one thing that a failure afterwards may remove.
int OpenForWriting(const char *path, bool *created)
{
    *created = false;
    const int existing = open(path, kWriteFlags);
    if (existing >= 0 || errno != ENOENT) {
        return existing;
    }
    const int fresh = open(path, kWriteFlags | O_CREAT | O_EXCL, kCreateMode);
    if (fresh >= 0) {
        *created = true;
        return fresh;
    }
    if (errno != EEXIST) {
        return -1;
    }
    // A dangling symbolic link, whose target this creates, or a file that
    // someone else made in between: either way not ours to remove.
    return open(path, kWriteFlags | O_CREAT, kCreateMode);
}

// Blocking writes from here on; regular files alone are truncated, as O_TRUNC
// leaves FIFOs and devices as they are.
bool PrepareForWriting(int fd, const struct stat &info)
{
    const int flags = fcntl(fd, F_GETFL);
    return flags != -1 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 &&
           (!S_ISREG(info.st_mode) || ftruncate(fd, 0) == 0);
}

// Removes the file that this run made, unless its path has come to name
// another file since (Matrix/Inject.StatusMessageAndTarget/fcntl5_EIO_new0_swap1
// and /fcntl5_EIO_new0_swap2).
void RemoveCreated(const char *path, const struct stat &made)
{
    struct stat now {};
    if (stat(path, &now) == 0 && (now.st_dev != made.st_dev || now.st_ino != made.st_ino)) {
        return;
    }
    (void)unlink(path);
}

} // namespace

TargetOpening OpenTarget(const struct stat &source_info, const char *target_path, int *target)
{
    bool created = false;
    const int fd = OpenForWriting(target_path, &created);
    if (fd < 0) {
        return TargetOpening::kFailed;
    }
    struct stat target_info {};
    if (fstat(fd, &target_info) != 0) {
        (void)close(fd);
        // Without the file's identity the path is trusted, as it is anyway
        // between RemoveCreated's comparison and its unlink.
        if (created) {
            (void)unlink(target_path);
        }
        return TargetOpening::kFailed;
    }
    if (IsSameRegularFile(source_info, target_info)) {
        (void)close(fd);
        return TargetOpening::kIsSource;
    }
    if (!PrepareForWriting(fd, target_info)) {
        (void)close(fd);
        if (created) {
            RemoveCreated(target_path, target_info);
        }
        return TargetOpening::kFailed;
    }
    *target = fd;
    return TargetOpening::kOpened;
}

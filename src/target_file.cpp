#include "target_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

// No O_TRUNC: the file may turn out to be the source. O_NONBLOCK: a FIFO
// without a reader fails with ENXIO instead of blocking in the open for ever.
constexpr int kWriteFlags = O_WRONLY | O_NONBLOCK | O_CLOEXEC;
// As for any new file; the umask takes its share.
constexpr mode_t kCreateMode = 0666;

// A path seen twice may name two files by then, so the open descriptor is what
// counts. Only regular files: devices such as /dev/null may serve as both.
bool IsSameRegularFile(const struct stat &one, const struct stat &other)
{
    return S_ISREG(one.st_mode) && S_ISREG(other.st_mode) && one.st_dev == other.st_dev &&
           one.st_ino == other.st_ino;
}

// Sets *created only when this very call made the file, which is then the one
// thing a failure afterwards may remove.
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

} // namespace

TargetOpening OpenTarget(const struct stat &source_info, const char *target_path, int *target)
{
    bool created = false;
    const int fd = OpenForWriting(target_path, &created);
    // A failed open leaves -1, which fstat refuses as it would any other
    // descriptor whose file is not known; close(-1) does nothing, and nothing
    // was created. A file that cannot be told apart from the source is not
    // written; one that is not known has no mode, so it is not a regular file.
    struct stat target_info {};
    const bool known = fstat(fd, &target_info) == 0;
    if (IsSameRegularFile(source_info, target_info)) {
        (void)close(fd);
        return TargetOpening::kIsSource;
    }
    if (known && PrepareForWriting(fd, target_info)) {
        *target = fd;
        return TargetOpening::kOpened;
    }
    (void)close(fd);
    // Removed unless the path has come to name another file since. Without
    // the file's identity the path is trusted, as it is anyway between the
    // comparison and the unlink.
    struct stat now {};
    const bool replaced = known && stat(target_path, &now) == 0 &&
                          (now.st_dev != target_info.st_dev || now.st_ino != target_info.st_ino);
    if (created && !replaced) {
        (void)unlink(target_path);
    }
    return TargetOpening::kFailed;
}

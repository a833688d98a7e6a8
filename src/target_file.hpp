// Opening the target for writing without ever truncating the source.
#ifndef HEXFOLD_TARGET_FILE_HPP
#define HEXFOLD_TARGET_FILE_HPP

#include <sys/stat.h>

enum class TargetOpening {
    kOpened,   // *target is open for blocking writes, truncated when a regular file
    kIsSource, // the path led to the source's own file, which is left as it was
    kFailed,   // not opened or not truncated; nothing was created or changed
};

// open(target_path, O_WRONLY | O_CREAT | O_TRUNC) with two differences: the
// file that was actually opened is compared with the source (source_info, from
// its open descriptor) before anything is truncated, and a FIFO without a
// reader is refused at once rather than waited for.
TargetOpening OpenTarget(const struct stat &source_info, const char *target_path, int *target);

#endif

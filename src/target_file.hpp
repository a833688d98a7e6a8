// Opening the target for writing without ever truncating the source.
#ifndef HEXFOLD_TARGET_FILE_HPP
#define HEXFOLD_TARGET_FILE_HPP

#include <cstdio>

enum class TargetOpening {
    kOpened,   // the stream is open, truncated when a regular file
    kIsSource, // the path led to the source's own file, which is left as it was
    kFailed,   // not opened or not truncated; nothing was created or changed
};

// fopen(target_path, "wb") with two differences: the file that was actually
// opened is compared with the open source before anything is truncated, and a
// FIFO without a reader is refused at once rather than waited for.
TargetOpening OpenTarget(int source_fd, const char *target_path, std::FILE **target);

#endif

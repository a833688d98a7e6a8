#include "descriptor_io.hpp"

#include <unistd.h>

#include <cerrno>

ssize_t ReadSome(int fd, void *buffer, std::size_t size)
{
    for (;;) {
        const ssize_t got = read(fd, buffer, size);
        if (got >= 0 || errno != EINTR) {
            return got;
        }
    }
}

bool WriteAll(int fd, const std::uint8_t *bytes, std::size_t size, off_t offset)
{
    while (size != 0) {
        const ssize_t put = offset == kAtPosition ? write(fd, bytes, size) : pwrite(fd, bytes, size, offset);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        // 0 for a non-empty write would only repeat for ever.
        if (put <= 0) {
            return false;
        }
        const auto done = static_cast<std::size_t>(put);
        bytes += done;
        size -= done;
        if (offset != kAtPosition) {
            offset += put;
        }
    }
    return true;
}

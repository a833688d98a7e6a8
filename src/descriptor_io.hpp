// The one place where a transfer that is cut short or interrupted by a signal
// is taken up again, so that callers see whole writes or a failure.
#ifndef HEXFOLD_DESCRIPTOR_IO_HPP
#define HEXFOLD_DESCRIPTOR_IO_HPP

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

// Where WriteAll puts the bytes: at the descriptor's own position, which then
// moves past them, or at a fixed offset, which leaves the position alone.
inline constexpr off_t kAtPosition = -1;

// One read of at most size bytes, begun again if a signal interrupts it before
// anything arrives: what read returns, with errno set on -1.
ssize_t ReadSome(int fd, void *buffer, std::size_t size);

// Every one of size bytes, in as many writes as it takes; false on the first
// write that fails or makes no progress.
bool WriteAll(int fd, const std::uint8_t *bytes, std::size_t size, off_t offset = kAtPosition);

#endif

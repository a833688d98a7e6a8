// The one place where a transfer cut short or interrupted by a signal is
// taken up again, so that callers see whole writes or a failure.
#ifndef HEXFOLD_DESCRIPTOR_IO_HPP
#define HEXFOLD_DESCRIPTOR_IO_HPP

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

// WriteAll at the descriptor's own position, which moves, rather than at a
// fixed offset, which leaves it alone.
inline constexpr off_t kAtPosition = -1;

// What one read of at most size bytes returns, begun again when a signal
// interrupts it before anything arrives (Matrix/Inject.StatusMessageAndTarget/read1_EINTR0).
ssize_t ReadSome(int fd, void *buffer, std::size_t size);

// Every one of size bytes in as many writes as it takes, false on the first
// that fails or moves nothing (Matrix/Inject.StatusMessageAndTarget/write1_nothing0).
bool WriteAll(int fd, const std::uint8_t *bytes, std::size_t size, off_t offset = kAtPosition);

#endif

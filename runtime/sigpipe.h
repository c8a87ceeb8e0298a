// Writing to a pipe or socket whose reader has gone raises SIGPIPE, which ends the process by
// default. A library must not change the process-wide disposition, so these calls block the
// signal in the calling thread for the one write, and take a SIGPIPE that the write raised off
// the pending set before the previous mask returns (one that was pending before is left alone).
// A gone reader then shows as -1 with errno EPIPE, as with MSG_NOSIGNAL.
#pragma once

#include <sys/types.h>

#include <cstddef>

// One write(); retried while interrupted by a signal.
ssize_t WriteWithoutSigpipe(int fd, const void* bytes, size_t count);
// One send() with the flags; retried while interrupted by a signal.
ssize_t SendWithoutSigpipe(int socket, const void* bytes, size_t count, int flags);

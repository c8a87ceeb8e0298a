#include "runtime/wake_signal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "runtime/child_process.h"

bool WakeSignal::Open() {
    if (readFd_ >= 0) return true;
    int ends[2];
#if NAVLUME_HAVE_PIPE2
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return false;
#else
    // Made close-on-exec under the lock that child processes start under, so none inherits it.
    if (!OpenPrivatePipe(ends)) return false;
    for (const int end : ends) {
        const int flags = fcntl(end, F_GETFL);
        if (flags < 0 || fcntl(end, F_SETFL, flags | O_NONBLOCK) != 0) {
            close(ends[0]);
            close(ends[1]);
            return false;
        }
    }
#endif
    readFd_ = ends[0];
    writeFd_ = ends[1];
    return true;
}

void WakeSignal::Close() {
    if (readFd_ >= 0) close(readFd_);
    if (writeFd_ >= 0) close(writeFd_);
    readFd_ = -1;
    writeFd_ = -1;
}

void WakeSignal::Raise() {
    if (writeFd_ < 0) return;
    const char byte = 1;
    // A full pipe is already raised; nothing is lost by a write that fails with EAGAIN.
    while (write(writeFd_, &byte, 1) < 0 && errno == EINTR) {
    }
}

void WakeSignal::Clear() {
    if (readFd_ < 0) return;
    char drained[64];
    ssize_t got;
    do {
        got = read(readFd_, drained, sizeof drained);
    } while (got > 0 || (got < 0 && errno == EINTR));
}

#include "runtime/sigpipe.h"

#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace {

// Removes the SIGPIPE that a write of this thread has just raised.
void TakePendingSigpipe(const sigset_t& pipeOnly) {
#if NAVLUME_HAVE_SIGTIMEDWAIT
    const timespec noWait = {0, 0};
    while (sigtimedwait(&pipeOnly, nullptr, &noWait) < 0 && errno == EINTR) {
    }
#else
    // The signal of a failed write is directed at the writing thread, so once it shows as
    // pending nobody else can take it and sigwait returns at once.
    sigset_t pending;
    int signal = 0;
    if (sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1)
        sigwait(&pipeOnly, &signal);
#endif
}

template <typename Write>
ssize_t WithSigpipeBlocked(Write write) {
    sigset_t pipeOnly;
    sigset_t previous;
    sigset_t pending;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
    const bool wasPending = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;

    ssize_t written;
    do {
        written = write();
    } while (written < 0 && errno == EINTR);
    const int writeError = errno;

    if (written < 0 && writeError == EPIPE && !wasPending) TakePendingSigpipe(pipeOnly);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = writeError;
    return written;
}

}  // namespace

ssize_t WriteWithoutSigpipe(int fd, const void* bytes, size_t count) {
    return WithSigpipeBlocked([&] { return write(fd, bytes, count); });
}

ssize_t SendWithoutSigpipe(int socket, const void* bytes, size_t count, int flags) {
    return WithSigpipeBlocked([&] { return send(socket, bytes, count, flags); });
}

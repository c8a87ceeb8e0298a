#include "runtime/socket_connect.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace {

// The outcome of a connect that completed in the background: writable and no pending error.
bool ConnectSucceeded(int socket) {
    int error = 0;
    socklen_t length = sizeof(error);
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return false;
    return error == 0;
}

// Waits up to waitMs (-1: without limit) for the connecting socket to become writable.
// 1 writable, 0 not yet, -1 failed. A signal is not a failure: the wait reports "not yet".
int WaitWritable(int socket, int waitMs) {
    pollfd entry{};
    entry.fd = socket;
    entry.events = POLLOUT;
    const int ready = poll(&entry, 1, waitMs);
    if (ready < 0) return errno == EINTR ? 0 : -1;
    if (ready == 0) return 0;
    // An error or hang-up also ends the wait; SO_ERROR then tells what happened.
    return (entry.revents & (POLLOUT | POLLERR | POLLHUP)) != 0 ? 1 : -1;
}

// Starts a connect on a non-blocking socket: 1 connected at once, 0 in progress, -1 failed.
int StartConnect(int socket, const SocketAddress& peer) {
    if (connect(socket, peer.get(), peer.length) == 0) return 1;
    return errno == EINPROGRESS || errno == EINTR ? 0 : -1;
}

}  // namespace

int OpenClientSocket(int family, int type) {
#ifdef SOCK_CLOEXEC
    const int socketNumber = socket(family, type | SOCK_CLOEXEC, 0);
    if (socketNumber < 0) return -1;
#else
    const int socketNumber = socket(family, type, 0);
    if (socketNumber < 0) return -1;
    if (fcntl(socketNumber, F_SETFD, FD_CLOEXEC) != 0) {
        close(socketNumber);
        return -1;
    }
#endif
#ifdef SO_NOSIGPIPE
    // Where the system offers it per socket, a write to a closed peer gives EPIPE, not a signal.
    // Elsewhere (Linux) ConnectionSend passes MSG_NOSIGNAL.
    int on = 1;
    setsockopt(socketNumber, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof(on));
#endif
    return socketNumber;
}

bool SetSocketNonBlocking(int socket, bool nonBlocking) {
    int value = nonBlocking ? 1 : 0;
    return ioctl(socket, FIONBIO, &value) == 0;
}

bool ConnectBlocking(int socket, const SocketAddress& peer) {
    if (connect(socket, peer.get(), peer.length) == 0) return true;
    if (errno != EINTR) return false;
    // A connect interrupted by a signal goes on in the background; wait for its end as the
    // uninterrupted call would have.
    for (;;) {
        const int state = WaitWritable(socket, -1);
        if (state < 0) return false;
        if (state > 0) return ConnectSucceeded(socket);
    }
}

bool ConnectWithTimeout(int socket, const SocketAddress& peer, int32_t timeoutMs) {
    if (!SetSocketNonBlocking(socket, true)) return false;
    int state = StartConnect(socket, peer);
    if (state == 0) {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (state == 0) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) {
                state = -1;
                break;
            }
            state = WaitWritable(socket, static_cast<int>(left));
        }
        if (state > 0 && !ConnectSucceeded(socket)) state = -1;
    }
    const bool blockingAgain = SetSocketNonBlocking(socket, false);
    return state > 0 && blockingAgain;
}

bool ConnectWatched(int socket, const SocketAddress& peer, int wakeFd, int32_t timeoutMs) {
    if (!SetSocketNonBlocking(socket, true)) return false;
    int state = StartConnect(socket, peer);
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (state == 0) {
        int waitMs = -1;
        if (timeoutMs >= 1) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) {
                state = -1;
                break;
            }
            waitMs = static_cast<int>(left);
        }
        pollfd watched[2] = {{socket, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
        const int ready = poll(watched, wakeFd >= 0 ? 2 : 1, waitMs);
        if (ready < 0) {
            if (errno == EINTR) continue;
            state = -1;
        } else if (wakeFd >= 0 && watched[1].revents != 0) {
            state = -1;  // asked to stop: the half-open socket is the caller's to close
        } else if (watched[0].revents != 0) {
            state = 1;  // connected or failed: SO_ERROR tells which
        }
    }
    if (state > 0 && !ConnectSucceeded(socket)) state = -1;
    const bool blockingAgain = SetSocketNonBlocking(socket, false);
    return state > 0 && blockingAgain;
}

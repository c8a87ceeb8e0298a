#include "tools/replay_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

#ifdef MSG_NOSIGNAL
// A client that has gone must not kill the server with SIGPIPE.
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
// Systems without MSG_NOSIGNAL (macOS) set SO_NOSIGPIPE on the socket instead.
constexpr int kSendFlags = 0;
#endif

constexpr int kListenBacklog = 8;
// After a failed accept (out of descriptors, say), wait this long so the loop does not spin.
constexpr int kAcceptRetryMs = 100;

bool SetNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL, 0);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

void SetCloseOnExec(int fd) {
    fcntl(fd, F_SETFD, FD_CLOEXEC);
}

// "127.0.0.1:10000" or "[::1]:10000"; "?" when the address cannot be written.
std::string DescribeAddress(const sockaddr* address, socklen_t length) {
    char host[NI_MAXHOST];
    char service[NI_MAXSERV];
    if (getnameinfo(address, length, host, sizeof host, service, sizeof service,
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return "?";
    }
    if (address->sa_family == AF_INET6) return std::string("[") + host + "]:" + service;
    return std::string(host) + ":" + service;
}

uint16_t PortOf(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
}

// A listening, non-blocking socket bound to one resolved address, or -1 with errno set.
int ListenOn(const addrinfo& candidate) {
    const int fd = socket(candidate.ai_family, candidate.ai_socktype, candidate.ai_protocol);
    if (fd < 0) return -1;
    SetCloseOnExec(fd);
    // Restarting the server right after a session must not fail on the old port's TIME_WAIT.
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, candidate.ai_addr, candidate.ai_addrlen) != 0 || listen(fd, kListenBacklog) != 0 ||
        !SetNonBlocking(fd)) {
        const int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

// Sockets inherit nothing of this from the listening socket on every system, so set it here.
void PrepareClient(int client) {
    SetCloseOnExec(client);
    SetNonBlocking(client);
    // Each sentence must leave as a segment of its own, not be held back to join the next.
    const int on = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
#ifdef SO_NOSIGPIPE
    setsockopt(client, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif
}

// Reads and drops whatever the client sent. True when the client has closed or the
// connection has failed.
bool ClientHasLeft(int client) {
    char discard[512];
    const ssize_t count = recv(client, discard, sizeof discard, 0);
    if (count > 0) return false;
    if (count == 0) return true;
    return errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
}

}  // namespace

ReplayServer::~ReplayServer() {
    for (const int fd : {listen_socket_, wake_read_end_, wake_write_end_.load()}) {
        if (fd >= 0) close(fd);
    }
}

bool ReplayServer::Listen(const std::string& address, uint16_t port, std::string* error) {
    const std::string where = address + ":" + std::to_string(port);
    if (listen_socket_ >= 0) {
        *error = "already listening on " + local_address_;
        return false;
    }
    if (wake_read_end_ < 0) {
        int wake[2];
        if (pipe(wake) != 0) {
            *error = std::string("cannot create the stop pipe: ") + std::strerror(errno);
            return false;
        }
        for (const int fd : wake) {
            SetCloseOnExec(fd);
            SetNonBlocking(fd);  // Stop must never block, not even on a full pipe
        }
        wake_read_end_ = wake[0];
        wake_write_end_.store(wake[1]);
    }

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int status = getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (status != 0) {
        *error = "cannot listen on " + where + ": " + gai_strerror(status);
        return false;
    }
    int last_errno = 0;
    for (const addrinfo* candidate = found; candidate != nullptr && listen_socket_ < 0;
         candidate = candidate->ai_next) {
        listen_socket_ = ListenOn(*candidate);
        if (listen_socket_ < 0) last_errno = errno;
    }
    freeaddrinfo(found);
    if (listen_socket_ < 0) {
        *error = "cannot listen on " + where + ": " + std::strerror(last_errno);
        return false;
    }

    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    getsockname(listen_socket_, reinterpret_cast<sockaddr*>(&bound), &length);
    local_address_ = DescribeAddress(reinterpret_cast<const sockaddr*>(&bound), length);
    local_port_ = PortOf(bound);
    return true;
}

void ReplayServer::Stop() {
    stop_requested_.store(true);
    const int fd = wake_write_end_.load();
    if (fd < 0) return;
    // Nothing ever reads the pipe: once it holds a byte every later wait sees the stop. A
    // failed write (EAGAIN on a full pipe) means it holds one already.
    const char byte = 1;
    const ssize_t written = write(fd, &byte, 1);
    (void)written;
}

ReplayServer::WaitResult ReplayServer::WaitFor(int socket, short events, int timeout_ms) const {
    pollfd watched[2] = {{wake_read_end_, POLLIN, 0}, {socket, events, 0}};
    for (;;) {
        if (stop_requested_.load()) return WaitResult::kStop;
        const int ready = poll(watched, 2, timeout_ms);
        if (ready < 0 && errno == EINTR) continue;  // a signal; its handler may have called Stop
        if (ready < 0 || watched[0].revents != 0) return WaitResult::kStop;
        return ready == 0 ? WaitResult::kTimedOut : WaitResult::kReady;
    }
}

bool ReplayServer::WaitUntilDue(int client, Clock::time_point due, SessionEnd* end) const {
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (now >= due) return true;
        // Round up, so the wait never ends a little early and then spins.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - now);
        const WaitResult result = WaitFor(client, POLLIN, static_cast<int>(left.count()));
        if (result == WaitResult::kStop) {
            *end = SessionEnd::kStopped;
            return false;
        }
        if (result == WaitResult::kReady && ClientHasLeft(client)) {
            *end = SessionEnd::kClientLeft;
            return false;
        }
    }
}

bool ReplayServer::SendSentence(int client, const std::string& sentence, SessionEnd* end) const {
    size_t offset = 0;
    while (offset < sentence.size()) {
        const ssize_t count =
            send(client, sentence.data() + offset, sentence.size() - offset, kSendFlags);
        if (count > 0) {
            offset += static_cast<size_t>(count);
            continue;
        }
        if (count < 0 && errno == EINTR) continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The client is not reading; wait for room rather than drop half a sentence.
            if (WaitFor(client, POLLOUT, -1) == WaitResult::kStop) {
                *end = SessionEnd::kStopped;
                return false;
            }
            continue;
        }
        *end = SessionEnd::kClientLeft;  // EPIPE, ECONNRESET and the like
        return false;
    }
    return true;
}

ReplayServer::SessionEnd ReplayServer::PlayTo(int client, const std::vector<std::string>& sentences,
                                              const ReplayPace& pace, uint64_t* sent) const {
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(1.0 / pace.rate_hz));
    Clock::time_point due = Clock::now();  // the first sentence goes out at once
    size_t index = 0;
    SessionEnd end = SessionEnd::kStopped;
    for (;;) {
        if (!WaitUntilDue(client, due, &end) || !SendSentence(client, sentences[index], &end))
            return end;
        ++*sent;
        if (++index == sentences.size()) {
            if (pace.once) return SessionEnd::kPlayedOnce;
            index = 0;
        }
        // Keep to the schedule, but after falling behind (a client that stopped reading) start
        // a new one: catching up would send a burst that the client reads as one chunk.
        due += period;
        const Clock::time_point now = Clock::now();
        if (due <= now) due = now + period;
    }
}

void ReplayServer::Serve(const std::vector<std::string>& sentences, const ReplayPace& pace,
                         const ClientReport& report) {
    if (listen_socket_ < 0 || sentences.empty() || !(pace.rate_hz > 0.0)) return;
    for (;;) {
        if (WaitFor(listen_socket_, POLLIN, -1) == WaitResult::kStop) return;
        sockaddr_storage peer{};
        socklen_t peer_length = sizeof peer;
        const int client = accept(listen_socket_, reinterpret_cast<sockaddr*>(&peer), &peer_length);
        if (client < 0) {
            // EAGAIN: the connection went away between poll and accept.
            const bool transient =
                errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED;
            if (!transient && WaitFor(-1, 0, kAcceptRetryMs) == WaitResult::kStop) return;
            continue;
        }
        PrepareClient(client);
        uint64_t sent = 0;
        const SessionEnd end = PlayTo(client, sentences, pace, &sent);
        close(client);
        if (report) {
            const char* reason = end == SessionEnd::kPlayedOnce   ? "file played once"
                                 : end == SessionEnd::kClientLeft ? "client disconnected"
                                                                  : "server stopping";
            report("client " +
                   DescribeAddress(reinterpret_cast<const sockaddr*>(&peer), peer_length) + ": " +
                   std::to_string(sent) + (sent == 1 ? " sentence" : " sentences") + " sent, " +
                   reason);
        }
        if (pace.once || end == SessionEnd::kStopped) return;
    }
}

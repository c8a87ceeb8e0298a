// Client connections: the table of live connections, creating and connecting sockets, and
// polling, waiting, sending, receiving and closing. Host and local address texts are turned
// into socket addresses by host_address.cpp.
//
// A connection number is a key into the table, never an address, so a wrong number finds
// nothing. Lookups hand out a shared reference: a connection closed by one thread while another
// is still inside a call on it stays valid (and its socket open) until that call returns, so a
// socket number can never be reused under a running call.
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>
#include <utility>
#include <vector>

#include "runtime/host_address.h"
#include "runtime/network.h"
#include "runtime/sigpipe.h"

namespace {

// --- The table of live connections.

constexpr int kConnectionTcp = 1;
constexpr int kConnectionUdp = 2;

struct Connection {
    Connection(int connectionKind, int connectionSocket)
        : kind(connectionKind), socket(connectionSocket) {}
    // The connection owns its socket and closes it with the last reference.
    ~Connection() {
        if (socket >= 0) close(socket);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    const int kind;    // kConnectionTcp or kConnectionUdp
    const int socket;  // descriptor, owned

    // UDP only: the peer the connection was opened for, and the datagram that the last poll
    // received, handed out by receives from readOffset on.
    sockaddr_storage peer{};
    socklen_t peerLength = 0;
    std::mutex datagramLock;
    std::vector<unsigned char> datagram;
    size_t readOffset = 0;
};

struct ConnectionTable {
    std::mutex lock;
    std::unordered_map<ConnectionNumber, std::shared_ptr<Connection>> connections;
    ConnectionNumber lastNumber = 0;
};

// Never destroyed: a detached worker may still close its connection while the process exits.
ConnectionTable& Table() {
    static ConnectionTable* table = new ConnectionTable;
    return *table;
}

// Enters a new connection (which must own an open socket) and returns its number, or 0 when
// the table cannot take it; the connection is then destroyed, closing its socket.
ConnectionNumber ConnectionTableAdd(std::unique_ptr<Connection> connection) {
    if (connection == nullptr) return 0;
    ConnectionTable& table = Table();
    try {
        std::shared_ptr<Connection> shared(std::move(connection));
        std::lock_guard<std::mutex> guard(table.lock);
        // Numbers only grow, so a closed connection's number never names a later one.
        const ConnectionNumber number = table.lastNumber + 1;
        table.connections.emplace(number, std::move(shared));
        table.lastNumber = number;
        return number;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

// The connection with that number, or null.
std::shared_ptr<Connection> ConnectionTableFind(ConnectionNumber number) {
    ConnectionTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    const auto found = table.connections.find(number);
    if (found == table.connections.end()) return nullptr;
    return found->second;
}

// Removes the number from the table and returns what it named, or null.
std::shared_ptr<Connection> ConnectionTableRemove(ConnectionNumber number) {
    ConnectionTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    const auto found = table.connections.find(number);
    if (found == table.connections.end()) return nullptr;
    std::shared_ptr<Connection> removed = std::move(found->second);
    table.connections.erase(found);
    return removed;
}
// --- Sockets and the three ways of connecting them. Every function leaves the socket open; the
// caller closes it on failure.

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
    if (connect(socket, peer.Get(), peer.length) == 0) return 1;
    return errno == EINPROGRESS || errno == EINTR ? 0 : -1;
}

// A new socket (type SOCK_STREAM or SOCK_DGRAM) that is close-on-exec, so that a process the
// program spawns inherits none, and that never raises SIGPIPE. -1 on failure.
int OpenClientSocket(int family, int type) {
#if NAVLUME_HAVE_SOCK_CLOEXEC
    const int socketNumber = socket(family, type | SOCK_CLOEXEC, 0);
    if (socketNumber < 0) return -1;
#else
    // Where children start with only the descriptors they are given (macOS) the moment between
    // the two calls does not matter; elsewhere a child started just then would inherit it.
    const int socketNumber = socket(family, type, 0);
    if (socketNumber < 0) return -1;
    if (fcntl(socketNumber, F_SETFD, FD_CLOEXEC) != 0) {
        close(socketNumber);
        return -1;
    }
#endif
#if NAVLUME_HAVE_SO_NOSIGPIPE
    // Where the system offers it per socket, a write to a closed peer gives EPIPE, not a signal.
    int on = 1;
    setsockopt(socketNumber, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof(on));
#endif
    return socketNumber;
}

// One send that never raises SIGPIPE: a peer that has gone gives EPIPE.
ssize_t SendSome(int socket, const char* bytes, size_t count) {
#if NAVLUME_HAVE_MSG_NOSIGNAL
    return send(socket, bytes, count, MSG_NOSIGNAL);
#elif NAVLUME_HAVE_SO_NOSIGPIPE
    return send(socket, bytes, count, 0);  // the socket was opened with SO_NOSIGPIPE
#else
    return SendWithoutSigpipe(socket, bytes, count, 0);
#endif
}

// Switches the socket between blocking and non-blocking mode.
bool SetSocketNonBlocking(int socket, bool nonBlocking) {
    int value = nonBlocking ? 1 : 0;
    return ioctl(socket, FIONBIO, &value) == 0;
}

// A blocking connect, bounded only by the system's own connect time-out.
bool ConnectBlocking(int socket, const SocketAddress& peer) {
    if (connect(socket, peer.Get(), peer.length) == 0) return true;
    if (errno != EINTR) return false;
    // A connect interrupted by a signal goes on in the background; wait for its end as the
    // uninterrupted call would have.
    for (;;) {
        const int state = WaitWritable(socket, -1);
        if (state < 0) return false;
        if (state > 0) return ConnectSucceeded(socket);
    }
}

// A connect given up after timeoutMs (at least 1) milliseconds. Succeeds only when the socket
// became writable in time and reports no pending error. The socket ends up blocking again.
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

// A connect that ends early, failing, when wakeFd (or -1) becomes readable, and fails after
// timeoutMs (below 1: no limit of its own; the system ends a hopeless attempt). The socket ends
// up blocking again.
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

// --- Opening.

// How the TCP connect waits: plain blocking, with a time-out, or watching a wake-up descriptor.
struct ConnectPlan {
    int32_t timeoutMs = 0;
    bool watched = false;
    int wakeFd = -1;
};

// Dead peers are noticed even on a line that is quiet in both directions: the first probe
// after 10 s of silence, then every 5 s, three unanswered ones end the connection.
void EnableKeepAlive(int socket) {
    int on = 1;
    setsockopt(socket, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof(on));
#if NAVLUME_HAVE_TCP_KEEPIDLE || NAVLUME_HAVE_TCP_KEEPALIVE
    int idle = 10;
    int interval = 5;
    int count = 3;
#if NAVLUME_HAVE_TCP_KEEPIDLE
    setsockopt(socket, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof(idle));
#else
    setsockopt(socket, IPPROTO_TCP, TCP_KEEPALIVE, &idle, sizeof(idle));  // macOS's name
#endif
    setsockopt(socket, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof(interval));
    setsockopt(socket, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof(count));
#else
#endif
    // Elsewhere the system's own timing applies (the first probe after two hours).
}

// Closes the socket on every early return until a connection takes it over.
class SocketGuard {
  public:
    explicit SocketGuard(int socket) : socket_(socket) {}
    ~SocketGuard() {
        if (socket_ >= 0) close(socket_);
    }
    SocketGuard(const SocketGuard&) = delete;
    SocketGuard& operator=(const SocketGuard&) = delete;

    int Get() const { return socket_; }
    int Release() {
        const int socket = socket_;
        socket_ = -1;
        return socket;
    }

  private:
    int socket_;
};

bool Connect(int socket, const SocketAddress& peer, const ConnectPlan& plan) {
    if (plan.watched) return ConnectWatched(socket, peer, plan.wakeFd, plan.timeoutMs);
    if (plan.timeoutMs < 1) return ConnectBlocking(socket, peer);
    return ConnectWithTimeout(socket, peer, plan.timeoutMs);
}

ConnectionNumber Open(const char* host, int32_t port, uint32_t mode, const ConnectPlan& plan,
                      const char* localAddress, int32_t localPort) {
    if (host == nullptr) return 0;
    int family = AF_INET;
    if ((mode & NetworkModeIPv6) != 0) {
        family = AF_INET6;
        mode &= ~NetworkModeIPv6;
    }
    const uint32_t type = mode == 0 ? NetworkModeTcp : mode;
    // Only the two client kinds exist; other values would ask the system for other socket
    // types (raw, sequenced packets) that this layer cannot drive.
    if (type != NetworkModeTcp && type != NetworkModeUdp) return 0;

    SocketGuard socket(OpenClientSocket(family, type == NetworkModeTcp ? SOCK_STREAM : SOCK_DGRAM));
    if (socket.Get() < 0) return 0;

    SocketAddress peer;
    if (!ResolveHostAddress(host, family, port, &peer)) return 0;

    if (type == NetworkModeUdp) {
        if (!SetSocketNonBlocking(socket.Get(), true)) return 0;
        std::unique_ptr<Connection> connection(new (std::nothrow)
                                                   Connection(kConnectionUdp, socket.Get()));
        if (connection == nullptr) return 0;
        socket.Release();
        connection->peer = peer.storage;
        connection->peerLength = peer.length;
        return ConnectionTableAdd(std::move(connection));
    }

    if (localPort != 0 || (localAddress != nullptr && localAddress[0] != '\0')) {
        SocketAddress local;
        if (!ParseLocalAddress(localAddress, family, localPort, &local)) return 0;
        if (bind(socket.Get(), local.Get(), local.length) != 0) return 0;
    }
    if (!Connect(socket.Get(), peer, plan)) return 0;
    EnableKeepAlive(socket.Get());

    std::unique_ptr<Connection> connection(new (std::nothrow)
                                               Connection(kConnectionTcp, socket.Get()));
    if (connection == nullptr) return 0;
    socket.Release();
    return ConnectionTableAdd(std::move(connection));
}

// --- Polling, receiving and closing.

// The largest datagram one poll takes in; longer ones are cut.
constexpr size_t kDatagramSize = 2048;

// A readable stream socket: bytes are waiting, or the peer closed (or the socket failed) and
// a receive would return at once with nothing.
int64_t ReadableStreamEvent(const Connection& connection) {
    int waiting = 0;
    if (ioctl(connection.socket, FIONREAD, &waiting) != 0 || waiting <= 0) {
        return NetworkEventDisconnect;
    }
    return NetworkEventData;
}

int64_t PollStream(const Connection& connection) {
    pollfd entry{};
    entry.fd = connection.socket;
    entry.events = POLLIN;
    if (poll(&entry, 1, 0) < 0) return NetworkEventDisconnect;
    if (entry.revents == 0) return NetworkEventNone;
    return ReadableStreamEvent(connection);
}

// Takes in one waiting datagram; it replaces whatever the previous one left unreceived.
int64_t PollDatagram(Connection& connection) {
    unsigned char received[kDatagramSize];
    const ssize_t count =
        recvfrom(connection.socket, received, sizeof(received), 0, nullptr, nullptr);
    if (count < 1) return NetworkEventNone;
    std::lock_guard<std::mutex> guard(connection.datagramLock);
    try {
        connection.datagram.assign(received, received + count);
    } catch (const std::bad_alloc&) {
        connection.datagram.clear();
        connection.readOffset = 0;
        return NetworkEventNone;
    }
    connection.readOffset = 0;
    return NetworkEventData;
}

int64_t ReceiveDatagram(Connection& connection, void* buffer, int32_t length) {
    std::lock_guard<std::mutex> guard(connection.datagramLock);
    const size_t remaining = connection.datagram.size() - connection.readOffset;
    if (remaining == 0) return 0;
    const size_t count = std::min(remaining, static_cast<size_t>(length));
    std::memcpy(buffer, connection.datagram.data() + connection.readOffset, count);
    connection.readOffset += count;
    if (connection.readOffset == connection.datagram.size()) {
        // Handed out completely: give the block back.
        std::vector<unsigned char>().swap(connection.datagram);
        connection.readOffset = 0;
    }
    return static_cast<int64_t>(count);
}

}  // namespace

ConnectionNumber ConnectionOpen(const char* host, int32_t port, uint32_t mode, int32_t timeoutMs,
                                const char* localAddress, int32_t localPort) {
    ConnectPlan plan;
    plan.timeoutMs = timeoutMs;
    return Open(host, port, mode, plan, localAddress, localPort);
}

ConnectionNumber ConnectionOpenWatched(const char* host, int32_t port, int wakeFd,
                                       int32_t timeoutMs) {
    ConnectPlan plan;
    plan.watched = true;
    plan.wakeFd = wakeFd;
    plan.timeoutMs = timeoutMs;
    return Open(host, port, NetworkModeTcp, plan, nullptr, 0);
}

int64_t ConnectionPoll(ConnectionNumber number) {
    const std::shared_ptr<Connection> connection = ConnectionTableFind(number);
    if (connection == nullptr) return NetworkEventDisconnect;
    if (connection->kind == kConnectionUdp) return PollDatagram(*connection);
    return PollStream(*connection);
}

int64_t ConnectionWait(ConnectionNumber number, int wakeFd, int32_t timeoutMs) {
    const std::shared_ptr<Connection> connection = ConnectionTableFind(number);
    if (connection == nullptr || connection->kind != kConnectionTcp) return NetworkEventDisconnect;
    pollfd watched[2] = {{connection->socket, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    const nfds_t count = wakeFd >= 0 ? 2 : 1;
    int ready;
    do {
        ready = poll(watched, count, timeoutMs < 0 ? -1 : timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) return NetworkEventDisconnect;
    if (count == 2 && watched[1].revents != 0) return NetworkEventWake;
    if (watched[0].revents == 0) return NetworkEventNone;  // poll clears it on a time-out
    // The wait has just said the socket is readable: no second look is needed.
    return ReadableStreamEvent(*connection);
}

int64_t ConnectionSend(ConnectionNumber number, const void* bytes, int32_t length) {
    const std::shared_ptr<Connection> connection = ConnectionTableFind(number);
    if (connection == nullptr || connection->kind != kConnectionTcp) return -1;
    if (length < 1) return 0;
    if (bytes == nullptr) return -1;
    const auto* next = static_cast<const char*>(bytes);
    size_t left = static_cast<size_t>(length);
    while (left > 0) {
        const ssize_t sent = SendSome(connection->socket, next, left);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return -1;
        next += sent;
        left -= static_cast<size_t>(sent);
    }
    return length;
}

int64_t ConnectionReceive(ConnectionNumber number, void* buffer, int32_t length) {
    const std::shared_ptr<Connection> connection = ConnectionTableFind(number);
    if (connection == nullptr) return -1;
    if (length < 1) return 0;
    if (buffer == nullptr) return -1;
    if (connection->kind == kConnectionUdp) return ReceiveDatagram(*connection, buffer, length);
    for (;;) {
        const ssize_t count = recv(connection->socket, buffer, static_cast<size_t>(length), 0);
        // A signal that arrives before any byte does is not a socket error.
        if (count < 0 && errno == EINTR) continue;
        return static_cast<int64_t>(count);
    }
}

void ConnectionClose(ConnectionNumber number) {
    const std::shared_ptr<Connection> connection = ConnectionTableRemove(number);
    if (connection == nullptr) return;
    // Another thread still inside a call on this connection keeps the socket open until it
    // returns; shutting the socket down wakes a receive that would otherwise block for ever.
    if (connection.use_count() > 1) shutdown(connection->socket, SHUT_RDWR);
    // The last reference closes the socket.
}

// ConnectionOpen and its cancellable form: create the socket, resolve the host, bind and
// connect (TCP) or record the peer (UDP), then enter the connection into the table.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <new>

#include "runtime/connection_table.h"
#include "runtime/host_address.h"
#include "runtime/network.h"
#include "runtime/socket_connect.h"

namespace {

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
#if defined(TCP_KEEPIDLE) && defined(TCP_KEEPINTVL) && defined(TCP_KEEPCNT)
    int idle = 10;
    int interval = 5;
    int count = 3;
    setsockopt(socket, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof(idle));
    setsockopt(socket, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof(interval));
    setsockopt(socket, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof(count));
#endif
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

    int get() const { return socket_; }
    int release() {
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
    if (socket.get() < 0) return 0;

    SocketAddress peer;
    if (!ResolveHostAddress(host, family, port, &peer)) return 0;

    if (type == NetworkModeUdp) {
        if (!SetSocketNonBlocking(socket.get(), true)) return 0;
        std::unique_ptr<Connection> connection(new (std::nothrow)
                                                   Connection(kConnectionUdp, socket.get()));
        if (connection == nullptr) return 0;
        socket.release();
        connection->peer = peer.storage;
        connection->peerLength = peer.length;
        return ConnectionTableAdd(std::move(connection));
    }

    if (localPort != 0 || (localAddress != nullptr && localAddress[0] != '\0')) {
        SocketAddress local;
        if (!ParseLocalAddress(localAddress, family, localPort, &local)) return 0;
        if (bind(socket.get(), local.get(), local.length) != 0) return 0;
    }
    if (!Connect(socket.get(), peer, plan)) return 0;
    EnableKeepAlive(socket.get());

    std::unique_ptr<Connection> connection(new (std::nothrow)
                                               Connection(kConnectionTcp, socket.get()));
    if (connection == nullptr) return 0;
    socket.release();
    return ConnectionTableAdd(std::move(connection));
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

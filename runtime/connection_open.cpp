// ConnectionOpen and its cancellable form: create the socket, resolve the host, bind and
// connect (TCP) or record the peer (UDP), then enter the connection into the table.
#include <netinet/in.h>
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

// How the TCP connect waits: plain blocking, with a time-out, or until asked to stop.
struct ConnectPlan {
    int32_t timeoutMs = 0;
    bool cancellable = false;
    StopRequestedCallback stopRequested = nullptr;
    void* context = nullptr;
};

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
    if (plan.cancellable) {
        return ConnectCancellable(socket, peer, plan.stopRequested, plan.context);
    }
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

ConnectionNumber ConnectionOpenCancellable(const char* host, int32_t port, uint32_t mode,
                                           StopRequestedCallback stopRequested, void* context) {
    ConnectPlan plan;
    plan.cancellable = true;
    plan.stopRequested = stopRequested;
    plan.context = context;
    return Open(host, port, mode, plan, nullptr, 0);
}

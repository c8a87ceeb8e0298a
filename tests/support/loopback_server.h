// Loopback servers on 127.0.0.1 only, on a port or one of the system's (0); one never answers.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/sigpipe.h"

inline sockaddr_in LoopbackAddress(int32_t port) {
    return {.sin_family = AF_INET,
            .sin_port = htons(static_cast<uint16_t>(port)),
            .sin_addr = {htonl(INADDR_LOOPBACK)},
            .sin_zero = {}};
}

// A close-on-exec IPv4 stream socket, non-blocking when asked; -1 on failure.
inline int TestSocket(bool nonBlocking) {
#if NAVLUME_HAVE_SOCK_CLOEXEC
    return socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
#else
    const int made = socket(AF_INET, SOCK_STREAM, 0);
    if (made >= 0) fcntl(made, F_SETFD, FD_CLOEXEC);
    if (made >= 0 && nonBlocking) fcntl(made, F_SETFL, fcntl(made, F_GETFL) | O_NONBLOCK);
    return made;
#endif
}

class LoopbackServer {
  public:
    explicit LoopbackServer(int32_t port = 0, int backlog = 8) : socket_(TestSocket(false)) {
        // A server that comes back takes its old port although closed connections linger.
        const int reuse = 1;
        setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse));
        sockaddr_in address = LoopbackAddress(port);
        socklen_t length = sizeof(address);
        auto* raw = reinterpret_cast<sockaddr*>(&address);
        if (bind(socket_, raw, length) == 0 && listen(socket_, backlog) == 0 &&
            getsockname(socket_, raw, &length) == 0)
            port_ = ntohs(address.sin_port);
    }
    ~LoopbackServer() {
        for (int client : clients_)
            close(client);
        if (socket_ >= 0) close(socket_);
    }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    bool Ok() const { return port_ != 0; }
    int32_t port() const { return port_; }

    // The next client that connected, waiting at most waitMs; -1 if none came.
    int Accept(int waitMs = 2000) {
        pollfd entry{socket_, POLLIN, 0};
        if (poll(&entry, 1, waitMs) != 1) return -1;
#if NAVLUME_HAVE_ACCEPT4
        const int client = accept4(socket_, nullptr, nullptr, SOCK_CLOEXEC);
#else
        const int client = accept(socket_, nullptr, nullptr);
        if (client >= 0) fcntl(client, F_SETFD, FD_CLOEXEC);
#endif
        if (client >= 0) clients_.push_back(client);
        return client;
    }

    void CloseClient(int client) {
        if (std::erase(clients_, client) > 0) close(client);
    }

  private:
    int socket_;
    int32_t port_ = 0;
    std::vector<int> clients_;
};

// A listener whose accept queue is full: a connect to it hangs, and nothing leaves the machine.
class SilentServer {
  public:
    SilentServer() : server_(0, 0) {
        const sockaddr_in address = LoopbackAddress(server_.port());
        for (int filler = 0; server_.Ok() && filler < 16 && !silent_; ++filler) {
            fillers_.push_back(TestSocket(true));
            connect(fillers_.back(), reinterpret_cast<const sockaddr*>(&address), sizeof(address));
            pollfd entry{fillers_.back(), POLLOUT, 0};
            silent_ = entry.fd >= 0 && poll(&entry, 1, 200) == 0;  // pending: the queue is full
        }
    }
    ~SilentServer() {
        for (int filler : fillers_)
            close(filler);
    }

    bool Silent() const { return silent_; }
    int32_t port() const { return server_.port(); }

  private:
    LoopbackServer server_;
    std::vector<int> fillers_;
    bool silent_ = false;
};

inline bool SendAll(int socket, const std::string& bytes) {
    return SendWithoutSigpipe(socket, bytes.data(), bytes.size(), 0) ==
           static_cast<ssize_t>(bytes.size());
}

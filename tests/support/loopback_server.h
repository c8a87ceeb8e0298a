// Loopback servers for tests that connect: an ordinary listener, and one that never answers.
// Both listen on 127.0.0.1 (or ::1) only, on a port of the system's choice.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

// A listening socket on a loopback address, on the given port or one of the system's choice (0).
class LoopbackServer {
  public:
    explicit LoopbackServer(int family = AF_INET, int backlog = 8, int32_t port = 0) {
        socket_ = socket(family, SOCK_STREAM, 0);
        if (socket_ < 0) return;
        // A server that comes back takes its old port although closed connections linger.
        const int reuse = 1;
        setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse));
        sockaddr_storage address{};
        socklen_t length = 0;
        if (family == AF_INET6) {
            auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
            in6->sin6_family = AF_INET6;
            in6->sin6_addr = in6addr_loopback;
            in6->sin6_port = htons(static_cast<uint16_t>(port));
            length = sizeof(*in6);
        } else {
            auto* in4 = reinterpret_cast<sockaddr_in*>(&address);
            in4->sin_family = AF_INET;
            in4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            in4->sin_port = htons(static_cast<uint16_t>(port));
            length = sizeof(*in4);
        }
        if (bind(socket_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            listen(socket_, backlog) != 0 ||
            getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            close(socket_);
            socket_ = -1;
            return;
        }
        port_ = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                                         : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    }
    ~LoopbackServer() {
        for (int client : clients_)
            close(client);
        if (socket_ >= 0) close(socket_);
    }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    bool ok() const { return socket_ >= 0; }
    int32_t port() const { return port_; }

    // The next client that connected, waiting at most waitMs; -1 if none came.
    int Accept(int waitMs = 2000) {
        pollfd entry{socket_, POLLIN, 0};
        if (poll(&entry, 1, waitMs) != 1) return -1;
        const int client = accept(socket_, nullptr, nullptr);
        if (client >= 0) clients_.push_back(client);
        return client;
    }

    void CloseClient(int client) {
        for (auto it = clients_.begin(); it != clients_.end(); ++it) {
            if (*it == client) {
                clients_.erase(it);
                close(client);
                return;
            }
        }
    }

  private:
    int socket_ = -1;
    int32_t port_ = 0;
    std::vector<int> clients_;
};

// A listener whose accept queue is full: further connects to it are left unanswered, so a
// connect hangs without any traffic leaving the machine.
class SilentServer {
  public:
    SilentServer() : server_(AF_INET, 0) {
        if (!server_.ok()) return;
        for (int filler = 0; filler < 16 && !silent_; ++filler) {
            const int socketNumber = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            if (socketNumber < 0) return;
            fillers_.push_back(socketNumber);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(static_cast<uint16_t>(server_.port()));
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            connect(socketNumber, reinterpret_cast<sockaddr*>(&address), sizeof(address));
            pollfd entry{socketNumber, POLLOUT, 0};
            silent_ = poll(&entry, 1, 200) == 0;  // still pending: the queue is full
        }
    }
    ~SilentServer() {
        for (int filler : fillers_)
            close(filler);
    }
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;

    bool silent() const { return silent_; }
    int32_t port() const { return server_.port(); }

  private:
    LoopbackServer server_;
    std::vector<int> fillers_;
    bool silent_ = false;
};

// Sends all bytes or reports false; never raises SIGPIPE.
inline bool SendAll(int socket, const std::string& bytes) {
    return send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
}

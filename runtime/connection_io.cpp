// Polling, receiving and closing client connections.
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "runtime/connection_table.h"
#include "runtime/network.h"

namespace {

// The largest datagram one poll takes in; longer ones are cut.
constexpr size_t kDatagramSize = 2048;

int64_t PollStream(const Connection& connection) {
    pollfd entry{};
    entry.fd = connection.socket;
    entry.events = POLLIN;
    if (poll(&entry, 1, 0) < 0) return NetworkEventDisconnect;
    if (entry.revents == 0) return NetworkEventNone;
    // Readable: bytes are waiting, or the peer closed (or the socket failed) and a receive
    // would return at once with nothing.
    int waiting = 0;
    if (ioctl(connection.socket, FIONREAD, &waiting) != 0 || waiting <= 0) {
        return NetworkEventDisconnect;
    }
    return NetworkEventData;
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
    if (ready == 0) return NetworkEventNone;
    return PollStream(*connection);
}

int64_t ConnectionSend(ConnectionNumber number, const void* bytes, int32_t length) {
    const std::shared_ptr<Connection> connection = ConnectionTableFind(number);
    if (connection == nullptr || connection->kind != kConnectionTcp) return -1;
    if (length < 1) return 0;
    if (bytes == nullptr) return -1;
    int flags = 0;
#ifdef MSG_NOSIGNAL
    flags = MSG_NOSIGNAL;  // a peer that has gone gives EPIPE, not a signal
#endif
    const auto* next = static_cast<const char*>(bytes);
    size_t left = static_cast<size_t>(length);
    while (left > 0) {
        const ssize_t sent = send(connection->socket, next, left, flags);
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

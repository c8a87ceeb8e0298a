// The table of live client connections (internal to the network client).
//
// A connection number is a key into this table, never an address, so a wrong number finds
// nothing. Lookups hand out a shared reference: a connection closed by one thread while another
// is still inside a call on it stays valid (and its socket open) until that call returns, so a
// socket number can never be reused under a running call.
#pragma once

#include <sys/socket.h>

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "runtime/network.h"

constexpr int kConnectionTcp = 1;
constexpr int kConnectionUdp = 2;

struct Connection {
    Connection(int connectionKind, int connectionSocket)
        : kind(connectionKind), socket(connectionSocket) {}
    // The connection owns its socket and closes it with the last reference.
    ~Connection();
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

// Enters a new connection (which must own an open socket) and returns its number, or 0 when
// the table cannot take it; the connection is then destroyed, closing its socket.
ConnectionNumber ConnectionTableAdd(std::unique_ptr<Connection> connection);
// The connection with that number, or null.
std::shared_ptr<Connection> ConnectionTableFind(ConnectionNumber number);
// Removes the number from the table and returns what it named, or null.
std::shared_ptr<Connection> ConnectionTableRemove(ConnectionNumber number);

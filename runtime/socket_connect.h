// Creating client sockets and the three ways of connecting them (internal to the network
// client). Every function leaves the socket open; the caller closes it on failure.
#pragma once

#include <cstdint>

#include "runtime/host_address.h"
#include "runtime/network.h"

// A new socket (type SOCK_STREAM or SOCK_DGRAM) that is close-on-exec, so that a process the
// program spawns inherits none, and that never raises SIGPIPE. -1 on failure.
int OpenClientSocket(int family, int type);

// Switches the socket between blocking and non-blocking mode.
bool SetSocketNonBlocking(int socket, bool nonBlocking);

// A blocking connect, bounded only by the system's own connect time-out.
bool ConnectBlocking(int socket, const SocketAddress& peer);

// A connect given up after timeoutMs (at least 1) milliseconds. Succeeds only when the socket
// became writable in time and reports no pending error. The socket ends up blocking again.
bool ConnectWithTimeout(int socket, const SocketAddress& peer, int32_t timeoutMs);

// A connect that ends early, failing, when wakeFd (or -1) becomes readable, and fails after
// timeoutMs (below 1: no limit of its own; the system ends a hopeless attempt). The socket ends
// up blocking again.
bool ConnectWatched(int socket, const SocketAddress& peer, int wakeFd, int32_t timeoutMs);

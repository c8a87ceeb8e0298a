// The network client: TCP (and UDP) client connections to a host given as text and a port.
//
// A connection is named by a non-zero number that ConnectionOpen returns; 0 means failure or no
// connection. Numbers are looked up in a table of live connections, so a number that is unknown,
// already closed or simply wrong is answered like a broken connection instead of being followed
// as a pointer. Numbers are never reused within a process.
//
// Ownership and threads: the caller owns a connection from ConnectionOpen until ConnectionClose,
// and one thread at a time uses it (in the tracker, the worker that opened it). Opening, polling,
// receiving and closing may happen on any thread; the table has its own short-held lock, and no
// socket operation runs while that lock is held.
//
// Sockets are close-on-exec, so a process that the program spawns inherits none of them, and
// never raise SIGPIPE. TCP connections probe an idle peer (keepalive), so a dead one is noticed.
#pragma once

#include <cstdint>

// Number of an open connection; 0 means none.
using ConnectionNumber = int64_t;

// Results of ConnectionPoll.
constexpr int64_t NetworkEventNone = 0;        // nothing to read now
constexpr int64_t NetworkEventData = 2;        // bytes are waiting to be received
constexpr int64_t NetworkEventDisconnect = 4;  // the peer closed, or the socket failed

// Open modes: the low bits are the socket type (0 counts as TCP); the IPv6 bit may be added.
constexpr uint32_t NetworkModeTcp = 1;
constexpr uint32_t NetworkModeUdp = 2;
constexpr uint32_t NetworkModeIPv6 = 0x10000000;

// Result of ConnectionWait: the wake-up descriptor became readable.
constexpr int64_t NetworkEventWake = 8;

// Prepares the client layer and allows IPv6; later calls change nothing. Always 1.
int64_t NetworkInit();
// Ends the layer at program exit. The program runs no server, so there is no listening socket
// to close; the layer's flags are reset, and a later NetworkInit starts afresh. Client
// connections stay with their owners, who close them.
void NetworkObjectsEnd();

// Opens a connection to host (a dotted address or a name) and port, or returns 0.
//   mode:         NetworkModeTcp or NetworkModeUdp, optionally | NetworkModeIPv6.
//   timeoutMs:    below 1, a plain blocking connect bounded only by the system's own time-out;
//                 from 1 on, the connect is given up after that many milliseconds.
//   localAddress, localPort: when a non-empty address or a port is given, the TCP socket is
//                 bound to them before it connects.
// A UDP "connection" makes no connect: it only records the peer.
// Every failure closes the socket it made.
ConnectionNumber ConnectionOpen(const char* host, int32_t port, uint32_t mode = NetworkModeTcp,
                                int32_t timeoutMs = 0, const char* localAddress = nullptr,
                                int32_t localPort = 0);

// A TCP connection like ConnectionOpen's, whose connect gives up (returning 0, the half-open
// socket closed) as soon as wakeFd (or -1) becomes readable, or after timeoutMs (below 1: no
// limit of its own). Name resolution itself is not interrupted; numeric addresses need none.
ConnectionNumber ConnectionOpenWatched(const char* host, int32_t port, int wakeFd,
                                       int32_t timeoutMs);

// What is waiting on the connection, without ever blocking: NetworkEventNone, NetworkEventData
// or NetworkEventDisconnect. An unknown number gives NetworkEventDisconnect.
int64_t ConnectionPoll(ConnectionNumber connection);

// Sleeps in the kernel until the connection has something to report, wakeFd (or -1) becomes
// readable, or timeoutMs passes (below 0: no limit). Returns NetworkEventData,
// NetworkEventDisconnect, NetworkEventWake (checked first) or NetworkEventNone after the time.
// TCP connections only; an unknown number gives NetworkEventDisconnect.
int64_t ConnectionWait(ConnectionNumber connection, int wakeFd, int32_t timeoutMs);

// Sends all length bytes (TCP). Returns the count sent, or -1 on failure; never raises SIGPIPE.
int64_t ConnectionSend(ConnectionNumber connection, const void* bytes, int32_t length);

// Receives at most length bytes into buffer. Returns the count; 0 when the peer has closed (or
// length is below 1); -1 on a socket error, an unknown number or a null buffer. On TCP it
// blocks only when nothing is waiting, so poll first.
int64_t ConnectionReceive(ConnectionNumber connection, void* buffer, int32_t length);

// Closes the connection and forgets its number. Unknown numbers are ignored.
void ConnectionClose(ConnectionNumber connection);

// a + b*2^8 + c*2^16 + d*2^24 computed in 32 bits with wrap-around (parts are not masked, so a
// part above 255 carries into the next byte), returned as the signed 32-bit value widened to
// 64 bits: 127.0.0.1 gives 16777343, 255.255.255.255 gives -1.
int64_t MakeIPv4Address(int32_t a, int32_t b, int32_t c, int32_t d);

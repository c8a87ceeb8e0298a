// Turning host and local address texts into socket addresses (internal to the network client,
// used by connection.cpp).
//
// Resolution is thread-safe (getaddrinfo, never gethostbyname), because the tracker resolves on
// its worker thread.
#pragma once

#include <sys/socket.h>

#include <cstdint>

struct SocketAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;

    const sockaddr* Get() const { return reinterpret_cast<const sockaddr*>(&storage); }
};

// Resolves host for family (AF_INET or AF_INET6) and stores it with port into address.
//   AF_INET:  a numeric address is taken as it is; any other text is looked up by name
//             (IPv4 results only). 255.255.255.255, numeric or looked up, fails.
//   AF_INET6: only after NetworkInit; a numeric address is taken as it is, any other text is
//             looked up by name (IPv6 results only).
// Names under the reserved top-level domain "invalid" fail without a look-up.
// Returns false on any failure.
bool ResolveHostAddress(const char* host, int family, int32_t port, SocketAddress* address);

// Whether host is "invalid" or a name under it ("a.invalid", "A.INVALID."), in any case.
bool IsReservedInvalidName(const char* host);

// The local end to bind to: an empty or null text means any address of the family; otherwise a
// numeric address of that family. Returns false when the text is not one.
bool ParseLocalAddress(const char* text, int family, int32_t port, SocketAddress* address);

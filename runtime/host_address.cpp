// Address texts of the network client: the layer's IPv6 permission (NetworkInit), the packed
// IPv4 value of MakeIPv4Address, and resolving host and local address texts.
#include "runtime/host_address.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <strings.h>

#include <atomic>
#include <cstring>

#include "runtime/network.h"

namespace {

// Atomic because the worker calls NetworkInit from its own thread while the main thread ends
// the layer at shutdown.
std::atomic<bool> initialised{false};
std::atomic<bool> ipv6Allowed{false};

// 255.255.255.255 is what the classic dotted-address parser returns for "not an address", so
// it never names a host.
constexpr in_addr_t kNoAddress = 0xFFFFFFFFu;

uint16_t NetworkPort(int32_t port) {
    // Ports are 16-bit; larger values keep their low bits, as the socket field would.
    return htons(static_cast<uint16_t>(static_cast<uint32_t>(port)));
}

// First address of the family that the system's resolver gives for name, copied into address.
bool LookUpName(const char* name, int family, SocketAddress* address) {
    if (name[0] == '\0' || IsReservedInvalidName(name)) return false;
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;  // one entry per address instead of one per socket type
    addrinfo* results = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &results) != 0 || results == nullptr) return false;
    bool found = false;
    for (const addrinfo* entry = results; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family != family || entry->ai_addrlen > sizeof(address->storage)) continue;
        std::memcpy(&address->storage, entry->ai_addr, entry->ai_addrlen);
        address->length = entry->ai_addrlen;
        found = true;
        break;
    }
    freeaddrinfo(results);
    return found;
}

bool ResolveIPv4(const char* host, int32_t port, SocketAddress* address) {
    in_addr numeric{};
    // inet_aton accepts exactly the forms of the classic dotted-address parser.
    if (inet_aton(host, &numeric) == 0) {
        if (!LookUpName(host, AF_INET, address)) return false;
        numeric = reinterpret_cast<const sockaddr_in*>(&address->storage)->sin_addr;
    }
    if (numeric.s_addr == kNoAddress) return false;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = NetworkPort(port);
    peer.sin_addr = numeric;
    address->storage = {};
    std::memcpy(&address->storage, &peer, sizeof(peer));
    address->length = sizeof(peer);
    return true;
}

bool ResolveIPv6(const char* host, int32_t port, SocketAddress* address) {
    if (!ipv6Allowed.load()) return false;
    sockaddr_in6 peer{};
    if (inet_pton(AF_INET6, host, &peer.sin6_addr) != 1) {
        if (!LookUpName(host, AF_INET6, address)) return false;
        // Keeps the scope of a link-local result along with its 16 address bytes.
        std::memcpy(&peer, &address->storage, sizeof(peer));
    }
    peer.sin6_family = AF_INET6;
    peer.sin6_port = NetworkPort(port);
    address->storage = {};
    std::memcpy(&address->storage, &peer, sizeof(peer));
    address->length = sizeof(peer);
    return true;
}

}  // namespace

// RFC 6761: names under "invalid" never resolve, and resolvers should say so without asking.
bool IsReservedInvalidName(const char* host) {
    size_t length = std::strlen(host);
    if (length > 0 && host[length - 1] == '.') --length;  // a fully qualified form
    constexpr char kLabel[] = "invalid";
    constexpr size_t kLabelLength = sizeof(kLabel) - 1;
    if (length < kLabelLength) return false;
    const char* tail = host + length - kLabelLength;
    if (strncasecmp(tail, kLabel, kLabelLength) != 0) return false;
    return length == kLabelLength || tail[-1] == '.';
}

int64_t NetworkInit() {
    if (!initialised.exchange(true)) ipv6Allowed.store(true);
    return 1;
}

void NetworkObjectsEnd() {
    // Only client connections exist in this program, and they belong to whoever opened them:
    // closing one here could pull the socket from under a worker that is still reading it.
    ipv6Allowed.store(false);
    initialised.store(false);
}

int64_t MakeIPv4Address(int32_t a, int32_t b, int32_t c, int32_t d) {
    // Unsigned arithmetic wraps by definition; the parts are deliberately not masked.
    const uint32_t sum = static_cast<uint32_t>(a) + (static_cast<uint32_t>(b) << 8) +
                         (static_cast<uint32_t>(c) << 16) + (static_cast<uint32_t>(d) << 24);
    return static_cast<int32_t>(sum);
}

bool ResolveHostAddress(const char* host, int family, int32_t port, SocketAddress* address) {
    if (host == nullptr || address == nullptr) return false;
    if (family == AF_INET6) return ResolveIPv6(host, port, address);
    if (family == AF_INET) return ResolveIPv4(host, port, address);
    return false;
}

bool ParseLocalAddress(const char* text, int family, int32_t port, SocketAddress* address) {
    if (address == nullptr) return false;
    const bool any = text == nullptr || text[0] == '\0';
    address->storage = {};
    if (family == AF_INET6) {
        sockaddr_in6 local{};
        local.sin6_family = AF_INET6;
        local.sin6_port = NetworkPort(port);
        local.sin6_addr = in6addr_any;
        if (!any && inet_pton(AF_INET6, text, &local.sin6_addr) != 1) return false;
        std::memcpy(&address->storage, &local, sizeof(local));
        address->length = sizeof(local);
        return true;
    }
    if (family != AF_INET) return false;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = NetworkPort(port);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!any && (inet_aton(text, &local.sin_addr) == 0 || local.sin_addr.s_addr == kNoAddress)) {
        return false;
    }
    std::memcpy(&address->storage, &local, sizeof(local));
    address->length = sizeof(local);
    return true;
}

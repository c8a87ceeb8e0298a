// The least a client of gpsd's NMEA stream can do, for scale beside Navlume and gegps: connect,
// ask for the receiver's NMEA, then block in recv() and count line ends until the connection
// ends. usage: gpsd_minimal_reader PORT
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PORT\n", argv[0]);
        return 2;
    }
    const int descriptor = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[1])));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (descriptor < 0 ||
        connect(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("connect");
        return 1;
    }
    const char watch[] = "?WATCH={\"enable\":true,\"nmea\":true}\n";
    if (send(descriptor, watch, sizeof watch - 1, MSG_NOSIGNAL) < 0) return 1;
    static char buffer[65536];
    int64_t lines = 0;
    for (;;) {
        const ssize_t count = recv(descriptor, buffer, sizeof buffer, 0);
        if (count <= 0) break;
        for (const char* at = buffer;
             (at = static_cast<const char*>(std::memchr(at, '\n', buffer + count - at))) != nullptr;
             ++at) {
            ++lines;
        }
    }
    close(descriptor);
    std::printf("%lld lines\n", static_cast<long long>(lines));
    return 0;
}

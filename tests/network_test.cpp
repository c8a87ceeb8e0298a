// The network client against servers that each test starts on the loopback interface. No test
// sends anything beyond 127.0.0.1 and ::1.
#include "runtime/network.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/loopback_server.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A loopback port on which nothing listens.
int32_t RefusingPort() {
    LoopbackServer closedAgain;
    return closedAgain.ok() ? closedAgain.port() : 0;
}

// Polls until the result is not NetworkEventNone, for at most two seconds.
int64_t PollUntilEvent(ConnectionNumber connection) {
    const Clock::time_point start = Clock::now();
    for (int attempt = 0; attempt < 400; ++attempt) {
        const int64_t event = ConnectionPoll(connection);
        if (event != NetworkEventNone || MillisecondsSince(start) > 2000) return event;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return NetworkEventNone;
}

// A connected client and the server's end of it.
struct Pair {
    LoopbackServer server;
    ConnectionNumber connection = 0;
    int peer = -1;

    explicit Pair(int family = AF_INET) : server(family) {
        if (!server.ok()) return;
        const bool v6 = family == AF_INET6;
        connection = ConnectionOpen(v6 ? "::1" : "127.0.0.1", server.port(),
                                    NetworkModeTcp | (v6 ? NetworkModeIPv6 : 0));
        if (connection != 0) peer = server.Accept();
    }
    ~Pair() { ConnectionClose(connection); }
    bool ok() const { return connection != 0 && peer >= 0; }
};

TEST(NetworkTest, ConnectionToAClosedPortFailsInEveryConnectForm) {
    const int32_t port = RefusingPort();
    ASSERT_NE(port, 0);
    EXPECT_EQ(ConnectionOpen("127.0.0.1", port), 0);
    EXPECT_EQ(ConnectionOpen("127.0.0.1", port, NetworkModeTcp, 500), 0)
        << "a refused connect must not pass for a connection when it has a time-out";
    EXPECT_EQ(ConnectionOpenCancellable("127.0.0.1", port, NetworkModeTcp, nullptr, nullptr), 0);
}

TEST(NetworkTest, HostTextsResolveByTheAddressRules) {
    LoopbackServer server;
    ASSERT_TRUE(server.ok());
    struct Case {
        const char* host;
        bool connects;
    } const cases[] = {
        {"127.0.0.1", true},
        {"127.1", true},      // the short dotted forms of the classic parser still count
        {"localhost", true},  // looked up by name
        {"255.255.255.255", false},
        {"no-such-host.invalid", false},
        {"NO-SUCH-HOST.INVALID.", false},
        {"", false},
        {nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host == nullptr ? "(null)" : c.host);
        const ConnectionNumber connection = ConnectionOpen(c.host, server.port());
        EXPECT_EQ(connection != 0, c.connects);
        if (connection != 0) {
            EXPECT_GE(server.Accept(), 0);
        }
        ConnectionClose(connection);
    }
}

TEST(NetworkTest, ModesOtherThanTcpAndUdpFail) {
    LoopbackServer server;
    ASSERT_TRUE(server.ok());
    EXPECT_EQ(ConnectionOpen("127.0.0.1", server.port(), 3), 0);
    EXPECT_EQ(ConnectionOpen("127.0.0.1", server.port(), 0x800 | NetworkModeTcp), 0);
    const ConnectionNumber zeroIsTcp = ConnectionOpen("127.0.0.1", server.port(), 0);
    EXPECT_NE(zeroIsTcp, 0);
    EXPECT_GE(server.Accept(), 0);
    ConnectionClose(zeroIsTcp);
}

TEST(NetworkTest, WaitingBytesArePolledAndReceived) {
    Pair pair;
    ASSERT_TRUE(pair.ok());
    const std::string sentence = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4\r\n";
    ASSERT_TRUE(SendAll(pair.peer, sentence));
    ASSERT_EQ(PollUntilEvent(pair.connection), NetworkEventData);
    char buffer[128] = {};
    const int64_t count = ConnectionReceive(pair.connection, buffer, sizeof(buffer));
    ASSERT_EQ(count, static_cast<int64_t>(sentence.size()));
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(count)), sentence);
    EXPECT_EQ(ConnectionPoll(pair.connection), NetworkEventNone);
}

TEST(NetworkTest, MoreThanOneReceiveWorthArrivesInChunksOfAtMost128) {
    Pair pair;
    ASSERT_TRUE(pair.ok());
    std::string sent;
    for (int i = 0; i < 300; ++i)
        sent += static_cast<char>('A' + i % 26);
    ASSERT_TRUE(SendAll(pair.peer, sent));
    pair.server.CloseClient(pair.peer);  // everything is on its way; the end follows it

    std::string received;
    std::vector<int64_t> chunks;
    for (int cycle = 0; cycle < 100 && received.size() < sent.size(); ++cycle) {
        if (PollUntilEvent(pair.connection) != NetworkEventData) break;
        char buffer[128];
        const int64_t count = ConnectionReceive(pair.connection, buffer, sizeof(buffer));
        if (count <= 0) break;
        chunks.push_back(count);
        received.append(buffer, static_cast<size_t>(count));
    }
    EXPECT_EQ(received, sent);
    ASSERT_GE(chunks.size(), 3u);
    for (int64_t count : chunks)
        EXPECT_LE(count, 128);
    EXPECT_EQ(chunks[0], 128);
}

TEST(NetworkTest, AfterThePeerClosesEveryPollReportsTheDisconnect) {
    Pair pair;
    ASSERT_TRUE(pair.ok());
    ASSERT_TRUE(SendAll(pair.peer, "last"));
    pair.server.CloseClient(pair.peer);

    // The bytes sent before the close still come first.
    ASSERT_EQ(PollUntilEvent(pair.connection), NetworkEventData);
    char buffer[128];
    ASSERT_EQ(ConnectionReceive(pair.connection, buffer, sizeof(buffer)), 4);
    for (int call = 0; call < 5; ++call) {
        EXPECT_EQ(ConnectionPoll(pair.connection), NetworkEventDisconnect) << "call " << call;
    }
    EXPECT_EQ(ConnectionReceive(pair.connection, buffer, sizeof(buffer)), 0);
}

TEST(NetworkTest, PollingAnIdleConnectionReturnsAtOnce) {
    Pair pair;
    ASSERT_TRUE(pair.ok());
    const Clock::time_point start = Clock::now();
    for (int call = 0; call < 20; ++call) {
        ASSERT_EQ(ConnectionPoll(pair.connection), NetworkEventNone);
    }
    EXPECT_LT(MillisecondsSince(start), 1000);
}

TEST(NetworkTest, WrongNumbersAreAnsweredLikeABrokenConnection) {
    Pair pair;
    ASSERT_TRUE(pair.ok());
    const ConnectionNumber closed = ConnectionOpen("127.0.0.1", pair.server.port());
    ASSERT_NE(closed, 0);
    ConnectionClose(closed);
    char buffer[16];
    for (ConnectionNumber wrong : {ConnectionNumber{0}, closed, ConnectionNumber{-1},
                                   ConnectionNumber{0x7fff0000deadbeef}}) {
        SCOPED_TRACE(wrong);
        EXPECT_EQ(ConnectionPoll(wrong), NetworkEventDisconnect);
        EXPECT_EQ(ConnectionReceive(wrong, buffer, sizeof(buffer)), -1);
        ConnectionClose(wrong);
    }
    // Closing the wrong numbers left the live connection alone.
    EXPECT_EQ(ConnectionPoll(pair.connection), NetworkEventNone);
    EXPECT_EQ(ConnectionReceive(pair.connection, buffer, 0), 0);
    EXPECT_EQ(ConnectionReceive(pair.connection, nullptr, 16), -1);
}

TEST(NetworkTest, ClosingWakesAReceiveBlockedOnAnotherThread) {
    Pair pair;
    ASSERT_TRUE(pair.ok());
    std::atomic<bool> returned{false};
    std::atomic<int64_t> result{-2};
    std::thread reader([&] {
        char buffer[128];
        result = ConnectionReceive(pair.connection, buffer, sizeof(buffer));
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ConnectionClose(pair.connection);
    for (int wait = 0; wait < 200 && !returned; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const bool wokenByClose = returned;
    if (!wokenByClose) pair.server.CloseClient(pair.peer);  // let the reader end regardless
    reader.join();
    EXPECT_TRUE(wokenByClose);
    EXPECT_EQ(result, 0);
    pair.connection = 0;
}

TEST(NetworkTest, SocketsAreNotInheritedByLaterPrograms) {
    Pair pair;
    ASSERT_TRUE(pair.ok());
    // The client's socket is the descriptor whose peer is the server's port.
    int found = 0;
    for (int descriptor = 0; descriptor < 1024; ++descriptor) {
        sockaddr_storage peer{};
        socklen_t length = sizeof(peer);
        if (getpeername(descriptor, reinterpret_cast<sockaddr*>(&peer), &length) != 0) continue;
        if (peer.ss_family != AF_INET) continue;
        if (ntohs(reinterpret_cast<sockaddr_in*>(&peer)->sin_port) != pair.server.port()) continue;
        ++found;
        EXPECT_NE(fcntl(descriptor, F_GETFD) & FD_CLOEXEC, 0);
    }
    EXPECT_EQ(found, 1);
}

TEST(NetworkTest, BindsToTheGivenLocalPortBeforeConnecting) {
    LoopbackServer server;
    ASSERT_TRUE(server.ok());
    const int32_t localPort = RefusingPort();  // free a moment ago
    ASSERT_NE(localPort, 0);
    const ConnectionNumber connection =
        ConnectionOpen("127.0.0.1", server.port(), NetworkModeTcp, 0, "127.0.0.1", localPort);
    ASSERT_NE(connection, 0);
    const int peer = server.Accept();
    ASSERT_GE(peer, 0);
    sockaddr_in from{};
    socklen_t length = sizeof(from);
    ASSERT_EQ(getpeername(peer, reinterpret_cast<sockaddr*>(&from), &length), 0);
    EXPECT_EQ(ntohs(from.sin_port), localPort);
    ConnectionClose(connection);

    EXPECT_EQ(ConnectionOpen("127.0.0.1", server.port(), NetworkModeTcp, 0, "not-an-address"), 0);
}

TEST(NetworkTest, IPv6LoopbackNeedsTheInitialisedLayer) {
    LoopbackServer probe(AF_INET6);
    if (!probe.ok()) GTEST_SKIP() << "this machine has no IPv6 loopback";
    NetworkObjectsEnd();
    EXPECT_EQ(ConnectionOpen("::1", probe.port(), NetworkModeTcp | NetworkModeIPv6), 0);
    EXPECT_EQ(NetworkInit(), 1);
    EXPECT_EQ(NetworkInit(), 1);

    Pair pair(AF_INET6);
    ASSERT_TRUE(pair.ok());
    ASSERT_TRUE(SendAll(pair.peer, "v6"));
    ASSERT_EQ(PollUntilEvent(pair.connection), NetworkEventData);
    char buffer[8] = {};
    EXPECT_EQ(ConnectionReceive(pair.connection, buffer, sizeof(buffer)), 2);
    EXPECT_STREQ(buffer, "v6");
    // An IPv4 text is no IPv6 address, and the IPv6 look-up of a reserved name asks no one.
    EXPECT_EQ(ConnectionOpen("127.0.0.1", probe.port(), NetworkModeTcp | NetworkModeIPv6), 0);
    EXPECT_EQ(ConnectionOpen("x.invalid", probe.port(), NetworkModeTcp | NetworkModeIPv6), 0);
}

TEST(NetworkTest, UdpRecordsThePeerWithoutConnecting) {
    const ConnectionNumber connection = ConnectionOpen("127.0.0.1", RefusingPort(), NetworkModeUdp);
    ASSERT_NE(connection, 0);
    char buffer[16];
    EXPECT_EQ(ConnectionPoll(connection), NetworkEventNone);
    EXPECT_EQ(ConnectionReceive(connection, buffer, sizeof(buffer)), 0);
    ConnectionClose(connection);
    EXPECT_EQ(ConnectionOpen("255.255.255.255", 9, NetworkModeUdp), 0);
}

TEST(NetworkTest, MakeIPv4AddressWrapsIn32Bits) {
    struct Case {
        int32_t a, b, c, d;
        int64_t expected;
    } const cases[] = {
        {127, 0, 0, 1, 16777343},
        {192, 168, 1, 20, 0x1401A8C0},
        {255, 255, 255, 255, -1},
        {255, 255, 255, 127, 2147483647},
        {0, 0, 0, 128, -2147483648LL},
        {1, 1, 1, 200, -939458303},  // the 32-bit sum taken as signed
        {256, 0, 0, 0, 256},         // parts are not masked: 256 carries into the next byte
        {0, 0, 0, 256, 0},           // and what passes bit 31 wraps away
        {-1, 0, 0, 0, -1},
        {0, 65536, 0, 0, 16777216},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MakeIPv4Address(c.a, c.b, c.c, c.d), c.expected)
            << c.a << "." << c.b << "." << c.c << "." << c.d;
    }
}

bool StopWhenAsked(void* context) {
    return static_cast<std::atomic<bool>*>(context)->load();
}

TEST(NetworkTest, CancellableConnectGivesUpSoonAfterTheStopRequest) {
    SilentServer server;
    if (!server.silent()) GTEST_SKIP() << "the loopback listener answers even with a full queue";

    std::atomic<bool> stop{false};
    std::atomic<bool> returned{false};
    std::atomic<ConnectionNumber> result{-1};
    Clock::time_point returnedAt;
    std::thread opener([&] {
        result = ConnectionOpenCancellable("127.0.0.1", server.port(), NetworkModeTcp,
                                           StopWhenAsked, &stop);
        returnedAt = Clock::now();
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const bool pendingBeforeStop = !returned;
    const Clock::time_point stopAt = Clock::now();
    stop = true;
    opener.join();  // ends by the stop request, or by the system's connect time-out at worst

    EXPECT_TRUE(pendingBeforeStop) << "the connect was expected to hang until stopped";
    EXPECT_EQ(result, 0);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(returnedAt - stopAt).count(),
              100);
}

TEST(NetworkTest, ConnectWithATimeOutGivesUpAfterIt) {
    SilentServer server;
    if (!server.silent()) GTEST_SKIP() << "the loopback listener answers even with a full queue";
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(ConnectionOpen("127.0.0.1", server.port(), NetworkModeTcp, 150), 0);
    const int64_t elapsed = MillisecondsSince(start);
    EXPECT_GE(elapsed, 140);
    EXPECT_LT(elapsed, 5000);
}

TEST(NetworkTest, CancellableConnectThatIsNeverStoppedConnects) {
    LoopbackServer server;
    ASSERT_TRUE(server.ok());
    std::atomic<bool> stop{false};
    const ConnectionNumber connection =
        ConnectionOpenCancellable("127.0.0.1", server.port(), NetworkModeTcp, StopWhenAsked, &stop);
    ASSERT_NE(connection, 0);
    const int peer = server.Accept();
    ASSERT_GE(peer, 0);
    ASSERT_TRUE(SendAll(peer, "ok"));
    EXPECT_EQ(PollUntilEvent(connection), NetworkEventData);
    ConnectionClose(connection);
}

}  // namespace

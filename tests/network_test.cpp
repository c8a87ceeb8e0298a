// The network client against servers that each test starts on the loopback interface. No test
// sends anything beyond 127.0.0.1 and ::1.
#include "runtime/network.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "runtime/wake_signal.h"
#include "tests/support/loopback_server.h"

namespace {

using Clock = std::chrono::steady_clock;

// A connected client and the server's end of it.
struct Pair {
    LoopbackServer server;
    ConnectionNumber connection = 0;
    int peer = -1;

    Pair() {
        if (server.ok()) connection = ConnectionOpenWatched("127.0.0.1", server.port(), -1, 1000);
        if (connection != 0) peer = server.Accept();
    }
    ~Pair() { ConnectionClose(connection); }
    bool ok() const { return connection != 0 && peer >= 0; }
};

TEST(NetworkTest, HostTextsResolveByTheAddressRulesAndClosedPortsRefuse) {
    LoopbackServer server;
    int32_t closed = 0;
    {
        LoopbackServer closedAgain;  // a loopback port on which nothing listens
        closed = closedAgain.port();
    }
    ASSERT_TRUE(server.ok() && closed != 0);
    const int32_t open = server.port();
    const struct {
        const char* host;
        int32_t port;
        int32_t timeoutMs;  // -1: ConnectionOpenWatched
        bool connects;
    } cases[] = {{"127.0.0.1", open, 0, true},      {"127.1", open, 0, true},
                 {"localhost", open, -1, true},     {"255.255.255.255", open, 0, false},
                 {"x.invalid", open, 0, false},     {"", open, 0, false},
                 {nullptr, open, -1, false},        {"127.0.0.1", closed, 0, false},
                 {"127.0.0.1", closed, 500, false}, {"127.0.0.1", closed, -1, false}};
    for (const auto& c : cases) {
        const ConnectionNumber connection =
            c.timeoutMs < 0 ? ConnectionOpenWatched(c.host, c.port, -1, 0)
                            : ConnectionOpen(c.host, c.port, NetworkModeTcp, c.timeoutMs);
        EXPECT_EQ(connection != 0, c.connects) << (c.host ? c.host : "null") << " " << c.port;
        EXPECT_TRUE(connection == 0 || server.Accept() >= 0);
        ConnectionClose(connection);
    }
    EXPECT_EQ(ConnectionOpen("255.255.255.255", 9, NetworkModeUdp), 0);
}

// Bytes sent before the peer closes come first, in receives of at most the buffer's size; then
// every wait reports the end.
TEST(NetworkTest, BytesArriveInChunksAndThenTheDisconnect) {
    Pair pair;
    ASSERT_TRUE(pair.ok());
    EXPECT_EQ(ConnectionWait(pair.connection, -1, 0), NetworkEventNone);  // idle: answers at once
    std::string sent(300, 'A');
    for (size_t i = 0; i < sent.size(); ++i)
        sent[i] += i % 26;
    ASSERT_TRUE(SendAll(pair.peer, sent));
    pair.server.CloseClient(pair.peer);
    std::string received;
    std::vector<int64_t> chunks;
    char buffer[128];
    while (received.size() < sent.size() &&
           ConnectionWait(pair.connection, -1, 2000) == NetworkEventData) {
        const int64_t count = ConnectionReceive(pair.connection, buffer, sizeof(buffer));
        if (count <= 0) break;
        chunks.push_back(count);
        received.append(buffer, static_cast<size_t>(count));
    }
    EXPECT_EQ(received, sent);
    EXPECT_EQ(chunks.at(0), 128);
    for (int call = 0; call < 2; ++call)
        EXPECT_EQ(ConnectionWait(pair.connection, -1, 0), NetworkEventDisconnect);
    EXPECT_EQ(ConnectionReceive(pair.connection, buffer, sizeof(buffer)), 0);
}

// A peer that never answers: connects with a time-out give up after it (the tracker's test of
// quitting during such a connect covers the wake-up).
TEST(NetworkTest, ConnectsWithATimeOutGiveUpAfterIt) {
    SilentServer server;
    if (!server.silent()) GTEST_SKIP() << "the loopback listener answers even with a full queue";
    WakeSignal wake;
    ASSERT_TRUE(wake.Open());
    for (const bool watched : {false, true}) {
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(watched ? ConnectionOpenWatched("127.0.0.1", server.port(), wake.fd(), 150)
                          : ConnectionOpen("127.0.0.1", server.port(), NetworkModeTcp, 150),
                  0);
        EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(140));
    }
}

// The worker's one wait: bytes, the peer's end, a wake-up or the time, whichever comes first.
TEST(NetworkTest, WaitReportsDataWakeTimeAndDisconnect) {
    Pair pair;
    ASSERT_TRUE(pair.ok());
    WakeSignal wake;
    ASSERT_TRUE(wake.Open());
    EXPECT_EQ(ConnectionWait(pair.connection, wake.fd(), 20), NetworkEventNone);
    wake.Raise();
    wake.Raise();  // raising twice needs one clear
    EXPECT_EQ(ConnectionWait(pair.connection, wake.fd(), -1), NetworkEventWake);
    wake.Clear();
    EXPECT_EQ(ConnectionWait(pair.connection, wake.fd(), 20), NetworkEventNone);
    ASSERT_TRUE(SendAll(pair.peer, "$GPRMC"));
    EXPECT_EQ(ConnectionWait(pair.connection, wake.fd(), -1), NetworkEventData);
    char buffer[16];
    EXPECT_EQ(ConnectionReceive(pair.connection, buffer, sizeof(buffer)), 6);
    // Sending reaches the peer; after the peer is gone, the wait reports it.
    EXPECT_EQ(ConnectionSend(pair.connection, "?WATCH\n", 7), 7);
    EXPECT_EQ(recv(pair.peer, buffer, sizeof(buffer), 0), 7);
    pair.server.CloseClient(pair.peer);
    EXPECT_EQ(ConnectionWait(pair.connection, -1, -1), NetworkEventDisconnect);
    EXPECT_EQ(ConnectionWait(0, wake.fd(), 20), NetworkEventDisconnect);
    EXPECT_EQ(ConnectionSend(0, "x", 1), -1);
}

}  // namespace

// The network client against servers that each test starts on the loopback interface. No test
// sends anything beyond 127.0.0.1 and ::1.
#include "runtime/network.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "runtime/wake_signal.h"
#include "tests/support/loopback_server.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t MillisecondsBetween(Clock::time_point start, Clock::time_point end = Clock::now()) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(end - start).count();
}

// A loopback port on which nothing listens.
int32_t RefusingPort() {
    LoopbackServer closedAgain;
    return closedAgain.ok() ? closedAgain.port() : 0;
}

// Polls until the result is not NetworkEventNone, for at most about two seconds.
int64_t PollUntilEvent(ConnectionNumber connection) {
    int64_t event = NetworkEventNone;
    for (int attempt = 0; attempt < 400 && event == NetworkEventNone; ++attempt) {
        event = ConnectionPoll(connection);
        if (event == NetworkEventNone) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return event;
}

// A connected client and the server's end of it.
struct Pair {
    LoopbackServer server;
    ConnectionNumber connection = 0;
    int peer = -1;

    explicit Pair(bool watched = false) {
        if (!server.ok()) return;
        connection = watched ? ConnectionOpenWatched("127.0.0.1", server.port(), -1, 1000)
                             : ConnectionOpen("127.0.0.1", server.port());
        if (connection != 0) peer = server.Accept();
    }
    ~Pair() { ConnectionClose(connection); }
    bool ok() const { return connection != 0 && peer >= 0; }
};

TEST(NetworkTest, HostTextsResolveByTheAddressRulesAndClosedPortsRefuse) {
    LoopbackServer server;
    ASSERT_TRUE(server.ok());
    const int32_t closed = RefusingPort();
    ASSERT_NE(closed, 0);
    const struct {
        const char* host;
        int32_t port;
        int32_t timeoutMs;  // -1: ConnectionOpenWatched
        bool connects;
    } cases[] = {{"127.0.0.1", server.port(), 0, true},
                 {"127.1", server.port(), 0, true},  // the short dotted forms of the classic parser
                 {"localhost", server.port(), 0, true},  // looked up by name
                 {"255.255.255.255", server.port(), 0, false},
                 {"no-such-host.invalid", server.port(), 0, false},
                 {"", server.port(), 0, false},
                 {nullptr, server.port(), 0, false},
                 {"127.0.0.1", closed, 0, false},
                 {"127.0.0.1", closed, 500, false},
                 {"127.0.0.1", closed, -1, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host == nullptr ? "(null)" : c.host);
        const ConnectionNumber connection =
            c.timeoutMs < 0 ? ConnectionOpenWatched(c.host, c.port, -1, 0)
                            : ConnectionOpen(c.host, c.port, NetworkModeTcp, c.timeoutMs);
        EXPECT_EQ(connection != 0, c.connects);
        if (connection != 0) {
            EXPECT_GE(server.Accept(), 0);
        }
        ConnectionClose(connection);
    }
    EXPECT_EQ(ConnectionOpen("255.255.255.255", 9, NetworkModeUdp), 0);
}

// Bytes sent before the peer closes come first, in receives of at most the buffer's size; then
// every poll reports the end.
TEST(NetworkTest, BytesArriveInChunksAndThenTheDisconnect) {
    for (const bool watched : {false, true}) {
        Pair pair(watched);
        ASSERT_TRUE(pair.ok());
        EXPECT_EQ(ConnectionPoll(pair.connection), NetworkEventNone);  // idle: answers at once
        std::string sent;
        for (int i = 0; i < 300; ++i)
            sent += static_cast<char>('A' + i % 26);
        ASSERT_TRUE(SendAll(pair.peer, sent));
        pair.server.CloseClient(pair.peer);
        std::string received;
        std::vector<int64_t> chunks;
        char buffer[128];
        while (received.size() < sent.size() &&
               PollUntilEvent(pair.connection) == NetworkEventData) {
            const int64_t count = ConnectionReceive(pair.connection, buffer, sizeof(buffer));
            if (count <= 0) break;
            chunks.push_back(count);
            received.append(buffer, static_cast<size_t>(count));
        }
        EXPECT_EQ(received, sent);
        ASSERT_GE(chunks.size(), 3u);
        EXPECT_EQ(chunks[0], 128);
        for (int call = 0; call < 3; ++call)
            EXPECT_EQ(ConnectionPoll(pair.connection), NetworkEventDisconnect);
        EXPECT_EQ(ConnectionReceive(pair.connection, buffer, sizeof(buffer)), 0);
    }
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
    pair.connection = 0;
    for (int wait = 0; wait < 200 && !returned; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const bool wokenByClose = returned;
    if (!wokenByClose) pair.server.CloseClient(pair.peer);  // let the reader end regardless
    reader.join();
    EXPECT_TRUE(wokenByClose);
    EXPECT_EQ(result, 0);
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
        EXPECT_GE(MillisecondsBetween(start), 140);
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

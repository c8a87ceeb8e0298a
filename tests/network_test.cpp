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

// Polls until the result is not NetworkEventNone, for at most about two seconds.
int64_t PollUntilEvent(ConnectionNumber connection) {
    int64_t event = NetworkEventNone;
    for (int attempt = 0; attempt < 400 && event == NetworkEventNone; ++attempt) {
        event = ConnectionPoll(connection);
        if (event == NetworkEventNone) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return event;
}

bool StopWhenAsked(void* context) {
    return static_cast<std::atomic<bool>*>(context)->load();
}

// A connected client and the server's end of it.
struct Pair {
    LoopbackServer server;
    ConnectionNumber connection = 0;
    int peer = -1;

    explicit Pair(bool cancellable = false) {
        if (!server.ok()) return;
        static std::atomic<bool> neverStop{false};
        connection = cancellable
                         ? ConnectionOpenCancellable("127.0.0.1", server.port(), NetworkModeTcp,
                                                     StopWhenAsked, &neverStop)
                         : ConnectionOpen("127.0.0.1", server.port());
        if (connection != 0) peer = server.Accept();
    }
    ~Pair() { ConnectionClose(connection); }
    bool ok() const { return connection != 0 && peer >= 0; }
};

TEST(NetworkTest, ConnectionToAClosedPortFailsInEveryConnectForm) {
    const int32_t port = RefusingPort();
    ASSERT_NE(port, 0);
    EXPECT_EQ(ConnectionOpen("127.0.0.1", port), 0);
    EXPECT_EQ(ConnectionOpen("127.0.0.1", port, NetworkModeTcp, 500), 0);
    EXPECT_EQ(ConnectionOpenCancellable("127.0.0.1", port, NetworkModeTcp, nullptr, nullptr), 0);
}

TEST(NetworkTest, HostTextsResolveByTheAddressRules) {
    LoopbackServer server;
    ASSERT_TRUE(server.ok());
    const struct {
        const char* host;
        bool connects;
    } cases[] = {
        {"127.0.0.1", true},
        {"127.1", true},      // the short dotted forms of the classic parser still count
        {"localhost", true},  // looked up by name
        {"255.255.255.255", false},
        {"no-such-host.invalid", false},
        {"", false},
        {nullptr, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host == nullptr ? "(null)" : c.host);
        const ConnectionNumber connection = ConnectionOpen(c.host, server.port());
        EXPECT_EQ(connection != 0, c.connects);
        if (connection != 0) {
            EXPECT_GE(server.Accept(), 0);
        }
        ConnectionClose(connection);
    }
    EXPECT_EQ(ConnectionOpen("255.255.255.255", 9, NetworkModeUdp), 0);
}

TEST(NetworkTest, WaitingBytesArePolledAndReceived) {
    for (const bool cancellable : {false, true}) {
        Pair pair(cancellable);
        ASSERT_TRUE(pair.ok());
        const std::string sentence = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4\r\n";
        ASSERT_TRUE(SendAll(pair.peer, sentence));
        ASSERT_EQ(PollUntilEvent(pair.connection), NetworkEventData);
        char buffer[128] = {};
        const int64_t count = ConnectionReceive(pair.connection, buffer, sizeof(buffer));
        EXPECT_EQ(std::string(buffer, static_cast<size_t>(std::max<int64_t>(count, 0))), sentence);
        EXPECT_EQ(ConnectionPoll(pair.connection), NetworkEventNone);
    }
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
    EXPECT_EQ(chunks[0], 128);
}

TEST(NetworkTest, AfterThePeerClosesEveryPollReportsTheDisconnect) {
    Pair pair;
    ASSERT_TRUE(pair.ok());
    // An idle connection answers at once, without waiting for data.
    for (int call = 0; call < 20; ++call)
        ASSERT_EQ(ConnectionPoll(pair.connection), NetworkEventNone);
    ASSERT_TRUE(SendAll(pair.peer, "last"));
    pair.server.CloseClient(pair.peer);

    // The bytes sent before the close still come first.
    ASSERT_EQ(PollUntilEvent(pair.connection), NetworkEventData);
    char buffer[128];
    ASSERT_EQ(ConnectionReceive(pair.connection, buffer, sizeof(buffer)), 4);
    for (int call = 0; call < 5; ++call)
        EXPECT_EQ(ConnectionPoll(pair.connection), NetworkEventDisconnect) << "call " << call;
    EXPECT_EQ(ConnectionReceive(pair.connection, buffer, sizeof(buffer)), 0);
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

TEST(NetworkTest, MakeIPv4AddressWrapsIn32Bits) {
    const struct {
        int32_t a, b, c, d;
        int64_t expected;
    } cases[] = {
        {127, 0, 0, 1, 16777343},   {192, 168, 1, 20, 0x1401A8C0},
        {255, 255, 255, 255, -1},   {0, 0, 0, 128, -2147483648LL},
        {1, 1, 1, 200, -939458303},  // the 32-bit sum taken as signed
        {256, 0, 0, 0, 256},         // parts are not masked: 256 carries into the next byte
        {0, 0, 0, 256, 0},           // and what passes bit 31 wraps away
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MakeIPv4Address(c.a, c.b, c.c, c.d), c.expected)
            << c.a << "." << c.b << "." << c.c << "." << c.d;
    }
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

    // A plain connect with a time-out gives up after it.
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(ConnectionOpen("127.0.0.1", server.port(), NetworkModeTcp, 150), 0);
    EXPECT_GE(MillisecondsSince(start), 140);
}

}  // namespace

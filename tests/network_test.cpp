// The network client and the end-to-end tests' replay server, on the loopback interface only.
#include "runtime/network.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/time.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "runtime/host_address.h"
#include "runtime/wake_signal.h"
#include "tests/support/interrupting_signal.h"
#include "tests/support/loopback_server.h"
#include "tools/replay.h"

namespace {

using Clock = std::chrono::steady_clock;

// A connected client and the server's end of it.
struct Pair {
    LoopbackServer server;
    ConnectionNumber connection = 0;
    int peer = -1;
    Pair() {
        if (server.Ok()) connection = ConnectionOpenWatched("127.0.0.1", server.port(), -1, 1000);
        if (connection != 0) peer = server.Accept();
    }
    ~Pair() { ConnectionClose(connection); }
    bool Ok() const { return connection != 0 && peer >= 0; }
};

TEST(NetworkTest, HostTextsResolveByTheAddressRulesAndClosedPortsRefuse) {
    LoopbackServer server;
    const int32_t closed = LoopbackServer().port();  // a loopback port nothing listens on
    ASSERT_TRUE(server.Ok() && closed != 0);
    const int32_t open = server.port();
    enum Connect { kPlain, kWatched, kTimed };  // blocking, watching a wake-up, with a time-out
    // Host, port, how, the local address to bind to first, whether it connects.
    const std::tuple<const char*, int32_t, Connect, const char*, bool> cases[] = {
        {"127.0.0.1", open, kPlain, nullptr, true},
        {"127.1", open, kWatched, nullptr, true},
        {"localhost", open, kTimed, nullptr, true},
        {"255.255.255.255", open, kWatched, nullptr, false},
        {"x.invalid", open, kPlain, nullptr, false},
        {"", open, kPlain, nullptr, false},
        {nullptr, open, kWatched, nullptr, false},
        {"127.0.0.1", closed, kPlain, nullptr, false},
        {"127.0.0.1", closed, kWatched, nullptr, false},
        {"127.0.0.1", closed, kTimed, nullptr, false},
        {"127.0.0.1", open, kPlain, "127.0.0.1", true},
        {"127.0.0.1", open, kPlain, "127.0.0.x", false},
        {"127.0.0.1", open, kPlain, "255.255.255.255", false}};
    for (const auto& [host, port, how, local, connects] : cases) {
        const ConnectionNumber connection =
            how == kWatched
                ? ConnectionOpenWatched(host, port, -1, 0)
                : ConnectionOpen(host, port, NetworkModeTcp, how == kTimed ? 1000 : 0, local);
        EXPECT_EQ(connection != 0, connects) << (host ? host : "null") << " " << port;
        EXPECT_TRUE(connection == 0 || server.Accept() >= 0);
        ConnectionClose(connection);
    }
    // A UDP connection only records its peer; it has nothing to read yet.
    const ConnectionNumber udp = ConnectionOpen("127.0.0.1", 9, NetworkModeUdp);
    EXPECT_NE(udp, 0);
    EXPECT_EQ(ConnectionPoll(udp), NetworkEventNone);
    ConnectionClose(udp);
    EXPECT_EQ(ConnectionOpen("255.255.255.255", 9, NetworkModeUdp), 0);
    // Started without standard input, a program's first socket is descriptor 0, a socket too.
    const int input = dup(0);
    close(0);
    const ConnectionNumber first = ConnectionOpen("127.0.0.1", open, NetworkModeTcp);
    EXPECT_NE(first, 0);
    ConnectionClose(first);
    dup2(input, 0);
    close(input);
    SocketAddress address;  // only the two internet families resolve, and only into a place
    EXPECT_FALSE(ResolveHostAddress("127.0.0.1", AF_UNIX, open, &address));
    EXPECT_FALSE(ResolveHostAddress(nullptr, AF_INET, open, &address));
    EXPECT_FALSE(ResolveHostAddress("127.0.0.1", AF_INET, open, nullptr));
    for (const char* any : {static_cast<const char*>(nullptr), ""})  // no local address: any
        EXPECT_TRUE(ParseLocalAddress(any, AF_INET, open, &address));
    // IPv6 only between NetworkInit and the end of the network objects.
    EXPECT_FALSE(ResolveHostAddress("::1", AF_INET6, open, &address));
    NetworkInit();
    EXPECT_TRUE(ResolveHostAddress("::1", AF_INET6, open, &address));
    NetworkObjectsEnd();
    EXPECT_FALSE(ResolveHostAddress("::1", AF_INET6, open, &address));
}

// Names under "invalid" fail before the resolver is asked; only a whole label counts.
TEST(NetworkTest, ReservedInvalidNames) {
    const std::pair<const char*, bool> cases[] = {
        {"invalid", true},      {"a.invalid", true}, {"A.INVALID.", true}, {"ainvalid", false},
        {"invalid.com", false}, {"nvalid", false},   {"", false}};
    for (const auto& [host, reserved] : cases)
        EXPECT_EQ(IsReservedInvalidName(host), reserved) << host;
}

TEST(NetworkTest, BytesArriveInChunksAndThenTheDisconnect) {
    Pair pair;
    ASSERT_TRUE(pair.Ok());
    EXPECT_EQ(ConnectionWait(pair.connection, -1, 0), NetworkEventNone);  // idle: answers at once
    std::string sent(300, 'A');
    for (size_t i = 0; i < sent.size(); ++i)
        sent[i] += i % 26;
    ASSERT_TRUE(SendAll(pair.peer, sent));
    pair.server.CloseClient(pair.peer);
    std::string received;
    char buffer[129] = {};
    while (received.size() < sent.size()) {
        ASSERT_EQ(ConnectionWait(pair.connection, -1, 2000), NetworkEventData);
        errno = EINTR;  // left by an earlier call: what arrives is still taken
        const int64_t count = ConnectionReceive(pair.connection, buffer, 128);
        ASSERT_TRUE(count > 0 && count <= 128 && buffer[128] == 0) << count;
        received.append(buffer, static_cast<size_t>(count));
    }
    EXPECT_EQ(received, sent);
    for (int call = 0; call < 2; ++call)
        EXPECT_EQ(ConnectionWait(pair.connection, -1, 0), NetworkEventDisconnect);
    EXPECT_EQ(ConnectionReceive(pair.connection, buffer, 128), 0);
}

TEST(NetworkTest, ConnectsWithATimeOutGiveUpAfterIt) {
    SilentServer server;
    if (!server.Silent()) GTEST_SKIP() << "the loopback listener answers even with a full queue";
    WakeSignal wake;
    ASSERT_TRUE(wake.Open());
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(ConnectionOpenWatched("127.0.0.1", server.port(), wake.Fd(), 150), 0);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(140));
    EXPECT_EQ(ConnectionOpen("127.0.0.1", server.port(), NetworkModeTcp, 1), 0);  // 1 ms limits
    EXPECT_EQ(ConnectionOpenWatched("127.0.0.1", server.port(), wake.Fd(), 1), 0);
    // A raised wake-up ends the wait at once, also one on descriptor 0 (no standard input).
    const int input = dup(0);
    close(0);
    WakeSignal early;
    ASSERT_TRUE(early.Open());
    early.Raise();
    const Clock::time_point raised = Clock::now();
    EXPECT_EQ(ConnectionOpenWatched("127.0.0.1", server.port(), early.Fd(), 5000), 0);
    EXPECT_LT(Clock::now() - raised, std::chrono::milliseconds(1000));
    early.Close();
    dup2(input, 0);
    close(input);
}

TEST(NetworkTest, WaitReportsWakeTimeAndDisconnect) {
    Pair pair;
    ASSERT_TRUE(pair.Ok());
    // Started without standard input, the wake-up's read end is descriptor 0: it works alike.
    const int input = dup(0);
    close(0);
    WakeSignal wake;
    ASSERT_TRUE(wake.Open());
    const int fd = wake.Fd();
    EXPECT_TRUE(wake.Open() && wake.Fd() == fd);  // open already: the same pipe
    // However often it is raised, even beyond the pipe's room, one clear lowers it.
    for (int raise = 0; raise < 70000; ++raise)
        wake.Raise();
    EXPECT_EQ(ConnectionWait(pair.connection, wake.Fd(), -1), NetworkEventWake);
    wake.Clear();
    errno = EINTR;  // left by an earlier call: the time-out still ends the wait
    EXPECT_EQ(ConnectionWait(pair.connection, wake.Fd(), 20), NetworkEventNone);
    char buffer[16];
    EXPECT_EQ(ConnectionSend(pair.connection, "?WATCH\n", 7), 7);
    EXPECT_EQ(recv(pair.peer, buffer, sizeof(buffer), 0), 7);
    pair.server.CloseClient(pair.peer);
    EXPECT_EQ(ConnectionWait(pair.connection, -1, -1), NetworkEventDisconnect);
    EXPECT_EQ(ConnectionWait(0, wake.Fd(), 20), NetworkEventDisconnect);
    EXPECT_EQ(ConnectionSend(0, "x", 1), -1);
    wake.Close();
    EXPECT_EQ(fcntl(0, F_GETFD), -1);  // descriptor 0 was closed with it
    dup2(input, 0);
    close(input);
    // A receive blocked in another thread returns once the connection is closed.
    Pair blocked;
    int64_t received = 1;
    std::thread reader([&] {
        char byte;
        received = ConnectionReceive(blocked.connection, &byte, 1);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // inside its receive
    ConnectionClose(blocked.connection);
    reader.join();
    EXPECT_LE(received, 0);
}

TEST(NetworkTest, SignalsDuringAWaitOrAReceiveAreWaitedOut) {
    Pair pair;
    ASSERT_TRUE(pair.Ok());
    const InterruptingSignal interrupt;
    std::string bytes(2, '\0');
    int64_t event = 0, received = 0;
    std::thread reader([&] {
        event = ConnectionWait(pair.connection, -1, -1);
        received = ConnectionReceive(pair.connection, &bytes[0], 1);
        received += ConnectionReceive(pair.connection, &bytes[1], 1);
    });
    for (const char* next : {"x", "y"}) {
        for (int sent = 0; sent < 5; ++sent) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            interrupt.Send(reader);
        }
        ASSERT_TRUE(SendAll(pair.peer, next));
    }
    reader.join();
    EXPECT_EQ(std::to_string(event) + " " + std::to_string(received) + " " + bytes, "2 2 xy");
}

using Sentences = std::vector<std::string>;

// count receives of up to 128 bytes ("" once closed; 5 s at most each), then then, then it leaves.
Sentences Receive(uint16_t port, size_t count, const std::function<void()>& then = {}) {
    const int client = socket(AF_INET, SOCK_STREAM, 0);
    const timeval timeout{5, 0};
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    const sockaddr_in address = LoopbackAddress(port);
    connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    Sentences received(count);
    for (std::string& chunk : received) {
        char buffer[128];
        chunk.assign(buffer,
                     static_cast<size_t>(std::max<ssize_t>(recv(client, buffer, 128, 0), 0)));
    }
    if (then) then();
    close(client);
    return received;
}

// The log loops until Stop, or plays once; a client that leaves ends only its own session.
TEST(ReplayServerTest, OneSentencePerReceiveLoopingOrOnceUntilStop) {
    const Sentences sentences = {"$GPRMC,1*00\r\n", "$GPGGA,2*00\r\n", "$GPRMC,3*00\r\n"};
    for (const bool once : {false, true}) {
        SCOPED_TRACE(once ? "once" : "looping");
        ReplayServer server;
        std::string error;
        ASSERT_TRUE(server.Listen("127.0.0.1", 0, &error)) << error;
        Sentences reports;
        auto serving = std::async(std::launch::async, [&] {
            server.Serve(sentences, {.rateHz = 50.0, .once = once},
                         [&reports](const std::string& line) { reports.push_back(line); });
        });
        EXPECT_EQ(Receive(server.LocalPort(), 4),
                  (Sentences{sentences[0], sentences[1], sentences[2], once ? "" : sentences[0]}));
        EXPECT_EQ(once ? Sentences{} : Receive(server.LocalPort(), 1, [&server] { server.Stop(); }),
                  once ? Sentences{} : Sentences{sentences[0]});
        ASSERT_EQ(serving.wait_for(std::chrono::seconds(2)), std::future_status::ready);
        const Sentences ends = once ? Sentences{": 3 sentences sent, file played once"}
                                    : Sentences{" sentences sent, client disconnected",
                                                ": 1 sentence sent, server stopping"};
        for (size_t i = 0; i < std::max(ends.size(), reports.size()); ++i)
            EXPECT_TRUE(i < std::min(reports.size(), ends.size()) && reports[i].ends_with(ends[i]));
    }
}

}  // namespace

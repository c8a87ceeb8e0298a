// The replay server (the end-to-end test plays a real log with nmea_replay, once, restarted on
// its port): each sentence in a receive of its own, looping or once, ending promptly on Stop.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <functional>
#include <future>
#include <string>
#include <vector>

#include "tests/support/loopback_server.h"
#include "tools/replay.h"

namespace {

using Sentences = std::vector<std::string>;

// count receives of up to 128 bytes, as the tracker makes them ("" once the server has closed),
// by a client on 127.0.0.1:port whose receives give up after five seconds; it leaves after them
// and then.
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

// Each receive holds one sentence; the log loops until Stop, or plays once. A client that leaves
// ends only its own session: the next one is served from the first sentence.
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

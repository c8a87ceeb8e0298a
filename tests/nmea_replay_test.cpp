// nmea_replay: the log's sentences, the command line, the committed sample track, and the server
// giving each sentence a receive of its own, looping or once, and ending promptly on Stop.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <future>
#include <string>
#include <vector>

#include "tests/support/loopback_server.h"
#include "tools/replay.h"

namespace {

using Sentences = std::vector<std::string>;

TEST(SplitReplaySentencesTest, NormalisesLinesAndSkipsCommentsAndBlanks) {
    const Sentences two = {"$GPRMC,1\r\n", "$GPGGA,2\r\n"};
    const std::pair<const char*, Sentences> cases[] = {
        {"$GPRMC,1\n$GPGGA,2\n", two},
        {"$GPRMC,1\r$GPGGA,2\r", two},
        {"$GPRMC,1\r\r\n$GPGGA,2", two},
        {"# Name: test\n\n$GPRMC,1\n \t\n  # indented comment\n$GPGGA,2\n", two},
        {"  $GPTXT,#1 \t\r\n", {"$GPTXT,#1\r\n"}},
        {"# a\r\n# b\r\n", {}},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(SplitReplaySentences(text), expected) << text;
}

// The expected options are written as "file bind port rate once"; "" for no options.
TEST(ParseReplayOptionsTest, AcceptsTheDocumentedFormsAndRejectsTheRest) {
    const std::pair<std::vector<const char*>, const char*> cases[] = {
        {{"t.nmea"}, "t.nmea 127.0.0.1 10000 1 0"},
        {{"t.nmea", "--port", "0", "--rate", "0.5", "--once", "--bind", "::1"},
         "t.nmea ::1 0 0.5 1"},
        {{"--rate", "1000", "--port", "65535", "t.nmea"}, "t.nmea 127.0.0.1 65535 1000 0"},
        {{"--help"}, "help"},
        {{}, ""},
        {{"t.nmea", "--verbose"}, ""},
        {{"t.nmea", "u.nmea"}, ""},
        {{"t.nmea", "--port", "65536"}, ""},
        {{"t.nmea", "--port", "80x"}, ""},
        {{"t.nmea", "--rate", "0"}, ""},
        {{"t.nmea", "--rate", "1000.5"}, ""},
        {{"t.nmea", "--bind", ""}, ""},
        {{"t.nmea", "--port"}, ""},
    };
    for (const auto& [arguments, expected] : cases) {
        std::vector<const char*> argv = {"nmea_replay"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        ReplayOptions o;
        std::string error;
        const ReplayCommand command =
            ParseReplayOptions(static_cast<int>(argv.size()), argv.data(), &o, &error);
        char seen[200] = "help";
        if (command == ReplayCommand::kServe) {
            std::snprintf(seen, sizeof seen, "%s %s %u %g %d", o.file.c_str(),
                          o.bindAddress.c_str(), o.port, o.rateHz, o.once ? 1 : 0);
        } else if (command == ReplayCommand::kBadArguments) {
            seen[0] = '\0';
        }
        EXPECT_EQ(seen, std::string(expected)) << argv.back();
        EXPECT_EQ(error.empty(), command != ReplayCommand::kBadArguments) << argv.back();
    }
}

TEST(SampleTrackTest, HoldsChecksummedSentencesThatStartInMunich) {
    Sentences sentences;
    std::string error;
    ASSERT_TRUE(LoadReplaySentences(NAVLUME_LOG_DATA "/sample-track.nmea", &sentences, &error));
    ASSERT_GE(sentences.size(), 250u);
    for (const std::string& sentence : sentences) {
        const size_t star = sentence.find('*');
        ASSERT_TRUE(sentence.starts_with("$GP") && star == sentence.size() - 5) << sentence;
        unsigned checksum = 0;
        for (size_t i = 1; i < star; ++i)
            checksum ^= static_cast<unsigned char>(sentence[i]);
        EXPECT_EQ(checksum, std::stoul(sentence.substr(star + 1, 2), nullptr, 16)) << sentence;
    }
    EXPECT_TRUE(sentences[0].starts_with("$GPRMC,123519.00,A,4807.0380,N,01131.0000,E,"));
    EXPECT_FALSE(LoadReplaySentences(NAVLUME_LOG_DATA "/missing.nmea", &sentences, &error));
    EXPECT_NE(error.find("missing.nmea"), std::string::npos) << error;
}

// A client connected to 127.0.0.1:port whose receives give up after five seconds.
int Connect(uint16_t port) {
    const int client = socket(AF_INET, SOCK_STREAM, 0);
    const timeval timeout{5, 0};
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    const sockaddr_in address = LoopbackAddress(port);
    connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return client;
}

// count receives of up to 128 bytes, as the tracker makes them ("" once the server has closed).
Sentences Receive(int client, size_t count) {
    Sentences received(count);
    for (std::string& chunk : received) {
        char buffer[128];
        const ssize_t got = recv(client, buffer, sizeof buffer, 0);
        chunk.assign(buffer, static_cast<size_t>(std::max<ssize_t>(got, 0)));
    }
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
        const int client = Connect(server.LocalPort());
        EXPECT_EQ(Receive(client, 4),
                  (Sentences{sentences[0], sentences[1], sentences[2], once ? "" : sentences[0]}));
        close(client);
        if (!once) {
            const int next = Connect(server.LocalPort());
            EXPECT_EQ(Receive(next, 1), Sentences{sentences[0]});
            server.Stop();
            close(next);
        }
        ASSERT_EQ(serving.wait_for(std::chrono::seconds(2)), std::future_status::ready);
        const Sentences ends = once ? Sentences{": 3 sentences sent, file played once"}
                                    : Sentences{" sentences sent, client disconnected",
                                                ": 1 sentence sent, server stopping"};
        ASSERT_EQ(reports.size(), ends.size());
        for (size_t i = 0; i < ends.size(); ++i)
            EXPECT_TRUE(reports[i].ends_with(ends[i])) << reports[i];
    }
}

}  // namespace

// nmea_replay: the log's sentences, the command line, the committed sample track, and the server
// giving each sentence a receive of its own, looping or once, and ending promptly on Stop.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <future>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/loopback_server.h"
#include "tools/replay.h"

namespace {

using Sentences = std::vector<std::string>;

// Comments, blank lines and the blanks around a sentence go; any line end becomes CR LF.
TEST(SplitReplaySentencesTest, NormalisesLinesAndSkipsCommentsAndBlanks) {
    EXPECT_EQ(SplitReplaySentences(
                  "# Name: t\n\n$GPRMC,1\r\r\n \t\n  # indented\n  $GPTXT,#1 \t\r$GPGGA,2"),
              (Sentences{"$GPRMC,1\r\n", "$GPTXT,#1\r\n", "$GPGGA,2\r\n"}));
}

// The options of a command line as "file bind port rate once"; "help"; "" for bad arguments,
// which alone come with an error text.
std::string Parsed(const std::string& arguments) {
    std::istringstream words("nmea_replay " + arguments);
    const std::vector<std::string> texts{std::istream_iterator<std::string>(words), {}};
    std::vector<const char*> argv;
    for (const std::string& text : texts)
        argv.push_back(text.c_str());
    ReplayOptions o;
    std::string error;
    char seen[200] = "help";
    const ReplayCommand command =
        ParseReplayOptions(static_cast<int>(argv.size()), argv.data(), &o, &error);
    if (command == ReplayCommand::kServe)
        std::snprintf(seen, sizeof seen, "%s %s %u %g %d", o.file.c_str(), o.bindAddress.c_str(),
                      o.port, o.rateHz, o.once);
    if (command == ReplayCommand::kBadArguments) seen[0] = '\0';
    return error.empty() == (command != ReplayCommand::kBadArguments) ? seen : "error text?";
}

TEST(ParseReplayOptionsTest, AcceptsTheDocumentedFormsAndRejectsTheRest) {
    EXPECT_EQ(Parsed("t.nmea"), "t.nmea 127.0.0.1 10000 1 0");
    EXPECT_EQ(Parsed("t.nmea --port 0 --rate 0.5 --once --bind ::1"), "t.nmea ::1 0 0.5 1");
    EXPECT_EQ(Parsed("--rate 1000 --port 65535 t.nmea"), "t.nmea 127.0.0.1 65535 1000 0");
    EXPECT_EQ(Parsed("--help"), "help");
    for (const char* bad :
         {"", "t.nmea --verbose", "t.nmea u.nmea", "t.nmea --port 65536", "t.nmea --port 80x",
          "t.nmea --rate 0", "t.nmea --rate 1000.5", "t.nmea --port"})
        EXPECT_EQ(Parsed(bad), "") << bad;
}

TEST(SampleTrackTest, HoldsChecksummedSentencesThatStartInMunich) {
    Sentences sentences;
    std::string error;
    ASSERT_TRUE(LoadReplaySentences(NAVLUME_LOG_DATA "/sample-track.nmea", &sentences, &error));
    ASSERT_GE(sentences.size(), 250u);
    for (const std::string& sentence : sentences) {
        unsigned checksum = 0;
        for (size_t i = 1; i + 5 < sentence.size(); ++i)
            checksum ^= static_cast<unsigned char>(sentence[i]);
        char end[8];
        std::snprintf(end, sizeof end, "*%02X\r\n", checksum);
        EXPECT_TRUE(sentence.starts_with("$GP") && sentence.ends_with(end)) << sentence;
    }
    EXPECT_TRUE(sentences[0].starts_with("$GPRMC,123519.00,A,4807.0380,N,01131.0000,E,"));
    EXPECT_FALSE(LoadReplaySentences(NAVLUME_LOG_DATA "/missing.nmea", &sentences, &error));
    EXPECT_NE(error.find("missing.nmea"), std::string::npos) << error;
}

// count receives of up to 128 bytes, as the tracker makes them ("" once the server has closed),
// by a client on 127.0.0.1:port whose receives give up after five seconds; it leaves after them
// and then.
Sentences Receive(
    uint16_t port, size_t count, const std::function<void()>& then = [] {}) {
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
    then();
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

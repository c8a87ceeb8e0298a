#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tools/replay_options.h"
#include "tools/replay_sentences.h"
#include "tools/replay_server.h"

namespace {

using Sentences = std::vector<std::string>;
using namespace std::chrono_literals;

// Every receive gives up after this long, so a test that goes wrong fails instead of hanging.
constexpr int kReceiveTimeoutSeconds = 5;
constexpr auto kStopBound = 2s;

// ---------------------------------------------------------------------------------------------
// Reading the log

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

TEST(LoadReplaySentencesTest, ReadsAFileAndRefusesMissingOrEmptyOnes) {
    const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                       ("nmea_replay_test_" + std::to_string(getpid()) + ".nmea");
    Sentences sentences;
    std::string error;
    std::ofstream(path, std::ios::binary) << "# header\n$GPRMC,1\n";
    EXPECT_TRUE(LoadReplaySentences(path.string(), &sentences, &error));
    EXPECT_EQ(sentences, Sentences{"$GPRMC,1\r\n"});
    std::ofstream(path, std::ios::binary) << "# header\n\n";
    EXPECT_FALSE(LoadReplaySentences(path.string(), &sentences, &error));
    EXPECT_NE(error.find("no sentences"), std::string::npos) << error;
    std::filesystem::remove(path);
    EXPECT_FALSE(LoadReplaySentences(path.string(), &sentences, &error));
    EXPECT_NE(error.find(path.string()), std::string::npos) << error;
}

// ---------------------------------------------------------------------------------------------
// The committed sample track

TEST(SampleTrackTest, HoldsValidSentencesWithCorrectChecksums) {
    const std::filesystem::path path =
        std::filesystem::path(__FILE__).parent_path().parent_path() / "data" / "sample-track.nmea";
    Sentences sentences;
    std::string error;
    ASSERT_TRUE(LoadReplaySentences(path.string(), &sentences, &error)) << error;
    const std::regex shape(R"(\$(GP[A-Z]{3}),([^*]*)\*([0-9A-F]{2})\r\n)");
    int rmc_count = 0;
    for (const std::string& sentence : sentences) {
        std::smatch parts;
        ASSERT_TRUE(std::regex_match(sentence, parts, shape)) << sentence;
        // NMEA allows 82 characters; Navlume takes at most 128 bytes in one receive.
        EXPECT_LE(sentence.size(), 82u) << sentence;
        int checksum = 0;
        for (size_t i = 1; sentence[i] != '*'; ++i)
            checksum ^= static_cast<unsigned char>(sentence[i]);
        EXPECT_EQ(checksum, std::stoi(parts[3].str(), nullptr, 16)) << sentence;
        if (parts[1] == "GPRMC") ++rmc_count;
    }
    EXPECT_GE(rmc_count, 250);
    EXPECT_NE(sentences[0].find("GPRMC,123519.00,A,4807.0380,N,01131.0000,E,"), std::string::npos);
}

// ---------------------------------------------------------------------------------------------
// The command line

TEST(ParseReplayOptionsTest, AcceptsTheDocumentedFormsAndRejectsTheRest) {
    using enum ReplayCommand;
    // The expected options are written as "file bind port rate once".
    const struct {
        std::vector<const char*> arguments;  // after the program name
        ReplayCommand command;
        const char* expected;
    } cases[] = {
        {{"t.nmea"}, kServe, "t.nmea 127.0.0.1 10000 1 0"},
        {{"t.nmea", "--port", "0", "--rate", "0.5", "--once", "--bind", "::1"},
         kServe,
         "t.nmea ::1 0 0.5 1"},
        {{"--rate", "1000", "--port", "65535", "t.nmea"}, kServe, "t.nmea 127.0.0.1 65535 1000 0"},
        {{"--help"}, kShowHelp, ""},
        {{}, kBadArguments, ""},
        {{"t.nmea", "--verbose"}, kBadArguments, ""},
        {{"t.nmea", "--port", "65536"}, kBadArguments, ""},
        {{"t.nmea", "--port", "80x"}, kBadArguments, ""},
        {{"t.nmea", "--rate", "0"}, kBadArguments, ""},
        {{"t.nmea", "--rate", "1000.5"}, kBadArguments, ""},
        {{"t.nmea", "--bind", ""}, kBadArguments, ""},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv = {"nmea_replay"};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        ReplayOptions o;
        std::string error;
        const ReplayCommand command =
            ParseReplayOptions(static_cast<int>(argv.size()), argv.data(), &o, &error);
        const std::string trace = c.arguments.empty() ? "(none)" : c.arguments.back();
        ASSERT_EQ(command, c.command) << trace;
        EXPECT_EQ(error.empty(), command != kBadArguments) << trace;
        if (command != kServe) continue;
        char rate[32];
        std::snprintf(rate, sizeof rate, "%g", o.rate_hz);
        EXPECT_EQ(o.file + " " + o.bind_address + " " + std::to_string(o.port) + " " + rate + " " +
                      (o.once ? "1" : "0"),
                  c.expected);
    }
}

// ---------------------------------------------------------------------------------------------
// The server

// A plain TCP client on 127.0.0.1 whose receives give up after kReceiveTimeoutSeconds.
class Client {
  public:
    explicit Client(uint16_t port) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
        timeval timeout{kReceiveTimeoutSeconds, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~Client() { Close(); }
    bool connected() const { return connected_; }

    // One receive of up to 128 bytes, as the tracker does it: "" when the server has closed,
    // nullopt on a failure or time-out.
    std::optional<std::string> Receive() {
        std::string buffer(128, '\0');
        const ssize_t count = recv(fd_, buffer.data(), buffer.size(), 0);
        if (count < 0) return std::nullopt;
        buffer.resize(static_cast<size_t>(count));
        return buffer;
    }
    // With reset, closes as a crashed client would: a reset instead of an orderly FIN.
    void Close(bool reset = false) {
        const linger abort{1, 0};
        if (reset) setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

  private:
    int fd_;
    bool connected_ = false;
};

// A ReplayServer on 127.0.0.1 with a free port, serving on a thread of its own.
class RunningServer {
  public:
    RunningServer(Sentences sentences, ReplayPace pace) : sentences_(std::move(sentences)) {
        std::string error;
        EXPECT_TRUE(server_.Listen("127.0.0.1", 0, &error)) << error;
        done_ = std::async(std::launch::async, [this, pace] {
            server_.Serve(sentences_, pace, [this](const std::string& line) {
                std::lock_guard lock(mutex_);
                reports_.push_back(line);
            });
        });
    }
    ~RunningServer() {
        server_.Stop();
        // Waiting on would hang the whole run, and Serve still uses this object.
        if (!EndsWithin(kStopBound)) std::abort();
    }
    uint16_t port() const { return server_.LocalPort(); }
    ReplayServer& server() { return server_; }
    bool EndsWithin(std::chrono::milliseconds bound) {
        return done_.wait_for(bound) == std::future_status::ready;
    }
    Sentences reports() {
        std::lock_guard lock(mutex_);
        return reports_;
    }

  private:
    ReplayServer server_;
    Sentences sentences_;
    std::mutex mutex_;
    Sentences reports_;
    std::future<void> done_;
};

const Sentences kSentences = SplitReplaySentences(
    "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\n"
    "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\n"
    "$GPRMC,123520,A,4807.040,N,01131.010,E,022.4,084.4,230394,003.1,W*6B\n");

// With the writes spaced out, every receive that starts at a line boundary holds exactly one
// sentence, so the tracker sees each "$GPRMC" at the start of a chunk.
TEST(ReplayServerTest, EachReceiveHoldsExactlyOneSentenceAndTheLogLoops) {
    ASSERT_EQ(kSentences.size(), 3u);
    RunningServer running(kSentences, {.rate_hz = 10.0, .once = false});
    Client client(running.port());
    ASSERT_TRUE(client.connected());
    for (size_t i = 0; i < 2 * kSentences.size() + 1; ++i)
        EXPECT_EQ(client.Receive(), kSentences[i % kSentences.size()]) << "receive " << i;
}

TEST(ReplayServerTest, OncePlaysTheLogToOneClientAndEnds) {
    RunningServer running(kSentences, {.rate_hz = 50.0, .once = true});
    Client client(running.port());
    ASSERT_TRUE(client.connected());
    std::string received;
    for (int i = 0; i < 10; ++i) {
        const std::optional<std::string> chunk = client.Receive();
        ASSERT_TRUE(chunk.has_value());
        if (chunk->empty()) break;  // the server closed the connection
        received += *chunk;
    }
    EXPECT_EQ(received, kSentences[0] + kSentences[1] + kSentences[2]);
    EXPECT_TRUE(running.EndsWithin(kStopBound));
    const Sentences reports = running.reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("3 sentences sent, file played once"), std::string::npos);
}

// A client that leaves, in an orderly way or by a reset, ends only its own session; the client
// waiting behind it is then served from the first sentence.
TEST(ReplayServerTest, ClientsThatLeaveDoNotStopTheServer) {
    RunningServer running(kSentences, {.rate_hz = 20.0, .once = false});
    for (const bool reset : {false, true, false}) {
        Client leaving(running.port());
        ASSERT_TRUE(leaving.connected());
        EXPECT_EQ(leaving.Receive(), kSentences[0]);
        Client waiting(running.port());
        ASSERT_TRUE(waiting.connected());
        leaving.Close(reset);
        EXPECT_EQ(waiting.Receive(), kSentences[0]) << (reset ? "after a reset" : "after a close");
    }
    // Clients are served one at a time, so when a client got its first sentence every client
    // before it had been reported: five here (the sixth may be closing still).
    const Sentences reports = running.reports();
    ASSERT_GE(reports.size(), 5u);
    const std::regex report(R"(client 127\.0\.0\.1:\d+: \d+ sentences? sent, client disconnected)");
    for (const std::string& line : reports)
        EXPECT_TRUE(std::regex_match(line, report)) << line;
}

TEST(ReplayServerTest, StopEndsServeWithinABoundedTime) {
    const Sentences big = {std::string(64 * 1024, 'x') + "\r\n"};
    const struct {
        const char* name;
        bool with_client;
        ReplayPace pace;
        const Sentences& sentences;
    } cases[] = {
        {"waiting for a client", false, {.rate_hz = 1.0, .once = false}, kSentences},
        {"in a long wait between sentences", true, {.rate_hz = 0.01, .once = false}, kSentences},
        {"in a --once session", true, {.rate_hz = 0.01, .once = true}, kSentences},
        // A client that never reads fills the socket buffers; the server waits for room.
        {"with a client that does not read", true, {.rate_hz = kMaxReplayRateHz}, big},
    };
    for (const auto& c : cases) {
        RunningServer running(c.sentences, c.pace);
        std::optional<Client> client;
        if (c.with_client) {
            client.emplace(running.port());
            ASSERT_TRUE(client->connected()) << c.name;
            if (&c.sentences == &big) {
                std::this_thread::sleep_for(300ms);  // time to fill the buffers
            } else {
                ASSERT_TRUE(client->Receive().has_value()) << c.name;  // the session has begun
            }
        }
        running.server().Stop();
        EXPECT_TRUE(running.EndsWithin(kStopBound)) << c.name;
        if (c.with_client && &c.sentences != &big) {
            EXPECT_EQ(client->Receive(), "") << c.name << ": the connection is closed";
            const Sentences reports = running.reports();
            ASSERT_EQ(reports.size(), 1u) << c.name;
            EXPECT_NE(reports[0].find("server stopping"), std::string::npos) << c.name;
        }
    }
}

}  // namespace

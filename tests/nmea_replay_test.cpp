#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <mutex>
#include <numbers>
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
// What Navlume asks for in one receive.
constexpr size_t kTrackerChunk = 128;

// ---------------------------------------------------------------------------------------------
// Reading the log

struct SplitCase {
    const char* name;
    const char* text;
    Sentences expected;
};

TEST(SplitReplaySentencesTest, NormalisesLinesAndSkipsCommentsAndBlanks) {
    const SplitCase cases[] = {
        {"LF", "$GPRMC,1\n$GPGGA,2\n", {"$GPRMC,1\r\n", "$GPGGA,2\r\n"}},
        {"CR LF", "$GPRMC,1\r\n$GPGGA,2\r\n", {"$GPRMC,1\r\n", "$GPGGA,2\r\n"}},
        {"lone CR", "$GPRMC,1\r$GPGGA,2\r", {"$GPRMC,1\r\n", "$GPGGA,2\r\n"}},
        {"stray CR before CR LF", "$GPRMC,1\r\r\n$GPGGA,2", {"$GPRMC,1\r\n", "$GPGGA,2\r\n"}},
        {"no final line end", "$GPRMC,1\n$GPGGA,2", {"$GPRMC,1\r\n", "$GPGGA,2\r\n"}},
        {"header and blank lines",
         "# Name: test\n\n$GPRMC,1\n \t\n  # indented comment\n$GPGGA,2\n",
         {"$GPRMC,1\r\n", "$GPGGA,2\r\n"}},
        {"surrounding blanks", "  $GPRMC,1 \t\r\n", {"$GPRMC,1\r\n"}},
        {"'#' inside a sentence", "$GPTXT,#1\n", {"$GPTXT,#1\r\n"}},
        {"empty text", "", {}},
        {"only comments", "# a\r\n# b\r\n", {}},
    };
    for (const SplitCase& c : cases) {
        EXPECT_EQ(SplitReplaySentences(c.text), c.expected) << c.name;
    }
}

std::filesystem::path WriteTempFile(const char* name, const std::string& text) {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        (std::string("nmea_replay_test_") + std::to_string(getpid()) + "_" + name);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    EXPECT_NE(file, nullptr);
    if (file != nullptr) {
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }
    return path;
}

TEST(LoadReplaySentencesTest, ReadsAFileAndRefusesMissingOrEmptyOnes) {
    Sentences sentences;
    std::string error;

    const auto good = WriteTempFile("good.nmea", "# header\n$GPRMC,1\n");
    EXPECT_TRUE(LoadReplaySentences(good.string(), &sentences, &error));
    EXPECT_EQ(sentences, Sentences{"$GPRMC,1\r\n"});

    const auto only_comments = WriteTempFile("comments.nmea", "# header\n\n");
    EXPECT_FALSE(LoadReplaySentences(only_comments.string(), &sentences, &error));
    EXPECT_NE(error.find("no sentences"), std::string::npos) << error;

    const std::string missing = (std::filesystem::temp_directory_path() / "no-such.nmea").string();
    EXPECT_FALSE(LoadReplaySentences(missing, &sentences, &error));
    EXPECT_NE(error.find(missing), std::string::npos) << error;

    EXPECT_FALSE(
        LoadReplaySentences(std::filesystem::temp_directory_path().string(), &sentences, &error));

    std::filesystem::remove(good);
    std::filesystem::remove(only_comments);
}

// ---------------------------------------------------------------------------------------------
// The committed sample track

int NmeaChecksum(const std::string& body) {
    int value = 0;
    for (const char c : body)
        value ^= static_cast<unsigned char>(c);
    return value;
}

// ddmm.mmmm / dddmm.mmmm and a hemisphere letter as signed degrees.
double Degrees(const std::string& value, const std::string& hemisphere) {
    const double number = std::stod(value);
    const double degrees = std::floor(number / 100.0);
    const double sign = (hemisphere == "S" || hemisphere == "W") ? -1.0 : 1.0;
    return sign * (degrees + (number - degrees * 100.0) / 60.0);
}

std::vector<std::string> Fields(const std::string& sentence) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t comma; (comma = sentence.find(',', start)) != std::string::npos; start = comma + 1)
        fields.push_back(sentence.substr(start, comma - start));
    fields.push_back(sentence.substr(start));
    return fields;
}

TEST(SampleTrackTest, IsAPlausibleDriveWithValidSentences) {
    const std::filesystem::path path =
        std::filesystem::path(__FILE__).parent_path().parent_path() / "data" / "sample-track.nmea";
    Sentences sentences;
    std::string error;
    ASSERT_TRUE(LoadReplaySentences(path.string(), &sentences, &error)) << error;

    const std::regex shape(R"(\$(GP[A-Z]{3}),([^*]*)\*([0-9A-F]{2})\r\n)");
    const std::regex latitude(R"(\d{2}[0-5]\d\.\d{4})");
    const std::regex longitude(R"(\d{3}[0-5]\d\.\d{4})");
    int rmc_count = 0;
    int gga_count = 0;
    double previous_lat = 0.0, previous_lon = 0.0, travelled_m = 0.0;
    for (const std::string& sentence : sentences) {
        std::smatch parts;
        ASSERT_TRUE(std::regex_match(sentence, parts, shape)) << sentence;
        // NMEA allows 82 characters; Navlume takes at most 128 bytes in one receive.
        EXPECT_LE(sentence.size(), 82u) << sentence;
        const std::string body = sentence.substr(1, sentence.find('*') - 1);
        EXPECT_EQ(NmeaChecksum(body), std::stoi(parts[3].str(), nullptr, 16)) << sentence;
        if (parts[1] == "GPGGA") ++gga_count;
        if (parts[1] != "GPRMC") continue;

        const std::vector<std::string> f = Fields(body);  // f[0] is "GPRMC"
        ASSERT_GE(f.size(), 10u) << sentence;
        EXPECT_EQ(f[2], "A") << sentence;
        EXPECT_TRUE(std::regex_match(f[3], latitude) && (f[4] == "N" || f[4] == "S")) << sentence;
        EXPECT_TRUE(std::regex_match(f[5], longitude) && (f[6] == "E" || f[6] == "W")) << sentence;
        const double lat = Degrees(f[3], f[4]);
        const double lon = Degrees(f[5], f[6]);
        if (rmc_count == 0) {
            EXPECT_EQ(f[3] + f[4] + f[5] + f[6], "4807.0380N01131.0000E");
        } else {
            // Consecutive fixes one second apart: a car in town moves less than 20 m.
            const double north_m = (lat - previous_lat) * 111195.0;
            const double east_m =
                (lon - previous_lon) * 111195.0 * std::cos(lat * std::numbers::pi / 180.0);
            const double step_m = std::hypot(north_m, east_m);
            EXPECT_LT(step_m, 20.0) << sentence;
            travelled_m += step_m;
        }
        previous_lat = lat;
        previous_lon = lon;
        ++rmc_count;
    }
    EXPECT_GE(rmc_count, 250);
    EXPECT_GT(gga_count, 0);
    EXPECT_GT(travelled_m, 1000.0);  // a drive, not a receiver standing still
}

// ---------------------------------------------------------------------------------------------
// The command line

struct OptionsCase {
    std::vector<const char*> arguments;  // after the program name
    ReplayCommand command;
    ReplayOptions expected;  // checked for kServe only
};

ReplayOptions Options(const char* file, const char* bind, uint16_t port, double rate, bool once) {
    ReplayOptions options;
    options.file = file;
    options.bind_address = bind;
    options.port = port;
    options.rate_hz = rate;
    options.once = once;
    return options;
}

TEST(ParseReplayOptionsTest, AcceptsTheDocumentedFormsAndRejectsTheRest) {
    const ReplayCommand serve = ReplayCommand::kServe;
    const ReplayCommand bad = ReplayCommand::kBadArguments;
    const ReplayCommand help = ReplayCommand::kShowHelp;
    const ReplayOptions none;
    const OptionsCase cases[] = {
        {{"t.nmea"}, serve, Options("t.nmea", "127.0.0.1", 10000, 1.0, false)},
        {{"t.nmea", "--port", "0", "--rate", "0.5", "--once", "--bind", "::1"},
         serve,
         Options("t.nmea", "::1", 0, 0.5, true)},
        {{"--rate", "1000", "--port", "65535", "t.nmea"},
         serve,
         Options("t.nmea", "127.0.0.1", 65535, 1000.0, false)},
        {{"--help"}, help, none},
        {{"t.nmea", "-h"}, help, none},
        {{}, bad, none},
        {{"a.nmea", "b.nmea"}, bad, none},
        {{"t.nmea", "--verbose"}, bad, none},
        {{"t.nmea", "--port"}, bad, none},
        {{"t.nmea", "--port", "65536"}, bad, none},
        {{"t.nmea", "--port", "-1"}, bad, none},
        {{"t.nmea", "--port", "80x"}, bad, none},
        {{"t.nmea", "--port", ""}, bad, none},
        {{"t.nmea", "--rate", "0"}, bad, none},
        {{"t.nmea", "--rate", "-2"}, bad, none},
        {{"t.nmea", "--rate", "1000.5"}, bad, none},
        {{"t.nmea", "--rate", "nan"}, bad, none},
        {{"t.nmea", "--rate", "inf"}, bad, none},
        {{"t.nmea", "--rate", "1,5"}, bad, none},
        {{"t.nmea", "--bind", ""}, bad, none},
    };
    for (const OptionsCase& c : cases) {
        std::vector<const char*> argv = {"nmea_replay"};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        std::string joined;
        for (const char* argument : c.arguments)
            joined += std::string(argument) + " ";
        ReplayOptions options;
        std::string error;
        const ReplayCommand command =
            ParseReplayOptions(static_cast<int>(argv.size()), argv.data(), &options, &error);
        ASSERT_EQ(command, c.command) << joined;
        if (command == bad) {
            EXPECT_FALSE(error.empty()) << joined;
        }
        if (command != serve) continue;
        EXPECT_EQ(options.file, c.expected.file) << joined;
        EXPECT_EQ(options.bind_address, c.expected.bind_address) << joined;
        EXPECT_EQ(options.port, c.expected.port) << joined;
        EXPECT_EQ(options.rate_hz, c.expected.rate_hz) << joined;
        EXPECT_EQ(options.once, c.expected.once) << joined;
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
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool connected() const { return connected_; }

    // One receive of up to max bytes, as the tracker does it: "" when the server has closed,
    // nullopt on a failure or time-out.
    std::optional<std::string> Receive(size_t max = kTrackerChunk) {
        std::string buffer(max, '\0');
        const ssize_t count = recv(fd_, buffer.data(), buffer.size(), 0);
        if (count < 0) return std::nullopt;
        buffer.resize(static_cast<size_t>(count));
        return buffer;
    }

    // Closes with a reset instead of an orderly FIN, as a crashed client would.
    void Reset() {
        const linger abort{1, 0};
        setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        Close();
    }

    void Close() {
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
        listening_ = server_.Listen("127.0.0.1", 0, &error);
        EXPECT_TRUE(listening_) << error;
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
        if (!EndsWithin(kStopBound)) {
            std::fprintf(stderr, "Serve did not return after Stop\n");
            std::abort();
        }
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
    bool listening_ = false;
    std::mutex mutex_;
    Sentences reports_;
    std::future<void> done_;
};

const char* const kLog =
    "# Name: three sentences\n"
    "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\n"
    "\n"
    "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\n"
    "# a comment between sentences\n"
    "$GPRMC,123520,A,4807.040,N,01131.010,E,022.4,084.4,230394,003.1,W*6B\n";

TEST(ReplayServerTest, ListensOnTheLoopbackAddressAndAFreePort) {
    RunningServer running(SplitReplaySentences(kLog), {});
    EXPECT_NE(running.port(), 0);
    EXPECT_EQ(running.server().LocalAddress(), "127.0.0.1:" + std::to_string(running.port()));

    ReplayServer second;
    std::string error;
    EXPECT_FALSE(second.Listen("127.0.0.1", running.port(), &error));
    EXPECT_NE(error.find("cannot listen on 127.0.0.1:"), std::string::npos) << error;
    EXPECT_FALSE(running.server().Listen("127.0.0.1", 0, &error));
}

// With the writes spaced out, every receive that starts at a line boundary holds exactly one
// sentence, so the tracker sees each "$GPRMC" at the start of a chunk.
TEST(ReplayServerTest, EachReceiveHoldsExactlyOneSentenceAndTheLogLoops) {
    const Sentences sentences = SplitReplaySentences(kLog);
    ASSERT_EQ(sentences.size(), 3u);
    RunningServer running(sentences, {.rate_hz = 10.0, .once = false});
    Client client(running.port());
    ASSERT_TRUE(client.connected());
    for (size_t i = 0; i < 2 * sentences.size() + 1; ++i) {
        EXPECT_EQ(client.Receive(), sentences[i % sentences.size()]) << "receive " << i;
    }
}

TEST(ReplayServerTest, OncePlaysTheLogToOneClientAndEnds) {
    const Sentences sentences = SplitReplaySentences(kLog);
    RunningServer running(sentences, {.rate_hz = 50.0, .once = true});
    Client client(running.port());
    ASSERT_TRUE(client.connected());
    std::string received;
    for (int i = 0; i < 10; ++i) {
        const std::optional<std::string> chunk = client.Receive();
        ASSERT_TRUE(chunk.has_value());
        if (chunk->empty()) break;  // the server closed the connection
        received += *chunk;
    }
    EXPECT_EQ(received, sentences[0] + sentences[1] + sentences[2]);
    EXPECT_TRUE(running.EndsWithin(kStopBound));
    ASSERT_EQ(running.reports().size(), 1u);
    EXPECT_NE(running.reports()[0].find("3 sentences sent, file played once"), std::string::npos);
}

// A client that leaves, in an orderly way or by a reset, ends only its own session; the client
// waiting behind it is then served from the first sentence.
TEST(ReplayServerTest, ClientsThatLeaveDoNotStopTheServer) {
    const Sentences sentences = SplitReplaySentences(kLog);
    RunningServer running(sentences, {.rate_hz = 20.0, .once = false});
    for (const bool reset : {false, true, false}) {
        Client leaving(running.port());
        ASSERT_TRUE(leaving.connected());
        EXPECT_EQ(leaving.Receive(), sentences[0]);
        Client waiting(running.port());
        ASSERT_TRUE(waiting.connected());
        reset ? leaving.Reset() : leaving.Close();
        EXPECT_EQ(waiting.Receive(), sentences[0]) << (reset ? "after a reset" : "after a close");
    }
    // Clients are served one at a time, so when a client got its first sentence every client
    // before it had been reported: five here (the sixth may be closing still).
    const Sentences reports = running.reports();
    ASSERT_GE(reports.size(), 5u);
    for (const std::string& line : reports) {
        EXPECT_TRUE(std::regex_match(line, std::regex(R"(client 127\.0\.0\.1:\d+: \d+ sentences? )"
                                                      R"(sent, client disconnected)")))
            << line;
    }
}

struct StopCase {
    const char* name;
    bool with_client;
    ReplayPace pace;
};

TEST(ReplayServerTest, StopEndsServeWithinABoundedTime) {
    const StopCase cases[] = {
        {"waiting for a client", false, {.rate_hz = 1.0, .once = false}},
        {"in a long wait between sentences", true, {.rate_hz = 0.01, .once = false}},
        {"in a --once session", true, {.rate_hz = 0.01, .once = true}},
    };
    for (const StopCase& c : cases) {
        RunningServer running(SplitReplaySentences(kLog), c.pace);
        std::optional<Client> client;
        if (c.with_client) {
            client.emplace(running.port());
            ASSERT_TRUE(client->connected()) << c.name;
            ASSERT_TRUE(client->Receive().has_value()) << c.name;  // the session has begun
        }
        running.server().Stop();
        EXPECT_TRUE(running.EndsWithin(kStopBound)) << c.name;
        if (c.with_client) {
            EXPECT_EQ(client->Receive(), "") << c.name << ": the connection is closed";
            ASSERT_EQ(running.reports().size(), 1u) << c.name;
            EXPECT_NE(running.reports()[0].find("server stopping"), std::string::npos) << c.name;
        }
    }
}

// A client that never reads fills the socket buffers; Stop must still end a server that waits
// for room to write.
TEST(ReplayServerTest, StopEndsServeWhileTheClientDoesNotRead) {
    const Sentences big = {std::string(64 * 1024, 'x') + "\r\n"};
    RunningServer running(big, {.rate_hz = kMaxReplayRateHz, .once = false});
    Client client(running.port());
    ASSERT_TRUE(client.connected());
    std::this_thread::sleep_for(300ms);  // time to fill the buffers; the check holds either way
    running.server().Stop();
    EXPECT_TRUE(running.EndsWithin(kStopBound));
}

}  // namespace

// nmea_replay's parts: its command line, the sentences of a recorded NMEA log, and the TCP server
// that plays them to clients at a steady pace. A library, so that the tests run it in-process.
//
// The server: Navlume takes a "$GPRMC" sentence only from a receive that starts with it, so
// every sentence goes out in a write of its own (with Nagle's algorithm off), and the writes are
// spaced by the rate so that the client reads them one at a time. Clients are served one after
// another: each gets the sentences from the first one; a client that connects meanwhile waits in
// the listen queue until the one before it has left.
//
// Threads: Listen and Serve run on one thread (Serve blocks). Stop may be called from any other
// thread and from a signal handler; it is the only way to end a looping Serve from outside.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// ---- The command line

// The command line of nmea_replay.
struct ReplayOptions {
    std::string file;                       // the NMEA log to play
    std::string bindAddress = "127.0.0.1";  // where to listen; "0.0.0.0" or "::" for all
    uint16_t port = 10000;                  // 0 lets the system pick a free port
    double rateHz = 1.0;                    // sentences written per second
    bool once = false;                      // play the file once to one client, then end
};

// Rates above this are refused: the waits are whole milliseconds.
constexpr double kMaxReplayRateHz = 1000.0;

enum class ReplayCommand { Serve, ShowHelp, BadArguments };

// Reads `FILE [--port N] [--rate HZ] [--once] [--bind ADDR]` (options in any order, before or
// after FILE) or `--help`. On BadArguments *error says what is wrong; *options then holds
// whatever was read so far and should not be used.
ReplayCommand ParseReplayOptions(int argc, const char* const* argv, ReplayOptions* options,
                                 std::string* error);

// The one-line usage text, without a line end.
const char* ReplayUsage();

// The usage line followed by a description of every option and of how clients are served.
const char* ReplayHelp();

// ---- The log

// Every line of text that is neither blank nor a '#' comment, without its surrounding blanks and
// ending in CR LF, in file order. Lines may end in LF, CR LF or a lone CR; the last line needs
// no line end. Receiver logs carry a '#' header that is not part of the stream.
std::vector<std::string> SplitReplaySentences(std::string_view text);

// Reads the file at path and splits it as SplitReplaySentences does. Returns false, with a
// message naming the file in *error, when the file cannot be read or holds no sentence.
bool LoadReplaySentences(const std::string& path, std::vector<std::string>* sentences,
                         std::string* error);

// ---- The server

// Receives one line (without line end) per client when its session ends: the client's address,
// how many sentences it got and why the session ended.
using ClientReport = std::function<void(const std::string& line)>;

struct ReplayPace {
    double rateHz = 1.0;  // sentences written per second, above 0
    bool once = false;    // play the sentences once to the first client, then return
};

class ReplayServer {
  public:
    ReplayServer() = default;
    ~ReplayServer();
    ReplayServer(const ReplayServer&) = delete;
    ReplayServer& operator=(const ReplayServer&) = delete;

    // Starts listening on address (numeric or a host name) and port; port 0 picks a free port.
    // Returns false, with a message in *error, when the address does not resolve or nothing
    // can be bound; a failed Listen may be retried, a second one after success fails.
    bool Listen(const std::string& address, uint16_t port, std::string* error);

    // Where the server listens, as "127.0.0.1:10000" or "[::1]:10000"; empty before Listen.
    const std::string& LocalAddress() const { return localAddress_; }
    uint16_t LocalPort() const { return localPort_; }

    // Serves clients until Stop is called, or with pace.once until the first client's session
    // has ended. Each sentence is written as it is (the caller supplies the line ends). Calls
    // report once per client. Returns at once without Listen or without sentences.
    void Serve(const std::vector<std::string>& sentences, const ReplayPace& pace,
               const ClientReport& report);

    // Makes a running Serve return promptly (it wakes every wait) and every later Serve at once.
    // Safe from any thread and from a signal handler (an atomic store and one write to a pipe).
    void Stop();

  private:
    enum class SessionEnd { PlayedOnce, ClientLeft, Stopped };
    enum class WaitResult { Stop, Ready, TimedOut };

    WaitResult WaitFor(int socket, short events, int timeoutMs) const;
    SessionEnd PlayTo(int client, const std::vector<std::string>& sentences, const ReplayPace& pace,
                      uint64_t* sent) const;
    bool WaitUntilDue(int client, std::chrono::steady_clock::time_point due, SessionEnd* end) const;
    bool SendSentence(int client, const std::string& sentence, SessionEnd* end) const;

    int listenSocket_ = -1;
    int wakeReadEnd_ = -1;
    std::atomic<int> wakeWriteEnd_{-1};
    std::atomic<bool> stopRequested_{false};
    std::string localAddress_;
    uint16_t localPort_ = 0;
};

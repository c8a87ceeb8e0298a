// A TCP server that plays a list of NMEA sentences to its clients at a steady pace.
//
// Navlume takes a "$GPRMC" sentence only from a receive that starts with it, so every sentence
// goes out in a write of its own (with Nagle's algorithm off), and the writes are spaced by the
// rate so that the client reads them one at a time.
//
// Clients are served one after another: each gets the sentences from the first one; a client
// that connects meanwhile waits in the listen queue until the one before it has left.
//
// Threads: Listen and Serve run on one thread (Serve blocks). Stop may be called from any other
// thread and from a signal handler; it is the only way to end a looping Serve from outside.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Receives one line (without line end) per client when its session ends: the client's address,
// how many sentences it got and why the session ended.
using ClientReport = std::function<void(const std::string& line)>;

struct ReplayPace {
    double rate_hz = 1.0;  // sentences written per second, above 0
    bool once = false;     // play the sentences once to the first client, then return
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
    const std::string& LocalAddress() const { return local_address_; }
    uint16_t LocalPort() const { return local_port_; }

    // Serves clients until Stop is called, or with pace.once until the first client's session
    // has ended. Each sentence is written as it is (the caller supplies the line ends). Calls
    // report once per client. Returns at once without Listen or without sentences.
    void Serve(const std::vector<std::string>& sentences, const ReplayPace& pace,
               const ClientReport& report);

    // Makes a running Serve return promptly (it wakes every wait) and every later Serve at once.
    // Safe from any thread and from a signal handler (an atomic store and one write to a pipe).
    void Stop();

  private:
    enum class SessionEnd { kPlayedOnce, kClientLeft, kStopped };
    enum class WaitResult { kStop, kReady, kTimedOut };

    WaitResult WaitFor(int socket, short events, int timeout_ms) const;
    SessionEnd PlayTo(int client, const std::vector<std::string>& sentences, const ReplayPace& pace,
                      uint64_t* sent) const;
    bool WaitUntilDue(int client, std::chrono::steady_clock::time_point due, SessionEnd* end) const;
    bool SendSentence(int client, const std::string& sentence, SessionEnd* end) const;

    int listen_socket_ = -1;
    int wake_read_end_ = -1;
    std::atomic<int> wake_write_end_{-1};
    std::atomic<bool> stop_requested_{false};
    std::string local_address_;
    uint16_t local_port_ = 0;
};

#include "tools/replay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "runtime/sigpipe.h"

namespace {

constexpr unsigned long kLargestPort = 65535;

// The whole text must be a decimal port number; strtoul alone would accept "-1" and "12abc".
bool ParsePort(const char* text, uint16_t* port) {
    if (*text < '0' || *text > '9') return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (errno != 0 || *end != '\0' || value > kLargestPort) return false;
    *port = static_cast<uint16_t>(value);
    return true;
}

// A positive rate up to kMaxReplayRateHz, written as a decimal number ("1", "0.5", "20").
// The tool never changes the locale, so strtod reads a "." decimal point.
bool ParseRate(const char* text, double* rate) {
    if ((*text < '0' || *text > '9') && *text != '.') return false;
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text, &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(value)) return false;
    if (value <= 0.0 || value > kMaxReplayRateHz) return false;
    *rate = value;
    return true;
}

constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kLineEnd = "\r\n";

std::string_view TrimBlanks(std::string_view line) {
    const size_t first = line.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    const size_t last = line.find_last_not_of(kBlanks);
    return line.substr(first, last - first + 1);
}

// Reads the whole file into *text; false with errno describing the failure.
bool ReadWholeFile(const std::string& path, std::string* text) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    char block[4096];
    size_t count = 0;
    while ((count = std::fread(block, 1, sizeof block, file)) > 0)
        text->append(block, count);
    // fopen accepts a directory on some systems; the read then fails with EISDIR.
    const bool failed = std::ferror(file) != 0;
    const int readErrno = errno;
    std::fclose(file);
    errno = readErrno;
    return !failed;
}

using Clock = std::chrono::steady_clock;

// One send to a client; a client that has gone must not kill the server with SIGPIPE.
ssize_t SendToClient(int client, const char* bytes, size_t count) {
#if NAVLUME_HAVE_MSG_NOSIGNAL
    return send(client, bytes, count, MSG_NOSIGNAL);
#elif NAVLUME_HAVE_SO_NOSIGPIPE
    return send(client, bytes, count, 0);  // PrepareClient set SO_NOSIGPIPE
#else
    return SendWithoutSigpipe(client, bytes, count, 0);
#endif
}

constexpr int kListenBacklog = 8;
// After a failed accept (out of descriptors, say), wait this long so the loop does not spin.
constexpr int kAcceptRetryMs = 100;

bool SetNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL, 0);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

void SetCloseOnExec(int fd) {
    fcntl(fd, F_SETFD, FD_CLOEXEC);
}

// "127.0.0.1:10000" or "[::1]:10000"; "?" when the address cannot be written.
std::string DescribeAddress(const sockaddr* address, socklen_t length) {
    char host[NI_MAXHOST];
    char service[NI_MAXSERV];
    if (getnameinfo(address, length, host, sizeof host, service, sizeof service,
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return "?";
    }
    if (address->sa_family == AF_INET6) return std::string("[") + host + "]:" + service;
    return std::string(host) + ":" + service;
}

uint16_t PortOf(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
}

// A listening, non-blocking socket bound to one resolved address, or -1 with errno set.
int ListenOn(const addrinfo& candidate) {
    const int fd = socket(candidate.ai_family, candidate.ai_socktype, candidate.ai_protocol);
    if (fd < 0) return -1;
    SetCloseOnExec(fd);
    // Restarting the server right after a session must not fail on the old port's TIME_WAIT.
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, candidate.ai_addr, candidate.ai_addrlen) != 0 || listen(fd, kListenBacklog) != 0 ||
        !SetNonBlocking(fd)) {
        const int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

// Sockets inherit nothing of this from the listening socket on every system, so set it here.
void PrepareClient(int client) {
    SetCloseOnExec(client);
    SetNonBlocking(client);
    // Each sentence must leave as a segment of its own, not be held back to join the next.
    const int on = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
#if NAVLUME_HAVE_SO_NOSIGPIPE
    setsockopt(client, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif
}

// Reads and drops whatever the client sent. True when the client has closed or the
// connection has failed.
bool ClientHasLeft(int client) {
    char discard[512];
    const ssize_t count = recv(client, discard, sizeof discard, 0);
    if (count > 0) return false;
    if (count == 0) return true;
    return errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
}

}  // namespace

ReplayCommand ParseReplayOptions(int argc, const char* const* argv, ReplayOptions* options,
                                 std::string* error) {
    bool haveFile = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") return ReplayCommand::ShowHelp;
        if (argument == "--once") {
            options->once = true;
            continue;
        }
        const bool takesValue =
            argument == "--port" || argument == "--rate" || argument == "--bind";
        if (takesValue) {
            if (i + 1 >= argc) {
                *error = std::string(argument) + " needs a value";
                return ReplayCommand::BadArguments;
            }
            const char* value = argv[++i];
            if (argument == "--port" && !ParsePort(value, &options->port)) {
                *error =
                    "--port needs a number from 0 to 65535, not \"" + std::string(value) + "\"";
                return ReplayCommand::BadArguments;
            }
            if (argument == "--rate" && !ParseRate(value, &options->rateHz)) {
                *error = "--rate needs a number above 0 and at most 1000, not \"" +
                         std::string(value) + "\"";
                return ReplayCommand::BadArguments;
            }
            if (argument == "--bind") {
                if (*value == '\0') {
                    *error = "--bind needs an address";
                    return ReplayCommand::BadArguments;
                }
                options->bindAddress = value;
            }
            continue;
        }
        if (argument.starts_with("-")) {
            *error = "unknown option " + std::string(argument);
            return ReplayCommand::BadArguments;
        }
        if (haveFile) {
            *error = "only one FILE, got \"" + options->file + "\" and \"" + std::string(argument) +
                     "\"";
            return ReplayCommand::BadArguments;
        }
        options->file = argument;
        haveFile = true;
    }
    if (!haveFile) {
        *error = "no FILE given";
        return ReplayCommand::BadArguments;
    }
    return ReplayCommand::Serve;
}

const char* ReplayUsage() {
    return "usage: nmea_replay FILE [--port N] [--rate HZ] [--once] [--bind ADDR]";
}

const char* ReplayHelp() {
    return "usage: nmea_replay FILE [--port N] [--rate HZ] [--once] [--bind ADDR]\n"
           "\n"
           "Plays the NMEA 0183 sentences of FILE to TCP clients, one sentence per write,\n"
           "each ending in CR LF. Blank lines and lines starting with '#' are skipped.\n"
           "\n"
           "  --port N     port to listen on (default 10000; 0 picks a free port)\n"
           "  --rate HZ    sentences per second (default 1; at most 1000). Every line counts,\n"
           "               $GPGGA as well as $GPRMC.\n"
           "  --once       play FILE once to the first client, close, and end\n"
           "               (default: loop FILE and serve client after client)\n"
           "  --bind ADDR  address to listen on (default 127.0.0.1; 0.0.0.0 or :: for all)\n"
           "\n"
           "Clients are served one at a time, each from the first sentence of FILE; a client\n"
           "that connects meanwhile waits until the one before it leaves. One line per client\n"
           "goes to stderr when it leaves. \"listening on ADDR:PORT\" goes to stdout.\n"
           "Ctrl-C or SIGTERM ends the server.\n";
}

std::vector<std::string> SplitReplaySentences(std::string_view text) {
    std::vector<std::string> sentences;
    while (!text.empty()) {
        const size_t end = text.find_first_of(kLineEnd);
        const std::string_view line = TrimBlanks(text.substr(0, end));
        if (!line.empty() && line.front() != '#') {
            sentences.emplace_back(line);
            sentences.back().append(kLineEnd);
        }
        if (end == std::string_view::npos) break;
        // A CR LF pair is one line end; a lone CR or LF is one as well.
        const size_t next = text.compare(end, kLineEnd.size(), kLineEnd) == 0 ? end + 2 : end + 1;
        text.remove_prefix(next);
    }
    return sentences;
}

bool LoadReplaySentences(const std::string& path, std::vector<std::string>* sentences,
                         std::string* error) {
    std::string text;
    if (!ReadWholeFile(path, &text)) {
        *error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    *sentences = SplitReplaySentences(text);
    if (sentences->empty()) {
        *error = path + " holds no sentences (only blank or '#' lines)";
        return false;
    }
    return true;
}

ReplayServer::~ReplayServer() {
    for (const int fd : {listenSocket_, wakeReadEnd_, wakeWriteEnd_.load()}) {
        if (fd >= 0) close(fd);
    }
}

bool ReplayServer::Listen(const std::string& address, uint16_t port, std::string* error) {
    const std::string where = address + ":" + std::to_string(port);
    if (listenSocket_ >= 0) {
        *error = "already listening on " + localAddress_;
        return false;
    }
    if (wakeReadEnd_ < 0) {
        int wake[2];
        if (pipe(wake) != 0) {
            *error = std::string("cannot create the stop pipe: ") + std::strerror(errno);
            return false;
        }
        for (const int fd : wake) {
            SetCloseOnExec(fd);
            SetNonBlocking(fd);  // Stop must never block, not even on a full pipe
        }
        wakeReadEnd_ = wake[0];
        wakeWriteEnd_.store(wake[1]);
    }

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int status = getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (status != 0) {
        *error = "cannot listen on " + where + ": " + gai_strerror(status);
        return false;
    }
    int lastErrno = 0;
    for (const addrinfo* candidate = found; candidate != nullptr && listenSocket_ < 0;
         candidate = candidate->ai_next) {
        listenSocket_ = ListenOn(*candidate);
        if (listenSocket_ < 0) lastErrno = errno;
    }
    freeaddrinfo(found);
    if (listenSocket_ < 0) {
        *error = "cannot listen on " + where + ": " + std::strerror(lastErrno);
        return false;
    }

    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    getsockname(listenSocket_, reinterpret_cast<sockaddr*>(&bound), &length);
    localAddress_ = DescribeAddress(reinterpret_cast<const sockaddr*>(&bound), length);
    localPort_ = PortOf(bound);
    return true;
}

void ReplayServer::Stop() {
    stopRequested_.store(true);
    const int fd = wakeWriteEnd_.load();
    if (fd < 0) return;
    // Nothing ever reads the pipe: once it holds a byte every later wait sees the stop. A
    // failed write (EAGAIN on a full pipe) means it holds one already.
    const char byte = 1;
    const ssize_t written = write(fd, &byte, 1);
    (void)written;
}

ReplayServer::WaitResult ReplayServer::WaitFor(int socket, short events, int timeoutMs) const {
    pollfd watched[2] = {{wakeReadEnd_, POLLIN, 0}, {socket, events, 0}};
    for (;;) {
        if (stopRequested_.load()) return WaitResult::Stop;
        const int ready = poll(watched, 2, timeoutMs);
        if (ready < 0 && errno == EINTR) continue;  // a signal; its handler may have called Stop
        if (ready < 0 || watched[0].revents != 0) return WaitResult::Stop;
        return ready == 0 ? WaitResult::TimedOut : WaitResult::Ready;
    }
}

bool ReplayServer::WaitUntilDue(int client, Clock::time_point due, SessionEnd* end) const {
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (now >= due) return true;
        // Round up, so the wait never ends a little early and then spins.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - now);
        const WaitResult result = WaitFor(client, POLLIN, static_cast<int>(left.count()));
        if (result == WaitResult::Stop) {
            *end = SessionEnd::Stopped;
            return false;
        }
        if (result == WaitResult::Ready && ClientHasLeft(client)) {
            *end = SessionEnd::ClientLeft;
            return false;
        }
    }
}

bool ReplayServer::SendSentence(int client, const std::string& sentence, SessionEnd* end) const {
    size_t offset = 0;
    while (offset < sentence.size()) {
        const ssize_t count =
            SendToClient(client, sentence.data() + offset, sentence.size() - offset);
        if (count > 0) {
            offset += static_cast<size_t>(count);
            continue;
        }
        if (count < 0 && errno == EINTR) continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The client is not reading; wait for room rather than drop half a sentence.
            if (WaitFor(client, POLLOUT, -1) == WaitResult::Stop) {
                *end = SessionEnd::Stopped;
                return false;
            }
            continue;
        }
        *end = SessionEnd::ClientLeft;  // EPIPE, ECONNRESET and the like
        return false;
    }
    return true;
}

ReplayServer::SessionEnd ReplayServer::PlayTo(int client, const std::vector<std::string>& sentences,
                                              const ReplayPace& pace, uint64_t* sent) const {
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(1.0 / pace.rateHz));
    Clock::time_point due = Clock::now();  // the first sentence goes out at once
    size_t index = 0;
    SessionEnd end = SessionEnd::Stopped;
    for (;;) {
        if (!WaitUntilDue(client, due, &end) || !SendSentence(client, sentences[index], &end))
            return end;
        ++*sent;
        if (++index == sentences.size()) {
            if (pace.once) return SessionEnd::PlayedOnce;
            index = 0;
        }
        // Keep to the schedule, but after falling behind (a client that stopped reading) start
        // a new one: catching up would send a burst that the client reads as one chunk.
        due += period;
        const Clock::time_point now = Clock::now();
        if (due <= now) due = now + period;
    }
}

void ReplayServer::Serve(const std::vector<std::string>& sentences, const ReplayPace& pace,
                         const ClientReport& report) {
    if (listenSocket_ < 0 || sentences.empty() || !(pace.rateHz > 0.0)) return;
    for (;;) {
        if (WaitFor(listenSocket_, POLLIN, -1) == WaitResult::Stop) return;
        sockaddr_storage peer{};
        socklen_t peerLength = sizeof peer;
        const int client = accept(listenSocket_, reinterpret_cast<sockaddr*>(&peer), &peerLength);
        if (client < 0) {
            // EAGAIN: the connection went away between poll and accept.
            const bool transient =
                errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED;
            if (!transient && WaitFor(-1, 0, kAcceptRetryMs) == WaitResult::Stop) return;
            continue;
        }
        PrepareClient(client);
        uint64_t sent = 0;
        const SessionEnd end = PlayTo(client, sentences, pace, &sent);
        close(client);
        if (report) {
            const char* reason = end == SessionEnd::PlayedOnce   ? "file played once"
                                 : end == SessionEnd::ClientLeft ? "client disconnected"
                                                                 : "server stopping";
            report("client " +
                   DescribeAddress(reinterpret_cast<const sockaddr*>(&peer), peerLength) + ": " +
                   std::to_string(sent) + (sent == 1 ? " sentence" : " sentences") + " sent, " +
                   reason);
        }
        if (pace.once || end == SessionEnd::Stopped) return;
    }
}

// nmea_replay: plays a recorded NMEA 0183 log to TCP clients, for trying Navlume without a GPS
// receiver and for end-to-end tests. Run with --help for the options.
//
// Exit status: 0 after Ctrl-C, SIGTERM or a finished --once session; 1 when FILE cannot be
// read or the port cannot be bound; 2 on a bad command line.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/replay.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Set before the handlers are installed and never changed afterwards.
ReplayServer* runningServer = nullptr;

void RequestStop(int) {
    const int saved = errno;  // the interrupted code may be about to read errno
    runningServer->Stop();
    errno = saved;
}

void InstallStopHandlers() {
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void PrintReport(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    ReplayOptions options;
    std::string error;
    switch (ParseReplayOptions(argc, argv, &options, &error)) {
        case ReplayCommand::ShowHelp:
            std::fputs(ReplayHelp(), stdout);
            return 0;
        case ReplayCommand::BadArguments:
            std::fprintf(stderr, "nmea_replay: %s\n%s\n", error.c_str(), ReplayUsage());
            return kExitUsage;
        case ReplayCommand::Serve:
            break;
    }

    std::vector<std::string> sentences;
    if (!LoadReplaySentences(options.file, &sentences, &error)) {
        std::fprintf(stderr, "nmea_replay: %s\n", error.c_str());
        return kExitFailure;
    }
    ReplayServer server;
    if (!server.Listen(options.bindAddress, options.port, &error)) {
        std::fprintf(stderr, "nmea_replay: %s\n", error.c_str());
        return kExitFailure;
    }
    runningServer = &server;
    InstallStopHandlers();

    // Scripts and tests read the port from this line, so it goes out at once.
    std::printf("listening on %s\n", server.LocalAddress().c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "nmea_replay: %zu sentences from %s at %g Hz%s\n", sentences.size(),
                 options.file.c_str(), options.rateHz, options.once ? ", once" : ", looping");

    server.Serve(sentences, ReplayPace{options.rateHz, options.once}, PrintReport);
    return 0;
}

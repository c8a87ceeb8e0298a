#include "tools/replay_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string_view>

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

}  // namespace

ReplayCommand ParseReplayOptions(int argc, const char* const* argv, ReplayOptions* options,
                                 std::string* error) {
    bool have_file = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") return ReplayCommand::kShowHelp;
        if (argument == "--once") {
            options->once = true;
            continue;
        }
        const bool takes_value =
            argument == "--port" || argument == "--rate" || argument == "--bind";
        if (takes_value) {
            if (i + 1 >= argc) {
                *error = std::string(argument) + " needs a value";
                return ReplayCommand::kBadArguments;
            }
            const char* value = argv[++i];
            if (argument == "--port" && !ParsePort(value, &options->port)) {
                *error =
                    "--port needs a number from 0 to 65535, not \"" + std::string(value) + "\"";
                return ReplayCommand::kBadArguments;
            }
            if (argument == "--rate" && !ParseRate(value, &options->rate_hz)) {
                *error = "--rate needs a number above 0 and at most 1000, not \"" +
                         std::string(value) + "\"";
                return ReplayCommand::kBadArguments;
            }
            if (argument == "--bind") {
                if (*value == '\0') {
                    *error = "--bind needs an address";
                    return ReplayCommand::kBadArguments;
                }
                options->bind_address = value;
            }
            continue;
        }
        if (argument.starts_with("-")) {
            *error = "unknown option " + std::string(argument);
            return ReplayCommand::kBadArguments;
        }
        if (have_file) {
            *error = "only one FILE, got \"" + options->file + "\" and \"" + std::string(argument) +
                     "\"";
            return ReplayCommand::kBadArguments;
        }
        options->file = argument;
        have_file = true;
    }
    if (!have_file) {
        *error = "no FILE given";
        return ReplayCommand::kBadArguments;
    }
    return ReplayCommand::kServe;
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

#include "app/globe_kml.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <limits>
#include <new>
#include <string>

#include "runtime/atomic_file.h"
#include "runtime/charset.h"

namespace {

using Clock = std::chrono::steady_clock;

// How long a failed position write keeps further ones from trying.
constexpr Clock::duration kRetryPause = std::chrono::seconds(1);

// The earliest time at which WritePositionKml tries again after a failure.
std::atomic<Clock::rep> retryAfter{std::numeric_limits<Clock::rep>::min()};

// The references written for the bytes that cannot stand for themselves in XML text. Tab and
// line breaks are written as references too, so that no parser normalises them away.
struct Reference {
    unsigned char byte;
    const char* text;
};
constexpr Reference kReferences[] = {
    {'&', "&amp;"},   {'<', "&lt;"},  {'>', "&gt;"},   {'"', "&quot;"},
    {'\'', "&apos;"}, {'\t', "&#9;"}, {'\n', "&#10;"}, {'\r', "&#13;"},
};

// Appends text as XML character data in UTF-8: the runtime's texts are Latin-1, and the
// coordinates are normally plain numbers but are not trusted to be.
void AppendEscaped(std::string& out, const char* text) {
    if (text == nullptr) return;
    for (const char* at = text; *at != '\0'; ++at) {
        const auto byte = static_cast<unsigned char>(*at);
        if (byte >= 0x80) {
            AppendUtf8(out, byte);  // a Latin-1 byte is its own code point
            continue;
        }
        const char* reference = nullptr;
        for (const Reference& candidate : kReferences) {
            if (candidate.byte == byte) reference = candidate.text;
        }
        if (reference != nullptr) {
            out += reference;
        } else if (byte < 0x20) {
            out += '?';  // XML 1.0 has no way to write the other control characters
        } else {
            out += static_cast<char>(byte);
        }
    }
}

void AppendInteger(std::string& out, int64_t value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

// The bytes that may stand for themselves in the path of a file URL; all others are written
// as %XX of their (UTF-8) bytes.
bool IsPathSafe(unsigned char byte) {
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
           (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' ||
           byte == '~' || byte == '/';
}

void AppendPercentEncoded(std::string& out, const std::string& path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (IsPathSafe(byte)) {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        }
    }
}

std::string PositionKml(const char* latitude, const char* longitude, int64_t rangeMetres) {
    std::string kml;
    kml.reserve(640);
    kml +=
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n"
        "<Document>\n"
        "  <LookAt>\n"
        "    <longitude>";
    AppendEscaped(kml, longitude);
    kml += "</longitude>\n    <latitude>";
    AppendEscaped(kml, latitude);
    kml +=
        "</latitude>\n"
        "    <altitude>0</altitude>\n"
        "    <heading>0</heading>\n"
        "    <tilt>0</tilt>\n"
        "    <range>";
    AppendInteger(kml, rangeMetres);
    kml +=
        "</range>\n"
        "    <altitudeMode>relativeToGround</altitudeMode>\n"
        "  </LookAt>\n"
        "  <Placemark>\n"
        "    <name>Navlume</name>\n"
        "    <Point>\n"
        "      <coordinates>";
    // KML puts the longitude first.
    AppendEscaped(kml, longitude);
    kml += ',';
    AppendEscaped(kml, latitude);
    kml +=
        ",0</coordinates>\n"
        "    </Point>\n"
        "  </Placemark>\n"
        "</Document>\n"
        "</kml>\n";
    return kml;
}

std::string NetworkLinkKml(const std::string& positionPath) {
    std::string kml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n"
        "<Document>\n"
        "  <NetworkLink>\n"
        "    <name>Navlume</name>\n"
        "    <flyToView>1</flyToView>\n"
        "    <Link>\n"
        "      <href>file://";
    AppendPercentEncoded(kml, positionPath);
    kml +=
        "</href>\n"
        "      <refreshMode>onInterval</refreshMode>\n"
        "      <refreshInterval>1</refreshInterval>\n"
        "    </Link>\n"
        "  </NetworkLink>\n"
        "</Document>\n"
        "</kml>\n";
    return kml;
}

// The working directory's absolute path; empty when it has none (it was removed, or lies
// beyond what the process may see).
std::string WorkingDirectory() {
    std::string path(256, '\0');
    while (getcwd(path.data(), path.size()) == nullptr) {
        if (errno != ERANGE) return {};
        path.resize(path.size() * 2);
    }
    path.resize(path.find('\0'));
    return path;
}

enum class FileState { Missing, Readable, Unusable };

// What lies at name in the working directory: nothing, a regular file that can be opened for
// reading, or something else (a directory, a FIFO, a file the process may not read). Opens
// without blocking, so that a FIFO put there cannot hold the caller.
FileState StateOf(const char* name) {
    const int descriptor = open(name, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (descriptor < 0) return errno == ENOENT ? FileState::Missing : FileState::Unusable;
    struct stat status {};
    const bool regular = fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
    close(descriptor);
    return regular ? FileState::Readable : FileState::Unusable;
}

}  // namespace

bool WritePositionKml(const char* latitude, const char* longitude, int64_t rangeMetres) {
    const Clock::rep now = Clock::now().time_since_epoch().count();
    if (now < retryAfter.load(std::memory_order_relaxed)) return false;
    bool written = false;
    try {
        const std::string kml = PositionKml(latitude, longitude, rangeMetres);
        written =
            ReplaceFileContents(kPositionKmlFile, kml.data(), kml.size(), FileFlush::NotFlushed);
    } catch (const std::bad_alloc&) {
        written = false;
    }
    if (!written) retryAfter.store(now + kRetryPause.count(), std::memory_order_relaxed);
    return written;
}

bool EnsureNetworkLinkKml() {
    switch (StateOf(kNetworkLinkKmlFile)) {
        case FileState::Readable:
            return true;  // ours or edited by the user: left alone
        case FileState::Unusable:
            return false;
        case FileState::Missing:
            break;
    }
    try {
        const std::string directory = WorkingDirectory();
        if (directory.empty()) return false;
        // Flushed: it is written once and then kept, so a crash must not leave it empty.
        const std::string kml = NetworkLinkKml(directory + "/" + kPositionKmlFile);
        return ReplaceFileContents(kNetworkLinkKmlFile, kml.data(), kml.size());
    } catch (const std::bad_alloc&) {
        return false;
    }
}

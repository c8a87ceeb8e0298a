#include "app/globe_kml.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <new>
#include <string>

#include "runtime/atomic_file.h"
#include "runtime/charset.h"

namespace {

constexpr double kKilometresPerNauticalMile = 1.852;

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

// One decimal, "." whatever the locale.
void AppendOneDecimal(std::string& out, double value) {
    char digits[32];
    const auto result =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, 1);
    out.append(digits, result.ptr);
}

// "Speed 41.5 km/h, course 84.4°" with the parts the position has; empty when it has neither.
void AppendDescription(std::string& out, const Position& position) {
    if (position.speedKnots) {
        out += "Speed ";
        AppendOneDecimal(out, *position.speedKnots * kKilometresPerNauticalMile);
        out += " km/h";
    }
    if (position.courseDegrees) {
        out += position.speedKnots ? ", course " : "Course ";
        AppendOneDecimal(out, *position.courseDegrees);
        out += "\xC2\xB0";  // the degree sign in UTF-8
    }
}

// The position file's text, built in kml (emptied first, its capacity kept).
void PositionKml(std::string& kml, const Position& position, const Trail& trail,
                 int64_t rangeMetres) {
    const char* latitude = position.latitude.c_str();
    const char* longitude = position.longitude.c_str();
    kml.clear();
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
        "    <name>Navlume</name>\n";
    if (position.speedKnots || position.courseDegrees) {
        kml += "    <description>";
        AppendDescription(kml, position);
        kml += "</description>\n";
    }
    if (!position.fixTime.empty()) {
        kml += "    <TimeStamp>\n      <when>";
        AppendEscaped(kml, position.fixTime.c_str());
        kml += "</when>\n    </TimeStamp>\n";
    }
    kml +=
        "    <Point>\n"
        "      <coordinates>";
    // KML puts the longitude first.
    AppendEscaped(kml, longitude);
    kml += ',';
    AppendEscaped(kml, latitude);
    kml +=
        ",0</coordinates>\n"
        "    </Point>\n"
        "  </Placemark>\n";
    if (trail.Size() > 0) {
        kml +=
            "  <Placemark>\n"
            "    <name>Navlume trail</name>\n"
            "    <LineString>\n"
            "      <tessellate>1</tessellate>\n"
            "      <coordinates>\n";
        trail.AppendLines(kml);
        kml +=
            "      </coordinates>\n"
            "    </LineString>\n"
            "  </Placemark>\n";
    }
    kml +=
        "</Document>\n"
        "</kml>\n";
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

bool WritePositionKml(const Position& position, const Trail& trail, int64_t rangeMetres) {
    bool written = false;
    try {
        // Kept between calls: a full trail makes some 30 KB, which need not be allocated anew
        // for every position.
        static thread_local std::string kml;
        PositionKml(kml, position, trail, rangeMetres);
        written =
            ReplaceFileContents(kPositionKmlFile, kml.data(), kml.size(), FileFlush::NotFlushed);
    } catch (const std::bad_alloc&) {
        written = false;
    }
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

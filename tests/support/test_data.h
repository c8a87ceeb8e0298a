// The recorded receiver logs (in data/) and the golden files (tests/data/<name>.chk: the expected
// output; a log's .chk has one "latitude longitude" line per position the reader accepts).
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace test_data {

inline const char* const kLogs[] = {"GPSmap-76S.log", "quectel-l76k-nmea.log",
                                    "sirfstarv-nmea.log"};

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// The golden file of name ("viewer-script", "sirfstarv-nmea.log", ...).
inline std::string Golden(const std::string& name) {
    return ReadFile(std::filesystem::path(NAVLUME_TEST_DATA) / (name + ".chk"));
}

// The golden viewer script (48.117300, 11.516667, 500, CR LF) with other values put in.
inline std::string GoldenScript(const std::string& latitude, const std::string& longitude,
                                const std::string& distance,
                                const std::string& lineBreak = "\r\n") {
    std::string script = Golden("viewer-script");
    const auto replace = [&script](const std::string& from, const std::string& to) {
        for (size_t at = script.find(from); at != std::string::npos;
             at = script.find(from, at + to.size()))
            script.replace(at, from.size(), to);
    };
    // Each value after its line's fixed text, so that a value can never be taken for another.
    replace("To 48.117300", "To " + latitude);
    replace("To 11.516667", "To " + longitude);
    replace("To 500", "To " + distance);
    replace("\r\n", lineBreak);
    return script;
}

// The sentences of a log as its receiver sends them: the "#" header lines dropped, each line
// ended with CR LF.
inline std::vector<std::string> SentencesOfLog(const std::string& log) {
    std::istringstream lines(ReadFile(std::filesystem::path(NAVLUME_LOG_DATA) / log));
    std::vector<std::string> sentences;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] != '#') sentences.push_back(line + "\r\n");
    }
    return sentences;
}

inline std::string StreamOfLog(const std::string& log) {
    std::string stream;
    for (const std::string& sentence : SentencesOfLog(log))
        stream += sentence;
    return stream;
}

inline std::vector<std::string> CheckedPositions(const std::string& log) {
    std::istringstream lines(Golden(log));
    std::vector<std::string> positions;
    for (std::string line; std::getline(lines, line);)
        positions.push_back(line);
    return positions;
}

}  // namespace test_data

// The recorded receiver logs in tests/data and the positions checked in beside each one
// (<log>.chk: one "latitude longitude" line per position the reader accepts).
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace nmea_logs {

inline const char* const kLogs[] = {"GPSmap-76S.log", "quectel-l76k-nmea.log",
                                    "sirfstarv-nmea.log"};

inline std::filesystem::path DataPath(const std::string& name) {
    return std::filesystem::path(NAVLUME_TEST_DATA) / name;
}

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// The sentences of a log as its receiver sends them: the "#" header lines dropped, each line
// ended with CR LF.
inline std::vector<std::string> SentencesOfLog(const std::string& log) {
    std::istringstream lines(ReadFile(DataPath(log)));
    std::vector<std::string> sentences;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        sentences.push_back(line + "\r\n");
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
    std::istringstream lines(ReadFile(DataPath(log + ".chk")));
    std::vector<std::string> positions;
    for (std::string line; std::getline(lines, line);)
        positions.push_back(line);
    return positions;
}

}  // namespace nmea_logs

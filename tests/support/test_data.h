// The recorded receiver logs (in data/) and the golden files (tests/data/<name>.chk: the expected
// output; a log's .chk has one "latitude longitude" line per position the reader accepts).
#pragma once

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace test_data {

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

// text with every occurrence of each first text replaced by its second, in order.
inline std::string Replaced(std::string text,
                            std::initializer_list<std::pair<std::string, std::string>> changes) {
    for (const auto& [from, to] : changes) {
        for (size_t at = text.find(from); at != std::string::npos;
             at = text.find(from, at + to.size()))
            text.replace(at, from.size(), to);
    }
    return text;
}

// The golden viewer script (48.117300, 11.516667, 500, CR LF) with other values put in, each
// after its line's fixed text so that one value is never taken for another.
inline std::string GoldenScript(const std::string& latitude, const std::string& longitude,
                                const std::string& distance,
                                const std::string& lineBreak = "\r\n") {
    return Replaced(Golden("viewer-script"), {{"To 48.117300", "To " + latitude},
                                              {"To 11.516667", "To " + longitude},
                                              {"To 500", "To " + distance},
                                              {"\r\n", lineBreak}});
}

// The lines of text, without line ends; with log, only the sentences, each ended with CR LF.
inline std::vector<std::string> Lines(const std::string& text, bool log = false) {
    std::istringstream lines(text);
    std::vector<std::string> found;
    for (std::string line; std::getline(lines, line);) {
        if (!log) found.push_back(line);
        if (log && line.ends_with('\r')) line.pop_back();
        if (log && !line.empty() && line[0] != '#') found.push_back(line + "\r\n");
    }
    return found;
}

// The sentences of a log as its receiver sends them: the "#" header lines dropped.
inline std::vector<std::string> SentencesOfLog(const std::string& log) {
    return Lines(ReadFile(std::filesystem::path(NAVLUME_LOG_DATA) / log), true);
}

inline std::string StreamOfLog(const std::string& log) {
    std::string stream;
    for (const std::string& sentence : SentencesOfLog(log))
        stream += sentence;
    return stream;
}

inline std::vector<std::string> CheckedPositions(const std::string& log) {
    return Lines(Golden(log));
}

}  // namespace test_data

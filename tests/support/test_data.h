// The receiver logs (data/) and golden files (tests/data/<name>.chk; a log's has a "latitude
// longitude" line per accepted position); a missing golden fails. NAVLUME_REBUILD_GOLDENS=1
// makes MatchesGolden write what the code gives (once per name and run): read before committing.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/scratch_directory.h"

namespace test_data {

inline std::filesystem::path GoldenPath(const std::string& name) {
    return std::filesystem::path(NAVLUME_TEST_DATA) / (name + ".chk");
}

// The golden file of name ("viewer-script", "sirfstarv-nmea.log", ...); a missing one fails.
inline std::string Golden(const std::string& name) {
    if (!std::filesystem::is_regular_file(GoldenPath(name)))
        ADD_FAILURE() << "golden file " << GoldenPath(name) << " is missing";
    return ReadBytes(GoldenPath(name));
}

// EXPECT_TRUE(MatchesGolden(name, actual)): actual is the golden text (or, rebuilding, becomes it).
inline ::testing::AssertionResult MatchesGolden(const std::string& name,
                                                const std::string& actual) {
    static std::set<std::string> rebuilt;
    const char* rebuild = getenv("NAVLUME_REBUILD_GOLDENS");
    if (rebuild != nullptr && std::string(rebuild) == "1" && rebuilt.insert(name).second) {
        std::ofstream(GoldenPath(name), std::ios::binary) << actual;
        return ::testing::AssertionSuccess() << "rebuilt " << GoldenPath(name);
    }
    const std::string golden = Golden(name);
    if (actual == golden) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "differs from " << GoldenPath(name) << ":\n" << actual;
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

// The golden viewer script (48.117300, 11.516667, 500) with other values after the fixed texts.
inline std::string GoldenScript(const std::string& latitude, const std::string& longitude,
                                const std::string& distance) {
    return Replaced(Golden("viewer-script"), {{"To 48.117300", "To " + latitude},
                                              {"To 11.516667", "To " + longitude},
                                              {"To 500", "To " + distance}});
}

// The sentences of a log as its receiver sends them, each ended with CR LF ("#" lines dropped).
inline std::string StreamOfLog(const std::string& log) {
    std::istringstream lines(ReadBytes(std::filesystem::path(NAVLUME_LOG_DATA) / log));
    std::string stream;
    for (std::string line; std::getline(lines, line);) {
        if (line.ends_with('\r')) line.pop_back();
        if (!line.empty() && line[0] != '#') stream += line + "\r\n";
    }
    return stream;
}

inline std::vector<std::string> CheckedPositions(const std::string& log) {
    std::istringstream lines(Golden(log));
    std::vector<std::string> positions;
    for (std::string line; std::getline(lines, line);)
        positions.push_back(line);
    return positions;
}

// The points of each <coordinates> in a KML text, in order: the placemark's, then the trail's.
inline std::vector<std::vector<std::string>> KmlCoordinates(const std::string& kml) {
    std::vector<std::vector<std::string>> lists;
    for (size_t at = kml.find("<coordinates>"); at != std::string::npos;
         at = kml.find("<coordinates>", at + 1)) {
        std::istringstream points(kml.substr(at + 13, kml.find("</coordinates>", at) - at - 13));
        lists.emplace_back(std::istream_iterator<std::string>(points),
                           std::istream_iterator<std::string>());
    }
    return lists;
}

}  // namespace test_data

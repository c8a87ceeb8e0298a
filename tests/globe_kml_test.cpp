// The live KML files as a real XML parser reads them, and failures that keep the old file.
#include "app/globe_kml.h"

#include <libxml/parser.h>
#include <libxml/uri.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "app/rmc_sentence.h"
#include "app/trail.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/test_data.h"

namespace {

// The text at path in the KML namespace "k" (XPath's string()); "not XML" if it does not parse.
std::string TextAt(const char* file, const std::string& path) {
    std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> document(
        xmlReadFile(file, nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING),
        &xmlFreeDoc);
    if (document == nullptr) return "not XML";
    xmlXPathContextPtr context = xmlXPathNewContext(document.get());
    xmlXPathRegisterNs(context, BAD_CAST "k", BAD_CAST "http://www.opengis.net/kml/2.2");
    xmlXPathObjectPtr found = xmlXPathEvalExpression(
        BAD_CAST("string(/k:kml/k:Document/k:" + path + ")").c_str(), context);
    const std::string text = reinterpret_cast<const char*>(found->stringval);
    xmlXPathFreeObject(found);
    xmlXPathFreeContext(context);
    return text;
}

// A position of texts (as a test may give any) and numbers, without fix time, speed or course.
Position At(const std::string& latitude, const std::string& longitude, double degrees = 0,
            double longitudeDegrees = 0) {
    return {latitude, longitude, degrees, longitudeDegrees, "", {}, {}};
}

bool Write(const char* latitude, const char* longitude, int64_t range) {
    return WritePositionKml(At(latitude, longitude), Trail(), range);
}

// Writes position and trail, then reads the trail back: one "longitude,latitude,0" per point.
std::vector<std::string> WrittenTrail(const Position& position, const Trail& trail) {
    EXPECT_TRUE(WritePositionKml(position, trail, 500));
    std::istringstream text(TextAt(kPositionKmlFile, "Placemark[2]/k:LineString/k:coordinates"));
    return {std::istream_iterator<std::string>(text), std::istream_iterator<std::string>()};
}

// The names in the working directory, and what lies at path: its kind, inode and bytes.
std::string Snapshot(const char* path) {
    std::string names;
    for (const std::string& name : NamesIn("."))
        names += name + " ";
    struct stat status {};
    if (lstat(path, &status) != 0) return names + "missing";
    return names + std::to_string(status.st_mode) + " " + std::to_string(status.st_ino) + " " +
           (S_ISREG(status.st_mode) ? ReadBytes(path) : "");
}

class GlobeKmlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        xmlInitParser();
        ASSERT_TRUE(scratch_.Valid());
        ASSERT_EQ(chdir(scratch_.Path().c_str()), 0);
    }
    void TearDown() override { std::filesystem::current_path(previous_); }
    const std::filesystem::path previous_ = std::filesystem::current_path();
    ScratchDirectory scratch_;
};

// The golden file has @HREF@ for the link's address, which the parser's URL reading checks.
TEST_F(GlobeKmlTest, NetworkLinkPointsAtThePositionFile) {
    // Beside the characters a URL must encode, the neighbours of each range that it need not.
    const std::string directory =
        scratch_.File("Trips & 100% M\xC3\xBCnchen AZaz09-._~@[`{:/N.app#1");
    std::filesystem::create_directories(directory);
    ASSERT_EQ(chdir(directory.c_str()), 0);
    ASSERT_TRUE(EnsureNetworkLinkKml());
    const std::string href = TextAt(kNetworkLinkKmlFile, "NetworkLink/k:Link/k:href");
    std::unique_ptr<xmlURI, decltype(&xmlFreeURI)> uri(xmlParseURI(href.c_str()), &xmlFreeURI);
    ASSERT_NE(uri, nullptr) << href;
    EXPECT_EQ(std::string(uri->scheme) + " " + uri->path,
              "file " + directory + "/" + kPositionKmlFile);
    EXPECT_TRUE(uri->server == nullptr && uri->fragment == nullptr) << href;
    const std::string encoded =
        "/Trips%20%26%20100%25%20M%C3%BCnchen%20AZaz09-._~%40%5B%60%7B%3A/N.app%231/";
    EXPECT_TRUE(href.ends_with(encoded + kPositionKmlFile)) << href;
    EXPECT_TRUE(test_data::MatchesGolden(
        "navlume.kml", test_data::Replaced(ReadBytes(kNetworkLinkKmlFile), {{href, "@HREF@"}})));
    EXPECT_TRUE(Snapshot("").starts_with(std::string(kNetworkLinkKmlFile) + " missing"));
}

// A working folder that was removed has no path for the link to point at, and the call says so.
TEST_F(GlobeKmlTest, NoLinkFileWithoutAWorkingFolder) {
    const std::string directory = scratch_.File("gone");
    std::filesystem::create_directories(directory);
    ASSERT_EQ(chdir(directory.c_str()), 0);
    ASSERT_EQ(rmdir(directory.c_str()), 0);
    EXPECT_FALSE(EnsureNetworkLinkKml());
}

// Markup characters are escaped and Latin-1 becomes UTF-8: a parser reads back what was given.
TEST_F(GlobeKmlTest, PositionTextsReadBackExactly) {
    ASSERT_TRUE(Write("48<\xB0\"'", "&11\t \x1F\x80\x7F", 500));
    EXPECT_EQ(TextAt(kPositionKmlFile, "LookAt/k:latitude"), "48<\xC2\xB0\"'");
    EXPECT_EQ(TextAt(kPositionKmlFile, "Placemark/k:Point/k:coordinates"),
              "&11\t ?\xC2\x80\x7F,48<\xC2\xB0\"',0");  // a control character XML cannot hold
}

// What is garbled is left out, never costing the position; written under a decimal comma.
TEST_F(GlobeKmlTest, FixTimeSpeedAndCourseOrNothing) {
    // RMC field 2; fields 8 to 10; the time stamp; the description.
    const std::tuple<const char*, const char*, const char*, const char*> cases[] = {
        {"123519", "022.4,084.4,230394", "1994-03-23T12:35:19Z",
         "Speed 41.5 km/h, course 84.4\xC2\xB0"},
        {"020935.250", "0.04,359.11,050219", "2019-02-05T02:09:35.250Z",
         "Speed 0.1 km/h, course 359.1\xC2\xB0"},
        {"235960", ",,311279", "2079-12-31T23:59:60Z", ""},  // leap second; 79 is 2079
        {"000000", "1,,290200", "2000-02-29T00:00:00Z", "Speed 1.9 km/h"},
        {"000000", ",true,290201", "", ""},  // no 29 February in 2001; a phone's "true"
        {"", "true,12,230394", "", "Course 12.0\xC2\xB0"},             // no time
        {"123519", "5,1,", "", "Speed 9.3 km/h, course 1.0\xC2\xB0"},  // no date
        {"243519", ",,230394", "", ""},                                // hour 24
        {"126019", ",,230394", "", ""},                                // minute 60
        {"123519", ",360,230394", "1994-03-23T12:35:19Z",
         "Course 360.0\xC2\xB0"},  // the full circle
        {"123519.5", ",,230394", "1994-03-23T12:35:19.5Z", ""},
        {"123519.", ",,230394", "", ""},      // a point without fractions
        {"12351", ",,230394", "", ""},        // a digit short
        {"123519", ",,310494", "", ""},       // 31 April
        {"123519", ",,231394", "", ""},       // month 13
        {"123519", ",,2303945", "", ""},      // a digit too many
        {"123519", "-3,361,000194", "", ""},  // negative speed, course past 360, day 0
    };
    std::setlocale(LC_ALL, "de_DE.UTF-8");
    for (const auto& [time, rest, when, description] : cases) {
        const std::string line =
            "$GPRMC," + std::string(time) + ",A,4807.038,N,01131.000,E," + rest;
        Position position;
        JudgeRmcLine(line.data(), line.size(), &position);
        ASSERT_EQ(position.latitude, "48.117300") << line;
        ASSERT_TRUE(WritePositionKml(position, Trail(), 500));
        EXPECT_EQ(TextAt(kPositionKmlFile, "Placemark/k:TimeStamp/k:when"), when) << line;
        EXPECT_EQ(TextAt(kPositionKmlFile, "Placemark/k:description"), description) << line;
        EXPECT_EQ(TextAt(kPositionKmlFile, "Placemark/k:Point/k:coordinates"),
                  "11.516667,48.117300,0");
    }
    std::setlocale(LC_ALL, "C");
}

// Steps of 10 m or more join, a full trail drops its oldest, a cleared one starts anew.
TEST_F(GlobeKmlTest, TrailKeepsTheRunsStepsInOrder) {
    // Positions along a meridian at 48°: 0.001' of latitude is 1.853 m.
    const auto north = [](double metres) {  // six or seven decimals: lines of two lengths
        const double degrees = 48.0 + metres / 111200.0;
        char text[32];
        std::snprintf(text, sizeof text, "%.*f", 6 + static_cast<int>(metres / 20) % 2, degrees);
        return At(text, "11.5000000", degrees, 11.5);
    };
    const auto tuple = [&north](double metres) {
        return "11.5000000," + north(metres).latitude + ",0";
    };
    Trail trail;
    std::vector<std::string> expected;
    for (const double metres : {0.0, 3.0, 9.9, 10.05, 12.0, 25.0, 24.0, 45.0}) {
        const bool joins = metres == 0.0 || metres == 10.05 || metres == 25.0 || metres == 45.0;
        EXPECT_EQ(trail.Add(MakeTrailPoint(north(metres))), joins) << metres;
        if (joins) expected.push_back(tuple(metres));
    }
    EXPECT_EQ(WrittenTrail(north(45.0), trail), expected);
    EXPECT_EQ(TextAt(kPositionKmlFile, "Placemark[2]/k:LineString/k:tessellate"), "1");
    // Full: 3005 steps of 20 m keep the newest 1000, oldest first (their ring went round thrice).
    trail.Clear();
    expected.clear();
    constexpr int kSteps = 3005;
    for (int step = 0; step < kSteps; ++step) {
        ASSERT_TRUE(trail.Add(MakeTrailPoint(north(20.0 * step))));
        if (step >= kSteps - 1000) expected.push_back(tuple(20.0 * step));
    }
    const double last = 20.0 * (kSteps - 1);
    EXPECT_EQ(WrittenTrail(north(last), trail), expected);
    // A new run: its first position starts the trail, even where the old one ended.
    trail.Clear();
    trail.Add(MakeTrailPoint(north(last)));
    EXPECT_EQ(WrittenTrail(north(last), trail), std::vector<std::string>{tuple(last)});
    // Texts that are no plain numbers, or too long for a point, go in as numbers.
    for (const std::string& text : {std::string("48<1"), "48.1173" + std::string(60, '0')}) {
        const Position odd = At(text, "11.516666666666", 48.1173, 11.516666666666);
        trail.Clear();
        trail.Add(MakeTrailPoint(odd));
        EXPECT_EQ(WrittenTrail(odd, trail),
                  std::vector<std::string>{"11.516666667,48.117300000,0"});
    }
}

TEST_F(GlobeKmlTest, ExistingNetworkLinkFileIsNeverTouched) {
    const std::pair<void (*)(), bool> cases[] = {
        {[] { EnsureNetworkLinkKml(); }, true},  // as written before
        {[] { WriteBytes(kNetworkLinkKmlFile, "<kml><!-- mine --></kml>\r\n\xFF"); }, true},
        {[] { std::filesystem::create_directory(kNetworkLinkKmlFile); }, false}};
    for (const auto& [prepare, exists] : cases) {
        std::filesystem::remove_all(kNetworkLinkKmlFile);
        prepare();
        const std::string before = Snapshot(kNetworkLinkKmlFile);
        EXPECT_EQ(EnsureNetworkLinkKml(), exists);
        EXPECT_EQ(Snapshot(kNetworkLinkKmlFile), before);
    }
}

// In a child whose files may not pass 64 bytes (EFBIG, as on a full disk); exit: failed step.
TEST_F(GlobeKmlTest, AFailedWriteKeepsTheOldFileAndTheNextWriteWorks) {
    ASSERT_TRUE(Write("1", "2", 500));
    const std::string old = Snapshot(kPositionKmlFile);
    const pid_t child = fork();
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        const rlim_t unlimited = limit.rlim_cur;
        limit.rlim_cur = 64;
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(1);  // no fault
        if (Write("3", "4", 600)) _exit(2);                  // the write succeeded
        if (Snapshot(kPositionKmlFile) != old) _exit(3);     // old file changed or temporary left
        limit.rlim_cur = unlimited;
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(4);  // fault not cleared
        _exit(Write("5", "6", 700) ? 0 : 5);                 // no write once the fault has gone
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(TextAt(kPositionKmlFile, "Placemark/k:Point/k:coordinates"), "6,5,0");
}

}  // namespace

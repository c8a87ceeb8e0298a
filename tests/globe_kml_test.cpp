// The live KML files: their exact text, what a real XML parser reads from them, and that failures
// keep the old file and do not retry at once.
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

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/scratch_directory.h"
#include "tests/support/test_data.h"

namespace {

constexpr const char* kLookAt = "/k:kml/k:Document/k:LookAt/k:";
constexpr const char* kPoint = "/k:kml/k:Document/k:Placemark/k:Point/k:coordinates";
constexpr const char* kNetworkLink = "/k:kml/k:Document/k:NetworkLink/";

using Document = std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)>;

// The file parsed strictly (null when it is missing or not well-formed XML).
Document Parse(const char* path) {
    return {xmlReadFile(path, nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING),
            &xmlFreeDoc};
}

// The text at path, where "k:" names the KML 2.2 namespace (XPath's string(): empty when nothing
// matches; the golden files fix the structure).
std::string TextAt(const Document& document, const std::string& path) {
    xmlXPathContextPtr context = xmlXPathNewContext(document.get());
    xmlXPathRegisterNs(context, BAD_CAST "k", BAD_CAST "http://www.opengis.net/kml/2.2");
    xmlXPathObjectPtr found =
        xmlXPathEvalExpression(BAD_CAST("string(" + path + ")").c_str(), context);
    std::string text = found != nullptr && found->stringval != nullptr
                           ? reinterpret_cast<const char*>(found->stringval)
                           : "<no text at " + path + ">";
    xmlXPathFreeObject(found);
    xmlXPathFreeContext(context);
    return text;
}

std::vector<std::string> NamesIn(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// What lies at path: its kind, its inode and, for a regular file, its bytes.
std::string Snapshot(const char* path) {
    struct stat status {};
    if (lstat(path, &status) != 0) return "missing";
    return std::to_string(status.st_mode) + " " + std::to_string(status.st_ino) + " " +
           (S_ISREG(status.st_mode) ? ReadBytes(path) : "");
}

// Files may not grow beyond size bytes (RLIM_INFINITY: as far as the hard limit allows).
bool LimitFileSize(rlim_t size) {
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = size == RLIM_INFINITY ? limit.rlim_max : size;
    return setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

class GlobeKmlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        xmlInitParser();
        ASSERT_TRUE(scratch_.valid());
        ASSERT_EQ(chdir(scratch_.path().c_str()), 0);
    }
    void TearDown() override { std::filesystem::current_path(previous_); }

    const std::filesystem::path previous_ = std::filesystem::current_path();
    ScratchDirectory scratch_;
};

// The golden file for the worked example; what a parser reads back for any texts.
TEST_F(GlobeKmlTest, PositionFileIsTheGoldenOneAndReadsBackAsGiven) {
    ASSERT_TRUE(WritePositionKml("48.117300", "11.516667", 500));
    EXPECT_EQ(ReadBytes(kPositionKmlFile), test_data::Golden("navlume-position.kml"));
    EXPECT_EQ(NamesIn("."), std::vector<std::string>{kPositionKmlFile});

    struct Case {
        const char* latitude;
        const char* longitude;
        int64_t range;
        std::string parsedLatitude;  // what the texts read back as: UTF-8, escapes undone
        std::string parsedLongitude;
    };
    const Case cases[] = {
        {"-33.75205750", "151.20200", 35000, "-33.75205750", "151.20200"},
        {"1<2&\"3\"", "'4'>", -1, "1<2&\"3\"", "'4'>"},
        {"M\xFCnchen", "\t1\r\n\x01", INT64_MIN, "M\xC3\xBCnchen", "\t1\r\n?"},
        {nullptr, "", 0, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.parsedLatitude + " " + c.parsedLongitude);
        ASSERT_TRUE(WritePositionKml(c.latitude, c.longitude, c.range));
        const Document kml = Parse(kPositionKmlFile);
        ASSERT_NE(kml, nullptr);
        EXPECT_EQ(TextAt(kml, std::string(kLookAt) + "latitude"), c.parsedLatitude);
        EXPECT_EQ(TextAt(kml, std::string(kLookAt) + "longitude"), c.parsedLongitude);
        EXPECT_EQ(TextAt(kml, std::string(kLookAt) + "range"), std::to_string(c.range));
        EXPECT_EQ(TextAt(kml, kPoint), c.parsedLongitude + "," + c.parsedLatitude + ",0");
    }
}

// The link's address depends on the directory, so the golden file has @HREF@ in its place; the
// address itself is checked by the parser's own URL reading.
TEST_F(GlobeKmlTest, NetworkLinkPointsAtThePositionFile) {
    const std::string directory = scratch_.File("Trips & 100% M\xC3\xBCnchen/Navlume.app#1");
    std::filesystem::create_directories(directory);
    ASSERT_EQ(chdir(directory.c_str()), 0);
    ASSERT_TRUE(EnsureNetworkLinkKml());

    const Document kml = Parse(kNetworkLinkKmlFile);
    ASSERT_NE(kml, nullptr);
    const std::string href = TextAt(kml, std::string(kNetworkLink) + "k:Link/k:href");
    std::unique_ptr<xmlURI, decltype(&xmlFreeURI)> uri(xmlParseURI(href.c_str()), &xmlFreeURI);
    ASSERT_NE(uri, nullptr) << href;
    EXPECT_STREQ(uri->scheme, "file");
    EXPECT_EQ(uri->server, nullptr);
    EXPECT_EQ(std::string(uri->path), directory + "/" + kPositionKmlFile);
    EXPECT_EQ(uri->fragment, nullptr);
    EXPECT_EQ(TextAt(kml, std::string(kNetworkLink) + "k:name"), "Navlume");

    std::string text = ReadBytes(kNetworkLinkKmlFile);
    const size_t at = text.find(href);
    ASSERT_NE(at, std::string::npos);
    text.replace(at, href.size(), "@HREF@");
    EXPECT_EQ(text, test_data::Golden("navlume.kml"));
    EXPECT_EQ(NamesIn("."), std::vector<std::string>{kNetworkLinkKmlFile});
}

TEST_F(GlobeKmlTest, ExistingNetworkLinkFileIsNeverTouched) {
    struct Case {
        const char* name;
        void (*prepare)();
        bool exists;
    };
    const Case cases[] = {
        {"as written before", [] { ASSERT_TRUE(EnsureNetworkLinkKml()); }, true},
        {"edited by the user",
         [] { WriteBytes(kNetworkLinkKmlFile, "<kml><!-- mine --></kml>\r\n\xFF"); }, true},
        {"a directory", [] { std::filesystem::create_directory(kNetworkLinkKmlFile); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(kNetworkLinkKmlFile);
        c.prepare();
        const std::string before = Snapshot(kNetworkLinkKmlFile);
        EXPECT_EQ(EnsureNetworkLinkKml(), c.exists);
        EXPECT_EQ(Snapshot(kNetworkLinkKmlFile), before);
        EXPECT_EQ(NamesIn("."), std::vector<std::string>{kNetworkLinkKmlFile});
    }
}

// Each fault is made in a child process, so that the parent's retry pause stays clear. The
// child reports the first step that went wrong as its exit status.
TEST_F(GlobeKmlTest, FailedWriteKeepsTheOldFileAndPausesRetries) {
    struct Fault {
        const char* name;
        bool (*make)();
        bool (*clear)();
    };
    const Fault faults[] = {
        // Files may not grow beyond 64 bytes: writing fails with EFBIG, as on a full disk.
        {"full disk", [] { return LimitFileSize(64); },
         [] { return LimitFileSize(RLIM_INFINITY); }},
        // The rename fails after the temporary file is written.
        {"directory in the file's place",
         [] { return rename(kPositionKmlFile, "kept") == 0 && mkdir(kPositionKmlFile, 0700) == 0; },
         [] { return rmdir(kPositionKmlFile) == 0 && rename("kept", kPositionKmlFile) == 0; }},
    };
    const std::string steps[] = {"passed",
                                 "could not make the fault",
                                 "write succeeded",
                                 "could not clear the fault",
                                 "retried within a second",
                                 "old file changed or temporary file left",
                                 "no write a second later"};
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.name);
        ASSERT_TRUE(WritePositionKml("1", "2", 500));
        const std::string old = ReadBytes(kPositionKmlFile);
        const pid_t child = fork();
        if (child == 0) {
            signal(SIGXFSZ, SIG_IGN);
            if (!fault.make()) _exit(1);
            if (WritePositionKml("3", "4", 600)) _exit(2);
            if (!fault.clear()) _exit(3);
            if (WritePositionKml("3", "4", 600)) _exit(4);
            if (ReadBytes(kPositionKmlFile) != old || NamesIn(".").size() != 1) _exit(5);
            std::this_thread::sleep_for(std::chrono::milliseconds(1050));
            _exit(WritePositionKml("5", "6", 700) ? 0 : 6);
        }
        int status = -1;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << status;
        EXPECT_EQ(steps[std::min(WEXITSTATUS(status), 6)], steps[0]);
        const Document kml = Parse(kPositionKmlFile);
        ASSERT_NE(kml, nullptr);
        EXPECT_EQ(TextAt(kml, kPoint), "6,5,0");
    }
}

}  // namespace

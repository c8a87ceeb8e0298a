// The live KML files (the tracker tests compare the position file with its golden one): the link
// file's text and address as a real XML parser reads them, and failures that keep the old file
// and do not retry at once.
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

#include <chrono>
#include <csignal>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "tests/support/scratch_directory.h"
#include "tests/support/test_data.h"

namespace {

// The text at path in the KML 2.2 namespace "k" (XPath's string(): empty when nothing matches;
// the golden files fix the structure); "not XML" when the file does not parse.
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

// The names in the working directory, and what lies at path: its kind, inode and bytes.
std::string Snapshot(const char* path) {
    std::string names;
    for (const auto& entry : std::filesystem::directory_iterator("."))
        names += entry.path().filename().string() + " ";
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

// The link's address depends on the directory, so the golden file has @HREF@ in its place; the
// address itself is checked by the parser's own URL reading.
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
    EXPECT_TRUE(
        href.ends_with("/Trips%20%26%20100%25%20M%C3%BCnchen%20AZaz09-._~%40%5B%60%7B%3A/"
                       "N.app%231/" +
                       std::string(kPositionKmlFile)))
        << href;
    EXPECT_TRUE(test_data::MatchesGolden(
        "navlume.kml", test_data::Replaced(ReadBytes(kNetworkLinkKmlFile), {{href, "@HREF@"}})));
    EXPECT_TRUE(Snapshot("").starts_with(std::string(kNetworkLinkKmlFile) + " missing"));
}

// Texts are not trusted to be plain numbers: markup characters are escaped and Latin-1 becomes
// UTF-8, so a parser reads back exactly what was given.
TEST_F(GlobeKmlTest, PositionTextsReadBackExactly) {
    ASSERT_TRUE(WritePositionKml("48<\xB0\"'", "&11\t \x1F\x80\x7F", 500));
    EXPECT_EQ(TextAt(kPositionKmlFile, "LookAt/k:latitude"), "48<\xC2\xB0\"'");
    EXPECT_EQ(TextAt(kPositionKmlFile, "Placemark/k:Point/k:coordinates"),
              "&11\t ?\xC2\x80\x7F,48<\xC2\xB0\"',0");  // a control character XML cannot hold
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

// The fault (files may not grow beyond 64 bytes: writing fails with EFBIG, as on a full disk) is
// made in a child process, so that the parent's retry pause stays clear. The child reports the
// first step that went wrong as its exit status.
TEST_F(GlobeKmlTest, FailedWriteKeepsTheOldFileAndPausesRetries) {
    ASSERT_TRUE(WritePositionKml("1", "2", 500));
    const std::string old = Snapshot(kPositionKmlFile);
    const pid_t child = fork();
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        const rlim_t unlimited = limit.rlim_cur;
        limit.rlim_cur = 64;
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(1);
        if (WritePositionKml("3", "4", 600)) _exit(2);
        limit.rlim_cur = unlimited;
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(3);
        if (WritePositionKml("3", "4", 600)) _exit(4);
        if (Snapshot(kPositionKmlFile) != old) _exit(5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1050));
        _exit(WritePositionKml("5", "6", 700) ? 0 : 6);
    }
    // 1: no fault, 2: the write succeeded, 3: fault not cleared, 4: retried within a second,
    // 5: old file changed or temporary file left, 6: no write a second later.
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(TextAt(kPositionKmlFile, "Placemark/k:Point/k:coordinates"), "6,5,0");
}

}  // namespace

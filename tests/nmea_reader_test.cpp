// The reader without sockets or sleeps: lines, judging them, and real logs split every way.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "app/coordinate.h"
#include "app/rmc_sentence.h"
#include "app/sentence_lines.h"
#include "app/temp_text.h"
#include "app/tracking_worker.h"
#include "app/viewer_script.h"
#include "runtime/text_ops.h"
#include "tests/support/test_data.h"

namespace {

// "latitude longitude" of an accepted line, "" for a refused one.
std::string Judged(const std::string& line) {
    Position position;
    return JudgeRmcLine(line.data(), line.size(), &position)
               ? position.latitude + " " + position.longitude
               : "";
}

TEST(RmcJudgeTest, AcceptsOnlyFixesWithAGoodChecksumInRange) {
    const std::pair<const char*, const char*> cases[] = {
        {"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A",
         "48.117300 11.516667"},
        {"$GNRMC,123519,A,4807.038,S,01131.000,W,022.4,084.4,230394,003.1,W,A*16",
         "-48.117300 -11.516667"},
        {"$GLRMC,123519,A,4807.038,N,01131.000,W*30", "48.117300 -11.516667"},  // field 7 last
        {"$GARMC,1,A,3345.12345,S,15112.12,E*39", "-33.75205750 151.20200"},
        {"$BDRMC,1,A,5130.1234,N,00007.5000,W*02", "51.5020567 -0.1250000"},
        {"$QZRMC,1,A,4807.038,N,01131.000,E", "48.117300 11.516667"},     // QZSS, a Z in the talker
        {"$GNRMC,1,A,4807.038,N,01131.000,E*1c", "48.117300 11.516667"},  // lower-case hex
        {"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*]A", ""},  // no hex
        {"$GPRMC,48,A,4807.038,N,01131.000,E*3f", "48.117300 11.516667"},
        {"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6a",
         "48.117300 11.516667"},  // lower-case a, the first letter digit
        {"$GPRMC,1,A,4807.038,N,01131.000,E", "48.117300 11.516667"},  // no checksum
        {"$GPRMC,1,A,4807.038,N,01131.000,E*03", ""},                  // checksum off by one
        {"$GPRMC,1,A,4807.038,N,01131.000,E*0", ""},                   // checksum cut short
        {"$GPRMC,1,A,4807.038,N,01131.000,E*02X", ""},                 // trailing byte
        {"$GPRMC,1,A,4807.038,N,01131.000,E*G2", ""},                  // not hex
        {"$GPRMC,48,A,4807.038,N,01131.000,E*4G", ""},  // not hex, although 4 * 16 - 1 is the sum
        {"$GPRMC,1,V,4807.038,N,01131.000,E*15", ""},   // no fix, fields filled
        {"$GPRMC,1,A,,N,01131.000,E*1C", ""},           // empty latitude
        {"$GPRMC,1,A,4807.038,N,,E*2E", ""},            // empty longitude
        {"$GPRMC,1,A,48a7.038,N,01131.000,E", ""},      // garbled latitude
        {"$GPRMC,1,A,4807.038,N,011.31.000,E", ""},     // two points
        {"$GPRMC,1,A,.,N,01131.000,E", ""},             // no digit
        {"$GPRMC,1,A,-4807.038,N,01131.000,E", ""},     // signs are hemispheres
        {"$GPRMC,1,A,4807,N,01131.,E", ""},             // no point: three degree digits, 480
        {"$GPRMC,1,A,4807.,N,00007,E", "48.117 0.12"},  // odd, but numbers in range
        {"$GPRMC,1,A,0000.000,N,00000.000,E", "0.000000 0.000000"},  // zero has no sign
        {"$GPRMC,1,A,9107.038,N,01131.000,E*06", ""},                // latitude beyond 90
        {"$GPRMC,1,A,4807.038,N,18131.000,E*0A", ""},                // longitude beyond 180
        {"$GPRMC,1,A,123456789012345678901.5,N,01131.000,E", ""},    // 64-bit overflow
        {"$gprmc,1,A,4807.038,N,01131.000,E*22", ""},                // lower-case tag
        {"$G1RMC,1,A,4807.038,N,01131.000,E", ""},                   // talker not two letters
        {"$GPRMCX,1,A,4807.038,N,01131.000,E", ""},
        {"GPRMC,1,A,4807.038,N,01131.000,E", ""},  // no "$"
        {"$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47", ""},
        {"{\"class\":\"TPV\",\"lat\":48.1173,\"lon\":11.516667}", ""},
        {"", ""}};
    for (const auto& [line, expected] : cases)
        EXPECT_EQ(Judged(line), expected) << line;
}

TEST(CoordinateTest, FixedDecimalsRoundHalfUpAndIntegerPartsSaturate) {
    // The most padding there is, and a number that times 10 would reach 2^63.
    const std::tuple<double, int64_t, const char*> fixed[] = {
        {48.1173, 6, "48.117300"},
        {0.125, 2, "0.13"},
        {2.5, 0, "3"},
        {2.0, -3, "2"},
        {2.0, 10, "2.0000000000"},
        {922337203685477632.0, 1, "922337203685477632"},
        {1e19, 2, "9223372036854775808"}};  // beyond 64 bits: saturated
    for (const auto& [number, decimals, text] : fixed)
        EXPECT_EQ(TempText(FormatFixedDecimals, number, decimals), text) << number;
    const std::pair<double, int64_t> parts[] = {
        {7.25, 7}, {-12.5, -12}, {11.99999999999999, 12}, {0x1p63, INT64_MAX}, {-1e300, INT64_MIN}};
    for (const auto& [number, part] : parts)
        EXPECT_EQ(ScaledIntegerPart(number), part) << number;
}

// The lines (with judge, accepted positions) of stream delivered in the piece sizes, cycled.
std::string Cut(const std::string& stream, const std::vector<size_t>& pieces, bool judge) {
    SentenceLines cutter;
    std::pair<std::string, bool> out{"", judge};
    const auto collect = [](const char* line, size_t length, void* context) {
        auto& [text, judge] = *static_cast<std::pair<std::string, bool>*>(context);
        const std::string kept =
            judge ? Judged(std::string(line, length)) : std::string(line, length);
        if (!judge || !kept.empty()) text += kept + "\n";
    };
    for (size_t at = 0, next = 0, piece = 0; at < stream.size(); at += piece) {
        piece = std::min(pieces[next++ % pieces.size()], stream.size() - at);
        cutter.Feed(stream.data() + at, piece, collect, &out);
    }
    return out.first;
}

// The default script, then one with signs, the largest distance and arguments inside the buffer
// the script is built in (which the first has grown, so that they stay where they are).
TEST(ViewerScriptTest, ComposedScriptsEqualTheGoldenScript) {
    EXPECT_TRUE(test_data::MatchesGolden(
        "viewer-script", TempText(ComposeViewerScript, "48.117300", "11.516667", 500, "\r\n")));
    TempScope scope;
    const char* latitude = TextFromMemory("-48.117300", 10, scope.Start());
    const char* longitude = TextFromMemory("-11.516667", 10, TempPosition() + 1);
    EXPECT_EQ(
        std::string(ComposeViewerScript(latitude, longitude, 35000, "\r\n", TempPosition() + 1)),
        test_data::GoldenScript("-48.117300", "-11.516667", "35000"));
}

TEST(SentenceLinesTest, CutsAtLineFeedsAndDropsWhatCannotBeASentence) {
    const std::string longest(255, 'x');  // the longest line a receiver may send
    const std::pair<std::string, std::string> cases[] = {
        {"$A\r\n$B\n", "$A\n$B\n"},                   // CR LF and bare LF
        {"$A\r$B\r\n", "$A\r$B\n"},                   // a CR alone ends nothing
        {"$A\r\r\n", "$A\r\n"},                       // two CRs keep one
        {"\r\n\n", "\n\n"},                           // empty lines
        {"$A\r\n$B,partial", "$A\n"},                 // no line end yet
        {longest + "\r\n", longest + "\n"},           // longest line kept
        {longest + "y\r\n$C\n", "$C\n"},              // one byte more is dropped
        {std::string(5000, 'z') + "\n$D\n", "$D\n"},  // far too long is dropped
        {std::string("$A\0B\r\n$E\n", 9), "$E\n"}};   // a zero byte drops the line
    // Whole, then one byte at a time: the same lines either way.
    for (const auto& [stream, lines] : cases)
        for (const size_t piece : {stream.size(), size_t{1}})
            EXPECT_EQ(Cut(stream, {piece}, false), lines) << stream << ", pieces of " << piece;
}

TEST(RealLogsTest, EveryDeliveryShapeGivesTheCheckedPositions) {
    std::mt19937 random(7);
    std::vector<size_t> randomPieces(1000);
    for (size_t& piece : randomPieces)
        piece = 1 + random() % 40;
    // One burst, a byte per write, random pieces of 1-40 bytes, 64 KiB, a cut inside every CR LF.
    const std::vector<size_t> shapes[] = {{size_t{1} << 20}, {1}, randomPieces, {65536}, {71, 1}};
    for (const char* log : {"GPSmap-76S.log", "quectel-l76k-nmea.log", "sirfstarv-nmea.log"}) {
        const std::string stream = test_data::StreamOfLog(log);
        ASSERT_FALSE(stream.empty()) << log;
        for (const auto& pieces : shapes)
            EXPECT_TRUE(test_data::MatchesGolden(log, Cut(stream, pieces, true))) << pieces[0];
    }
}

TEST(ReconnectPauseTest, DoublesFromHalfASecondToEightWithASmallSpread) {
    const std::pair<int32_t, double> asked[] = {{0, 0.0}, {1, 0.0},    {2, 0.05}, {3, 0.1},
                                                {4, 0.0}, {1000, 5.0}, {0, -1.0}};
    std::vector<int32_t> pauses;
    for (const auto& [attempt, spread] : asked)
        pauses.push_back(ReconnectPauseMs(attempt, spread));
    EXPECT_EQ(pauses, (std::vector<int32_t>{500, 1000, 2100, 4400, 8000, 8800, 500}));
    const TrackingLimits quick{.firstPauseMs = 100, .longestPauseMs = 300};
    EXPECT_EQ(ReconnectPauseMs(1, 0.1, quick), 220);
    EXPECT_EQ(ReconnectPauseMs(2, 0.0, quick), 300);
}

}  // namespace

// The reader without sockets or sleeps: cutting the stream into lines, judging each line, and
// the real receiver logs split every way a connection may split them.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "app/rmc_sentence.h"
#include "app/sentence_lines.h"
#include "app/tracking_worker.h"
#include "tests/support/test_data.h"

namespace {

struct JudgeCase {
    const char* line;
    const char* latitude;  // null: the line is refused
    const char* longitude;
};

// One row per kind of line a receiver, a hub or a broken link may deliver.
const JudgeCase kJudgeCases[] = {
    {"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A", "48.117300",
     "11.516667"},
    {"$GNRMC,123519,A,4807.038,S,01131.000,W,022.4,084.4,230394,003.1,W,A*16", "-48.117300",
     "-11.516667"},
    {"$GLRMC,123519,A,4807.038,N,01131.000,W*30", "48.117300", "-11.516667"},  // field 7 last
    {"$GARMC,1,A,3345.12345,S,15112.12,E*39", "-33.75205750", "151.20200"},
    {"$BDRMC,1,A,5130.1234,N,00007.5000,W*02", "51.5020567", "-0.1250000"},
    {"$GNRMC,1,A,4807.038,N,01131.000,E*1c", "48.117300", "11.516667"},  // lower-case hex
    {"$GPRMC,1,A,4807.038,N,01131.000,E", "48.117300", "11.516667"},     // no checksum
    {"$GPRMC,1,A,4807.038,N,01131.000,E*03", nullptr, nullptr},          // checksum off by one
    {"$GPRMC,1,A,4807.038,N,01131.000,E*0", nullptr, nullptr},           // checksum cut short
    {"$GPRMC,1,A,4807.038,N,01131.000,E*02X", nullptr, nullptr},         // trailing byte
    {"$GPRMC,1,A,4807.038,N,01131.000,E*G2", nullptr, nullptr},          // not hex
    {"$GPRMC,1,V,4807.038,N,01131.000,E*15", nullptr, nullptr},          // no fix, fields filled
    {"$GPRMC,1,A,,N,01131.000,E*1C", nullptr, nullptr},                  // empty latitude
    {"$GPRMC,1,A,4807.038,N,,E*2E", nullptr, nullptr},                   // empty longitude
    {"$GPRMC,1,A,48a7.038,N,01131.000,E", nullptr, nullptr},             // garbled latitude
    {"$GPRMC,1,A,4807.038,N,011.31.000,E", nullptr, nullptr},            // two points
    {"$GPRMC,1,A,.,N,01131.000,E", nullptr, nullptr},                    // no digit
    {"$GPRMC,1,A,-4807.038,N,01131.000,E", nullptr, nullptr},            // signs are hemispheres
    {"$GPRMC,1,A,4807,N,01131.,E", nullptr, nullptr},  // no point: three degree digits, 480
    {"$GPRMC,1,A,4807.,N,00007,E", "48.117", "0.12"},  // odd, but numbers in range
    {"$GPRMC,1,A,9107.038,N,01131.000,E*06", nullptr, nullptr},              // latitude beyond 90
    {"$GPRMC,1,A,4807.038,N,18131.000,E*0A", nullptr, nullptr},              // longitude beyond 180
    {"$GPRMC,1,A,123456789012345678901.5,N,01131.000,E", nullptr, nullptr},  // 64-bit overflow
    {"$gprmc,1,A,4807.038,N,01131.000,E*22", nullptr, nullptr},              // lower-case tag
    {"$G1RMC,1,A,4807.038,N,01131.000,E", nullptr, nullptr},  // talker not two letters
    {"$GPRMCX,1,A,4807.038,N,01131.000,E", nullptr, nullptr},
    {"GPRMC,1,A,4807.038,N,01131.000,E", nullptr, nullptr},  // no "$"
    {"$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47", nullptr, nullptr},
    {"{\"class\":\"TPV\",\"lat\":48.1173,\"lon\":11.516667}", nullptr, nullptr},
    {"", nullptr, nullptr},
};

TEST(RmcJudgeTest, AcceptsOnlyFixesWithAGoodChecksumInRange) {
    for (const JudgeCase& row : kJudgeCases) {
        Position position;
        const bool accepted = JudgeRmcLine(row.line, std::strlen(row.line), &position);
        ASSERT_EQ(accepted, row.latitude != nullptr) << row.line;
        if (!accepted) continue;
        EXPECT_EQ(position.latitude, row.latitude) << row.line;
        EXPECT_EQ(position.longitude, row.longitude) << row.line;
    }
}

void CollectLine(const char* line, size_t length, void* context) {
    static_cast<std::vector<std::string>*>(context)->emplace_back(line, length);
}

struct LinesCase {
    const char* name;
    std::string stream;
    std::vector<std::string> lines;
};

TEST(SentenceLinesTest, CutsAtLineFeedsAndDropsWhatCannotBeASentence) {
    const std::string longest(SentenceLines::kLongestLine, 'x');
    const LinesCase cases[] = {
        {"CR LF and bare LF", "$A\r\n$B\n", {"$A", "$B"}},
        {"a CR alone ends nothing", "$A\r$B\r\n", {"$A\r$B"}},
        {"two CRs keep one", "$A\r\r\n", {"$A\r"}},
        {"empty lines", "\r\n\n", {"", ""}},
        {"no line end yet", "$A\r\n$B,partial", {"$A"}},
        {"longest line kept", longest + "\r\n", {longest}},
        {"one byte more is dropped", longest + "y\r\n$C\n", {"$C"}},
        {"far too long is dropped", std::string(5000, 'z') + "\n$D\n", {"$D"}},
        {"zero byte drops the line", std::string("$A\0B\r\n$E\n", 9), {"$E"}},
    };
    for (const LinesCase& c : cases) {
        // Whole, then one byte at a time: the same lines either way.
        for (const size_t piece : {c.stream.size(), size_t{1}}) {
            SentenceLines cutter;
            std::vector<std::string> lines;
            for (size_t at = 0; at < c.stream.size(); at += piece) {
                cutter.Feed(c.stream.data() + at, std::min(piece, c.stream.size() - at),
                            CollectLine, &lines);
            }
            EXPECT_EQ(lines, c.lines) << c.name << ", pieces of " << piece;
        }
    }
}

void CollectPosition(const char* line, size_t length, void* context) {
    Position position;
    if (JudgeRmcLine(line, length, &position)) {
        *static_cast<std::string*>(context) += position.latitude + " " + position.longitude + "\n";
    }
}

// The positions accepted from stream delivered in the given piece sizes (cycled).
std::string AcceptedPositions(const std::string& stream, const std::vector<size_t>& pieces) {
    SentenceLines cutter;
    std::string accepted;
    size_t next = 0;
    for (size_t at = 0; at < stream.size();) {
        const size_t piece = std::min(pieces[next++ % pieces.size()], stream.size() - at);
        cutter.Feed(stream.data() + at, piece, CollectPosition, &accepted);
        at += piece;
    }
    return accepted;
}

// Each log's accepted positions are in <log>.chk; every way of splitting the stream gives them.
TEST(RealLogsTest, EveryDeliveryShapeGivesTheCheckedPositions) {
    std::mt19937 random(7);
    std::vector<size_t> randomPieces;
    for (int i = 0; i < 1000; ++i)
        randomPieces.push_back(1 + random() % 40);
    const std::vector<std::pair<const char*, std::vector<size_t>>> shapes = {
        {"one burst", {size_t{1} << 20}},
        {"one byte per write", {1}},
        {"random pieces of 1-40 bytes", randomPieces},
        {"pieces of 64 KiB", {65536}},
        {"one cut inside every CR LF", {71, 1}},
    };
    for (const char* log : test_data::kLogs) {
        const std::string stream = test_data::StreamOfLog(log);
        ASSERT_FALSE(stream.empty()) << log;
        const std::string expected = test_data::Golden(log);
        for (const auto& [shape, pieces] : shapes) {
            EXPECT_EQ(AcceptedPositions(stream, pieces), expected) << log << ", " << shape;
        }
    }
}

// 0.5 s doubled up to 8 s, lengthened by the spread, which is capped at a tenth.
TEST(ReconnectPauseTest, DoublesFromHalfASecondToEightWithASmallSpread) {
    const std::pair<int32_t, double> asked[] = {{0, 0.0}, {1, 0.0},    {2, 0.05}, {3, 0.1},
                                                {4, 0.0}, {1000, 5.0}, {0, -1.0}};
    std::vector<int32_t> pauses;
    for (const auto& [attempt, spread] : asked)
        pauses.push_back(ReconnectPauseMs(attempt, spread));
    EXPECT_EQ(pauses, (std::vector<int32_t>{500, 1000, 2100, 4400, 8000, 8800, 500}));
}

}  // namespace

// The cost of one replacement of the live position KML file (build the text, write a temporary
// file, rename it over the old one), in a scratch directory under TMPDIR or /tmp; the figure is
// the time per iteration. Once with the run's first position, once with a full trail of 1000
// points (the aim is under 100 µs).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "app/globe_kml.h"
#include "app/rmc_sentence.h"
#include "app/trail.h"

namespace {

constexpr const char* kSentences[] = {
    "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A",
    "$GNRMC,020935.000,A,5130.1234,N,00007.5000,W,0.04,359.11,050219,,,A",
    "$GPRMC,123519.00,A,3345.12345,S,15112.12,E,000.0,084.4,140524,004.0,E,A",
    "$GNRMC,055234.200,A,4916.45,N,12311.12,W,0.00,286.35,050826,,,A,V",
};

// Points about 110 m apart, so every one joins.
Trail FullTrail() {
    Trail trail;
    for (size_t i = 0; trail.Size() < Trail::kMostPoints; ++i) {
        Position position;
        position.latitudeDegrees = 48.0 + static_cast<double>(i) * 0.001;
        position.longitudeDegrees = 11.5 + static_cast<double>(i) * 0.0001;
        position.latitude = std::to_string(position.latitudeDegrees);
        position.longitude = std::to_string(position.longitudeDegrees);
        trail.Add(MakeTrailPoint(position));
    }
    return trail;
}

void WriteRepeatedly(benchmark::State& state, const Trail& trail) {
    const char* base = std::getenv("TMPDIR");
    std::string directory =
        std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/navlume-kml-XXXXXX";
    std::error_code error;
    const std::filesystem::path previous = std::filesystem::current_path(error);
    if (mkdtemp(directory.data()) == nullptr || chdir(directory.c_str()) != 0) {
        state.SkipWithError("no scratch directory");
        return;
    }
    Position positions[std::size(kSentences)];
    for (size_t i = 0; i < std::size(kSentences); ++i) {
        const std::string line = kSentences[i];
        if (!JudgeRmcLine(line.data(), line.size(), &positions[i])) {
            state.SkipWithError("a sample sentence was refused");
            return;
        }
    }
    size_t i = 0;
    int64_t range = 500;
    for (auto _ : state) {
        if (!WritePositionKml(positions[i++ % std::size(positions)], trail, range++)) {
            state.SkipWithError("the position file could not be written");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
    std::filesystem::current_path(previous, error);
    std::filesystem::remove_all(directory, error);
}

void BM_WritePositionKml(benchmark::State& state) {
    Trail trail;
    Position first;
    first.latitude = "48.117300";
    first.longitude = "11.516667";
    trail.Add(MakeTrailPoint(first));
    WriteRepeatedly(state, trail);
}
BENCHMARK(BM_WritePositionKml);

void BM_WritePositionKmlFullTrail(benchmark::State& state) {
    WriteRepeatedly(state, FullTrail());
}
BENCHMARK(BM_WritePositionKmlFullTrail);

}  // namespace

// The cost of one replacement of the live position KML file (build the text, write a temporary
// file, rename it over the old one), in a scratch directory under TMPDIR or /tmp; the figure is
// the time per iteration (the aim is under 50 µs).
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

namespace {

struct Position {
    const char* latitude;
    const char* longitude;
};

constexpr Position kPositions[] = {
    {"48.117300", "11.516667"},
    {"51.50205667", "-0.12500000"},
    {"-33.75205750", "151.20200"},
    {"49.27416667", "-123.18533333"},
};

void BM_WritePositionKml(benchmark::State& state) {
    const char* base = std::getenv("TMPDIR");
    std::string directory =
        std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/navlume-kml-XXXXXX";
    std::error_code error;
    const std::filesystem::path previous = std::filesystem::current_path(error);
    if (mkdtemp(directory.data()) == nullptr || chdir(directory.c_str()) != 0) {
        state.SkipWithError("no scratch directory");
        return;
    }
    size_t i = 0;
    int64_t range = 500;
    for (auto _ : state) {
        const Position& position = kPositions[i++ % std::size(kPositions)];
        if (!WritePositionKml(position.latitude, position.longitude, range++)) {
            state.SkipWithError("the position file could not be written");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
    std::filesystem::current_path(previous, error);
    std::filesystem::remove_all(directory, error);
}
BENCHMARK(BM_WritePositionKml);

}  // namespace

// Throughput of the coordinate conversion on the fields of real RMC sentences; the figure is
// items_per_second (conversions per second).
#include <benchmark/benchmark.h>

#include <cstddef>

#include "app/coordinate.h"
#include "runtime/temp_buffer.h"

namespace {

struct Field {
    const char* value;
    const char* hemisphere;
};

// Latitude and longitude pairs as receivers send them (4 to 5 minute decimals).
constexpr Field kFields[] = {
    {"4807.038", "N"},   {"01131.000", "E"},   {"5130.1234", "N"}, {"00007.5000", "W"},
    {"3345.12345", "S"}, {"15112.12345", "E"}, {"4916.4500", "N"}, {"12311.1200", "W"},
};

void BM_ConvertCoordinate(benchmark::State& state) {
    size_t i = 0;
    for (auto _ : state) {
        const Field& field = kFields[i++ % std::size(kFields)];
        TempScope scope;
        benchmark::DoNotOptimize(ConvertCoordinate(field.value, field.hemisphere, scope.Start()));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ConvertCoordinate);

}  // namespace

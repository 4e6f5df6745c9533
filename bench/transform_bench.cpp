// The record transform alone, on one core: records per second for each
// point format, with the vectorised and the portable kernel.
#include "LiDAR.h"
#include "las_fixture.h"
#include "transform.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

using tessvane::KernelChoice;

void move_records(benchmark::State &state, int format, KernelChoice kernel, tessvane::Motion motion) {
    lasfixture::Layout layout;
    layout.format = format;
    const std::size_t count = 1 << 16;  // about 2 MiB of records: what one block pass sees, in cache
    const std::vector<std::uint8_t> file = lasfixture::make_las(layout, lasfixture::random_points(count, 1, layout));
    std::vector<std::uint8_t> records(file.begin() + LAS_HEADER_SIZE, file.end());
    tessvane::Georeference geo;
    for (int axis = 0; axis < 3; ++axis) geo.scale[axis] = layout.scale[axis];
    const tessvane::RecordTransform t = tessvane::make_record_transform(motion, geo);
    const std::size_t length = lasfixture::record_length(format);
    for (auto _ : state) {
        // The cloud keeps moving from one iteration to the next, far inside
        // the 32-bit range for any run the benchmark makes.
        tessvane::StoredExtremes extremes;
        if (tessvane::transform_records(records.data(), count, length, t, extremes, kernel)) {
            state.SkipWithError("a moved coordinate left the 32-bit range");
            break;
        }
        benchmark::DoNotOptimize(records.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * count));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * count * length));
}

const tessvane::Motion turn{10, 20, 1, 30, 500500, 4000500};
const tessvane::Motion back{-10, -20, -1, 0, 0, 0};

void BM_RotateAndTranslate_Fastest(benchmark::State &state) {
    move_records(state, static_cast<int>(state.range(0)), KernelChoice::fastest, turn);
}
void BM_RotateAndTranslate_Portable(benchmark::State &state) {
    move_records(state, static_cast<int>(state.range(0)), KernelChoice::portable, turn);
}
void BM_Translate_Fastest(benchmark::State &state) {
    move_records(state, static_cast<int>(state.range(0)), KernelChoice::fastest, back);
}

BENCHMARK(BM_RotateAndTranslate_Fastest)->DenseRange(0, 3);
BENCHMARK(BM_RotateAndTranslate_Portable)->DenseRange(0, 3);
BENCHMARK(BM_Translate_Fastest)->DenseRange(0, 3);

}  // namespace

BENCHMARK_MAIN();

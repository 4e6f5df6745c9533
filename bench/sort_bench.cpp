// The companion-index quicksorts on ten million random keys, against std::sort
// of (key, index) pairs ordered by key, the same job done the usual way.
// Each iteration sorts a fresh copy of the same keys; the copy is not timed.
#include "LiDAR.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <utility>
#include <vector>

namespace {

constexpr std::int32_t count = 10'000'000;

const std::vector<std::int32_t> &integer_keys() {
    static const std::vector<std::int32_t> keys = [] {
        std::mt19937 rng(1);
        std::uniform_int_distribution<std::int32_t> pick(INT32_MIN, INT32_MAX);
        std::vector<std::int32_t> k(count);
        for (auto &key : k) key = pick(rng);
        return k;
    }();
    return keys;
}

const std::vector<double> &real_keys() {
    static const std::vector<double> keys = [] {
        std::mt19937_64 rng(2);
        std::uniform_real_distribution<double> pick(-1e6, 1e6);
        std::vector<double> k(count);
        for (auto &key : k) key = pick(rng);
        return k;
    }();
    return keys;
}

template <typename Key, void (*Sort)(Key *, std::int32_t, std::int32_t *)>
void companion_quicksort(benchmark::State &state, const std::vector<Key> &input) {
    std::vector<Key> keys(input.size());
    std::vector<std::int32_t> ind(input.size());
    for (auto _ : state) {
        state.PauseTiming();
        keys = input;
        std::iota(ind.begin(), ind.end(), 0);
        state.ResumeTiming();
        Sort(keys.data(), count, ind.data());
        benchmark::DoNotOptimize(keys.data());
        benchmark::DoNotOptimize(ind.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * count);
}

template <typename Key>
void pair_sort(benchmark::State &state, const std::vector<Key> &input) {
    std::vector<std::pair<Key, std::int32_t>> pairs(input.size());
    for (auto _ : state) {
        state.PauseTiming();
        for (std::int32_t i = 0; i < count; ++i) pairs[i] = {input[i], i};
        state.ResumeTiming();
        std::sort(pairs.begin(), pairs.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
        benchmark::DoNotOptimize(pairs.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * count);
}

void BM_l_quicksort(benchmark::State &state) { companion_quicksort<std::int32_t, l_quicksort>(state, integer_keys()); }
void BM_std_sort_int32_pairs(benchmark::State &state) { pair_sort(state, integer_keys()); }
void BM_d_quicksort(benchmark::State &state) { companion_quicksort<double, d_quicksort>(state, real_keys()); }
void BM_std_sort_double_pairs(benchmark::State &state) { pair_sort(state, real_keys()); }

BENCHMARK(BM_l_quicksort)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_std_sort_int32_pairs)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_d_quicksort)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_std_sort_double_pairs)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();

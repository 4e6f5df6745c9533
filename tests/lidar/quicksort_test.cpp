// The quicksorts with a companion index, called in the shared library: fixed
// cases, agreement with a plainly written recursive model of the partition
// scheme on random arrays, bounds at the top of the index range, and an input
// whose middle key is the largest of every range.
#include "LiDAR.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <numeric>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

namespace {

// The partition scheme as directly as it can be written: one step, then the
// left sub-range and the right one, each by a nested call. `deepest` records
// the deepest nesting reached.
template <typename Key>
void model_step(Key *p, std::int64_t left, std::int64_t right, std::int32_t *ind, int depth, int &deepest) {
    deepest = std::max(deepest, depth);
    std::int64_t i = left;
    std::int64_t j = right;
    const Key v = p[(left + right) / 2];
    do {
        while (p[i] < v && i < right) ++i;
        while (v < p[j] && j > left) --j;
        if (i <= j) {
            std::swap(p[i], p[j]);
            std::swap(ind[i], ind[j]);
            ++i;
            --j;
        }
    } while (i <= j);
    if (left < j) model_step(p, left, j, ind, depth + 1, deepest);
    if (i < right) model_step(p, i, right, ind, depth + 1, deepest);
}

template <typename Key>
int model_sort(Key *p, std::int64_t left, std::int64_t right, std::int32_t *ind) {
    int deepest = 0;
    if (left < right) model_step(p, left, right, ind, 1, deepest);
    return deepest;
}

// One member of the family, seen as "sort [left, right]". The whole-array
// members can only sort from 0, and take right + 1 as their count.
template <typename Key>
struct Sorter {
    std::string name;
    bool takes_range;
    std::function<void(Key *, std::int32_t, std::int32_t, std::int32_t *)> sort;
};

template <typename Key>
std::vector<Sorter<Key>> sorters();

template <>
std::vector<Sorter<std::int32_t>> sorters<std::int32_t>() {
    using K = std::int32_t;
    auto budgeted = [](std::int32_t deep) {
        return [deep](K *p, std::int32_t l, std::int32_t r, std::int32_t *ind) { l_parallel_qs(p, l, r, ind, deep); };
    };
    return {
        {"l_qs", true, [](K *p, std::int32_t l, std::int32_t r, std::int32_t *ind) { l_qs(p, l, r, ind); }},
        {"l_quicksort", false, [](K *p, std::int32_t, std::int32_t r, std::int32_t *ind) { l_quicksort(p, r + 1, ind); }},
        {"l_parallel_qs(15)", true, budgeted(15)},
        {"l_parallel_qs(3)", true, budgeted(3)},
        {"l_parallel_qs(0)", true, budgeted(0)},
        {"l_parallel_qs(-1)", true, budgeted(-1)},
        {"l_parallel_quicksort", false,
         [](K *p, std::int32_t, std::int32_t r, std::int32_t *ind) { l_parallel_quicksort(p, r + 1, ind); }},
    };
}

template <>
std::vector<Sorter<double>> sorters<double>() {
    using K = double;
    auto budgeted = [](std::int32_t deep) {
        return [deep](K *p, std::int32_t l, std::int32_t r, std::int32_t *ind) { d_parallel_qs(p, l, r, ind, deep); };
    };
    return {
        {"d_qs", true, [](K *p, std::int32_t l, std::int32_t r, std::int32_t *ind) { d_qs(p, l, r, ind); }},
        {"d_quicksort", false, [](K *p, std::int32_t, std::int32_t r, std::int32_t *ind) { d_quicksort(p, r + 1, ind); }},
        {"d_parallel_qs(15)", true, budgeted(15)},
        {"d_parallel_qs(3)", true, budgeted(3)},
        {"d_parallel_qs(0)", true, budgeted(0)},
        {"d_parallel_qs(-1)", true, budgeted(-1)},
        {"d_parallel_quicksort", false,
         [](K *p, std::int32_t, std::int32_t r, std::int32_t *ind) { d_parallel_quicksort(p, r + 1, ind); }},
    };
}

// Keys as bit patterns, so that -0.0 and +0.0 differ and NaNs compare equal to
// themselves: the arrangement is compared exactly.
template <typename Key>
std::vector<std::uint64_t> bits(const std::vector<Key> &keys) {
    std::vector<std::uint64_t> out;
    for (const Key k : keys) {
        if constexpr (sizeof(Key) == 8) {
            std::uint64_t b;
            std::memcpy(&b, &k, 8);
            out.push_back(b);
        } else {
            std::uint32_t b;
            std::memcpy(&b, &k, 4);
            out.push_back(b);
        }
    }
    return out;
}

std::vector<std::int32_t> iota_index(std::size_t n) {
    std::vector<std::int32_t> ind(n);
    std::iota(ind.begin(), ind.end(), 0);
    return ind;
}

template <typename Key>
std::vector<Key> keys_of(const std::vector<double> &values) {
    return std::vector<Key>(values.begin(), values.end());
}

constexpr double nan_ = std::numeric_limits<double>::quiet_NaN();
constexpr double inf_ = std::numeric_limits<double>::infinity();

template <typename Key>
class QuicksortTest : public ::testing::Test {};

using KeyTypes = ::testing::Types<std::int32_t, double>;
TYPED_TEST_SUITE(QuicksortTest, KeyTypes);

// An empty or reversed range reads and writes nothing, so null arrays are fine.
TYPED_TEST(QuicksortTest, EmptyRangesTouchNothing) {
    using Key = TypeParam;
    for (const auto &s : sorters<Key>()) {
        SCOPED_TRACE(s.name);
        for (const std::int32_t right : {-1, -2, INT32_MIN})  // counts 0, -1 and INT32_MIN + 1
            s.sort(nullptr, 0, right, nullptr);
        if (!s.takes_range) continue;
        std::vector<Key> keys = keys_of<Key>({5, 4, 3, 2, 1});
        std::vector<std::int32_t> ind = iota_index(keys.size());
        const std::vector<Key> before = keys;
        s.sort(keys.data(), 3, 1, ind.data());
        s.sort(keys.data(), 2, 2, ind.data());
        s.sort(keys.data(), INT32_MAX, INT32_MIN, ind.data());
        EXPECT_EQ(bits(keys), bits(before));
        EXPECT_EQ(ind, iota_index(keys.size()));
    }
}

// The whole-array members take a count; the smallest one has no count - 1.
TEST(QuicksortCounts, NonPositiveCountsTouchNothing) {
    for (const std::int32_t count : {0, -1, INT32_MIN}) {
        l_quicksort(nullptr, count, nullptr);
        d_quicksort(nullptr, count, nullptr);
        l_parallel_quicksort(nullptr, count, nullptr);
        d_parallel_quicksort(nullptr, count, nullptr);
    }
}

struct FixedCase {
    const char *what;
    std::vector<double> keys;
    std::int32_t left, right;  // right of -1: the whole array
    std::vector<double> sorted;
    std::vector<std::int32_t> companion;
};

TYPED_TEST(QuicksortTest, FixedCases) {
    using Key = TypeParam;
    std::vector<FixedCase> cases = {
        {"one key", {7}, 0, -1, {7}, {0}},
        {"sorted distinct keys", {-4, 1, 2, 3, 5, 8, 13}, 0, -1, {-4, 1, 2, 3, 5, 8, 13}, {0, 1, 2, 3, 4, 5, 6}},
        {"3 1 2", {3, 1, 2}, 0, -1, {1, 2, 3}, {1, 2, 0}},
        {"reversed", {4, 3, 2, 1}, 0, -1, {1, 2, 3, 4}, {3, 2, 1, 0}},
        {"two equal keys", {0, 0}, 0, -1, {0, 0}, {1, 0}},
        {"four equal keys", {5, 5, 5, 5}, 0, -1, {5, 5, 5, 5}, {2, 3, 0, 1}},
        {"pairs of equal keys", {2, 1, 2, 1}, 0, -1, {1, 1, 2, 2}, {3, 1, 0, 2}},
        {"inner range only", {9, 3, 1, 2, 0}, 1, 3, {9, 1, 2, 3, 0}, {0, 2, 3, 1, 4}},
    };
    if constexpr (std::is_floating_point_v<Key>) {
        cases.push_back({"NaN in the middle", {1.0, nan_, 0.0}, 0, -1, {0.0, nan_, 1.0}, {2, 1, 0}});
        cases.push_back({"zeros of both signs are equal keys", {0.0, -0.0}, 0, -1, {-0.0, 0.0}, {1, 0}});
    }
    for (const auto &s : sorters<Key>()) {
        for (const auto &c : cases) {
            SCOPED_TRACE(s.name + ": " + c.what);
            const std::int32_t right = c.right < 0 ? static_cast<std::int32_t>(c.keys.size()) - 1 : c.right;
            if (!s.takes_range && c.left != 0) continue;
            if (!s.takes_range && right != static_cast<std::int32_t>(c.keys.size()) - 1) continue;
            std::vector<Key> keys = keys_of<Key>(c.keys);
            std::vector<std::int32_t> ind = iota_index(keys.size());
            s.sort(keys.data(), c.left, right, ind.data());
            EXPECT_EQ(bits(keys), bits(keys_of<Key>(c.sorted)));
            EXPECT_EQ(ind, c.companion);
        }
    }
}

// Keys drawn from a small pool, so that most arrays hold many equal keys; the
// floating-point pool holds NaNs of both signs, both zeros and both infinities.
template <typename Key>
std::vector<Key> random_keys(std::mt19937 &rng, std::size_t n);

template <>
std::vector<std::int32_t> random_keys<std::int32_t>(std::mt19937 &rng, std::size_t n) {
    const std::int32_t spread = std::uniform_int_distribution<std::int32_t>(1, 40)(rng);
    std::uniform_int_distribution<std::int32_t> pick(-spread, spread);
    std::vector<std::int32_t> keys(n);
    for (auto &k : keys) k = pick(rng);
    if (n > 0) keys[0] = INT32_MIN, keys[n - 1] = INT32_MAX;
    std::shuffle(keys.begin(), keys.end(), rng);
    return keys;
}

template <>
std::vector<double> random_keys<double>(std::mt19937 &rng, std::size_t n) {
    const std::vector<double> pool = {nan_, -nan_, -0.0, 0.0, inf_, -inf_, 1.5, -2.25, 3.0, 1e300, -1e-300, 7.0};
    std::uniform_int_distribution<std::size_t> pick(0, pool.size() - 1);
    std::uniform_int_distribution<int> small(-20, 20);
    std::vector<double> keys(n);
    for (auto &k : keys) k = rng() % 3 == 0 ? pool[pick(rng)] : small(rng) / 4.0;
    return keys;
}

TYPED_TEST(QuicksortTest, AgreesWithTheRecursiveModelOnRandomArrays) {
    using Key = TypeParam;
    const auto members = sorters<Key>();
    std::mt19937 rng(20240611);
    for (int trial = 0; trial < 400; ++trial) {
        const std::size_t n = trial % 50 == 0 ? 20000 : std::uniform_int_distribution<std::size_t>(1, 300)(rng);
        const std::vector<Key> input = random_keys<Key>(rng, n);
        std::uniform_int_distribution<std::int32_t> index(0, static_cast<std::int32_t>(n) - 1);
        std::int32_t left = index(rng);
        std::int32_t right = index(rng);
        if (left > right) std::swap(left, right);

        for (const bool whole : {true, false}) {
            const std::int32_t l = whole ? 0 : left;
            const std::int32_t r = whole ? static_cast<std::int32_t>(n) - 1 : right;
            std::vector<Key> expected = input;
            std::vector<std::int32_t> expectedInd = iota_index(n);
            model_sort(expected.data(), l, r, expectedInd.data());
            for (const auto &s : members) {
                if (!s.takes_range && !whole) continue;
                SCOPED_TRACE(s.name + ", trial " + std::to_string(trial) + ", n " + std::to_string(n) +
                             ", range " + std::to_string(l) + ".." + std::to_string(r));
                std::vector<Key> keys = input;
                std::vector<std::int32_t> ind = iota_index(n);
                s.sort(keys.data(), l, r, ind.data());
                ASSERT_EQ(bits(keys), bits(expected));
                ASSERT_EQ(ind, expectedInd);
            }
        }
    }
}

// Inclusive bounds at the very top of the 32-bit index range: the middle of
// the two bounds and the scans one past `right` must not overflow. The arrays
// are addressed through pointers set back so that index INT32_MAX lands on
// their last element.
TYPED_TEST(QuicksortTest, BoundsNearTheTopOfTheIndexRange) {
    using Key = TypeParam;
    if (sizeof(void *) < 8) GTEST_SKIP() << "needs a 64-bit address space";
    constexpr std::int32_t n = 61;
    constexpr std::int32_t first = INT32_MAX - (n - 1);
    std::mt19937 rng(7);
    const std::vector<Key> input = random_keys<Key>(rng, n);
    std::vector<Key> expected = input;
    std::vector<std::int32_t> expectedInd = iota_index(n);
    model_sort(expected.data(), 0, n - 1, expectedInd.data());

    for (const auto &s : sorters<Key>()) {
        if (!s.takes_range) continue;
        SCOPED_TRACE(s.name);
        std::vector<Key> keys = input;
        std::vector<std::int32_t> ind = iota_index(n);
        const auto keysAt = reinterpret_cast<std::uintptr_t>(keys.data());
        const auto indAt = reinterpret_cast<std::uintptr_t>(ind.data());
        const std::uintptr_t keysBack = static_cast<std::uintptr_t>(first) * sizeof(Key);
        const std::uintptr_t indBack = static_cast<std::uintptr_t>(first) * sizeof(std::int32_t);
        if (keysAt < keysBack || indAt < indBack) GTEST_SKIP() << "arrays too low in the address space";
        s.sort(reinterpret_cast<Key *>(keysAt - keysBack), first, INT32_MAX,
               reinterpret_cast<std::int32_t *>(indAt - indBack));
        EXPECT_EQ(bits(keys), bits(expected));
        EXPECT_EQ(ind, expectedInd);
    }
}

// Keys 0..n-1 arranged so that every step of the scheme finds the largest
// key of its range in the middle: the steps, run backwards from the sorted
// array, each put the range's largest key back at (0 + right) / 2.
std::vector<std::int32_t> middle_largest(std::int32_t n) {
    std::vector<std::int32_t> keys(static_cast<std::size_t>(n));
    std::iota(keys.begin(), keys.end(), 0);
    for (std::int32_t right = 1; right < n; ++right) std::swap(keys[right / 2], keys[right]);
    return keys;
}

TEST(QuicksortAdversarial, MiddleLargestInputNestsOneLevelPerKeyInTheModel) {
    constexpr std::int32_t n = 2000;
    std::vector<std::int32_t> keys = middle_largest(n);
    std::vector<std::int32_t> ind = iota_index(n);
    EXPECT_EQ(model_sort(keys.data(), 0, n - 1, ind.data()), n - 1);
    std::vector<std::int32_t> sorted(n);
    std::iota(sorted.begin(), sorted.end(), 0);
    EXPECT_EQ(keys, sorted);
}

// Runs `body` on a thread with a stack of only `bytes` (or the system's
// smallest, when that is larger); prints a line when it cannot.
void on_small_stack(std::size_t bytes, const std::function<void()> &body) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    const std::size_t size = std::max<std::size_t>(bytes, PTHREAD_STACK_MIN);
    pthread_t thread;
    auto trampoline = [](void *arg) -> void * {
        (*static_cast<const std::function<void()> *>(arg))();
        return nullptr;
    };
    if (pthread_attr_setstacksize(&attr, size) != 0 ||
        pthread_create(&thread, &attr, trampoline, const_cast<std::function<void()> *>(&body)) != 0)
        std::printf("cannot start a thread with a small stack\n");
    else
        pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

// With one nested call per key, sorting this input would need far more stack
// than the 64 KiB the sorting thread is given (tens of bytes per level times
// n); every member must get through and leave the keys sorted with each
// companion naming the key's input position. The sorting runs in a child
// process, so that a stack overflow shows as a failure instead of a crash.
// The element count stays moderate because each step scans its whole range:
// the work grows with the square of the count.
template <typename Key>
void check_middle_largest_input(const Sorter<Key> &s) {
    constexpr std::int32_t n = 20000;
    const std::vector<std::int32_t> input = middle_largest(n);
    std::vector<std::int32_t> position(n);
    for (std::int32_t k = 0; k < n; ++k) position[input[k]] = k;

    const auto result = testsupport::run_in_child([&] {
        std::vector<Key> keys(input.begin(), input.end());
        std::vector<std::int32_t> ind = iota_index(n);
        on_small_stack(64 * 1024, [&] { s.sort(keys.data(), 0, n - 1, ind.data()); });
        for (std::int32_t k = 0; k < n; ++k) {
            if (keys[k] != static_cast<Key>(k) || ind[k] != position[k]) {
                std::printf("wrong at %d\n", k);
                return;
            }
        }
        std::printf("sorted\n");
    });
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "sorted\n");
}

TYPED_TEST(QuicksortTest, MiddleLargestInputSortsOnASmallStack) {
    for (const auto &s : sorters<TypeParam>()) {
        SCOPED_TRACE(s.name);
        check_middle_largest_input(s);
    }
}

}  // namespace

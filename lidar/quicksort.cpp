// In-place ascending quicksorts that carry a companion index array through
// the same exchanges, for 32-bit integer and 64-bit floating-point keys.
//
// Every routine performs the same partition step: the pivot is a copy of the
// middle key, both scans stop on keys equal to it (or, for floating-point
// keys, on any comparison that is false, as with a NaN), and the pair found is
// exchanged in both arrays. The keys and the companion array therefore end in
// one exact arrangement, whichever routine and depth budget sorted them.
//
// The two sub-ranges a step leaves are disjoint and each is sorted from its
// own contents alone, so the smaller one is sorted by a nested call and the
// larger one by the next turn of the loop: the nesting stays within log2 of
// the element count whatever the input.
#include "LiDAR.h"

#include <cstdint>
#include <utility>

namespace {

// Indices are carried in 64 bits: a scan may step one past an inclusive
// bound, and the middle of two bounds near INT32_MAX does not fit in 32 bits.
using Index = std::int64_t;

// A budget that never runs out: the routine that has it performs every step.
constexpr std::int32_t unlimited = -1;

// What a step leaves to sort: [left, j] and [i, right].
struct Split {
    Index j;
    Index i;
};

template <typename Key>
Split partition(Key *p, std::int32_t *p_ind, Index left, Index right) {
    Index i = left;
    Index j = right;
    const Key v = p[(left + right) / 2];  // division truncates toward zero
    do {
        while (p[i] < v && i < right) ++i;
        while (v < p[j] && j > left) --j;
        if (i <= j) {
            std::swap(p[i], p[j]);
            std::swap(p_ind[i], p_ind[j]);
            ++i;
            --j;
        }
    } while (i <= j);
    return {j, i};
}

// Sorts p[left..right] and p_ind alongside. `deep` is the depth budget of the
// budgeted routines: while it is positive each nested step gets one less;
// once a step has run with a budget of zero, both of its sub-ranges go to the
// plain routine, which has an unlimited budget. A negative budget never
// reaches zero. Ranges of fewer than two keys are left untouched: a step on
// one key exchanges it with itself, and an empty range has no key to read.
template <typename Key>
void sort_range(Key *p, std::int32_t *p_ind, Index left, Index right, std::int32_t deep) {
    while (left < right) {
        const Split split = partition(p, p_ind, left, right);
        if (deep > 0)
            --deep;
        else if (deep == 0)
            deep = unlimited;
        if (split.j - left < right - split.i) {
            sort_range(p, p_ind, left, split.j, deep);
            left = split.i;
        } else {
            sort_range(p, p_ind, split.i, right, deep);
            right = split.j;
        }
    }
}

// The budget the whole-array budgeted routines start with.
constexpr std::int32_t initial_budget = 15;

}  // namespace

extern "C" {

void l_qs(int32_t *p, int32_t left, int32_t right, int32_t *p_ind) {
    sort_range(p, p_ind, left, right, unlimited);
}

void l_quicksort(int32_t *p, int32_t count, int32_t *p_ind) {
    sort_range(p, p_ind, 0, Index{count} - 1, unlimited);
}

void d_qs(double *p, int32_t left, int32_t right, int32_t *p_ind) {
    sort_range(p, p_ind, left, right, unlimited);
}

void d_quicksort(double *p, int32_t count, int32_t *p_ind) {
    sort_range(p, p_ind, 0, Index{count} - 1, unlimited);
}

void l_parallel_qs(int32_t *p, int32_t left, int32_t right, int32_t *p_ind, int32_t deep) {
    sort_range(p, p_ind, left, right, deep);
}

void l_parallel_quicksort(int32_t *p, int32_t count, int32_t *p_ind) {
    sort_range(p, p_ind, 0, Index{count} - 1, initial_budget);
}

void d_parallel_qs(double *p, int32_t left, int32_t right, int32_t *p_ind, int32_t deep) {
    sort_range(p, p_ind, left, right, deep);
}

void d_parallel_quicksort(double *p, int32_t count, int32_t *p_ind) {
    sort_range(p, p_ind, 0, Index{count} - 1, initial_budget);
}

}  // extern "C"

// The record scan of the header statistics refresh: counts by return number
// and extremes of the stored coordinates over a block of whole point records.
// Defined here, inline, so that the refresh and its tests run the same code.
#pragma once

#include "las_bytes.h"

#include <cstddef>
#include <cstdint>

namespace lidar {

// What the records seen so far hold. The extremes mean something only once
// `records` is above 0.
struct RecordTally {
    std::uint64_t records = 0;
    // Records of each return number 0 to 7 (the low three bits of bitfield).
    std::uint64_t byReturnNumber[8] = {};
    std::int32_t min[3] = {INT32_MAX, INT32_MAX, INT32_MAX};  // X, Y, Z
    std::int32_t max[3] = {INT32_MIN, INT32_MIN, INT32_MIN};
};

// Adds `count` whole records of `recordLength` bytes each, back to back from
// `block`, to `tally`. Only X, Y, Z and the return number are looked at.
inline void tally_records(const std::uint8_t *block, std::size_t count, std::size_t recordLength,
                          RecordTally &tally) {
    std::int32_t lo[3] = {tally.min[0], tally.min[1], tally.min[2]};
    std::int32_t hi[3] = {tally.max[0], tally.max[1], tally.max[2]};
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t *record = block + i * recordLength;
        const std::int32_t xyz[3] = {LAS_GET(record, LAS12fm0, X), LAS_GET(record, LAS12fm0, Y),
                                     LAS_GET(record, LAS12fm0, Z)};
        for (int axis = 0; axis < 3; ++axis) {
            if (xyz[axis] < lo[axis]) lo[axis] = xyz[axis];
            if (xyz[axis] > hi[axis]) hi[axis] = xyz[axis];
        }
        ++tally.byReturnNumber[record[offsetof(LAS12fm0, bitfield)] & 0x07];
    }
    for (int axis = 0; axis < 3; ++axis) {
        tally.min[axis] = lo[axis];
        tally.max[axis] = hi[axis];
    }
    tally.records += count;
}

// Adds what another tally saw to `into`.
inline void merge_tally(RecordTally &into, const RecordTally &from) {
    into.records += from.records;
    for (int k = 0; k < 8; ++k) into.byReturnNumber[k] += from.byReturnNumber[k];
    for (int axis = 0; axis < 3; ++axis) {
        if (from.min[axis] < into.min[axis]) into.min[axis] = from.min[axis];
        if (from.max[axis] > into.max[axis]) into.max[axis] = from.max[axis];
    }
}

}  // namespace lidar

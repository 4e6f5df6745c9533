#include "transform.h"

#include "las_bytes.h"

#include <algorithm>
#include <cmath>

namespace tessvane {

Georeference georeference_of(const std::uint8_t *header) {
    Georeference geo;
    geo.scale[0] = LAS_GET(header, LAS12Header, XScaleFactor);
    geo.scale[1] = LAS_GET(header, LAS12Header, YScaleFactor);
    geo.scale[2] = LAS_GET(header, LAS12Header, ZScaleFactor);
    geo.offset[0] = LAS_GET(header, LAS12Header, XOffset);
    geo.offset[1] = LAS_GET(header, LAS12Header, YOffset);
    geo.offset[2] = LAS_GET(header, LAS12Header, ZOffset);
    return geo;
}

RecordTransform make_record_transform(const Motion &motion, const Georeference &geo) {
    const double theta = motion.angle * degrees_to_radians;
    return {motion, geo, std::cos(theta), std::sin(theta), std::sin(-theta)};
}

void StoredExtremes::include(const StoredExtremes &other) {
    if (!other.any) return;
    for (int axis = 0; axis < 3; ++axis) {
        min[axis] = std::min(min[axis], other.min[axis]);
        max[axis] = std::max(max[axis], other.max[axis]);
    }
    any = true;
}

namespace {

// Records are moved in chunks: coordinates gathered into arrays, moved in a
// loop the compiler can vectorise, and scattered back.
constexpr std::size_t chunk_records = 512;

struct CoordinateChunk {
    alignas(64) std::int32_t v[3][chunk_records];
};

void gather(const std::uint8_t *records, std::size_t n, std::size_t recordLength, CoordinateChunk &c) {
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t *record = records + i * recordLength;
        c.v[0][i] = lidar::load<std::int32_t>(record + offsetof(LAS12fm0, X));
        c.v[1][i] = lidar::load<std::int32_t>(record + offsetof(LAS12fm0, Y));
        c.v[2][i] = lidar::load<std::int32_t>(record + offsetof(LAS12fm0, Z));
    }
}

void scatter(const CoordinateChunk &c, std::size_t n, std::size_t recordLength, std::uint8_t *records) {
    for (std::size_t i = 0; i < n; ++i) {
        std::uint8_t *record = records + i * recordLength;
        lidar::store(record + offsetof(LAS12fm0, X), c.v[0][i]);
        lidar::store(record + offsetof(LAS12fm0, Y), c.v[1][i]);
        lidar::store(record + offsetof(LAS12fm0, Z), c.v[2][i]);
    }
}

// Moves the stored coordinates in place and widens the extremes; false when
// any of them cannot be stored, leaving the chunk partly moved.
bool move_chunk(const RecordTransform &t, CoordinateChunk &c, std::size_t n, StoredExtremes &extremes) {
    std::int32_t lo[3], hi[3];
    for (int axis = 0; axis < 3; ++axis) {
        lo[axis] = extremes.min[axis];
        hi[axis] = extremes.max[axis];
    }
    int ok = 1;
    for (std::size_t i = 0; i < n; ++i) {
        const MovedPoint moved = move_point(t, c.v[0][i], c.v[1][i], c.v[2][i]);
        std::int32_t x, y, z;
        ok &= quantise((moved.x - t.geo.offset[0]) / t.geo.scale[0], x);
        ok &= quantise((moved.y - t.geo.offset[1]) / t.geo.scale[1], y);
        ok &= quantise((moved.z - t.geo.offset[2]) / t.geo.scale[2], z);
        c.v[0][i] = x;
        c.v[1][i] = y;
        c.v[2][i] = z;
        lo[0] = std::min(lo[0], x);
        hi[0] = std::max(hi[0], x);
        lo[1] = std::min(lo[1], y);
        hi[1] = std::max(hi[1], y);
        lo[2] = std::min(lo[2], z);
        hi[2] = std::max(hi[2], z);
    }
    for (int axis = 0; axis < 3; ++axis) {
        extremes.min[axis] = lo[axis];
        extremes.max[axis] = hi[axis];
    }
    return ok != 0;
}

// The first record and axis of a chunk whose moved coordinate cannot be stored.
QuantisationFault first_fault(const RecordTransform &t, const std::uint8_t *records, std::size_t n,
                              std::size_t recordLength) {
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t *record = records + i * recordLength;
        const MovedPoint moved = move_point(t, lidar::load<std::int32_t>(record), lidar::load<std::int32_t>(record + 4),
                                            lidar::load<std::int32_t>(record + 8));
        const double q[3] = {(moved.x - t.geo.offset[0]) / t.geo.scale[0], (moved.y - t.geo.offset[1]) / t.geo.scale[1],
                             (moved.z - t.geo.offset[2]) / t.geo.scale[2]};
        std::int32_t ignored;
        for (int axis = 0; axis < 3; ++axis)
            if (!quantise(q[axis], ignored)) return {i, axis};
    }
    return {0, 0};  // not reached: move_chunk found one
}

}  // namespace

std::optional<QuantisationFault> transform_records(std::uint8_t *records, std::size_t count,
                                                   std::size_t recordLength, const RecordTransform &t,
                                                   StoredExtremes &extremes) {
    StoredExtremes local;
    CoordinateChunk chunk;
    for (std::size_t first = 0; first < count; first += chunk_records) {
        const std::size_t n = std::min(chunk_records, count - first);
        std::uint8_t *at = records + first * recordLength;
        gather(at, n, recordLength, chunk);
        if (!move_chunk(t, chunk, n, local)) {
            QuantisationFault fault = first_fault(t, at, n, recordLength);
            fault.record += first;
            return fault;
        }
        scatter(chunk, n, recordLength, at);
    }
    local.any = count > 0;
    extremes.include(local);
    return std::nullopt;
}

}  // namespace tessvane

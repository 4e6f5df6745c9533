#include "transform.h"

#include "las_bytes.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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
    Motion applied = motion;
    if (motion.angle == 0.0) {
        // Without a rotation the centre is ignored, as the run's notice says:
        // about the origin the formulas give exactly old + translation,
        // where a far centre would cost the coordinates their last digits.
        applied.rotCenterX = 0.0;
        applied.rotCenterY = 0.0;
    }
    return {applied, geo, std::cos(theta), std::sin(theta), std::sin(-theta)};
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

// Four points at a time, lane by lane the same IEEE operations as
// move_point() and quantise(): the results are identical to the scalar ones.
using Doubles = double __attribute__((vector_size(32)));
using Masks = std::int64_t __attribute__((vector_size(32)));
using Ints = std::int32_t __attribute__((vector_size(16)));
constexpr std::size_t lanes = 4;

#define LANE_HELPER [[gnu::always_inline, gnu::target("avx2")]] inline

LANE_HELPER Doubles splat(double v) { return Doubles{v, v, v, v}; }

LANE_HELPER Ints load_lanes(const std::int32_t *at) {
    Ints v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

LANE_HELPER void store_lanes(std::int32_t *at, Ints v) { std::memcpy(at, &v, sizeof v); }

// Rounds each lane half away from zero; clears `ok` lanes that do not fit.
LANE_HELPER Ints quantise_lanes(Doubles q, Masks &ok) {
    const Masks inRange = (q > splat(-2147483648.5)) & (q < splat(2147483647.5));
    ok &= inRange;
    const Doubles safe = inRange ? q : splat(0.0);
    const Doubles whole = __builtin_convertvector(__builtin_convertvector(safe, Ints), Doubles);  // toward zero
    const Doubles fraction = safe - whole;  // exact
    const Masks one = (Masks)splat(1.0);
    const Doubles up = (Doubles)((fraction >= splat(0.5)) & one);     // 1.0 where true
    const Doubles down = (Doubles)((fraction <= splat(-0.5)) & one);  // 1.0 where true
    return __builtin_convertvector((whole + up) - down, Ints);        // an integer already: exact
}

// Moves the stored coordinates in place and widens the extremes; false when
// any of them cannot be stored, leaving the chunk partly moved. `n` is a
// multiple of the lane count. Built for processors with AVX2, where the
// four-lane vectors map onto single instructions.
[[gnu::target("avx2")]] bool move_chunk_avx2(const RecordTransform &t, CoordinateChunk &c, std::size_t n,
                                             StoredExtremes &extremes) {
    const Motion &m = t.motion;
    const Doubles scaleX = splat(t.geo.scale[0]), scaleY = splat(t.geo.scale[1]), scaleZ = splat(t.geo.scale[2]);
    const Doubles offsetX = splat(t.geo.offset[0]), offsetY = splat(t.geo.offset[1]), offsetZ = splat(t.geo.offset[2]);
    const Doubles centreX = splat(m.rotCenterX), centreY = splat(m.rotCenterY);
    const Doubles cosTheta = splat(t.cosTheta), sinTheta = splat(t.sinTheta), sinMinusTheta = splat(t.sinMinusTheta);
    const Doubles transX = splat(m.transX), transY = splat(m.transY), transZ = splat(m.transZ);
    Ints lo[3], hi[3];
    for (int axis = 0; axis < 3; ++axis) {
        lo[axis] = Ints{} + extremes.min[axis];
        hi[axis] = Ints{} + extremes.max[axis];
    }
    Masks ok = Masks{} - 1;
    for (std::size_t i = 0; i < n; i += lanes) {
        const Doubles oldX = scaleX * __builtin_convertvector(load_lanes(&c.v[0][i]), Doubles) + offsetX;
        const Doubles oldY = scaleY * __builtin_convertvector(load_lanes(&c.v[1][i]), Doubles) + offsetY;
        const Doubles oldZ = scaleZ * __builtin_convertvector(load_lanes(&c.v[2][i]), Doubles) + offsetZ;
        const Doubles dx = oldX - centreX;
        const Doubles dy = oldY - centreY;
        const Doubles newX = ((dx * cosTheta + centreX) + dy * sinTheta) + transX;
        const Doubles newY = ((dx * sinMinusTheta + centreY) + dy * cosTheta) + transY;
        const Doubles newZ = oldZ + transZ;
        const Ints stored[3] = {quantise_lanes((newX - offsetX) / scaleX, ok),
                                quantise_lanes((newY - offsetY) / scaleY, ok),
                                quantise_lanes((newZ - offsetZ) / scaleZ, ok)};
        for (int axis = 0; axis < 3; ++axis) {
            store_lanes(&c.v[axis][i], stored[axis]);
            lo[axis] = stored[axis] < lo[axis] ? stored[axis] : lo[axis];
            hi[axis] = stored[axis] > hi[axis] ? stored[axis] : hi[axis];
        }
    }
    for (int axis = 0; axis < 3; ++axis)
        for (std::size_t lane = 0; lane < lanes; ++lane) {
            extremes.min[axis] = std::min(extremes.min[axis], lo[axis][lane]);
            extremes.max[axis] = std::max(extremes.max[axis], hi[axis][lane]);
        }
    bool allOk = true;
    for (std::size_t lane = 0; lane < lanes; ++lane) allOk &= ok[lane] != 0;
    return allOk;
}

// The same, one coordinate at a time, for any processor.
bool move_chunk_scalar(const RecordTransform &t, CoordinateChunk &c, std::size_t n, StoredExtremes &extremes) {
    bool ok = true;
    for (std::size_t i = 0; i < n; ++i) {
        const MovedPoint moved = move_point(t, c.v[0][i], c.v[1][i], c.v[2][i]);
        const double q[3] = {(moved.x - t.geo.offset[0]) / t.geo.scale[0], (moved.y - t.geo.offset[1]) / t.geo.scale[1],
                             (moved.z - t.geo.offset[2]) / t.geo.scale[2]};
        for (int axis = 0; axis < 3; ++axis) {
            std::int32_t stored;
            ok &= quantise(q[axis], stored);
            c.v[axis][i] = stored;
            extremes.min[axis] = std::min(extremes.min[axis], stored);
            extremes.max[axis] = std::max(extremes.max[axis], stored);
        }
    }
    return ok;
}

using ChunkMover = bool (*)(const RecordTransform &, CoordinateChunk &, std::size_t, StoredExtremes &);

ChunkMover chunk_mover(KernelChoice choice) {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (choice == KernelChoice::portable || !avx2) return move_chunk_scalar;
    return move_chunk_avx2;
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
                                                   StoredExtremes &extremes, KernelChoice choice) {
    const ChunkMover move_chunk = chunk_mover(choice);
    StoredExtremes local;
    CoordinateChunk chunk;
    for (std::size_t first = 0; first < count; first += chunk_records) {
        const std::size_t n = std::min(chunk_records, count - first);
        std::uint8_t *at = records + first * recordLength;
        gather(at, n, recordLength, chunk);
        const std::size_t padded = (n + lanes - 1) / lanes * lanes;
        for (std::size_t i = n; i < padded; ++i)
            for (int axis = 0; axis < 3; ++axis) chunk.v[axis][i] = chunk.v[axis][n - 1];
        if (!move_chunk(t, chunk, padded, local)) {
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

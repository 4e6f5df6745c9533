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

std::optional<QuantisationFault> first_fault(const double (&q)[3], std::uint64_t record) {
    std::int32_t ignored;
    for (int axis = 0; axis < 3; ++axis)
        if (!quantise(q[axis], ignored)) return QuantisationFault{record, axis};
    return std::nullopt;
}

}  // namespace

std::optional<QuantisationFault> transform_records(std::uint8_t *records, std::size_t count,
                                                   std::size_t recordLength, const RecordTransform &t,
                                                   StoredExtremes &extremes) {
    StoredExtremes local;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t *record = records + i * recordLength;
        const std::int32_t X = lidar::load<std::int32_t>(record + offsetof(LAS12fm0, X));
        const std::int32_t Y = lidar::load<std::int32_t>(record + offsetof(LAS12fm0, Y));
        const std::int32_t Z = lidar::load<std::int32_t>(record + offsetof(LAS12fm0, Z));
        const MovedPoint moved = move_point(t, X, Y, Z);
        const double q[3] = {(moved.x - t.geo.offset[0]) / t.geo.scale[0],
                             (moved.y - t.geo.offset[1]) / t.geo.scale[1],
                             (moved.z - t.geo.offset[2]) / t.geo.scale[2]};
        std::int32_t stored[3];
        bool ok = true;
        for (int axis = 0; axis < 3; ++axis) ok &= quantise(q[axis], stored[axis]);
        if (!ok) return first_fault(q, i);
        for (int axis = 0; axis < 3; ++axis) {
            local.min[axis] = std::min(local.min[axis], stored[axis]);
            local.max[axis] = std::max(local.max[axis], stored[axis]);
        }
        lidar::store(record + offsetof(LAS12fm0, X), stored[0]);
        lidar::store(record + offsetof(LAS12fm0, Y), stored[1]);
        lidar::store(record + offsetof(LAS12fm0, Z), stored[2]);
    }
    local.any = count > 0;
    extremes.include(local);
    return std::nullopt;
}

}  // namespace tessvane

// The motion of point records: a rotation about a vertical axis through a
// given X/Y centre, then a translation. Pure functions over byte images.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace tessvane {

// The six numbers of the command line, in their order there.
struct Motion {
    double transX = 0.0;
    double transY = 0.0;
    double transZ = 0.0;
    double angle = 0.0;  // degrees; positive turns clockwise seen from above
    double rotCenterX = 0.0;
    double rotCenterY = 0.0;
};

// The degrees-to-radians factor the suite has always used.
inline constexpr double degrees_to_radians = 0.01745329252;

// Scale factors and offsets of the three axes, from the header.
struct Georeference {
    double scale[3] = {1.0, 1.0, 1.0};
    double offset[3] = {0.0, 0.0, 0.0};
};

Georeference georeference_of(const std::uint8_t *header);

// Everything one record's transform needs, with the trigonometry done once.
struct RecordTransform {
    Motion motion;
    Georeference geo;
    double cosTheta;
    double sinTheta;
    double sinMinusTheta;
};

RecordTransform make_record_transform(const Motion &motion, const Georeference &geo);

// Extremes of the stored integers written, per axis.
struct StoredExtremes {
    std::int32_t min[3] = {INT32_MAX, INT32_MAX, INT32_MAX};
    std::int32_t max[3] = {INT32_MIN, INT32_MIN, INT32_MIN};
    bool any = false;

    void include(const StoredExtremes &other);
};

// A moved coordinate that has no 32-bit stored value.
struct QuantisationFault {
    std::uint64_t record;  // index within the records given, from 0
    int axis;              // 0 X, 1 Y, 2 Z
};

// Rounds to the nearest integer, halves away from zero (as llround). False,
// leaving an unspecified value, when the result does not fit in 32 bits or
// q is not a number.
inline bool quantise(double q, std::int32_t &stored) {
    const bool inRange = (q > -2147483648.5) & (q < 2147483647.5);
    const double safe = inRange ? q : 0.0;
    std::int32_t whole = static_cast<std::int32_t>(safe);  // toward zero
    const double fraction = safe - static_cast<double>(whole);  // exact
    whole += static_cast<std::int32_t>(fraction >= 0.5) - static_cast<std::int32_t>(fraction <= -0.5);
    stored = whole;
    return inRange;
}

// The moved file coordinates of one point given its stored integers.
struct MovedPoint {
    double x, y, z;
};

inline MovedPoint move_point(const RecordTransform &t, std::int32_t X, std::int32_t Y, std::int32_t Z) {
    const Motion &m = t.motion;
    const double oldX = t.geo.scale[0] * X + t.geo.offset[0];
    const double oldY = t.geo.scale[1] * Y + t.geo.offset[1];
    const double oldZ = t.geo.scale[2] * Z + t.geo.offset[2];
    const double dx = oldX - m.rotCenterX;
    const double dy = oldY - m.rotCenterY;
    const double newX = ((dx * t.cosTheta + m.rotCenterX) + dy * t.sinTheta) + m.transX;
    const double newY = ((dx * t.sinMinusTheta + m.rotCenterY) + dy * t.cosTheta) + m.transY;
    const double newZ = oldZ + m.transZ;
    return {newX, newY, newZ};
}

// Which code moves the records: the fastest this processor runs, or the
// portable one (for comparing the two). Both give the same bytes.
enum class KernelChoice { fastest, portable };

// Moves the coordinates (the first twelve bytes) of `count` records of
// `recordLength` bytes in place; every other byte is left alone. Widens
// `extremes` by the stored values written. On a coordinate that cannot be
// stored, returns the first such record and axis; the records are then
// partly moved.
std::optional<QuantisationFault> transform_records(std::uint8_t *records, std::size_t count,
                                                   std::size_t recordLength, const RecordTransform &t,
                                                   StoredExtremes &extremes,
                                                   KernelChoice choice = KernelChoice::fastest);

}  // namespace tessvane

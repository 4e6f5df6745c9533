// The record transform on its own: rounding, the motion's formulas, the
// bytes it must not touch and the coordinates it must refuse.
#include "las_bytes.h"
#include "las_fixture.h"
#include "transform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace tessvane {
namespace {

constexpr double nan_value = std::numeric_limits<double>::quiet_NaN();
constexpr double inf_value = std::numeric_limits<double>::infinity();

struct RoundingCase {
    double q;
    bool fits;
    std::int32_t stored;
};

TEST(Quantise, RoundsHalvesAwayFromZeroAndRefusesWhatDoesNotFit) {
    const RoundingCase cases[] = {
        {0.0, true, 0},
        {0.49999999999999994, true, 0},  // a hair below one half
        {0.5, true, 1},
        {-0.49999999999999994, true, 0},
        {-0.5, true, -1},
        {1.4999999999999998, true, 1},
        {2.5, true, 3},
        {-2.5, true, -3},
        {12344.999999999998, true, 12345},
        {-7.5000000000000009, true, -8},
        {2147483647.0, true, 2147483647},
        {2147483647.4999998, true, 2147483647},
        {2147483647.5, false, 0},
        {-2147483648.0, true, -2147483647 - 1},
        {-2147483648.4999995, true, -2147483647 - 1},
        {-2147483648.5, false, 0},
        {1e300, false, 0},
        {-1e300, false, 0},
        {inf_value, false, 0},
        {-inf_value, false, 0},
        {nan_value, false, 0},
    };
    for (const RoundingCase &c : cases) {
        std::int32_t stored = 0;
        EXPECT_EQ(quantise(c.q, stored), c.fits) << c.q;
        if (!c.fits) continue;
        EXPECT_EQ(stored, c.stored) << c.q;
        EXPECT_EQ(stored, std::llround(c.q)) << c.q;
    }
}

// Records of one format at the given stored coordinates, every attribute byte set.
std::vector<std::uint8_t> records_at(int format, const std::vector<lasfixture::Point> &points) {
    const std::size_t length = lasfixture::record_length(format);
    std::vector<std::uint8_t> bytes(points.size() * length);
    for (std::size_t i = 0; i < points.size(); ++i)
        lasfixture::fill_record(bytes.data() + i * length, format, points[i], i);
    return bytes;
}

lasfixture::Point stored_point(const std::vector<std::uint8_t> &records, std::size_t length, std::size_t i) {
    const std::uint8_t *r = records.data() + i * length;
    return {lidar::load<std::int32_t>(r), lidar::load<std::int32_t>(r + 4), lidar::load<std::int32_t>(r + 8)};
}

Georeference unit_grid(double scale) {
    Georeference geo;
    for (int a = 0; a < 3; ++a) geo.scale[a] = scale;
    return geo;
}

struct TranslationCase {
    double transX;
    std::int32_t storedX;  // from stored X = 0 at scale 1
};

TEST(TransformRecords, TranslationRoundsAtTheHalfUnit) {
    const TranslationCase cases[] = {
        {0.49999999999999994, 0}, {0.5, 1}, {-0.49999999999999994, 0}, {-0.5, -1}, {1.5, 2}, {-1.5, -2},
    };
    for (const TranslationCase &c : cases) {
        std::vector<std::uint8_t> records = records_at(0, {{0, 0, 0}});
        Motion motion;
        motion.transX = c.transX;
        StoredExtremes extremes;
        ASSERT_FALSE(transform_records(records.data(), 1, 20, make_record_transform(motion, unit_grid(1.0)), extremes));
        EXPECT_EQ(stored_point(records, 20, 0).X, c.storedX) << c.transX;
    }
}

TEST(TransformRecords, WholeUnitTranslationIsExactAndUntouchedAxesKeepTheirIntegers) {
    // 0.07 is not exact in binary: truncating would lose a unit on many points.
    Georeference geo = unit_grid(0.01);
    geo.offset[0] = 500000.0;
    geo.offset[1] = 4000000.0;
    geo.offset[2] = -10.0;
    std::vector<lasfixture::Point> points;
    for (std::int32_t i = -500; i < 500; ++i) points.push_back({i * 7919, -i * 104729, i * 31});
    std::vector<std::uint8_t> records = records_at(1, points);
    Motion motion;
    motion.transX = 0.07;
    StoredExtremes extremes;
    ASSERT_FALSE(transform_records(records.data(), points.size(), 28, make_record_transform(motion, geo), extremes));
    for (std::size_t i = 0; i < points.size(); ++i) {
        const lasfixture::Point p = stored_point(records, 28, i);
        EXPECT_EQ(p.X, points[i].X + 7) << i;
        EXPECT_EQ(p.Y, points[i].Y) << i;
        EXPECT_EQ(p.Z, points[i].Z) << i;
    }
}

TEST(TransformRecords, QuarterTurnClockwiseAboutTheOrigin) {
    // At scale 0.001, (1, 0) goes to (0, -1) and (0, 1) to (1, 0).
    std::vector<std::uint8_t> records = records_at(0, {{1000, 0, 5}, {0, 1000, 5}});
    Motion motion;
    motion.angle = 90.0;
    StoredExtremes extremes;
    ASSERT_FALSE(transform_records(records.data(), 2, 20, make_record_transform(motion, unit_grid(0.001)), extremes));
    EXPECT_EQ(stored_point(records, 20, 0).X, 0);
    EXPECT_EQ(stored_point(records, 20, 0).Y, -1000);
    EXPECT_EQ(stored_point(records, 20, 1).X, 1000);
    EXPECT_EQ(stored_point(records, 20, 1).Y, 0);
    EXPECT_EQ(stored_point(records, 20, 1).Z, 5);
    EXPECT_EQ(extremes.min[0], 0);
    EXPECT_EQ(extremes.max[0], 1000);
    EXPECT_EQ(extremes.min[1], -1000);
    EXPECT_EQ(extremes.max[1], 0);
}

TEST(TransformRecords, RotatesAboutTheCentreThenTranslates) {
    // A point 10 east of the centre, turned 90 degrees clockwise, then moved 1 east and 2 north.
    std::vector<std::uint8_t> records = records_at(2, {{110, 50, 0}});
    Motion motion;
    motion.angle = 90.0;
    motion.rotCenterX = 100.0;
    motion.rotCenterY = 50.0;
    motion.transX = 1.0;
    motion.transY = 2.0;
    motion.transZ = -3.0;
    StoredExtremes extremes;
    ASSERT_FALSE(transform_records(records.data(), 1, 26, make_record_transform(motion, unit_grid(1.0)), extremes));
    const lasfixture::Point p = stored_point(records, 26, 0);
    EXPECT_EQ(p.X, 101);
    EXPECT_EQ(p.Y, 42);
    EXPECT_EQ(p.Z, -3);
}

TEST(TransformRecords, UsesTheSuitesDegreeFactor) {
    // 0.01745329252 differs from pi/180 by about 4.6e-13: over 1e9 units of
    // lever arm at 180 degrees the two put a point about a unit apart.
    const RecordTransform t = make_record_transform(Motion{0, 0, 0, 180.0, 0, 0}, unit_grid(1.0));
    EXPECT_EQ(t.sinTheta, std::sin(180.0 * 0.01745329252));
    EXPECT_NE(t.sinTheta, std::sin(M_PI));
    EXPECT_EQ(t.sinMinusTheta, std::sin(-(180.0 * 0.01745329252)));
}

TEST(TransformRecords, LeavesEveryByteAfterTheCoordinatesAlone) {
    for (int format = 0; format <= 3; ++format) {
        const std::size_t length = lasfixture::record_length(format);
        std::vector<std::uint8_t> records(3 * length, 0xFF);
        for (std::size_t i = 0; i < 3; ++i) lidar::store<std::int32_t>(records.data() + i * length, 1000);
        const std::vector<std::uint8_t> before = records;
        StoredExtremes extremes;
        ASSERT_FALSE(transform_records(records.data(), 3, length,
                                       make_record_transform(Motion{3, 4, 5, 33, 7, 8}, unit_grid(0.01)), extremes));
        for (std::size_t i = 0; i < 3; ++i)
            for (std::size_t b = 12; b < length; ++b)
                ASSERT_EQ(records[i * length + b], before[i * length + b]) << "format " << format << " byte " << b;
    }
}

struct FaultCase {
    const char *what;
    Motion motion;
    Georeference geo;
    QuantisationFault fault;
};

TEST(TransformRecords, NamesTheFirstRecordAndAxisThatCannotBeStored) {
    Georeference zeroZScale = unit_grid(1.0);
    zeroZScale.scale[2] = 0.0;
    const FaultCase cases[] = {
        {"X past the top", Motion{2147483000.0, 0, 0, 0, 0, 0}, unit_grid(1.0), {1, 0}},
        {"Y past the bottom", Motion{0, -2147483000.0, 0, 0, 0, 0}, unit_grid(1.0), {2, 1}},
        {"Z by zero scale", Motion{0, 0, 1.0, 0, 0, 0}, zeroZScale, {0, 2}},
        {"X not a number", Motion{nan_value, 0, 0, 0, 0, 0}, unit_grid(1.0), {0, 0}},
        {"Y infinite", Motion{0, inf_value, 0, 0, 0, 0}, unit_grid(1.0), {0, 1}},
    };
    for (const FaultCase &c : cases) {
        // Record 0 sits at the origin; records 1 and 2 far out on X and down on Y.
        std::vector<std::uint8_t> records = records_at(0, {{0, 0, 0}, {1000, 0, 0}, {0, -1000, 0}});
        StoredExtremes extremes;
        const auto fault = transform_records(records.data(), 3, 20, make_record_transform(c.motion, c.geo), extremes);
        ASSERT_TRUE(fault) << c.what;
        EXPECT_EQ(fault->record, c.fault.record) << c.what;
        EXPECT_EQ(fault->axis, c.fault.axis) << c.what;
    }
}

TEST(StoredExtremes, IncludingAnEmptySetChangesNothing) {
    StoredExtremes a;
    a.any = true;
    a.min[0] = -5;
    a.max[0] = 9;
    StoredExtremes empty;
    a.include(empty);
    EXPECT_EQ(a.min[0], -5);
    EXPECT_EQ(a.max[0], 9);
    empty.include(a);
    EXPECT_TRUE(empty.any);
    EXPECT_EQ(empty.min[0], -5);
}

}  // namespace
}  // namespace tessvane

namespace tessvane {
namespace {

// The vectorised kernel against the portable one, on records that include
// the 32-bit extremes, on motions that push some of them out of range.
TEST(TransformRecords, FastestKernelGivesThePortableKernelsBytes) {
    std::vector<lasfixture::Point> points;
    std::uint64_t state = 12345;
    auto next = [&state] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<std::int32_t>(state >> 32);
    };
    // The extremes first: only the run over every point reaches them.
    points.push_back({INT32_MAX, INT32_MIN, 0});
    points.push_back({INT32_MIN, INT32_MAX, -1});
    for (int i = 0; i < 4099; ++i) points.push_back({next() / 64, next() / 1024, next() / 65536});
    Georeference geo;
    geo.scale[0] = 0.001;
    geo.scale[1] = 0.01;
    geo.scale[2] = 0.0025;
    geo.offset[0] = 500000.0;
    geo.offset[1] = -4000000.0;
    geo.offset[2] = 12.5;
    const Motion motions[] = {
        {0.0005, -0.005, 0.00125, 0, 0, 0},        // half units: the rounding boundary
        {10, 20, 1, 30, 500500, -4000500},          // a turn: X and Y leave the range at the extremes
        {0, 0, 0, -123.456, 499000, -3999000},
        {1e-9, 0, 0, 1e-7, 0, 0},
    };
    int compared = 0, faulted = 0;
    for (const Motion &motion : motions) {
        for (std::size_t count : {std::size_t{1}, std::size_t{3}, std::size_t{515}, points.size()}) {
            const std::vector<lasfixture::Point> some(points.end() - static_cast<std::ptrdiff_t>(count), points.end());
            std::vector<std::uint8_t> fast = records_at(3, some);
            std::vector<std::uint8_t> portable = fast;
            StoredExtremes fastExtremes, portableExtremes;
            const RecordTransform t = make_record_transform(motion, geo);
            const auto fastFault = transform_records(fast.data(), count, 34, t, fastExtremes, KernelChoice::fastest);
            const auto portableFault =
                transform_records(portable.data(), count, 34, t, portableExtremes, KernelChoice::portable);
            ASSERT_EQ(fastFault.has_value(), portableFault.has_value()) << motion.angle << " " << count;
            if (fastFault) {
                EXPECT_EQ(fastFault->record, portableFault->record);
                EXPECT_EQ(fastFault->axis, portableFault->axis);
                ++faulted;
                continue;
            }
            ++compared;
            EXPECT_EQ(fast, portable) << motion.angle << " " << count;
            for (int axis = 0; axis < 3; ++axis) {
                EXPECT_EQ(fastExtremes.min[axis], portableExtremes.min[axis]);
                EXPECT_EQ(fastExtremes.max[axis], portableExtremes.max[axis]);
            }
        }
    }
    EXPECT_GE(compared, 12);
    EXPECT_GE(faulted, 2);
}

}  // namespace
}  // namespace tessvane

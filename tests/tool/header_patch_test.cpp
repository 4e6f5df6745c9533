// Bringing the header's bounding box after the moved records, and nothing else.
#include "header_patch.h"
#include "las_bytes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace tessvane {
namespace {

struct Bounds {
    double minX, maxX, minY, maxY, minZ, maxZ;
};

// A header image with distinct bytes everywhere and the given bounds.
std::vector<std::uint8_t> header_with(const Bounds &b, double scale = 0.01, double offset = 1000.0) {
    std::vector<std::uint8_t> h(LAS_HEADER_SIZE);
    for (std::size_t i = 0; i < h.size(); ++i) h[i] = static_cast<std::uint8_t>(i * 7 + 3);
    std::uint8_t *p = h.data();
    LAS_SET(p, LAS12Header, XScaleFactor, scale);
    LAS_SET(p, LAS12Header, YScaleFactor, scale);
    LAS_SET(p, LAS12Header, XOffset, offset);
    LAS_SET(p, LAS12Header, YOffset, -offset);
    LAS_SET(p, LAS12Header, MinX, b.minX);
    LAS_SET(p, LAS12Header, MaxX, b.maxX);
    LAS_SET(p, LAS12Header, MinY, b.minY);
    LAS_SET(p, LAS12Header, MaxY, b.maxY);
    LAS_SET(p, LAS12Header, MinZ, b.minZ);
    LAS_SET(p, LAS12Header, MaxZ, b.maxZ);
    return h;
}

Bounds bounds_of(const std::vector<std::uint8_t> &h) {
    const std::uint8_t *p = h.data();
    return {LAS_GET(p, LAS12Header, MinX), LAS_GET(p, LAS12Header, MaxX), LAS_GET(p, LAS12Header, MinY),
            LAS_GET(p, LAS12Header, MaxY), LAS_GET(p, LAS12Header, MinZ), LAS_GET(p, LAS12Header, MaxZ)};
}

void expect_bounds(const Bounds &actual, const Bounds &expected, const char *what) {
    EXPECT_EQ(actual.minX, expected.minX) << what;
    EXPECT_EQ(actual.maxX, expected.maxX) << what;
    EXPECT_EQ(actual.minY, expected.minY) << what;
    EXPECT_EQ(actual.maxY, expected.maxY) << what;
    EXPECT_EQ(actual.minZ, expected.minZ) << what;
    EXPECT_EQ(actual.maxZ, expected.maxZ) << what;
}

StoredExtremes extremes(std::int32_t minX, std::int32_t maxX, std::int32_t minY, std::int32_t maxY) {
    StoredExtremes e;
    e.min[0] = minX;
    e.max[0] = maxX;
    e.min[1] = minY;
    e.max[1] = maxY;
    e.min[2] = -1;
    e.max[2] = 1;
    e.any = true;
    return e;
}

struct PatchCase {
    const char *what;
    Motion motion;
    StoredExtremes written;
    double scale;
    Bounds expected;
};

TEST(PatchBounds, FollowsTheMotion) {
    const Bounds in{10, 20, 30, 40, 50, 60};
    const PatchCase cases[] = {
        {"X translation shifts X only", Motion{1.5, 0, 0, 0, 0, 0}, extremes(0, 0, 0, 0), 0.01,
         {11.5, 21.5, 30, 40, 50, 60}},
        {"Y translation shifts Y only", Motion{0, -2, 0, 0, 9, 9}, extremes(0, 0, 0, 0), 0.01,
         {10, 20, 28, 38, 50, 60}},
        {"Z translation shifts Z only", Motion{0, 0, 0.25, 0, 0, 0}, extremes(0, 0, 0, 0), 0.01,
         {10, 20, 30, 40, 50.25, 60.25}},
        {"rotation takes X/Y from the stored values written", Motion{5, 5, 0, 30, 0, 0},
         extremes(-100, 200, 300, 400), 0.01, {0.01 * -100 + 1000.0, 0.01 * 200 + 1000.0, 0.01 * 300 + -1000.0,
                                               0.01 * 400 + -1000.0, 50, 60}},
        {"rotation still shifts Z", Motion{0, 0, -10, 30, 0, 0}, extremes(1, 2, 3, 4), 0.01,
         {0.01 * 1 + 1000.0, 0.01 * 2 + 1000.0, 0.01 * 3 + -1000.0, 0.01 * 4 + -1000.0, 40, 50}},
        {"a negative scale turns the stored extremes round", Motion{0, 0, 0, 30, 0, 0},
         extremes(-100, 200, 300, 400), -0.5, {-0.5 * 200 + 1000.0, -0.5 * -100 + 1000.0, -0.5 * 400 + -1000.0,
                                               -0.5 * 300 + -1000.0, 50, 60}},
        {"rotation with no records keeps X/Y", Motion{1, 1, 1, 30, 0, 0}, StoredExtremes{}, 0.01,
         {10, 20, 30, 40, 51, 61}},
        {"a NaN angle counts as a rotation", Motion{0, 0, 0, std::nan(""), 0, 0}, extremes(0, 10, 0, 10), 1.0,
         {1000, 1010, -1000, -990, 50, 60}},
    };
    for (const PatchCase &c : cases) {
        std::vector<std::uint8_t> h = header_with(in, c.scale);
        patch_bounds(h.data(), c.motion, c.written);
        expect_bounds(bounds_of(h), c.expected, c.what);
    }
}

TEST(PatchBounds, TouchesNoByteOutsideTheBounds) {
    const std::vector<std::uint8_t> before = header_with({1, 2, 3, 4, 5, 6});
    std::vector<std::uint8_t> h = before;
    patch_bounds(h.data(), Motion{1, 2, 3, 45, 7, 8}, extremes(-9, 9, -9, 9));
    const std::size_t first = offsetof(LAS12Header, MaxX);
    const std::size_t end = offsetof(LAS12Header, MinZ) + sizeof(double);
    for (std::size_t i = 0; i < h.size(); ++i)
        if (i < first || i >= end) {
            ASSERT_EQ(h[i], before[i]) << "byte " << i;
        }
}

}  // namespace
}  // namespace tessvane

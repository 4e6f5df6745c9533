// Real LAS files from a public test collection, moved by the built Tessvane
// and compared with the motion worked out here, record by record.
#include "las_bytes.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

// The moved file as the tool should write it: the input's bytes with each
// record's coordinates moved and rounded, and the header's box after them.
std::vector<std::uint8_t> moved_by_hand(const std::vector<std::uint8_t> &in, double tx, double ty, double tz,
                                        double angle, double cx, double cy) {
    const std::uint8_t *h = in.data();
    const double sx = LAS_GET(h, LAS12Header, XScaleFactor), sy = LAS_GET(h, LAS12Header, YScaleFactor),
                 sz = LAS_GET(h, LAS12Header, ZScaleFactor);
    const double ox = LAS_GET(h, LAS12Header, XOffset), oy = LAS_GET(h, LAS12Header, YOffset),
                 oz = LAS_GET(h, LAS12Header, ZOffset);
    const std::uint32_t offset = LAS_GET(h, LAS12Header, OffsetToData);
    const std::uint16_t length = LAS_GET(h, LAS12Header, PointDataRecordLength);
    const std::uint32_t count = LAS_GET(h, LAS12Header, NumberOfPointReturns);

    std::vector<std::uint8_t> out(in.begin(), in.begin() + offset + std::size_t{count} * length);
    const double theta = angle * 0.01745329252;
    double minX = INFINITY, maxX = -INFINITY, minY = INFINITY, maxY = -INFINITY;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint8_t *r = out.data() + offset + std::size_t{i} * length;
        const double x = sx * lidar::load<std::int32_t>(r) + ox;
        const double y = sy * lidar::load<std::int32_t>(r + 4) + oy;
        const double z = sz * lidar::load<std::int32_t>(r + 8) + oz;
        const double newX = (((x - cx) * std::cos(theta) + cx) + (y - cy) * std::sin(theta)) + tx;
        const double newY = (((x - cx) * std::sin(-theta) + cy) + (y - cy) * std::cos(theta)) + ty;
        const auto X = static_cast<std::int32_t>(std::llround((newX - ox) / sx));
        const auto Y = static_cast<std::int32_t>(std::llround((newY - oy) / sy));
        const auto Z = static_cast<std::int32_t>(std::llround((z + tz - oz) / sz));
        lidar::store(r, X);
        lidar::store(r + 4, Y);
        lidar::store(r + 8, Z);
        minX = std::min(minX, sx * X + ox);
        maxX = std::max(maxX, sx * X + ox);
        minY = std::min(minY, sy * Y + oy);
        maxY = std::max(maxY, sy * Y + oy);
    }
    std::uint8_t *oh = out.data();
    if (count > 0) {
        LAS_SET(oh, LAS12Header, MinX, minX);
        LAS_SET(oh, LAS12Header, MaxX, maxX);
        LAS_SET(oh, LAS12Header, MinY, minY);
        LAS_SET(oh, LAS12Header, MaxY, maxY);
    }
    LAS_SET(oh, LAS12Header, MinZ, LAS_GET(h, LAS12Header, MinZ) + tz);
    LAS_SET(oh, LAS12Header, MaxZ, LAS_GET(h, LAS12Header, MaxZ) + tz);
    return out;
}

class SampleFiles : public ::testing::TestWithParam<const char *> {};

TEST_P(SampleFiles, RotatedAndTranslatedRecordByRecord) {
    const auto samples = testsupport::sample_dir();
    if (!samples) GTEST_SKIP() << "LAS_SAMPLE_DIR does not name a folder of sample LAS files";
    const std::string source = *samples + "/" + GetParam();
    const std::vector<std::uint8_t> input = testsupport::read_bytes(source);
    ASSERT_GE(input.size(), 227u) << source;

    testsupport::TempDir dir;
    const std::uint8_t *h = input.data();
    const double cx = (LAS_GET(h, LAS12Header, MinX) + LAS_GET(h, LAS12Header, MaxX)) / 2;
    const double cy = (LAS_GET(h, LAS12Header, MinY) + LAS_GET(h, LAS12Header, MaxY)) / 2;
    char centre[2][64];
    std::snprintf(centre[0], sizeof centre[0], "%.17g", cx);
    std::snprintf(centre[1], sizeof centre[1], "%.17g", cy);
    const testsupport::ProcessResult r = testsupport::run_process(
        {TESSVANE_EXE, source, dir / "moved.las", "10.5", "-20.25", "1.75", "33", centre[0], centre[1]});
    ASSERT_EQ(r.status, 0) << r.output;

    const std::vector<std::uint8_t> output = testsupport::read_bytes(dir / "moved.las");
    const std::vector<std::uint8_t> expected =
        moved_by_hand(input, 10.5, -20.25, 1.75, 33, std::atof(centre[0]), std::atof(centre[1]));
    ASSERT_EQ(output.size(), expected.size());
    const std::uint32_t offset = LAS_GET(h, LAS12Header, OffsetToData);
    EXPECT_TRUE(std::equal(expected.begin() + 227, expected.begin() + offset, output.begin() + 227))
        << "the variable-length records are kept";
    EXPECT_EQ(output, expected);
}

INSTANTIATE_TEST_SUITE_P(EveryVersionAndFormat, SampleFiles,
                         ::testing::Values("v1.0_0.las", "v1.0_1.las", "v1.1_0.las", "v1.1_1.las", "v1.2_0.las",
                                           "v1.2_1.las", "v1.2_2.las", "v1.2_3.las", "simple.las",
                                           "1.2-with-color.las", "test_utm17.las", "no-points.las"),
                         [](const auto &info) {
                             std::string name = info.param;
                             std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
                             return name;
                         });

}  // namespace

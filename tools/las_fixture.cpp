#include "las_fixture.h"

#include "LiDAR.h"
#include "las_bytes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace lasfixture {

namespace {

std::uint64_t mix(std::uint64_t x) {
    // splitmix64: cheap, well spread, deterministic
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

struct Extremes {
    std::int32_t min[3] = {INT32_MAX, INT32_MAX, INT32_MAX};
    std::int32_t max[3] = {INT32_MIN, INT32_MIN, INT32_MIN};
    std::uint32_t byReturn[5] = {0, 0, 0, 0, 0};
};

void set_bounds(std::uint8_t *h, const Layout &layout, const Extremes &e, bool any) {
    auto file = [&](int axis, std::int32_t v) { return layout.scale[axis] * v + layout.offset[axis]; };
    LAS_SET(h, LAS12Header, MinX, any ? file(0, e.min[0]) : 0.0);
    LAS_SET(h, LAS12Header, MaxX, any ? file(0, e.max[0]) : 0.0);
    LAS_SET(h, LAS12Header, MinY, any ? file(1, e.min[1]) : 0.0);
    LAS_SET(h, LAS12Header, MaxY, any ? file(1, e.max[1]) : 0.0);
    LAS_SET(h, LAS12Header, MinZ, any ? file(2, e.min[2]) : 0.0);
    LAS_SET(h, LAS12Header, MaxZ, any ? file(2, e.max[2]) : 0.0);
    for (int k = 0; k < 5; ++k)
        lidar::store(h + offsetof(LAS12Header, NumberOfPointsByReturn) + 4 * k, e.byReturn[k]);
}

int return_number(std::uint64_t seed) { return static_cast<int>(mix(seed) % 5) + 1; }

}  // namespace

std::uint16_t record_length(int format) { return static_cast<std::uint16_t>(lidar::point_record_size(format)); }

std::vector<std::uint8_t> make_header(const Layout &layout, std::uint32_t records, const std::vector<Point> &points) {
    std::vector<std::uint8_t> h(LAS_HEADER_SIZE, 0);
    std::uint8_t *p = h.data();
    std::memcpy(p, "LASF", 4);
    LAS_SET(p, LAS12Header, FileSourceID, std::uint16_t{7});
    LAS_SET(p, LAS12Header, GUIDData1, 0x01234567u);
    LAS_SET(p, LAS12Header, VersionMajor, std::uint8_t{1});
    LAS_SET(p, LAS12Header, VersionMinor, static_cast<std::uint8_t>(layout.versionMinor));
    std::memcpy(p + offsetof(LAS12Header, SystemIdentifier), "tessvane fixture", 16);
    std::memcpy(p + offsetof(LAS12Header, GeneratingSoftware), "mklas", 5);
    LAS_SET(p, LAS12Header, FileCreationDay, std::uint16_t{345});
    LAS_SET(p, LAS12Header, FileCreationYear, std::uint16_t{2026});
    LAS_SET(p, LAS12Header, HeaderSize, std::uint16_t{LAS_HEADER_SIZE});
    LAS_SET(p, LAS12Header, OffsetToData, LAS_HEADER_SIZE + layout.gapBytes);
    LAS_SET(p, LAS12Header, NumberOfVariableLengthRecords, layout.variableLengthRecords);
    LAS_SET(p, LAS12Header, PointDataFormatID, static_cast<std::uint8_t>(layout.format));
    LAS_SET(p, LAS12Header, PointDataRecordLength, record_length(layout.format));
    LAS_SET(p, LAS12Header, NumberOfPointReturns, records);
    LAS_SET(p, LAS12Header, XScaleFactor, layout.scale[0]);
    LAS_SET(p, LAS12Header, YScaleFactor, layout.scale[1]);
    LAS_SET(p, LAS12Header, ZScaleFactor, layout.scale[2]);
    LAS_SET(p, LAS12Header, XOffset, layout.offset[0]);
    LAS_SET(p, LAS12Header, YOffset, layout.offset[1]);
    LAS_SET(p, LAS12Header, ZOffset, layout.offset[2]);
    Extremes e;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const std::int32_t v[3] = {points[i].X, points[i].Y, points[i].Z};
        for (int a = 0; a < 3; ++a) {
            e.min[a] = std::min(e.min[a], v[a]);
            e.max[a] = std::max(e.max[a], v[a]);
        }
        e.byReturn[return_number(i) - 1]++;
    }
    set_bounds(p, layout, e, !points.empty());
    return h;
}

void fill_record(std::uint8_t *record, int format, const Point &p, std::uint64_t seed) {
    const std::size_t length = record_length(format);
    std::uint64_t bits = mix(seed ^ 0x5EEDull);
    for (std::size_t i = 12; i < length; ++i) {
        if ((i - 12) % 8 == 0) bits = mix(bits);
        const auto byte = static_cast<std::uint8_t>(bits >> (8 * ((i - 12) % 8)));
        record[i] = byte == 0 ? 0xA5 : byte;
    }
    // Return number in the low three bits; the high bits stay as drawn.
    record[14] = static_cast<std::uint8_t>((record[14] & 0xF8) | return_number(seed));
    lidar::store(record + 0, p.X);
    lidar::store(record + 4, p.Y);
    lidar::store(record + 8, p.Z);
}

std::vector<std::uint8_t> make_gap(std::uint32_t bytes) {
    std::vector<std::uint8_t> gap(bytes);
    for (std::uint32_t i = 0; i < bytes; ++i) gap[i] = static_cast<std::uint8_t>(0xC0 + i % 61);
    return gap;
}

std::vector<std::uint8_t> make_las(const Layout &layout, const std::vector<Point> &points) {
    std::vector<std::uint8_t> file = make_header(layout, static_cast<std::uint32_t>(points.size()), points);
    const std::vector<std::uint8_t> gap = make_gap(layout.gapBytes);
    file.insert(file.end(), gap.begin(), gap.end());
    const std::size_t length = record_length(layout.format);
    for (std::size_t i = 0; i < points.size(); ++i) {
        const std::size_t at = file.size();
        file.resize(at + length);
        fill_record(file.data() + at, layout.format, points[i], i);
    }
    return file;
}

namespace {

Point random_point(std::uint64_t seed, std::uint64_t i, const Layout &layout) {
    const std::uint64_t r = mix(seed * 0x100000001B3ull + i);
    const double x = 500000.0 + static_cast<double>(r & 0xFFFFF) / 1048576.0 * 1000.0;
    const double y = 4000000.0 + static_cast<double>((r >> 20) & 0xFFFFF) / 1048576.0 * 1000.0;
    const double z = 100.0 + static_cast<double>((r >> 40) & 0xFFFFF) / 1048576.0 * 100.0;
    auto stored = [&](int axis, double v) {
        return static_cast<std::int32_t>(std::llround((v - layout.offset[axis]) / layout.scale[axis]));
    };
    return {stored(0, x), stored(1, y), stored(2, z)};
}

}  // namespace

std::vector<Point> random_points(std::size_t count, std::uint64_t seed, const Layout &layout) {
    std::vector<Point> points(count);
    for (std::size_t i = 0; i < count; ++i) points[i] = random_point(seed, i, layout);
    return points;
}

bool write_random_las(const std::string &path, const Layout &layout, std::uint64_t count, std::uint64_t seed) {
    std::FILE *out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    // Bounds and counts by return come from a first pass over the same sequence.
    Extremes e;
    for (std::uint64_t i = 0; i < count; ++i) {
        const Point p = random_point(seed, i, layout);
        const std::int32_t v[3] = {p.X, p.Y, p.Z};
        for (int a = 0; a < 3; ++a) {
            e.min[a] = std::min(e.min[a], v[a]);
            e.max[a] = std::max(e.max[a], v[a]);
        }
        e.byReturn[return_number(i) - 1]++;
    }
    std::vector<std::uint8_t> header = make_header(layout, static_cast<std::uint32_t>(count), {});
    set_bounds(header.data(), layout, e, count > 0);
    const std::vector<std::uint8_t> gap = make_gap(layout.gapBytes);
    bool ok = std::fwrite(header.data(), 1, header.size(), out) == header.size() &&
              (gap.empty() || std::fwrite(gap.data(), 1, gap.size(), out) == gap.size());
    const std::size_t length = record_length(layout.format);
    std::vector<std::uint8_t> block;
    constexpr std::uint64_t perBlock = 32768;
    for (std::uint64_t first = 0; ok && first < count; first += perBlock) {
        const std::uint64_t n = std::min(perBlock, count - first);
        block.assign(n * length, 0);
        for (std::uint64_t k = 0; k < n; ++k)
            fill_record(block.data() + k * length, layout.format, random_point(seed, first + k, layout), first + k);
        ok = std::fwrite(block.data(), 1, block.size(), out) == block.size();
    }
    return std::fclose(out) == 0 && ok;
}

bool write_file(const std::string &path, const std::vector<std::uint8_t> &bytes) {
    std::FILE *out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return std::fclose(out) == 0 && ok;
}

std::vector<std::uint8_t> read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace lasfixture

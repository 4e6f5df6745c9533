// Synthetic LAS files made by the project itself, for the sample, the tests
// and the benchmarks: any version 1.0-1.2, any point format 0-3, optional
// bytes between header and records, records with every attribute byte set.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lasfixture {

struct Layout {
    int versionMinor = 2;
    int format = 3;
    std::uint32_t variableLengthRecords = 0;  // announced count
    std::uint32_t gapBytes = 0;               // bytes between header and records
    double scale[3] = {0.01, 0.01, 0.01};
    double offset[3] = {0.0, 0.0, 0.0};
};

struct Point {
    std::int32_t X, Y, Z;
};

std::uint16_t record_length(int format);

// The 227-byte header for `records` records, with bounds from `points`
// (or zero bounds when empty) and counts by return filled in.
std::vector<std::uint8_t> make_header(const Layout &layout, std::uint32_t records,
                                      const std::vector<Point> &points);

// One record: the coordinates given, every other byte derived from `seed`
// so that no attribute byte is zero and neighbouring records differ.
void fill_record(std::uint8_t *record, int format, const Point &p, std::uint64_t seed);

// The bytes between header and records: a recognisable pattern.
std::vector<std::uint8_t> make_gap(std::uint32_t bytes);

// A whole file image.
std::vector<std::uint8_t> make_las(const Layout &layout, const std::vector<Point> &points);

// A pseudo-random cloud of `count` points in a 1000 x 1000 x 100 unit block
// near (500000, 4000000, 100) in file units, deterministic for a seed.
std::vector<Point> random_points(std::size_t count, std::uint64_t seed, const Layout &layout);

// Writes a file of `count` pseudo-random records in constant memory.
// False (with errno) on a failed write.
bool write_random_las(const std::string &path, const Layout &layout, std::uint64_t count, std::uint64_t seed);

bool write_file(const std::string &path, const std::vector<std::uint8_t> &bytes);
std::vector<std::uint8_t> read_file(const std::string &path);

}  // namespace lasfixture

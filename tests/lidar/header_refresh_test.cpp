// The header statistics refresh: the record scan on blocks built here, and
// update_header through the C interface of the shared library, run in a child
// process whose standard output and exit status are compared exactly.
#include "LiDAR.h"
#include "header_refresh.h"
#include "las_bytes.h"
#include "las_fixture.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using testsupport::ProcessResult;
using testsupport::TempDir;

// --- the record scan ------------------------------------------------------------

// A block of records of `length` bytes with the coordinates and return-number
// bytes given; every other byte is 0x80, which would show up as a huge or
// negative coordinate if a record were read at the wrong place.
Bytes block_of(std::size_t length, const std::vector<lasfixture::Point> &points,
               const std::vector<std::uint8_t> &returnBytes) {
    Bytes block(points.size() * length, 0x80);
    for (std::size_t i = 0; i < points.size(); ++i) {
        std::uint8_t *r = block.data() + i * length;
        lidar::store(r + 0, points[i].X);
        lidar::store(r + 4, points[i].Y);
        lidar::store(r + 8, points[i].Z);
        r[14] = returnBytes.empty() ? 1 : returnBytes[i];
    }
    return block;
}

TEST(RecordScan, CountsEachRecordUnderTheReturnNumberInTheLowThreeBits) {
    struct Case {
        std::uint8_t bitfield;
        int returnNumber;
    };
    const Case cases[] = {{0x00, 0}, {0x01, 1}, {0x02, 2}, {0x03, 3}, {0x04, 4}, {0x05, 5}, {0x06, 6},
                          {0x07, 7}, {0xFF, 7}, {0xF9, 1}, {0x80, 0}, {0x8D, 5}, {0x7E, 6}, {0x0A, 2}};
    std::vector<lasfixture::Point> points;
    std::vector<std::uint8_t> bitfields;
    std::array<std::uint64_t, 8> expected{};
    for (const Case &c : cases) {
        points.push_back({1, 2, 3});
        bitfields.push_back(c.bitfield);
        ++expected[static_cast<std::size_t>(c.returnNumber)];
    }
    const Bytes block = block_of(28, points, bitfields);
    lidar::RecordTally tally;
    lidar::tally_records(block.data(), points.size(), 28, tally);
    EXPECT_EQ(tally.records, points.size());
    for (std::size_t n = 0; n < 8; ++n) EXPECT_EQ(tally.byReturnNumber[n], expected[n]) << "return number " << n;
}

TEST(RecordScan, KeepsTheExactExtremesOfEachAxisOverSuccessiveBlocks) {
    constexpr std::int32_t lo = std::numeric_limits<std::int32_t>::min();
    constexpr std::int32_t hi = std::numeric_limits<std::int32_t>::max();
    struct Case {
        const char *what;
        std::vector<std::vector<lasfixture::Point>> blocks;
        std::array<std::int32_t, 3> min, max;
    };
    const Case cases[] = {
        {"one record", {{{5, -6, 7}}}, {5, -6, 7}, {5, -6, 7}},
        {"the 32-bit limits, on different axes and in different blocks",
         {{{hi, lo, 0}, {0, 0, 0}}, {}, {{lo, hi, -1}}, {{3, 3, hi}, {4, 4, lo}}},
         {lo, lo, lo},
         {hi, hi, hi}},
        {"every Z above ten million", {{{0, 0, 20000000}}, {{1, 1, 30000000}}}, {0, 0, 20000000}, {1, 1, 30000000}},
        {"every Z below minus ten million", {{{0, 0, -20000000}, {-1, -1, -30000000}}}, {-1, -1, -30000000},
         {0, 0, -20000000}},
        {"every X at the largest value", {{{hi, 0, 0}, {hi, 1, 1}}}, {hi, 0, 0}, {hi, 1, 1}},
        {"extremes in the last record of a block", {{{0, 0, 0}, {0, 0, 0}, {-9, 9, -9}}}, {-9, 0, -9}, {0, 9, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        lidar::RecordTally tally;
        std::uint64_t records = 0;
        for (const auto &points : c.blocks) {
            const Bytes block = block_of(34, points, {});
            lidar::tally_records(block.data(), points.size(), 34, tally);
            records += points.size();
        }
        EXPECT_EQ(tally.records, records);
        for (int axis = 0; axis < 3; ++axis) {
            EXPECT_EQ(tally.min[axis], c.min[static_cast<std::size_t>(axis)]) << "axis " << axis;
            EXPECT_EQ(tally.max[axis], c.max[static_cast<std::size_t>(axis)]) << "axis " << axis;
        }
    }
}

// --- update_header through the C interface ----------------------------------------

// The statistics the refresh writes, in header order.
struct Statistics {
    std::uint32_t records = 0;
    std::array<std::uint32_t, 5> byReturn{};
    std::array<double, 6> box{};  // MaxX, MinX, MaxY, MinY, MaxZ, MinZ
};

constexpr std::size_t counts_at = offsetof(LAS12Header, NumberOfPointReturns);
constexpr std::size_t counts_end = offsetof(LAS12Header, XScaleFactor);
constexpr std::size_t box_at = offsetof(LAS12Header, MaxX);
constexpr std::size_t box_end = LAS_HEADER_SIZE;

Statistics statistics_in_header(const Bytes &file) {
    Statistics s;
    const std::uint8_t *h = file.data();
    s.records = LAS_GET(h, LAS12Header, NumberOfPointReturns);
    for (std::size_t k = 0; k < 5; ++k)
        s.byReturn[k] = lidar::load<std::uint32_t>(h + offsetof(LAS12Header, NumberOfPointsByReturn) + 4 * k);
    for (std::size_t k = 0; k < 6; ++k) s.box[k] = lidar::load<double>(h + box_at + 8 * k);
    return s;
}

// What the header should say, worked out from the records the file holds:
// whole records of PointDataRecordLength bytes from OffsetToData to the end.
// Without any, the box comes from the start values: stored +-2147483646 for
// X and Y, +-10000000 for Z, the maximum from the negative one.
Statistics statistics_of_records(const Bytes &file) {
    const std::uint8_t *h = file.data();
    const std::size_t offset = LAS_GET(h, LAS12Header, OffsetToData);
    const std::size_t length = LAS_GET(h, LAS12Header, PointDataRecordLength);
    Statistics s;
    std::int64_t min[3] = {2147483646, 2147483646, 10000000};
    std::int64_t max[3] = {-2147483646, -2147483646, -10000000};
    for (std::size_t at = offset; at + length <= file.size(); at += length) {
        const std::uint8_t *r = file.data() + at;
        for (std::size_t axis = 0; axis < 3; ++axis) {
            const std::int64_t v = lidar::load<std::int32_t>(r + 4 * axis);
            min[axis] = s.records == 0 ? v : std::min(min[axis], v);
            max[axis] = s.records == 0 ? v : std::max(max[axis], v);
        }
        ++s.records;
        const int returnNumber = r[14] & 7;
        if (returnNumber >= 1 && returnNumber <= 5) ++s.byReturn[static_cast<std::size_t>(returnNumber - 1)];
    }
    const double scale[3] = {LAS_GET(h, LAS12Header, XScaleFactor), LAS_GET(h, LAS12Header, YScaleFactor),
                             LAS_GET(h, LAS12Header, ZScaleFactor)};
    const double shift[3] = {LAS_GET(h, LAS12Header, XOffset), LAS_GET(h, LAS12Header, YOffset),
                             LAS_GET(h, LAS12Header, ZOffset)};
    for (std::size_t axis = 0; axis < 3; ++axis) {
        s.box[2 * axis] = scale[axis] * static_cast<double>(max[axis]) + shift[axis];
        s.box[2 * axis + 1] = scale[axis] * static_cast<double>(min[axis]) + shift[axis];
    }
    return s;
}

void expect_statistics(const Statistics &actual, const Statistics &expected) {
    EXPECT_EQ(actual.records, expected.records) << "NumberOfPointReturns";
    for (std::size_t k = 0; k < 5; ++k)
        EXPECT_EQ(actual.byReturn[k], expected.byReturn[k]) << "NumberOfPointsByReturn, return number " << k + 1;
    const char *names[6] = {"MaxX", "MinX", "MaxY", "MinY", "MaxZ", "MinZ"};
    for (std::size_t k = 0; k < 6; ++k) EXPECT_EQ(actual.box[k], expected.box[k]) << names[k];
}

// The file after a refresh: the statistics worked out from its records, and
// every other byte as it was before.
void expect_refreshed(const Bytes &before, const Bytes &after) {
    ASSERT_EQ(after.size(), before.size());
    const std::pair<std::size_t, std::size_t> untouched[] = {
        {0, counts_at}, {counts_end, box_at}, {box_end, before.size()}};
    for (const auto &[from, to] : untouched) {
        const auto at = std::mismatch(before.begin() + static_cast<std::ptrdiff_t>(from),
                                      before.begin() + static_cast<std::ptrdiff_t>(to), after.begin() +
                                      static_cast<std::ptrdiff_t>(from));
        EXPECT_EQ(at.first, before.begin() + static_cast<std::ptrdiff_t>(to))
            << "byte " << at.first - before.begin() << " changed";
    }
    expect_statistics(statistics_in_header(after), statistics_of_records(before));
}

// Statistics that no file holds, so that a refresh that skips a field shows.
void spoil_statistics(Bytes &file) {
    std::uint8_t *h = file.data();
    LAS_SET(h, LAS12Header, NumberOfPointReturns, 0xDEADBEEFu);
    for (std::size_t k = 0; k < 5; ++k)
        lidar::store(h + offsetof(LAS12Header, NumberOfPointsByReturn) + 4 * k, static_cast<std::uint32_t>(9 - k));
    for (std::size_t k = 0; k < 6; ++k) lidar::store(h + box_at + 8 * k, -1.5e300 + static_cast<double>(k));
}

// Recognisable bytes in the header fields the refresh must not touch and no
// check reads: project identifier, system and software texts, dates, the
// count of variable-length records.
void decorate(Bytes &file) {
    auto pattern = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) file[i] = static_cast<std::uint8_t>(0x31 + i * 7);
    };
    pattern(4, 24);
    pattern(26, 94);
    pattern(100, 104);
}

lasfixture::Layout layout_of(int minor, int format) {
    lasfixture::Layout layout;
    layout.versionMinor = minor;
    layout.format = format;
    layout.scale[0] = 0.01;
    layout.scale[1] = 0.02;
    layout.scale[2] = 0.001;
    layout.offset[0] = 500000.0;
    layout.offset[1] = -4000000.0;
    layout.offset[2] = 12.5;
    return layout;
}

// A decorated file of the records given, with spoiled statistics.
Bytes las_file(const lasfixture::Layout &layout, const std::vector<lasfixture::Point> &points) {
    Bytes file = lasfixture::make_las(layout, points);
    decorate(file);
    spoil_statistics(file);
    return file;
}

std::string report_line(const std::string &path) { return "\rHeader of file " + path + " has been updated    "; }

using testsupport::naming;

ProcessResult refresh(const std::string &path) {
    return testsupport::run_in_child([&] { update_header(path.c_str()); });
}

class UpdateHeader : public testing::Test {
protected:
    TempDir dir;

    std::string write(const std::string &name, const Bytes &bytes) {
        const std::string path = dir / name;
        testsupport::write_bytes(path, bytes);
        return path;
    }

    // Refreshes a file made of `bytes` and checks the report and the result.
    void expect_refresh_of(const Bytes &bytes) {
        const std::string path = write("cloud.las", bytes);
        const ProcessResult run = refresh(path);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.output, report_line(path));
        expect_refreshed(bytes, testsupport::read_bytes(path));
    }

    // Refreshes a file made of `bytes` that must be refused with `message`
    // ('@' for the name) and left as it was.
    void expect_refusal_of(const Bytes &bytes, const std::string &message) {
        const std::string path = write("refused.las", bytes);
        const ProcessResult run = refresh(path);
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.output, naming(message, path));
        EXPECT_EQ(testsupport::read_bytes(path), bytes) << "the file was changed";
    }
};

TEST_F(UpdateHeader, CountsTheRecordsTheFileHoldsWhateverTheHeaderAnnounces) {
    const lasfixture::Layout layout = layout_of(2, 1);
    const std::vector<lasfixture::Point> points = lasfixture::random_points(5, 11, layout);
    for (const std::uint32_t announced : {0u, 4u, 6u, 1000000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(testing::Message() << announced << " records announced");
        Bytes file = las_file(layout, points);
        LAS_SET(file.data(), LAS12Header, NumberOfPointReturns, announced);
        const std::string path = write("cloud.las", file);
        const ProcessResult run = refresh(path);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.output, report_line(path));
        const Bytes after = testsupport::read_bytes(path);
        expect_refreshed(file, after);
        EXPECT_EQ(LAS_GET(after.data(), LAS12Header, NumberOfPointReturns), 5u);
    }
}

TEST_F(UpdateHeader, ReturnNumbersZeroSixAndSevenCountOnlyInTheTotalButEnterTheBox) {
    const lasfixture::Layout layout = layout_of(1, 0);
    // Return numbers 0 to 7 with the high bits of the byte set in some; the
    // records without a by-return slot hold every extreme.
    const std::vector<lasfixture::Point> points = {{10, 10, 10}, {11, 11, 11}, {12, 12, 12}, {13, 13, 13},
                                                   {14, 14, 14}, {15, 15, 15}, {-700, 900, -7}, {999, -99, 77}};
    const std::uint8_t bitfields[] = {0x80, 0x01, 0xF2, 0x03, 0x44, 0x05, 0xFE, 0xFF};
    Bytes file = las_file(layout, points);
    for (std::size_t i = 0; i < points.size(); ++i) file[LAS_HEADER_SIZE + 20 * i + 14] = bitfields[i];
    const std::string path = write("returns.las", file);

    const ProcessResult run = refresh(path);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, report_line(path));
    const Bytes after = testsupport::read_bytes(path);
    expect_refreshed(file, after);

    Statistics expected;
    expected.records = 8;
    expected.byReturn = {1, 1, 1, 1, 1};
    expected.box = {0.01 * 999 + 500000.0,  0.01 * -700 + 500000.0, 0.02 * 900 + -4000000.0,
                    0.02 * -99 + -4000000.0, 0.001 * 77 + 12.5,     0.001 * -7 + 12.5};
    expect_statistics(statistics_in_header(after), expected);
}

TEST_F(UpdateHeader, APartialRecordAtTheEndIsNeitherCountedNorInTheBox) {
    for (const int format : {0, 1, 2, 3}) {
        const std::size_t length = lidar::point_record_size(static_cast<unsigned>(format));
        for (const std::size_t tail : {std::size_t{1}, std::size_t{12}, length - 1}) {
            SCOPED_TRACE(testing::Message() << "format " << format << ", " << tail << " bytes of a record at the end");
            const lasfixture::Layout layout = layout_of(2, format);
            Bytes file = las_file(layout, lasfixture::random_points(4, 3, layout));
            // The partial record would widen the box on every axis.
            Bytes partial(length, 0);
            lasfixture::fill_record(partial.data(), format, {2000000000, -2000000000, 2000000000}, 99);
            file.insert(file.end(), partial.begin(), partial.begin() + static_cast<std::ptrdiff_t>(tail));
            expect_refresh_of(file);
            EXPECT_EQ(LAS_GET(testsupport::read_bytes(dir / "cloud.las").data(), LAS12Header, NumberOfPointReturns), 4u);
        }
    }
}

TEST_F(UpdateHeader, WithoutAWholeRecordTheCountsAreZeroAndTheBoxComesFromTheStartValues) {
    const lasfixture::Layout layout = layout_of(2, 3);
    struct Case {
        const char *what;
        std::int64_t offsetFromEnd;  // OffsetToData relative to the end of the file
    };
    const Case cases[] = {{"OffsetToData at the end of the file", 0},
                          {"OffsetToData past the end of the file", 1000},
                          {"one byte short of a record after OffsetToData", -33}};
    Statistics expected;
    expected.box = {0.01 * -2147483646.0 + 500000.0, 0.01 * 2147483646.0 + 500000.0,
                    0.02 * -2147483646.0 + -4000000.0, 0.02 * 2147483646.0 + -4000000.0,
                    0.001 * -10000000.0 + 12.5,         0.001 * 10000000.0 + 12.5};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes file = las_file(layout, lasfixture::random_points(3, 5, layout));
        LAS_SET(file.data(), LAS12Header, OffsetToData,
                static_cast<std::uint32_t>(static_cast<std::int64_t>(file.size()) + c.offsetFromEnd));
        const std::string path = write("empty.las", file);
        const ProcessResult run = refresh(path);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.output, report_line(path));
        const Bytes after = testsupport::read_bytes(path);
        expect_refreshed(file, after);
        expect_statistics(statistics_in_header(after), expected);
    }
}

TEST_F(UpdateHeader, TheBoxHoldsTheExactExtremesEvenBeyondTheStartValues) {
    constexpr std::int32_t lo = std::numeric_limits<std::int32_t>::min();
    constexpr std::int32_t hi = std::numeric_limits<std::int32_t>::max();
    struct Case {
        const char *what;
        std::vector<lasfixture::Point> points;
    };
    const Case cases[] = {
        {"every Z above ten million", {{1, 1, 20000000}, {2, 2, 10000001}, {3, 3, 30000000}}},
        {"every Z below minus ten million", {{1, 1, -20000000}, {2, 2, -10000001}}},
        {"every X at the largest stored value", {{hi, 1, 1}, {hi, 2, 2}}},
        {"the 32-bit limits on every axis", {{hi, lo, hi}, {lo, hi, lo}, {0, 0, 0}}},
    };
    const lasfixture::Layout layout = layout_of(2, 2);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        expect_refresh_of(las_file(layout, c.points));
    }
}

// Records enough for several reads, with an extreme on each side of every
// megabyte boundary, bytes between header and records, and a partial record
// at the end, for each accepted version and point format.
TEST_F(UpdateHeader, ReadsLargeFilesInBlocksWithoutLosingRecordsAtTheSeams) {
    const std::pair<int, int> versionsAndFormats[] = {{0, 0}, {0, 1}, {1, 0}, {1, 1},
                                                      {2, 0}, {2, 1}, {2, 2}, {2, 3}};
    for (const auto &[minor, format] : versionsAndFormats) {
        SCOPED_TRACE(testing::Message() << "version 1." << minor << ", format " << format);
        lasfixture::Layout layout = layout_of(minor, format);
        layout.gapBytes = 57;
        const std::size_t length = lidar::point_record_size(static_cast<unsigned>(format));
        const std::size_t perMegabyte = (std::size_t{1} << 20) / length;
        std::vector<lasfixture::Point> points = lasfixture::random_points(3 * perMegabyte + 7, 17, layout);
        for (std::size_t seam = perMegabyte; seam < points.size(); seam += perMegabyte) {
            const std::int32_t step = static_cast<std::int32_t>(seam / perMegabyte);
            points[seam - 1] = {-9000000 * step, 9000000 * step, -900000 * step};
            points[seam] = {9000000 * step, -9000000 * step, 900000 * step};
        }
        points.back() = {2000000000, -2000000000, 0};
        Bytes file = las_file(layout, points);
        Bytes partial(length, 0);
        lasfixture::fill_record(partial.data(), format, {-2100000000, 2100000000, 2100000000}, 5);
        file.insert(file.end(), partial.begin(), partial.end() - 1);
        expect_refresh_of(file);
    }
}

// --- refusals: a message naming the file, exit status -1, the file untouched -------

TEST_F(UpdateHeader, RefusesFilesItCannotRefreshAndLeavesThemUntouched) {
    const Bytes valid = las_file(layout_of(2, 0), {{1, 2, 3}, {4, 5, 6}});
    auto with = [&](const std::function<void(Bytes &)> &change) {
        Bytes file = valid;
        change(file);
        return file;
    };
    struct Case {
        const char *what;
        Bytes bytes;
        const char *message;
    };
    const Case cases[] = {
        {"version 1.1 declaring point format 2", las_file(layout_of(1, 2), {{1, 2, 3}}),
         "\nCannot update the header of @: las files of version 1.0 and 1.1 have no point format 2 or 3\n\n"},
        {"version 1.0 declaring point format 3", las_file(layout_of(0, 3), {{1, 2, 3}}),
         "\nCannot update the header of @: las files of version 1.0 and 1.1 have no point format 2 or 3\n\n"},
        {"a file of 226 bytes", Bytes(valid.begin(), valid.begin() + 226),
         "\nCannot update the header of @: the file is shorter than the 227 bytes of a header\n\n"},
        {"a file that ends after the record length",
         Bytes(valid.begin(), valid.begin() + offsetof(LAS12Header, NumberOfPointReturns)),
         "\nCannot update the header of @: the file is shorter than the 227 bytes of a header\n\n"},
        {"OffsetToData one byte inside the header",
         with([](Bytes &f) { LAS_SET(f.data(), LAS12Header, OffsetToData, 226u); }),
         "\nCannot update the header of @: its point records would start at offset 226, inside its 227-byte "
         "header\n\n"},
        {"OffsetToData 0", with([](Bytes &f) { LAS_SET(f.data(), LAS12Header, OffsetToData, 0u); }),
         "\nCannot update the header of @: its point records would start at offset 0, inside its 227-byte "
         "header\n\n"},
        {"OffsetToData below a larger HeaderSize",
         with([](Bytes &f) { LAS_SET(f.data(), LAS12Header, HeaderSize, std::uint16_t{300}); }),
         "\nCannot update the header of @: its point records would start at offset 227, inside its 300-byte "
         "header\n\n"},
        // Refused by the LAS check, which alone says why.
        {"a lower-case signature", with([](Bytes &f) { std::memcpy(f.data(), "lasf", 4); }),
         "\n@ is not a valid .las file\n\n"},
        {"a record length that is not the format's", with([](Bytes &f) {
             LAS_SET(f.data(), LAS12Header, PointDataRecordLength, std::uint16_t{28});
         }),
         "\nData format of @ (0) is incompatible with Length of Data Record (28)\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        expect_refusal_of(c.bytes, c.message);
    }
}

TEST_F(UpdateHeader, AMissingFileIsReportedByTheLasCheckAlone) {
    const std::string path = dir / "missing.las";
    const ProcessResult run = refresh(path);
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.output, naming("Unable to open file @ in file_access()\n\nFile @ does NOT exist\n", path));
    EXPECT_FALSE(testsupport::exists(path));
}

TEST_F(UpdateHeader, AFileThatCannotBeOpenedForUpdateIsReportedAndLeftUntouched) {
    const Bytes file = las_file(layout_of(2, 1), {{1, 2, 3}});
    const std::string path = write("readonly.las", file);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    // Root writes whatever the permissions: the child gives up root first.
    constexpr int cannot_drop_root = 77;
    const ProcessResult run = testsupport::run_in_child([&] {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(cannot_drop_root);
        update_header(path.c_str());
    });
    if (run.status == cannot_drop_root) GTEST_SKIP() << "cannot run the refresh as an unprivileged user";
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.output, naming("\nCannot open binary file @ for header update\n\n", path));
    EXPECT_EQ(testsupport::read_bytes(path), file);
}

TEST_F(UpdateHeader, AFailedWriteBackIsReportedWithoutTheReportLine) {
    const Bytes file = las_file(layout_of(2, 3), {{1, 2, 3}, {-4, -5, -6}});
    const std::string path = write("cloud.las", file);
    // No file may grow past 0 bytes: the write of the header fails with EFBIG.
    const ProcessResult run = testsupport::run_in_child([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit none{0, 0};
        if (::setrlimit(RLIMIT_FSIZE, &none) != 0) ::_exit(77);
        update_header(path.c_str());
    });
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.output, naming("\nCannot update the header of @: writing the header back failed: ", path) +
                              std::strerror(EFBIG) + "\n\n");
    EXPECT_EQ(testsupport::read_bytes(path), file);
}

// A sparse file long enough for 2^32 records of 20 bytes: the count would not
// fit NumberOfPointReturns, and the refresh refuses before reading them.
TEST_F(UpdateHeader, RefusesAFileWithMoreRecordsThanTheHeaderCanCount) {
    const Bytes header = las_file(layout_of(2, 0), {});
    const std::string path = write("huge.las", header);
    const std::uint64_t size = LAS_HEADER_SIZE + 20 * (std::uint64_t{1} << 32);
    if (::truncate(path.c_str(), static_cast<off_t>(size)) != 0)
        GTEST_SKIP() << "cannot make a sparse file of " << size << " bytes: " << std::strerror(errno);
    const ProcessResult run = refresh(path);
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.output, naming("\nCannot update the header of @: it holds more than 4294967295 point records\n\n",
                                 path));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(static_cast<std::uint64_t>(st.st_size), size);
    std::FILE *in = std::fopen(path.c_str(), "rb");
    ASSERT_NE(in, nullptr);
    Bytes start(LAS_HEADER_SIZE);
    EXPECT_EQ(std::fread(start.data(), 1, start.size(), in), start.size());
    std::fclose(in);
    EXPECT_EQ(start, header);
}

// --- the real sample files --------------------------------------------------------

TEST_F(UpdateHeader, RestoresTheSpoiledStatisticsOfEverySampleFile) {
    const auto samples = testsupport::sample_dir();
    if (!samples) GTEST_SKIP() << "no sample folder: set LAS_SAMPLE_DIR to the folder of real LAS files";
    const char *names[] = {"1.2-with-color.las", "no-points.las", "simple.las", "test_utm17.las",
                           "v1.0_0.las",         "v1.0_1.las",    "v1.1_0.las", "v1.1_1.las",
                           "v1.2_0.las",         "v1.2_1.las",    "v1.2_2.las", "v1.2_3.las"};
    for (const char *name : names) {
        SCOPED_TRACE(name);
        const Bytes original = testsupport::read_bytes(*samples + "/" + name);
        ASSERT_GE(original.size(), std::size_t{LAS_HEADER_SIZE}) << "sample missing or short";
        Bytes spoiled = original;
        spoil_statistics(spoiled);
        const std::string path = write(name, spoiled);

        const ProcessResult run = refresh(path);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.output, report_line(path));
        const Bytes after = testsupport::read_bytes(path);
        expect_refreshed(spoiled, after);

        // The counts the files' own writer put in agree; so does its box, up
        // to the rounding of a writer that worked in file units.
        const Statistics mine = statistics_in_header(after), theirs = statistics_in_header(original);
        EXPECT_EQ(mine.records, theirs.records);
        EXPECT_EQ(mine.byReturn, theirs.byReturn);
        if (mine.records > 0) {
            const double step[3] = {LAS_GET(original.data(), LAS12Header, XScaleFactor),
                                    LAS_GET(original.data(), LAS12Header, YScaleFactor),
                                    LAS_GET(original.data(), LAS12Header, ZScaleFactor)};
            for (std::size_t k = 0; k < 6; ++k) EXPECT_NEAR(mine.box[k], theirs.box[k], step[k / 2] / 2) << k;
        }
    }
}

}  // namespace

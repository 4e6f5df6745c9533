// The header initialisers through the C interface: the exact bytes each one
// leaves in a caller's record, and a file written behind such a header.
#include "LiDAR.h"
#include "las_bytes.h"
#include "las_fixture.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// The record a fresh header should be, spelled out byte by byte; the bytes
// the initialisers leave alone keep `fill`, the value the buffer held.
Bytes expected_record(std::uint8_t versionMinor, std::uint8_t fill) {
    Bytes e(LAS_HEADER_SIZE, fill);
    auto put = [&](std::size_t at, std::initializer_list<std::uint8_t> bytes) {
        for (const std::uint8_t b : bytes) e[at++] = b;
    };
    auto zeros = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) e[i] = 0;
    };
    put(0, {'L', 'A', 'S', 'F'});
    zeros(4, 17);  // source, encoding, project identifier up to the first byte of its last part
    put(24, {1, versionMinor});
    put(26, {0});  // empty system identifier
    const char software[] = "Vintrel LiDAR Utilities";
    static_assert(sizeof software == 24);
    for (std::size_t i = 0; i < sizeof software; ++i) e[58 + i] = static_cast<std::uint8_t>(software[i]);
    zeros(90, 94);                  // creation day and year
    put(94, {0xE3, 0x00});          // HeaderSize 227
    put(96, {0xE3, 0x00, 0x00, 0x00});  // OffsetToData 227
    zeros(100, 131);  // variable-length records, format, record length, counts
    for (std::size_t at = 131; at < 155; at += 8) put(at, {0, 0, 0, 0, 0, 0, 0xF0, 0x3F});  // scales 1.0
    zeros(155, 227);  // offsets and bounds 0.0
    return e;
}

struct Initializer {
    const char *name;
    std::uint8_t versionMinor;
    std::function<void(void *)> apply;
};

const Initializer initializers[] = {
    {"initialize_header10", 0, [](void *p) { initialize_header10(static_cast<LAS10Header *>(p)); }},
    {"initialize_header11", 1, [](void *p) { initialize_header11(static_cast<LAS11Header *>(p)); }},
    {"initialize_header12", 2, [](void *p) { initialize_header12(static_cast<LAS12Header *>(p)); }},
};

TEST(HeaderInitializers, WriteTheDefaultsAndLeaveTheOtherBytesOfTheRecordAsTheyWere) {
    // The record sits one byte into a larger buffer: misaligned, with guard
    // bytes on both sides that must stay as they are.
    constexpr std::size_t at = 1, guard = 16;
    for (const Initializer &init : initializers) {
        for (const std::uint8_t fill : {std::uint8_t{0xFF}, std::uint8_t{0x5A}}) {
            SCOPED_TRACE(testing::Message() << init.name << " on bytes 0x" << std::hex << int{fill});
            Bytes buffer(at + LAS_HEADER_SIZE + guard, fill);
            init.apply(buffer.data() + at);

            const Bytes record(buffer.begin() + at, buffer.begin() + at + LAS_HEADER_SIZE);
            const Bytes expected = expected_record(init.versionMinor, fill);
            for (std::size_t i = 0; i < LAS_HEADER_SIZE; ++i)
                EXPECT_EQ(int{record[i]}, int{expected[i]}) << "byte " << std::dec << i;
            EXPECT_EQ(int{buffer[0]}, int{fill}) << "byte before the record";
            for (std::size_t i = at + LAS_HEADER_SIZE; i < buffer.size(); ++i)
                EXPECT_EQ(int{buffer[i]}, int{fill}) << "byte " << std::dec << i - at - LAS_HEADER_SIZE
                                                    << " after the record";
        }
    }
}

TEST(HeaderInitializers, AnInitialisedHeaderMakesAFileThatPassesTheChecksAndTakesAHeaderRefresh) {
    testsupport::TempDir dir;
    const std::string path = dir / "fresh.las";

    // The caller completes the header: point format, record length, scale and offsets.
    Bytes file(LAS_HEADER_SIZE, 0xFF);
    initialize_header12(reinterpret_cast<LAS12Header *>(file.data()));
    std::uint8_t *h = file.data();
    LAS_SET(h, LAS12Header, PointDataFormatID, std::uint8_t{3});
    LAS_SET(h, LAS12Header, PointDataRecordLength, std::uint16_t{34});
    LAS_SET(h, LAS12Header, XScaleFactor, 0.01);
    LAS_SET(h, LAS12Header, YScaleFactor, 0.01);
    LAS_SET(h, LAS12Header, ZScaleFactor, 0.001);
    LAS_SET(h, LAS12Header, XOffset, 500000.0);
    LAS_SET(h, LAS12Header, YOffset, 4000000.0);
    LAS_SET(h, LAS12Header, ZOffset, -10.0);

    struct Record {
        lasfixture::Point p;
        std::uint8_t returnNumber;
    };
    const Record records[] = {{{100, -200, 3000}, 1}, {{-5, 7, 0}, 2}, {{123456, -654321, 42}, 2}};
    for (std::size_t i = 0; i < std::size(records); ++i) {
        std::uint8_t record[34];
        lasfixture::fill_record(record, 3, records[i].p, i);
        record[14] = static_cast<std::uint8_t>((record[14] & 0xF8) | records[i].returnNumber);
        file.insert(file.end(), record, record + sizeof record);
    }
    testsupport::write_bytes(path, file);

    short lasType = 0;
    EXPECT_EQ(testsupport::capture_stdout([&] { lasType = check_las(path.c_str()); }), "");
    EXPECT_EQ(lasType, LAS_TYPE_12_FORMAT3);

    const testsupport::ProcessResult run = testsupport::run_in_child([&] { update_header(path.c_str()); });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, "\rHeader of file " + path + " has been updated    ");

    const Bytes after = testsupport::read_bytes(path);
    ASSERT_EQ(after.size(), file.size());
    const std::uint8_t *a = after.data();
    EXPECT_EQ(LAS_GET(a, LAS12Header, NumberOfPointReturns), 3u);
    const std::uint32_t byReturn[5] = {1, 2, 0, 0, 0};
    for (int k = 0; k < 5; ++k)
        EXPECT_EQ(lidar::load<std::uint32_t>(a + offsetof(LAS12Header, NumberOfPointsByReturn) + 4 * k),
                  byReturn[k])
            << "return number " << k + 1;
    EXPECT_EQ(LAS_GET(a, LAS12Header, MaxX), 0.01 * 123456 + 500000.0);
    EXPECT_EQ(LAS_GET(a, LAS12Header, MinX), 0.01 * -5 + 500000.0);
    EXPECT_EQ(LAS_GET(a, LAS12Header, MaxY), 0.01 * 7 + 4000000.0);
    EXPECT_EQ(LAS_GET(a, LAS12Header, MinY), 0.01 * -654321 + 4000000.0);
    EXPECT_EQ(LAS_GET(a, LAS12Header, MaxZ), 0.001 * 3000 + -10.0);
    EXPECT_EQ(LAS_GET(a, LAS12Header, MinZ), 0.001 * 0 + -10.0);
    // Everything but the counts and the box is as written, the records from byte 227 on.
    EXPECT_TRUE(std::equal(file.begin(), file.begin() + offsetof(LAS12Header, NumberOfPointReturns), after.begin()));
    EXPECT_TRUE(std::equal(file.begin() + offsetof(LAS12Header, XScaleFactor),
                           file.begin() + offsetof(LAS12Header, MaxX), after.begin() + offsetof(LAS12Header, XScaleFactor)));
    EXPECT_TRUE(std::equal(file.begin() + LAS_HEADER_SIZE, file.end(), after.begin() + LAS_HEADER_SIZE));
}

}  // namespace

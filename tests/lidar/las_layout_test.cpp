// The three header layouts over one 227-byte image, and the return number
// in byte 14 of a point record. The offsets themselves are pinned by the
// static asserts of LiDAR.h; these cases check how the values read back.
#include "LiDAR.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

// A 1.2 header with a distinct value in every field.
LAS12Header distinct_header() {
    LAS12Header h;
    std::memset(&h, 0, sizeof h);
    std::memcpy(h.LASF, "LASF", 4);
    h.FileSourceID = 0x1234;
    h.GlobalEncoding = 0xABCD;
    h.GUIDData1 = 0x89ABCDEFu;
    h.GUIDData2 = 0x2222;
    h.GUIDData3 = 0x3333;
    for (int i = 0; i < 8; ++i) h.GUIDData4[i] = static_cast<std::uint8_t>(0x40 + i);
    h.VersionMajor = 1;
    h.VersionMinor = 2;
    std::memcpy(h.SystemIdentifier, "system identifier", 17);
    std::memcpy(h.GeneratingSoftware, "generating software", 19);
    h.FileCreationDay = 345;
    h.FileCreationYear = 2026;
    h.HeaderSize = 227;
    h.OffsetToData = 0x01020304u;
    h.NumberOfVariableLengthRecords = 0x05060708u;
    h.PointDataFormatID = 3;
    h.PointDataRecordLength = 34;
    h.NumberOfPointReturns = 0x0A0B0C0Du;
    for (int i = 0; i < 5; ++i) h.NumberOfPointsByReturn[i] = 1000u + static_cast<std::uint32_t>(i);
    h.XScaleFactor = 0.01;
    h.YScaleFactor = 0.02;
    h.ZScaleFactor = 0.001;
    h.XOffset = 500000.5;
    h.YOffset = 4000000.25;
    h.ZOffset = -12.75;
    h.MaxX = 501000.0;
    h.MinX = 500000.0;
    h.MaxY = 4001000.0;
    h.MinY = 4000000.0;
    h.MaxZ = 150.0;
    h.MinZ = -3.5;
    return h;
}

template <typename To, typename From>
To reinterpret_image(const From &from) {
    static_assert(sizeof(To) == sizeof(From));
    To to;
    std::memcpy(&to, &from, sizeof to);
    return to;
}

// The fields whose names and types agree in all three layouts read the same.
// Unary + copies a packed field out before gtest takes a reference to it.
template <typename Older>
void expect_common_fields_equal(const Older &old, const LAS12Header &h) {
    EXPECT_EQ(0, std::memcmp(old.LASF, h.LASF, sizeof h.LASF));
    EXPECT_EQ(+old.GUIDData1, +h.GUIDData1);
    EXPECT_EQ(+old.GUIDData2, +h.GUIDData2);
    EXPECT_EQ(+old.GUIDData3, +h.GUIDData3);
    EXPECT_EQ(0, std::memcmp(old.GUIDData4, h.GUIDData4, sizeof h.GUIDData4));
    EXPECT_EQ(+old.VersionMajor, +h.VersionMajor);
    EXPECT_EQ(+old.VersionMinor, +h.VersionMinor);
    EXPECT_EQ(0, std::memcmp(old.SystemIdentifier, h.SystemIdentifier, sizeof h.SystemIdentifier));
    EXPECT_EQ(0, std::memcmp(old.GeneratingSoftware, h.GeneratingSoftware, sizeof h.GeneratingSoftware));
    EXPECT_EQ(+old.HeaderSize, +h.HeaderSize);
    EXPECT_EQ(+old.OffsetToData, +h.OffsetToData);
    EXPECT_EQ(+old.NumberOfVariableLengthRecords, +h.NumberOfVariableLengthRecords);
    EXPECT_EQ(+old.PointDataFormatID, +h.PointDataFormatID);
    EXPECT_EQ(+old.PointDataRecordLength, +h.PointDataRecordLength);
    EXPECT_EQ(+old.NumberOfPointReturns, +h.NumberOfPointReturns);
    for (int i = 0; i < 5; ++i) {
        const std::uint32_t a = old.NumberOfPointsByReturn[i], b = h.NumberOfPointsByReturn[i];
        EXPECT_EQ(a, b) << "returns " << i + 1;
    }
    EXPECT_EQ(+old.XScaleFactor, +h.XScaleFactor);
    EXPECT_EQ(+old.YScaleFactor, +h.YScaleFactor);
    EXPECT_EQ(+old.ZScaleFactor, +h.ZScaleFactor);
    EXPECT_EQ(+old.XOffset, +h.XOffset);
    EXPECT_EQ(+old.YOffset, +h.YOffset);
    EXPECT_EQ(+old.ZOffset, +h.ZOffset);
    EXPECT_EQ(+old.MaxX, +h.MaxX);
    EXPECT_EQ(+old.MinX, +h.MinX);
    EXPECT_EQ(+old.MaxY, +h.MaxY);
    EXPECT_EQ(+old.MinY, +h.MinY);
    EXPECT_EQ(+old.MaxZ, +h.MaxZ);
    EXPECT_EQ(+old.MinZ, +h.MinZ);
}

TEST(HeaderLayouts, A12ImageReadsThroughThe10Layout) {
    const LAS12Header h = distinct_header();
    const LAS10Header old = reinterpret_image<LAS10Header>(h);
    expect_common_fields_equal(old, h);
    EXPECT_EQ(+old.FlightDateJulian, +h.FileCreationDay);
    EXPECT_EQ(+old.Year, +h.FileCreationYear);
    // Bytes 4-7 as one little-endian uint32: FileSourceID is the low half.
    EXPECT_EQ(+old.Reserved, 0xABCD1234u);
}

TEST(HeaderLayouts, A12ImageReadsThroughThe11Layout) {
    const LAS12Header h = distinct_header();
    const LAS11Header old = reinterpret_image<LAS11Header>(h);
    expect_common_fields_equal(old, h);
    EXPECT_EQ(+old.FileSourceID, +h.FileSourceID);
    EXPECT_EQ(+old.Reserved, +h.GlobalEncoding);
    EXPECT_EQ(+old.FileCreationDay, +h.FileCreationDay);
    EXPECT_EQ(+old.FileCreationYear, +h.FileCreationYear);
}

TEST(HeaderLayouts, ReservedOf10IsFileSourceIdPlus65536TimesGlobalEncoding) {
    struct Case {
        std::uint16_t fileSourceID, globalEncoding;
    };
    const Case cases[] = {{0, 0}, {1, 0}, {0, 1}, {0xFFFF, 0}, {0, 0xFFFF}, {0xFFFF, 0xFFFF}, {0x00FF, 0xFF00}};
    for (const Case &c : cases) {
        LAS12Header h = distinct_header();
        h.FileSourceID = c.fileSourceID;
        h.GlobalEncoding = c.globalEncoding;
        const LAS10Header old = reinterpret_image<LAS10Header>(h);
        EXPECT_EQ(+old.Reserved, std::uint32_t{c.fileSourceID} + 65536u * c.globalEncoding)
            << "FileSourceID " << c.fileSourceID << ", GlobalEncoding " << c.globalEncoding;
    }
}

// The return number is the low three bits of the signed byte 14, read by
// widening the byte with its sign and masking.
template <typename Record>
int return_number_of(std::uint8_t byte14) {
    std::uint8_t image[sizeof(Record)];
    std::memset(image, 0, sizeof image);
    image[14] = byte14;
    Record record;
    std::memcpy(&record, image, sizeof record);
    return static_cast<int>(record.bitfield) & 7;
}

TEST(PointLayouts, ReturnNumberIsTheLowThreeBitsWhateverTheSign) {
    struct Case {
        std::uint8_t byte14;
        int returnNumber;
    };
    const Case cases[] = {{0xFF, 7}, {0x87, 7}, {0x7F, 7}, {0x07, 7}, {0x80, 0}, {0xF9, 1}, {0x0A, 2}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "byte 14 = 0x" << std::hex << int{c.byte14});
        EXPECT_EQ(return_number_of<LAS12fm0>(c.byte14), c.returnNumber);
        EXPECT_EQ(return_number_of<LAS12fm1>(c.byte14), c.returnNumber);
        EXPECT_EQ(return_number_of<LAS12fm2>(c.byte14), c.returnNumber);
        EXPECT_EQ(return_number_of<LAS12fm3>(c.byte14), c.returnNumber);
    }
}

TEST(PointLayouts, AllBitsSetReadsAsMinusOne) {
    LAS12fm0 record;
    std::memset(&record, 0xFF, sizeof record);
    EXPECT_EQ(+record.bitfield, -1) << "bitfield is a signed byte";
    EXPECT_EQ(+record.ScanAngleRank, 255) << "ScanAngleRank is unsigned";
}

}  // namespace

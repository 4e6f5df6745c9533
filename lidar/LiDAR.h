/*
 * LiDAR.h - the shared module of the Vintrel LiDAR Utilities.
 *
 * On-disk layouts of the LAS 1.0, 1.1 and 1.2 public header and of the point
 * records of formats 0 to 3, the type codes that tell them apart, and the
 * routines the module exports with C linkage. Compiles as C (C11) and C++.
 *
 * All multi-byte fields are little-endian and the records are packed: the
 * structures describe byte images. Read and write their fields through
 * memcpy at offsetof(...) from a byte buffer rather than through pointers
 * into that buffer, which may be misaligned.
 */
#ifndef LIDAR_LIDAR_H
#define LIDAR_LIDAR_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define LIDAR_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
extern "C" {
#else
#define LIDAR_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

#if defined(_WIN32)
#define LIDAR_API __declspec(dllexport)
#else
#define LIDAR_API __attribute__((visibility("default")))
#endif

/* Type codes returned by check_las: the accepted version / point format pairs. */
enum {
    LAS_TYPE_REFUSED = -1,       /* refused, with a message */
    LAS_TYPE_UNSUPPORTED = 0,    /* 1.0 or 1.1 declaring point format 2 or 3 */
    LAS_TYPE_10_FORMAT0 = 1,
    LAS_TYPE_10_FORMAT1 = 2,
    LAS_TYPE_11_FORMAT0 = 3,
    LAS_TYPE_11_FORMAT1 = 4,
    LAS_TYPE_12_FORMAT0 = 5,
    LAS_TYPE_12_FORMAT1 = 6,
    LAS_TYPE_12_FORMAT2 = 7,
    LAS_TYPE_12_FORMAT3 = 8
};

/* Size of the public header image of versions 1.0 to 1.2. */
#define LAS_HEADER_SIZE 227

#pragma pack(push, 1)

typedef struct LAS10Header {
    char LASF[4];
    uint32_t Reserved;
    uint32_t GUIDData1;
    uint16_t GUIDData2;
    uint16_t GUIDData3;
    uint8_t GUIDData4[8];
    uint8_t VersionMajor;
    uint8_t VersionMinor;
    char SystemIdentifier[32];
    char GeneratingSoftware[32];
    uint16_t FlightDateJulian;
    uint16_t Year;
    uint16_t HeaderSize;
    uint32_t OffsetToData;
    uint32_t NumberOfVariableLengthRecords;
    uint8_t PointDataFormatID;
    uint16_t PointDataRecordLength;
    uint32_t NumberOfPointReturns;
    uint32_t NumberOfPointsByReturn[5];
    double XScaleFactor;
    double YScaleFactor;
    double ZScaleFactor;
    double XOffset;
    double YOffset;
    double ZOffset;
    double MaxX;
    double MinX;
    double MaxY;
    double MinY;
    double MaxZ;
    double MinZ;
} LAS10Header;

typedef struct LAS11Header {
    char LASF[4];
    uint16_t FileSourceID;
    uint16_t Reserved;
    uint32_t GUIDData1;
    uint16_t GUIDData2;
    uint16_t GUIDData3;
    uint8_t GUIDData4[8];
    uint8_t VersionMajor;
    uint8_t VersionMinor;
    char SystemIdentifier[32];
    char GeneratingSoftware[32];
    uint16_t FileCreationDay;
    uint16_t FileCreationYear;
    uint16_t HeaderSize;
    uint32_t OffsetToData;
    uint32_t NumberOfVariableLengthRecords;
    uint8_t PointDataFormatID;
    uint16_t PointDataRecordLength;
    uint32_t NumberOfPointReturns;
    uint32_t NumberOfPointsByReturn[5];
    double XScaleFactor;
    double YScaleFactor;
    double ZScaleFactor;
    double XOffset;
    double YOffset;
    double ZOffset;
    double MaxX;
    double MinX;
    double MaxY;
    double MinY;
    double MaxZ;
    double MinZ;
} LAS11Header;

typedef struct LAS12Header {
    char LASF[4];
    uint16_t FileSourceID;
    uint16_t GlobalEncoding;
    uint32_t GUIDData1;
    uint16_t GUIDData2;
    uint16_t GUIDData3;
    uint8_t GUIDData4[8];
    uint8_t VersionMajor;
    uint8_t VersionMinor;
    char SystemIdentifier[32];
    char GeneratingSoftware[32];
    uint16_t FileCreationDay;
    uint16_t FileCreationYear;
    uint16_t HeaderSize;
    uint32_t OffsetToData;
    uint32_t NumberOfVariableLengthRecords;
    uint8_t PointDataFormatID;
    uint16_t PointDataRecordLength;
    uint32_t NumberOfPointReturns;
    uint32_t NumberOfPointsByReturn[5];
    double XScaleFactor;
    double YScaleFactor;
    double ZScaleFactor;
    double XOffset;
    double YOffset;
    double ZOffset;
    double MaxX;
    double MinX;
    double MaxY;
    double MinY;
    double MaxZ;
    double MinZ;
} LAS12Header;

/* Point record, format 0. The first 20 bytes are common to formats 0 to 3. */
typedef struct LAS12fm0 {
    int32_t X;
    int32_t Y;
    int32_t Z;
    uint16_t Intensity;
    int8_t bitfield; /* bits 0-2: return number */
    uint8_t Classification;
    uint8_t ScanAngleRank;
    uint8_t UserData;
    uint16_t PointSourceID;
} LAS12fm0;

/* Point record, format 1: format 0 and a GPS time. */
typedef struct LAS12fm1 {
    int32_t X;
    int32_t Y;
    int32_t Z;
    uint16_t Intensity;
    int8_t bitfield;
    uint8_t Classification;
    uint8_t ScanAngleRank;
    uint8_t UserData;
    uint16_t PointSourceID;
    double GPSTime;
} LAS12fm1;

/* Point record, format 2: format 0 and a colour. */
typedef struct LAS12fm2 {
    int32_t X;
    int32_t Y;
    int32_t Z;
    uint16_t Intensity;
    int8_t bitfield;
    uint8_t Classification;
    uint8_t ScanAngleRank;
    uint8_t UserData;
    uint16_t PointSourceID;
    uint16_t Red;
    uint16_t Green;
    uint16_t Blue;
} LAS12fm2;

/* Point record, format 3: format 1 and a colour. */
typedef struct LAS12fm3 {
    int32_t X;
    int32_t Y;
    int32_t Z;
    uint16_t Intensity;
    int8_t bitfield;
    uint8_t Classification;
    uint8_t ScanAngleRank;
    uint8_t UserData;
    uint16_t PointSourceID;
    double GPSTime;
    uint16_t Red;
    uint16_t Green;
    uint16_t Blue;
} LAS12fm3;

#pragma pack(pop)

/* The layouts, pinned to the byte. */
#define LIDAR_ASSERT_AT(type, field, offset) \
    LIDAR_STATIC_ASSERT(offsetof(type, field) == (offset), #type "." #field " at " #offset)

/* Fields shared by the three header versions, at the same offsets. */
#define LIDAR_ASSERT_COMMON_HEADER(type)                        \
    LIDAR_STATIC_ASSERT(sizeof(type) == LAS_HEADER_SIZE, #type " is 227 bytes"); \
    LIDAR_ASSERT_AT(type, LASF, 0);                             \
    LIDAR_ASSERT_AT(type, GUIDData1, 8);                        \
    LIDAR_ASSERT_AT(type, GUIDData2, 12);                       \
    LIDAR_ASSERT_AT(type, GUIDData3, 14);                       \
    LIDAR_ASSERT_AT(type, GUIDData4, 16);                       \
    LIDAR_ASSERT_AT(type, VersionMajor, 24);                    \
    LIDAR_ASSERT_AT(type, VersionMinor, 25);                    \
    LIDAR_ASSERT_AT(type, SystemIdentifier, 26);                \
    LIDAR_ASSERT_AT(type, GeneratingSoftware, 58);              \
    LIDAR_ASSERT_AT(type, HeaderSize, 94);                      \
    LIDAR_ASSERT_AT(type, OffsetToData, 96);                    \
    LIDAR_ASSERT_AT(type, NumberOfVariableLengthRecords, 100);  \
    LIDAR_ASSERT_AT(type, PointDataFormatID, 104);              \
    LIDAR_ASSERT_AT(type, PointDataRecordLength, 105);          \
    LIDAR_ASSERT_AT(type, NumberOfPointReturns, 107);           \
    LIDAR_ASSERT_AT(type, NumberOfPointsByReturn, 111);         \
    LIDAR_ASSERT_AT(type, XScaleFactor, 131);                   \
    LIDAR_ASSERT_AT(type, YScaleFactor, 139);                   \
    LIDAR_ASSERT_AT(type, ZScaleFactor, 147);                   \
    LIDAR_ASSERT_AT(type, XOffset, 155);                        \
    LIDAR_ASSERT_AT(type, YOffset, 163);                        \
    LIDAR_ASSERT_AT(type, ZOffset, 171);                        \
    LIDAR_ASSERT_AT(type, MaxX, 179);                           \
    LIDAR_ASSERT_AT(type, MinX, 187);                           \
    LIDAR_ASSERT_AT(type, MaxY, 195);                           \
    LIDAR_ASSERT_AT(type, MinY, 203);                           \
    LIDAR_ASSERT_AT(type, MaxZ, 211);                           \
    LIDAR_ASSERT_AT(type, MinZ, 219)

LIDAR_ASSERT_COMMON_HEADER(LAS10Header);
LIDAR_ASSERT_AT(LAS10Header, Reserved, 4);
LIDAR_ASSERT_AT(LAS10Header, FlightDateJulian, 90);
LIDAR_ASSERT_AT(LAS10Header, Year, 92);

LIDAR_ASSERT_COMMON_HEADER(LAS11Header);
LIDAR_ASSERT_AT(LAS11Header, FileSourceID, 4);
LIDAR_ASSERT_AT(LAS11Header, Reserved, 6);
LIDAR_ASSERT_AT(LAS11Header, FileCreationDay, 90);
LIDAR_ASSERT_AT(LAS11Header, FileCreationYear, 92);

LIDAR_ASSERT_COMMON_HEADER(LAS12Header);
LIDAR_ASSERT_AT(LAS12Header, FileSourceID, 4);
LIDAR_ASSERT_AT(LAS12Header, GlobalEncoding, 6);
LIDAR_ASSERT_AT(LAS12Header, FileCreationDay, 90);
LIDAR_ASSERT_AT(LAS12Header, FileCreationYear, 92);

/* Fields shared by the four point formats. */
#define LIDAR_ASSERT_COMMON_POINT(type, size)                   \
    LIDAR_STATIC_ASSERT(sizeof(type) == (size), #type " is " #size " bytes"); \
    LIDAR_ASSERT_AT(type, X, 0);                                \
    LIDAR_ASSERT_AT(type, Y, 4);                                \
    LIDAR_ASSERT_AT(type, Z, 8);                                \
    LIDAR_ASSERT_AT(type, Intensity, 12);                       \
    LIDAR_ASSERT_AT(type, bitfield, 14);                        \
    LIDAR_ASSERT_AT(type, Classification, 15);                  \
    LIDAR_ASSERT_AT(type, ScanAngleRank, 16);                   \
    LIDAR_ASSERT_AT(type, UserData, 17);                        \
    LIDAR_ASSERT_AT(type, PointSourceID, 18)

LIDAR_ASSERT_COMMON_POINT(LAS12fm0, 20);
LIDAR_ASSERT_COMMON_POINT(LAS12fm1, 28);
LIDAR_ASSERT_AT(LAS12fm1, GPSTime, 20);
LIDAR_ASSERT_COMMON_POINT(LAS12fm2, 26);
LIDAR_ASSERT_AT(LAS12fm2, Red, 20);
LIDAR_ASSERT_AT(LAS12fm2, Green, 22);
LIDAR_ASSERT_AT(LAS12fm2, Blue, 24);
LIDAR_ASSERT_COMMON_POINT(LAS12fm3, 34);
LIDAR_ASSERT_AT(LAS12fm3, GPSTime, 20);
LIDAR_ASSERT_AT(LAS12fm3, Red, 28);
LIDAR_ASSERT_AT(LAS12fm3, Green, 30);
LIDAR_ASSERT_AT(LAS12fm3, Blue, 32);

/* File and LAS checks. Each prints its reason on refusal; none ends the process. */

/* 0 when the file can be opened for reading, otherwise -1 with a message. */
LIDAR_API short file_access(const char *filename);

/* 0 when the name ends in a dot and the three-letter extension given without its dot. */
LIDAR_API short check_file_extension(const char *filename, const char *extension);

/* Prints the suite's numbered file message 1, 2 or 3 naming text; other numbers print nothing. */
LIDAR_API void error_msg(int i, const char *text);

/* Type code 1-8 of an accepted LAS file, 0 for 1.0/1.1 declaring format 2 or 3, -1 refused. */
LIDAR_API short check_las(const char *filename);

/* The suite banner, on standard output. */
LIDAR_API void credits(void);

/* Header statistics refresh: recounts the point records, the records of each
 * return number and the bounding box of an existing LAS file, in place.
 * Prints a report line, or a message and ends the process with status -1. */
LIDAR_API void update_header(const char *filename);

/* Header initialisers: fill a caller's 227-byte header with the suite's
 * defaults for a new file of version 1.0, 1.1 or 1.2. */
LIDAR_API void initialize_header10(LAS10Header *ph);
LIDAR_API void initialize_header11(LAS11Header *ph);
LIDAR_API void initialize_header12(LAS12Header *ph);

/* In-place ascending quicksorts that carry a companion index array through
 * the same exchanges. left and right are inclusive bounds. */
LIDAR_API void l_qs(int32_t *p, int32_t left, int32_t right, int32_t *p_ind);
LIDAR_API void l_quicksort(int32_t *p, int32_t count, int32_t *p_ind);
LIDAR_API void d_qs(double *p, int32_t left, int32_t right, int32_t *p_ind);
LIDAR_API void d_quicksort(double *p, int32_t count, int32_t *p_ind);
LIDAR_API void l_parallel_qs(int32_t *p, int32_t left, int32_t right, int32_t *p_ind, int32_t deep);
LIDAR_API void l_parallel_quicksort(int32_t *p, int32_t count, int32_t *p_ind);
LIDAR_API void d_parallel_qs(double *p, int32_t left, int32_t right, int32_t *p_ind, int32_t deep);
LIDAR_API void d_parallel_quicksort(double *p, int32_t count, int32_t *p_ind);

/* Argument checks of the suite's command lines. */
LIDAR_API void check_numeric_argument(const char *str);
LIDAR_API short check_YN(const char *text);
LIDAR_API void check_DEM(const char *str);

#ifdef __cplusplus
}
#endif

#endif /* LIDAR_LIDAR_H */

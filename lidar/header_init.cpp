// Header initialisers: the suite's defaults for a new LAS 1.0, 1.1 or 1.2
// file, written into a caller's 227-byte header record.
//
// The three versions share every offset the defaults touch, so one routine
// fills them all and only VersionMinor tells them apart. The record is
// handled as a byte image (it may sit anywhere in a caller's buffer); a few
// bytes are deliberately left as the caller had them.
#include "LiDAR.h"
#include "las_bytes.h"

#include <cstdint>
#include <cstring>

namespace {

// Written with its terminating NUL; the bytes after it are left alone.
constexpr char generating_software[] = "Vintrel LiDAR Utilities";
static_assert(sizeof generating_software <= sizeof(LAS12Header::GeneratingSoftware));

void zero_bytes(std::uint8_t *image, std::size_t from, std::size_t to) { std::memset(image + from, 0, to - from); }

void initialize_header(std::uint8_t *h, std::uint8_t versionMinor) {
    std::memcpy(h + offsetof(LAS12Header, LASF), "LASF", 4);
    // File source and encoding (1.0: one reserved word) and the first three
    // parts of the project identifier.
    zero_bytes(h, offsetof(LAS12Header, FileSourceID), offsetof(LAS12Header, GUIDData4));
    // Of the last part, only its first byte.
    h[offsetof(LAS12Header, GUIDData4)] = 0;
    LAS_SET(h, LAS12Header, VersionMajor, std::uint8_t{1});
    LAS_SET(h, LAS12Header, VersionMinor, versionMinor);
    // An empty system identifier: the terminator only.
    h[offsetof(LAS12Header, SystemIdentifier)] = 0;
    std::memcpy(h + offsetof(LAS12Header, GeneratingSoftware), generating_software, sizeof generating_software);
    LAS_SET(h, LAS12Header, FileCreationDay, std::uint16_t{0});
    LAS_SET(h, LAS12Header, FileCreationYear, std::uint16_t{0});
    LAS_SET(h, LAS12Header, HeaderSize, std::uint16_t{LAS_HEADER_SIZE});
    LAS_SET(h, LAS12Header, OffsetToData, std::uint32_t{LAS_HEADER_SIZE});
    LAS_SET(h, LAS12Header, NumberOfVariableLengthRecords, std::uint32_t{0});
    LAS_SET(h, LAS12Header, PointDataFormatID, std::uint8_t{0});
    LAS_SET(h, LAS12Header, PointDataRecordLength, std::uint16_t{0});
    LAS_SET(h, LAS12Header, NumberOfPointReturns, std::uint32_t{0});
    zero_bytes(h, offsetof(LAS12Header, NumberOfPointsByReturn), offsetof(LAS12Header, XScaleFactor));
    LAS_SET(h, LAS12Header, XScaleFactor, 1.0);
    LAS_SET(h, LAS12Header, YScaleFactor, 1.0);
    LAS_SET(h, LAS12Header, ZScaleFactor, 1.0);
    LAS_SET(h, LAS12Header, XOffset, 0.0);
    LAS_SET(h, LAS12Header, YOffset, 0.0);
    LAS_SET(h, LAS12Header, ZOffset, 0.0);
    LAS_SET(h, LAS12Header, MaxX, 0.0);
    LAS_SET(h, LAS12Header, MinX, 0.0);
    LAS_SET(h, LAS12Header, MaxY, 0.0);
    LAS_SET(h, LAS12Header, MinY, 0.0);
    LAS_SET(h, LAS12Header, MaxZ, 0.0);
    LAS_SET(h, LAS12Header, MinZ, 0.0);
}

std::uint8_t *image_of(void *record) { return static_cast<std::uint8_t *>(record); }

}  // namespace

extern "C" {

void initialize_header10(LAS10Header *ph) { initialize_header(image_of(ph), 0); }

void initialize_header11(LAS11Header *ph) { initialize_header(image_of(ph), 1); }

void initialize_header12(LAS12Header *ph) { initialize_header(image_of(ph), 2); }

}  // extern "C"

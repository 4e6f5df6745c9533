// Header statistics refresh: recounts the point records of a LAS file and the
// records of each return number, recomputes the bounding box from the stored
// coordinates, and writes the header back in place.
//
// The file is streamed once, in blocks of whole records of about a megabyte,
// so memory use does not grow with the file. Nothing is written until the
// whole pass has succeeded; then only the record counts and the bounds change.
#include "LiDAR.h"
#include "header_refresh.h"
#include "las_bytes.h"
#include "platform.h"

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace {

using lidar::platform::File;

// Bytes read at a time, rounded down to whole records.
constexpr std::size_t target_block_bytes = std::size_t{1} << 20;

// The box a file without a single whole record gets: from these stored values.
constexpr std::int32_t empty_max_xy = -2147483646;
constexpr std::int32_t empty_min_xy = 2147483646;
constexpr std::int32_t empty_max_z = -10000000;
constexpr std::int32_t empty_min_z = 10000000;

// NumberOfPointReturns is 32 bits wide.
constexpr std::uint64_t max_record_count = UINT32_MAX;

[[noreturn]] void stop() { std::exit(-1); }

// Says why the header of `filename` is not updated, and stops.
[[noreturn, gnu::format(printf, 2, 3)]] void refuse(const char *filename, const char *reason, ...) {
    std::printf("\nCannot update the header of %s: ", filename);
    va_list args;
    va_start(args, reason);
    std::vprintf(reason, args);
    va_end(args);
    std::printf("\n\n");
    stop();
}

[[noreturn]] void refuse_too_many_records(const char *filename) {
    refuse(filename, "it holds more than %llu point records", static_cast<unsigned long long>(max_record_count));
}

// Record size of an accepted type code: the point format is the code's place
// within its version's run of codes.
std::size_t record_size_of(short lasType) {
    const int firstOfVersion = lasType >= LAS_TYPE_12_FORMAT0   ? LAS_TYPE_12_FORMAT0
                               : lasType >= LAS_TYPE_11_FORMAT0 ? LAS_TYPE_11_FORMAT0
                                                                : LAS_TYPE_10_FORMAT0;
    return lidar::point_record_size(static_cast<unsigned>(lasType - firstOfVersion));
}

// Reads every whole record from the file's current position to its end.
lidar::RecordTally scan_records(File &file, const char *filename, std::size_t recordLength) {
    const std::size_t blockBytes = target_block_bytes / recordLength * recordLength;
    std::unique_ptr<std::uint8_t[]> block(new (std::nothrow) std::uint8_t[blockBytes]);
    if (!block) {
        std::printf("\nCannot allocate memory for storing a record of information from %s\n", filename);
        stop();
    }
    lidar::RecordTally tally;
    for (;;) {
        const long long got = file.read_up_to(block.get(), blockBytes);
        if (got < 0) refuse(filename, "reading its point records failed: %s", std::strerror(errno));
        const auto bytes = static_cast<std::size_t>(got);
        lidar::tally_records(block.get(), bytes / recordLength, recordLength, tally);
        if (tally.records > max_record_count) refuse_too_many_records(filename);
        // A short block is the end of the file; a partial record there is left out.
        if (bytes < blockBytes) return tally;
    }
}

double file_coordinate(double scale, std::int32_t stored, double offset) { return scale * stored + offset; }

// Puts the counts and the box into the header image; no other field changes.
void set_statistics(std::uint8_t *header, const lidar::RecordTally &tally) {
    LAS_SET(header, LAS12Header, NumberOfPointReturns, static_cast<std::uint32_t>(tally.records));
    for (int k = 0; k < 5; ++k)
        lidar::store(header + offsetof(LAS12Header, NumberOfPointsByReturn) + 4 * k,
                     static_cast<std::uint32_t>(tally.byReturnNumber[k + 1]));

    const bool any = tally.records > 0;
    const std::int32_t maxX = any ? tally.max[0] : empty_max_xy, minX = any ? tally.min[0] : empty_min_xy;
    const std::int32_t maxY = any ? tally.max[1] : empty_max_xy, minY = any ? tally.min[1] : empty_min_xy;
    const std::int32_t maxZ = any ? tally.max[2] : empty_max_z, minZ = any ? tally.min[2] : empty_min_z;

    const double xScale = LAS_GET(header, LAS12Header, XScaleFactor), xOffset = LAS_GET(header, LAS12Header, XOffset);
    const double yScale = LAS_GET(header, LAS12Header, YScaleFactor), yOffset = LAS_GET(header, LAS12Header, YOffset);
    const double zScale = LAS_GET(header, LAS12Header, ZScaleFactor), zOffset = LAS_GET(header, LAS12Header, ZOffset);
    LAS_SET(header, LAS12Header, MaxX, file_coordinate(xScale, maxX, xOffset));
    LAS_SET(header, LAS12Header, MinX, file_coordinate(xScale, minX, xOffset));
    LAS_SET(header, LAS12Header, MaxY, file_coordinate(yScale, maxY, yOffset));
    LAS_SET(header, LAS12Header, MinY, file_coordinate(yScale, minY, yOffset));
    LAS_SET(header, LAS12Header, MaxZ, file_coordinate(zScale, maxZ, zOffset));
    LAS_SET(header, LAS12Header, MinZ, file_coordinate(zScale, minZ, zOffset));
}

}  // namespace

extern "C" {

void update_header(const char *filename) {
    const short lasType = check_las(filename);
    if (lasType < 0) stop();  // check_las has said why
    if (lasType == LAS_TYPE_UNSUPPORTED)
        refuse(filename, "las files of version 1.0 and 1.1 have no point format 2 or 3");

    File file = File::open_for_update(filename);
    if (!file.is_open()) {
        std::printf("\nCannot open binary file %s for header update\n\n", filename);
        stop();
    }

    std::uint8_t header[LAS_HEADER_SIZE];
    const long long got = file.read_up_to(header, sizeof header);
    if (got < 0) refuse(filename, "reading its header failed: %s", std::strerror(errno));
    if (got < LAS_HEADER_SIZE)
        refuse(filename, "the file is shorter than the %d bytes of a header", LAS_HEADER_SIZE);

    const unsigned headerSize = LAS_GET(header, LAS12Header, HeaderSize);
    const std::uint32_t offsetToData = LAS_GET(header, LAS12Header, OffsetToData);
    if (offsetToData < headerSize)
        refuse(filename, "its point records would start at offset %u, inside its %u-byte header",
               static_cast<unsigned>(offsetToData), headerSize);

    const std::size_t recordLength = record_size_of(lasType);
    // Refuse a file with too many records for the header before reading them all.
    std::uint64_t fileSize = 0;
    if (file.regular_file_size(fileSize) && fileSize > offsetToData &&
        (fileSize - offsetToData) / recordLength > max_record_count)
        refuse_too_many_records(filename);

    if (!file.seek(offsetToData))
        refuse(filename, "cannot reach its point records at offset %u: %s", static_cast<unsigned>(offsetToData),
               std::strerror(errno));
    const lidar::RecordTally tally = scan_records(file, filename, recordLength);

    set_statistics(header, tally);
    if (!file.write_all_at(header, sizeof header, 0))
        refuse(filename, "writing the header back failed: %s", std::strerror(errno));
    if (!file.close()) refuse(filename, "closing the file failed: %s", std::strerror(errno));

    std::printf("\rHeader of file %s has been updated    ", filename);
}

}  // extern "C"

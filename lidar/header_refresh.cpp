// Header statistics refresh: recounts the point records of a LAS file and the
// records of each return number, recomputes the bounding box from the stored
// coordinates, and writes the header back in place.
//
// The file is streamed once, in blocks of whole records of about 256 KiB read
// on two threads, so memory use does not grow with the file. Nothing is written until the
// whole pass has succeeded; then only the record counts and the bounds change.
#include "LiDAR.h"
#include "header_refresh.h"
#include "las_bytes.h"
#include "platform.h"

#include <algorithm>
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
constexpr std::size_t target_block_bytes = std::size_t{256} << 10;

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

std::unique_ptr<std::uint8_t[]> allocate_block(std::size_t bytes, const char *filename) {
    std::unique_ptr<std::uint8_t[]> block(new (std::nothrow) std::uint8_t[bytes]);
    if (!block) {
        std::printf("\nCannot allocate memory for storing a record of information from %s\n", filename);
        stop();
    }
    return block;
}

// Reads every whole record from the file's current position to its end.
lidar::RecordTally scan_to_end(File &file, const char *filename, std::size_t recordLength) {
    const std::size_t blockBytes = target_block_bytes / recordLength * recordLength;
    const std::unique_ptr<std::uint8_t[]> block = allocate_block(blockBytes, filename);
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

// Reads the whole records of [first, end) of a file whose size is known, on
// two threads that take every other block with positioned reads, so that
// reading and counting overlap on two cores. A read that comes up short (the
// file shrank meanwhile) ends that thread's share at the last whole record.
lidar::RecordTally scan_range(File &file, const char *filename, std::size_t recordLength, std::uint64_t first,
                              std::uint64_t end) {
    const std::size_t blockBytes = target_block_bytes / recordLength * recordLength;
    const std::uint64_t blocks = (end - first + blockBytes - 1) / blockBytes;
    const std::size_t workers = blocks > 1 ? 2 : 1;
    struct Share {
        lidar::RecordTally tally;
        int error = 0;
    };
    Share shares[2];
    std::unique_ptr<std::uint8_t[]> buffers[2];
    for (std::size_t w = 0; w < workers; ++w) buffers[w] = allocate_block(blockBytes, filename);
    auto work = [&](std::size_t w) {
        for (std::uint64_t b = w; b < blocks; b += workers) {
            const std::uint64_t at = first + b * blockBytes;
            const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(blockBytes, end - at));
            const long long got = file.read_up_to_at(buffers[w].get(), want, at);
            if (got < 0) {
                shares[w].error = errno;
                return;
            }
            const auto bytes = static_cast<std::size_t>(got);
            lidar::tally_records(buffers[w].get(), bytes / recordLength, recordLength, shares[w].tally);
            if (bytes < want) return;
        }
    };
    lidar::platform::run_shares(workers, work);
    lidar::RecordTally tally;
    for (std::size_t w = 0; w < workers; ++w) {
        if (shares[w].error != 0)
            refuse(filename, "reading its point records failed: %s", std::strerror(shares[w].error));
        lidar::merge_tally(tally, shares[w].tally);
    }
    if (tally.records > max_record_count) refuse_too_many_records(filename);
    return tally;
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
    const bool sizeKnown = file.regular_file_size(fileSize);
    if (sizeKnown && fileSize > offsetToData && (fileSize - offsetToData) / recordLength > max_record_count)
        refuse_too_many_records(filename);

    if (!file.seek(offsetToData))
        refuse(filename, "cannot reach its point records at offset %u: %s", static_cast<unsigned>(offsetToData),
               std::strerror(errno));
    const lidar::RecordTally tally =
        sizeKnown ? scan_range(file, filename, recordLength, offsetToData,
                               offsetToData + (fileSize > offsetToData ? (fileSize - offsetToData) / recordLength : 0) * recordLength)
                  : scan_to_end(file, filename, recordLength);

    set_statistics(header, tally);
    if (!file.write_all_at(header, sizeof header, 0))
        refuse(filename, "writing the header back failed: %s", std::strerror(errno));
    if (!file.close()) refuse(filename, "closing the file failed: %s", std::strerror(errno));

    std::printf("\rHeader of file %s has been updated    ", filename);
}

}  // extern "C"

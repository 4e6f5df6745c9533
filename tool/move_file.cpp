#include "move_file.h"

#include "block_writer.h"
#include "header_patch.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace tessvane {

namespace {

// Bytes moved per read and write: whole records, about this many, with this
// many blocks between reading and writing at any time.
constexpr std::size_t block_bytes = std::size_t{1} << 20;
constexpr std::size_t blocks_in_flight = 4;

[[gnu::format(printf, 1, 2)]] Refusal refusal(const char *format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(static_cast<std::size_t>(std::max(length, 0)) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, again);
    va_end(again);
    text.pop_back();
    return Refusal(text);
}

unsigned long long ull(std::uint64_t v) { return static_cast<unsigned long long>(v); }

Refusal read_failure(const std::string &name, long long got) {
    const char *reason = got < 0 ? std::strerror(errno) : "the file ended early";
    return refusal("\nCannot read binary file %s: %s\n\n", name.c_str(), reason);
}

Refusal write_failure(const std::string &name) {
    return refusal("\nCannot write binary file %s: %s\n\n", name.c_str(), std::strerror(errno));
}

void refuse_impossible_header(const std::string &name, const lidar::PointDataLayout &layout) {
    if (layout.headerSize < LAS_HEADER_SIZE)
        throw refusal("\nHeader of %s declares a header size of %u bytes, less than %d\n\n", name.c_str(),
                      static_cast<unsigned>(layout.headerSize), LAS_HEADER_SIZE);
    if (layout.offsetToData < layout.headerSize)
        throw refusal("\nHeader of %s puts the point records at offset %u, inside its %u-byte header\n\n",
                      name.c_str(), static_cast<unsigned>(layout.offsetToData),
                      static_cast<unsigned>(layout.headerSize));
}

void refuse_truncated(const std::string &name, const lidar::PointDataLayout &layout, std::uint64_t size) {
    const std::uint64_t needed = layout.bytes_needed();
    if (size >= needed) return;
    throw refusal("\n%s is truncated: %u point records of %u bytes from offset %u need %llu bytes, "
                  "but the file holds %llu (%llu bytes missing)\n\n",
                  name.c_str(), static_cast<unsigned>(layout.recordCount),
                  static_cast<unsigned>(layout.recordLength), static_cast<unsigned>(layout.offsetToData),
                  ull(needed), ull(size), ull(needed - size));
}

void read_exactly(CheckedInput &input, std::uint8_t *buffer, std::size_t n) {
    const long long got = input.file.read_up_to(buffer, n);
    if (got != static_cast<long long>(n)) throw read_failure(input.name, got);
}

// Copies input bytes [227, OffsetToData): any header extension and the
// variable-length records, uninterpreted.
void copy_between_header_and_records(CheckedInput &input, BlockWriter &writer, std::size_t blockBytes) {
    std::uint64_t remaining = input.layout.offsetToData - std::uint64_t{LAS_HEADER_SIZE};
    while (remaining > 0) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, blockBytes));
        std::uint8_t *block = writer.acquire();
        if (block == nullptr) return;  // the write failure is reported by finish()
        read_exactly(input, block, n);
        writer.submit(block, n);
        remaining -= n;
    }
}

const char axis_names[3] = {'X', 'Y', 'Z'};

StoredExtremes move_records(CheckedInput &input, BlockWriter &writer, std::size_t blockBytes,
                            const RecordTransform &transform) {
    const std::size_t recordLength = input.layout.recordLength;
    const std::size_t perBlock = blockBytes / recordLength;
    StoredExtremes written;
    std::uint64_t done = 0;
    while (done < input.layout.recordCount) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(perBlock, input.layout.recordCount - done));
        std::uint8_t *block = writer.acquire();
        if (block == nullptr) break;
        read_exactly(input, block, n * recordLength);
        if (const auto fault = transform_records(block, n, recordLength, transform, written))
            throw refusal("\nThe moved %c coordinate of record %llu of %s cannot be stored as a 32-bit integer\n\n",
                          axis_names[fault->axis], ull(done + fault->record), input.name.c_str());
        writer.submit(block, n * recordLength);
        done += n;
    }
    return written;
}

}  // namespace

CheckedInput open_checked_input(const std::string &name) {
    CheckedInput input{name, lidar::platform::File::open_for_reading(name), {}, {}};
    if (!input.file.is_open())
        throw refusal("\nCannot open binary file %s for reading\n\n", name.c_str());
    std::uint64_t size = 0;
    if (!input.file.regular_file_size(size))
        throw refusal("\n%s is not a regular file that can be read\n\n", name.c_str());
    if (size < LAS_HEADER_SIZE)
        throw refusal("\n%s is too short for a LAS header: %llu bytes where %d are needed\n\n", name.c_str(),
                      ull(size), LAS_HEADER_SIZE);
    read_exactly(input, input.header, LAS_HEADER_SIZE);
    input.layout = lidar::point_data_layout(input.header);
    refuse_impossible_header(name, input.layout);
    refuse_truncated(name, input.layout, size);
    return input;
}

void write_moved_copy(CheckedInput &input, lidar::platform::File &output, const std::string &outputName,
                      const Motion &motion) {
    const std::size_t recordLength = input.layout.recordLength;
    const std::size_t blockBytes = std::max<std::size_t>(1, block_bytes / recordLength) * recordLength;
    const RecordTransform transform = make_record_transform(motion, georeference_of(input.header));
    StoredExtremes written;
    {
        BlockWriter writer(output, blockBytes, blocks_in_flight);
        std::uint8_t *first = writer.acquire();
        std::memcpy(first, input.header, LAS_HEADER_SIZE);
        writer.submit(first, LAS_HEADER_SIZE);
        copy_between_header_and_records(input, writer, blockBytes);
        written = move_records(input, writer, blockBytes, transform);
        if (!writer.finish()) throw write_failure(outputName);
    }
    patch_bounds(input.header, motion, written);
    if (!output.write_all_at(input.header, LAS_HEADER_SIZE, 0)) throw write_failure(outputName);
}

}  // namespace tessvane

#include "move_file.h"

#include "header_patch.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace tessvane {

namespace {

// Bytes moved per read and write: whole records, about this many.
constexpr std::size_t block_bytes = std::size_t{1} << 20;

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

const char axis_names[3] = {'X', 'Y', 'Z'};

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

// True when the scale factor and offset turn stored values into finite
// coordinates at all.
bool usable(double scale, double offset) { return scale != 0.0 && std::isfinite(scale) && std::isfinite(offset); }

// True when scale * stored + offset, for every 32-bit stored value, is held
// in a double finely enough that dividing back recovers the stored value:
// rounding errors of a few units in the last place of the largest such
// coordinate must stay well under half a scale unit.
bool holds_stored_values(double scale, double offset) {
    const double largest = std::fabs(offset) + std::fabs(scale) * 2147483648.0;
    const double lastPlace = std::nextafter(largest, INFINITY) - largest;
    return lastPlace <= std::fabs(scale) / 8;
}

// Refuses scale factors and offsets with which the records' stored values
// could not survive the move, naming the axis.
void refuse_unusable_georeference(const std::string &name, const std::uint8_t *header) {
    const Georeference geo = georeference_of(header);
    for (int axis = 0; axis < 3; ++axis) {
        if (!usable(geo.scale[axis], geo.offset[axis]))
            throw refusal("\nScale factor %g and offset %g of the %c axis of %s give its stored values "
                          "no coordinates\n\n",
                          geo.scale[axis], geo.offset[axis], axis_names[axis], name.c_str());
        if (!holds_stored_values(geo.scale[axis], geo.offset[axis]))
            throw refusal("\nScale factor %g and offset %g of the %c axis of %s leave its coordinates "
                          "without the precision of its stored values\n\n",
                          geo.scale[axis], geo.offset[axis], axis_names[axis], name.c_str());
    }
}

void read_exactly(CheckedInput &input, std::uint8_t *buffer, std::size_t n) {
    const long long got = input.file.read_up_to(buffer, n);
    if (got != static_cast<long long>(n)) throw read_failure(input.name, got);
}

// What went wrong with one block of records, if anything.
struct BlockFailure {
    enum Kind { none, read_failed, write_failed, unstorable } kind = none;
    long long got = 0;           // read_failed: bytes read, or -1 with `error` set
    int error = 0;               // errno of a failed read or write
    QuantisationFault fault{};   // unstorable: record counted from the first in the file
};

// Reads, moves and writes the records block by block on two threads, each
// taking every other block with positioned reads and writes, so that both
// cores copy and compute. Blocks past the first failed one are skipped;
// every block before it is finished, so the failure reported is always the
// first in the file, whichever thread met it.
class RecordMover {
public:
    RecordMover(CheckedInput &input, lidar::platform::File &output, const RecordTransform &transform)
        : input_(input), output_(output), transform_(transform),
          recordsPerBlock_(static_cast<std::size_t>(std::clamp<std::uint64_t>(
              input.layout.recordCount, 1, std::max<std::size_t>(1, block_bytes / input.layout.recordLength)))),
          blocks_((input.layout.recordCount + recordsPerBlock_ - 1) / recordsPerBlock_) {}

    struct Result {
        StoredExtremes written;
        std::uint64_t failedBlock = no_block;
        BlockFailure failure;
    };

    Result run() {
        const std::size_t workers = blocks_ > 1 ? 2 : 1;
        std::vector<Result> results(workers);
        std::vector<std::vector<std::uint8_t>> buffers(
            workers, std::vector<std::uint8_t>(recordsPerBlock_ * input_.layout.recordLength));
        lidar::platform::run_shares(workers, [&](std::size_t w) { work(w, workers, buffers[w], results[w]); });
        Result merged;
        for (const Result &r : results) {
            merged.written.include(r.written);
            if (r.failedBlock < merged.failedBlock) {
                merged.failedBlock = r.failedBlock;
                merged.failure = r.failure;
            }
        }
        return merged;
    }

    static constexpr std::uint64_t no_block = UINT64_MAX;

private:
    void work(std::size_t worker, std::size_t workers, std::vector<std::uint8_t> &buffer, Result &result) {
        for (std::uint64_t block = worker; block < blocks_; block += workers) {
            if (block >= firstFailedBlock_.load(std::memory_order_acquire)) return;
            const BlockFailure failure = move_block(block, buffer.data(), result.written);
            if (failure.kind == BlockFailure::none) continue;
            result.failedBlock = block;
            result.failure = failure;
            std::uint64_t seen = firstFailedBlock_.load();
            while (block < seen && !firstFailedBlock_.compare_exchange_weak(seen, block)) {
            }
            return;
        }
    }

    BlockFailure move_block(std::uint64_t block, std::uint8_t *buffer, StoredExtremes &written) {
        const std::size_t length = input_.layout.recordLength;
        const std::uint64_t first = block * recordsPerBlock_;
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(recordsPerBlock_, input_.layout.recordCount - first));
        const std::uint64_t offset = input_.layout.offsetToData + first * length;
        BlockFailure failure;
        const long long got = input_.file.read_up_to_at(buffer, n * length, offset);
        if (got != static_cast<long long>(n * length)) {
            failure.kind = BlockFailure::read_failed;
            failure.got = got;
            failure.error = errno;
            return failure;
        }
        if (const auto fault = transform_records(buffer, n, length, transform_, written)) {
            failure.kind = BlockFailure::unstorable;
            failure.fault = {first + fault->record, fault->axis};
            return failure;
        }
        if (!output_.write_all_at(buffer, n * length, offset)) {
            failure.kind = BlockFailure::write_failed;
            failure.error = errno;
        }
        return failure;
    }

    CheckedInput &input_;
    lidar::platform::File &output_;
    const RecordTransform &transform_;
    const std::size_t recordsPerBlock_;
    const std::uint64_t blocks_;
    std::atomic<std::uint64_t> firstFailedBlock_{no_block};
};

Refusal refusal_for(const BlockFailure &failure, const CheckedInput &input, const std::string &outputName) {
    switch (failure.kind) {
    case BlockFailure::read_failed:
        errno = failure.error;
        return read_failure(input.name, failure.got);
    case BlockFailure::write_failed:
        errno = failure.error;
        return write_failure(outputName);
    default:
        return refusal("\nThe moved %c coordinate of record %llu of %s cannot be stored as a 32-bit integer\n\n",
                       axis_names[failure.fault.axis], ull(failure.fault.record), input.name.c_str());
    }
}

// Copies input bytes [227, OffsetToData): any header extension and the
// variable-length records, uninterpreted.
void copy_between_header_and_records(CheckedInput &input, lidar::platform::File &output,
                                     const std::string &outputName) {
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(
        std::min<std::uint64_t>(block_bytes, input.layout.offsetToData - std::uint64_t{LAS_HEADER_SIZE})));
    for (std::uint64_t at = LAS_HEADER_SIZE; at < input.layout.offsetToData;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), input.layout.offsetToData - at));
        const long long got = input.file.read_up_to_at(buffer.data(), n, at);
        if (got != static_cast<long long>(n)) throw read_failure(input.name, got);
        if (!output.write_all_at(buffer.data(), n, at)) throw write_failure(outputName);
        at += n;
    }
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
    if (input.layout.recordCount > 0) refuse_unusable_georeference(name, input.header);
    return input;
}

void write_moved_copy(CheckedInput &input, lidar::platform::File &output, const std::string &outputName,
                      const Motion &motion) {
    if (!output.write_all_at(input.header, LAS_HEADER_SIZE, 0)) throw write_failure(outputName);
    copy_between_header_and_records(input, output, outputName);

    const RecordTransform transform = make_record_transform(motion, georeference_of(input.header));
    const RecordMover::Result moved = RecordMover(input, output, transform).run();
    if (moved.failedBlock != RecordMover::no_block) throw refusal_for(moved.failure, input, outputName);

    patch_bounds(input.header, motion, moved.written);
    if (!output.write_all_at(input.header, LAS_HEADER_SIZE, 0)) throw write_failure(outputName);
}

}  // namespace tessvane

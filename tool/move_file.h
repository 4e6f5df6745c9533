// Streaming a LAS file through the record transform: the input opened and
// checked against its header, the bytes before the records copied as they
// are, the records moved block by block, the header's bounds patched.
#pragma once

#include "LiDAR.h"
#include "las_bytes.h"
#include "platform.h"
#include "transform.h"

#include <cstdint>
#include <stdexcept>
#include <string>

namespace tessvane {

// A run that cannot go on: the message to print, which names the file.
class Refusal : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An input whose header has been read and found consistent with its size.
struct CheckedInput {
    std::string name;
    lidar::platform::File file;  // positioned just after the header image
    std::uint8_t header[LAS_HEADER_SIZE];
    lidar::PointDataLayout layout;
};

// Opens the input and refuses a header that cannot be right or a file too
// short for the records its header announces.
CheckedInput open_checked_input(const std::string &name);

// Writes the moved copy of `input` to `output`: bytes [0, OffsetToData) as
// they are but for the bounds, then every record moved. Returns when the
// output holds the whole result; throws Refusal otherwise.
void write_moved_copy(CheckedInput &input, lidar::platform::File &output, const std::string &outputName,
                      const Motion &motion);

}  // namespace tessvane

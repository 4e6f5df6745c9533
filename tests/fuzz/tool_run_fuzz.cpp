// The whole tool run, in process, on any input file and any six numbers.
//
// Either the run returns 0 and the output is a valid LAS file of the input's
// type, exactly OffsetToData + count * length bytes long, equal to the input
// in every byte but the records' coordinates and the header's bounds, with
// every coordinate the one the scalar formulas give and a box that follows
// the records; or it returns -1 and
// leaves no output and no temporary file. The input is never changed, also
// when the output names it again or is a symbolic link to it.
#include "LiDAR.h"
#include "Tessvane.h"
#include "fuzz_support.h"
#include "las_bytes.h"
#include "tool_run_input.h"
#include "transform.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using fuzzsupport::Bytes;

bool accepted(short type) { return type >= LAS_TYPE_10_FORMAT0 && type <= LAS_TYPE_12_FORMAT3; }

bool same_double(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

// The header's box follows the records: shifted with the translation when
// nothing turns, and after a turn the extremes of the coordinates stored.
void check_bounds(const std::uint8_t *in, const std::uint8_t *out, const lidar::PointDataLayout &layout,
                  const tessvane::Motion &motion) {
    const std::size_t minAt[3] = {offsetof(LAS12Header, MinX), offsetof(LAS12Header, MinY), offsetof(LAS12Header, MinZ)};
    const std::size_t maxAt[3] = {offsetof(LAS12Header, MaxX), offsetof(LAS12Header, MaxY), offsetof(LAS12Header, MaxZ)};
    const double shift[3] = {motion.transX, motion.transY, motion.transZ};
    const tessvane::Georeference geo = tessvane::georeference_of(in);
    for (int axis = 0; axis < 3; ++axis) {
        const double oldMin = lidar::load<double>(in + minAt[axis]), oldMax = lidar::load<double>(in + maxAt[axis]);
        const double newMin = lidar::load<double>(out + minAt[axis]), newMax = lidar::load<double>(out + maxAt[axis]);
        if (axis < 2 && motion.angle != 0.0 && layout.recordCount > 0) {
            double lo = INFINITY, hi = -INFINITY;
            for (std::uint32_t i = 0; i < layout.recordCount; ++i) {
                const std::int32_t v = lidar::load<std::int32_t>(
                    out + layout.offsetToData + std::size_t{i} * layout.recordLength + 4 * axis);
                const double coordinate = geo.scale[axis] * v + geo.offset[axis];
                lo = std::min(lo, coordinate);
                hi = std::max(hi, coordinate);
            }
            FUZZ_CHECK(newMin == lo && newMax == hi);
        } else if (shift[axis] != 0.0 && (axis == 2 || motion.angle == 0.0)) {
            FUZZ_CHECK(same_double(newMin, oldMin + shift[axis]) && same_double(newMax, oldMax + shift[axis]));
        } else {
            FUZZ_CHECK(std::memcmp(in + minAt[axis], out + minAt[axis], 8) == 0);
            FUZZ_CHECK(std::memcmp(in + maxAt[axis], out + maxAt[axis], 8) == 0);
        }
    }
}

void check_completed_run(const Bytes &in, const Bytes &out, const tessvane::Motion &motion) {
    FUZZ_CHECK(in.size() >= LAS_HEADER_SIZE);
    const lidar::PointDataLayout layout = lidar::point_data_layout(in.data());
    const std::size_t length = layout.recordLength;
    FUZZ_CHECK(out.size() == layout.bytes_needed());
    // Header up to the bounds, and whatever lies between header and records.
    FUZZ_CHECK(std::equal(in.begin(), in.begin() + offsetof(LAS12Header, MaxX), out.begin()));
    FUZZ_CHECK(std::equal(in.begin() + LAS_HEADER_SIZE, in.begin() + layout.offsetToData,
                          out.begin() + LAS_HEADER_SIZE));

    const tessvane::RecordTransform t = tessvane::make_record_transform(motion, tessvane::georeference_of(in.data()));
    for (std::uint32_t i = 0; i < layout.recordCount; ++i) {
        const std::uint8_t *before = in.data() + layout.offsetToData + std::size_t{i} * length;
        const std::uint8_t *after = out.data() + layout.offsetToData + std::size_t{i} * length;
        FUZZ_CHECK(std::equal(before + 12, before + length, after + 12));
        const tessvane::MovedPoint p = tessvane::move_point(t, lidar::load<std::int32_t>(before),
                                                            lidar::load<std::int32_t>(before + 4),
                                                            lidar::load<std::int32_t>(before + 8));
        const double q[3] = {(p.x - t.geo.offset[0]) / t.geo.scale[0], (p.y - t.geo.offset[1]) / t.geo.scale[1],
                             (p.z - t.geo.offset[2]) / t.geo.scale[2]};
        for (int axis = 0; axis < 3; ++axis) {
            std::int32_t stored;
            FUZZ_CHECK(tessvane::quantise(q[axis], stored));
            FUZZ_CHECK(lidar::load<std::int32_t>(after + 4 * axis) == stored);
        }
    }
    check_bounds(in.data(), out.data(), layout, motion);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::string numbers[toolrun::numbers];
    const std::uint8_t *file;
    std::size_t fileSize;
    toolrun::decode(data, size, numbers, file, fileSize);

    // The top bits of the first byte may make the output name the input
    // itself, or a symbolic link to it: such a run must be refused.
    const unsigned aliasing = size > 0 ? data[0] >> 6 : 0;
    const std::string &dir = fuzzsupport::scratch_dir();
    const std::string input = dir + "/in.las";
    std::string output = dir + "/out.las";
    std::vector<std::string> entriesBefore = {"in.las"};
    FUZZ_CHECK(fuzzsupport::write_file(input, file, fileSize));
    if (aliasing == 1) {
        output = dir + "/link.las";
        FUZZ_CHECK(::symlink("in.las", output.c_str()) == 0);
        entriesBefore = {"in.las", "link.las"};
    } else if (aliasing == 2) {
        output = dir + "/./in.las";
    }

    std::vector<std::string> args = {"Tessvane", input, output};
    args.insert(args.end(), numbers, numbers + toolrun::numbers);
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int status = tessvane::run(static_cast<int>(args.size()), argv.data());

    Bytes in, out;
    FUZZ_CHECK(fuzzsupport::read_file(input, in));
    FUZZ_CHECK(in == Bytes(file, file + fileSize));
    if (status == 0) {
        FUZZ_CHECK(aliasing != 1 && aliasing != 2);
        FUZZ_CHECK((fuzzsupport::entries(dir) == std::vector<std::string>{"in.las", "out.las"}));
        const short type = check_las(input.c_str());
        FUZZ_CHECK(accepted(type));
        FUZZ_CHECK(check_las(output.c_str()) == type);
        FUZZ_CHECK(fuzzsupport::read_file(output, out));
        tessvane::Motion motion;
        motion.transX = std::atof(numbers[0].c_str());
        motion.transY = std::atof(numbers[1].c_str());
        motion.transZ = std::atof(numbers[2].c_str());
        motion.angle = std::atof(numbers[3].c_str());
        motion.rotCenterX = std::atof(numbers[4].c_str());
        motion.rotCenterY = std::atof(numbers[5].c_str());
        check_completed_run(in, out, motion);
        ::unlink(output.c_str());
    } else {
        FUZZ_CHECK(status == tessvane::EXIT_REFUSED);
        FUZZ_CHECK(fuzzsupport::entries(dir) == entriesBefore);
    }
    if (aliasing == 1) {
        char target[16] = {};
        FUZZ_CHECK(::readlink(output.c_str(), target, sizeof target - 1) == 6 && std::string(target) == "in.las");
        ::unlink(output.c_str());
    }
    ::unlink(input.c_str());
    return 0;
}

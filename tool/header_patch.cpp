#include "header_patch.h"

#include "las_bytes.h"

#include <algorithm>

namespace tessvane {

namespace {

struct AxisBounds {
    double min;
    double max;
};

AxisBounds stored_range_in_file_units(std::int32_t lowest, std::int32_t highest, double scale,
                                      double offset) {
    // scale * v + offset is monotonic in v; a negative scale turns it round.
    const double a = scale * lowest + offset;
    const double b = scale * highest + offset;
    return {std::min(a, b), std::max(a, b)};
}

}  // namespace

void patch_bounds(std::uint8_t *header, const Motion &motion, const StoredExtremes &written) {
    if (motion.angle == 0.0) {
        if (motion.transX != 0.0) {
            LAS_SET(header, LAS12Header, MinX, LAS_GET(header, LAS12Header, MinX) + motion.transX);
            LAS_SET(header, LAS12Header, MaxX, LAS_GET(header, LAS12Header, MaxX) + motion.transX);
        }
        if (motion.transY != 0.0) {
            LAS_SET(header, LAS12Header, MinY, LAS_GET(header, LAS12Header, MinY) + motion.transY);
            LAS_SET(header, LAS12Header, MaxY, LAS_GET(header, LAS12Header, MaxY) + motion.transY);
        }
    }
    if (motion.transZ != 0.0) {
        LAS_SET(header, LAS12Header, MinZ, LAS_GET(header, LAS12Header, MinZ) + motion.transZ);
        LAS_SET(header, LAS12Header, MaxZ, LAS_GET(header, LAS12Header, MaxZ) + motion.transZ);
    }
    if (motion.angle != 0.0 && written.any) {
        const Georeference geo = georeference_of(header);
        const AxisBounds x = stored_range_in_file_units(written.min[0], written.max[0], geo.scale[0], geo.offset[0]);
        const AxisBounds y = stored_range_in_file_units(written.min[1], written.max[1], geo.scale[1], geo.offset[1]);
        LAS_SET(header, LAS12Header, MinX, x.min);
        LAS_SET(header, LAS12Header, MaxX, x.max);
        LAS_SET(header, LAS12Header, MinY, y.min);
        LAS_SET(header, LAS12Header, MaxY, y.max);
    }
}

}  // namespace tessvane

// The header statistics refresh on any file content.
//
// The bytes are written to a file and refreshed. A file the refresh must
// refuse (the LAS check refuses it or gives 0, it is shorter than a header,
// or its records would start inside the header) is refreshed in a child
// process, which must end with status 255 and leave the file byte for byte
// as it was. Any other file is refreshed in this process, where coverage is
// seen; it must return, and the file must then hold exactly its old bytes
// but for the record count, the counts by return and the box, which must be
// those of the whole records from OffsetToData to the end.
#include "LiDAR.h"
#include "fuzz_support.h"
#include "las_bytes.h"

#include <cstring>
#include <string>
#include <unistd.h>

namespace {

using fuzzsupport::Bytes;

// The bytes the refresh must leave in a file it accepts.
Bytes refreshed(Bytes file) {
    std::uint8_t *h = file.data();
    const std::size_t length = lidar::point_record_size(h[offsetof(LAS12Header, PointDataFormatID)]);
    const std::uint32_t offset = LAS_GET(h, LAS12Header, OffsetToData);
    const std::size_t count = file.size() > offset ? (file.size() - offset) / length : 0;

    std::uint32_t byReturn[5] = {};
    std::int32_t lo[3] = {2147483646, 2147483646, 10000000};
    std::int32_t hi[3] = {-2147483646, -2147483646, -10000000};
    if (count > 0) {
        for (int a = 0; a < 3; ++a) {
            lo[a] = INT32_MAX;
            hi[a] = INT32_MIN;
        }
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t *r = h + offset + i * length;
        for (int a = 0; a < 3; ++a) {
            const std::int32_t v = lidar::load<std::int32_t>(r + 4 * a);
            lo[a] = std::min(lo[a], v);
            hi[a] = std::max(hi[a], v);
        }
        const int returnNumber = r[offsetof(LAS12fm0, bitfield)] & 7;
        if (returnNumber >= 1 && returnNumber <= 5) ++byReturn[returnNumber - 1];
    }
    LAS_SET(h, LAS12Header, NumberOfPointReturns, static_cast<std::uint32_t>(count));
    std::memcpy(h + offsetof(LAS12Header, NumberOfPointsByReturn), byReturn, sizeof byReturn);
    const double scale[3] = {LAS_GET(h, LAS12Header, XScaleFactor), LAS_GET(h, LAS12Header, YScaleFactor),
                             LAS_GET(h, LAS12Header, ZScaleFactor)};
    const double offs[3] = {LAS_GET(h, LAS12Header, XOffset), LAS_GET(h, LAS12Header, YOffset),
                            LAS_GET(h, LAS12Header, ZOffset)};
    const std::size_t maxAt[3] = {offsetof(LAS12Header, MaxX), offsetof(LAS12Header, MaxY), offsetof(LAS12Header, MaxZ)};
    const std::size_t minAt[3] = {offsetof(LAS12Header, MinX), offsetof(LAS12Header, MinY), offsetof(LAS12Header, MinZ)};
    for (int a = 0; a < 3; ++a) {
        lidar::store(h + maxAt[a], scale[a] * hi[a] + offs[a]);
        lidar::store(h + minAt[a], scale[a] * lo[a] + offs[a]);
    }
    return file;
}

// Whether the refresh must refuse the file (it then ends the process).
bool must_refuse(const std::string &path, const Bytes &file) {
    const short type = check_las(path.c_str());
    if (type <= LAS_TYPE_UNSUPPORTED) return true;
    if (file.size() < LAS_HEADER_SIZE) return true;
    return LAS_GET(file.data(), LAS12Header, OffsetToData) < LAS_GET(file.data(), LAS12Header, HeaderSize);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string path = fuzzsupport::scratch_dir() + "/cloud.las";
    const Bytes before(data, data + size);
    FUZZ_CHECK(fuzzsupport::write_file(path, data, size));
    Bytes after;
    if (must_refuse(path, before)) {
        const int status = fuzzsupport::status_in_child([&] { update_header(path.c_str()); });
        FUZZ_CHECK(status == fuzzsupport::refused_status);
        FUZZ_CHECK(fuzzsupport::read_file(path, after));
        FUZZ_CHECK(after == before);
    } else {
        update_header(path.c_str());
        FUZZ_CHECK(fuzzsupport::read_file(path, after));
        FUZZ_CHECK(after == refreshed(before));
    }
    ::unlink(path.c_str());
    return 0;
}

// mklas: writes a synthetic LAS file of pseudo-random points.
//
//   mklas OUTPUT.las [RECORDS [FORMAT [VERSION_MINOR [GAP_BYTES [SEED]]]]]
//
// Defaults: 1000 records, format 3, version 1.2, no bytes between header and
// records, seed 1. The same arguments always give the same bytes.
#include "las_fixture.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool parse(const char *text, unsigned long long max, unsigned long long &value) {
    char *end = nullptr;
    errno = 0;
    value = std::strtoull(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && value <= max;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2 || argc > 7) {
        std::fputs("usage: mklas OUTPUT.las [RECORDS [FORMAT [VERSION_MINOR [GAP_BYTES [SEED]]]]]\n", stderr);
        return 2;
    }
    unsigned long long records = 1000, format = 3, minor = 2, gap = 0, seed = 1;
    const bool ok = (argc <= 2 || parse(argv[2], 0xFFFFFFFFull, records)) &&
                    (argc <= 3 || parse(argv[3], 3, format)) && (argc <= 4 || parse(argv[4], 2, minor)) &&
                    (argc <= 5 || parse(argv[5], 0xFFFF0000ull, gap)) &&
                    (argc <= 6 || parse(argv[6], ~0ull, seed));
    if (!ok || (minor < 2 && format > 1)) {
        std::fputs("mklas: bad argument (formats 0-3, versions 1.0-1.2; 1.0 and 1.1 take formats 0 and 1)\n", stderr);
        return 2;
    }
    lasfixture::Layout layout;
    layout.format = static_cast<int>(format);
    layout.versionMinor = static_cast<int>(minor);
    layout.gapBytes = static_cast<std::uint32_t>(gap);
    if (!lasfixture::write_random_las(argv[1], layout, records, seed)) {
        std::fprintf(stderr, "mklas: cannot write %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    return 0;
}

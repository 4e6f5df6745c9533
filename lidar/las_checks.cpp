// File checks and LAS validation: can a file be opened, does its name carry
// the expected extension, and is it a LAS file of a version and point format
// the suite handles.
#include "LiDAR.h"
#include "las_bytes.h"

#include <cstdio>
#include <cstring>

namespace {

// The validator looks no further than the record length, which ends here.
constexpr std::size_t validated_prefix =
    offsetof(LAS12Header, PointDataRecordLength) + sizeof(LAS12Header::PointDataRecordLength);

// A small number printed the way the suite prints versions and formats.
int as_digit(unsigned value) { return static_cast<int>(value + '0'); }

bool is_version_10_or_11(unsigned minor) { return minor == 0 || minor == 1; }

short type_code(unsigned minor, unsigned format) {
    if (minor == 2) return static_cast<short>(LAS_TYPE_12_FORMAT0 + format);
    return static_cast<short>((minor == 0 ? LAS_TYPE_10_FORMAT0 : LAS_TYPE_11_FORMAT0) + format);
}

// Reads the validated prefix; false when the file is shorter or unreadable.
bool read_validated_prefix(std::FILE *file, std::uint8_t (&image)[validated_prefix]) {
    return std::fread(image, 1, validated_prefix, file) == validated_prefix;
}

short classify(const char *filename, const std::uint8_t *image) {
    if (std::memcmp(image + offsetof(LAS12Header, LASF), "LASF", 4) != 0) {
        std::printf("\n%s is not a valid .las file\n\n", filename);
        return LAS_TYPE_REFUSED;
    }
    const unsigned major = LAS_GET(image, LAS12Header, VersionMajor);
    if (major != 1) {
        std::printf("\nCannot handle las files of version %c.x\n", as_digit(major));
        return LAS_TYPE_REFUSED;
    }
    const unsigned minor = LAS_GET(image, LAS12Header, VersionMinor);
    if (minor > 2) {
        std::printf("\nCannot handle las files of version %c.%c\n", as_digit(major), as_digit(minor));
        return LAS_TYPE_REFUSED;
    }
    const unsigned format = LAS_GET(image, LAS12Header, PointDataFormatID);
    if (format > 3) {
        std::printf("\nPointDataFormatID in %s is %c. Only 0, 1, 2, or 3 is accepted\n", filename,
                    as_digit(format));
        return LAS_TYPE_REFUSED;
    }
    const unsigned recordLength = LAS_GET(image, LAS12Header, PointDataRecordLength);
    if (is_version_10_or_11(minor) && format >= 2) return LAS_TYPE_UNSUPPORTED;
    if (recordLength == lidar::point_record_size(format)) return type_code(minor, format);
    std::printf("\nData format of %s (%c) is incompatible with Length of Data Record (%d)\n", filename,
                as_digit(format), static_cast<int>(recordLength));
    return LAS_TYPE_REFUSED;
}

}  // namespace

extern "C" {

short file_access(const char *filename) {
    std::FILE *file = std::fopen(filename, "r");
    if (file == nullptr) {
        std::printf("Unable to open file %s in file_access()\n", filename);
        return -1;
    }
    std::fclose(file);
    return 0;
}

short check_file_extension(const char *filename, const char *extension) {
    const std::size_t n = std::strlen(filename);
    if (n <= 4) {
        std::printf("\nFile name (%s) is too short\n", filename);
        return -1;
    }
    if (filename[n - 4] != '.') {
        std::printf("\nExtension of file %s should be preceeded by a dot (.)\n", filename);
        return -1;
    }
    if (std::strcmp(filename + n - 3, extension) != 0) {
        std::printf("\nFile extension of %s is not .%s\n", filename, extension);
        return -1;
    }
    return 0;
}

void error_msg(int i, const char *text) {
    switch (i) {
    case 1: std::printf("\nFile %s does NOT exist\n", text); break;
    case 2: std::printf("\nFile %s already exists\n", text); break;
    case 3: std::printf("\nSame file name (%s) has been specified twice\n", text); break;
    default: break;
    }
}

short check_las(const char *filename) {
    if (file_access(filename) != 0) {
        error_msg(1, filename);
        return LAS_TYPE_REFUSED;
    }
    if (check_file_extension(filename, "las") != 0) return LAS_TYPE_REFUSED;

    std::FILE *file = std::fopen(filename, "rb");
    if (file == nullptr) {
        std::printf("\nCannot open binary file %s for reading\n\n", filename);
        return LAS_TYPE_REFUSED;
    }
    std::uint8_t image[validated_prefix];
    const bool complete = read_validated_prefix(file, image);
    std::fclose(file);
    if (!complete) {
        std::printf("\n%s is not a valid .las file\n\n", filename);
        return LAS_TYPE_REFUSED;
    }
    return classify(filename, image);
}

}  // extern "C"

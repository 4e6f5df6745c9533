// Tessvane: rotates a LAS point cloud about a vertical axis through a given
// X/Y centre, then translates it, and writes the moved cloud to a new file.
#include "Tessvane.h"

#include "LiDAR.h"
#include "move_file.h"
#include "platform.h"
#include "transform.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace tessvane {

namespace {

void usage() {
    credits();
    std::puts("\nUsage:\tTessvane INPUT.las OUTPUT.las");
    std::puts("\tX_translation Y_translation Z_translation");
    std::puts("\tRotation_angle X_rotation_center Y_rotation_center");
}

Motion motion_from_arguments(char **argv) {
    Motion m;
    m.transX = std::atof(argv[3]);
    m.transY = std::atof(argv[4]);
    m.transZ = std::atof(argv[5]);
    m.angle = std::atof(argv[6]);
    m.rotCenterX = std::atof(argv[7]);
    m.rotCenterY = std::atof(argv[8]);
    return m;
}

bool nothing_to_do(const Motion &m) {
    return m.transX == 0.0 && m.transY == 0.0 && m.transZ == 0.0 && m.angle == 0.0;
}

void print_notices(const Motion &m) {
    if (m.transX != 0.0) std::printf("Translation along the X axis (East/West)  by %.6f\n", m.transX);
    if (m.transY != 0.0) std::printf("Translation along the Y axis (NorthSouth) by %.6f\n", m.transY);
    if (m.transZ != 0.0) std::printf("Translation along the Z axis (Up/Down)    by %.6f\n", m.transZ);
    if (m.angle != 0.0) {
        std::printf("Rotation by %.6f degrees\n", m.angle);
        std::printf("Rotation center at [%f, %f]\n", m.rotCenterX, m.rotCenterY);
        return;
    }
    if (m.rotCenterX != 0.0)
        std::printf("Rotation center along the X axis (%.6f) is ignored because rotation angle is 0.0\n",
                    m.rotCenterX);
    if (m.rotCenterY != 0.0)
        std::printf("Rotation center along the Y axis (%.6f) is ignored because rotation angle is 0.0\n",
                    m.rotCenterY);
}

bool is_accepted_type(short lasType) { return lasType >= LAS_TYPE_10_FORMAT0 && lasType <= LAS_TYPE_12_FORMAT3; }

void write_output(CheckedInput &input, const std::string &outputName, const Motion &motion) {
    lidar::platform::AtomicOutput output;
    if (!output.create(outputName))
        throw Refusal("\nCannot open binary file " + outputName + " for writing\n\n");
    write_moved_copy(input, output.file(), outputName, motion);
    if (!output.commit()) {
        const std::string reason = std::strerror(errno);
        throw Refusal("\nCannot write binary file " + outputName + ": " + reason + "\n\n");
    }
}

}  // namespace

int run(int argc, char **argv) {
    if (argc != 9) {
        usage();
        if (argc != 1) std::puts("\nWrong arguments specified ");
        return EXIT_REFUSED;
    }
    const std::string inputName = argv[1];
    const std::string outputName = argv[2];
    const Motion motion = motion_from_arguments(argv);

    credits();
    const double start = lidar::platform::wall_seconds();

    if (nothing_to_do(motion)) {
        std::puts("No rotation and no translation specified. Nothing to do!");
        return EXIT_REFUSED;
    }
    print_notices(motion);

    if (!is_accepted_type(check_las(inputName.c_str()))) {
        std::printf("%s is not a valid LAS file\n", inputName.c_str());
        usage();
        return EXIT_REFUSED;
    }
    if (lidar::platform::same_file(inputName, outputName)) {
        error_msg(3, outputName.c_str());
        return EXIT_REFUSED;
    }
    try {
        CheckedInput input = open_checked_input(inputName);
        write_output(input, outputName, motion);
    } catch (const Refusal &refused) {
        std::fputs(refused.what(), stdout);
        return EXIT_REFUSED;
    } catch (const std::bad_alloc &) {
        std::puts("\nFailed to allocate memory for a single return record");
        return EXIT_REFUSED;
    }
    std::printf("\nCompleted in %.3f seconds\n", lidar::platform::wall_seconds() - start);
    return EXIT_SUCCESS;
}

}  // namespace tessvane

#ifndef TESSVANE_NO_MAIN
int main(int argc, char **argv) {
    // A write past a file size limit should fail like any other write, not kill the run.
    std::signal(SIGXFSZ, SIG_IGN);
    return tessvane::run(argc, argv);
}
#endif

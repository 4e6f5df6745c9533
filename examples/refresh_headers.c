/*
 * refresh_headers: brings the header statistics of LAS files up to date, as
 * another tool of the suite would, through the shared module.
 *
 *   refresh_headers FILE.las [FILE.las ...]
 *
 * Each file is checked with check_las and, when accepted, refreshed in place
 * with update_header (which ends the program with status 255 on a failure).
 * Exit status: 0 when every file was refreshed, 1 when any was refused.
 */
#include "LiDAR.h"

#include <stdio.h>

int main(int argc, char **argv) {
    int refused = 0;
    if (argc < 2) {
        printf("usage: refresh_headers FILE.las [FILE.las ...]\n");
        return 2;
    }
    for (int i = 1; i < argc; ++i) {
        const short type = check_las(argv[i]);
        if (type < LAS_TYPE_10_FORMAT0) {
            printf("%s is not a LAS file this module can refresh\n", argv[i]);
            refused = 1;
            continue;
        }
        update_header(argv[i]);
        printf("\n");
    }
    return refused;
}

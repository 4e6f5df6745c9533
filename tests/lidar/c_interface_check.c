/*
 * Includes LiDAR.h as C11 and calls the shared library through it. Exits 0
 * when the record sizes are the documented ones and a call goes through.
 */
#include "LiDAR.h"

#include <stdio.h>

static int failures = 0;

static void expect_size(const char *name, size_t actual, size_t expected) {
    if (actual != expected) {
        printf("sizeof(%s) is %u, expected %u\n", name, (unsigned)actual, (unsigned)expected);
        ++failures;
    }
}

int main(void) {
    expect_size("LAS10Header", sizeof(LAS10Header), 227);
    expect_size("LAS11Header", sizeof(LAS11Header), 227);
    expect_size("LAS12Header", sizeof(LAS12Header), 227);
    expect_size("LAS12fm0", sizeof(LAS12fm0), 20);
    expect_size("LAS12fm1", sizeof(LAS12fm1), 28);
    expect_size("LAS12fm2", sizeof(LAS12fm2), 26);
    expect_size("LAS12fm3", sizeof(LAS12fm3), 34);

    if (check_file_extension("x.las", "las") != 0) {
        printf("check_file_extension(\"x.las\", \"las\") refused the name\n");
        ++failures;
    }
    return failures == 0 ? 0 : 1;
}

// Checks of the values the suite's tools take on their command line: a number
// written plainly, a yes/no flag, and the name of a digital elevation model.
// The number and elevation-model checks end the process with status -1 on a
// refusal; the flag check returns a status.
#include "LiDAR.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Digits with at most one dot and at most one minus sign, in any order; a
// lone dot or a lone minus sign is no number. Any length is counted in full.
bool is_plain_number(const char *str) {
    std::size_t length = 0;
    std::size_t dots = 0;
    std::size_t minuses = 0;
    for (; str[length] != '\0'; ++length) {
        const char c = str[length];
        if (c == '.')
            ++dots;
        else if (c == '-')
            ++minuses;
        else if (c < '0' || c > '9')
            return false;
    }
    if (dots > 1 || minuses > 1) return false;
    return length != 1 || (dots == 0 && minuses == 0);
}

bool is_yes_no(const char *text) {
    return text != nullptr && text[0] != '\0' && text[1] == '\0' &&
           (text[0] == 'Y' || text[0] == 'N' || text[0] == 'y' || text[0] == 'n');
}

}  // namespace

extern "C" {

void check_numeric_argument(const char *str) {
    if (is_plain_number(str)) return;
    std::printf("\nInvalid argument value (%s)\n", str);
    std::exit(-1);
}

short check_YN(const char *text) {
    if (is_yes_no(text)) return 0;
    std::puts("\nASCII Header Flag should be either Y (y) or N (n)");
    return -1;
}

void check_DEM(const char *str) {
    // Each refused extension check prints its own line.
    if (check_file_extension(str, "asc") != 0 && check_file_extension(str, "flt") != 0) {
        std::puts("\nDEM file extension should be either '.asc' (ASCII) or '.flt' (floating point binary)");
        std::exit(-1);
    }
    if (check_file_extension(str, "flt") != 0) return;  // an ASCII model

    // A floating-point binary model needs its header beside it: the same
    // name with .hdr in place of .flt. The name passed the extension check,
    // so it is longer than its dot and extension.
    const std::string header = std::string(str, std::strlen(str) - 4) + ".hdr";
    if (file_access(header.c_str()) != 0) {
        std::puts("\nFloating point binary DEM files also require a ASCII header file ('.hdr')");
        std::exit(-1);
    }
}

}  // extern "C"

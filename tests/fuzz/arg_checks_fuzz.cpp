// The argument checks on any text.
//
// Input: a selector byte, then the text (up to its first NUL). Selector % 3
// picks the check: 0 check_numeric_argument, 1 check_YN, 2 check_DEM; for
// check_DEM, bit 0 of selector / 3 puts the name in a scratch folder and bit 1
// makes the companion .hdr file there first (when the text holds no slash). Each check is compared with its
// rule. A check expected to accept runs in this process (an exit there is a
// crash the fuzzer reports); one expected to refuse runs in a child, which
// must end with status 255.
#include "LiDAR.h"
#include "fuzz_support.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

// Only digits, dots and minus signs; at most one dot and one minus; not a lone dot or minus.
bool plain_number(const std::string &s) {
    std::size_t dots = 0, minuses = 0;
    for (const char c : s) {
        if (c == '.')
            ++dots;
        else if (c == '-')
            ++minuses;
        else if (c < '0' || c > '9')
            return false;
    }
    return dots <= 1 && minuses <= 1 && s != "." && s != "-";
}

bool yes_or_no(const std::string &s) { return s == "Y" || s == "N" || s == "y" || s == "n"; }

bool has_extension(const std::string &name, const char *extension) {
    const std::size_t n = name.size();
    return n > 4 && name[n - 4] == '.' && name.compare(n - 3, std::string::npos, extension) == 0;
}

bool opens(const std::string &path) {
    std::FILE *f = std::fopen(path.c_str(), "r");
    if (f == nullptr) return false;
    std::fclose(f);
    return true;
}

template <typename Check>
void expect(bool accepts, Check check) {
    if (accepts) {
        check();
        return;
    }
    FUZZ_CHECK(fuzzsupport::status_in_child(check) == fuzzsupport::refused_status);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0) return 0;
    const unsigned selector = data[0] % 3, flags = data[0] / 3;
    const char *text = reinterpret_cast<const char *>(data + 1);
    const std::string str(text, strnlen(text, size - 1));

    switch (selector) {
    case 0:
        expect(plain_number(str), [&] { check_numeric_argument(str.c_str()); });
        break;
    case 1:
        FUZZ_CHECK((check_YN(str.c_str()) == 0) == yes_or_no(str));
        break;
    default: {
        const std::string name = (flags & 1) ? fuzzsupport::scratch_dir() + "/" + str : str;
        const bool asc = has_extension(name, "asc"), flt = has_extension(name, "flt");
        const std::string companion = flt ? name.substr(0, name.size() - 4) + ".hdr" : std::string();
        bool made = false;
        // Only ever a file of the scratch folder itself.
        if (flt && (flags & 1) && (flags & 2) && str.find('/') == std::string::npos)
            made = fuzzsupport::write_file(companion, nullptr, 0);
        const bool accepts = asc || (flt && opens(companion));
        expect(accepts, [&] { check_DEM(name.c_str()); });
        if (made) ::unlink(companion.c_str());
        break;
    }
    }
    return 0;
}

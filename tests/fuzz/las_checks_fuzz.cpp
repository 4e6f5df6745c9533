// The file checks and the LAS validator on any name and any file content.
//
// Input: [name length][name][extension length][extension][file content].
// The content is written to a file of that name (slashes and NULs replaced)
// in a scratch folder; check_file_extension must agree with the name rule,
// file_access must accept the file and check_las must give the type code the
// first 107 bytes call for.
#include "LiDAR.h"
#include "fuzz_support.h"

#include <cstring>
#include <string>
#include <unistd.h>

namespace {

using fuzzsupport::Bytes;

// The rule: longer than four characters, a dot fourth from the end, then
// exactly the extension given.
bool has_extension(const std::string &name, const std::string &extension) {
    const std::size_t n = name.size();
    return n > 4 && name[n - 4] == '.' && name.compare(n - 3, std::string::npos, extension) == 0;
}

unsigned record_size(unsigned format) {
    static const unsigned sizes[] = {20, 28, 26, 34};
    return format < 4 ? sizes[format] : 0;
}

// The type code of a file of this content whose name is accepted.
short expected_type(const std::uint8_t *content, std::size_t size) {
    if (size < 107) return LAS_TYPE_REFUSED;
    if (std::memcmp(content, "LASF", 4) != 0) return LAS_TYPE_REFUSED;
    const unsigned major = content[24], minor = content[25], format = content[104];
    const unsigned length = content[105] | (content[106] << 8);
    if (major != 1 || minor > 2 || format > 3) return LAS_TYPE_REFUSED;
    if (minor < 2 && format >= 2) return LAS_TYPE_UNSUPPORTED;
    if (length != record_size(format)) return LAS_TYPE_REFUSED;
    return static_cast<short>((minor == 0 ? LAS_TYPE_10_FORMAT0 : minor == 1 ? LAS_TYPE_11_FORMAT0 : LAS_TYPE_12_FORMAT0) +
                              format);
}

// Takes a length byte and that many bytes (as many as there are).
std::string take_text(const std::uint8_t *&data, std::size_t &size, std::size_t maxLength) {
    if (size == 0) return {};
    std::size_t n = std::min<std::size_t>(data[0] % (maxLength + 1), size - 1);
    std::string text(reinterpret_cast<const char *>(data + 1), n);
    data += n + 1;
    size -= n + 1;
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::string name = take_text(data, size, 255);
    const std::string extension = take_text(data, size, 7);
    for (char &c : name)
        if (c == '/' || c == '\0') c = '_';
    if (name.empty() || name == "." || name == "..") name = "n" + name;
    std::string plainExtension = extension;
    if (plainExtension.find('\0') != std::string::npos) plainExtension.resize(plainExtension.find('\0'));

    FUZZ_CHECK((check_file_extension(name.c_str(), plainExtension.c_str()) == 0) ==
               has_extension(name, plainExtension));

    const std::string path = fuzzsupport::scratch_dir() + "/" + name;
    FUZZ_CHECK(fuzzsupport::write_file(path, data, size));
    FUZZ_CHECK(file_access(path.c_str()) == 0);
    const short expected = has_extension(path, "las") ? expected_type(data, size) : LAS_TYPE_REFUSED;
    FUZZ_CHECK(check_las(path.c_str()) == expected);
    ::unlink(path.c_str());
    FUZZ_CHECK(file_access(path.c_str()) == -1);
    return 0;
}

// make_fuzz_seeds: writes the starting corpus of each fuzz target, made with
// the project's own LAS generator, into FOLDER/<target>/.
//
//   make_fuzz_seeds FOLDER
//
// The same folder always gets the same files.
#include "LiDAR.h"
#include "las_bytes.h"
#include "las_fixture.h"
#include "tool_run_input.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

bool failed = false;

void make_folder(const std::string &path) {
    if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "make_fuzz_seeds: cannot make %s: %s\n", path.c_str(), std::strerror(errno));
        failed = true;
    }
}

void write(const std::string &path, const Bytes &bytes) {
    if (!lasfixture::write_file(path, bytes)) {
        std::fprintf(stderr, "make_fuzz_seeds: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
        failed = true;
    }
}

Bytes operator+(Bytes a, const std::string &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes operator+(const std::string &a, const Bytes &b) { return Bytes(a.begin(), a.end()) + std::string(b.begin(), b.end()); }

// Small valid files: every accepted version and format, with and without
// bytes between header and records, and one of each refused kind.
std::vector<Bytes> las_files() {
    std::vector<Bytes> files;
    const std::pair<int, int> kinds[] = {{0, 0}, {0, 1}, {1, 0}, {1, 1}, {2, 0}, {2, 1}, {2, 2}, {2, 3}};
    std::uint64_t seed = 1;
    for (const auto &[minor, format] : kinds) {
        lasfixture::Layout layout;
        layout.versionMinor = minor;
        layout.format = format;
        layout.gapBytes = format == 1 ? 40 : 0;
        layout.variableLengthRecords = layout.gapBytes > 0 ? 1 : 0;
        files.push_back(lasfixture::make_las(layout, lasfixture::random_points(3, seed++, layout)));
    }
    lasfixture::Layout layout;
    layout.format = 0;
    files.push_back(lasfixture::make_las(layout, {}));  // no records
    Bytes unsupported = lasfixture::make_las(layout, lasfixture::random_points(2, 9, layout));
    unsupported[offsetof(LAS12Header, VersionMinor)] = 1;
    unsupported[offsetof(LAS12Header, PointDataFormatID)] = 2;
    files.push_back(unsupported);
    return files;
}

std::string number(const std::string &name, std::size_t i) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s-%02zu", name.c_str(), i);
    return buffer;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fputs("usage: make_fuzz_seeds FOLDER\n", stderr);
        return 2;
    }
    const std::string root = argv[1];
    make_folder(root);
    const std::vector<Bytes> files = las_files();

    // The validator: [name length][name][extension length][extension][content].
    make_folder(root + "/las_checks");
    for (std::size_t i = 0; i < files.size(); ++i)
        write(root + "/las_checks/" + number("las", i), std::string("\x05x.las\x03las", 10) + files[i]);
    write(root + "/las_checks/txt", std::string("\x09x.las.txt\x03txt", 14) + files[0]);

    // The tool run: six numbers, then the file.
    make_folder(root + "/tool_run");
    const std::string up = toolrun::encode_text("0") + toolrun::encode_text("0") + toolrun::encode_text("1") +
                           toolrun::encode_text("0") + toolrun::encode_text("0") + toolrun::encode_text("0");
    const std::string turn = toolrun::encode_double(10) + toolrun::encode_double(-20) + toolrun::encode_double(0.5) +
                             toolrun::encode_double(30) + toolrun::encode_double(500500) +
                             toolrun::encode_double(4000500);
    for (std::size_t i = 0; i < files.size(); ++i) {
        write(root + "/tool_run/" + number("up", i), up + files[i]);
        write(root + "/tool_run/" + number("turn", i), turn + files[i]);
    }

    // The header refresh: the files as they are, and with a partial record at the end.
    make_folder(root + "/header_refresh");
    for (std::size_t i = 0; i < files.size(); ++i) {
        write(root + "/header_refresh/" + number("las", i), files[i]);
        write(root + "/header_refresh/" + number("partial", i), files[i] + std::string(7, '\x81'));
    }

    // The argument checks: a selector byte, then the text.
    make_folder(root + "/arg_checks");
    const std::pair<const char *, std::string> texts[] = {
        {"number", std::string("\x00-12.5", 6)}, {"not-number", std::string("\x00" "1e5", 4)},
        {"yes", "\x01Y"},                        {"not-yes", "\x01yes"},
        {"asc", "\x05grid.asc"},                 {"flt", "\x0Bgrid.flt"},
        {"flt-alone", "\x05grid.flt"},           {"short", "\x02.asc"},
    };
    for (const auto &[name, text] : texts) write(root + "/arg_checks/" + name, Bytes(text.begin(), text.end()));
    return failed ? 1 : 0;
}

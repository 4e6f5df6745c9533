// The argument checks of the shared library: what each prints on standard
// output, byte for byte, and how the process ends when a check refuses.
#include "LiDAR.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using testsupport::ProcessResult;
using testsupport::run_in_child;
using testsupport::TempDir;

constexpr int refused = 255;  // exit(-1) as the parent sees it

std::string invalid_value(const std::string &text) { return "\nInvalid argument value (" + text + ")\n"; }

TEST(CheckNumericArgument, AcceptsPlainNumbersAndRefusesTheRest) {
    const std::vector<std::string> accepted = {"12.5", "-3", "0", "", "5-", "-.", "007", ".5", "-0.25", "3."};
    const std::vector<std::string> rejected = {"1.2.3", "--5", "1e5", "+5", "1 2", ".", "-",
                                               "1,5", "-5-", "\xc3\xa9", "12\t", " 1"};
    for (const auto &text : accepted) {
        SCOPED_TRACE("'" + text + "'");
        const ProcessResult r = run_in_child([&] { check_numeric_argument(text.c_str()); });
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.output, "");
    }
    for (const auto &text : rejected) {
        SCOPED_TRACE("'" + text + "'");
        const ProcessResult r = run_in_child([&] { check_numeric_argument(text.c_str()); });
        EXPECT_EQ(r.status, refused);
        EXPECT_EQ(r.output, invalid_value(text));
    }
}

// Lengths past what a 16-bit position or counter holds: every character is
// looked at and every dot and minus sign counted.
TEST(CheckNumericArgument, LongStringsAreCheckedInFull) {
    const std::string digits(100000, '7');
    struct Case {
        std::string text;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {digits, true},
        {"-" + digits + "." + digits, true},
        {std::string(65537, '.'), false},
        {std::string(131072, '-'), false},
        {digits + "x", false},
        {"1." + std::string(70000, '0') + ".", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("length " + std::to_string(c.text.size()));
        const ProcessResult r = run_in_child([&] { check_numeric_argument(c.text.c_str()); });
        EXPECT_EQ(r.status, c.accepted ? 0 : refused);
        EXPECT_EQ(r.output, c.accepted ? "" : invalid_value(c.text));
    }
}

TEST(CheckYN, AcceptsOneLetterYesOrNoAndRefusesTheRest) {
    for (const char *text : {"Y", "N", "y", "n"}) {
        SCOPED_TRACE(text);
        short result = 1;
        EXPECT_EQ(testsupport::capture_stdout([&] { result = check_YN(text); }), "");
        EXPECT_EQ(result, 0);
    }
    for (const char *text : {"yes", "YN", "", "No", "n ", " y", "1", "Y\n"}) {
        SCOPED_TRACE(std::string("'") + text + "'");
        short result = 1;
        EXPECT_EQ(testsupport::capture_stdout([&] { result = check_YN(text); }),
                  "\nASCII Header Flag should be either Y (y) or N (n)\n");
        EXPECT_EQ(result, -1);
    }
}

const std::string bad_dem_extension =
    "\nDEM file extension should be either '.asc' (ASCII) or '.flt' (floating point binary)\n";
const std::string missing_dem_header = "\nFloating point binary DEM files also require a ASCII header file ('.hdr')\n";

std::string not_extension(const std::string &name, const std::string &extension) {
    return "\nFile extension of " + name + " is not ." + extension + "\n";
}

std::string cannot_open(const std::string &name) { return "Unable to open file " + name + " in file_access()\n"; }

struct DemCase {
    std::string what;
    std::string name;                // given to check_DEM, relative to the folder
    std::vector<std::string> files;  // made, empty, in the folder first
    int status;
    std::string output;
};

std::vector<DemCase> dem_cases() {
    const std::string longBase(200, 'd');     // a name the file system still takes
    const std::string hugeBase(100000, 'g');  // one it never would
    return {
        {"ASCII model", "grid.asc", {}, 0, not_extension("grid.asc", "flt")},
        {"binary model with its header", "grid.flt", {"grid.hdr"}, 0, not_extension("grid.flt", "asc")},
        {"binary model without its header", "grid.flt", {"grid.asc"}, refused,
         not_extension("grid.flt", "asc") + cannot_open("grid.hdr") + missing_dem_header},
        {"header named after the whole base name", "dem.v2.flt", {"dem.v2.hdr", "dem.hdr"}, 0,
         not_extension("dem.v2.flt", "asc")},
        {"five-character binary name", "x.flt", {"x.hdr"}, 0, not_extension("x.flt", "asc")},
        {"other extension", "grid.txt", {}, refused,
         not_extension("grid.txt", "asc") + not_extension("grid.txt", "flt") + bad_dem_extension},
        {"upper-case extension", "GRID.ASC", {"GRID.ASC"}, refused,
         not_extension("GRID.ASC", "asc") + not_extension("GRID.ASC", "flt") + bad_dem_extension},
        {"name too short", ".flt", {}, refused,
         "\nFile name (.flt) is too short\n\nFile name (.flt) is too short\n" + bad_dem_extension},
        {"long binary model name with its header", longBase + ".flt", {longBase + ".hdr"}, 0,
         not_extension(longBase + ".flt", "asc")},
        {"very long ASCII model name", hugeBase + ".asc", {}, 0, not_extension(hugeBase + ".asc", "flt")},
        {"very long binary model name", hugeBase + ".flt", {}, refused,
         not_extension(hugeBase + ".flt", "asc") + cannot_open(hugeBase + ".hdr") + missing_dem_header},
    };
}

TEST(CheckDEM, NamesAndHeaderFiles) {
    for (const auto &c : dem_cases()) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        for (const auto &file : c.files) testsupport::write_bytes(dir / file, {});
        const ProcessResult r = run_in_child([&] {
            if (::chdir(dir.path().c_str()) != 0) std::exit(99);
            check_DEM(c.name.c_str());
        });
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.output, c.output);
    }
}

}  // namespace

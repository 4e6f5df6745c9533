// The built Tessvane run in a temporary folder: what it prints, its exit
// status and the bytes it leaves behind.
#include "las_bytes.h"
#include "las_fixture.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

namespace {

using testsupport::ProcessResult;
using testsupport::TempDir;

const std::string &banner = testsupport::banner;
const std::string &usage = testsupport::usage;

constexpr int refused = 255;

ProcessResult tessvane(const std::vector<std::string> &args, const std::string &cwd) {
    std::vector<std::string> argv{TESSVANE_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    return testsupport::run_process(argv, cwd);
}

// Splits off the completion line, which carries the elapsed time.
std::string without_completion_line(const std::string &output) {
    static const std::regex completion("\nCompleted in [0-9]+\\.[0-9]{3} seconds\n$");
    std::smatch m;
    if (!std::regex_search(output, m, completion)) return output + "<no completion line>";
    return output.substr(0, static_cast<std::size_t>(m.position(0)));
}

lasfixture::Layout layout_of(int minor, int format, std::uint32_t gap = 0) {
    lasfixture::Layout layout;
    layout.versionMinor = minor;
    layout.format = format;
    layout.gapBytes = gap;
    layout.variableLengthRecords = gap > 0 ? 2 : 0;
    return layout;
}

double get_double(const std::vector<std::uint8_t> &file, std::size_t offset) {
    return lidar::load<double>(file.data() + offset);
}

class Tessvane : public ::testing::Test {
protected:
    TempDir dir;

    std::string make(const std::string &name, const std::vector<std::uint8_t> &bytes) {
        testsupport::write_bytes(dir / name, bytes);
        return dir / name;
    }

    std::string make_las(const std::string &name, const lasfixture::Layout &layout,
                         const std::vector<lasfixture::Point> &points) {
        return make(name, lasfixture::make_las(layout, points));
    }

    ProcessResult run(const std::vector<std::string> &args) { return tessvane(args, dir.path()); }

    void expect_refused_without_output(const ProcessResult &r, const std::string &expectedOutput,
                                       const std::vector<std::string> &entriesBefore) {
        EXPECT_EQ(r.status, refused);
        EXPECT_EQ(r.output, expectedOutput);
        EXPECT_EQ(dir.entries(), entriesBefore) << "a refused run leaves the folder as it was";
    }
};

// --- The command line ---------------------------------------------------------

TEST_F(Tessvane, WithoutArgumentsPrintsTheUsage) {
    const ProcessResult r = run({});
    EXPECT_EQ(r.status, refused);
    EXPECT_EQ(r.output, usage);
}

TEST_F(Tessvane, WithAWrongArgumentCountAlsoSaysSo) {
    for (const auto &args : std::vector<std::vector<std::string>>{
             {"in.las"}, {"in.las", "out.las", "1", "2", "3", "4", "5"},
             {"in.las", "out.las", "1", "2", "3", "4", "5", "6", "7"}}) {
        const ProcessResult r = run(args);
        EXPECT_EQ(r.status, refused);
        EXPECT_EQ(r.output, usage + "\nWrong arguments specified \n");
    }
}

TEST_F(Tessvane, NothingToDoWhateverTheCentreOpensNoFile) {
    for (const auto &zero : {"0", "-0", "0.0", "abc", ""}) {
        const ProcessResult r = run({"missing.las", "out.las", zero, "0", "0", "0", "12", "34"});
        EXPECT_EQ(r.status, refused);
        EXPECT_EQ(r.output, banner + "No rotation and no translation specified. Nothing to do!\n");
    }
    EXPECT_TRUE(dir.entries().empty());
}

struct NoticeCase {
    std::vector<std::string> numbers;
    std::string notices;
};

TEST_F(Tessvane, NoticesDescribeTheMotionAndNumbersReadLikeAtof) {
    const NoticeCase cases[] = {
        {{"1", "2", "3", "45", "10", "20"},
         "Translation along the X axis (East/West)  by 1.000000\n"
         "Translation along the Y axis (NorthSouth) by 2.000000\n"
         "Translation along the Z axis (Up/Down)    by 3.000000\n"
         "Rotation by 45.000000 degrees\n"
         "Rotation center at [10.000000, 20.000000]\n"},
        {{"0", "0", "-1.25", "0", "0", "7"},
         "Translation along the Z axis (Up/Down)    by -1.250000\n"
         "Rotation center along the Y axis (7.000000) is ignored because rotation angle is 0.0\n"},
        {{"12abc", "xyz", " 3.5e1m", "0", "-2", "-0"},
         "Translation along the X axis (East/West)  by 12.000000\n"
         "Translation along the Z axis (Up/Down)    by 35.000000\n"
         "Rotation center along the X axis (-2.000000) is ignored because rotation angle is 0.0\n"},
        {{"0", "0", "0", "nan", "0", "0"},
         "Rotation by nan degrees\nRotation center at [0.000000, 0.000000]\n"},
    };
    for (const NoticeCase &c : cases) {
        std::vector<std::string> args{"missing.las", "out.las"};
        args.insert(args.end(), c.numbers.begin(), c.numbers.end());
        const ProcessResult r = run(args);
        const std::string refusal = "Unable to open file missing.las in file_access()\n"
                                    "\nFile missing.las does NOT exist\n"
                                    "missing.las is not a valid LAS file\n";
        EXPECT_EQ(r.status, refused);
        EXPECT_EQ(r.output, banner + c.notices + refusal + usage);
    }
}

// --- Inputs the validator refuses ------------------------------------------------

TEST_F(Tessvane, ValidatorRefusalsPrintTheReasonThenTheUsage) {
    std::vector<std::uint8_t> v11format2 = lasfixture::make_las(layout_of(1, 0), {});
    v11format2[offsetof(LAS12Header, PointDataFormatID)] = 2;
    make("v11f2.las", v11format2);
    make("simple.txt", lasfixture::make_las(layout_of(2, 0), {}));
    std::vector<std::uint8_t> longRecords = lasfixture::make_las(layout_of(2, 3), {});
    lidar::store<std::uint16_t>(longRecords.data() + offsetof(LAS12Header, PointDataRecordLength), 36);
    make("long.las", longRecords);
    const std::string notice = "Translation along the X axis (East/West)  by 1.000000\n";

    const std::pair<std::string, std::string> cases[] = {
        {"v11f2.las", ""},
        {"simple.txt", "\nFile extension of simple.txt is not .las\n"},
        {"long.las", "\nData format of long.las (3) is incompatible with Length of Data Record (36)\n"},
    };
    for (const auto &[input, reason] : cases) {
        const auto before = dir.entries();
        const ProcessResult r = run({input, "out.las", "1", "0", "0", "0", "0", "0"});
        expect_refused_without_output(r, banner + notice + reason + input + " is not a valid LAS file\n" + usage,
                                      before);
    }
}

// --- Moving records -------------------------------------------------------------

TEST_F(Tessvane, QuarterTurnWritesTheExpectedBytes) {
    // (1, 0) goes to (0, -1) and (0, 1) to (1, 0); the header's X/Y box follows.
    lasfixture::Layout layout = layout_of(2, 1);
    for (double &s : layout.scale) s = 0.001;
    const std::string in = make_las("in.las", layout, {{1000, 0, 7}, {0, 1000, 8}});
    const std::vector<std::uint8_t> input = testsupport::read_bytes(in);

    const ProcessResult r = run({"in.las", "out.las", "0", "0", "0", "90", "0", "0"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(without_completion_line(r.output),
              banner + "Rotation by 90.000000 degrees\nRotation center at [0.000000, 0.000000]\n");

    std::vector<std::uint8_t> expected = input;
    const std::size_t first = 227, second = 227 + 28;
    lidar::store<std::int32_t>(expected.data() + first + 0, 0);
    lidar::store<std::int32_t>(expected.data() + first + 4, -1000);
    lidar::store<std::int32_t>(expected.data() + second + 0, 1000);
    lidar::store<std::int32_t>(expected.data() + second + 4, 0);
    lidar::store(expected.data() + offsetof(LAS12Header, MinX), 0.0);
    lidar::store(expected.data() + offsetof(LAS12Header, MaxX), 1.0);
    lidar::store(expected.data() + offsetof(LAS12Header, MinY), -1.0);
    lidar::store(expected.data() + offsetof(LAS12Header, MaxY), 0.0);
    EXPECT_EQ(testsupport::read_bytes(dir / "out.las"), expected);
}

TEST_F(Tessvane, KeepsTheBytesBetweenHeaderAndRecords) {
    const std::vector<std::uint8_t> input =
        lasfixture::make_las(layout_of(0, 0, 321), lasfixture::random_points(50, 3, layout_of(0, 0)));
    make("in.las", input);
    const ProcessResult r = run({"in.las", "out.las", "0", "0", "2", "0", "0", "0"});
    ASSERT_EQ(r.status, 0) << r.output;
    const std::vector<std::uint8_t> output = testsupport::read_bytes(dir / "out.las");
    ASSERT_EQ(output.size(), input.size());
    EXPECT_TRUE(std::equal(input.begin() + 227, input.begin() + 227 + 321, output.begin() + 227));
    EXPECT_TRUE(std::equal(input.begin(), input.begin() + offsetof(LAS12Header, MaxZ), output.begin()))
        << "only the Z bounds change for a Z translation";
}

TEST_F(Tessvane, PassesEveryAttributeByteThroughUnchanged) {
    for (int format = 0; format <= 3; ++format) {
        std::vector<std::uint8_t> input = lasfixture::make_las(layout_of(2, format), {{1, 2, 3}, {4, 5, 6}});
        const std::size_t length = lasfixture::record_length(format);
        for (std::size_t r = 0; r < 2; ++r)
            std::memset(input.data() + 227 + r * length + 12, 0xFF, length - 12);
        make("in.las", input);
        const ProcessResult r = run({"in.las", "out.las", "1", "2", "3", "17", "4", "5"});
        ASSERT_EQ(r.status, 0) << r.output;
        const std::vector<std::uint8_t> output = testsupport::read_bytes(dir / "out.las");
        ASSERT_EQ(output.size(), input.size());
        for (std::size_t r = 0; r < 2; ++r)
            for (std::size_t b = 12; b < length; ++b)
                EXPECT_EQ(output[227 + r * length + b], 0xFF) << "format " << format << " record " << r << " byte " << b;
    }
}

TEST_F(Tessvane, TranslationByWholeUnitsIsExactAndUntouchedAxesKeepTheirIntegers) {
    const lasfixture::Layout layout = layout_of(2, 0);
    const std::vector<lasfixture::Point> points = lasfixture::random_points(500, 9, layout);
    make_las("in.las", layout, points);
    const ProcessResult r = run({"in.las", "out.las", "0.07", "0", "-0.29", "0", "0", "0"});
    ASSERT_EQ(r.status, 0) << r.output;
    const std::vector<std::uint8_t> output = testsupport::read_bytes(dir / "out.las");
    for (std::size_t i = 0; i < points.size(); ++i) {
        const std::uint8_t *record = output.data() + 227 + i * 20;
        EXPECT_EQ(lidar::load<std::int32_t>(record), points[i].X + 7) << i;
        EXPECT_EQ(lidar::load<std::int32_t>(record + 4), points[i].Y) << i;
        EXPECT_EQ(lidar::load<std::int32_t>(record + 8), points[i].Z - 29) << i;
    }
}

TEST_F(Tessvane, BoundsFollowTheStoredValuesAfterARotation) {
    const lasfixture::Layout layout = layout_of(2, 3);
    make_las("in.las", layout, lasfixture::random_points(300, 4, layout));
    const ProcessResult r = run({"in.las", "out.las", "10", "20", "1", "30", "500500", "4000500"});
    ASSERT_EQ(r.status, 0) << r.output;
    const std::vector<std::uint8_t> output = testsupport::read_bytes(dir / "out.las");
    double minX = INFINITY, maxX = -INFINITY, minY = INFINITY, maxY = -INFINITY;
    for (std::size_t i = 0; i < 300; ++i) {
        const std::uint8_t *record = output.data() + 227 + i * 34;
        const double x = 0.01 * lidar::load<std::int32_t>(record) + 0.0;
        const double y = 0.01 * lidar::load<std::int32_t>(record + 4) + 0.0;
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
        minY = std::min(minY, y);
        maxY = std::max(maxY, y);
    }
    EXPECT_EQ(get_double(output, offsetof(LAS12Header, MinX)), minX);
    EXPECT_EQ(get_double(output, offsetof(LAS12Header, MaxX)), maxX);
    EXPECT_EQ(get_double(output, offsetof(LAS12Header, MinY)), minY);
    EXPECT_EQ(get_double(output, offsetof(LAS12Header, MaxY)), maxY);
}

TEST_F(Tessvane, WithoutRecordsTheRotatedBoxKeepsTheInputsXY) {
    std::vector<std::uint8_t> input = lasfixture::make_las(layout_of(2, 3, 40), {});
    lidar::store(input.data() + offsetof(LAS12Header, MinX), 1.0);
    lidar::store(input.data() + offsetof(LAS12Header, MaxX), 2.0);
    lidar::store(input.data() + offsetof(LAS12Header, MinZ), 5.0);
    lidar::store(input.data() + offsetof(LAS12Header, MaxZ), 6.0);
    make("in.las", input);
    const ProcessResult r = run({"in.las", "out.las", "0", "0", "1", "30", "0", "0"});
    ASSERT_EQ(r.status, 0) << r.output;
    std::vector<std::uint8_t> expected = input;
    lidar::store(expected.data() + offsetof(LAS12Header, MinZ), 6.0);
    lidar::store(expected.data() + offsetof(LAS12Header, MaxZ), 7.0);
    EXPECT_EQ(testsupport::read_bytes(dir / "out.las"), expected);
}

// --- Refusals that leave everything as it was ------------------------------------

TEST_F(Tessvane, RefusesTheSameFileUnderAnyName) {
    const std::string in = make_las("in.las", layout_of(2, 0), {{1, 2, 3}});
    const std::vector<std::uint8_t> input = testsupport::read_bytes(in);
    ASSERT_EQ(::link(in.c_str(), (dir / "hard.las").c_str()), 0);
    ASSERT_EQ(::symlink("in.las", (dir / "soft.las").c_str()), 0);
    ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0755), 0);
    const std::string moving = "Translation along the X axis (East/West)  by 1.000000\n";
    for (const auto &output : {"in.las", "./in.las", "sub/../in.las", "hard.las", "soft.las"}) {
        const auto before = dir.entries();
        const ProcessResult r = run({"in.las", output, "1", "0", "0", "0", "0", "0"});
        expect_refused_without_output(
            r, banner + moving + "\nSame file name (" + output + ") has been specified twice\n", before);
        EXPECT_EQ(testsupport::read_bytes(in), input) << output;
    }
}

TEST_F(Tessvane, RefusesATruncatedInputAndLeavesAnExistingOutputAlone) {
    std::vector<std::uint8_t> input = lasfixture::make_las(layout_of(2, 1), {{1, 2, 3}, {4, 5, 6}});
    input.resize(input.size() - 1);
    make("in.las", input);
    make("out.las", {'o', 'l', 'd'});
    const auto before = dir.entries();
    const ProcessResult r = run({"in.las", "out.las", "1", "0", "0", "0", "0", "0"});
    expect_refused_without_output(r,
                                  banner + "Translation along the X axis (East/West)  by 1.000000\n"
                                           "\nin.las is truncated: 2 point records of 28 bytes from offset 227 "
                                           "need 283 bytes, but the file holds 282 (1 bytes missing)\n\n",
                                  before);
    EXPECT_EQ(testsupport::read_bytes(dir / "out.las"), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
}

TEST_F(Tessvane, RefusesHeadersThatCannotBeRight) {
    const std::vector<std::uint8_t> valid = lasfixture::make_las(layout_of(2, 0, 10), {{1, 2, 3}});
    std::vector<std::uint8_t> shortFile(valid.begin(), valid.begin() + 200);
    std::vector<std::uint8_t> smallHeader = valid;
    lidar::store<std::uint16_t>(smallHeader.data() + offsetof(LAS12Header, HeaderSize), 226);
    std::vector<std::uint8_t> recordsInHeader = valid;
    lidar::store<std::uint16_t>(recordsInHeader.data() + offsetof(LAS12Header, HeaderSize), 235);
    lidar::store<std::uint32_t>(recordsInHeader.data() + offsetof(LAS12Header, OffsetToData), 230);
    std::vector<std::uint8_t> offsetPastEnd = valid;
    lidar::store<std::uint32_t>(offsetPastEnd.data() + offsetof(LAS12Header, OffsetToData), 100000);

    const std::pair<std::vector<std::uint8_t>, std::string> cases[] = {
        {shortFile, "\nin.las is too short for a LAS header: 200 bytes where 227 are needed\n\n"},
        {smallHeader, "\nHeader of in.las declares a header size of 226 bytes, less than 227\n\n"},
        {recordsInHeader, "\nHeader of in.las puts the point records at offset 230, inside its 235-byte header\n\n"},
        {offsetPastEnd, "\nin.las is truncated: 1 point records of 20 bytes from offset 100000 need 100020 bytes, "
                        "but the file holds 257 (99763 bytes missing)\n\n"},
    };
    for (const auto &[bytes, message] : cases) {
        make("in.las", bytes);
        const auto before = dir.entries();
        const ProcessResult r = run({"in.las", "out.las", "0", "0", "0", "5", "0", "0"});
        expect_refused_without_output(
            r, banner + "Rotation by 5.000000 degrees\nRotation center at [0.000000, 0.000000]\n" + message, before);
    }
}

TEST_F(Tessvane, RefusesACoordinateThatCannotBeStored) {
    make_las("in.las", layout_of(2, 0), {{0, 0, 0}, {0, 0, 2000000000}});
    make("out.las", {'o', 'l', 'd'});
    const auto before = dir.entries();
    const ProcessResult r = run({"in.las", "out.las", "0", "0", "2000000", "0", "0", "0"});
    expect_refused_without_output(
        r,
        banner + "Translation along the Z axis (Up/Down)    by 2000000.000000\n"
                 "\nThe moved Z coordinate of record 1 of in.las cannot be stored as a 32-bit integer\n\n",
        before);
    EXPECT_EQ(testsupport::read_bytes(dir / "out.las"), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
}

// --- The output appears whole or not at all --------------------------------------

TEST_F(Tessvane, AFailedWriteLeavesNoNewFileAndTheOldOutputAsItWas) {
    const lasfixture::Layout layout = layout_of(2, 3);
    make_las("in.las", layout, lasfixture::random_points(2000, 5, layout));
    make("out.las", {'o', 'l', 'd'});
    const auto before = dir.entries();
    // 16 blocks of 512 bytes: the moved file (68 kB) does not fit.
    const ProcessResult r = testsupport::run_shell(
        std::string("ulimit -f 16; exec '") + TESSVANE_EXE + "' in.las out.las 1 0 0 0 0 0", dir.path());
    EXPECT_EQ(r.status, refused);
    EXPECT_EQ(r.output, banner + "Translation along the X axis (East/West)  by 1.000000\n"
                                 "\nCannot write binary file out.las: File too large\n\n");
    EXPECT_EQ(dir.entries(), before);
    EXPECT_EQ(testsupport::read_bytes(dir / "out.las"), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
}

TEST_F(Tessvane, AnUnwritableFolderIsReportedAsSuch) {
    make_las("in.las", layout_of(2, 0), {{1, 2, 3}});
    const ProcessResult r = run({"in.las", "no/such/folder/out.las", "1", "0", "0", "0", "0", "0"});
    EXPECT_EQ(r.status, refused);
    EXPECT_EQ(r.output, banner + "Translation along the X axis (East/West)  by 1.000000\n"
                                 "\nCannot open binary file no/such/folder/out.las for writing\n\n");
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.las"});
}

TEST_F(Tessvane, TheOutputGetsANewFilesPermissions) {
    make_las("in.las", layout_of(2, 0), {{1, 2, 3}});
    for (const auto &[mask, mode] : {std::pair{"022", 0644}, std::pair{"077", 0600}, std::pair{"002", 0664}}) {
        const ProcessResult r = testsupport::run_shell(
            std::string("umask ") + mask + "; exec '" + TESSVANE_EXE + "' in.las out.las 1 0 0 0 0 0", dir.path());
        ASSERT_EQ(r.status, 0) << r.output;
        struct stat st {};
        ASSERT_EQ(::stat((dir / "out.las").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, static_cast<mode_t>(mode)) << "umask " << mask;
    }
}

TEST_F(Tessvane, AnOutputSymlinkStaysAndItsTargetIsReplaced) {
    make_las("in.las", layout_of(2, 0), {{1, 2, 3}});
    make("target.las", {'o', 'l', 'd'});
    ASSERT_EQ(::symlink("target.las", (dir / "link.las").c_str()), 0);
    const ProcessResult r = run({"in.las", "link.las", "1", "0", "0", "0", "0", "0"});
    ASSERT_EQ(r.status, 0) << r.output;
    struct stat st {};
    ASSERT_EQ(::lstat((dir / "link.las").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(testsupport::read_bytes(dir / "target.las").size(), 247u);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.las", "link.las", "target.las"}));
}

}  // namespace

namespace {

// An input of `records` zero records (valid ones: every point at the
// offset) that takes no disk space: the file is sparse.
void make_sparse_las(const std::string &path, std::uint32_t records) {
    lasfixture::Layout layout;
    layout.format = 0;
    std::vector<std::uint8_t> header = lasfixture::make_header(layout, records, {});
    testsupport::write_bytes(path, header);
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(227 + std::uint64_t{records} * 20)), 0);
}

bool has_temporary_output(const TempDir &dir) {
    for (const std::string &name : dir.entries())
        if (name.rfind(".out.las.", 0) == 0) return true;
    return false;
}

TEST_F(Tessvane, ASignalDuringTheRunRemovesTheTemporaryFileAndKeepsTheOldOutput) {
    make_sparse_las(dir / "in.las", 100000000);  // 2 GB: seconds of work
    for (const int signal : {SIGINT, SIGTERM}) {
        make("out.las", {'o', 'l', 'd'});
        const int pid = testsupport::start_process(
            {TESSVANE_EXE, "in.las", "out.las", "1", "0", "0", "0", "0", "0"}, dir.path());
        bool started = false;
        for (int wait = 0; wait < 5000 && !started; ++wait) {
            started = has_temporary_output(dir);
            if (!started) ::usleep(1000);
        }
        ASSERT_TRUE(started) << "no temporary output appeared";
        ::kill(pid, signal);
        EXPECT_EQ(testsupport::wait_process(pid), 1000 + signal) << "ended by the signal, not before it";
        EXPECT_FALSE(has_temporary_output(dir)) << "signal " << signal;
        EXPECT_EQ(testsupport::read_bytes(dir / "out.las"), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    }
}

}  // namespace

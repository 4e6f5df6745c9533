// The built Tessvane under faults and hostile input: outputs that cannot be
// made, runs killed or raced by other runs, inputs cut short under it, and
// headers whose fields lie. Whatever happens, the output name holds either
// its old content or one whole, correct result, and a refusal says why.
#include "las_bytes.h"
#include "las_fixture.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using testsupport::ProcessResult;
using testsupport::TempDir;

const std::string &banner = testsupport::banner;
const std::string &usage = testsupport::usage;

const std::string up_one = "Translation along the Z axis (Up/Down)    by 1.000000\n";

constexpr int refused = 255;
constexpr int killed_by(int signal) { return 1000 + signal; }

std::vector<std::string> command(const std::vector<std::string> &args) {
    std::vector<std::string> argv{TESSVANE_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

// Splits off the completion line, which carries the elapsed time:
// "\nCompleted in S.SSS seconds\n" at the very end.
std::string without_completion_line(const std::string &output) {
    const std::string start = "\nCompleted in ", end = " seconds\n";
    const std::size_t at = output.rfind(start);
    const bool found = at != std::string::npos && output.size() >= at + start.size() + end.size() &&
                       output.compare(output.size() - end.size(), end.size(), end) == 0;
    if (!found) return output + "<no completion line>";
    const std::string seconds = output.substr(at + start.size(), output.size() - end.size() - at - start.size());
    const std::size_t dot = seconds.find('.');
    const bool number = dot != std::string::npos && dot > 0 && seconds.size() == dot + 4 &&
                        seconds.find_first_not_of("0123456789.") == std::string::npos &&
                        seconds.find('.', dot + 1) == std::string::npos;
    return number ? output.substr(0, at) : output + "<no completion line>";
}

// Starts Tessvane in `cwd` with its standard output going to the file `log`;
// testsupport::wait_process() reaps it.
int start_logged(const std::vector<std::string> &args, const std::string &cwd, const std::string &log) {
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ::dup2(fd, STDOUT_FILENO) < 0 || ::chdir(cwd.c_str()) != 0) ::_exit(126);
        const std::vector<std::string> argv = command(args);
        std::vector<char *> raw;
        for (const std::string &a : argv) raw.push_back(const_cast<char *>(a.c_str()));
        raw.push_back(nullptr);
        ::execv(raw[0], raw.data());
        ::_exit(127);
    }
    return pid;
}

std::vector<std::string> entries_of(const std::string &folder) {
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

std::string text_of(const std::string &path) {
    const Bytes bytes = testsupport::read_bytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// Byte-for-byte comparison of two files of any size.
bool same_content(const std::string &a, const std::string &b) {
    std::FILE *fa = std::fopen(a.c_str(), "rb");
    std::FILE *fb = std::fopen(b.c_str(), "rb");
    bool same = fa != nullptr && fb != nullptr;
    std::vector<char> ba(1 << 20), bb(1 << 20);
    while (same) {
        const std::size_t na = std::fread(ba.data(), 1, ba.size(), fa);
        const std::size_t nb = std::fread(bb.data(), 1, bb.size(), fb);
        same = na == nb && std::memcmp(ba.data(), bb.data(), na) == 0;
        if (na < ba.size()) break;
    }
    if (fa != nullptr) std::fclose(fa);
    if (fb != nullptr) std::fclose(fb);
    return same;
}

// An input of `records` zero records of format 0 (each point at the offset)
// that takes no disk space: the file is sparse.
void make_sparse_las(const std::string &path, std::uint32_t records) {
    lasfixture::Layout layout;
    layout.format = 0;
    testsupport::write_bytes(path, lasfixture::make_header(layout, records, {}));
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(227 + std::uint64_t{records} * 20)), 0);
}

// Names of the temporary files a run writing `output` makes beside it.
std::vector<std::string> temporaries_of(const TempDir &dir, const std::string &output) {
    std::vector<std::string> found;
    const std::string prefix = "." + output + ".";
    for (const std::string &name : dir.entries())
        if (name.rfind(prefix, 0) == 0) found.push_back(name);
    return found;
}

// Polls until the run writing `output` in `dir` has made its temporary file;
// false when none appears within about ten seconds.
bool wait_for_temporary(const TempDir &dir, const std::string &output) {
    for (int attempt = 0; attempt < 10000; ++attempt) {
        if (!temporaries_of(dir, output).empty()) return true;
        ::usleep(1000);
    }
    return false;
}

// Equal files, or the size and first differing offset.
void expect_same_bytes(const Bytes &actual, const Bytes &expected) {
    ASSERT_EQ(actual.size(), expected.size());
    const auto diff = std::mismatch(actual.begin(), actual.end(), expected.begin());
    if (diff.first == actual.end()) return;
    const auto at = static_cast<std::size_t>(diff.first - actual.begin());
    ADD_FAILURE() << "first difference at byte " << at << ": " << int{*diff.first} << " where "
                  << int{*diff.second} << " was expected";
}

void expect_double_at(const Bytes &file, std::size_t offset, double expected, const char *what) {
    const double actual = lidar::load<double>(file.data() + offset);
    EXPECT_TRUE(actual == expected || (std::isnan(actual) && std::isnan(expected)))
        << what << ": " << actual << " where " << expected << " was expected";
}

// The bytes a run translating Z by `metres` gives for a file of `records`
// records of `length` bytes from `offsetToData` with a Z scale of `zScale`
// and stored Z values that move by exactly metres / zScale.
Bytes with_z_moved(Bytes file, std::uint32_t records, std::size_t length, std::size_t offsetToData, double metres,
                   double zScale) {
    const auto units = static_cast<std::int32_t>(std::lround(metres / zScale));
    for (std::uint32_t i = 0; i < records; ++i) {
        std::uint8_t *z = file.data() + offsetToData + i * length + 8;
        lidar::store<std::int32_t>(z, lidar::load<std::int32_t>(z) + units);
    }
    LAS_SET(file.data(), LAS12Header, MinZ, LAS_GET(file.data(), LAS12Header, MinZ) + metres);
    LAS_SET(file.data(), LAS12Header, MaxZ, LAS_GET(file.data(), LAS12Header, MaxZ) + metres);
    return file;
}

class Faults : public ::testing::Test {
protected:
    TempDir dir;

    std::string make(const std::string &name, const Bytes &bytes) {
        testsupport::write_bytes(dir / name, bytes);
        return dir / name;
    }

    ProcessResult run(const std::vector<std::string> &args) {
        return testsupport::run_process(command(args), dir.path());
    }

    void expect_refused_without_output(const ProcessResult &r, const std::string &expectedOutput,
                                       const std::vector<std::string> &entriesBefore) {
        EXPECT_EQ(r.status, refused);
        EXPECT_EQ(r.output, expectedOutput);
        EXPECT_EQ(dir.entries(), entriesBefore) << "a refused run leaves the folder as it was";
    }
};

// A small valid file: version 1.2, format 0, three records, 40 bytes between
// header and records (327 bytes in all).
lasfixture::Layout small_layout() {
    lasfixture::Layout layout;
    layout.format = 0;
    layout.gapBytes = 40;
    layout.variableLengthRecords = 1;
    return layout;
}

const std::vector<lasfixture::Point> small_points = {{1000, 2000, 300}, {-1500, 2500, -700}, {0, -3000, 12345}};

Bytes small_file() { return lasfixture::make_las(small_layout(), small_points); }

// --- Outputs that cannot be written ----------------------------------------------

TEST_F(Faults, AnOutputThatCannotBeCreatedOrPutInPlaceIsReportedAndLeavesNothingBehind) {
    make("in.las", small_file());
    make("plain.txt", {'t', 'x', 't'});
    ASSERT_EQ(::mkdir((dir / "folder.las").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((dir / "full.las").c_str(), 0755), 0);
    make("full.las/inside", {'x'});
    const std::string longName(300, 'n');
    struct Case {
        std::string output;
        std::string message;
    };
    const Case cases[] = {
        {"plain.txt/out.las", "\nCannot open binary file plain.txt/out.las for writing\n\n"},
        {longName + ".las", "\nCannot open binary file " + longName + ".las for writing\n\n"},
        {"folder.las", "\nCannot write binary file folder.las: Is a directory\n\n"},
        {"full.las", "\nCannot write binary file full.las: Is a directory\n\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.output.substr(0, 40));
        const auto before = dir.entries();
        const ProcessResult r = run({"in.las", c.output, "0", "0", "1", "0", "0", "0"});
        expect_refused_without_output(r, banner + up_one + c.message, before);
    }
    EXPECT_EQ(text_of(dir / "plain.txt"), "txt");
    EXPECT_EQ(text_of(dir / "full.las/inside"), "x");
}

TEST_F(Faults, AReadOnlyFolderStopsTheRunAndKeepsTheOldOutput) {
    make("in.las", small_file());
    ASSERT_EQ(::mkdir((dir / "ro").c_str(), 0755), 0);
    make("ro/out.las", {'o', 'l', 'd'});
    ASSERT_EQ(::chmod((dir / "ro").c_str(), 0555), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    // Root writes into any folder: the run gives up root first, to user nobody.
    constexpr int cannot_drop_root = 77;
    const std::vector<std::string> argv = command({"in.las", "ro/out.las", "0", "0", "1", "0", "0", "0"});
    const ProcessResult r = testsupport::run_in_child([&] {
        if (::chdir(dir.path().c_str()) != 0) ::_exit(126);
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(cannot_drop_root);
        if (::access(argv[0].c_str(), X_OK) != 0) ::_exit(cannot_drop_root);
        std::vector<char *> raw;
        for (const std::string &a : argv) raw.push_back(const_cast<char *>(a.c_str()));
        raw.push_back(nullptr);
        ::execv(raw[0], raw.data());
        ::_exit(127);
    });
    if (r.status == cannot_drop_root)
        GTEST_SKIP() << "running as root, which writes into read-only folders, and user nobody cannot run "
                     << TESSVANE_EXE;
    EXPECT_EQ(r.status, refused);
    EXPECT_EQ(r.output, banner + up_one + "\nCannot open binary file ro/out.las for writing\n\n");
    EXPECT_EQ(text_of(dir / "ro/out.las"), "old");
    EXPECT_EQ(entries_of(dir / "ro"), std::vector<std::string>{"out.las"});
}

// --- Runs that end or fail part-way ---------------------------------------------

TEST_F(Faults, SigkillLeavesTheOldOutputUnderItsNameAndALaterRunStillSucceeds) {
    make_sparse_las(dir / "in.las", 100000000);  // 2 GB: seconds of work
    make("out.las", {'o', 'l', 'd'});
    TempDir logs;
    const int pid = start_logged({"in.las", "out.las", "0", "0", "1", "0", "0", "0"}, dir.path(), logs / "run.txt");
    const bool started = wait_for_temporary(dir, "out.las");
    ::kill(pid, SIGKILL);
    EXPECT_EQ(testsupport::wait_process(pid), killed_by(SIGKILL));
    ASSERT_TRUE(started) << "no temporary output appeared";

    EXPECT_EQ(text_of(dir / "out.las"), "old");
    // Nothing can remove the temporary file of a killed run; it never takes the output's name.
    const std::vector<std::string> leftovers = temporaries_of(dir, "out.las");
    EXPECT_LE(leftovers.size(), 1u);
    std::vector<std::string> expected{"in.las", "out.las"};
    expected.insert(expected.begin(), leftovers.begin(), leftovers.end());
    EXPECT_EQ(dir.entries(), expected);

    const Bytes small = small_file();
    make("small.las", small);
    const ProcessResult again = run({"small.las", "out.las", "0", "0", "1", "0", "0", "0"});
    ASSERT_EQ(again.status, 0) << again.output;
    expect_same_bytes(testsupport::read_bytes(dir / "out.las"), with_z_moved(small, 3, 20, 267, 1.0, 0.01));
    EXPECT_EQ(temporaries_of(dir, "out.las"), leftovers) << "a run leaves other runs' files alone";
}

TEST_F(Faults, AnInputCutShortDuringTheRunIsRefusedAndNoOutputAppears) {
    make_sparse_las(dir / "in.las", 100000000);
    make("out.las", {'o', 'l', 'd'});
    TempDir logs;
    const int pid = start_logged({"in.las", "out.las", "0", "0", "1", "0", "0", "0"}, dir.path(), logs / "run.txt");
    const bool started = wait_for_temporary(dir, "out.las");
    // Another program shortens the input to its first thousand records.
    const int cut = ::truncate((dir / "in.las").c_str(), 227 + 1000 * 20);
    const int status = testsupport::wait_process(pid);
    ASSERT_TRUE(started) << "no temporary output appeared";
    ASSERT_EQ(cut, 0) << std::strerror(errno);
    EXPECT_EQ(status, refused);
    EXPECT_EQ(text_of(logs / "run.txt"),
              banner + up_one + "\nCannot read binary file in.las: the file ended early\n\n");
    EXPECT_EQ(text_of(dir / "out.las"), "old");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.las", "out.las"}));
}

// --- Runs side by side ------------------------------------------------------------

TEST_F(Faults, TwoRunsWritingTheSameOutputLeaveOneWholeResultNeverAMix) {
    make_sparse_las(dir / "in.las", 2000000);  // 40 MB of output per run
    const std::vector<std::string> up1 = {"in.las", "", "0", "0", "1", "0", "0", "0"};
    const std::vector<std::string> up2 = {"in.las", "", "0", "0", "2", "0", "0", "0"};
    auto to = [](std::vector<std::string> args, const std::string &output) {
        args[1] = output;
        return args;
    };
    ASSERT_EQ(run(to(up1, "alone1.las")).status, 0);
    ASSERT_EQ(run(to(up2, "alone2.las")).status, 0);
    ASSERT_FALSE(same_content(dir / "alone1.las", dir / "alone2.las"));

    TempDir logs;
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round);
        const int first = start_logged(to(up1, "out.las"), dir.path(), logs / "first.txt");
        const int second = start_logged(to(up2, "out.las"), dir.path(), logs / "second.txt");
        EXPECT_EQ(testsupport::wait_process(first), 0) << text_of(logs / "first.txt");
        EXPECT_EQ(testsupport::wait_process(second), 0) << text_of(logs / "second.txt");
        EXPECT_TRUE(same_content(dir / "out.las", dir / "alone1.las") ||
                    same_content(dir / "out.las", dir / "alone2.las"))
            << "the output is neither run's result";
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"alone1.las", "alone2.las", "in.las", "out.las"}));
        ASSERT_EQ(::unlink((dir / "out.las").c_str()), 0);
    }
}

TEST_F(Faults, TwoRunsReadingTheSameInputEachWriteTheirOwnCorrectResult) {
    lasfixture::Layout layout;
    layout.format = 3;
    layout.gapBytes = 100;
    ASSERT_TRUE(lasfixture::write_random_las(dir / "in.las", layout, 300000, 21));  // 10 MB
    const Bytes input = testsupport::read_bytes(dir / "in.las");
    const std::vector<std::string> turn = {"in.las", "", "10", "20", "1", "30", "500500", "4000500"};
    const std::vector<std::string> shift = {"in.las", "", "-5", "0", "0", "0", "0", "0"};
    auto to = [](std::vector<std::string> args, const std::string &output) {
        args[1] = output;
        return args;
    };
    ASSERT_EQ(run(to(turn, "turned-alone.las")).status, 0);
    ASSERT_EQ(run(to(shift, "shifted-alone.las")).status, 0);

    TempDir logs;
    const int first = start_logged(to(turn, "turned.las"), dir.path(), logs / "first.txt");
    const int second = start_logged(to(shift, "shifted.las"), dir.path(), logs / "second.txt");
    EXPECT_EQ(testsupport::wait_process(first), 0) << text_of(logs / "first.txt");
    EXPECT_EQ(testsupport::wait_process(second), 0) << text_of(logs / "second.txt");
    EXPECT_TRUE(same_content(dir / "turned.las", dir / "turned-alone.las"));
    EXPECT_TRUE(same_content(dir / "shifted.las", dir / "shifted-alone.las"));
    EXPECT_EQ(testsupport::read_bytes(dir / "in.las"), input);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.las", "shifted-alone.las", "shifted.las",
                                                       "turned-alone.las", "turned.las"}));
}

// --- Inputs that are not what their name says ----------------------------------------

TEST_F(Faults, AnInputThatIsNotAFileIsRefusedByTheValidator) {
    ASSERT_EQ(::mkdir((dir / "folder.las").c_str(), 0755), 0);
    ASSERT_EQ(::symlink("/dev/zero", (dir / "zeros.las").c_str()), 0);
    for (const std::string input : {"folder.las", "zeros.las"}) {
        SCOPED_TRACE(input);
        const auto before = dir.entries();
        const ProcessResult r = run({input, "out.las", "0", "0", "1", "0", "0", "0"});
        expect_refused_without_output(
            r, banner + up_one + "\n" + input + " is not a valid .las file\n\n" + input + " is not a valid LAS file\n" + usage,
            before);
    }
}

// --- Hostile headers ------------------------------------------------------------------

// Every prefix of a valid file, from nothing to the whole: refused for what it
// lacks, with no output, until it is whole; then moved.
TEST_F(Faults, EveryPrefixOfAValidFileIsRefusedForWhatItLacksUntilItIsWhole) {
    const Bytes whole = small_file();
    ASSERT_EQ(whole.size(), 327u);
    const std::string head = banner + up_one;
    for (std::size_t n = 0; n <= whole.size(); ++n) {
        SCOPED_TRACE(testing::Message() << n << " bytes");
        make("in.las", Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n)));
        const ProcessResult r = run({"in.las", "out.las", "0", "0", "1", "0", "0", "0"});
        const std::string size = std::to_string(n);
        if (n < 107) {
            expect_refused_without_output(
                r, head + "\nin.las is not a valid .las file\n\nin.las is not a valid LAS file\n" + usage, {"in.las"});
        } else if (n < 227) {
            expect_refused_without_output(
                r, head + "\nin.las is too short for a LAS header: " + size + " bytes where 227 are needed\n\n",
                {"in.las"});
        } else if (n < whole.size()) {
            expect_refused_without_output(r,
                                          head + "\nin.las is truncated: 3 point records of 20 bytes from offset 267 "
                                                 "need 327 bytes, but the file holds " +
                                              size + " (" + std::to_string(327 - n) + " bytes missing)\n\n",
                                          {"in.las"});
        } else {
            EXPECT_EQ(r.status, 0) << r.output;
            EXPECT_EQ(without_completion_line(r.output), head);
            expect_same_bytes(testsupport::read_bytes(dir / "out.las"), with_z_moved(whole, 3, 20, 267, 1.0, 0.01));
        }
    }
}

// Counts and offsets are checked against the file's size before anything is
// read or allocated for the records.
TEST_F(Faults, CountsAndOffsetsThatTheFileCannotHoldAreRefusedAtOnce) {
    struct Case {
        const char *what;
        std::function<void(Bytes &)> change;
        std::string message;
    };
    const std::string truncated = "\nin.las is truncated: ";
    const Case cases[] = {
        {"the largest record count", [](Bytes &f) { LAS_SET(f.data(), LAS12Header, NumberOfPointReturns, 0xFFFFFFFFu); },
         truncated + "4294967295 point records of 20 bytes from offset 267 need " +
             std::to_string(267 + 0xFFFFFFFFull * 20) + " bytes, but the file holds 327 (" +
             std::to_string(267 + 0xFFFFFFFFull * 20 - 327) + " bytes missing)\n\n"},
        {"the largest OffsetToData", [](Bytes &f) { LAS_SET(f.data(), LAS12Header, OffsetToData, 0xFFFFFFFFu); },
         truncated + "3 point records of 20 bytes from offset 4294967295 need 4294967355 bytes, but the file "
                     "holds 327 (4294967028 bytes missing)\n\n"},
        {"OffsetToData one past the end without records",
         [](Bytes &f) {
             LAS_SET(f.data(), LAS12Header, NumberOfPointReturns, 0u);
             LAS_SET(f.data(), LAS12Header, OffsetToData, 328u);
         },
         truncated + "0 point records of 20 bytes from offset 328 need 328 bytes, but the file holds 327 "
                     "(1 bytes missing)\n\n"},
        {"the largest HeaderSize", [](Bytes &f) { LAS_SET(f.data(), LAS12Header, HeaderSize, std::uint16_t{0xFFFF}); },
         "\nHeader of in.las puts the point records at offset 267, inside its 65535-byte header\n\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes file = small_file();
        c.change(file);
        make("in.las", file);
        make("out.las", {'o', 'l', 'd'});
        const ProcessResult r = run({"in.las", "out.las", "0", "0", "1", "0", "0", "0"});
        expect_refused_without_output(r, banner + up_one + c.message, {"in.las", "out.las"});
        EXPECT_EQ(text_of(dir / "out.las"), "old");
    }
}

// Bytes the tool does not need are copied, never interpreted.
TEST_F(Faults, FieldsTheMoveDoesNotNeedAreCopiedWhateverTheyHold) {
    struct Case {
        const char *what;
        std::function<void(Bytes &)> change;
    };
    const Case cases[] = {
        {"a count of variable-length records of 4294967295",
         [](Bytes &f) { LAS_SET(f.data(), LAS12Header, NumberOfVariableLengthRecords, 0xFFFFFFFFu); }},
        {"a count of variable-length records of 2147483648",
         [](Bytes &f) { LAS_SET(f.data(), LAS12Header, NumberOfVariableLengthRecords, 0x80000000u); }},
        {"counts by return far above the record count",
         [](Bytes &f) {
             for (int k = 0; k < 5; ++k)
                 lidar::store<std::uint32_t>(f.data() + offsetof(LAS12Header, NumberOfPointsByReturn) + 4 * k,
                                             0xFFFFFFF0u + k);
         }},
        {"bounds that are not numbers",
         [](Bytes &f) {
             LAS_SET(f.data(), LAS12Header, MinX, std::nan(""));
             LAS_SET(f.data(), LAS12Header, MaxY, -INFINITY);
         }},
        {"HeaderSize beyond 227 and equal to OffsetToData",
         [](Bytes &f) { LAS_SET(f.data(), LAS12Header, HeaderSize, std::uint16_t{267}); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes file = small_file();
        c.change(file);
        make("in.las", file);
        const ProcessResult r = run({"in.las", "out.las", "0", "0", "1", "0", "0", "0"});
        ASSERT_EQ(r.status, 0) << r.output;
        expect_same_bytes(testsupport::read_bytes(dir / "out.las"), with_z_moved(file, 3, 20, 267, 1.0, 0.01));
    }
}

TEST_F(Faults, OffsetToDataAtTheEndOfAFileWithoutRecordsGivesTheHeaderAndTheBytesBehindIt) {
    Bytes file = lasfixture::make_las(small_layout(), {});
    ASSERT_EQ(file.size(), 267u);
    make("in.las", file);
    const ProcessResult r = run({"in.las", "out.las", "0", "0", "1", "0", "0", "0"});
    ASSERT_EQ(r.status, 0) << r.output;
    expect_same_bytes(testsupport::read_bytes(dir / "out.las"), with_z_moved(file, 0, 20, 267, 1.0, 0.01));
}

// A scale factor of 0, infinity or not a number, or an offset that is not a
// finite number, gives stored values no coordinates: the run is refused
// before any record moves, naming the axis and the values.
TEST_F(Faults, UnusableScaleFactorsAndOffsetsAreRefusedNamingTheAxis) {
    struct Case {
        const char *what;
        std::size_t field;
        double value;
        const char *message;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {"X scale 0", offsetof(LAS12Header, XScaleFactor), 0.0, "Scale factor 0 and offset 0 of the X axis"},
        {"X scale -0", offsetof(LAS12Header, XScaleFactor), -0.0, "Scale factor -0 and offset 0 of the X axis"},
        {"X scale -infinity", offsetof(LAS12Header, XScaleFactor), -inf, "Scale factor -inf and offset 0 of the X axis"},
        {"Y scale not a number", offsetof(LAS12Header, YScaleFactor), nan, "Scale factor nan and offset 0 of the Y axis"},
        {"Y scale 0", offsetof(LAS12Header, YScaleFactor), 0.0, "Scale factor 0 and offset 0 of the Y axis"},
        {"Y scale infinity", offsetof(LAS12Header, YScaleFactor), inf, "Scale factor inf and offset 0 of the Y axis"},
        {"Z scale 0", offsetof(LAS12Header, ZScaleFactor), 0.0, "Scale factor 0 and offset 0 of the Z axis"},
        {"Z scale not a number", offsetof(LAS12Header, ZScaleFactor), nan, "Scale factor nan and offset 0 of the Z axis"},
        {"Z offset infinity", offsetof(LAS12Header, ZOffset), inf, "Scale factor 0.01 and offset inf of the Z axis"},
        {"X offset not a number", offsetof(LAS12Header, XOffset), nan, "Scale factor 0.01 and offset nan of the X axis"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes file = small_file();
        lidar::store(file.data() + c.field, c.value);
        make("in.las", file);
        const ProcessResult r = run({"in.las", "out.las", "0", "0", "1", "0", "0", "0"});
        expect_refused_without_output(
            r, banner + up_one + "\n" + c.message + " of in.las give its stored values no coordinates\n\n",
            {"in.las"});
    }
}

TEST_F(Faults, ANegativeScaleFactorMovesTheRecordsAndKeepsTheBoxInOrder) {
    lasfixture::Layout layout = small_layout();
    layout.scale[0] = -0.01;
    layout.scale[2] = -0.01;
    Bytes file = lasfixture::make_las(layout, small_points);
    // The generator's box assumes positive scales; give the true one.
    LAS_SET(file.data(), LAS12Header, MinX, 15.0);
    LAS_SET(file.data(), LAS12Header, MaxX, -10.0);
    LAS_SET(file.data(), LAS12Header, MinZ, -123.45);
    LAS_SET(file.data(), LAS12Header, MaxZ, 7.0);
    make("in.las", file);

    // Up by 1 m: a Z scale of -0.01 stores it as 100 units less.
    ProcessResult r = run({"in.las", "up.las", "0", "0", "1", "0", "0", "0"});
    ASSERT_EQ(r.status, 0) << r.output;
    expect_same_bytes(testsupport::read_bytes(dir / "up.las"), with_z_moved(file, 3, 20, 267, 1.0, -0.01));

    // A half turn about the origin: X = 10, -15, 0 become -10, 15, 0 and Y changes sign.
    r = run({"in.las", "turned.las", "0", "0", "0", "180", "0", "0"});
    ASSERT_EQ(r.status, 0) << r.output;
    const Bytes turned = testsupport::read_bytes(dir / "turned.las");
    ASSERT_EQ(turned.size(), file.size());
    for (std::size_t i = 0; i < 3; ++i) {
        const std::uint8_t *record = turned.data() + 267 + 20 * i;
        EXPECT_EQ(lidar::load<std::int32_t>(record), -small_points[i].X) << i;
        EXPECT_EQ(lidar::load<std::int32_t>(record + 4), -small_points[i].Y) << i;
        EXPECT_EQ(lidar::load<std::int32_t>(record + 8), small_points[i].Z) << i;
    }
    expect_double_at(turned, offsetof(LAS12Header, MinX), -0.01 * 1500, "MinX");
    expect_double_at(turned, offsetof(LAS12Header, MaxX), -0.01 * -1000, "MaxX");
    expect_double_at(turned, offsetof(LAS12Header, MinY), 0.01 * -2500, "MinY");
    expect_double_at(turned, offsetof(LAS12Header, MaxY), 0.01 * 3000, "MaxY");
    expect_double_at(turned, offsetof(LAS12Header, MinZ), -123.45, "MinZ");
    expect_double_at(turned, offsetof(LAS12Header, MaxZ), 7.0, "MaxZ");
}

// The notice says a rotation centre is ignored when the angle is 0; so it must
// be for the records. Centres far beyond the cloud make (x - centre) + centre
// differ from x by metres when computed in doubles.
TEST_F(Faults, ACentreIgnoredAtAngleZeroLeavesTheStoredValuesAlone) {
    lasfixture::Layout layout;
    layout.format = 1;
    const std::vector<lasfixture::Point> points = lasfixture::random_points(20, 8, layout);
    const Bytes file = lasfixture::make_las(layout, points);
    make("in.las", file);
    for (const std::string centre : {"1e15", "1e17", "-3e16"}) {
        SCOPED_TRACE("centre " + centre);
        const ProcessResult r = run({"in.las", "out.las", "0", "0", "1", "0", centre, centre});
        ASSERT_EQ(r.status, 0) << r.output;
        const Bytes output = testsupport::read_bytes(dir / "out.las");
        expect_same_bytes(output, with_z_moved(file, 20, 28, 227, 1.0, 0.01));
    }
}

// With an offset of 1e300, scale * stored + offset is 1e300 for every stored
// value: dividing back would give 0 for all of them, on an axis that moves
// and on one that does not alike. Such a georeference is refused before any
// record is moved, naming the axis; a file without records has nothing to lose.
TEST_F(Faults, AnOffsetThatDwarfsTheStoredValuesIsRefusedBeforeAnyRecordMoves) {
    struct Case {
        const char *what;
        int axis;
        std::vector<std::string> motion;
        std::string notices;
    };
    const Case cases[] = {
        {"X offset 1e300, turned", 0, {"0", "0", "0", "30", "0", "0"},
         "Rotation by 30.000000 degrees\nRotation center at [0.000000, 0.000000]\n"},
        {"X offset 1e300, only Z moves", 0, {"0", "0", "1", "0", "0", "0"}, up_one},
        {"Z offset 1e300, Z moves", 2, {"0", "0", "1", "0", "0", "0"}, up_one},
        {"Y offset -1e300, X moves", 1, {"1", "0", "0", "0", "0", "0"},
         "Translation along the X axis (East/West)  by 1.000000\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        lasfixture::Layout layout = small_layout();
        layout.offset[c.axis] = c.axis == 1 ? -1e300 : 1e300;
        make("in.las", lasfixture::make_las(layout, small_points));
        make("out.las", {'o', 'l', 'd'});
        std::vector<std::string> args{"in.las", "out.las"};
        args.insert(args.end(), c.motion.begin(), c.motion.end());
        const ProcessResult r = run(args);
        const std::string axis(1, "XYZ"[c.axis]);
        expect_refused_without_output(r,
                                      banner + c.notices + "\nScale factor 0.01 and offset " +
                                          (c.axis == 1 ? "-1e+300" : "1e+300") + " of the " + axis +
                                          " axis of in.las leave its coordinates without the precision of its "
                                          "stored values\n\n",
                                      {"in.las", "out.las"});
        EXPECT_EQ(text_of(dir / "out.las"), "old");
    }

    lasfixture::Layout layout = small_layout();
    layout.offset[0] = 1e300;
    const Bytes empty = lasfixture::make_las(layout, {});
    make("in.las", empty);
    const ProcessResult r = run({"in.las", "out.las", "0", "0", "1", "0", "0", "0"});
    ASSERT_EQ(r.status, 0) << r.output;
    expect_same_bytes(testsupport::read_bytes(dir / "out.las"), with_z_moved(empty, 0, 20, 267, 1.0, 0.01));
}

}  // namespace

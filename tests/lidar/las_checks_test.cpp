// The file and LAS checks of the shared library: what each returns and,
// byte for byte, what it prints on standard output.
#include "LiDAR.h"
#include "las_bytes.h"
#include "las_fixture.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace {

using testsupport::TempDir;

// What a call returned and printed.
struct Outcome {
    int result;
    std::string output;
};

Outcome call(const std::function<short()> &routine) {
    Outcome outcome{0, ""};
    outcome.output = testsupport::capture_stdout([&] { outcome.result = routine(); });
    return outcome;
}

using testsupport::naming;

std::string missing_file_lines(const std::string &name) {
    return naming("Unable to open file @ in file_access()\n\nFile @ does NOT exist\n", name);
}

// A name that exists in the file system but that no one, root included, can
// open for reading: a Unix domain socket, which open() refuses.
bool make_socket_file(const std::string &path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        ::close(fd);
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

lasfixture::Layout layout_of(int minor, int format) {
    lasfixture::Layout layout;
    layout.versionMinor = minor;
    layout.format = format;
    return layout;
}

const std::vector<lasfixture::Point> three_points = {{100, 200, 300}, {-5, 7, 0}, {123456, -654321, 42}};

// --- check_file_extension -------------------------------------------------------

TEST(CheckFileExtension, ComparesTheLastThreeCharactersAfterADot) {
    struct Case {
        const char *name;
        const char *extension;
        int result;
        const char *output;
    };
    const Case cases[] = {
        {"x.las", "las", 0, ""},
        {"dir.d/cloud.las", "las", 0, ""},
        {"x.hdr", "hdr", 0, ""},
        {".las", "las", -1, "\nFile name (.las) is too short\n"},
        {"las", "las", -1, "\nFile name (las) is too short\n"},
        {"", "las", -1, "\nFile name () is too short\n"},
        {"x.LAS", "las", -1, "\nFile extension of x.LAS is not .las\n"},
        {"x.las", "LAS", -1, "\nFile extension of x.las is not .LAS\n"},
        {"x.laz", "las", -1, "\nFile extension of x.laz is not .las\n"},
        {"cloud.lasx", "las", -1, "\nExtension of file cloud.lasx should be preceeded by a dot (.)\n"},
        {"cloud_las", "las", -1, "\nExtension of file cloud_las should be preceeded by a dot (.)\n"},
        {"cloud.la", "la", -1, "\nExtension of file cloud.la should be preceeded by a dot (.)\n"},
        // Only a three-letter extension without its dot can ever match.
        {"x.las", ".las", -1, "\nFile extension of x.las is not ..las\n"},
        {"x.las", "la", -1, "\nFile extension of x.las is not .la\n"},
        {"x.las", "lass", -1, "\nFile extension of x.las is not .lass\n"},
        {"x.las", "", -1, "\nFile extension of x.las is not .\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "\"" << c.name << "\" with \"" << c.extension << "\"");
        const Outcome o = call([&] { return check_file_extension(c.name, c.extension); });
        EXPECT_EQ(o.result, c.result);
        EXPECT_EQ(o.output, c.output);
    }
}

// --- file_access ----------------------------------------------------------------

class FileAccess : public testing::Test {
protected:
    TempDir dir;
};

TEST_F(FileAccess, AnExistingFileOpensSilently) {
    const std::string path = dir / "present.txt";
    testsupport::write_bytes(path, {'a'});
    const Outcome o = call([&] { return file_access(path.c_str()); });
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.output, "");
}

TEST_F(FileAccess, AMissingFileIsReported) {
    const std::string path = dir / "missing.las";
    const Outcome o = call([&] { return file_access(path.c_str()); });
    EXPECT_EQ(o.result, -1);
    EXPECT_EQ(o.output, naming("Unable to open file @ in file_access()\n", path));
}

TEST_F(FileAccess, AFileThatExistsButCannotBeOpenedIsReported) {
    const std::string path = dir / "socket.las";
    ASSERT_TRUE(make_socket_file(path)) << "cannot make a socket at " << path;
    ASSERT_TRUE(testsupport::exists(path));
    const Outcome o = call([&] { return file_access(path.c_str()); });
    EXPECT_EQ(o.result, -1);
    EXPECT_EQ(o.output, naming("Unable to open file @ in file_access()\n", path));
}

TEST_F(FileAccess, AFileWithoutReadPermissionIsReported) {
    if (::geteuid() == 0) GTEST_SKIP() << "running as root, which reads files whatever their permissions";
    const std::string path = dir / "unreadable.las";
    testsupport::write_bytes(path, lasfixture::make_las(layout_of(2, 3), three_points));
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    const Outcome o = call([&] { return file_access(path.c_str()); });
    EXPECT_EQ(o.result, -1);
    EXPECT_EQ(o.output, naming("Unable to open file @ in file_access()\n", path));
}

// --- error_msg ------------------------------------------------------------------

TEST(ErrorMsg, PrintsTheNumberedMessagesAndNothingForOtherNumbers) {
    struct Case {
        int number;
        const char *output;
    };
    const Case cases[] = {
        {1, "\nFile in put.las does NOT exist\n"},
        {2, "\nFile in put.las already exists\n"},
        {3, "\nSame file name (in put.las) has been specified twice\n"},
        {0, ""},
        {4, ""},
        {-1, ""},
        {65537, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "message " << c.number);
        const std::string output = testsupport::capture_stdout([&] { error_msg(c.number, "in put.las"); });
        EXPECT_EQ(output, c.output);
    }
}

// --- check_las ------------------------------------------------------------------

class CheckLas : public testing::Test {
protected:
    TempDir dir;

    std::string write(const std::string &name, const std::vector<std::uint8_t> &bytes) {
        const std::string path = dir / name;
        testsupport::write_bytes(path, bytes);
        return path;
    }

    static Outcome check(const std::string &path) {
        return call([&] { return check_las(path.c_str()); });
    }
};

TEST_F(CheckLas, GivesTheTypeCodeOfEachAcceptedVersionAndFormat) {
    struct Case {
        int minor, format, code;
    };
    const Case cases[] = {{0, 0, 1}, {0, 1, 2}, {1, 0, 3}, {1, 1, 4}, {2, 0, 5}, {2, 1, 6}, {2, 2, 7}, {2, 3, 8}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "version 1." << c.minor << ", format " << c.format);
        const std::string path = write("cloud.las", lasfixture::make_las(layout_of(c.minor, c.format), three_points));
        const Outcome o = check(path);
        EXPECT_EQ(o.result, c.code);
        EXPECT_EQ(o.output, "");
    }
}

// Each case starts from a valid 1.2 format 3 file and sets the signature,
// the version, the point format and the record length.
TEST_F(CheckLas, DecidesBySignatureVersionFormatAndRecordLength) {
    struct Case {
        std::array<char, 4> signature;
        int major, minor, format, length;
        int code;
        const char *output;
    };
    const std::array<char, 4> good = {'L', 'A', 'S', 'F'};
    const Case cases[] = {
        {good, 1, 2, 3, 34, 8, ""},
        // A record length other than the format's size is never accepted.
        {good, 1, 2, 3, 36, -1, "\nData format of @ (3) is incompatible with Length of Data Record (36)\n"},
        {good, 1, 2, 0, 28, -1, "\nData format of @ (0) is incompatible with Length of Data Record (28)\n"},
        {good, 1, 0, 1, 20, -1, "\nData format of @ (1) is incompatible with Length of Data Record (20)\n"},
        {good, 1, 1, 0, 0, -1, "\nData format of @ (0) is incompatible with Length of Data Record (0)\n"},
        {good, 1, 2, 2, 300, -1, "\nData format of @ (2) is incompatible with Length of Data Record (300)\n"},
        {good, 1, 2, 3, 65535, -1, "\nData format of @ (3) is incompatible with Length of Data Record (65535)\n"},
        // 1.0 and 1.1 declaring format 2 or 3: code 0, silently, whatever the length.
        {good, 1, 1, 2, 26, 0, ""},
        {good, 1, 1, 3, 34, 0, ""},
        {good, 1, 0, 2, 26, 0, ""},
        {good, 1, 0, 3, 99, 0, ""},
        // The signature, compared case-sensitively, before anything else.
        {{'l', 'a', 's', 'f'}, 1, 2, 3, 34, -1, "\n@ is not a valid .las file\n\n"},
        {{'L', 'A', 'S', 'f'}, 1, 2, 3, 34, -1, "\n@ is not a valid .las file\n\n"},
        {{'F', 'S', 'A', 'L'}, 1, 2, 3, 34, -1, "\n@ is not a valid .las file\n\n"},
        {{'l', 'a', 's', 'f'}, 2, 7, 9, 0, -1, "\n@ is not a valid .las file\n\n"},
        // Versions print as digits: the byte plus the code of '0'.
        {good, 2, 0, 3, 34, -1, "\nCannot handle las files of version 2.x\n"},
        {good, 0, 2, 3, 34, -1, "\nCannot handle las files of version 0.x\n"},
        {good, 10, 2, 3, 34, -1, "\nCannot handle las files of version :.x\n"},
        {good, 2, 5, 7, 1, -1, "\nCannot handle las files of version 2.x\n"},
        {good, 1, 3, 3, 34, -1, "\nCannot handle las files of version 1.3\n"},
        {good, 1, 9, 3, 34, -1, "\nCannot handle las files of version 1.9\n"},
        {good, 1, 3, 7, 1, -1, "\nCannot handle las files of version 1.3\n"},
        // The format is checked before the code 0 rule and the record length.
        {good, 1, 2, 4, 34, -1, "\nPointDataFormatID in @ is 4. Only 0, 1, 2, or 3 is accepted\n"},
        {good, 1, 0, 4, 20, -1, "\nPointDataFormatID in @ is 4. Only 0, 1, 2, or 3 is accepted\n"},
        {good, 1, 1, 9, 0, -1, "\nPointDataFormatID in @ is 9. Only 0, 1, 2, or 3 is accepted\n"},
        {good, 1, 2, 10, 34, -1, "\nPointDataFormatID in @ is :. Only 0, 1, 2, or 3 is accepted\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << std::string(c.signature.data(), 4) << " " << c.major << "." << c.minor
                                        << ", format " << c.format << ", length " << c.length);
        std::vector<std::uint8_t> bytes = lasfixture::make_las(layout_of(2, 3), three_points);
        std::uint8_t *h = bytes.data();
        std::memcpy(h + offsetof(LAS12Header, LASF), c.signature.data(), 4);
        LAS_SET(h, LAS12Header, VersionMajor, static_cast<std::uint8_t>(c.major));
        LAS_SET(h, LAS12Header, VersionMinor, static_cast<std::uint8_t>(c.minor));
        LAS_SET(h, LAS12Header, PointDataFormatID, static_cast<std::uint8_t>(c.format));
        LAS_SET(h, LAS12Header, PointDataRecordLength, static_cast<std::uint16_t>(c.length));
        const std::string path = write("cloud.las", bytes);
        const Outcome o = check(path);
        EXPECT_EQ(o.result, c.code);
        EXPECT_EQ(o.output, naming(c.output, path));
    }
}

TEST_F(CheckLas, AFileTooShortForTheRecordLengthIsNotValid) {
    const std::vector<std::uint8_t> whole = lasfixture::make_las(layout_of(2, 3), three_points);
    for (const std::size_t size : {std::size_t{0}, std::size_t{3}, std::size_t{4}, std::size_t{106}}) {
        SCOPED_TRACE(testing::Message() << size << " bytes");
        const std::string path = write("short.las", {whole.begin(), whole.begin() + static_cast<long>(size)});
        const Outcome o = check(path);
        EXPECT_EQ(o.result, -1);
        EXPECT_EQ(o.output, naming("\n@ is not a valid .las file\n\n", path));
    }
}

TEST_F(CheckLas, LooksNoFurtherThanTheRecordLength) {
    // 107 bytes end with the record length; the header size, the offset to
    // the records and the rest of the file are not examined.
    std::vector<std::uint8_t> prefix = lasfixture::make_las(layout_of(2, 3), three_points);
    prefix.resize(107);
    LAS_SET(prefix.data(), LAS12Header, HeaderSize, std::uint16_t{0});
    LAS_SET(prefix.data(), LAS12Header, OffsetToData, std::uint32_t{0xFFFFFFFFu});
    LAS_SET(prefix.data(), LAS12Header, NumberOfVariableLengthRecords, std::uint32_t{12345});
    const Outcome o = check(write("prefix.las", prefix));
    EXPECT_EQ(o.result, 8);
    EXPECT_EQ(o.output, "");
}

TEST_F(CheckLas, AMissingFileShowsTwoLines) {
    // Whatever the name: the file is looked for before its extension.
    for (const char *name : {"missing.las", "missing.txt"}) {
        const std::string path = dir / name;
        const Outcome o = check(path);
        EXPECT_EQ(o.result, -1) << name;
        EXPECT_EQ(o.output, missing_file_lines(path));
    }
}

TEST_F(CheckLas, AFileThatCannotBeOpenedShowsTheSameTwoLines) {
    const std::string path = dir / "socket.las";
    ASSERT_TRUE(make_socket_file(path)) << "cannot make a socket at " << path;
    const Outcome o = check(path);
    EXPECT_EQ(o.result, -1);
    EXPECT_EQ(o.output, missing_file_lines(path));
}

TEST_F(CheckLas, AnUnreadableFileShowsTheSameTwoLines) {
    if (::geteuid() == 0) GTEST_SKIP() << "running as root, which reads files whatever their permissions";
    const std::string path = write("unreadable.las", lasfixture::make_las(layout_of(2, 3), three_points));
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    const Outcome o = check(path);
    EXPECT_EQ(o.result, -1);
    EXPECT_EQ(o.output, missing_file_lines(path));
}

TEST_F(CheckLas, AWrongExtensionIsRefusedBeforeTheContentIsRead) {
    const std::vector<std::uint8_t> valid = lasfixture::make_las(layout_of(2, 3), three_points);
    struct Case {
        const char *name;
        const char *output;
    };
    const Case cases[] = {
        {"cloud.LAS", "\nFile extension of @ is not .las\n"},
        {"cloud.laz", "\nFile extension of @ is not .las\n"},
        {"cloud.lasx", "\nExtension of file @ should be preceeded by a dot (.)\n"},
    };
    for (const Case &c : cases) {
        const std::string path = write(c.name, valid);
        const Outcome o = check(path);
        EXPECT_EQ(o.result, -1) << c.name;
        EXPECT_EQ(o.output, naming(c.output, path));
    }
}

// --- check_las on real files ----------------------------------------------------

struct SampleCase {
    const char *file;
    int code;
};

void PrintTo(const SampleCase &c, std::ostream *out) { *out << c.file; }

class CheckLasOnSamples : public testing::TestWithParam<SampleCase> {};

TEST_P(CheckLasOnSamples, GivesTheTypeCodeSilently) {
    const auto samples = testsupport::sample_dir();
    if (!samples) GTEST_SKIP() << "no sample LAS folder: set LAS_SAMPLE_DIR to run this test";
    const std::string path = *samples + "/" + GetParam().file;
    const Outcome o = call([&] { return check_las(path.c_str()); });
    EXPECT_EQ(o.result, GetParam().code);
    EXPECT_EQ(o.output, "");
}

INSTANTIATE_TEST_SUITE_P(RealFiles, CheckLasOnSamples,
                         testing::Values(SampleCase{"v1.0_0.las", 1}, SampleCase{"v1.0_1.las", 2},
                                         SampleCase{"v1.1_0.las", 3}, SampleCase{"v1.1_1.las", 4},
                                         SampleCase{"v1.2_0.las", 5}, SampleCase{"v1.2_1.las", 6},
                                         SampleCase{"v1.2_2.las", 7}, SampleCase{"v1.2_3.las", 8},
                                         SampleCase{"simple.las", 8}, SampleCase{"1.2-with-color.las", 8},
                                         SampleCase{"test_utm17.las", 8}, SampleCase{"no-points.las", 8}),
                         [](const testing::TestParamInfo<SampleCase> &info) {
                             std::string name;
                             for (const char *p = info.param.file; *p != '\0'; ++p)
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return name;
                         });

}  // namespace

// Helpers shared by the tests: temporary folders, child processes whose
// standard output and exit status are captured, and the sample data folder.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// The suite banner and the tool's usage text, as every run prints them.
inline const std::string banner =
    "\nVintrel LiDAR Utilities"
    "\n\nDeveloped and maintained by the Vintrel LiDAR Utilities maintainers"
    "\nThe Tessvane project"
    "\nmaintainers@tessvane.example"
    "\n\n** No warranty regarding script behavior is given or implied **"
    "\n** Acknowledging the author's efforts ensures script updates and availability **\n";

inline const std::string usage = banner +
                                 "\nUsage:\tTessvane INPUT.las OUTPUT.las\n"
                                 "\tX_translation Y_translation Z_translation\n"
                                 "\tRotation_angle X_rotation_center Y_rotation_center\n";

// A fresh folder under the system's temporary folder, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }
    // Names of the entries in the folder, sorted.
    std::vector<std::string> entries() const;

private:
    std::string path_;
};

struct ProcessResult {
    int status;          // exit status 0-255, or 1000 + signal number when killed
    std::string output;  // everything written to standard output
};

// Runs a program with the arguments given (argv[0] first) in `cwd` (when not
// empty), standard error passed through.
ProcessResult run_process(const std::vector<std::string> &argv, const std::string &cwd = "");

// Starts a program in `cwd` with its standard output discarded; returns its
// process id. wait_process() reaps it and gives its status as run_process does.
int start_process(const std::vector<std::string> &argv, const std::string &cwd);
int wait_process(int pid);

// Runs a shell command line with /bin/sh -c.
ProcessResult run_shell(const std::string &command, const std::string &cwd = "");

// Runs `body` in a child process; the status is its exit status (0 when it
// returns) and the output what it printed on standard output.
ProcessResult run_in_child(const std::function<void()> &body);

// What `body` prints on standard output, in this process.
std::string capture_stdout(const std::function<void()> &body);

// The folder of real sample LAS files, when the environment names one
// (LAS_SAMPLE_DIR) and it exists.
std::optional<std::string> sample_dir();

// An expected message, with every '@' standing for the file name.
std::string naming(const std::string &pattern, const std::string &name);

std::vector<std::uint8_t> read_bytes(const std::string &path);
void write_bytes(const std::string &path, const std::vector<std::uint8_t> &bytes);
bool exists(const std::string &path);

}  // namespace testsupport

// Shared by the fuzz targets: a scratch folder, quiet standard output, files
// written and read whole, a check that stops the fuzzer with a message, and a
// child process for the routines that end the process when they refuse.
#pragma once

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <vector>

namespace fuzzsupport {

using Bytes = std::vector<std::uint8_t>;

[[noreturn]] inline void fail(const char *what, const char *file, int line) {
    std::fprintf(stderr, "\n*** fuzz check failed at %s:%d: %s\n", file, line, what);
    std::abort();
}

#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : ::fuzzsupport::fail(#condition, __FILE__, __LINE__))

// Everything the routines print goes to /dev/null: the fuzzer's own report
// is on standard error.
inline void silence_stdout() {
    std::fflush(stdout);
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) {
        ::dup2(null, STDOUT_FILENO);
        ::close(null);
    }
}

namespace detail {

inline std::string &scratch_path() {
    static std::string path;
    return path;
}

inline int remove_entry(const char *path, const struct stat *, int, struct FTW *) { return ::remove(path); }

inline void remove_scratch() {
    if (!scratch_path().empty()) ::nftw(scratch_path().c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

}  // namespace detail

// A folder of this process's own under $TMPDIR (or /tmp), removed at exit.
inline const std::string &scratch_dir() {
    std::string &path = detail::scratch_path();
    if (path.empty()) {
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/tessvane-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        path = pattern;
        std::atexit(detail::remove_scratch);
    }
    return path;
}

inline bool write_file(const std::string &path, const std::uint8_t *data, std::size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = true;
    for (std::size_t done = 0; ok && done < size;) {
        const ssize_t n = ::write(fd, data + done, size - done);
        ok = n > 0;
        if (ok) done += static_cast<std::size_t>(n);
    }
    return ::close(fd) == 0 && ok;
}

inline bool read_file(const std::string &path, Bytes &bytes) {
    bytes.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::uint8_t buffer[65536];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    ::close(fd);
    return n == 0;
}

// Names in a folder, sorted, without "." and "..".
inline std::vector<std::string> entries(const std::string &folder) {
    std::vector<std::string> names;
    if (DIR *d = ::opendir(folder.c_str())) {
        while (const dirent *e = ::readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.emplace_back(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

namespace detail {

// Ends a child with the status its routine asked for, before any other exit
// handler runs (the fuzzer's own would take the exit for a crash of its own).
inline void exit_now(int status, void *) { ::_exit(status & 0xFF); }

}  // namespace detail

// Runs `body` in a child process: its exit status (0 when it returns), or
// 1000 + the signal that ended it.
template <typename Body>
int status_in_child(Body body) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        std::perror("fork");
        std::abort();
    }
    if (pid == 0) {
        ::on_exit(detail::exit_now, nullptr);
        body();
        ::_exit(0);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 1000 + WTERMSIG(status);
}

// The status with which the refusing routines end the process: exit(-1).
inline constexpr int refused_status = 255;

}  // namespace fuzzsupport

// Every target starts the same way: standard output silenced (the routines
// report on it) and the scratch folder made.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzzsupport::silence_stdout();
    fuzzsupport::scratch_dir();
    return 0;
}


#include "test_support.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "tessvane-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Give back write permission to folders a test made read-only, then remove.
    for (auto it = fs::recursive_directory_iterator(path_, ignored); it != fs::recursive_directory_iterator();
         it.increment(ignored))
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

std::vector<std::string> TempDir::entries() const {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(path_)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

std::string drain(int fd) {
    std::string out;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            out.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    return out;
}

int decode(int waitStatus) {
    if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus)) return 1000 + WTERMSIG(waitStatus);
    return -1;
}

ProcessResult fork_with_stdout_pipe(const std::function<void()> &child) {
    std::fflush(stdout);
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::close(fds[0]);
        ::dup2(fds[1], STDOUT_FILENO);
        ::close(fds[1]);
        child();
        std::fflush(stdout);
        ::_exit(0);
    }
    ::close(fds[1]);
    ProcessResult result{0, drain(fds[0])};
    ::close(fds[0]);
    int waitStatus = 0;
    while (::waitpid(pid, &waitStatus, 0) < 0 && errno == EINTR) {
    }
    result.status = decode(waitStatus);
    return result;
}

// In a child: runs the program in `cwd`, never returning.
[[noreturn]] void exec_in(const std::vector<std::string> &argv, const std::string &cwd) {
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(126);
    std::vector<char *> args;
    for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
}

}  // namespace

ProcessResult run_process(const std::vector<std::string> &argv, const std::string &cwd) {
    return fork_with_stdout_pipe([&] { exec_in(argv, cwd); });
}

int start_process(const std::vector<std::string> &argv, const std::string &cwd) {
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int devnull = ::open("/dev/null", O_WRONLY);
        ::dup2(devnull, STDOUT_FILENO);
        exec_in(argv, cwd);
    }
    return pid;
}

int wait_process(int pid) {
    int waitStatus = 0;
    while (::waitpid(pid, &waitStatus, 0) < 0 && errno == EINTR) {
    }
    return decode(waitStatus);
}

ProcessResult run_shell(const std::string &command, const std::string &cwd) {
    return run_process({"/bin/sh", "-c", command}, cwd);
}

ProcessResult run_in_child(const std::function<void()> &body) { return fork_with_stdout_pipe(body); }

std::string capture_stdout(const std::function<void()> &body) {
    std::fflush(stdout);
    std::FILE *sink = std::tmpfile();
    if (sink == nullptr) throw std::runtime_error("tmpfile failed");
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(::fileno(sink), STDOUT_FILENO);
    body();
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    std::rewind(sink);
    std::string out;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, sink)) > 0) out.append(buffer, n);
    std::fclose(sink);
    return out;
}

std::optional<std::string> sample_dir() {
    const char *dir = std::getenv("LAS_SAMPLE_DIR");
    if (dir == nullptr || *dir == '\0' || !fs::is_directory(dir)) return std::nullopt;
    return std::string(dir);
}

std::string naming(const std::string &pattern, const std::string &name) {
    std::string text;
    for (const char c : pattern) text += c == '@' ? name : std::string(1, c);
    return text;
}

std::vector<std::uint8_t> read_bytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_bytes(const std::string &path, const std::vector<std::uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

bool exists(const std::string &path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace testsupport

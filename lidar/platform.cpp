#include "platform.h"

#include <cerrno>
#include <csignal>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>
#include <system_error>
#include <thread>
#include <vector>

static_assert(sizeof(off_t) == 8, "file offsets must be 64-bit");

namespace lidar::platform {

double wall_seconds() {
    using clock = std::chrono::steady_clock;
    return std::chrono::duration<double>(clock::now().time_since_epoch()).count();
}

File &File::operator=(File &&other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.release();
    }
    return *this;
}

File::~File() { close(); }

File File::open_for_reading(const std::string &path) {
    return File(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
}

File File::open_for_update(const std::string &path) { return File(::open(path.c_str(), O_RDWR | O_CLOEXEC)); }

int File::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

bool File::close() {
    if (fd_ < 0) return true;
    // The descriptor is gone whatever close() says; never retry it.
    return ::close(release()) == 0;
}

namespace {

// Calls `transfer(done)` (one read or write of the rest, from `done` bytes
// in) until n bytes have moved, retrying interrupted calls. Returns the bytes
// moved, fewer when a call moved none (the end of a file), or -1 on error.
template <typename Transfer>
long long transfer_fully(std::size_t n, Transfer transfer) {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t moved = transfer(done);
        if (moved < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (moved == 0) break;
        done += static_cast<std::size_t>(moved);
    }
    return static_cast<long long>(done);
}

// A write that moved nothing without an error: report the disk as full.
bool wrote_all(long long written, std::size_t n) {
    if (written == static_cast<long long>(n)) return true;
    if (written >= 0) errno = ENOSPC;
    return false;
}

}  // namespace

long long File::read_up_to(void *buffer, std::size_t n) {
    auto *at = static_cast<unsigned char *>(buffer);
    return transfer_fully(n, [&](std::size_t done) { return ::read(fd_, at + done, n - done); });
}

long long File::read_up_to_at(void *buffer, std::size_t n, std::uint64_t offset) {
    auto *at = static_cast<unsigned char *>(buffer);
    return transfer_fully(
        n, [&](std::size_t done) { return ::pread(fd_, at + done, n - done, static_cast<off_t>(offset + done)); });
}

bool File::write_all_at(const void *buffer, std::size_t n, std::uint64_t offset) {
    const auto *at = static_cast<const unsigned char *>(buffer);
    return wrote_all(transfer_fully(n,
                                    [&](std::size_t done) {
                                        return ::pwrite(fd_, at + done, n - done, static_cast<off_t>(offset + done));
                                    }),
                     n);
}

bool File::seek(std::uint64_t offset) {
    if (offset > static_cast<std::uint64_t>(LLONG_MAX)) {
        errno = EOVERFLOW;
        return false;
    }
    return ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

bool File::regular_file_size(std::uint64_t &size) const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return false;
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return false;
    }
    size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

void run_shares(std::size_t shares, const std::function<void(std::size_t)> &work) {
    std::vector<std::thread> helpers;
    std::vector<std::size_t> leftOver;
    for (std::size_t share = 1; share < shares; ++share) {
        try {
            helpers.emplace_back(work, share);
        } catch (const std::system_error &) {
            leftOver.push_back(share);
        }
    }
    work(0);
    for (const std::size_t share : leftOver) work(share);
    for (std::thread &helper : helpers) helper.join();
}

bool same_file(const std::string &a, const std::string &b) {
    struct stat sa {}, sb {};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

namespace {

std::string directory_of(const std::string &path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string base_name_of(const std::string &path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool read_link(const std::string &path, std::string &target) {
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
        if (n < 0) return false;
        if (static_cast<std::size_t>(n) < buffer.size()) {
            target.assign(buffer.data(), static_cast<std::size_t>(n));
            return true;
        }
        buffer.resize(buffer.size() * 2);
    }
}

// The temporary output being written, removed if a signal ends the process
// before it is renamed into place. Only async-signal-safe calls touch it
// from the handler.
char pendingTemporary[PATH_MAX + 1];
volatile std::sig_atomic_t pendingTemporarySet = 0;

extern "C" void remove_pending_temporary_and_die(int signal) {
    if (pendingTemporarySet) ::unlink(pendingTemporary);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

constexpr int ending_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Holds back the ending signals while it lives, so that a file is never
// created without being registered for removal.
class EndingSignalsHeld {
public:
    EndingSignalsHeld() {
        sigset_t held;
        sigemptyset(&held);
        for (const int signal : ending_signals) sigaddset(&held, signal);
        ::pthread_sigmask(SIG_BLOCK, &held, &previous_);
    }
    ~EndingSignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

private:
    sigset_t previous_;
};

void remove_pending_temporary_on_signals(const std::string &path) {
    if (path.size() > PATH_MAX) return;
    std::memcpy(pendingTemporary, path.c_str(), path.size() + 1);
    pendingTemporarySet = 1;
    for (const int signal : ending_signals) {
        struct sigaction action {};
        action.sa_handler = remove_pending_temporary_and_die;
        sigemptyset(&action.sa_mask);
        ::sigaction(signal, &action, nullptr);
    }
}

void forget_pending_temporary() { pendingTemporarySet = 0; }

mode_t new_file_mode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

}  // namespace

std::string resolve_final_link(const std::string &path) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        std::string target;
        if (!read_link(current, target)) return current;
        current = (!target.empty() && target[0] == '/') ? target : directory_of(current) + "/" + target;
    }
    return current;
}

bool AtomicOutput::create(const std::string &finalPath) {
    discard();
    finalPath_ = resolve_final_link(finalPath);
    std::string pattern = directory_of(finalPath_) + "/." + base_name_of(finalPath_) + ".XXXXXX";
    const EndingSignalsHeld held;
    // mkostemp creates the file exclusively, so a planted name is never followed.
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) return false;
    temporaryPath_ = pattern;
    remove_pending_temporary_on_signals(temporaryPath_);
    file_ = File(fd);
    return true;
}

bool AtomicOutput::commit() {
    if (::fchmod(file_.fd(), new_file_mode()) != 0) return false;
    if (!file_.close()) return false;
    if (::rename(temporaryPath_.c_str(), finalPath_.c_str()) != 0) return false;
    forget_pending_temporary();
    temporaryPath_.clear();
    return true;
}

void AtomicOutput::discard() {
    file_.close();
    if (!temporaryPath_.empty()) {
        ::unlink(temporaryPath_.c_str());
        forget_pending_temporary();
        temporaryPath_.clear();
    }
}

}  // namespace lidar::platform

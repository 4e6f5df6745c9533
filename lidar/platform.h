// The operating system behind one small layer: the wall clock, files with
// 64-bit offsets read and written in whole blocks, and an output file that
// appears under its name only once it is complete.
//
// Calls report failure by returning false (or -1) with errno set; the caller
// decides what to say about it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace lidar::platform {

// Seconds on a steady wall clock, for measuring elapsed time.
double wall_seconds();

// A file descriptor that closes itself.
class File {
public:
    File() = default;
    explicit File(int fd) : fd_(fd) {}
    File(File &&other) noexcept : fd_(other.release()) {}
    File &operator=(File &&other) noexcept;
    File(const File &) = delete;
    File &operator=(const File &) = delete;
    ~File();

    static File open_for_reading(const std::string &path);
    // Opens an existing file for reading and writing in place, never truncating it.
    static File open_for_update(const std::string &path);

    bool is_open() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    int release();
    // Closes and reports whether the close succeeded.
    bool close();

    // Reads until n bytes or end of file; the count read, or -1 on error.
    long long read_up_to(void *buffer, std::size_t n);
    // The same from a given offset, leaving the file position alone.
    long long read_up_to_at(void *buffer, std::size_t n, std::uint64_t offset);
    bool write_all_at(const void *buffer, std::size_t n, std::uint64_t offset);
    bool seek(std::uint64_t offset);
    // Size in bytes of a regular file; false for anything else or on error.
    bool regular_file_size(std::uint64_t &size) const;

private:
    int fd_ = -1;
};

// Runs work(0) .. work(shares - 1) at once: share 0 on the calling thread,
// the others on threads of their own; a share whose thread cannot be started
// runs on the calling thread afterwards. Returns when all have finished.
void run_shares(std::size_t shares, const std::function<void(std::size_t)> &work);

// True when both names lead to the same file (same device and inode),
// whatever links or spellings lie between them. False when either is missing.
bool same_file(const std::string &a, const std::string &b);

// Follows symbolic links in the last component until a name that is not a link.
std::string resolve_final_link(const std::string &path);

// An output written to a temporary file beside its final name and renamed
// into place by commit(). Until then nothing exists under the final name
// that was not there before; an output never committed is removed.
class AtomicOutput {
public:
    // Creates the temporary file; false with errno set on failure.
    bool create(const std::string &finalPath);
    File &file() { return file_; }
    // Gives the file a new file's permissions, closes it and renames it into place.
    bool commit();
    // Removes the temporary file, if it still exists.
    void discard();
    ~AtomicOutput() { discard(); }

    const std::string &temporary_path() const { return temporaryPath_; }

private:
    File file_;
    std::string finalPath_;
    std::string temporaryPath_;
};

}  // namespace lidar::platform

#include "block_writer.h"

#include <cerrno>

namespace tessvane {

BlockWriter::BlockWriter(lidar::platform::File &output, std::size_t blockBytes, std::size_t blocks)
    : output_(output), storage_(blocks, std::vector<std::uint8_t>(blockBytes)) {
    for (auto &block : storage_) free_.push_back(block.data());
    thread_ = std::thread([this] { write_loop(); });
}

BlockWriter::~BlockWriter() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

std::uint8_t *BlockWriter::acquire() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !free_.empty() || error_ != 0; });
    if (error_ != 0) return nullptr;
    std::uint8_t *buffer = free_.back();
    free_.pop_back();
    return buffer;
}

void BlockWriter::submit(std::uint8_t *buffer, std::size_t bytes) {
    {
        std::lock_guard lock(mutex_);
        pending_.push_back({buffer, bytes});
    }
    changed_.notify_all();
}

bool BlockWriter::finish() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return free_.size() == storage_.size() || error_ != 0; });
    if (error_ == 0) return true;
    errno = error_;
    return false;
}

void BlockWriter::write_loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return !pending_.empty() || closing_; });
        if (pending_.empty()) return;
        const Pending next = pending_.front();
        pending_.pop_front();
        const bool skip = error_ != 0;
        lock.unlock();
        const bool ok = skip || output_.write_all(next.buffer, next.bytes);
        const int error = ok ? 0 : errno;
        lock.lock();
        if (!ok && error_ == 0) error_ = error != 0 ? error : EIO;
        free_.push_back(next.buffer);
        changed_.notify_all();
    }
}

}  // namespace tessvane

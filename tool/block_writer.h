// Writing blocks on a second thread while the caller fills the next ones, so
// that reading, moving and writing records overlap on two cores.
#pragma once

#include "platform.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace tessvane {

class BlockWriter {
public:
    // `blocks` buffers of `blockBytes` each, written to `output` in the order submitted.
    BlockWriter(lidar::platform::File &output, std::size_t blockBytes, std::size_t blocks);
    ~BlockWriter();
    BlockWriter(const BlockWriter &) = delete;
    BlockWriter &operator=(const BlockWriter &) = delete;

    // A buffer to fill, once one is free; nullptr once a write has failed.
    std::uint8_t *acquire();
    // Queues the first `bytes` bytes of a buffer from acquire() for writing.
    void submit(std::uint8_t *buffer, std::size_t bytes);
    // Waits until everything submitted is written. False, with errno set to
    // the failed write's error, when any write failed.
    bool finish();

private:
    struct Pending {
        std::uint8_t *buffer;
        std::size_t bytes;
    };

    void write_loop();

    lidar::platform::File &output_;
    std::vector<std::vector<std::uint8_t>> storage_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::uint8_t *> free_;
    std::deque<Pending> pending_;
    bool closing_ = false;
    int error_ = 0;
    std::thread thread_;
};

}  // namespace tessvane

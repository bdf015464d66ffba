#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace ufd::sim {

// Reassembles the PC's commands from the bytes as they come off the line: a command may arrive
// in pieces, several may come in one read. Bytes that cannot start a command (anything before a
// "$", a "$" without the fixed header bytes, an impossible length, a failed checksum) are
// skipped one at a time, so the stream finds the next real command behind them.
class CommandStream {
public:
    using Clock = std::chrono::steady_clock;

    // An incomplete command older than this is taken for garbage: the PC writes each command
    // in one go and resends only after 3000 ms, so a real one is long complete by then.
    static constexpr std::chrono::milliseconds kIncompleteLimit{500};
    // The largest command the PC can build (its transmit buffer).
    static constexpr std::size_t kMaxCommand = 541;

    void feed(const std::uint8_t* data, std::size_t count);

    // The next complete command with a good checksum, or nothing while none is complete.
    std::optional<std::vector<std::uint8_t>> next(Clock::time_point now);

    // When the incomplete command at the head will be given up, if there is one.
    std::optional<Clock::time_point> deadline() const;

    std::size_t skippedBytes() const { return skipped_; }
    void clear();

private:
    void skip(std::size_t n);

    std::vector<std::uint8_t> buf_;
    std::optional<Clock::time_point> headSince_;
    std::size_t skipped_ = 0;
};

} // namespace ufd::sim

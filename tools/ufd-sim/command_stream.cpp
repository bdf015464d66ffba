#include "command_stream.h"

#include "core/protocol/packet.h"

#include <algorithm>

namespace ufd::sim {

namespace {

constexpr std::uint8_t kStart = 0x24;
constexpr std::uint8_t kFixed[3] = {0x16, 0xFE, 0xCC};

} // namespace

void CommandStream::feed(const std::uint8_t* data, std::size_t count) {
    buf_.insert(buf_.end(), data, data + count);
}

void CommandStream::skip(std::size_t n) {
    buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(n));
    skipped_ += n;
    headSince_.reset();
}

std::optional<std::vector<std::uint8_t>> CommandStream::next(Clock::time_point now) {
    for (;;) {
        const auto start = std::find(buf_.begin(), buf_.end(), kStart);
        if (start != buf_.begin()) {
            skip(static_cast<std::size_t>(start - buf_.begin()));
        }
        if (buf_.empty()) {
            return std::nullopt;
        }
        const std::size_t have = buf_.size();
        bool fixedOk = true;
        for (std::size_t i = 1; i < std::min<std::size_t>(have, 4); ++i) {
            fixedOk = fixedOk && buf_[i] == kFixed[i - 1];
        }
        if (!fixedOk) {
            skip(1);
            continue;
        }
        if (have >= 6) {
            const std::size_t length = protocol::readU16(&buf_[4]);
            if (length < protocol::kMinPacketSize || length > kMaxCommand) {
                skip(1);
                continue;
            }
            if (have >= length) {
                const auto crcAt = static_cast<std::uint16_t>(length - protocol::kCrcSize);
                if (protocol::readU32(&buf_[crcAt]) != protocol::PacketCrc32(buf_.data(), crcAt)) {
                    skip(1);
                    continue;
                }
                std::vector<std::uint8_t> cmd(buf_.begin(),
                                              buf_.begin() + static_cast<std::ptrdiff_t>(length));
                buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(length));
                headSince_.reset();
                return cmd;
            }
        }
        // Incomplete: wait for the rest, but not for ever.
        if (!headSince_) {
            headSince_ = now;
        } else if (now - *headSince_ >= kIncompleteLimit) {
            skip(1);
            continue;
        }
        return std::nullopt;
    }
}

std::optional<CommandStream::Clock::time_point> CommandStream::deadline() const {
    if (!headSince_) {
        return std::nullopt;
    }
    return *headSince_ + kIncompleteLimit;
}

void CommandStream::clear() {
    buf_.clear();
    headSince_.reset();
}

} // namespace ufd::sim

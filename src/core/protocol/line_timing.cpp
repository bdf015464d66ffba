#include "core/protocol/line_timing.h"

#include "core/protocol/packet.h"

#include <algorithm>
#include <limits>

namespace ufd::protocol {

namespace {

constexpr std::uint64_t kBitsPerByte = 10;
// Answers whose payload the program does not read (16, 18, 96, 97, 98) are short; this leaves
// room for whatever the instrument puts in them.
constexpr std::size_t kShortAnswerSize = 64;
constexpr std::uint32_t kMaxReadBlock = 4096;

} // namespace

int lineTimeMs(std::size_t bytes, std::uint32_t baud) {
    if (baud == 0) {
        return 0;
    }
    const std::uint64_t bitsTimesMs = std::uint64_t{bytes} * kBitsPerByte * 1000;
    const std::uint64_t ms = (bitsTimesMs + baud - 1) / baud;
    return static_cast<int>(std::min<std::uint64_t>(ms, std::numeric_limits<int>::max() / 2));
}

int responseTimeoutMs(std::size_t answerBytes, std::uint32_t baud, int baseMs) {
    return baseMs + lineTimeMs(answerBytes, baud);
}

std::size_t longestAnswer(std::uint8_t code, std::uint32_t value) {
    switch (code) {
    case CmdReadBlock:
        return kMinPacketSize + std::min(value, kMaxReadBlock);
    case CmdOnlineRequest:
    case CmdOnlineEvent:
        return kLiveAnswerSize;
    default:
        return kShortAnswerSize;
    }
}

int pollTimeoutMs(std::uint32_t baud, int baseMs) {
    return lineTimeMs(kLiveAnswerSize, baud) + std::min(kPollMarginMs, baseMs);
}

} // namespace ufd::protocol

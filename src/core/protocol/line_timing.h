#pragma once

#include "core/online/record.h"

#include <cstddef>
#include <cstdint>

namespace ufd::protocol {

// The time the instrument has to answer a command, on top of the time the answer needs on the
// line.
constexpr int kBaseResponseTimeoutMs = 3000;
// A live poll's answer is given up this long after its line time (or after the response
// time-out, if that is shorter), and the next poll goes out.
constexpr int kPollMarginMs = 1000;
// The online record's answer.
constexpr std::size_t kLiveAnswerSize = online::kLivePacketSize;

// Milliseconds `bytes` need on a line of `baud` at 10 bits a byte (start, 8 data, stop),
// rounded up; 0 when the speed is unknown (0).
int lineTimeMs(std::size_t bytes, std::uint32_t baud);

// The supervision interval of a command: `baseMs` for the instrument plus the line time of
// `answerBytes`, the longest answer that can reach the PC before this command's answer is in.
int responseTimeoutMs(std::size_t answerBytes, std::uint32_t baud,
                      int baseMs = kBaseResponseTimeoutMs);

// The longest answer command `code` can get; `value` is the byte count a read block asks for.
std::size_t longestAnswer(std::uint8_t code, std::uint32_t value);

// How long a live poll is waited for before the next one goes out.
int pollTimeoutMs(std::uint32_t baud, int baseMs = kBaseResponseTimeoutMs);

} // namespace ufd::protocol

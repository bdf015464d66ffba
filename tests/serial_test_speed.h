#pragma once

#include <cstdint>

namespace ufd::serial::test {

// The output speed as the kernel holds it, also for speeds without a B-constant.
std::uint32_t outputSpeed(int fd);

} // namespace ufd::serial::test

#pragma once

#include <cstdint>

namespace ufd::serial::detail {

// Sets a line speed that has no B-constant, leaving every other setting as it is. Kept in its
// own file because the kernel's termios2 header clashes with <termios.h>.
bool setCustomSpeed(int fd, std::uint32_t baud);

} // namespace ufd::serial::detail

#pragma once

#include "serial/line_settings.h"

#include <termios.h>

namespace ufd::serial::detail {

// Writes everything of `s` that termios can express, except the speed, into `t`, which holds
// the driver's current settings: a raw binary line plus the chosen framing and flow control.
// DSR flow, DSR sensitivity, TxContinueOnXoff, the XON/XOFF limits and parity-error
// replacement have no termios counterpart.
void toTermios(const LineSettings& s, termios& t);

} // namespace ufd::serial::detail

#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>

namespace ufd::online {

// Fixed-decimal pattern "0", "0.0", "0.00" or "0.000": rounds half away from zero on the exact
// binary value, and never prints "-0.00". The decimal separator is always ".".
QString formatFixed(double value, int decimals);

// The general number format: up to 15 significant digits, no trailing zeros.
QString formatGeneral(double value);

// Text bytes from the instrument: up to the first NUL or `maxLen`, decoded with the fixed
// code page (GB18030). Undecodable bytes become U+FFFD, never invalid UTF-8.
QString decodeInstrumentText(const char* bytes, std::size_t maxLen);

} // namespace ufd::online

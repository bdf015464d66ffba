#include "core/online/text_format.h"

#include <QStringDecoder>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace ufd::online {

namespace {

// True when |value| * 10^decimals lies exactly halfway between two integers; `scaled` then
// receives the integer below the tie. Works on the exact binary value (mantissa times power
// of two), so no intermediate rounding hides or invents a tie.
bool exactTie(double magnitude, int decimals, std::uint64_t& below) {
    int exp = 0;
    const double frac = std::frexp(magnitude, &exp); // magnitude = frac * 2^exp, frac in [0.5,1)
    const auto mant = static_cast<std::uint64_t>(std::ldexp(frac, 53));
    const int shift = 53 - exp; // magnitude = mant / 2^shift
    // mant * 10^decimals < 2^63, so a half (2^(shift-1)) is out of reach beyond shift 63.
    if (shift <= 0 || shift > 63) {
        return false;
    }
    std::uint64_t scaledMant = mant;
    for (int i = 0; i < decimals; ++i) {
        scaledMant *= 10;
    }
    const std::uint64_t one = std::uint64_t{1} << shift;
    const std::uint64_t rem = scaledMant & (one - 1);
    if (rem != (one >> 1)) {
        return false;
    }
    below = scaledMant >> shift;
    return true;
}

QString withoutNegativeZero(const char* begin, const char* end) {
    if (begin != end && *begin == '-' &&
        std::all_of(begin + 1, end, [](char c) { return c == '0' || c == '.'; })) {
        ++begin;
    }
    return QString::fromLatin1(begin, static_cast<qsizetype>(end - begin));
}

} // namespace

QString formatFixed(double value, int decimals) {
    if (!std::isfinite(value)) {
        return QString::number(value);
    }
    decimals = std::clamp(decimals, 0, 3);
    char buf[400];
    char* const last = buf + sizeof buf;
    std::uint64_t below = 0;
    if (exactTie(std::fabs(value), decimals, below)) {
        // Round half away from zero: the magnitude goes up to the next unit.
        std::uint64_t units = below + 1;
        char* p = last;
        int digits = 0;
        while (units != 0 || digits <= decimals) {
            if (digits == decimals && decimals > 0) {
                *--p = '.';
            }
            *--p = static_cast<char>('0' + static_cast<int>(units % 10));
            units /= 10;
            ++digits;
        }
        if (std::signbit(value)) {
            *--p = '-';
        }
        return withoutNegativeZero(p, last);
    }
    const auto res = std::to_chars(buf, last, value, std::chars_format::fixed, decimals);
    return withoutNegativeZero(buf, res.ptr);
}

QString formatGeneral(double value) {
    if (!std::isfinite(value)) {
        return QString::number(value);
    }
    if (value == 0.0) {
        return QStringLiteral("0"); // never "-0"
    }
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
    return QString::fromLatin1(buf, static_cast<qsizetype>(res.ptr - buf));
}

QString decodeInstrumentText(const char* bytes, std::size_t maxLen) {
    const void* nul = std::memchr(bytes, 0, maxLen);
    const std::size_t len =
        nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - bytes) : maxLen;
    bool ascii = true;
    for (std::size_t i = 0; i < len && ascii; ++i) {
        ascii = static_cast<unsigned char>(bytes[i]) < 0x80;
    }
    if (ascii) {
        return QString::fromLatin1(bytes, static_cast<qsizetype>(len));
    }
    QStringDecoder decoder("GB18030");
    if (!decoder.isValid()) {
        return QString::fromLatin1(bytes, static_cast<qsizetype>(len));
    }
    return decoder.decode(QByteArrayView(bytes, static_cast<qsizetype>(len)));
}

} // namespace ufd::online

#include "core/protocol/packet.h"

#include <array>
#include <cstring>

namespace ufd::protocol {

namespace {

// The 32 shift steps that follow each word, as a function of the register after the word was
// XORed in.
constexpr std::uint32_t shift32(std::uint32_t crc) {
    for (int bit = 0; bit < 32; ++bit) {
        crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : (crc << 1);
    }
    return crc;
}

// Those steps are linear in the register, so they are the XOR of their effect on each of its
// four bytes: one table per byte, worked out at compile time. A whole upload is checked word
// by word, so this matters for the time an upload costs.
using ByteTables = std::array<std::array<std::uint32_t, 256>, 4>;
constexpr ByteTables makeTables() {
    ByteTables t{};
    for (std::uint32_t b = 0; b < 256; ++b) {
        for (std::uint32_t k = 0; k < 4; ++k) {
            t[k][b] = shift32(b << (8 * k));
        }
    }
    return t;
}
constexpr ByteTables kCrcTables = makeTables();

std::uint32_t crcWord(std::uint32_t crc, std::uint32_t word) {
    crc ^= word;
    return kCrcTables[0][crc & 0xFF] ^ kCrcTables[1][(crc >> 8) & 0xFF] ^
           kCrcTables[2][(crc >> 16) & 0xFF] ^ kCrcTables[3][crc >> 24];
}

} // namespace

std::uint16_t readU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t readU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void writeU16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v & 0xFF);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void writeU32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF);
    }
}

std::uint32_t PacketCrc32(const std::uint8_t* data, std::uint16_t count) {
    std::uint32_t crc = 0xFFFFFFFFu;
    const std::size_t words = count / 4;
    for (std::size_t i = 0; i < words; ++i) {
        crc = crcWord(crc, readU32(data + 4 * i));
    }
    const std::size_t rest = count % 4;
    if (rest != 0) {
        std::uint32_t w = 0;
        for (std::size_t k = 0; k < rest; ++k) {
            w |= static_cast<std::uint32_t>(data[4 * words + k]) << (8 * k);
        }
        crc = crcWord(crc, w);
    }
    return crc;
}

std::string BytesToHex(const std::uint8_t* data, std::size_t count) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(count * 3);
    for (std::size_t i = 0; i < count; ++i) {
        out.push_back(digits[data[i] >> 4]);
        out.push_back(digits[data[i] & 0x0F]);
        out.push_back(' ');
    }
    return out;
}

bool TxBuffer::BuildCmdPacket(std::uint8_t code, std::uint16_t length) {
    if (length < kMinPacketSize || length > kTxBufferSize) {
        return false;
    }
    bytes_[0] = 0x24;
    bytes_[1] = 0x16;
    bytes_[2] = 0xFE;
    bytes_[3] = 0xCC;
    writeU16(&bytes_[4], length);
    bytes_[6] = code;
    bytes_[7] = 0;
    const auto crcAt = static_cast<std::uint16_t>(length - kCrcSize);
    writeU32(&bytes_[crcAt], PacketCrc32(bytes_.data(), crcAt));
    return true;
}

void TxBuffer::putBytes(std::size_t offset, const void* src, std::size_t n) {
    if (offset > kTxBufferSize || n > kTxBufferSize - offset) {
        return;
    }
    std::memcpy(bytes_.data() + offset, src, n);
}

std::string buildResponsePacket(std::uint8_t code, std::uint8_t status, const std::uint8_t* payload,
                                std::size_t payloadLen) {
    const std::size_t total = kMinPacketSize + payloadLen;
    std::string out(total, '\0');
    auto* p = reinterpret_cast<std::uint8_t*>(out.data());
    p[0] = 0x24;
    p[1] = 0x16;
    p[2] = 0xFE;
    p[3] = 0xCC;
    writeU16(p + 4, static_cast<std::uint16_t>(total));
    p[6] = code;
    p[7] = status;
    if (payloadLen > 0) {
        std::memcpy(p + kHeaderSize, payload, payloadLen);
    }
    const auto crcAt = static_cast<std::uint16_t>(total - kCrcSize);
    writeU32(p + crcAt, PacketCrc32(p, crcAt));
    return out;
}

} // namespace ufd::protocol

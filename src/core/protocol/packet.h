#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace ufd::protocol {

// Command codes of the instrument protocol.
enum CommandCode : std::uint8_t {
    CmdConnect = 16,
    CmdDisconnect = 18,
    CmdOnlineEvent = 20,
    CmdOnlineRequest = 48,
    CmdOpenFile = 96,
    CmdCloseFile = 97,
    CmdSetOffset = 98,
    CmdReadBlock = 99,
};

constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kCrcSize = 4;
constexpr std::size_t kMinPacketSize = kHeaderSize + kCrcSize;
constexpr std::size_t kTxBufferSize = 541;
constexpr char kOpenFileName[] = "N0:report.bin"; // 13 bytes, no terminator on the line

// CRC-32/MPEG-2 over little-endian 32-bit words; the tail word is zero-padded above.
std::uint32_t PacketCrc32(const std::uint8_t* data, std::uint16_t count);

// Two upper-case hex digits and one blank per byte ("24 0C ").
std::string BytesToHex(const std::uint8_t* data, std::size_t count);

std::uint16_t readU16(const std::uint8_t* p);
std::uint32_t readU32(const std::uint8_t* p);
void writeU16(std::uint8_t* p, std::uint16_t v);
void writeU32(std::uint8_t* p, std::uint32_t v);

// The single buffer every command is built in. A command's payload goes in from offset 8
// before the header is filled.
class TxBuffer {
public:
    TxBuffer() { bytes_.fill(0); }

    std::uint8_t* data() { return bytes_.data(); }
    const std::uint8_t* data() const { return bytes_.data(); }
    static constexpr std::size_t capacity() { return kTxBufferSize; }

    // Writes the header for `code` and `length` and the checksum over the first length - 4
    // bytes. Returns false (and writes nothing) when the packet would not fit the buffer or is
    // shorter than a bare header and checksum.
    bool BuildCmdPacket(std::uint8_t code, std::uint16_t length);

    // Payload helpers; offsets count from the start of the packet.
    void putU32(std::size_t offset, std::uint32_t v) { writeU32(bytes_.data() + offset, v); }
    void putBytes(std::size_t offset, const void* src, std::size_t n);

private:
    std::array<std::uint8_t, kTxBufferSize> bytes_;
};

// Builds a complete response packet (as the instrument sends it) into `out`.
std::string buildResponsePacket(std::uint8_t code, std::uint8_t status, const std::uint8_t* payload,
                                std::size_t payloadLen);

} // namespace ufd::protocol

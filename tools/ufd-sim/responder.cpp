#include "responder.h"

#include "core/online/record.h"
#include "core/protocol/packet.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace ufd::sim {

using namespace protocol;

namespace {

std::string answer(std::uint8_t code, std::uint8_t status, const std::uint8_t* payload = nullptr,
                   std::size_t size = 0) {
    return buildResponsePacket(code, status, payload, size);
}

std::string statusText(std::uint8_t status) {
    return status == Responder::kStatusOk ? "ok" : "failed";
}

} // namespace

void Responder::reset() {
    connected_ = false;
    fileOpen_ = false;
    file_.clear();
    position_ = 0;
    commands_ = 0;
    answers_ = 0;
    reads_ = 0;
}

std::string Responder::onlinePacket(std::uint8_t code, demo::CurveSet curves) {
    // The flaw echo sweeps back and forth over the screen while its height breathes.
    const double phase = static_cast<double>(frames_++) / 12.0;
    demo::EchoScene scene;
    scene.curves = curves;
    scene.angleProbe = curves != demo::CurveSet::Avg;
    const double range = scene.angleProbe ? 100.0 : 200.0; // mm, as makeRecord sets it
    scene.flawPath = range * (0.45 + 0.15 * std::sin(phase));
    scene.flawHeight = 55.0 + 30.0 * std::fabs(std::cos(phase * 0.7));
    const online::InstrumentRecord rec = demo::makeRecord(scene, rng_);
    std::array<std::uint8_t, online::kRecordSize> raw{};
    online::encodeRecord(rec, online::Encoding::Live, raw.data());
    return answer(code, kStatusOk, raw.data(), raw.size());
}

Responder::Reply Responder::handle(const std::vector<std::uint8_t>& command,
                                   const Settings& settings) {
    const Faults& f = settings.faults;
    Reply reply;
    ++commands_;
    reply.hangUp = f.closeAfter > 0 && commands_ >= f.closeAfter;
    reply.switchOff = f.offAfter > 0 && commands_ >= f.offAfter;
    const std::uint8_t code = command[6];
    if (f.dropEvery > 0 && commands_ % f.dropEvery == 0) {
        reply.note = "dropped (fault)";
        return reply;
    }
    switch (code) {
    case CmdConnect:
        connected_ = true;
        reply.packet = answer(code, kStatusOk);
        reply.note = "connected";
        break;
    case CmdDisconnect:
        connected_ = false;
        reply.packet = answer(code, kStatusOk);
        reply.note = "disconnected";
        break;
    case CmdOnlineRequest:
        reply.packet = onlinePacket(code, settings.curves);
        reply.note = "live record";
        break;
    case CmdOpenFile:
    case CmdCloseFile:
    case CmdSetOffset:
    case CmdReadBlock:
        reply.packet = fileAnswer(command, settings, reply.note);
        if (code == CmdReadBlock && f.lateReadAt > 0 && reads_ == f.lateReadAt) {
            reply.holdBack = f.lateReadBy;
            reply.note += ", held back (fault)";
        }
        break;
    default:
        reply.note = "unknown command, not answered";
        return reply;
    }
    ++answers_;
    reply.split = f.splitEvery > 0 && answers_ % f.splitEvery == 0;
    return reply;
}

std::string Responder::fileAnswer(const std::vector<std::uint8_t>& command,
                                  const Settings& settings, std::string& note) {
    const Faults& f = settings.faults;
    const std::uint8_t code = command[6];
    // 98 and 99 carry a 32-bit value; anything shorter is refused rather than read past.
    const bool hasValue = command.size() >= kMinPacketSize + 4;
    const std::uint32_t value = hasValue ? readU32(command.data() + kHeaderSize) : 0;
    const auto fileSize = static_cast<std::uint32_t>(file_.size());

    if (code == CmdOpenFile) {
        const std::size_t nameLen = sizeof(kOpenFileName) - 1;
        const bool nameOk = command.size() == kMinPacketSize + nameLen &&
                            std::memcmp(command.data() + kHeaderSize, kOpenFileName, nameLen) == 0;
        if (f.failOpen || !nameOk) {
            note = f.failOpen ? "open refused (fault)" : "open refused: unknown file";
            return answer(code, kStatusFailed);
        }
        fileOpen_ = true;
        file_ = settings.reportImage;
        position_ = 0;
        std::array<std::uint8_t, 12> payload{};
        writeU32(payload.data() + 8, static_cast<std::uint32_t>(file_.size()));
        note = "file open, " + std::to_string(file_.size()) + " bytes";
        return answer(code, kStatusOk, payload.data(), payload.size());
    }
    if (code == CmdCloseFile) {
        fileOpen_ = false;
        file_.clear();
        note = "file closed";
        return answer(code, kStatusOk);
    }
    if (code == CmdSetOffset) {
        const bool ok = fileOpen_ && hasValue && value <= fileSize;
        if (ok) {
            position_ = value;
        }
        note = "seek " + std::to_string(value) + " " + statusText(ok ? kStatusOk : kStatusFailed);
        return answer(code, ok ? kStatusOk : kStatusFailed);
    }

    ++reads_;
    std::string packet;
    if (f.failReadAt > 0 && reads_ == f.failReadAt) {
        note = "read refused (fault)";
        packet = answer(code, kStatusFailed);
    } else if (!fileOpen_ || !hasValue || value == 0 || value > kMaxBlock) {
        note = "read refused";
        packet = answer(code, kStatusFailed);
    } else {
        const std::uint32_t count = std::min(value, fileSize - position_);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(file_.constData()) + position_;
        note = "read " + std::to_string(count) + " at " + std::to_string(position_);
        position_ += count;
        packet = answer(code, kStatusOk, bytes, count);
    }
    if (f.damageReadEvery > 0 && reads_ % f.damageReadEvery == 0) {
        packet.back() = static_cast<char>(packet.back() ^ 0x5A);
        note += ", checksum damaged (fault)";
    }
    return packet;
}

} // namespace ufd::sim

#pragma once

#include "core/protocol/dispatcher.h"
#include "core/protocol/packet.h"

#include <QByteArray>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ufd::test {

// A response timer the test drives by hand; counts every (re)start so a restart shows.
struct FakeTimer final : protocol::ResponseTimer {
    int interval_ = 10000;
    bool active = false;
    int starts = 0;

    int interval() const override { return interval_; }
    void setInterval(int ms) override {
        interval_ = ms;
        if (active) {
            ++starts;
        }
    }
    bool isActive() const override { return active; }
    void start() override {
        active = true;
        ++starts;
    }
    void stop() override { active = false; }
};

// A dispatcher whose writer records every packet, whose timer is a FakeTimer and whose clock
// and line speed the test sets.
struct Line {
    std::vector<QByteArray> sent;
    bool portOpen = true;
    FakeTimer* timer = nullptr;
    qint64 clockMs = 0;
    std::uint32_t baud = 0;
    protocol::Dispatcher d;

    Line()
        : d(
              [this](const std::uint8_t* p, std::uint16_t n) {
                  sent.emplace_back(reinterpret_cast<const char*>(p), n);
                  return portOpen;
              },
              [this](std::function<void()>) {
                  auto t = std::make_unique<FakeTimer>();
                  timer = t.get();
                  return t;
              }) {
        d.setClock([this] { return clockMs; });
        d.setLineSpeed([this] { return baud; });
    }

    std::string hex(std::size_t i) const {
        return protocol::BytesToHex(reinterpret_cast<const std::uint8_t*>(sent.at(i).data()),
                                    static_cast<std::size_t>(sent.at(i).size()));
    }
    std::uint8_t code(std::size_t i) const { return static_cast<std::uint8_t>(sent.at(i)[6]); }
    std::uint32_t value(std::size_t i) const {
        return protocol::readU32(reinterpret_cast<const std::uint8_t*>(sent.at(i).data()) + 8);
    }
};

inline QByteArray response(std::uint8_t code, std::uint8_t status = 0,
                           const QByteArray& payload = {}) {
    const std::string p = protocol::buildResponsePacket(
        code, status, reinterpret_cast<const std::uint8_t*>(payload.constData()),
        static_cast<std::size_t>(payload.size()));
    return QByteArray(p.data(), static_cast<qsizetype>(p.size()));
}

// The instrument's side of the file transfer, with faults injected per command number
// (counting every command it receives from 0).
class FakeInstrument {
public:
    enum class Fault { Drop, Damage, FailStatus, Oversize };

    explicit FakeInstrument(QByteArray file) : file_(std::move(file)) {}

    std::map<int, Fault> faults;

    // Carries out the command and returns its answer; empty when the answer is lost.
    QByteArray answer(const QByteArray& cmd) {
        const int index = received_++;
        const auto* c = reinterpret_cast<const std::uint8_t*>(cmd.constData());
        const std::uint8_t code = c[6];
        const auto fault = faults.find(index);
        const bool failStatus = fault != faults.end() && fault->second == Fault::FailStatus;
        QByteArray payload;
        switch (code) {
        case protocol::CmdOpenFile:
            pos_ = 0;
            payload = QByteArray(12, '\0');
            protocol::writeU32(reinterpret_cast<std::uint8_t*>(payload.data()) + 8,
                               static_cast<std::uint32_t>(file_.size()));
            break;
        case protocol::CmdSetOffset:
            pos_ = protocol::readU32(c + 8);
            break;
        case protocol::CmdReadBlock: {
            qsizetype n = protocol::readU32(c + 8);
            if (fault != faults.end() && fault->second == Fault::Oversize) {
                n += 64;
                payload = file_.mid(pos_, n).leftJustified(n, '\x5A');
            } else {
                payload = file_.mid(pos_, n);
            }
            pos_ += payload.size();
            break;
        }
        default:
            break;
        }
        QByteArray block = response(code, failStatus ? 1 : 0, payload);
        if (fault != faults.end() && fault->second == Fault::Drop) {
            return {};
        }
        if (fault != faults.end() && fault->second == Fault::Damage) {
            block[block.size() / 2] = static_cast<char>(block[block.size() / 2] ^ 0x40);
        }
        return block;
    }

private:
    QByteArray file_;
    qsizetype pos_ = 0;
    int received_ = 0;
};

// Lets the instrument answer every packet the line sends, and lets the response timer run
// out whenever an answer was lost, until nothing is outstanding. Packets before `next` were
// dealt with earlier.
inline void runExchange(Line& line, FakeInstrument& inst, std::size_t next = 0) {
    for (int guard = 0; guard < 10000; ++guard) {
        if (next < line.sent.size()) {
            const QByteArray reply = inst.answer(line.sent[next++]);
            if (!reply.isEmpty()) {
                line.d.CommReceiveData(reply);
            }
        } else if (line.timer->active) {
            line.d.Timer1Timer();
        } else {
            return;
        }
    }
}

} // namespace ufd::test

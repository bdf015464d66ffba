// Received blocks of any content through the dispatcher, with an upload in progress so the
// file-transfer answers are decoded too. Nothing outside the receive buffer or the report
// image may be touched, whatever the length fields say.
#include "core/protocol/dispatcher.h"
#include "core/protocol/packet.h"
#include "core/protocol/report_image.h"
#include "core/protocol/report_transfer.h"

#include <QByteArray>

namespace {

// Time never passes here: the response timer only records what it is told.
class StillTimer final : public ufd::protocol::ResponseTimer {
public:
    int interval() const override { return interval_; }
    void setInterval(int ms) override { interval_ = ms; }
    bool isActive() const override { return active_; }
    void start() override { active_ = true; }
    void stop() override { active_ = false; }

private:
    int interval_ = 10000;
    bool active_ = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ufd::protocol;
    Dispatcher dispatcher([](const std::uint8_t*, std::uint16_t) { return true; },
                          [](std::function<void()>) { return std::make_unique<StillTimer>(); });
    ReportImage image;
    ReportTransfer transfer(dispatcher, image);
    transfer.setSaveTarget(QString()); // an empty target: a completed upload fails to save
    transfer.StartUpload();
    // The input is a sequence of blocks, each preceded by a one-byte length selector; a block
    // is also re-sent with a good checksum so the routing past the check is reached.
    std::size_t pos = 0;
    while (pos < size) {
        const std::size_t want = (static_cast<std::size_t>(data[pos]) * 37) % 8300 + 1;
        ++pos;
        const std::size_t n = std::min(want, size - pos);
        QByteArray block(reinterpret_cast<const char*>(data + pos), static_cast<qsizetype>(n));
        pos += n;
        dispatcher.CommReceiveData(block);
        if (n >= kMinPacketSize) {
            const std::uint8_t code = static_cast<std::uint8_t>(block[6]);
            const std::uint8_t status = static_cast<std::uint8_t>(block[7]);
            const std::string good = buildResponsePacket(
                code, status, reinterpret_cast<const std::uint8_t*>(block.constData()) + 8,
                std::min<std::size_t>(n - kMinPacketSize, 8192 - kMinPacketSize));
            dispatcher.CommReceiveData(
                QByteArray(good.data(), static_cast<qsizetype>(good.size())));
        }
        dispatcher.Timer1Timer();
    }
    return 0;
}

#include "protocol/dispatcher.h"

#include "protocol/report_transfer.h"

#include <algorithm>
#include <cstring>

namespace ufd::protocol {

namespace {

// Interval the response timer holds before the first supervised send sets its own.
constexpr int kInitialTimerInterval = 10000;

constexpr std::uint16_t kOpenFileLength =
    static_cast<std::uint16_t>(kMinPacketSize + sizeof(kOpenFileName) - 1);

} // namespace

QString connectedStatusText() {
    return QStringLiteral("Connect");
}
QString disconnectedStatusText() {
    return QStringLiteral("Disconnect");
}
QString dataCheckErrorText() {
    return QStringLiteral("Data Check error");
}
QString portClosedConnectText() {
    return QStringLiteral("请您先在“通信设置”菜单中打开通信口！");
}
QString retryTimeoutText(int retry) {
    return QStringLiteral("Communication timeout and try again") + QString::number(retry) +
           QStringLiteral("...");
}
QString finalTimeoutText() {
    return QStringLiteral(
        "Communication timeout，Please check the line and communication baud rate!");
}

QtResponseTimer::QtResponseTimer(std::function<void()> onTick) {
    timer_.setInterval(kInitialTimerInterval);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, std::move(onTick));
}

Dispatcher::Dispatcher(Writer writer, QObject* parent)
    : Dispatcher(
          std::move(writer),
          [](std::function<void()> onTick) {
              return std::make_unique<QtResponseTimer>(std::move(onTick));
          },
          parent) {}

Dispatcher::Dispatcher(Writer writer, const TimerFactory& makeTimer, QObject* parent)
    : QObject(parent), writer_(std::move(writer)), timer_(makeTimer([this] { Timer1Timer(); })) {}

Dispatcher::~Dispatcher() = default;

void Dispatcher::write(std::uint16_t length) {
    if (writer_) {
        writer_(tx_.data(), length);
    }
}

// Only a change of interval or a start of a stopped timer takes effect: a running timer with
// the same period keeps counting from the earlier send.
void Dispatcher::armSupervision() {
    if (timer_->interval() != responseTimeout_) {
        timer_->setInterval(responseTimeout_);
    }
    if (!timer_->isActive()) {
        timer_->start();
    }
    retryLimit_ = kDefaultRetryLimit;
    retryCount_ = 0;
}

void Dispatcher::SendPublicCmd(std::uint8_t code) {
    scom_.LastCmdCode = code;
    tx_.BuildCmdPacket(code, static_cast<std::uint16_t>(kMinPacketSize));
    txLength_ = static_cast<std::uint16_t>(kMinPacketSize);
    write(txLength_);
    armSupervision();
}

void Dispatcher::SendLen16Cmd(std::uint8_t code, std::uint32_t value) {
    constexpr auto length = static_cast<std::uint16_t>(kMinPacketSize + 4);
    tx_.putU32(kHeaderSize, value);
    scom_.LastCmdCode = code;
    tx_.BuildCmdPacket(code, length);
    txLength_ = length;
    emit dataMonitorLine(QString::fromStdString(BytesToHex(tx_.data(), length)));
    write(txLength_);
    armSupervision();
}

void Dispatcher::SendOpenFileCmd() {
    tx_.putBytes(kHeaderSize, kOpenFileName, sizeof(kOpenFileName) - 1);
    scom_.LastCmdCode = CmdOpenFile;
    tx_.BuildCmdPacket(CmdOpenFile, kOpenFileLength);
    txLength_ = kOpenFileLength;
    write(txLength_);
    armSupervision();
}

// Polls are never supervised; a poll also ends the supervision of whatever was outstanding.
void Dispatcher::SendOnlinePoll() {
    tx_.BuildCmdPacket(CmdOnlineRequest, static_cast<std::uint16_t>(kMinPacketSize));
    txLength_ = static_cast<std::uint16_t>(kMinPacketSize);
    write(txLength_);
    timer_->stop();
}

void Dispatcher::Resend() {
    write(txLength_);
}

void Dispatcher::stopResponseTimer() {
    timer_->stop();
}

void Dispatcher::CommReceiveError(quint32 /*eventMask*/) {
    rcom_.RxErrorFlag = true;
}

void Dispatcher::CommReceiveData(const QByteArray& block) {
    if (rcom_.RxErrorFlag) {
        rcom_.RxErrorFlag = false;
        return;
    }
    retryCount_ = 0;
    timer_->stop();

    const auto received =
        static_cast<std::size_t>(std::min<qsizetype>(block.size(), qsizetype{kRxBufferSize}));
    if (received > 0) {
        std::memcpy(rcom_.RxBuffer.data(), block.constData(), received);
    }
    rcom_.RespLength = readU16(&rcom_.RxBuffer[4]);

    // A length that does not leave header and checksum inside the received bytes cannot be
    // checked; it is handled like a damaged packet.
    const auto length = static_cast<std::size_t>(rcom_.RespLength);
    if (length < kMinPacketSize || length > received) {
        recoverDamagedBlock();
        return;
    }
    const auto crcAt = static_cast<std::uint16_t>(length - kCrcSize);
    rcom_.RespCrc = PacketCrc32(rcom_.RxBuffer.data(), crcAt);
    if (readU32(&rcom_.RxBuffer[crcAt]) != rcom_.RespCrc) {
        recoverDamagedBlock();
        return;
    }
    rcom_.RespCode = rcom_.RxBuffer[6];
    rcom_.RespStatus = rcom_.RxBuffer[7];
    rcom_.PayloadLength = rcom_.RespLength - static_cast<std::int32_t>(kMinPacketSize);
    route();
}

void Dispatcher::recoverDamagedBlock() {
    if (scom_.LastCmdCode == CmdReadBlock) {
        // The instrument has moved past the damaged block: seek back and read it again. With
        // no transfer attached there is nothing to read it for.
        if (ReportTransfer* t = transfer_.data()) {
            SendLen16Cmd(CmdSetOffset, static_cast<std::uint32_t>(t->TransferOffset()));
        }
    } else {
        Resend();
    }
    emit dataCheckError(dataCheckErrorText());
}

void Dispatcher::route() {
    switch (rcom_.RespCode) {
    case CmdConnect:
        linkConnected_ = true;
        emit linkStateChanged(true, connectedStatusText());
        break;
    case CmdDisconnect:
        linkConnected_ = false;
        emit linkStateChanged(false, disconnectedStatusText());
        break;
    case CmdOnlineEvent:
    case CmdOnlineRequest:
        emit onlineData(
            QByteArray(reinterpret_cast<const char*>(rcom_.RxBuffer.data()), rcom_.RespLength));
        break;
    case CmdOpenFile:
        if (ReportTransfer* t = transfer_.data()) {
            t->OpenFileProc(rcom_);
        }
        break;
    case CmdCloseFile:
        if (ReportTransfer* t = transfer_.data()) {
            t->CloseFileProc(rcom_);
        }
        break;
    case CmdSetOffset:
        if (ReportTransfer* t = transfer_.data()) {
            t->SetOffsetProc(rcom_);
        }
        break;
    case CmdReadBlock:
        if (ReportTransfer* t = transfer_.data()) {
            t->ReadBlockProc(rcom_);
        }
        break;
    default:
        break;
    }
}

void Dispatcher::Timer1Timer() {
    timer_->stop();
    const auto code = scom_.LastCmdCode;
    if (retryCount_ < retryLimit_) {
        ++retryCount_;
        const QString text = retryTimeoutText(retryCount_);
        ReportTransfer* t = transfer_.data();
        if (code == CmdReadBlock && t != nullptr) {
            // Repeating the read would fetch the block after the lost one and store it in the
            // lost one's place; seek back instead. The seek takes this resend's turn.
            const std::int32_t retries = retryCount_;
            SendLen16Cmd(CmdSetOffset, static_cast<std::uint32_t>(t->TransferOffset()));
            retryCount_ = retries;
        } else {
            Resend();
            timer_->start();
        }
        emit communicationTimeout(text, code, false);
    } else {
        retryCount_ = 0;
        emit communicationTimeout(finalTimeoutText(), code, true);
    }
}

bool Dispatcher::ConnectButtonClick(bool portOpen) {
    if (!portOpen) {
        emit operatorMessage(portClosedConnectText());
        return false;
    }
    SendPublicCmd(linkConnected_ ? CmdDisconnect : CmdConnect);
    return true;
}

void Dispatcher::attachTransfer(ReportTransfer* transfer) {
    transfer_ = transfer;
}

ReportTransfer* Dispatcher::transfer() const {
    return transfer_.data();
}

void Dispatcher::detachTransfer(const ReportTransfer* transfer) {
    if (transfer_.data() == transfer) {
        transfer_.clear();
    }
}

} // namespace ufd::protocol

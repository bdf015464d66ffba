#include "core/protocol/dispatcher.h"

#include "core/protocol/report_transfer.h"

#include <QElapsedTimer>
#include <algorithm>
#include <cstring>

namespace ufd::protocol {

namespace {

// Interval the response timer holds before the first supervised send sets its own.
constexpr int kInitialTimerInterval = 10000;

constexpr std::uint16_t kOpenFileLength =
    static_cast<std::uint16_t>(kMinPacketSize + sizeof(kOpenFileName) - 1);

// Answers that may still come are remembered this far back; any answer that does come clears
// everything sent before its command.
constexpr std::size_t kMaxInFlight = 32;

bool isOnlineCode(std::uint8_t code) {
    return code == CmdOnlineRequest || code == CmdOnlineEvent;
}

bool isLinkCode(std::uint8_t code) {
    return code == CmdConnect || code == CmdDisconnect;
}

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
QString lineLostText() {
    return QStringLiteral("The line to the instrument was lost; the port was closed.");
}

namespace {
// A device path is long for a status panel; its name says which port it is.
QString shortPortName(const QString& portName) {
    const qsizetype slash = portName.lastIndexOf(QLatin1Char('/'));
    return slash >= 0 ? portName.mid(slash + 1) : portName;
}
} // namespace

QString lineBackText(const QString& portName, bool reconnecting) {
    return (reconnecting ? QStringLiteral("Line back on %1: reconnecting")
                         : QStringLiteral("Line back on %1: port reopened"))
        .arg(shortPortName(portName));
}
QString reconnectedText(const QString& portName) {
    return QStringLiteral("Connect again: line back on %1").arg(shortPortName(portName));
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
    : QObject(parent), writer_(std::move(writer)), timer_(makeTimer([this] { Timer1Timer(); })) {
    auto elapsed = std::make_shared<QElapsedTimer>();
    elapsed->start();
    clock_ = [elapsed] { return elapsed->elapsed(); };
}

Dispatcher::~Dispatcher() = default;

qint64 Dispatcher::now() const {
    return clock_();
}

void Dispatcher::write(std::uint16_t length) {
    if (writer_) {
        writer_(tx_.data(), length);
    }
}

// The instrument works through what it was sent in order, so this command's answer can come
// only after the answers still due for earlier ones (and a live answer, if a poll is out).
int Dispatcher::supervisionInterval() const {
    std::size_t ahead = 0;
    for (const InFlight& f : inFlight_) {
        ahead = std::max(ahead, f.request == request_ ? std::size_t{0} : f.answerBytes);
    }
    if (pollOutstanding_) {
        ahead += kLiveAnswerSize;
    }
    return responseTimeoutMs(ahead + requestAnswerBytes_, baud(), responseTimeout_);
}

// Only a change of interval or a start of a stopped timer takes effect: a running timer with
// the same period keeps counting from the earlier send.
void Dispatcher::armSupervision() {
    const int interval = supervisionInterval();
    if (timer_->interval() != interval) {
        timer_->setInterval(interval);
    }
    if (!timer_->isActive()) {
        timer_->start();
    }
    retryLimit_ = kDefaultRetryLimit;
}

void Dispatcher::writeRequest() {
    if (writer_) {
        writer_(reinterpret_cast<const std::uint8_t*>(requestPacket_.constData()),
                static_cast<std::uint16_t>(requestPacket_.size()));
    }
    inFlight_.push_back({static_cast<std::uint8_t>(scom_.LastCmdCode), request_, requestPacket_,
                         requestAnswerBytes_});
    while (inFlight_.size() > kMaxInFlight) {
        inFlight_.pop_front();
    }
}

void Dispatcher::sendSupervised(std::uint8_t code, std::uint16_t length, std::size_t answerBytes,
                                Attempts attempts, bool monitored) {
    scom_.LastCmdCode = code;
    tx_.BuildCmdPacket(code, length);
    txLength_ = length;
    if (monitored) {
        emit dataMonitorLine(QString::fromStdString(BytesToHex(tx_.data(), length)));
    }
    ++request_;
    requestOpen_ = true;
    requestPacket_ = QByteArray(reinterpret_cast<const char*>(tx_.data()), length);
    requestAnswerBytes_ = answerBytes;
    writeRequest();
    armSupervision();
    if (attempts == Attempts::Reset) {
        retryCount_ = 0;
        emit commandStarted(code);
    }
}

void Dispatcher::SendPublicCmd(std::uint8_t code) {
    sendSupervised(code, static_cast<std::uint16_t>(kMinPacketSize), longestAnswer(code, 0),
                   Attempts::Reset, false);
}

void Dispatcher::SendLen16Cmd(std::uint8_t code, std::uint32_t value, Attempts attempts) {
    constexpr auto length = static_cast<std::uint16_t>(kMinPacketSize + 4);
    tx_.putU32(kHeaderSize, value);
    sendSupervised(code, length, longestAnswer(code, value), attempts, true);
}

void Dispatcher::SendOpenFileCmd() {
    tx_.putBytes(kHeaderSize, kOpenFileName, sizeof(kOpenFileName) - 1);
    sendSupervised(CmdOpenFile, kOpenFileLength, longestAnswer(CmdOpenFile, 0), Attempts::Reset,
                   false);
}

bool Dispatcher::SendOnlinePoll() {
    const qint64 t = now();
    if (pollOutstanding_ && t - pollSentAt_ < pollTimeoutMs(baud(), responseTimeout_)) {
        return false;
    }
    tx_.BuildCmdPacket(CmdOnlineRequest, static_cast<std::uint16_t>(kMinPacketSize));
    txLength_ = static_cast<std::uint16_t>(kMinPacketSize);
    // A poll that could not be queued (the port is closed) has no answer to wait for.
    pollOutstanding_ = writer_ && writer_(tx_.data(), txLength_);
    pollSentAt_ = t;
    return true;
}

void Dispatcher::Resend() {
    if (requestPacket_.isEmpty()) {
        write(txLength_);
        return;
    }
    writeRequest();
}

void Dispatcher::stopResponseTimer() {
    timer_->stop();
    requestOpen_ = false;
}

void Dispatcher::CommReceiveError(quint32 /*eventMask*/) {
    rcom_.RxErrorFlag = true;
}

void Dispatcher::CommReceiveData(const QByteArray& chunk) {
    if (rcom_.RxErrorFlag) {
        rcom_.RxErrorFlag = false;
        return;
    }
    // The rest of an answer cut off by a quiet line is not going to come.
    const qint64 t = now();
    if (stream_.pending() > 0 && t - lastChunkAt_ > kBaseResponseTimeoutMs) {
        stream_.dropIncomplete();
        emit dataCheckError(dataCheckErrorText());
    }
    lastChunkAt_ = t;
    stream_.feed(chunk);
    while (std::optional<AnswerStream::Piece> piece = stream_.next()) {
        switch (piece->kind) {
        case AnswerStream::Kind::Answer:
            handleAnswer(piece->bytes);
            break;
        case AnswerStream::Kind::Damaged:
            handleDamaged(piece->bytes);
            break;
        case AnswerStream::Kind::Skipped:
            emit dataCheckError(dataCheckErrorText());
            break;
        }
    }
}

// The first command still waiting with this code is the one answered (the instrument answers
// in order, so every command before it went unanswered). A command identical to the outstanding
// one is answered just as well by the answer to an earlier copy, except a read, whose answer
// depends on where the instrument was when it read.
Dispatcher::Match Dispatcher::match(std::uint8_t code) {
    const auto it = std::find_if(inFlight_.begin(), inFlight_.end(),
                                 [code](const InFlight& f) { return f.code == code; });
    if (it == inFlight_.end()) {
        return Match::Unasked;
    }
    const bool current = requestOpen_ && (it->request == request_ ||
                                          (code != CmdReadBlock && it->packet == requestPacket_));
    inFlight_.erase(inFlight_.begin(), std::next(it));
    if (!current) {
        ++staleAnswers_;
        return Match::Stale;
    }
    return Match::Current;
}

void Dispatcher::handleAnswer(const QByteArray& packet) {
    std::memcpy(rcom_.RxBuffer.data(), packet.constData(), static_cast<std::size_t>(packet.size()));
    rcom_.RespLength = readU16(&rcom_.RxBuffer[4]);
    rcom_.RespCrc = readU32(&rcom_.RxBuffer[static_cast<std::size_t>(rcom_.RespLength) - kCrcSize]);
    rcom_.RespCode = rcom_.RxBuffer[6];
    rcom_.RespStatus = rcom_.RxBuffer[7];
    rcom_.PayloadLength = rcom_.RespLength - static_cast<std::int32_t>(kMinPacketSize);

    if (isOnlineCode(rcom_.RespCode)) {
        // Live records are shown whenever they come, asked for or pushed.
        pollOutstanding_ = false;
        emit onlineData(packet);
        return;
    }
    const Match m = match(rcom_.RespCode);
    if (m == Match::Stale && isLinkCode(rcom_.RespCode)) {
        // The link state is the instrument's word: a connect or disconnect it answers after its
        // time-out still happened. The command now outstanding stays supervised.
        if (linkConnected_ != (rcom_.RespCode == CmdConnect)) {
            setLinkState(rcom_.RespCode == CmdConnect);
        }
        return;
    }
    if (m != Match::Current) {
        return;
    }
    requestOpen_ = false;
    timer_->stop();
    route();
}

void Dispatcher::setLinkState(bool connected) {
    linkConnected_ = connected;
    // The answer to the connect sent again after the line came back says so.
    const QString text = !connected                    ? disconnectedStatusText()
                         : reconnectingPort_.isEmpty() ? connectedStatusText()
                                                       : reconnectedText(reconnectingPort_);
    reconnectingPort_.clear();
    emit linkStateChanged(connected, text);
}

void Dispatcher::handleDamaged(const QByteArray& packet) {
    emit dataCheckError(dataCheckErrorText());
    // The code byte is the best guess of what a damaged answer answers; when it names nothing
    // sent, it is taken for the outstanding command's.
    const auto code = static_cast<std::uint8_t>(packet[6]);
    if (isOnlineCode(code) && pollOutstanding_) {
        pollOutstanding_ = false;
        return;
    }
    if (!requestOpen_ || match(code) == Match::Stale) {
        return;
    }
    if (scom_.LastCmdCode == CmdReadBlock && transfer_.isNull()) {
        // Nothing to read the block again for.
        stopResponseTimer();
        return;
    }
    retryOrGiveUp(false);
}

// One more attempt at the outstanding command, or the end of it when the attempts are used
// up. A read is not repeated: the instrument has moved past the block, so it is sought back
// and the answer to the seek asks for the block again.
void Dispatcher::retryOrGiveUp(bool timedOut) {
    timer_->stop();
    const auto code = scom_.LastCmdCode;
    if (retryCount_ >= retryLimit_) {
        giveUp();
        return;
    }
    ++retryCount_;
    const QString text = retryTimeoutText(retryCount_);
    ReportTransfer* t = transfer_.data();
    if (code == CmdReadBlock && t != nullptr) {
        SendLen16Cmd(CmdSetOffset, static_cast<std::uint32_t>(t->TransferOffset()), Attempts::Keep);
    } else {
        Resend();
        armSupervision(); // the timer was stopped above: it counts afresh
    }
    if (timedOut) {
        emit communicationTimeout(text, code, false);
    }
}

void Dispatcher::giveUp() {
    const auto code = scom_.LastCmdCode;
    timer_->stop();
    retryCount_ = 0;
    requestOpen_ = false;
    emit communicationTimeout(finalTimeoutText(), code, true);
}

void Dispatcher::Timer1Timer() {
    timer_->stop();
    if (!requestOpen_) {
        return;
    }
    retryOrGiveUp(true);
}

void Dispatcher::lineLost() {
    reconnectingPort_.clear();
    timer_->stop();
    requestOpen_ = false;
    retryCount_ = 0;
    inFlight_.clear();
    pollOutstanding_ = false;
    stream_.clear();
    linkConnected_ = false;
    emit linkStateChanged(false, disconnectedStatusText());
    emit lineGone(lineLostText());
}

void Dispatcher::lineRestored(const QString& portName, bool reconnect) {
    reconnectingPort_ = reconnect ? portName : QString();
    emit lineBack(portName, lineBackText(portName, reconnect));
    if (reconnect) {
        SendPublicCmd(CmdConnect);
    }
}

void Dispatcher::route() {
    switch (rcom_.RespCode) {
    case CmdConnect:
    case CmdDisconnect:
        setLinkState(rcom_.RespCode == CmdConnect);
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

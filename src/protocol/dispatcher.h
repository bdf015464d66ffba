#pragma once

#include "protocol/packet.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>

namespace ufd::protocol {

class ReportTransfer;

constexpr std::size_t kRxBufferSize = 8192;
constexpr int kDefaultResponseTimeoutMs = 3000;
constexpr int kDefaultRetryLimit = 5;

// Command side: the code of the last supervised command, which chooses the recovery.
struct TSCOM {
    std::uint32_t LastCmdCode = 0;
};

// Response side: the last received block and what was read from it.
struct TRCOM {
    std::uint8_t RespCode = 0;
    std::int32_t RespLength = 0;
    std::int32_t RespStatus = 0;
    bool RxErrorFlag = false;
    std::int32_t PayloadLength = 0;
    std::uint32_t RespCrc = 0;
    std::array<std::uint8_t, kRxBufferSize> RxBuffer{};
};

// The timer that supervises the outstanding command. Mirrors the semantics the senders rely
// on: changing the interval of a running timer restarts it, start() restarts a running timer.
class ResponseTimer {
public:
    virtual ~ResponseTimer() = default;
    virtual int interval() const = 0;
    virtual void setInterval(int ms) = 0;
    virtual bool isActive() const = 0;
    virtual void start() = 0;
    virtual void stop() = 0;
};

// ResponseTimer on a QTimer of the calling thread.
class QtResponseTimer final : public ResponseTimer {
public:
    explicit QtResponseTimer(std::function<void()> onTick);
    int interval() const override { return timer_.interval(); }
    void setInterval(int ms) override { timer_.setInterval(ms); }
    bool isActive() const override { return timer_.isActive(); }
    void start() override { timer_.start(); }
    void stop() override { timer_.stop(); }

private:
    QTimer timer_;
};

// Sends the commands, supervises the one outstanding command with time-out and resend, and
// routes every received block by its code. Lives on the thread that runs the program logic.
class Dispatcher : public QObject {
    Q_OBJECT
public:
    // Hands bytes to the serial line; the result is not examined by any sender.
    using Writer = std::function<bool(const std::uint8_t*, std::uint16_t)>;
    // Builds the response timer; the dispatcher passes the tick handler.
    using TimerFactory = std::function<std::unique_ptr<ResponseTimer>(std::function<void()>)>;

    explicit Dispatcher(Writer writer, QObject* parent = nullptr);
    Dispatcher(Writer writer, const TimerFactory& makeTimer, QObject* parent = nullptr);
    ~Dispatcher() override;

    // Period of one supervised attempt.
    void setResponseTimeout(int ms) { responseTimeout_ = ms; }
    int responseTimeout() const { return responseTimeout_; }

    // Sending.
    void SendPublicCmd(std::uint8_t code);
    void SendLen16Cmd(std::uint8_t code, std::uint32_t value);
    void SendOpenFileCmd();
    void SendOnlinePoll();
    void Resend();

    // Receiving and supervision.
    void CommReceiveData(const QByteArray& block);
    void CommReceiveError(quint32 eventMask);
    void Timer1Timer();
    void stopResponseTimer();
    void clearRxErrorFlag() { rcom_.RxErrorFlag = false; }

    // The connect button: with the port closed only the operator message is given; otherwise
    // connect or disconnect is sent, and only the instrument's answer changes the link state.
    // Returns whether a command was sent.
    bool ConnectButtonClick(bool portOpen);

    bool linkConnected() const { return linkConnected_; }

    // File-transfer answers go to the attached transfer; without one they are dropped.
    void attachTransfer(ReportTransfer* transfer);
    void detachTransfer(const ReportTransfer* transfer);
    ReportTransfer* transfer() const;

    // The upload window shows the time-out texts only for the open-file command.
    static bool timeoutShownInUploadWindow(std::uint32_t lastCmdCode) {
        return lastCmdCode == CmdOpenFile;
    }

    const TSCOM& Scom() const { return scom_; }
    const TRCOM& Rcom() const { return rcom_; }
    const TxBuffer& txBuffer() const { return tx_; }
    std::uint16_t TxLength() const { return txLength_; }
    std::int32_t RetryCount() const { return retryCount_; }
    std::int32_t RetryLimit() const { return retryLimit_; }

signals:
    // "Connect" or "Disconnect" for panel 0 of the main window.
    void linkStateChanged(bool connected, const QString& statusText);
    // "Data Check error" for the main window's clock panel.
    void dataCheckError(const QString& text);
    // One time-out text; gaveUp marks the final one after the last resend.
    void communicationTimeout(const QString& text, quint32 lastCmdCode, bool gaveUp);
    // One line of the data monitor for every 16-byte command sent.
    void dataMonitorLine(const QString& line);
    // A good online data packet (codes 20 and 48), whole: header at 0, record at 8.
    void onlineData(const QByteArray& packet);
    // Message boxes for the operator.
    void operatorMessage(const QString& text);

private:
    void write(std::uint16_t length);
    void armSupervision();
    void recoverDamagedBlock();
    void route();

    Writer writer_;
    std::unique_ptr<ResponseTimer> timer_;
    int responseTimeout_ = kDefaultResponseTimeoutMs;

    TSCOM scom_;
    TRCOM rcom_;
    TxBuffer tx_;
    std::uint16_t txLength_ = 0;
    std::int32_t retryCount_ = 0;
    std::int32_t retryLimit_ = 0;
    bool linkConnected_ = false;
    QPointer<ReportTransfer> transfer_;
};

QString connectedStatusText();    // "Connect"
QString disconnectedStatusText(); // "Disconnect"
QString dataCheckErrorText();     // "Data Check error"
QString portClosedConnectText();  // asks the operator to open the port first
QString retryTimeoutText(int retry);
QString finalTimeoutText();

} // namespace ufd::protocol

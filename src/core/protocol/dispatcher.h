#pragma once

#include "core/protocol/answer_stream.h"
#include "core/protocol/line_timing.h"
#include "core/protocol/packet.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

namespace ufd::protocol {

class ReportTransfer;

constexpr std::size_t kRxBufferSize = kMaxAnswerSize;
constexpr int kDefaultResponseTimeoutMs = kBaseResponseTimeoutMs;
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
// routes every answer cut from the received bytes. The instrument answers in order, so an
// answer counts only for the command it answers: one that arrives for a command already given
// up or superseded is stale and changes nothing. Lives on the thread that runs the program.
class Dispatcher : public QObject {
    Q_OBJECT
public:
    // Hands bytes to the serial line; false when nothing could be queued.
    using Writer = std::function<bool(const std::uint8_t*, std::uint16_t)>;
    // Builds the response timer; the dispatcher passes the tick handler.
    using TimerFactory = std::function<std::unique_ptr<ResponseTimer>(std::function<void()>)>;
    // The port's speed in Bd (0: unknown), which the time-outs follow.
    using LineSpeed = std::function<std::uint32_t()>;
    // A monotonic clock in milliseconds.
    using Clock = std::function<qint64()>;

    // Whether a supervised send starts counting attempts afresh or goes on with the count of
    // the block being recovered.
    enum class Attempts { Reset, Keep };

    explicit Dispatcher(Writer writer, QObject* parent = nullptr);
    Dispatcher(Writer writer, const TimerFactory& makeTimer, QObject* parent = nullptr);
    ~Dispatcher() override;

    // The instrument's time to answer; the line time of the answer comes on top.
    void setResponseTimeout(int ms) { responseTimeout_ = ms; }
    int responseTimeout() const { return responseTimeout_; }
    void setLineSpeed(LineSpeed speed) { lineSpeed_ = std::move(speed); }
    void setClock(Clock clock) { clock_ = std::move(clock); }

    // Sending.
    void SendPublicCmd(std::uint8_t code);
    void SendLen16Cmd(std::uint8_t code, std::uint32_t value, Attempts attempts = Attempts::Reset);
    void SendOpenFileCmd();
    // The live poll, never supervised and never resent. Sent only while no earlier poll is
    // awaited (or it has been awaited past its line time and margin); returns whether it went.
    bool SendOnlinePoll();
    bool pollOutstanding() const { return pollOutstanding_; }
    // How long a live answer may take at the port's speed before it counts as overdue.
    int pollTimeout() const { return pollTimeoutMs(baud(), responseTimeout_); }
    // Repeats the outstanding supervised command.
    void Resend();

    // Receiving and supervision.
    void CommReceiveData(const QByteArray& chunk);
    void CommReceiveError(quint32 eventMask);
    void Timer1Timer();
    // Ends the supervision of the outstanding command for good: no more resends, and its
    // answer, should it come, is stale.
    void stopResponseTimer();
    void clearRxErrorFlag() { rcom_.RxErrorFlag = false; }
    // The line has vanished (the adapter was pulled): nothing outstanding can be answered any
    // more and the instrument is no longer connected.
    void lineLost();
    // The lost line is back and its port open again under `portName`; with `reconnect` (the
    // instrument was connected when the line went) connect is sent again, and its answer says
    // so in the link state's text.
    void lineRestored(const QString& portName, bool reconnect);

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
    // Answers discarded because the command they answer was already given up or superseded.
    long long staleAnswers() const { return staleAnswers_; }

signals:
    // "Connect" or "Disconnect" for panel 0 of the main window.
    void linkStateChanged(bool connected, const QString& statusText);
    // "Data Check error" for the main window's clock panel.
    void dataCheckError(const QString& text);
    // One time-out text; gaveUp marks the final one after the last attempt.
    void communicationTimeout(const QString& text, quint32 lastCmdCode, bool gaveUp);
    // One line of the data monitor for every 16-byte command sent.
    void dataMonitorLine(const QString& line);
    // A good online data packet (codes 20 and 48), whole: header at 0, record at 8.
    void onlineData(const QByteArray& packet);
    // Message boxes for the operator.
    void operatorMessage(const QString& text);
    // A supervised command went out that is not a resend of the outstanding one.
    void commandStarted(quint32 code);
    // The line vanished; the text says so for the operator.
    void lineGone(const QString& text);
    // The line is back, its port open under `portName`; the text says so for the status bar.
    void lineBack(const QString& portName, const QString& text);

private:
    struct InFlight {
        std::uint8_t code;
        std::uint64_t request;
        QByteArray packet;
        std::size_t answerBytes;
    };
    enum class Match { Current, Stale, Unasked };

    void write(std::uint16_t length);
    void sendSupervised(std::uint8_t code, std::uint16_t length, std::size_t answerBytes,
                        Attempts attempts, bool monitored);
    void writeRequest();
    int supervisionInterval() const;
    void armSupervision();
    Match match(std::uint8_t code);
    void handleAnswer(const QByteArray& packet);
    void handleDamaged(const QByteArray& packet);
    void retryOrGiveUp(bool timedOut);
    void giveUp();
    void route();
    void setLinkState(bool connected);
    std::uint32_t baud() const { return lineSpeed_ ? lineSpeed_() : 0; }
    qint64 now() const;

    Writer writer_;
    std::unique_ptr<ResponseTimer> timer_;
    int responseTimeout_ = kDefaultResponseTimeoutMs;
    LineSpeed lineSpeed_;
    Clock clock_;

    TSCOM scom_;
    TRCOM rcom_;
    TxBuffer tx_;
    std::uint16_t txLength_ = 0;
    std::int32_t retryCount_ = 0;
    std::int32_t retryLimit_ = 0;
    bool linkConnected_ = false;
    QString reconnectingPort_; // connect was sent again after the line came back on this port
    QPointer<ReportTransfer> transfer_;

    AnswerStream stream_;
    qint64 lastChunkAt_ = 0;
    // Commands sent whose answers may still come, oldest first.
    std::deque<InFlight> inFlight_;
    std::uint64_t request_ = 0;
    bool requestOpen_ = false;
    QByteArray requestPacket_;
    std::size_t requestAnswerBytes_ = 0;
    bool pollOutstanding_ = false;
    qint64 pollSentAt_ = 0;
    long long staleAnswers_ = 0;
};

QString connectedStatusText();    // "Connect"
QString disconnectedStatusText(); // "Disconnect"
QString dataCheckErrorText();     // "Data Check error"
QString portClosedConnectText();  // asks the operator to open the port first
QString retryTimeoutText(int retry);
QString finalTimeoutText();
QString lineLostText();
// Panel 0 when a lost line is back: reopened (and being connected again), then connected again.
QString lineBackText(const QString& portName, bool reconnecting);
QString reconnectedText(const QString& portName);

} // namespace ufd::protocol

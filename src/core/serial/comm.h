#pragma once

#include "core/serial/line_settings.h"
#include "core/serial/serial_port.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <atomic>
#include <cstdint>
#include <stdexcept>

namespace ufd::serial {

// Raised by TComm::OpenPort: the component's message, and for a port that could not be opened
// why, in words an operator can act on (the group to join, the program holding the port).
class ECommsError : public std::runtime_error {
public:
    explicit ECommsError(const char* message, QString reason = {})
        : std::runtime_error(message), reason_(std::move(reason)) {}
    const QString& reason() const { return reason_; }

private:
    QString reason_;
};

// Why `name` could not be opened, from the kind of failure and what the device file tells: the
// group that owns a device the account may not use, a port another program holds, a missing or
// non-serial device. Empty when nothing more is known.
QString openFailureReason(const QString& name, OpenError error);

// The component's error texts. Qt's port has no cause for the buffer set-up, event and write-thread
// failures; their texts stay with the rest for callers that name them.
inline constexpr char kMsgAlreadyOpen[] = "This serial port already opened";
inline constexpr char kMsgOpenFailed[] = "Error opening serial port";
inline constexpr char kMsgNotCommHandle[] = "File handle is not a comm handle ";
inline constexpr char kMsgSetupFailed[] = "Cannot setup comm buffer";
inline constexpr char kMsgNoEvent[] = "Unable to create event";
inline constexpr char kMsgNoReadThread[] = "Unable to create read thread";
inline constexpr char kMsgNoWriteThread[] = "Unable to create write thread";

// The serial-port component: one port, served on an I/O thread of its own while it is open.
// Owned and driven by the main thread; every signal is emitted on the thread the component
// lives in, in the order the I/O thread produced them.
//
// CommName is what the platform calls the port: "COM3", or a device path ("/dev/ttyUSB0"). A setter
// given the stored value does nothing; otherwise it stores the value and, while the port is open,
// applies it at once. CommName and Parity are only stored: a new name counts from the next
// OpenPort, a new parity from the next OpenPort or the next setting another setter applies.
class TComm : public QObject {
    Q_OBJECT

public:
    explicit TComm(QObject* parent = nullptr);
    // Closes the port, so that no thread outlives the component.
    ~TComm() override;

    // Throws ECommsError. Every failure but the already-open one leaves the component closed.
    void OpenPort();
    void ClosePort();
    // Queues a copy of the bytes and returns at once. False when closed, when length is 0, or
    // when the transmit thread has ended (after a hang-up).
    bool WriteData(const std::uint8_t* buffer, std::uint16_t length);
    bool isOpen() const { return port_.isOpen(); }
    // The line settings the open port refused (and so does not run at); empty when none.
    QStringList refusedSettings() const { return port_.refusedSettings(); }
    // True while nothing waits to be sent.
    bool SendDataEmpty() const { return port_.sendQueueEmpty(); }

    const QString& CommName() const { return commName_; }
    void setCommName(const QString& name) { commName_ = name; }

    std::uint32_t BaudRate() const { return line_.BaudRate; }
    void setBaudRate(std::uint32_t v) { setLine(&LineSettings::BaudRate, v); }
    bool ParityCheck() const { return line_.ParityCheck; }
    void setParityCheck(bool v) { setLine(&LineSettings::ParityCheck, v); }
    bool Outx_CtsFlow() const { return line_.Outx_CtsFlow; }
    void setOutx_CtsFlow(bool v) { setLine(&LineSettings::Outx_CtsFlow, v); }
    bool Outx_DsrFlow() const { return line_.Outx_DsrFlow; }
    void setOutx_DsrFlow(bool v) { setLine(&LineSettings::Outx_DsrFlow, v); }
    TDtrControl DtrControl() const { return line_.DtrControl; }
    void setDtrControl(TDtrControl v) { setLine(&LineSettings::DtrControl, v); }
    bool DsrSensitivity() const { return line_.DsrSensitivity; }
    void setDsrSensitivity(bool v) { setLine(&LineSettings::DsrSensitivity, v); }
    bool TxContinueOnXoff() const { return line_.TxContinueOnXoff; }
    void setTxContinueOnXoff(bool v) { setLine(&LineSettings::TxContinueOnXoff, v); }
    bool Outx_XonXoffFlow() const { return line_.Outx_XonXoffFlow; }
    void setOutx_XonXoffFlow(bool v) { setLine(&LineSettings::Outx_XonXoffFlow, v); }
    bool Inx_XonXoffFlow() const { return line_.Inx_XonXoffFlow; }
    void setInx_XonXoffFlow(bool v) { setLine(&LineSettings::Inx_XonXoffFlow, v); }
    bool ReplaceWhenParityError() const { return line_.ReplaceWhenParityError; }
    void setReplaceWhenParityError(bool v) { setLine(&LineSettings::ReplaceWhenParityError, v); }
    bool IgnoreNullChar() const { return line_.IgnoreNullChar; }
    void setIgnoreNullChar(bool v) { setLine(&LineSettings::IgnoreNullChar, v); }
    TRtsControl RtsControl() const { return line_.RtsControl; }
    void setRtsControl(TRtsControl v) { setLine(&LineSettings::RtsControl, v); }
    std::uint16_t XonLimit() const { return line_.XonLimit; }
    void setXonLimit(std::uint16_t v) { setLine(&LineSettings::XonLimit, v); }
    std::uint16_t XoffLimit() const { return line_.XoffLimit; }
    void setXoffLimit(std::uint16_t v) { setLine(&LineSettings::XoffLimit, v); }
    TByteSize ByteSize() const { return line_.ByteSize; }
    void setByteSize(TByteSize v) { setLine(&LineSettings::ByteSize, v); }
    TParity Parity() const { return line_.Parity; }
    void setParity(TParity v) { line_.Parity = v; }
    TStopBits StopBits() const { return line_.StopBits; }
    void setStopBits(TStopBits v) { setLine(&LineSettings::StopBits, v); }
    std::uint8_t XonChar() const { return line_.XonChar; }
    void setXonChar(std::uint8_t v) { setLine(&LineSettings::XonChar, v); }
    std::uint8_t XoffChar() const { return line_.XoffChar; }
    void setXoffChar(std::uint8_t v) { setLine(&LineSettings::XoffChar, v); }
    std::uint8_t ReplacedChar() const { return line_.ReplacedChar; }
    void setReplacedChar(std::uint8_t v) { setLine(&LineSettings::ReplacedChar, v); }

    std::uint32_t ReadIntervalTimeout() const { return timeouts_.ReadIntervalTimeout; }
    void setReadIntervalTimeout(std::uint32_t v) {
        setTimeout(&CommTimeouts::ReadIntervalTimeout, v);
    }
    std::uint32_t ReadTotalTimeoutMultiplier() const {
        return timeouts_.ReadTotalTimeoutMultiplier;
    }
    void setReadTotalTimeoutMultiplier(std::uint32_t v) {
        setTimeout(&CommTimeouts::ReadTotalTimeoutMultiplier, v);
    }
    std::uint32_t ReadTotalTimeoutConstant() const { return timeouts_.ReadTotalTimeoutConstant; }
    void setReadTotalTimeoutConstant(std::uint32_t v) {
        setTimeout(&CommTimeouts::ReadTotalTimeoutConstant, v);
    }
    // The write time-outs are kept for the settings' sake: a write that times out is continued
    // with its rest anyway, so they never change what goes out.
    std::uint32_t WriteTotalTimeoutMultiplier() const {
        return timeouts_.WriteTotalTimeoutMultiplier;
    }
    void setWriteTotalTimeoutMultiplier(std::uint32_t v) {
        setTimeout(&CommTimeouts::WriteTotalTimeoutMultiplier, v);
    }
    std::uint32_t WriteTotalTimeoutConstant() const { return timeouts_.WriteTotalTimeoutConstant; }
    void setWriteTotalTimeoutConstant(std::uint32_t v) {
        setTimeout(&CommTimeouts::WriteTotalTimeoutConstant, v);
    }

signals:
    // One completed read of 1 to 8192 bytes; block.constData()[block.size()] is 0.
    void OnReceiveData(const QByteArray& block);
    // A direction has stopped on an error (the device vanished); the port stays open until
    // ClosePort.
    void OnRequestHangup();
    // OpenPort has opened the port, whoever called it.
    void OnPortOpened();
    // Declared for handlers that bind them; nothing raises them.
    void OnReceiveError(quint32 mask);
    void OnModemStateChange(quint32 event);
    // The transmit queue has run dry (also once when the transmit thread starts).
    void OnSendDataEmpty();

protected:
    void connectNotify(const QMetaMethod& signal) override;
    void disconnectNotify(const QMetaMethod& signal) override;

private:
    // Carries the threads' notices to the component's thread through its event queue, which
    // keeps their order and never makes a thread wait.
    class Notifier final : public PortEvents {
    public:
        explicit Notifier(TComm& owner) : owner_(owner) {}
        void dataReceived(QByteArray block) override;
        void hangup() override;
        void sendQueueEmpty() override;

    private:
        // Hands `emitNotice(TComm&)` to the component's thread, for the current open only.
        template <typename Emit> void post(Emit emitNotice);

        TComm& owner_;
    };

    template <typename T> void setLine(T LineSettings::*field, T value) {
        if (line_.*field == value) {
            return;
        }
        line_.*field = value;
        if (port_.isOpen()) {
            port_.applySettings(line_);
        }
    }
    template <typename T> void setTimeout(T CommTimeouts::*field, T value) {
        if (timeouts_.*field == value) {
            return;
        }
        timeouts_.*field = value;
        if (port_.isOpen()) {
            port_.applyTimeouts(timeouts_);
        }
    }

    QString commName_ = QStringLiteral("COM2");
    LineSettings line_;
    CommTimeouts timeouts_;
    // Handlers bound to OnSendDataEmpty: without one, the transmit thread's notice is not
    // carried over at all, which spares the main thread a wake-up for every command sent.
    std::atomic<int> sentListeners_{0};
    // Counts the closes; written on the component's thread only.
    std::atomic<quint64> generation_{0};
    Notifier notifier_{*this};
    SerialPort port_{notifier_};
};

} // namespace ufd::serial

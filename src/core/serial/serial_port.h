#pragma once

#include "core/serial/line_settings.h"

#include <QByteArray>
#include <QSerialPort>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <optional>

namespace ufd::serial {

// Called from the port's own threads, never from the thread that opened it. An implementation
// must hand the notice over without waiting for that thread.
class PortEvents {
public:
    virtual void dataReceived(QByteArray block) = 0;
    virtual void hangup() = 0;
    virtual void sendQueueEmpty() = 0;

protected:
    ~PortEvents() = default;
};

enum class OpenError {
    None,
    CannotOpen,       // any other failure of the platform's open
    NotFound,         // no such device
    PermissionDenied, // no permission to the device, or another program holds it
    NotCommDevice,    // opened, but not a terminal device
    NoReadThread,     // the component's I/O thread did not start
};

// The line settings as Qt's serial port takes them; DTR and RTS are left alone where they are
// handshake lines.
struct QtLineSettings {
    qint32 baudRate = 9600;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
    QSerialPort::FlowControl flowControl = QSerialPort::NoFlowControl;
    std::optional<bool> dtr;
    std::optional<bool> rts;
};
QtLineSettings toQt(const LineSettings& settings);

// One open serial device, served on an I/O thread of its own: the platform layer of TComm.
// All member functions are for the owning thread only; the events come from the I/O thread.
class SerialPort {
public:
    explicit SerialPort(PortEvents& events);
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens `name` exclusively (a lock other programs that use serial ports respect, and the
    // terminal's exclusive mode), discards anything pending, applies the time-outs and then the
    // line settings (their failures are ignored). On any error the port is left closed.
    OpenError open(const QString& name, const LineSettings& settings, const CommTimeouts& timeouts);
    // Closes the device: a write in progress is aborted, queued blocks are discarded. Does
    // nothing when closed.
    void close();
    bool isOpen() const;

    void applySettings(const LineSettings& settings);
    void applyTimeouts(const CommTimeouts& timeouts);
    // What the device refused of the line settings applied last ("the speed 123", ...), which
    // it then keeps as they were; empty when it took them all or the port is closed.
    QStringList refusedSettings() const;

    // Queues a copy for the I/O thread. False when closed, after a hang-up, or when length is 0.
    bool write(const std::uint8_t* data, std::uint16_t length);
    // True while nothing waits to be sent.
    bool sendQueueEmpty() const;

private:
    struct Impl;
    PortEvents& events_;
    std::unique_ptr<Impl> impl_;
};

} // namespace ufd::serial

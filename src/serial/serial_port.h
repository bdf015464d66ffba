#pragma once

#include "serial/line_settings.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>

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
    CannotOpen,    // absent, held by another program, no permission
    NotCommDevice, // opened, but not a terminal device
    CannotSetup,   // driver refused its queues
    NoStopEvent,   // the stop signal for the threads could not be made
    NoReadThread,
    NoWriteThread,
};

// One open serial device with its receive and transmit threads: the platform layer of TComm.
// All member functions are for the owning thread only.
class SerialPort {
public:
    explicit SerialPort(PortEvents& events);
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens `name` exclusively, discards anything pending, applies the time-outs and then the
    // line settings (their failures are ignored), and starts both threads. On any error the
    // port is left closed.
    OpenError open(const QString& name, const LineSettings& settings, const CommTimeouts& timeouts);
    // Stops both threads (a write in progress is aborted, queued blocks are discarded) and
    // closes the device. Does nothing when closed.
    void close();
    bool isOpen() const;

    void applySettings(const LineSettings& settings);
    void applyTimeouts(const CommTimeouts& timeouts);

    // Queues a copy for the transmit thread. False when closed, when the transmit thread has
    // ended, or when length is 0.
    bool write(const std::uint8_t* data, std::uint16_t length);
    // True while nothing waits to be sent.
    bool sendQueueEmpty() const;

private:
    struct Impl;
    PortEvents& events_;
    std::unique_ptr<Impl> impl_;
};

} // namespace ufd::serial

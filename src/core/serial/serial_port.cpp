// The serial component's platform layer on Qt's serial port: one QSerialPort per open port,
// living on an I/O thread of its own, so that painting or a modal dialog never delays the line.
//
// What Qt's serial port cannot express, and so is kept only as a setting: input parity checking
// (ParityCheck), DSR output flow control and DSR sensitivity, DTR handshake, continuing to send
// after XOFF, XON/XOFF per direction (one switch covers both), XON/XOFF characters and limits,
// replacing bytes with parity errors, RTS toggling with transmission, and the write time-outs.
// Read time-outs and dropping null bytes are done here.
#include "core/serial/serial_port.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QMetaObject>
#include <QSerialPort>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>

namespace ufd::serial {

namespace {

constexpr qsizetype kReadBlockSize = 8192;
// Read intervals up to this long are waited for in the read itself, for at most the limit at
// a time (see PortWorker::read).
constexpr int kDrainMs = 5;
constexpr int kDrainLimitMs = 20;

QSerialPort::DataBits dataBits(TByteSize size) {
    switch (size) {
    case TByteSize::_5:
        return QSerialPort::Data5;
    case TByteSize::_6:
        return QSerialPort::Data6;
    case TByteSize::_7:
        return QSerialPort::Data7;
    case TByteSize::_8:
        break;
    }
    return QSerialPort::Data8;
}

QSerialPort::Parity parity(TParity p) {
    switch (p) {
    case TParity::None:
        break;
    case TParity::Odd:
        return QSerialPort::OddParity;
    case TParity::Even:
        return QSerialPort::EvenParity;
    case TParity::Mark:
        return QSerialPort::MarkParity;
    case TParity::Space:
        return QSerialPort::SpaceParity;
    }
    return QSerialPort::NoParity;
}

QSerialPort::StopBits stopBits(TStopBits s) {
    switch (s) {
    case TStopBits::_1:
        break;
    case TStopBits::_1_5:
        return QSerialPort::OneAndHalfStop;
    case TStopBits::_2:
        return QSerialPort::TwoStop;
    }
    return QSerialPort::OneStop;
}

// Qt's port locks the device under the name it is given; a device reached through a link
// (the simulator's, /dev/serial/by-id/...) is locked under its real name, so that every way to
// it meets the same lock.
QString deviceLocation(const QString& name) {
    const QString real = QFileInfo(name).canonicalFilePath();
    return real.isEmpty() ? name : real;
}

} // namespace

QtLineSettings toQt(const LineSettings& s) {
    QtLineSettings q;
    q.baudRate = static_cast<qint32>(std::min<std::uint32_t>(s.BaudRate, INT32_MAX));
    q.dataBits = dataBits(s.ByteSize);
    q.parity = parity(s.Parity);
    q.stopBits = stopBits(s.StopBits);
    if (s.Outx_CtsFlow || s.RtsControl == TRtsControl::RtsHandshake) {
        q.flowControl = QSerialPort::HardwareControl;
    } else if (s.Outx_XonXoffFlow || s.Inx_XonXoffFlow) {
        q.flowControl = QSerialPort::SoftwareControl;
    } else {
        q.flowControl = QSerialPort::NoFlowControl;
    }
    if (s.DtrControl != TDtrControl::DtrHandshake) {
        q.dtr = s.DtrControl == TDtrControl::DtrEnable;
    }
    if (q.flowControl != QSerialPort::HardwareControl) {
        q.rts = s.RtsControl == TRtsControl::RtsEnable;
    }
    return q;
}

// Lives on the I/O thread; every member runs there.
class PortWorker : public QObject {
public:
    PortWorker(PortEvents& events, std::atomic<qint64>& pending, std::atomic<bool>& writable)
        : events_(events), pending_(pending), writable_(writable), quiet_(new QTimer(this)),
          total_(new QTimer(this)) {
        for (QTimer* t : {quiet_, total_}) {
            t->setSingleShot(true);
            t->setTimerType(Qt::PreciseTimer);
            connect(t, &QTimer::timeout, this, [this] { handOver(); });
        }
    }

    OpenError open(const QString& name, const LineSettings& settings,
                   const CommTimeouts& timeouts) {
        port_ = new QSerialPort(this);
        port_->setPortName(deviceLocation(name));
        if (!port_->open(QIODevice::ReadWrite)) {
            const QSerialPort::SerialPortError error = port_->error();
            delete port_;
            port_ = nullptr;
            // The device is there but does not take a serial line's settings.
            if (error == QSerialPort::PermissionError) {
                return OpenError::PermissionDenied;
            }
            if (error == QSerialPort::DeviceNotFoundError) {
                return OpenError::NotFound;
            }
            return QFileInfo::exists(name) ? OpenError::NotCommDevice : OpenError::CannotOpen;
        }
        port_->clear();
        buffer_.clear();
        applyTimeouts(timeouts);
        applySettings(settings);
        connect(port_, &QSerialPort::readyRead, this, [this] { read(); });
        connect(port_, &QSerialPort::bytesWritten, this, [this](qint64 n) { written(n); });
        connect(port_, &QSerialPort::errorOccurred, this,
                [this](QSerialPort::SerialPortError e) { failed(e); });
        pending_ = 0;
        writable_ = true;
        events_.sendQueueEmpty(); // once when the line is ready to take data
        return OpenError::None;
    }

    void close() {
        quiet_->stop();
        total_->stop();
        writable_ = false;
        pending_ = 0;
        buffer_.clear();
        if (port_ != nullptr) {
            // Unsent data goes with the port: nothing queued before the close follows a reopen.
            port_->clear(QSerialPort::Output);
            port_->close();
            delete port_;
            port_ = nullptr;
        }
    }

    void applySettings(const LineSettings& s) {
        ignoreNulls_ = s.IgnoreNullChar;
        if (port_ == nullptr) {
            return;
        }
        // A setting the device refuses leaves the line as it was; the port stays open, and the
        // refusal is kept for whoever tells the operator what the line runs at.
        configuring_ = true;
        const QtLineSettings q = toQt(s);
        QStringList refused;
        if (!port_->setBaudRate(q.baudRate)) {
            refused << QStringLiteral("the speed %1").arg(s.BaudRate);
        }
        if (!port_->setDataBits(q.dataBits)) {
            refused << QStringLiteral("the data bits");
        }
        if (!port_->setParity(q.parity)) {
            refused << QStringLiteral("the parity");
        }
        if (!port_->setStopBits(q.stopBits)) {
            refused << QStringLiteral("the stop bits");
        }
        if (!port_->setFlowControl(q.flowControl)) {
            refused << QStringLiteral("the flow control");
        }
        refused_ = refused;
        if (q.dtr) {
            port_->setDataTerminalReady(*q.dtr);
        }
        if (q.rts) {
            port_->setRequestToSend(*q.rts);
        }
        port_->clearError();
        configuring_ = false;
    }

    QStringList refused() const { return refused_; }

    void applyTimeouts(const CommTimeouts& t) {
        interval_ = static_cast<int>(std::min<std::uint32_t>(t.ReadIntervalTimeout, 1 << 30));
        const std::uint64_t total = std::uint64_t{t.ReadTotalTimeoutMultiplier} * kReadBlockSize +
                                    t.ReadTotalTimeoutConstant;
        totalMs_ = static_cast<int>(std::min<std::uint64_t>(total, 1 << 30));
    }

    void write(const QByteArray& block) {
        if (port_ == nullptr || !writable_) {
            return;
        }
        if (port_->write(block) != block.size()) {
            failed(QSerialPort::WriteError);
        }
    }

private:
    // Bytes are handed over when the line has been quiet for the read interval, when the total
    // time-out of the read has run out, or when a whole block is in; never an empty block.
    void read() {
        if (port_ == nullptr || draining_) {
            return;
        }
        take();
        if (buffer_.isEmpty() || interval_ <= 0) {
            return;
        }
        if (interval_ <= kDrainMs && totalMs_ == 0) {
            // A short interval is waited for here, the rest of a burst read as it comes: one turn
            // of the loop a burst, where a timer took two or three (a read each piece, then the
            // timer), each a wake-up of this thread. A stream that goes on longer goes back to
            // the loop and its timer, so that writes and a close are not kept waiting.
            draining_ = true;
            QElapsedTimer waited;
            waited.start();
            bool quiet = false;
            while (port_ != nullptr && waited.elapsed() < kDrainLimitMs) {
                if (!port_->waitForReadyRead(interval_)) {
                    quiet = true;
                    break;
                }
                take();
            }
            draining_ = false;
            if (quiet || port_ == nullptr) {
                handOver();
                return;
            }
        }
        if (!buffer_.isEmpty()) {
            quiet_->start(interval_);
        }
    }

    // Moves what the port holds into the buffer, handing over whole blocks.
    void take() {
        QByteArray bytes = port_->readAll();
        if (ignoreNulls_) {
            bytes.removeIf([](char c) { return c == '\0'; });
        }
        if (bytes.isEmpty()) {
            return;
        }
        if (buffer_.isEmpty() && totalMs_ > 0) {
            total_->start(totalMs_);
        }
        buffer_.append(bytes);
        while (buffer_.size() >= kReadBlockSize) {
            events_.dataReceived(buffer_.left(kReadBlockSize));
            buffer_.remove(0, kReadBlockSize);
            if (totalMs_ > 0) {
                total_->start(totalMs_);
            }
        }
        if (buffer_.isEmpty()) {
            quiet_->stop();
            total_->stop();
        }
    }

    void handOver() {
        quiet_->stop();
        total_->stop();
        if (!buffer_.isEmpty()) {
            events_.dataReceived(buffer_);
            buffer_.clear();
        }
    }

    void written(qint64 n) {
        if (pending_.fetch_sub(n) - n <= 0) {
            pending_ = 0;
            events_.sendQueueEmpty();
        }
    }

    // The device has gone (adapter pulled, line closed): one notice, after whatever had come in
    // before; the port is let go, and writes are refused from now on.
    void failed(QSerialPort::SerialPortError e) {
        const bool lineFailed = e == QSerialPort::ResourceError || e == QSerialPort::ReadError ||
                                e == QSerialPort::WriteError;
        if (!lineFailed || configuring_ || port_ == nullptr || !writable_) {
            return;
        }
        writable_ = false;
        pending_ = 0;
        handOver();
        port_->deleteLater();
        port_ = nullptr;
        events_.hangup();
    }

    PortEvents& events_;
    std::atomic<qint64>& pending_;
    std::atomic<bool>& writable_;
    QSerialPort* port_ = nullptr;
    QByteArray buffer_;
    QTimer* quiet_;
    QTimer* total_;
    int interval_ = 0;
    int totalMs_ = 0;
    bool draining_ = false; // waiting in read() for the rest of a burst
    bool ignoreNulls_ = false;
    bool configuring_ = false;
    QStringList refused_;
};

struct SerialPort::Impl {
    QThread thread;
    PortWorker* worker = nullptr;
    std::atomic<qint64> pending{0};
    std::atomic<bool> writable{false};
    bool open = false;

    // Runs `f` on the I/O thread and waits for it.
    template <typename F> void run(F&& f) {
        QMetaObject::invokeMethod(worker, std::forward<F>(f), Qt::BlockingQueuedConnection);
    }
};

SerialPort::SerialPort(PortEvents& events) : events_(events), impl_(std::make_unique<Impl>()) {
    impl_->thread.setObjectName(QStringLiteral("serial I/O"));
    impl_->worker = new PortWorker(events_, impl_->pending, impl_->writable);
    impl_->worker->moveToThread(&impl_->thread);
}

// The port itself is let go on the I/O thread (close); the worker only once that thread is over.
SerialPort::~SerialPort() {
    close();
    impl_->thread.quit();
    impl_->thread.wait();
    delete impl_->worker;
}

OpenError SerialPort::open(const QString& name, const LineSettings& settings,
                           const CommTimeouts& timeouts) {
    if (impl_->open) {
        return OpenError::CannotOpen;
    }
    if (!impl_->thread.isRunning()) {
        impl_->thread.start(QThread::HighestPriority);
        if (!impl_->thread.isRunning()) {
            return OpenError::NoReadThread;
        }
    }
    OpenError result = OpenError::CannotOpen;
    impl_->run([&] { result = impl_->worker->open(name, settings, timeouts); });
    impl_->open = result == OpenError::None;
    return result;
}

void SerialPort::close() {
    if (!impl_->open) {
        return;
    }
    impl_->run([this] { impl_->worker->close(); });
    impl_->open = false;
}

bool SerialPort::isOpen() const {
    return impl_->open;
}

void SerialPort::applySettings(const LineSettings& settings) {
    if (impl_->open) {
        impl_->run([&] { impl_->worker->applySettings(settings); });
    }
}

QStringList SerialPort::refusedSettings() const {
    QStringList refused;
    if (impl_->open) {
        impl_->run([&] { refused = impl_->worker->refused(); });
    }
    return refused;
}

void SerialPort::applyTimeouts(const CommTimeouts& timeouts) {
    if (impl_->open) {
        impl_->run([&] { impl_->worker->applyTimeouts(timeouts); });
    }
}

bool SerialPort::write(const std::uint8_t* data, std::uint16_t length) {
    if (!impl_->open || length == 0 || !impl_->writable) {
        return false;
    }
    impl_->pending += length;
    QByteArray block(reinterpret_cast<const char*>(data), length);
    PortWorker* worker = impl_->worker;
    QMetaObject::invokeMethod(
        worker, [worker, b = std::move(block)] { worker->write(b); }, Qt::QueuedConnection);
    return true;
}

bool SerialPort::sendQueueEmpty() const {
    return !impl_->open || impl_->pending <= 0;
}

} // namespace ufd::serial

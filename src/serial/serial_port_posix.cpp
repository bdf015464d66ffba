// POSIX platform layer of the serial component: termios for the line, poll() for waiting, one
// receive and one transmit std::thread per open port.
#include "serial/serial_port.h"
#include "serial/termios_settings.h"

#ifdef __linux__
#include "serial/custom_speed.h"
#endif

#include <QFile>
#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <system_error>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace ufd::serial {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadBufferSize = 8192;

struct SpeedConstant {
    std::uint32_t baud;
    speed_t code;
};

constexpr std::array kSpeeds{
    SpeedConstant{50, B50},           SpeedConstant{75, B75},
    SpeedConstant{110, B110},         SpeedConstant{134, B134},
    SpeedConstant{150, B150},         SpeedConstant{200, B200},
    SpeedConstant{300, B300},         SpeedConstant{600, B600},
    SpeedConstant{1200, B1200},       SpeedConstant{1800, B1800},
    SpeedConstant{2400, B2400},       SpeedConstant{4800, B4800},
    SpeedConstant{9600, B9600},       SpeedConstant{19200, B19200},
    SpeedConstant{38400, B38400},     SpeedConstant{57600, B57600},
    SpeedConstant{115200, B115200},   SpeedConstant{230400, B230400},
#ifdef B460800
    SpeedConstant{460800, B460800},
#endif
#ifdef B500000
    SpeedConstant{500000, B500000},
#endif
#ifdef B576000
    SpeedConstant{576000, B576000},
#endif
#ifdef B921600
    SpeedConstant{921600, B921600},
#endif
#ifdef B1000000
    SpeedConstant{1000000, B1000000},
#endif
#ifdef B1152000
    SpeedConstant{1152000, B1152000},
#endif
#ifdef B1500000
    SpeedConstant{1500000, B1500000},
#endif
#ifdef B2000000
    SpeedConstant{2000000, B2000000},
#endif
#ifdef B2500000
    SpeedConstant{2500000, B2500000},
#endif
#ifdef B3000000
    SpeedConstant{3000000, B3000000},
#endif
#ifdef B3500000
    SpeedConstant{3500000, B3500000},
#endif
#ifdef B4000000
    SpeedConstant{4000000, B4000000},
#endif
};

const SpeedConstant* findSpeed(std::uint32_t baud) {
    const auto it = std::find_if(kSpeeds.begin(), kSpeeds.end(),
                                 [baud](const SpeedConstant& s) { return s.baud == baud; });
    return it == kSpeeds.end() ? nullptr : &*it;
}

bool setSpeed(int fd, termios& t, std::uint32_t baud) {
    if (baud == 0) {
        return false; // B0 would hang the line up; the driver refuses it as a speed
    }
    if (const SpeedConstant* s = findSpeed(baud)) {
        cfsetispeed(&t, s->code);
        cfsetospeed(&t, s->code);
        return tcsetattr(fd, TCSANOW, &t) == 0;
    }
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        return false;
    }
#ifdef __linux__
    return detail::setCustomSpeed(fd, baud);
#else
    // The BSDs and macOS take the number itself as speed_t.
    cfsetispeed(&t, static_cast<speed_t>(baud));
    cfsetospeed(&t, static_cast<speed_t>(baud));
    return tcsetattr(fd, TCSANOW, &t) == 0;
#endif
}

tcflag_t dataBits(TByteSize size) {
    switch (size) {
    case TByteSize::_5:
        return CS5;
    case TByteSize::_6:
        return CS6;
    case TByteSize::_7:
        return CS7;
    case TByteSize::_8:
        break;
    }
    return CS8;
}

tcflag_t parityBits(TParity parity) {
    switch (parity) {
    case TParity::None:
        break;
    case TParity::Odd:
        return PARENB | PARODD;
    case TParity::Even:
        return PARENB;
#ifdef CMSPAR
    case TParity::Mark:
        return PARENB | PARODD | CMSPAR;
    case TParity::Space:
        return PARENB | CMSPAR;
#else
    case TParity::Mark:
    case TParity::Space:
        break;
#endif
    }
    return 0;
}

// Pseudo-terminals have no modem lines and answer ENOTTY or EINVAL; like every other setting
// failure that is ignored.
void setModemLine(int fd, int line, bool on) {
    ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line);
}

void closeFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

bool makePipe(int& readEnd, int& writeEnd) {
    int fds[2];
    if (::pipe(fds) != 0) {
        return false;
    }
    for (int fd : fds) {
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    readEnd = fds[0];
    writeEnd = fds[1];
    return true;
}

// Milliseconds for poll() until `deadline`, rounded up so that a wake never comes early.
int msUntil(Clock::time_point deadline, Clock::time_point now) {
    if (deadline <= now) {
        return 0;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    return static_cast<int>(std::min<long long>(left, 1 << 30));
}

int earlier(int a, int b) {
    if (a < 0) {
        return b;
    }
    if (b < 0) {
        return a;
    }
    return std::min(a, b);
}

} // namespace

void detail::toTermios(const LineSettings& s, termios& t) {
    // Raw binary line; whatever the options below do not set stays off.
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY | INPCK | IGNPAR);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tcflag_t clear = CSIZE | PARENB | PARODD | CSTOPB | HUPCL;
#ifdef CMSPAR
    clear |= CMSPAR;
#endif
#ifdef CRTSCTS
    clear |= CRTSCTS;
#endif
    t.c_cflag &= ~clear;
    t.c_cflag |= CREAD | CLOCAL | dataBits(s.ByteSize) | parityBits(s.Parity);
    if (s.StopBits != TStopBits::_1) {
        t.c_cflag |= CSTOPB; // with 5 data bits the UART makes this 1.5
    }
    if (s.ParityCheck) {
        t.c_iflag |= INPCK;
    }
    if (s.Outx_XonXoffFlow) {
        t.c_iflag |= IXON;
    }
    if (s.Inx_XonXoffFlow) {
        t.c_iflag |= IXOFF;
    }
#ifdef CRTSCTS
    // One kernel flag covers both directions of hardware handshake.
    if (s.Outx_CtsFlow || s.RtsControl == TRtsControl::RtsHandshake) {
        t.c_cflag |= CRTSCTS;
    }
#endif
    t.c_cc[VSTART] = static_cast<cc_t>(s.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(s.XoffChar);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
}

struct SerialPort::Impl {
    explicit Impl(PortEvents& e) : events(e) {}
    ~Impl() {
        if (fd >= 0) {
            ioctl(fd, TIOCNXCL);
        }
        closeFd(fd); // also drops the flock
        closeFd(stopRead);
        closeFd(stopWrite);
        closeFd(wakeRead);
        closeFd(wakeWrite);
    }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    void applySettings(const LineSettings& s);
    void applyTimeouts(const CommTimeouts& t);
    void requestStop() const;
    bool stopRequested() const;
    void stopThreads();

    void readLoop();
    bool handOver(const char* data, std::size_t count);
    // Done: go on. Stopped: a stop request or a closed descriptor, ended silently. Broken: the
    // line failed, ended with a hang-up notice.
    enum class WriteOutcome { Done, Stopped, Broken };
    void writeLoop();
    WriteOutcome waitForBlock();
    WriteOutcome writeBlock(const QByteArray& block);

    PortEvents& events;
    int fd = -1;
    // Level-triggered stop signal for both threads: one byte written, never read.
    int stopRead = -1;
    int stopWrite = -1;
    // One byte per queued block wakes the idle transmit thread.
    int wakeRead = -1;
    int wakeWrite = -1;

    std::atomic<std::uint32_t> readInterval{0};
    std::atomic<std::uint32_t> readTotalMultiplier{0};
    std::atomic<std::uint32_t> readTotalConstant{0};
    std::atomic<bool> ignoreNullChar{false};

    mutable std::mutex queueMutex;
    std::deque<QByteArray> queue; // guarded by queueMutex
    bool sendEmpty = true;        // guarded by queueMutex
    bool writerRunning = false;   // guarded by queueMutex

    std::thread reader;
    std::thread writer;
};

void SerialPort::Impl::applySettings(const LineSettings& s) {
    ignoreNullChar = s.IgnoreNullChar;
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        return;
    }
    detail::toTermios(s, t);
    if (!setSpeed(fd, t, s.BaudRate)) {
        tcsetattr(fd, TCSANOW, &t);
    }

    switch (s.DtrControl) {
    case TDtrControl::DtrEnable:
        setModemLine(fd, TIOCM_DTR, true);
        break;
    case TDtrControl::DtrDisable:
        setModemLine(fd, TIOCM_DTR, false);
        break;
    case TDtrControl::DtrHandshake:
        break; // no kernel counterpart; the line stays as it is
    }
    switch (s.RtsControl) {
    case TRtsControl::RtsEnable:
        setModemLine(fd, TIOCM_RTS, true);
        break;
    case TRtsControl::RtsDisable:
    case TRtsControl::RtsTransmissionAvailable: // toggling has no termios counterpart
        setModemLine(fd, TIOCM_RTS, false);
        break;
    case TRtsControl::RtsHandshake:
        break; // the driver drives RTS
    }
}

void SerialPort::Impl::applyTimeouts(const CommTimeouts& t) {
    readInterval = t.ReadIntervalTimeout;
    readTotalMultiplier = t.ReadTotalTimeoutMultiplier;
    readTotalConstant = t.ReadTotalTimeoutConstant;
}

void SerialPort::Impl::requestStop() const {
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(stopWrite, &byte, 1);
}

bool SerialPort::Impl::stopRequested() const {
    pollfd p{stopRead, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

// Both threads find the stop request before any I/O result, so neither posts a notice.
void SerialPort::Impl::stopThreads() {
    requestStop();
    tcflush(fd, TCIFLUSH);
    if (reader.joinable()) {
        reader.join();
    }
    tcflush(fd, TCOFLUSH);
    {
        std::lock_guard lock(queueMutex);
        sendEmpty = true;
    }
    if (writer.joinable()) {
        writer.join();
    }
}

void SerialPort::Impl::readLoop() {
    std::vector<char> buffer(kReadBufferSize);
    std::size_t count = 0;
    Clock::time_point readStart = Clock::now();
    Clock::time_point lastByte = readStart;
    for (;;) {
        const Clock::time_point now = Clock::now();
        int timeout = -1;
        const std::uint32_t interval = readInterval;
        if (count > 0 && interval > 0) {
            timeout = msUntil(lastByte + std::chrono::milliseconds(interval), now);
        }
        const std::uint64_t total =
            std::uint64_t{readTotalMultiplier} * kReadBufferSize + readTotalConstant;
        if (total > 0) {
            timeout = earlier(timeout, msUntil(readStart + std::chrono::milliseconds(total), now));
        }

        std::array<pollfd, 2> fds{pollfd{stopRead, POLLIN, 0}, pollfd{fd, POLLIN, 0}};
        const int ready = ::poll(fds.data(), fds.size(), timeout);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (count > 0) {
                handOver(buffer.data(), count);
            }
            events.hangup();
            return;
        }
        if (fds[0].revents != 0) {
            return;
        }
        if (ready == 0) {
            // A time-out ran out. A read never completes empty: with nothing in, the next
            // read simply begins.
            if (count > 0 && !handOver(buffer.data(), count)) {
                return;
            }
            count = 0;
            readStart = Clock::now();
            continue;
        }
        const short revents = fds[1].revents;
        if ((revents & POLLNVAL) != 0) {
            return; // the descriptor was closed under the thread
        }
        const ssize_t n = ::read(fd, buffer.data() + count, kReadBufferSize - count);
        if (n > 0) {
            auto first = buffer.begin() + static_cast<std::ptrdiff_t>(count);
            auto last = first + n;
            if (ignoreNullChar) {
                last = std::remove(first, last, '\0');
            }
            count += static_cast<std::size_t>(last - first);
            lastByte = Clock::now();
            if (count == kReadBufferSize) {
                if (!handOver(buffer.data(), count)) {
                    return;
                }
                count = 0;
                readStart = lastByte;
            }
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) &&
            (revents & (POLLHUP | POLLERR)) == 0) {
            continue;
        }
        // End of file, EIO, or a hang-up with nothing left to read: the device has gone. A
        // vanished pty peer keeps reporting POLLHUP, so the thread must end here.
        if (count > 0) {
            handOver(buffer.data(), count);
        }
        events.hangup();
        return;
    }
}

bool SerialPort::Impl::handOver(const char* data, std::size_t count) {
    try {
        events.dataReceived(QByteArray(data, static_cast<qsizetype>(count)));
        return true;
    } catch (...) {
        events.hangup();
        return false;
    }
}

void SerialPort::Impl::writeLoop() {
    bool notify = true;
    WriteOutcome outcome = WriteOutcome::Stopped;
    for (;;) {
        QByteArray block;
        {
            std::lock_guard lock(queueMutex);
            if (queue.empty()) {
                sendEmpty = true;
            } else {
                block = std::move(queue.front());
                queue.pop_front();
            }
        }
        if (block.isEmpty()) {
            if (notify) {
                try {
                    events.sendQueueEmpty();
                } catch (...) {
                    outcome = WriteOutcome::Broken;
                    break;
                }
                notify = false;
            }
            outcome = waitForBlock();
        } else {
            outcome = stopRequested() ? WriteOutcome::Stopped : writeBlock(block);
            notify = true;
        }
        if (outcome != WriteOutcome::Done) {
            break;
        }
    }
    tcflush(fd, TCOFLUSH);
    {
        std::lock_guard lock(queueMutex);
        queue.clear();
        sendEmpty = true;
        writerRunning = false;
    }
    // Only now, so that a WriteData made in answer to the notice already fails.
    if (outcome == WriteOutcome::Broken) {
        events.hangup();
    }
}

SerialPort::Impl::WriteOutcome SerialPort::Impl::waitForBlock() {
    for (;;) {
        std::array<pollfd, 2> fds{pollfd{stopRead, POLLIN, 0}, pollfd{wakeRead, POLLIN, 0}};
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return WriteOutcome::Broken;
        }
        if (fds[0].revents != 0) {
            return WriteOutcome::Stopped;
        }
        // One byte per queued block; a full read means there may be more.
        std::array<char, 64> drain{};
        while (::read(wakeRead, drain.data(), drain.size()) == static_cast<ssize_t>(drain.size())) {
        }
        return WriteOutcome::Done;
    }
}

SerialPort::Impl::WriteOutcome SerialPort::Impl::writeBlock(const QByteArray& block) {
    const char* next = block.constData();
    auto remaining = static_cast<std::size_t>(block.size());
    while (remaining > 0) {
        const ssize_t n = ::write(fd, next, remaining);
        if (n > 0) {
            next += n;
            remaining -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            std::array<pollfd, 2> fds{pollfd{stopRead, POLLIN, 0}, pollfd{fd, POLLOUT, 0}};
            if (::poll(fds.data(), fds.size(), -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return WriteOutcome::Broken;
            }
            if (fds[0].revents != 0) {
                return WriteOutcome::Stopped; // aborted by ClosePort
            }
            if ((fds[1].revents & POLLNVAL) != 0) {
                return WriteOutcome::Stopped;
            }
            if ((fds[1].revents & POLLOUT) == 0 && (fds[1].revents & (POLLHUP | POLLERR)) != 0) {
                return WriteOutcome::Broken;
            }
            continue;
        }
        if (n < 0 && errno == EBADF) {
            return WriteOutcome::Stopped; // the descriptor was closed under the thread
        }
        return WriteOutcome::Broken;
    }
    return WriteOutcome::Done;
}

SerialPort::SerialPort(PortEvents& events) : events_(events) {}

SerialPort::~SerialPort() {
    close();
}

OpenError SerialPort::open(const QString& name, const LineSettings& settings,
                           const CommTimeouts& timeouts) {
    if (impl_) {
        return OpenError::CannotOpen;
    }
    auto impl = std::make_unique<Impl>(events_);
    const QByteArray path = QFile::encodeName(name);
    impl->fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (impl->fd < 0) {
        return OpenError::CannotOpen;
    }
    // TIOCEXCL does not stop a privileged opener; the lock also keeps out every other program
    // that locks its port, whoever runs it.
    if (flock(impl->fd, LOCK_EX | LOCK_NB) != 0) {
        closeFd(impl->fd);
        return OpenError::CannotOpen;
    }
    struct stat st {};
    if (fstat(impl->fd, &st) != 0 || !S_ISCHR(st.st_mode) || isatty(impl->fd) == 0) {
        closeFd(impl->fd);
        return OpenError::NotCommDevice;
    }
    ioctl(impl->fd, TIOCEXCL);
    tcflush(impl->fd, TCIOFLUSH);
    impl->applyTimeouts(timeouts);
    impl->applySettings(settings);

    if (!makePipe(impl->stopRead, impl->stopWrite) || !makePipe(impl->wakeRead, impl->wakeWrite)) {
        return OpenError::NoStopEvent;
    }
    Impl* p = impl.get();
    try {
        p->reader = std::thread([p] { p->readLoop(); });
    } catch (const std::system_error&) {
        return OpenError::NoReadThread;
    }
    try {
        {
            std::lock_guard lock(p->queueMutex);
            p->writerRunning = true;
        }
        p->writer = std::thread([p] { p->writeLoop(); });
    } catch (const std::system_error&) {
        p->stopThreads();
        return OpenError::NoWriteThread;
    }
    impl_ = std::move(impl);
    return OpenError::None;
}

void SerialPort::close() {
    if (!impl_) {
        return;
    }
    impl_->stopThreads();
    impl_.reset();
}

bool SerialPort::isOpen() const {
    return impl_ != nullptr;
}

void SerialPort::applySettings(const LineSettings& settings) {
    if (impl_) {
        impl_->applySettings(settings);
    }
}

void SerialPort::applyTimeouts(const CommTimeouts& timeouts) {
    if (impl_) {
        impl_->applyTimeouts(timeouts);
    }
}

bool SerialPort::write(const std::uint8_t* data, std::uint16_t length) {
    if (!impl_ || length == 0) {
        return false;
    }
    {
        std::lock_guard lock(impl_->queueMutex);
        if (!impl_->writerRunning) {
            return false;
        }
        impl_->queue.emplace_back(reinterpret_cast<const char*>(data), length);
        impl_->sendEmpty = false;
    }
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(impl_->wakeWrite, &byte, 1);
    return true;
}

bool SerialPort::sendQueueEmpty() const {
    if (!impl_) {
        return true;
    }
    std::lock_guard lock(impl_->queueMutex);
    return impl_->sendEmpty;
}

} // namespace ufd::serial

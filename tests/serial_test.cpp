// The serial component over real pseudo-terminal pairs: TComm opens the slave, the test plays
// the instrument on the master.
#include "serial/comm.h"
#include "serial/port_discovery.h"
#include "serial/termios_settings.h"
#include "serial_test_speed.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

using namespace ufd::serial;

namespace {

class PtyPair {
public:
    PtyPair() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
            throw std::runtime_error("no pseudo-terminal");
        }
        std::array<char, 128> name{};
        if (ptsname_r(master_, name.data(), name.size()) != 0) {
            throw std::runtime_error("no slave name");
        }
        slavePath_ = QString::fromLocal8Bit(name.data());
        // Held open by the test so that the slave's settings can be read back.
        slave_ = ::open(name.data(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios t{};
        tcgetattr(slave_, &t);
        cfmakeraw(&t);
        tcsetattr(slave_, TCSANOW, &t);
    }
    ~PtyPair() {
        closeMaster();
        ::close(slave_);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const QString& slavePath() const { return slavePath_; }
    int slave() const { return slave_; }

    void closeMaster() {
        if (master_ >= 0) {
            ::close(master_);
            master_ = -1;
        }
    }

    // What the instrument sends.
    void send(const QByteArray& bytes) const {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.constData() + done,
                                      static_cast<std::size_t>(bytes.size() - done));
            if (n > 0) {
                done += n;
                continue;
            }
            pollfd p{master_, POLLOUT, 0};
            if (::poll(&p, 1, 5000) <= 0) {
                throw std::runtime_error("master not writable");
            }
        }
    }

    // What the instrument receives: reads until `want` bytes are in or the line has been
    // silent for `silenceMs`.
    QByteArray receive(qsizetype want, int silenceMs = 3000) const {
        QByteArray got;
        std::array<char, 4096> chunk{};
        while (got.size() < want) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, silenceMs) <= 0) {
                break;
            }
            const ssize_t n = ::read(master_, chunk.data(), chunk.size());
            if (n <= 0) {
                break;
            }
            got.append(chunk.data(), n);
        }
        return got;
    }

    bool masterReadable(int waitMs) const {
        pollfd p{master_, POLLIN, 0};
        return ::poll(&p, 1, waitMs) > 0;
    }

private:
    int master_ = -1;
    int slave_ = -1;
    QString slavePath_;
};

// What the port window sets before it opens the port.
void configureAsPortWindow(TComm& comm, const QString& name) {
    comm.setCommName(name);
    comm.setDtrControl(TDtrControl::DtrDisable);
    comm.setRtsControl(TRtsControl::RtsDisable);
    comm.setTxContinueOnXoff(false);
    comm.setOutx_XonXoffFlow(false);
    comm.setInx_XonXoffFlow(false);
    comm.setReadIntervalTimeout(20);
}

QByteArray pattern(qsizetype size, int seed = 0) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 7 + seed + i / 251) & 0xFF);
    }
    return bytes;
}

QList<QByteArray> blocks(const QSignalSpy& spy) {
    QList<QByteArray> out;
    for (const QList<QVariant>& args : spy) {
        out.append(args.at(0).toByteArray());
    }
    return out;
}

qsizetype totalSize(const QSignalSpy& spy) {
    qsizetype total = 0;
    for (const QByteArray& b : blocks(spy)) {
        total += b.size();
    }
    return total;
}

bool waitForBytes(QSignalSpy& spy, qsizetype want) {
    while (totalSize(spy) < want) {
        if (!spy.wait(5000)) {
            return false;
        }
    }
    return true;
}

std::string openError(TComm& comm) {
    try {
        comm.OpenPort();
    } catch (const ECommsError& e) {
        return e.what();
    }
    return "(opened)";
}

termios slaveSettings(const PtyPair& pty) {
    termios t{};
    tcgetattr(pty.slave(), &t);
    return t;
}

speed_t slaveSpeed(const PtyPair& pty) {
    const termios t = slaveSettings(pty);
    return cfgetospeed(&t);
}

class SerialTest : public ::testing::Test {
protected:
    void SetUp() override { configureAsPortWindow(comm, pty.slavePath()); }

    PtyPair pty;
    TComm comm;
};

} // namespace

TEST_F(SerialTest, OpenFailuresRaiseTheirTextsAndLeaveTheRightState) {
    comm.OpenPort();
    ASSERT_TRUE(comm.isOpen());
    EXPECT_EQ(openError(comm), "This serial port already opened");
    EXPECT_TRUE(comm.isOpen());
    QSignalSpy received(&comm, &TComm::OnReceiveData);
    pty.send("still here");
    ASSERT_TRUE(waitForBytes(received, 10));
    EXPECT_EQ(blocks(received).join(), QByteArray("still here"));

    // Exclusive: a second component cannot take the port, even from the same process.
    TComm other;
    configureAsPortWindow(other, pty.slavePath());
    EXPECT_EQ(openError(other), "Error opening serial port");
    EXPECT_FALSE(other.isOpen());
    comm.ClosePort();
    EXPECT_EQ(openError(other), "(opened)");
    other.ClosePort();

    TComm bad;
    bad.setCommName(QStringLiteral("/dev/no-such-serial-port"));
    EXPECT_EQ(openError(bad), "Error opening serial port");
    EXPECT_FALSE(bad.isOpen());
    bad.setCommName(QStringLiteral("/dev/null"));
    EXPECT_EQ(openError(bad), "File handle is not a comm handle ");
    EXPECT_FALSE(bad.isOpen());
    QTemporaryDir dir;
    QFile plain(dir.filePath(QStringLiteral("plain")));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    bad.setCommName(plain.fileName());
    EXPECT_EQ(openError(bad), "File handle is not a comm handle ");
    EXPECT_FALSE(bad.isOpen());
    EXPECT_FALSE(bad.WriteData(reinterpret_cast<const std::uint8_t*>("x"), 1));

    bad.setCommName(pty.slavePath());
    EXPECT_EQ(openError(bad), "(opened)");
    EXPECT_TRUE(bad.isOpen());
}

TEST_F(SerialTest, ClosingIsIdempotentAndAClosedPortRefusesData) {
    const std::uint8_t byte = 0x24;
    EXPECT_FALSE(comm.WriteData(&byte, 1));
    comm.ClosePort();
    comm.ClosePort();
    EXPECT_TRUE(comm.SendDataEmpty());

    comm.OpenPort();
    EXPECT_FALSE(comm.WriteData(&byte, 0));
    EXPECT_FALSE(comm.WriteData(nullptr, 1));
    comm.ClosePort();
    comm.ClosePort();
    EXPECT_FALSE(comm.isOpen());
    EXPECT_FALSE(comm.WriteData(&byte, 1));
    EXPECT_FALSE(pty.masterReadable(50));

    // A new open after closes works as the first one did.
    comm.OpenPort();
    ASSERT_TRUE(comm.WriteData(&byte, 1));
    EXPECT_EQ(pty.receive(1), QByteArray(1, '\x24'));
}

TEST_F(SerialTest, ReceivedBlocksArriveOnTheMainThreadWithATrailingZero) {
    // A handler connected directly sees the block the way a dispatcher does.
    std::vector<char> byteAfterEnd;
    std::vector<QThread*> threads;
    QObject::connect(&comm, &TComm::OnReceiveData, &comm, [&](const QByteArray& block) {
        byteAfterEnd.push_back(block.constData()[block.size()]);
        threads.push_back(QThread::currentThread());
    });
    QSignalSpy received(&comm, &TComm::OnReceiveData);
    comm.OpenPort();

    const QByteArray packet = pattern(300, 1).replace('\0', '\x01');
    pty.send(packet);
    ASSERT_TRUE(waitForBytes(received, packet.size()));
    EXPECT_EQ(blocks(received).join(), packet);
    ASSERT_FALSE(byteAfterEnd.empty());
    for (std::size_t i = 0; i < byteAfterEnd.size(); ++i) {
        EXPECT_EQ(byteAfterEnd[i], '\0');
        EXPECT_EQ(threads[i], QCoreApplication::instance()->thread());
    }

    // Nulls are data unless the component is told to drop them, which applies at once.
    received.clear();
    pty.send(QByteArray("a\0b", 3));
    ASSERT_TRUE(waitForBytes(received, 3));
    EXPECT_EQ(blocks(received).join(), QByteArray("a\0b", 3));
    comm.setIgnoreNullChar(true);
    received.clear();
    pty.send(QByteArray("c\0\0d", 4));
    ASSERT_TRUE(waitForBytes(received, 2));
    EXPECT_EQ(blocks(received).join(), QByteArray("cd"));
}

TEST_F(SerialTest, ABurstLongerThanTheBufferArrivesAsAFullBlockAndTheRest) {
    // A generous quiet time keeps a busy machine's scheduling from splitting the burst early.
    comm.setReadIntervalTimeout(400);
    QSignalSpy received(&comm, &TComm::OnReceiveData);
    comm.OpenPort();

    const QByteArray burst = pattern(10000, 3);
    pty.send(burst);
    ASSERT_TRUE(waitForBytes(received, burst.size()));
    const QList<QByteArray> got = blocks(received);
    ASSERT_EQ(got.size(), 2);
    EXPECT_EQ(got[0].size(), 8192);
    EXPECT_EQ(got[1].size(), 10000 - 8192);
    EXPECT_EQ(got.join(), burst);
}

TEST_F(SerialTest, WrittenBlocksGoOutWholeAndInOrder) {
    // The transmit thread reports once when it starts, to the handlers bound by then: a notice
    // nobody listens to is not carried over at all.
    QSignalSpy drained(&comm, &TComm::OnSendDataEmpty);
    comm.OpenPort();
    ASSERT_TRUE(drained.count() > 0 || drained.wait(5000));
    drained.clear();

    std::vector<std::uint8_t> big(65535);
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<std::uint8_t>(i * 13 + i / 256);
    }
    const QByteArray tail("$tail");
    ASSERT_TRUE(comm.WriteData(big.data(), 65535));
    EXPECT_FALSE(comm.SendDataEmpty());
    ASSERT_TRUE(comm.WriteData(reinterpret_cast<const std::uint8_t*>(tail.constData()),
                               static_cast<std::uint16_t>(tail.size())));
    // The caller's buffer is free as soon as WriteData returns.
    std::fill(big.begin(), big.end(), std::uint8_t{0xEE});

    const QByteArray got = pty.receive(65535 + tail.size());
    ASSERT_EQ(got.size(), 65535 + tail.size());
    for (qsizetype i = 0; i < 65535; ++i) {
        if (static_cast<std::uint8_t>(got[i]) != static_cast<std::uint8_t>(i * 13 + i / 256)) {
            FAIL() << "first wrong byte at " << i;
        }
    }
    EXPECT_EQ(got.mid(65535), tail);
    ASSERT_TRUE(drained.count() > 0 || drained.wait(5000));
    EXPECT_TRUE(comm.SendDataEmpty());
}

TEST_F(SerialTest, ClosingAbortsTheWriteInProgressAndDropsTheQueue) {
    comm.OpenPort();
    // More than a pseudo-terminal buffers while nobody reads the other end.
    std::vector<std::uint8_t> block(65535);
    for (std::uint8_t fill = 1; fill <= 4; ++fill) {
        std::fill(block.begin(), block.end(), fill);
        ASSERT_TRUE(comm.WriteData(block.data(), 65535));
    }
    ASSERT_TRUE(pty.masterReadable(5000)); // the first block is going out
    comm.ClosePort();
    EXPECT_FALSE(comm.isOpen());
    EXPECT_TRUE(comm.SendDataEmpty());

    const QByteArray got = pty.receive(4 * 65535, 300);
    EXPECT_LT(got.size(), 4 * 65535);
    EXPECT_EQ(got.count('\x04'), 0);

    // Nothing of the old queue follows a reopen.
    comm.OpenPort();
    const std::uint8_t mark = 0x55;
    ASSERT_TRUE(comm.WriteData(&mark, 1));
    EXPECT_EQ(pty.receive(1), QByteArray(1, '\x55'));
    EXPECT_TRUE(pty.receive(1, 200).isEmpty());
}

TEST_F(SerialTest, LineSettingsFollowTheSettersOnAnOpenPort) {
    termios t = slaveSettings(pty);
    t.c_iflag |= IXON | IXOFF;
    t.c_lflag |= ICANON | ECHO | ISIG;
    tcsetattr(pty.slave(), TCSANOW, &t);
    comm.OpenPort();
    t = slaveSettings(pty);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);

    comm.setBaudRate(38400);
    EXPECT_EQ(slaveSpeed(pty), static_cast<speed_t>(B38400));
    comm.setBaudRate(921600);
    EXPECT_EQ(slaveSpeed(pty), static_cast<speed_t>(B921600));
    comm.setBaudRate(250000); // no B-constant for this one
    EXPECT_EQ(test::outputSpeed(pty.slave()), 250000u);
    comm.setBaudRate(115200);
    EXPECT_EQ(slaveSpeed(pty), static_cast<speed_t>(B115200));

    // A pseudo-terminal forces 8 data bits and no parity, so framing shows only in the stop bits.
    comm.setStopBits(TStopBits::_2);
    comm.setXonChar(0x12);
    t = slaveSettings(pty);
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(t.c_cc[VSTART], 0x12);

    // The name too counts only from the next open.
    comm.setCommName(QStringLiteral("/dev/no-such-serial-port"));
    EXPECT_TRUE(comm.isOpen());
    comm.ClosePort();
    EXPECT_EQ(openError(comm), "Error opening serial port");
}

TEST(TermiosSettings, FramingAndFlowControlMapToTheirFlags) {
    termios cooked{};
    cooked.c_iflag = ICRNL | IXANY | IGNPAR;
    cooked.c_oflag = OPOST;
    cooked.c_lflag = ICANON | ECHO | ISIG;
    cooked.c_cflag = CS8 | HUPCL | PARENB | CSTOPB;

    LineSettings s; // class defaults
    termios t = cooked;
    detail::toTermios(s, t);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | IXANY | IGNPAR | INPCK), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | HUPCL | CRTSCTS), static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
    EXPECT_EQ(t.c_cc[VSTART], 0x11);
    EXPECT_EQ(t.c_cc[VSTOP], 0x13);
    EXPECT_EQ(t.c_cc[VMIN], 1);

    s.ByteSize = TByteSize::_7;
    s.Parity = TParity::Even;
    s.ParityCheck = true;
    s.StopBits = TStopBits::_2;
    s.Outx_XonXoffFlow = false;
    s.Outx_CtsFlow = true;
    t = cooked;
    detail::toTermios(s, t);
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS),
              static_cast<tcflag_t>(CS7 | PARENB | CSTOPB | CRTSCTS));
    EXPECT_EQ(t.c_iflag & (INPCK | IXON | IXOFF), static_cast<tcflag_t>(INPCK | IXOFF));

    const std::array<std::pair<TParity, tcflag_t>, 3> others{{
        {TParity::Odd, PARENB | PARODD},
        {TParity::Mark, PARENB | PARODD | CMSPAR},
        {TParity::Space, PARENB | CMSPAR},
    }};
    for (const auto& [parity, flags] : others) {
        s.Parity = parity;
        detail::toTermios(s, t);
        EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), flags);
    }
    s.ByteSize = TByteSize::_5;
    s.Outx_CtsFlow = false;
    s.RtsControl = TRtsControl::RtsHandshake;
    detail::toTermios(s, t);
    EXPECT_EQ(t.c_cflag & (CSIZE | CRTSCTS), static_cast<tcflag_t>(CS5 | CRTSCTS));
}

TEST_F(SerialTest, ASetterGivenTheStoredValueTouchesNothing) {
    comm.OpenPort();
    // Someone else changes the line behind the component's back.
    termios t = slaveSettings(pty);
    cfsetispeed(&t, B1200);
    cfsetospeed(&t, B1200);
    t.c_cc[VSTART] = 0x01;
    tcsetattr(pty.slave(), TCSANOW, &t);

    comm.setBaudRate(9600);
    comm.setXonChar(0x11);
    comm.setDtrControl(TDtrControl::DtrDisable);
    comm.setOutx_XonXoffFlow(false);
    comm.setByteSize(TByteSize::_8);
    comm.setStopBits(TStopBits::_1);
    t = slaveSettings(pty);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B1200));
    EXPECT_EQ(t.c_cc[VSTART], 0x01);

    comm.setXoffLimit(400);
    t = slaveSettings(pty);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(t.c_cc[VSTART], 0x11);
}

TEST_F(SerialTest, AVanishedDeviceHangsUpAndStopsEachDirection) {
    QSignalSpy received(&comm, &TComm::OnReceiveData);
    QSignalSpy hangups(&comm, &TComm::OnRequestHangup);
    comm.OpenPort();
    pty.send("last words");
    ASSERT_TRUE(waitForBytes(received, 10));

    pty.closeMaster();
    ASSERT_TRUE(hangups.wait(5000));
    EXPECT_EQ(hangups.count(), 1); // the idle transmit thread has not noticed yet
    EXPECT_TRUE(comm.isOpen());
    EXPECT_EQ(blocks(received).join(), QByteArray("last words"));

    // The transmit thread meets the dead line on its next block and ends; after that
    // WriteData refuses.
    const std::uint8_t byte = 0x24;
    ASSERT_TRUE(comm.WriteData(&byte, 1));
    ASSERT_TRUE(hangups.wait(5000));
    EXPECT_FALSE(comm.WriteData(&byte, 1));
    EXPECT_TRUE(comm.SendDataEmpty());

    comm.ClosePort();
    EXPECT_FALSE(comm.isOpen());
}

TEST(PortDiscovery, ListsDevicesInNaturalOrderAndTheSimulatorWhenPresent) {
    const QString sim = QStringLiteral("/tmp/ufd-sim-link");
    EXPECT_EQ(choosePorts({"/dev/ttyS10", "/dev/ttyUSB0", "/dev/ttyS2", "/dev/ttyS2", "/dev/ttyS"},
                          sim, false)
                  .join(' ')
                  .toStdString(),
              "/dev/ttyS /dev/ttyS2 /dev/ttyS10 /dev/ttyUSB0");
    EXPECT_EQ(choosePorts({"/dev/ttyS1"}, sim, true), QStringList({"/dev/ttyS1", sim}));
    EXPECT_EQ(choosePorts({}, QString(), true), QStringList());

    QStringList many;
    for (int i = 0; i < 20; ++i) {
        many.append(QStringLiteral("/dev/ttyS%1").arg(i));
    }
    QStringList listed = choosePorts(many, sim, false);
    ASSERT_EQ(listed.size(), 16);
    EXPECT_EQ(listed.back().toStdString(), "/dev/ttyS15");
    listed = choosePorts(many, sim, true);
    ASSERT_EQ(listed.size(), 16);
    EXPECT_EQ(listed.back(), sim);
    EXPECT_EQ(listed[14].toStdString(), "/dev/ttyS14");

    // A live link is offered; one whose target has gone is not.
    PtyPair pty;
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ufd-sim"));
    ASSERT_TRUE(QFile::link(pty.slavePath(), link));
    listed = discoverPorts(link);
    EXPECT_LE(listed.size(), 16);
    EXPECT_EQ(listed.count(link), 1);
    const QString dangling = dir.filePath(QStringLiteral("gone"));
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("nothing")), dangling));
    EXPECT_EQ(discoverPorts(dangling).count(dangling), 0);
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

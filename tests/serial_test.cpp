// The serial component over real pseudo-terminal pairs: TComm opens the slave, the test plays
// the instrument on the master.
#include "core/serial/comm.h"
#include "core/serial/port_discovery.h"
#include "core/serial/serial_port.h"
#include "serial_test_speed.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
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

std::string openError(TComm& comm, QString* reason = nullptr) {
    try {
        comm.OpenPort();
    } catch (const ECommsError& e) {
        if (reason != nullptr) {
            *reason = e.reason();
        }
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
    QString why;
    EXPECT_EQ(openError(other, &why), "Error opening serial port");
    EXPECT_TRUE(why.contains(QStringLiteral("held by another program"))) << why.toStdString();
    EXPECT_FALSE(other.isOpen());
    comm.ClosePort();
    EXPECT_EQ(openError(other), "(opened)");
    other.ClosePort();

    TComm bad;
    bad.setCommName(QStringLiteral("/dev/no-such-serial-port"));
    EXPECT_EQ(openError(bad, &why), "Error opening serial port");
    EXPECT_EQ(why, QStringLiteral("There is no port /dev/no-such-serial-port: is the adapter "
                                  "plugged in?"));
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
    t = slaveSettings(pty);
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);

    // The name too counts only from the next open.
    comm.setCommName(QStringLiteral("/dev/no-such-serial-port"));
    EXPECT_TRUE(comm.isOpen());
    comm.ClosePort();
    EXPECT_EQ(openError(comm), "Error opening serial port");
}

TEST(QtLineSettings, FramingFlowAndModemLinesMapToQtsTerms) {
    LineSettings s; // class defaults: XON/XOFF both ways, DTR and RTS on
    QtLineSettings q = toQt(s);
    EXPECT_EQ(q.baudRate, 9600);
    EXPECT_EQ(q.dataBits, QSerialPort::Data8);
    EXPECT_EQ(q.parity, QSerialPort::NoParity);
    EXPECT_EQ(q.stopBits, QSerialPort::OneStop);
    EXPECT_EQ(q.flowControl, QSerialPort::SoftwareControl);
    EXPECT_EQ(q.dtr, std::optional<bool>(true));
    EXPECT_EQ(q.rts, std::optional<bool>(true));

    s.BaudRate = 921600;
    s.ByteSize = TByteSize::_7;
    s.Parity = TParity::Mark;
    s.StopBits = TStopBits::_2;
    s.Outx_XonXoffFlow = s.Inx_XonXoffFlow = false;
    s.DtrControl = TDtrControl::DtrDisable;
    s.RtsControl = TRtsControl::RtsDisable;
    q = toQt(s);
    EXPECT_EQ(q.baudRate, 921600);
    EXPECT_EQ(q.dataBits, QSerialPort::Data7);
    EXPECT_EQ(q.parity, QSerialPort::MarkParity);
    EXPECT_EQ(q.stopBits, QSerialPort::TwoStop);
    EXPECT_EQ(q.flowControl, QSerialPort::NoFlowControl);
    EXPECT_EQ(q.dtr, std::optional<bool>(false));
    EXPECT_EQ(q.rts, std::optional<bool>(false));

    // Handshake lines are the driver's: neither is set by hand.
    s.RtsControl = TRtsControl::RtsHandshake;
    s.DtrControl = TDtrControl::DtrHandshake;
    q = toQt(s);
    EXPECT_EQ(q.flowControl, QSerialPort::HardwareControl);
    EXPECT_FALSE(q.rts.has_value());
    EXPECT_FALSE(q.dtr.has_value());
}

TEST_F(SerialTest, ASetterGivenTheStoredValueTouchesNothing) {
    comm.OpenPort();
    // Someone else changes the line behind the component's back.
    termios t = slaveSettings(pty);
    cfsetispeed(&t, B1200);
    cfsetospeed(&t, B1200);
    tcsetattr(pty.slave(), TCSANOW, &t);

    comm.setBaudRate(9600);
    comm.setXonChar(0x11);
    comm.setDtrControl(TDtrControl::DtrDisable);
    comm.setOutx_XonXoffFlow(false);
    comm.setByteSize(TByteSize::_8);
    comm.setStopBits(TStopBits::_1);
    t = slaveSettings(pty);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B1200));

    comm.setXoffLimit(400);
    t = slaveSettings(pty);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
}

TEST_F(SerialTest, AVanishedDeviceHangsUpOnceAfterItsLastBytes) {
    QSignalSpy received(&comm, &TComm::OnReceiveData);
    QSignalSpy hangups(&comm, &TComm::OnRequestHangup);
    comm.OpenPort();
    pty.send("last words");
    ASSERT_TRUE(waitForBytes(received, 10));

    pty.closeMaster();
    ASSERT_TRUE(hangups.wait(5000));
    EXPECT_TRUE(comm.isOpen()); // until the owner closes it
    EXPECT_EQ(blocks(received).join(), QByteArray("last words"));
    const std::uint8_t byte = 0x24;
    EXPECT_FALSE(comm.WriteData(&byte, 1));
    EXPECT_TRUE(comm.SendDataEmpty());
    QTest::qWait(100);
    EXPECT_EQ(hangups.count(), 1);

    comm.ClosePort();
    EXPECT_FALSE(comm.isOpen());
}

// Another program that holds the port, under any of its names, keeps it; and while this one
// holds it, another cannot take it.
TEST_F(SerialTest, APortHeldByAnotherProgramIsNotShared) {
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("by-id"));
    ASSERT_TRUE(QFile::link(pty.slavePath(), link));

    QProcess holder;
    holder.start(QStringLiteral(UFDTOOL_PATH),
                 {"monitor", "--port", link, "--seconds", "20", "--count", "1"});
    ASSERT_TRUE(holder.waitForStarted(10000));
    ASSERT_TRUE(pty.masterReadable(10000)); // its first poll: it has the port
    EXPECT_EQ(openError(comm), "Error opening serial port");
    EXPECT_FALSE(comm.isOpen());
    holder.kill();
    holder.waitForFinished(10000);
    EXPECT_EQ(openError(comm), "(opened)");

    QProcess other;
    other.start(QStringLiteral(UFDTOOL_PATH), {"connect", "--port", link});
    ASSERT_TRUE(other.waitForFinished(20000));
    EXPECT_EQ(other.exitCode(), 1);
    EXPECT_TRUE(other.readAllStandardError().startsWith("The communication port is invalid!"));
}

TEST(PortDiscovery, ListsEveryDeviceInNaturalOrderAndTheSimulatorWhenPresent) {
    const QString sim = QStringLiteral("/tmp/ufd-sim-link");
    const QList<DeviceInfo> devices{{"/dev/ttyS10", "ttyS10", ""},
                                    {"/dev/ttyUSB0", "ttyUSB0", "USB serial"},
                                    {"/dev/ttyS2", "ttyS2", ""},
                                    {"/dev/ttyS2", "ttyS2", ""},
                                    {"COM17", "COM17", "Bluetooth link"}};
    QStringList labels;
    for (const PortEntry& e : portEntries(devices, sim, true)) {
        labels << e.label;
    }
    EXPECT_EQ(labels.join('|').toStdString(), "COM17 — Bluetooth link|ttyS2|ttyS10|ttyUSB0 — USB "
                                              "serial|ufd-sim-link — simulated instrument");
    const QList<PortEntry> plain = portEntries({{"COM3", "COM3", ""}}, sim, false);
    ASSERT_EQ(plain.size(), 1);
    EXPECT_EQ(plain[0], (PortEntry{"COM3", "COM3", "COM3"}));
    EXPECT_EQ(portEntries(devices, sim, true)[3].name, "ttyUSB0"); // the name alone

    // A live link is offered; one whose target has gone is not.
    PtyPair pty;
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ufd-sim"));
    ASSERT_TRUE(QFile::link(pty.slavePath(), link));
    const auto none = [] { return QList<DeviceInfo>{}; };
    ASSERT_EQ(discoverPorts(link, none).size(), 1);
    EXPECT_EQ(discoverPorts(link, none)[0].location, link);
    const QString dangling = dir.filePath(QStringLiteral("gone"));
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("nothing")), dangling));
    EXPECT_TRUE(discoverPorts(dangling, none).isEmpty());
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

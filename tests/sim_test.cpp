#include "instrument.h"

#include "core/online/curves.h"
#include "core/online/record.h"
#include "core/protocol/packet.h"
#include "demo/demo_data.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using ufd::protocol::PacketCrc32;
using ufd::protocol::readU16;
using ufd::protocol::readU32;
using ufd::sim::Instrument;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes command(std::uint8_t code) {
    ufd::protocol::TxBuffer tx;
    tx.BuildCmdPacket(code, 12);
    return {tx.data(), tx.data() + 12};
}

Bytes command16(std::uint8_t code, std::uint32_t value) {
    ufd::protocol::TxBuffer tx;
    tx.putU32(8, value);
    tx.BuildCmdPacket(code, 16);
    return {tx.data(), tx.data() + 16};
}

Bytes openCommand(const char* name = ufd::protocol::kOpenFileName) {
    ufd::protocol::TxBuffer tx;
    tx.putBytes(8, name, 13);
    tx.BuildCmdPacket(ufd::protocol::CmdOpenFile, 25);
    return {tx.data(), tx.data() + 25};
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

bool crcOk(const Bytes& p) {
    return p.size() >= 12 && readU16(p.data() + 4) == p.size() &&
           readU32(p.data() + p.size() - 4) ==
               PacketCrc32(p.data(), static_cast<std::uint16_t>(p.size() - 4));
}

int code(const Bytes& p) {
    return p.size() > 6 ? p[6] : -1;
}
int status(const Bytes& p) {
    return p.size() > 7 ? p[7] : -1;
}
Bytes payload(const Bytes& p) {
    return {p.begin() + 8, p.end() - 4};
}

Bytes slice(const QByteArray& image, std::size_t from, std::size_t n) {
    const auto* b = reinterpret_cast<const std::uint8_t*>(image.constData());
    return {b + from, b + from + n};
}

// The PC's end of the line, opened the way the serial component opens a port.
class PcPort {
public:
    explicit PcPort(const std::string& path)
        : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
        termios tio{};
        if (fd_ >= 0 && ::tcgetattr(fd_, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    ~PcPort() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    PcPort(const PcPort&) = delete;
    PcPort& operator=(const PcPort&) = delete;

    bool ok() const { return fd_ >= 0; }

    void send(const Bytes& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return;
            }
        }
    }

    // What one read() returns, waiting up to `wait` for something to arrive.
    Bytes readOnce(std::chrono::milliseconds wait) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(wait.count())) <= 0 || (p.revents & POLLIN) == 0) {
            return {};
        }
        Bytes b(8192);
        const ssize_t n = ::read(fd_, b.data(), b.size());
        b.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return b;
    }

    // One whole packet, cut from the stream by its length field. Empty if none completes in
    // time. `reads` tells how many reads it took beyond what was already buffered.
    Bytes readPacket(std::chrono::milliseconds wait = 3000ms, int* reads = nullptr) {
        const auto until = std::chrono::steady_clock::now() + wait;
        int count = 0;
        while (rest_.size() < 6 || rest_.size() < readU16(rest_.data() + 4)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                return {};
            }
            const Bytes more = readOnce(left);
            ++count;
            rest_.insert(rest_.end(), more.begin(), more.end());
        }
        const std::size_t len = std::max<std::size_t>(readU16(rest_.data() + 4), 6);
        Bytes packet(rest_.begin(), rest_.begin() + static_cast<std::ptrdiff_t>(len));
        rest_.erase(rest_.begin(), rest_.begin() + static_cast<std::ptrdiff_t>(len));
        if (reads != nullptr) {
            *reads = count;
        }
        return packet;
    }

    Bytes ask(const Bytes& cmd) {
        send(cmd);
        return readPacket();
    }

    bool quietFor(std::chrono::milliseconds span) {
        return rest_.empty() && readOnce(span).empty();
    }

    bool hangsUp(std::chrono::milliseconds wait) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(wait.count())) <= 0) {
            return false;
        }
        Bytes b(8192);
        while (::read(fd_, b.data(), b.size()) > 0) {
        }
        return (p.revents & POLLHUP) != 0 || errno == EIO;
    }

private:
    int fd_;
    Bytes rest_;
};

class SimTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        image = ufd::demo::makeReportImage(3, 7);
        sim.setReportImage(image);
    }

    void startSim() {
        std::string error;
        ASSERT_TRUE(sim.start(link, error)) << error;
    }

    QTemporaryDir dir;
    std::string link = dir.filePath(QStringLiteral("port")).toStdString();
    QByteArray image;
    Instrument sim;
};

std::string linkTarget(const std::string& link) {
    char buf[256] = {};
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

TEST_F(SimTest, LinkPointsAtTheLineAndConnectAndDisconnectAreAnswered) {
    startSim();
    EXPECT_EQ(linkTarget(link), sim.slavePath());
    PcPort pc(link);
    ASSERT_TRUE(pc.ok());
    for (const std::uint8_t c : {ufd::protocol::CmdConnect, ufd::protocol::CmdDisconnect}) {
        const Bytes a = pc.ask(command(c));
        EXPECT_EQ(a.size(), 12u);
        EXPECT_TRUE(crcOk(a));
        EXPECT_EQ(code(a), c);
        EXPECT_EQ(status(a), 0);
    }
    // A code the instrument does not know goes unanswered: the next answer is the next command's.
    pc.send(command(5) + command(ufd::protocol::CmdConnect));
    EXPECT_EQ(code(pc.readPacket()), ufd::protocol::CmdConnect);
    sim.stop();
    EXPECT_TRUE(linkTarget(link).empty());
}

TEST_F(SimTest, RefusesToReplaceAFileThatIsNotALink) {
    QFile file(QString::fromStdString(link));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("keep me");
    file.close();
    std::string error;
    EXPECT_FALSE(sim.start(link, error));
    EXPECT_FALSE(error.empty());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("keep me"));
}

TEST_F(SimTest, LiveRecordsDecodeToAMovingScreenWithCurves) {
    startSim();
    PcPort pc(sim.slavePath());
    std::vector<ufd::online::InstrumentRecord> recs;
    for (int i = 0; i < 3; ++i) {
        const Bytes a = pc.ask(command(ufd::protocol::CmdOnlineRequest));
        ASSERT_EQ(a.size(), ufd::online::kLivePacketSize);
        ASSERT_TRUE(crcOk(a));
        EXPECT_EQ(code(a), ufd::protocol::CmdOnlineRequest);
        ufd::online::TOnlineData online;
        ASSERT_TRUE(online.decodeLivePacket(a.data(), a.size()));
        recs.push_back(online.decoded());
    }
    for (const auto& r : recs) {
        EXPECT_EQ(r.SoundVel, 3230);
        EXPECT_EQ(r.GateLogic, 3);
        EXPECT_EQ(r.CurrveType, 1);
        EXPECT_GT(r.sValue, 20.0);
        EXPECT_LT(r.sValue, 80.0);
        EXPECT_GT(r.hValue, 0.0);
        EXPECT_LE(r.hValue, 100.0);
        EXPECT_GT(*std::max_element(r.trace1.begin(), r.trace1.end()), 100);
        ufd::online::CurveArrays curves{};
        ufd::online::computeCurves(r, curves);
        EXPECT_GT(*std::max_element(curves[0].begin(), curves[0].end()), 0);
    }
    EXPECT_NE(recs[0].sValue, recs[2].sValue);
    EXPECT_NE(recs[0].trace1, recs[1].trace1);

    sim.setCurveSet(ufd::demo::CurveSet::Avg);
    const Bytes a = pc.ask(command(ufd::protocol::CmdOnlineRequest));
    ASSERT_TRUE(crcOk(a));
    const auto avg = ufd::online::decodeRecord(a.data() + 8, ufd::online::Encoding::Live);
    EXPECT_EQ(avg.CurrveType, 2);
    ufd::online::CurveArrays curves{};
    ufd::online::computeCurves(avg, curves);
    EXPECT_GT(*std::max_element(curves[0].begin(), curves[0].end()), 0);
}

// Reads the whole file as the upload does, re-reading one block through a seek on the way.
Bytes upload(PcPort& pc, std::uint32_t size) {
    Bytes got;
    while (got.size() < size) {
        const auto want =
            std::min<std::uint32_t>(4096, size - static_cast<std::uint32_t>(got.size()));
        const Bytes a = pc.ask(command16(ufd::protocol::CmdReadBlock, want));
        if (!crcOk(a) || status(a) != 0 || a.size() != want + 12u) {
            ADD_FAILURE() << "bad read answer at " << got.size();
            return got;
        }
        const Bytes block = payload(a);
        got.insert(got.end(), block.begin(), block.end());
        if (got.size() == 10 * 4096) {
            const auto back = static_cast<std::uint32_t>(got.size() - want);
            const Bytes seek = pc.ask(command16(ufd::protocol::CmdSetOffset, back));
            EXPECT_TRUE(crcOk(seek));
            EXPECT_EQ(status(seek), 0);
            EXPECT_EQ(payload(pc.ask(command16(ufd::protocol::CmdReadBlock, want))), block);
        }
    }
    return got;
}

TEST_F(SimTest, ReportTransferReproducesTheImage) {
    startSim();
    PcPort pc(sim.slavePath());
    const Bytes open = pc.ask(openCommand());
    ASSERT_TRUE(crcOk(open));
    EXPECT_EQ(code(open), ufd::protocol::CmdOpenFile);
    ASSERT_EQ(status(open), 0);
    const std::uint32_t size = readU32(open.data() + 16);
    ASSERT_EQ(size, 4229120u);
    const Bytes got = upload(pc, size);
    EXPECT_TRUE(got == slice(image, 0, static_cast<std::size_t>(image.size())));
    const Bytes close = pc.ask(command(ufd::protocol::CmdCloseFile));
    EXPECT_TRUE(crcOk(close));
    EXPECT_EQ(status(close), 0);
}

TEST_F(SimTest, FileCommandsOutsideAnOpenFileFail) {
    image = image.left(10000);
    sim.setReportImage(image);
    startSim();
    PcPort pc(sim.slavePath());
    EXPECT_NE(status(pc.ask(command16(ufd::protocol::CmdReadBlock, 4096))), 0);
    EXPECT_NE(status(pc.ask(openCommand("N0:other.bin!"))), 0);
    const Bytes open = pc.ask(openCommand());
    ASSERT_EQ(status(open), 0);
    EXPECT_EQ(readU32(open.data() + 16), 10000u);
    EXPECT_NE(status(pc.ask(command16(ufd::protocol::CmdSetOffset, 10001))), 0);
    EXPECT_NE(status(pc.ask(command16(ufd::protocol::CmdReadBlock, 4097))), 0);
    // Near the end a read gives what is left, at the end nothing.
    EXPECT_EQ(status(pc.ask(command16(ufd::protocol::CmdSetOffset, 8000))), 0);
    EXPECT_EQ(payload(pc.ask(command16(ufd::protocol::CmdReadBlock, 4096))),
              slice(image, 8000, 2000));
    const Bytes end = pc.ask(command16(ufd::protocol::CmdReadBlock, 4096));
    EXPECT_EQ(status(end), 0);
    EXPECT_EQ(end.size(), 12u);
    EXPECT_EQ(status(pc.ask(command(ufd::protocol::CmdCloseFile))), 0);
    EXPECT_NE(status(pc.ask(command16(ufd::protocol::CmdReadBlock, 4096))), 0);
}

TEST_F(SimTest, InputIsReassembledAndGarbageSkipped) {
    startSim();
    PcPort pc(sim.slavePath());
    const Bytes poll = command(ufd::protocol::CmdOnlineRequest);
    pc.send({poll.begin(), poll.begin() + 3});
    std::this_thread::sleep_for(20ms);
    pc.send({poll.begin() + 3, poll.begin() + 7});
    std::this_thread::sleep_for(20ms);
    pc.send({poll.begin() + 7, poll.end()});
    EXPECT_EQ(code(pc.readPacket()), ufd::protocol::CmdOnlineRequest);

    pc.send(command(ufd::protocol::CmdConnect) + command(ufd::protocol::CmdDisconnect));
    EXPECT_EQ(code(pc.readPacket()), ufd::protocol::CmdConnect);
    EXPECT_EQ(code(pc.readPacket()), ufd::protocol::CmdDisconnect);

    // Noise, a "$" without the header, impossible lengths and a damaged command, then a good one.
    Bytes damaged = command(ufd::protocol::CmdConnect);
    damaged[9] ^= 0x01;
    const Bytes junk = {'x',  'y', '$',  '$',  0x16, 0xFE, 0xCC, 0x05,
                        0x00, '$', 0x16, 0xFE, 0xCC, 0xFF, 0x7F};
    pc.send(junk + damaged + command(ufd::protocol::CmdDisconnect));
    EXPECT_EQ(code(pc.readPacket()), ufd::protocol::CmdDisconnect);

    // A header promising more than ever comes is given up, and what follows it is still heard.
    const Bytes stuck = {'$', 0x16, 0xFE, 0xCC, 0x40, 0x00, 0x30};
    pc.send(stuck + command(ufd::protocol::CmdConnect));
    EXPECT_EQ(code(pc.readPacket()), ufd::protocol::CmdConnect);
    EXPECT_GE(sim.stats().skippedBytes, junk.size() + stuck.size());
    EXPECT_EQ(sim.stats().commands, 5);
}

TEST_F(SimTest, EveryKthReadIsDamagedAndTheReadPositionMovesOn) {
    sim.setDamageReadEvery(2);
    startSim();
    PcPort pc(sim.slavePath());
    ASSERT_EQ(status(pc.ask(openCommand())), 0);
    for (std::size_t i = 0; i < 4; ++i) {
        const Bytes a = pc.ask(command16(ufd::protocol::CmdReadBlock, 4096));
        ASSERT_EQ(a.size(), 4108u);
        EXPECT_EQ(crcOk(a), i % 2 == 0) << "read " << i + 1;
        EXPECT_EQ(payload(a), slice(image, i * 4096, 4096));
    }
    // The upload's recovery: seek back to the damaged block and read it again (read 5, whole).
    EXPECT_EQ(status(pc.ask(command16(ufd::protocol::CmdSetOffset, 4096))), 0);
    const Bytes again = pc.ask(command16(ufd::protocol::CmdReadBlock, 4096));
    EXPECT_TRUE(crcOk(again));
    EXPECT_EQ(payload(again), slice(image, 4096, 4096));
}

TEST_F(SimTest, EveryKthCommandGoesUnanswered) {
    sim.setDropEvery(3);
    startSim();
    PcPort pc(sim.slavePath());
    using namespace ufd::protocol;
    pc.send(command(CmdConnect) + command(CmdDisconnect) + command(CmdOnlineRequest) +
            command(CmdConnect) + command(CmdDisconnect) + command(CmdOnlineRequest) +
            command(CmdConnect));
    std::vector<int> codes;
    for (int i = 0; i < 5; ++i) {
        codes.push_back(code(pc.readPacket()));
    }
    EXPECT_EQ(codes,
              (std::vector<int>{CmdConnect, CmdDisconnect, CmdConnect, CmdDisconnect, CmdConnect}));
}

TEST_F(SimTest, FailureStatusesOnOpenAndOnTheKthRead) {
    sim.setFailOpen(true);
    sim.setFailReadAt(2);
    startSim();
    PcPort pc(sim.slavePath());
    const Bytes refused = pc.ask(openCommand());
    EXPECT_TRUE(crcOk(refused));
    EXPECT_NE(status(refused), 0);
    sim.setFailOpen(false);
    ASSERT_EQ(status(pc.ask(openCommand())), 0);
    const Bytes first = pc.ask(command16(ufd::protocol::CmdReadBlock, 4096));
    const Bytes second = pc.ask(command16(ufd::protocol::CmdReadBlock, 4096));
    const Bytes third = pc.ask(command16(ufd::protocol::CmdReadBlock, 4096));
    EXPECT_EQ(status(first), 0);
    EXPECT_TRUE(crcOk(second));
    EXPECT_NE(status(second), 0);
    EXPECT_EQ(second.size(), 12u);
    EXPECT_EQ(status(third), 0);
    EXPECT_EQ(payload(third), slice(image, 4096, 4096));
}

TEST_F(SimTest, EveryKthAnswerArrivesInTwoParts) {
    sim.setSplitEvery(2);
    startSim();
    PcPort pc(sim.slavePath());
    // A 12-byte answer in one write always arrives in one read; a split one needs two unless the
    // reader slept through the whole pause, which two split answers in a row would both have to.
    int splitSeen = 0;
    for (int i = 1; i <= 4; ++i) {
        pc.send(command(ufd::protocol::CmdConnect));
        int reads = 0;
        const Bytes a = pc.readPacket(3000ms, &reads);
        EXPECT_TRUE(crcOk(a)) << "answer " << i;
        if (i % 2 == 1) {
            EXPECT_EQ(reads, 1) << "answer " << i;
        } else {
            splitSeen += reads >= 2 ? 1 : 0;
        }
    }
    EXPECT_GE(splitSeen, 1);
}

TEST_F(SimTest, LineHangsUpAfterNCommandsAndANewOneFollows) {
    sim.setCloseAfter(2);
    startSim();
    {
        PcPort pc(link);
        EXPECT_TRUE(crcOk(pc.ask(command(ufd::protocol::CmdConnect))));
        EXPECT_TRUE(crcOk(pc.ask(command(ufd::protocol::CmdOnlineRequest))));
        EXPECT_TRUE(pc.hangsUp(3000ms));
    }
    for (int i = 0; i < 300 && sim.stats().lines < 2; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_EQ(sim.stats().lines, 2);
    EXPECT_EQ(linkTarget(link), sim.slavePath());
    PcPort pc(link);
    EXPECT_EQ(code(pc.ask(command(ufd::protocol::CmdConnect))), ufd::protocol::CmdConnect);

    // Unplugged for a while: no link until the new line is there.
    sim.setCloseAfter(1);
    sim.setGoneFor(800ms);
    EXPECT_EQ(code(pc.ask(command(ufd::protocol::CmdConnect))), ufd::protocol::CmdConnect);
    EXPECT_TRUE(pc.hangsUp(3000ms));
    // The link itself goes (a dangling one would only say the old line is closed).
    const QString unplugged = QString::fromStdString(link);
    bool gone = false;
    for (int i = 0; i < 600 && !gone; ++i) {
        gone = !QFileInfo(unplugged).isSymLink();
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_TRUE(gone);
    EXPECT_EQ(sim.stats().lines, 2);
    for (int i = 0; i < 300 && sim.stats().lines < 3; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(sim.stats().lines, 3);
    EXPECT_EQ(linkTarget(link), sim.slavePath());
}

TEST_F(SimTest, DelayedAnswersKeepTheirOrder) {
    sim.setAnswerDelay(400ms);
    startSim();
    PcPort pc(sim.slavePath());
    pc.send(command(ufd::protocol::CmdConnect) + command(ufd::protocol::CmdDisconnect));
    EXPECT_TRUE(pc.quietFor(150ms));
    EXPECT_EQ(code(pc.readPacket()), ufd::protocol::CmdConnect);
    EXPECT_EQ(code(pc.readPacket()), ufd::protocol::CmdDisconnect);
}

TEST_F(SimTest, PushesLiveRecordsOnlyWhileConnected) {
    sim.setPushRate(50);
    startSim();
    PcPort pc(sim.slavePath());
    EXPECT_TRUE(pc.quietFor(200ms));
    EXPECT_EQ(code(pc.ask(command(ufd::protocol::CmdConnect))), ufd::protocol::CmdConnect);
    for (int i = 0; i < 3; ++i) {
        const Bytes p = pc.readPacket();
        ASSERT_TRUE(crcOk(p));
        EXPECT_EQ(code(p), ufd::protocol::CmdOnlineEvent);
        ufd::online::TOnlineData online;
        EXPECT_TRUE(online.decodeLivePacket(p.data(), p.size()));
        EXPECT_EQ(online.decoded().SoundVel, 3230);
    }
    pc.send(command(ufd::protocol::CmdDisconnect));
    int c = 0;
    for (int i = 0; i < 20 && c != ufd::protocol::CmdDisconnect; ++i) {
        c = code(pc.readPacket());
    }
    ASSERT_EQ(c, ufd::protocol::CmdDisconnect);
    EXPECT_TRUE(pc.quietFor(200ms));
}

using Clock = std::chrono::steady_clock;

// Bytes on a serial line: 10 bits each.
Clock::duration lineTime(std::size_t bytes, std::uint32_t baud) {
    return std::chrono::microseconds(bytes * 10'000'000 / baud);
}

TEST_F(SimTest, PacedAnswersTakeTheirLineTimeComeInChunksAndDoNotOverlap) {
    // Both directions are paced: the instrument hears a command only once it is all across.
    sim.setLine({1200, 0});
    startSim();
    PcPort pc(sim.slavePath());
    auto sent = Clock::now();
    EXPECT_EQ(code(pc.ask(command(ufd::protocol::CmdConnect))), ufd::protocol::CmdConnect);
    EXPECT_GE(Clock::now() - sent, lineTime(12 + 12, 1200));

    for (const int usbMs : {16, 0}) {
        SCOPED_TRACE(usbMs);
        sim.setLine({115200, usbMs});
        ASSERT_EQ(status(pc.ask(openCommand())), 0);
        const Bytes read = command16(ufd::protocol::CmdReadBlock, 4096);
        const long long writesBefore = sim.stats().writes;
        sent = Clock::now();
        pc.send(read + read);
        int reads = 0;
        const Bytes first = pc.readPacket(3000ms, &reads);
        const auto firstAt = Clock::now() - sent;
        const Bytes second = pc.readPacket();
        const auto secondAt = Clock::now() - sent;
        ASSERT_EQ(first.size(), 4108u);
        EXPECT_TRUE(crcOk(first));
        EXPECT_EQ(payload(first), slice(image, 0, 4096));
        EXPECT_EQ(payload(second), slice(image, 4096, 4096));
        EXPECT_GE(firstAt, lineTime(4108, 115200));
        EXPECT_GT(reads, 1);
        // The pseudo-terminal splits a write past 4 KiB by itself: count the simulator's.
        EXPECT_GT(sim.stats().writes - writesBefore, 2 * 3);
        // The second answer waits until the first is off the wire.
        EXPECT_GE(secondAt, lineTime(2 * 4108, 115200));
    }
}

TEST_F(SimTest, LateReadHoldsBackOnlyTheKthAnswerAndTheRestQueueBehindIt) {
    constexpr auto kLate = 800ms;
    sim.setLateRead(2, kLate);
    startSim();
    PcPort pc(sim.slavePath());
    ASSERT_EQ(status(pc.ask(openCommand())), 0);
    const Bytes read = command16(ufd::protocol::CmdReadBlock, 4096);
    const auto sent = Clock::now();
    pc.send(read + read + read);
    std::vector<Clock::duration> at;
    for (std::size_t i = 0; i < 3; ++i) {
        const Bytes a = pc.readPacket();
        at.push_back(Clock::now() - sent);
        EXPECT_EQ(payload(a), slice(image, i * 4096, 4096)) << "answer " << i + 1;
    }
    EXPECT_LT(at[0], kLate);
    EXPECT_GE(at[1], kLate);
    EXPECT_GE(at[2], kLate);
}

TEST_F(SimTest, SwitchedOffItIgnoresEverythingThenStartsAfresh) {
    constexpr auto kOff = 1000ms;
    sim.setOffAfter(2, kOff);
    sim.setPushRate(50);
    startSim();
    PcPort pc(sim.slavePath());
    EXPECT_EQ(code(pc.ask(command(ufd::protocol::CmdConnect))), ufd::protocol::CmdConnect);
    pc.send(openCommand());
    Bytes open;
    for (int i = 0; i < 20 && code(open) != ufd::protocol::CmdOpenFile; ++i) {
        open = pc.readPacket(); // live records pushed before the switch-off come first
    }
    const auto offSeen = Clock::now();
    ASSERT_EQ(status(open), 0);

    // Neither answers nor pushes while off, and what is sent then is not heard later.
    pc.send(command(ufd::protocol::CmdConnect));
    EXPECT_TRUE(pc.quietFor(kOff / 2));
    std::this_thread::sleep_until(offSeen + kOff + 200ms);

    const Bytes read = pc.ask(command16(ufd::protocol::CmdReadBlock, 4096));
    EXPECT_EQ(code(read), ufd::protocol::CmdReadBlock);
    EXPECT_NE(status(read), 0);
    EXPECT_EQ(code(pc.ask(command(ufd::protocol::CmdConnect))), ufd::protocol::CmdConnect);
}

TEST(SimProgram, PrintsItsLinkAndRemovesItOnTermination) {
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("sim-port"));
    QProcess proc;
    proc.start(QStringLiteral(UFD_SIM_EXE),
               {QStringLiteral("--link"), link, QStringLiteral("--reports"), QStringLiteral("2")});
    ASSERT_TRUE(proc.waitForStarted());
    ASSERT_TRUE(proc.waitForReadyRead(10000));
    EXPECT_EQ(QString::fromLocal8Bit(proc.readLine()).trimmed(), link);
    {
        PcPort pc(link.toStdString());
        ASSERT_TRUE(pc.ok());
        const Bytes open = pc.ask(openCommand());
        EXPECT_EQ(status(open), 0);
        EXPECT_EQ(readU32(open.data() + 16), 4229120u);
    }
    proc.terminate();
    ASSERT_TRUE(proc.waitForFinished(10000));
    EXPECT_EQ(proc.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(proc.exitCode(), 0);
    EXPECT_FALSE(QFileInfo(link).isSymLink());
}

} // namespace

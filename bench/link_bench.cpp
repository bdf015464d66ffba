// How fast the program uploads the report storage over a serial line, against what the line
// allows, and what the link costs the processor. All on the same simulated line: first an ideal
// uploader (raw reads on the port, each block asked for the moment the last one is in), then the
// program's own upload, then (with --live) the program's live poll for a while.
//   link_bench [--size BYTES] [--baud N] [--usb-ms L] [--latency MS] [--live SECONDS]
// Defaults: 1 MiB at 921600 Bd through 16 ms chunks. --baud 0 is an unpaced pseudo-terminal
// (no chunks unless --usb-ms says so), e.g. with --size 4229120 for a whole report. The CPU
// figures are the program's threads alone (the main thread and the serial component's), the
// simulator's taken off.
#include "core/context/app_context.h"
#include "core/protocol/packet.h"
#include "core/protocol/poll_pacer.h"
#include "core/protocol/report_transfer.h"
#include "core/serial/instrument_port.h"
#include "instrument.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

using namespace ufd;
using Bytes = std::vector<std::uint8_t>;

namespace {

struct Options {
    long long size = 1024 * 1024;
    long long baud = 921600;
    long long usbMs = -1; // 16 on a paced line, none on an unpaced one
    long long latencyMs = 0;
    long long liveSeconds = 0;
};

bool parse(const QStringList& args, Options& o) {
    for (qsizetype i = 1; i < args.size(); ++i) {
        long long* target = nullptr;
        if (args[i] == QLatin1String("--size")) {
            target = &o.size;
        } else if (args[i] == QLatin1String("--baud")) {
            target = &o.baud;
        } else if (args[i] == QLatin1String("--usb-ms")) {
            target = &o.usbMs;
        } else if (args[i] == QLatin1String("--latency")) {
            target = &o.latencyMs;
        } else if (args[i] == QLatin1String("--live")) {
            target = &o.liveSeconds;
        }
        bool ok = target != nullptr && i + 1 < args.size();
        const long long v = ok ? args[++i].toLongLong(&ok) : 0;
        if (!ok || v < 0) {
            return false;
        }
        *target = v;
    }
    if (o.usbMs < 0) {
        o.usbMs = o.baud > 0 ? 16 : 0;
    }
    return o.size <= protocol::kMaxReportFileSize && o.baud <= 100'000'000 && o.usbMs <= 10'000 &&
           o.latencyMs <= 60'000 && o.liveSeconds <= 3600;
}

// A pattern no block repeats, so a block delivered twice or out of place shows.
QByteArray pattern(long long size) {
    QByteArray b(static_cast<qsizetype>(size), '\0');
    for (long long i = 0; i < size; ++i) {
        b[static_cast<qsizetype>(i)] = static_cast<char>((i * 131 + i / 4096 * 7 + 3) & 0xFF);
    }
    return b;
}

double cpuClock(clockid_t clock) {
    timespec t{};
    ::clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double processCpu() {
    return cpuClock(CLOCK_PROCESS_CPUTIME_ID);
}

// The program's own thread (the event loop, the dispatcher, the transfer); the rest of the
// program's CPU is the serial component's I/O thread.
double mainThreadCpu() {
    return cpuClock(CLOCK_THREAD_CPUTIME_ID);
}

// The uploader the line allows: the PC's end of the pseudo-terminal in raw mode, no component,
// no dispatcher, no timers.
class IdealPort {
public:
    explicit IdealPort(const std::string& path)
        : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
        termios tio{};
        if (fd_ >= 0 && ::tcgetattr(fd_, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    ~IdealPort() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    IdealPort(const IdealPort&) = delete;
    IdealPort& operator=(const IdealPort&) = delete;
    bool ok() const { return fd_ >= 0; }

    // Sends the command built in `tx` and returns the answer, cut by its length field; nothing
    // when no whole answer with a good checksum comes within `wait`.
    std::optional<Bytes> ask(const protocol::TxBuffer& tx, std::size_t length,
                             std::chrono::milliseconds wait) {
        for (std::size_t done = 0; done < length;) {
            const ssize_t n = ::write(fd_, tx.data() + done, length - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return std::nullopt;
            } else if (!waitFor(POLLOUT, wait)) {
                return std::nullopt;
            }
        }
        const auto until = std::chrono::steady_clock::now() + wait;
        while (in_.size() < 6 || in_.size() < protocol::readU16(in_.data() + 4)) {
            std::uint8_t buf[8192];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n > 0) {
                in_.insert(in_.end(), buf, buf + n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return std::nullopt;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !waitFor(POLLIN, left)) {
                return std::nullopt;
            }
        }
        const std::size_t len = protocol::readU16(in_.data() + 4);
        if (len < protocol::kMinPacketSize) {
            return std::nullopt;
        }
        Bytes packet(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(len));
        in_.erase(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(len));
        const auto crcAt = static_cast<std::uint16_t>(len - protocol::kCrcSize);
        if (protocol::readU32(packet.data() + crcAt) !=
            protocol::PacketCrc32(packet.data(), crcAt)) {
            return std::nullopt;
        }
        return packet;
    }

private:
    bool waitFor(short events, std::chrono::milliseconds wait) {
        pollfd p{fd_, events, 0};
        return ::poll(&p, 1, static_cast<int>(wait.count())) > 0 && (p.revents & events) != 0;
    }

    int fd_;
    Bytes in_;
};

// Open, read 4096 at a time, close. The time taken, or nothing when anything went wrong.
std::optional<double> idealUpload(const std::string& port, const QByteArray& image,
                                  std::chrono::milliseconds wait) {
    IdealPort pc(port);
    if (!pc.ok()) {
        std::fprintf(stderr, "ideal: cannot open %s\n", port.c_str());
        return std::nullopt;
    }
    QElapsedTimer wall;
    wall.start();
    protocol::TxBuffer tx;
    tx.putBytes(protocol::kHeaderSize, protocol::kOpenFileName, sizeof protocol::kOpenFileName - 1);
    tx.BuildCmdPacket(protocol::CmdOpenFile, 25);
    const auto open = pc.ask(tx, 25, wait);
    if (!open || open->size() < 20 || (*open)[7] != 0) {
        std::fprintf(stderr, "ideal: open-file failed\n");
        return std::nullopt;
    }
    const std::uint32_t size = protocol::readU32(open->data() + 16);
    QByteArray got;
    got.reserve(static_cast<qsizetype>(size));
    while (static_cast<std::uint32_t>(got.size()) < size) {
        const std::uint32_t want = std::min<std::uint32_t>(
            protocol::kTransferBlockSize, size - static_cast<std::uint32_t>(got.size()));
        protocol::TxBuffer read;
        read.putU32(protocol::kHeaderSize, want);
        read.BuildCmdPacket(protocol::CmdReadBlock, 16);
        const auto block = pc.ask(read, 16, wait);
        if (!block || (*block)[7] != 0 || block->size() != want + protocol::kMinPacketSize) {
            std::fprintf(stderr, "ideal: read at %lld failed\n",
                         static_cast<long long>(got.size()));
            return std::nullopt;
        }
        got.append(reinterpret_cast<const char*>(block->data() + protocol::kHeaderSize),
                   static_cast<qsizetype>(want));
    }
    tx.BuildCmdPacket(protocol::CmdCloseFile, 12);
    const auto close = pc.ask(tx, 12, wait);
    const double seconds = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    if (!close || (*close)[7] != 0) {
        std::fprintf(stderr, "ideal: close-file failed\n");
        return std::nullopt;
    }
    if (got != image) {
        std::fprintf(stderr, "ideal: the bytes read differ from the storage\n");
        return std::nullopt;
    }
    return seconds;
}

struct ProgramRun {
    double seconds = 0;
    double cpuSeconds = 0;  // the program's threads, the simulator's taken off
    double mainSeconds = 0; // of which the main thread's
};

// The program's upload as "Upload Report" runs it, through the program's own context.
std::optional<ProgramRun> programUpload(const std::string& port, std::uint32_t baud,
                                        const QByteArray& image, sim::Instrument& instrument) {
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("Report.bin"));
    app::AppContext context;
    try {
        // A pseudo-terminal takes any speed; an unpaced line is opened as the instrument's own.
        serial::openInstrumentPort(context.comm(), QString::fromStdString(port),
                                   baud == 0 ? 921600 : baud);
    } catch (const serial::ECommsError& e) {
        std::fprintf(stderr, "program: cannot open the port: %s\n", e.what());
        return std::nullopt;
    }
    protocol::ReportTransfer transfer(context.dispatcher(), context.reportImage());
    transfer.setSaveTarget(target);
    bool saved = false;
    QObject::connect(&transfer, &protocol::ReportTransfer::finished, [&saved](bool ok) {
        saved = ok;
        QCoreApplication::exit(0);
    });
    QObject::connect(
        &transfer, &protocol::ReportTransfer::operatorMessage,
        [](const QString& text) { std::fprintf(stderr, "program: %s\n", qPrintable(text)); });

    ProgramRun run;
    const double cpuStart = processCpu();
    const double mainStart = mainThreadCpu();
    const double simStart = instrument.stats().cpuSeconds;
    QElapsedTimer wall;
    wall.start();
    transfer.StartUpload();
    QCoreApplication::exec();
    run.seconds = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    run.cpuSeconds = processCpu() - cpuStart - (instrument.stats().cpuSeconds - simStart);
    run.mainSeconds = mainThreadCpu() - mainStart;
    context.comm().ClosePort();

    if (!saved) {
        std::fprintf(stderr, "program: the upload failed\n");
        return std::nullopt;
    }
    QFile file(target);
    if (!file.open(QIODevice::ReadOnly) || file.readAll() != image) {
        std::fprintf(stderr, "program: the saved file differs from the storage\n");
        return std::nullopt;
    }
    return run;
}

struct LiveRun {
    bool ok = false;
    double seconds = 0;
    double cpuSeconds = 0;
    double mainSeconds = 0;
    long long answers = 0;
};

// The live view's link as the online window runs it: the poll paced by the program's pacer, every
// answer through the component and the dispatcher; no drawing.
LiveRun programLive(const std::string& port, std::uint32_t baud, long long seconds,
                    sim::Instrument& instrument) {
    LiveRun run;
    app::AppContext context;
    try {
        serial::openInstrumentPort(context.comm(), QString::fromStdString(port),
                                   baud == 0 ? 921600 : baud);
    } catch (const serial::ECommsError& e) {
        std::fprintf(stderr, "live: cannot open the port: %s\n", e.what());
        return run;
    }
    protocol::PollPacer pacer(context.dispatcher());
    QObject::connect(&context.dispatcher(), &protocol::Dispatcher::onlineData,
                     [&run](const QByteArray&) { ++run.answers; });
    QTimer::singleShot(static_cast<int>(seconds * 1000), [] { QCoreApplication::exit(0); });
    const double cpuStart = processCpu();
    const double mainStart = mainThreadCpu();
    const double simStart = instrument.stats().cpuSeconds;
    QElapsedTimer wall;
    wall.start();
    pacer.start();
    QCoreApplication::exec();
    pacer.stop();
    run.seconds = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    run.cpuSeconds = processCpu() - cpuStart - (instrument.stats().cpuSeconds - simStart);
    run.mainSeconds = mainThreadCpu() - mainStart;
    context.comm().ClosePort();
    run.ok = true;
    return run;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Options o;
    if (!parse(app.arguments(), o)) {
        std::fprintf(stderr, "usage: link_bench [--size BYTES] [--baud N] [--usb-ms L] "
                             "[--latency MS] [--live SECONDS]\n"
                             "       (default 1 MiB at 921600 Bd, 16 ms)\n");
        return 2;
    }
    const QByteArray image = pattern(o.size);
    const auto baud = static_cast<std::uint32_t>(o.baud);
    sim::Instrument instrument;
    instrument.setReportImage(image);
    instrument.setLine({baud, static_cast<int>(o.usbMs)});
    instrument.setAnswerDelay(std::chrono::milliseconds(o.latencyMs));
    std::string error;
    if (!instrument.start(std::string(), error)) {
        std::fprintf(stderr, "link_bench: %s\n", error.c_str());
        return 1;
    }
    const std::string port = instrument.slavePath();

    // Long enough for the slowest answer the options make: a block, the latency, a tick.
    const double blockLine = baud == 0 ? 0.0 : (protocol::kTransferBlockSize + 40) * 10.0 / baud;
    const auto wait = std::chrono::milliseconds(3000 + static_cast<long long>(blockLine * 1000) +
                                                o.latencyMs + o.usbMs);
    const auto ideal = idealUpload(port, image, wait);
    const auto program = programUpload(port, baud, image, instrument);
    const LiveRun live =
        o.liveSeconds > 0 ? programLive(port, baud, o.liveSeconds, instrument) : LiveRun{};
    const sim::Instrument::Stats stats = instrument.stats();
    instrument.stop();

    std::printf("size            %lld bytes\n", o.size);
    std::printf("baud            %u%s\n", baud, baud == 0 ? " (unpaced)" : "");
    std::printf("usb-ms          %lld\n", o.usbMs);
    std::printf("latency         %lld ms\n", o.latencyMs);
    if (baud > 0) {
        std::printf("line time       %.3f s (the report's bytes alone)\n",
                    static_cast<double>(o.size) * 10.0 / baud);
    }
    if (ideal) {
        std::printf("ideal           %.3f s\n", *ideal);
    }
    if (program) {
        std::printf("program         %.3f s\n", program->seconds);
    }
    if (ideal && program && *ideal > 0) {
        std::printf("program/ideal   %.2f\n", program->seconds / *ideal);
    }
    if (program) {
        std::printf("program CPU     %.3f s = %.1f %% of one core\n", program->cpuSeconds,
                    program->seconds > 0 ? 100.0 * program->cpuSeconds / program->seconds : 0.0);
    }
    if (program) {
        std::printf("CPU per upload  %.1f ms for %lld bytes: main thread %.1f ms, serial I/O "
                    "%.1f ms\n",
                    program->cpuSeconds * 1e3, o.size, program->mainSeconds * 1e3,
                    (program->cpuSeconds - program->mainSeconds) * 1e3);
    }
    if (live.ok && live.seconds > 0) {
        std::printf("live            %lld answers in %.1f s = %.1f a second\n", live.answers,
                    live.seconds, static_cast<double>(live.answers) / live.seconds);
        std::printf("live CPU        main thread %.1f ms a second, serial I/O %.1f ms a second\n",
                    1e3 * live.mainSeconds / live.seconds,
                    1e3 * (live.cpuSeconds - live.mainSeconds) / live.seconds);
        std::printf("live CPU        %.1f ms a second = %.1f %% of one core\n",
                    1e3 * live.cpuSeconds / live.seconds, 100.0 * live.cpuSeconds / live.seconds);
    }
    std::printf("simulator       %lld answers, %lld bytes in %lld writes\n", stats.answers,
                stats.bytes, stats.writes);
    return ideal && program && (o.liveSeconds == 0 || live.ok) ? 0 : 1;
}

#include "instrument.h"

#include "command_stream.h"
#include "core/protocol/packet.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <deque>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/uio.h>
#include <unistd.h>

namespace ufd::sim {

namespace {

using Clock = std::chrono::steady_clock;

// The generated report storage: enough reports to browse, in the size the browser expects.
constexpr int kDemoReports = 24;

// Closing the master throws away whatever the PC has not read yet; the last answer before a
// hang-up gets this long to be taken.
constexpr std::chrono::milliseconds kHangUpGrace{200};

// One write waiting for its time on the line.
struct Pending {
    std::string bytes;
    Clock::time_point due; // the earliest it may start on the wire
    std::size_t written = 0;
    std::chrono::milliseconds pauseAfter{0}; // quiet time before the next write may start
    bool answer = false;                     // the last (or only) part of an answer
    bool push = false;
    bool hangUp = false;                      // close the line once this is out
    std::optional<Clock::time_point> start{}; // when its first bit went on the wire
};

// The wire and the adapter behind it (see LineModel), as times: byte k of a write started at
// S is complete at S + (k + 1) * 10 / baud, and reaches the PC at the next tick of the
// adapter's timer. An unpaced line has every byte complete at the start.
class Wire {
public:
    // Lets the loop wake often enough that the PC sees a paced answer grow, without waking
    // for every byte.
    static constexpr std::chrono::milliseconds kGrain{1};

    void set(const LineModel& m) {
        baud_ = m.baud;
        tick_ = std::chrono::milliseconds(std::max(0, m.usbMs));
    }
    bool paced() const { return baud_ > 0; }
    void reset() { free_ = {}; }

    Clock::duration lineTime(std::size_t bytes) const {
        if (baud_ == 0) {
            return Clock::duration::zero();
        }
        // Rounded up, so that at this time completeAt() counts every one of the bytes.
        const auto bits = static_cast<long long>(bytes) * 10'000'000'000LL;
        return std::chrono::nanoseconds((bits + baud_ - 1) / baud_);
    }

    Clock::time_point startOf(const Pending& p) const {
        return p.start ? *p.start : std::max(p.due, free_);
    }

    // Puts `p` on the wire behind everything before it. On an unpaced line the quiet time
    // after a write counts from when the PC got it (finished()), as there is no wire end.
    void begin(Pending& p) {
        p.start = startOf(p);
        if (paced()) {
            free_ = *p.start + lineTime(p.bytes.size()) + p.pauseAfter;
        }
    }
    void finished(const Pending& p, Clock::time_point now) {
        if (!paced()) {
            free_ = now + p.pauseAfter;
        }
    }

    // Bytes of `p` (begun) complete on the wire at `t`.
    std::size_t completeAt(const Pending& p, Clock::time_point t) const {
        const std::size_t size = p.bytes.size();
        if (t < *p.start) {
            return 0;
        }
        if (t - *p.start >= lineTime(size)) {
            return size;
        }
        const auto ns = std::chrono::nanoseconds(t - *p.start).count();
        return static_cast<std::size_t>(ns * static_cast<long long>(baud_) / 10'000'000'000LL);
    }

    // Bytes complete by this time may go to the PC now: the last tick of the adapter's timer.
    Clock::time_point handedBy(Clock::time_point now) const {
        return tick_.count() == 0 ? now : now - now.time_since_epoch() % tick_;
    }
    // When a byte complete at `t` reaches the PC.
    Clock::time_point handOver(Clock::time_point t) const {
        if (tick_.count() == 0) {
            return t;
        }
        const auto late = t.time_since_epoch() % tick_;
        return late.count() == 0 ? t : t - late + tick_;
    }

    // When more of the front write can go to the PC.
    Clock::time_point next(const Pending& p, Clock::time_point now) const {
        const Clock::time_point start = startOf(p);
        const std::size_t size = p.bytes.size();
        Clock::time_point at = start + lineTime(std::min(p.written + 1, size));
        if (tick_.count() == 0 && paced()) {
            at = std::max(at, std::min(start + lineTime(size), now + kGrain));
        }
        return handOver(at);
    }

private:
    std::uint32_t baud_ = 0;
    Clock::duration tick_{};
    Clock::time_point free_{}; // nothing more may start on the wire before this
};

// Reads what the line holds into the stream, or throws it away without one. False when the
// line is gone.
bool readAvailable(int fd, CommandStream* stream) {
    std::array<std::uint8_t, 4096> in{};
    for (;;) {
        const ssize_t n = ::read(fd, in.data(), in.size());
        if (n > 0) {
            if (stream != nullptr) {
                stream->feed(in.data(), static_cast<std::size_t>(n));
            }
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return n < 0 && errno == EAGAIN;
        }
    }
}

void queueReply(std::deque<Pending>& out, const Responder::Reply& reply, Clock::time_point due) {
    if (!reply.packet.empty()) {
        if (reply.split) {
            const std::size_t half = reply.packet.size() / 2;
            out.push_back({reply.packet.substr(0, half), due, 0, Instrument::kSplitPause});
            out.push_back({reply.packet.substr(half), due});
        } else {
            out.push_back({reply.packet, due});
        }
        out.back().answer = true;
        if (reply.hangUp) {
            out.back().pauseAfter = kHangUpGrace;
        }
    }
    if (reply.hangUp) {
        out.push_back({std::string(), due});
        out.back().hangUp = true;
    }
}

struct Flushed {
    long long answers = 0;
    long long pushes = 0;
    long long bytes = 0;
    long long writes = 0;
    bool blocked = false; // the line is full; the front write is part done
    bool lost = false;
    bool hangUp = false;
};

// Hands the PC, in one write, everything that has come off the wire by the adapter's last
// tick. Writes finished go from the queue.
Flushed writeDue(int fd, std::deque<Pending>& out, Wire& wire, Clock::time_point now) {
    Flushed r;
    const Clock::time_point horizon = wire.handedBy(now);
    std::array<iovec, 16> vec{};
    std::array<std::size_t, vec.size()> owner{}; // the queue entry each piece comes from
    std::array<std::size_t, vec.size()> length{};
    std::size_t pieces = 0;
    std::size_t complete = 0; // leading entries entirely off the wire
    for (std::size_t i = 0; i < out.size() && pieces < vec.size(); ++i) {
        Pending& p = out[i];
        if (!p.start) {
            // Unpaced, the pause behind a write runs from when it was written, not yet known.
            if (i > 0 && !wire.paced() && out[i - 1].pauseAfter.count() > 0) {
                break;
            }
            wire.begin(p);
        }
        const std::size_t ready = wire.completeAt(p, horizon);
        if (ready > p.written) {
            vec[pieces] = {p.bytes.data() + p.written, ready - p.written};
            length[pieces] = ready - p.written;
            owner[pieces++] = i;
        }
        if (ready < p.bytes.size() || *p.start > horizon) {
            break;
        }
        ++complete;
        if (p.hangUp) {
            break;
        }
    }

    std::size_t done = 0;
    for (std::size_t first = 0; first < pieces;) {
        const ssize_t n = ::writev(fd, vec.data() + first, static_cast<int>(pieces - first));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            (n < 0 && errno == EAGAIN ? r.blocked : r.lost) = true;
            break;
        }
        ++r.writes;
        auto left = static_cast<std::size_t>(n);
        done += left;
        while (first < pieces && left >= vec[first].iov_len) {
            left -= vec[first++].iov_len;
        }
        if (left > 0) {
            vec[first].iov_base = static_cast<char*>(vec[first].iov_base) + left;
            vec[first].iov_len -= left;
        }
    }
    r.bytes = static_cast<long long>(done);
    for (std::size_t k = 0; k < pieces && done > 0; ++k) {
        Pending& p = out[owner[k]];
        const std::size_t take = std::min(done, length[k]);
        p.written += take;
        done -= take;
    }

    const Clock::time_point after = Clock::now();
    for (; complete > 0 && out.front().written == out.front().bytes.size(); --complete) {
        const Pending& p = out.front();
        r.answers += p.answer ? 1 : 0;
        r.pushes += p.push ? 1 : 0;
        r.hangUp = p.hangUp;
        wire.finished(p, after);
        out.pop_front();
        if (r.hangUp) {
            break;
        }
    }
    return r;
}

} // namespace

Instrument::Instrument() : wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

Instrument::~Instrument() {
    stop();
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
    }
}

void Instrument::setLog(LogFn log, bool perCommand) {
    log_ = std::move(log);
    logCommands_ = perCommand;
}

void Instrument::log(const std::string& text) const {
    if (log_) {
        log_(text);
    }
}

void Instrument::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(wakeFd_, &one, sizeof one);
}

void Instrument::setReportImage(QByteArray image) {
    update([&](Settings& s) { s.reportImage = std::move(image); });
}

void Instrument::setCurveSet(demo::CurveSet curves) {
    update([&](Settings& s) { s.curves = curves; });
}

void Instrument::setPushRate(double hz) {
    {
        std::lock_guard lock(mutex_);
        pushHz_ = std::max(0.0, hz);
    }
    wake();
}

void Instrument::setFaults(const Faults& faults) {
    update([&](Settings& s) { s.faults = faults; });
}

void Instrument::setDamageReadEvery(int k) {
    update([&](Settings& s) { s.faults.damageReadEvery = std::max(0, k); });
}

void Instrument::setDropEvery(int k) {
    update([&](Settings& s) { s.faults.dropEvery = std::max(0, k); });
}

void Instrument::setFailOpen(bool on) {
    update([&](Settings& s) { s.faults.failOpen = on; });
}

void Instrument::setFailReadAt(int k) {
    update([&](Settings& s) { s.faults.failReadAt = std::max(0, k); });
}

void Instrument::setSplitEvery(int k) {
    update([&](Settings& s) { s.faults.splitEvery = std::max(0, k); });
}

void Instrument::setCloseAfter(int n) {
    update([&](Settings& s) { s.faults.closeAfter = std::max(0, n); });
}

void Instrument::setGoneFor(std::chrono::milliseconds gone) {
    update([&](Settings& s) { s.faults.goneFor = std::max(gone, std::chrono::milliseconds(0)); });
}

bool Instrument::pause(std::chrono::milliseconds time) {
    const auto until = Clock::now() + time;
    while (!stopping_) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        if (left.count() <= 0) {
            return true;
        }
        pollfd wakeUp{wakeFd_, POLLIN, 0};
        if (::poll(&wakeUp, 1, static_cast<int>(left.count())) > 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto n = ::read(wakeFd_, &count, sizeof count);
        }
    }
    return false;
}

void Instrument::setAnswerDelay(std::chrono::milliseconds delay) {
    update(
        [&](Settings& s) { s.faults.answerDelay = std::max(delay, std::chrono::milliseconds(0)); });
}

void Instrument::setLateRead(int k, std::chrono::milliseconds by) {
    update([&](Settings& s) {
        s.faults.lateReadAt = std::max(0, k);
        s.faults.lateReadBy = std::max(by, std::chrono::milliseconds(0));
    });
}

void Instrument::setOffAfter(int k, std::chrono::milliseconds offFor) {
    update([&](Settings& s) {
        s.faults.offAfter = std::max(0, k);
        s.faults.offFor = std::max(offFor, std::chrono::milliseconds(0));
    });
}

void Instrument::setLine(LineModel line) {
    {
        std::lock_guard lock(mutex_);
        lineModel_ = line;
    }
    wake();
}

std::string Instrument::slavePath() const {
    std::lock_guard lock(mutex_);
    return slavePath_;
}

Instrument::Stats Instrument::stats() const {
    Stats s;
    std::optional<clockid_t> worker;
    {
        std::lock_guard lock(mutex_);
        s = stats_;
        worker = workerClock_;
    }
    timespec cpu{};
    if (worker && running_ && ::clock_gettime(*worker, &cpu) == 0) {
        s.cpuSeconds = static_cast<double>(cpu.tv_sec) + static_cast<double>(cpu.tv_nsec) / 1e9;
    }
    return s;
}

bool Instrument::openLine(std::string& error) {
    if (!line_.open(error)) {
        return false;
    }
    if (!link_.empty() && !placeLink(link_, line_.slavePath(), error)) {
        line_.close();
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        slavePath_ = line_.slavePath();
        ++stats_.lines;
    }
    log("line open on " + line_.slavePath() + (link_.empty() ? "" : ", linked at " + link_));
    return true;
}

bool Instrument::start(const std::string& linkPath, std::string& error) {
    if (thread_.joinable()) {
        error = "already running";
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        if (settings_.reportImage.isNull()) {
            settings_.reportImage = demo::makeReportImage(kDemoReports, seed_);
        }
    }
    if (wakeFd_ < 0) {
        error = "cannot create the wake-up descriptor";
        return false;
    }
    link_ = linkPath;
    if (!openLine(error)) {
        return false;
    }
    stopping_ = false;
    running_ = true;
    thread_ = std::thread([this] { run(); });
    clockid_t clock{};
    const bool known = ::pthread_getcpuclockid(thread_.native_handle(), &clock) == 0;
    {
        std::lock_guard lock(mutex_);
        workerClock_ = known ? std::optional<clockid_t>(clock) : std::nullopt;
    }
    return true;
}

void Instrument::stop() {
    if (!thread_.joinable()) {
        return;
    }
    stopping_ = true;
    wake();
    thread_.join();
    const std::string target = slavePath();
    line_.close();
    removeLink(link_, target);
    running_ = false;
}

void Instrument::run() {
    Responder responder(seed_);
    CommandStream stream;
    std::deque<Pending> out;
    Wire wire;
    bool blocked = false; // the line took only part of a write: wait until it takes more
    bool pushing = false;
    Clock::duration pushPeriod{};
    Clock::time_point nextPush;
    bool off = false; // switched off (fault) until offUntil
    Clock::time_point offUntil{};
    std::optional<Clock::time_point> wake;

    while (!stopping_) {
        std::array<pollfd, 2> fds{};
        fds[0] = {line_.master(), static_cast<short>(POLLIN | (blocked ? POLLOUT : 0)), 0};
        fds[1] = {wakeFd_, POLLIN, 0};
        // A paced line wakes on its own timetable; milliseconds would add up to one per chunk.
        timespec timeout{};
        if (wake) {
            const auto ns =
                std::max<long long>(0, std::chrono::nanoseconds(*wake - Clock::now()).count());
            timeout = {static_cast<time_t>(ns / 1'000'000'000),
                       static_cast<long>(ns % 1'000'000'000)};
        }
        if (::ppoll(fds.data(), fds.size(), wake ? &timeout : nullptr, nullptr) < 0 &&
            errno != EINTR) {
            log(std::string("poll: ") + std::strerror(errno));
            break;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto n = ::read(wakeFd_, &count, sizeof count);
        }
        bool lineLost = (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
        if ((fds[0].revents & POLLIN) != 0) {
            lineLost = !readAvailable(line_.master(), off ? nullptr : &stream) || lineLost;
        }
        if ((fds[0].revents & POLLOUT) != 0) {
            blocked = false;
        }

        // Taken after the wait, so a setting made before a command was sent applies to it.
        Settings settings;
        double pushHz = 0;
        {
            std::lock_guard lock(mutex_);
            settings = settings_;
            pushHz = pushHz_;
            wire.set(lineModel_);
        }
        const auto now = Clock::now();
        if (off && now >= offUntil) {
            off = false;
            responder.reset();
            log("switched on again");
        }
        long long commands = 0;
        while (!off) {
            const auto command = stream.next(now);
            if (!command) {
                break;
            }
            ++commands;
            const Responder::Reply reply = responder.handle(*command, settings);
            if (logCommands_) {
                log("command " + std::to_string((*command)[6]) + ": " + reply.note +
                    (reply.split ? ", split (fault)" : ""));
            }
            // The command is only all there once its last byte has crossed the wire.
            const auto heard = now + wire.lineTime(command->size());
            queueReply(out, reply,
                       std::max(heard + settings.faults.answerDelay + reply.holdBack,
                                out.empty() ? now : out.back().due));
            if (reply.switchOff && !reply.hangUp) {
                off = true;
                offUntil = now + settings.faults.offFor;
                stream.clear();
                log("switched off (fault)");
            }
        }
        {
            std::lock_guard lock(mutex_);
            stats_.commands += commands;
            stats_.skippedBytes = stream.skippedBytes();
        }

        const bool pushWanted = pushHz > 0 && responder.connected() && !off;
        if (pushWanted) {
            const auto period = std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(1.0 / pushHz));
            if (!pushing || period != pushPeriod) {
                pushPeriod = period;
                nextPush = now + period;
            }
        }
        pushing = pushWanted;
        if (pushing && now >= nextPush) {
            // A push never cuts into an answer still on its way, and none piles up behind one
            // the PC has not read (a PC that quit without disconnecting reads nothing).
            if (out.empty() && line_.unread() == 0) {
                out.push_back(
                    {responder.onlinePacket(protocol::CmdOnlineEvent, settings.curves), now});
                out.back().push = true;
            }
            nextPush += pushPeriod;
            if (nextPush <= now) {
                nextPush = now + pushPeriod;
            }
        }

        const Flushed flushed =
            lineLost || blocked ? Flushed{} : writeDue(line_.master(), out, wire, now);
        blocked = blocked || flushed.blocked;
        lineLost = lineLost || flushed.lost;
        {
            std::lock_guard lock(mutex_);
            stats_.answers += flushed.answers;
            stats_.pushes += flushed.pushes;
            stats_.bytes += flushed.bytes;
            stats_.writes += flushed.writes;
        }

        if (flushed.hangUp || lineLost) {
            log(flushed.hangUp ? "line closed (fault)" : "line lost");
            const std::string oldLine = line_.slavePath();
            line_.close();
            if (settings.faults.goneFor.count() > 0) {
                removeLink(link_, oldLine);
                log("unplugged for " + std::to_string(settings.faults.goneFor.count()) + " ms");
                if (!pause(settings.faults.goneFor)) {
                    break;
                }
            }
            stream.clear();
            out.clear();
            wire.reset();
            blocked = false;
            pushing = false;
            off = false;
            responder.reset();
            std::string error;
            if (!openLine(error)) {
                log("cannot open a new line: " + error);
                break;
            }
        }

        // Sleep until the line or a setter has something, or the next thing falls due.
        wake = stream.deadline();
        const auto sooner = [&wake](Clock::time_point t) {
            if (!wake || t < *wake) {
                wake = t;
            }
        };
        if (!out.empty() && !blocked) {
            sooner(wire.next(out.front(), now));
        }
        if (pushing) {
            sooner(nextPush);
        }
        if (off) {
            sooner(offUntil);
        }
    }
    running_ = false;
}

} // namespace ufd::sim

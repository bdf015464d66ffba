#include "instrument.h"

#include "command_stream.h"
#include "protocol/packet.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <deque>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
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
    Clock::time_point due;
    std::size_t written = 0;
    std::chrono::milliseconds pauseAfter{0}; // quiet time before the next write may start
    bool answer = false;                     // the last (or only) part of an answer
    bool push = false;
    bool hangUp = false; // close the line once this is out
};

// Reads what the line holds into the stream. False when the line is gone.
bool readAvailable(int fd, CommandStream& stream) {
    std::array<std::uint8_t, 4096> in{};
    for (;;) {
        const ssize_t n = ::read(fd, in.data(), in.size());
        if (n > 0) {
            stream.feed(in.data(), static_cast<std::size_t>(n));
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
    bool blocked = false; // the line is full; the front write is part done
    bool lost = false;
    bool hangUp = false;
};

// Writes every queued item that is due, each in one write unless the line is full.
Flushed writeDue(int fd, std::deque<Pending>& out, Clock::time_point now) {
    Flushed r;
    while (!out.empty() && out.front().due <= now) {
        Pending& p = out.front();
        while (p.written < p.bytes.size()) {
            const ssize_t n = ::write(fd, p.bytes.data() + p.written, p.bytes.size() - p.written);
            if (n > 0) {
                p.written += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                (n < 0 && errno == EAGAIN ? r.blocked : r.lost) = true;
                return r;
            }
        }
        r.answers += p.answer ? 1 : 0;
        r.pushes += p.push ? 1 : 0;
        r.hangUp = p.hangUp;
        const auto pause = p.pauseAfter;
        out.pop_front();
        if (r.hangUp) {
            return r;
        }
        if (!out.empty() && pause.count() > 0) {
            out.front().due = std::max(out.front().due, Clock::now() + pause);
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

void Instrument::setAnswerDelay(std::chrono::milliseconds delay) {
    update(
        [&](Settings& s) { s.faults.answerDelay = std::max(delay, std::chrono::milliseconds(0)); });
}

std::string Instrument::slavePath() const {
    std::lock_guard lock(mutex_);
    return slavePath_;
}

Instrument::Stats Instrument::stats() const {
    std::lock_guard lock(mutex_);
    return stats_;
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
    bool blocked = false; // the line took only part of a write: wait until it takes more
    bool pushing = false;
    Clock::duration pushPeriod{};
    Clock::time_point nextPush;
    int timeout = -1;

    while (!stopping_) {
        std::array<pollfd, 2> fds{};
        fds[0] = {line_.master(), static_cast<short>(POLLIN | (blocked ? POLLOUT : 0)), 0};
        fds[1] = {wakeFd_, POLLIN, 0};
        if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
            log(std::string("poll: ") + std::strerror(errno));
            break;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto n = ::read(wakeFd_, &count, sizeof count);
        }
        bool lineLost = (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
        if ((fds[0].revents & POLLIN) != 0) {
            lineLost = !readAvailable(line_.master(), stream) || lineLost;
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
        }
        const auto now = Clock::now();
        long long commands = 0;
        while (const auto command = stream.next(now)) {
            ++commands;
            const Responder::Reply reply = responder.handle(*command, settings);
            if (logCommands_) {
                log("command " + std::to_string((*command)[6]) + ": " + reply.note +
                    (reply.split ? ", split (fault)" : ""));
            }
            queueReply(
                out, reply,
                std::max(now + settings.faults.answerDelay, out.empty() ? now : out.back().due));
        }
        {
            std::lock_guard lock(mutex_);
            stats_.commands += commands;
            stats_.skippedBytes = stream.skippedBytes();
        }

        const bool pushWanted = pushHz > 0 && responder.connected();
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
            lineLost || blocked ? Flushed{} : writeDue(line_.master(), out, now);
        blocked = blocked || flushed.blocked;
        lineLost = lineLost || flushed.lost;
        {
            std::lock_guard lock(mutex_);
            stats_.answers += flushed.answers;
            stats_.pushes += flushed.pushes;
        }

        if (flushed.hangUp || lineLost) {
            log(flushed.hangUp ? "line closed (fault)" : "line lost");
            line_.close();
            stream.clear();
            out.clear();
            blocked = false;
            pushing = false;
            responder.reset();
            std::string error;
            if (!openLine(error)) {
                log("cannot open a new line: " + error);
                break;
            }
        }

        // Sleep until the line or a setter has something, or the next thing falls due.
        std::optional<Clock::time_point> wake = stream.deadline();
        if (!out.empty() && !blocked && (!wake || out.front().due < *wake)) {
            wake = out.front().due;
        }
        if (pushing && (!wake || nextPush < *wake)) {
            wake = nextPush;
        }
        timeout = -1;
        if (wake) {
            const auto ms =
                std::chrono::ceil<std::chrono::milliseconds>(*wake - Clock::now()).count();
            timeout = static_cast<int>(std::clamp<long long>(ms, 0, INT_MAX));
        }
    }
    running_ = false;
}

} // namespace ufd::sim

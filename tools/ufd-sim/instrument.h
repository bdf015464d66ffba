#pragma once

#include "pty_line.h"
#include "responder.h"

#include <QByteArray>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <time.h>

namespace ufd::sim {

// The serial line between the instrument and the PC as a USB-serial adapter makes it: bytes
// take 10 bit times each on the wire (start, 8 data, stop), and the adapter hands what has
// arrived to the PC when its latency timer runs out.
struct LineModel {
    std::uint32_t baud = 0; // 0: bytes arrive at once, as an ideal line would deliver them
    int usbMs = 0;          // the adapter's latency timer; 0 hands bytes over as they arrive
};

// The simulated instrument on a pseudo-terminal. start() creates the line and a worker thread
// that answers the PC's commands as the instrument does; the PC opens slavePath() (or the link)
// like a serial port. The setters may be called at any time, from any thread.
class Instrument {
public:
    using LogFn = std::function<void(const std::string&)>;

    // The pause inside an answer sent in two parts: long enough that the PC's serial
    // component delivers each part as a block of its own.
    static constexpr std::chrono::milliseconds kSplitPause{60};

    struct Stats {
        int lines = 0;                // lines opened so far (a hang-up opens a new one)
        long long commands = 0;       // commands received with a good checksum
        long long answers = 0;        // answers written (a split answer counts once)
        long long pushes = 0;         // live records sent on the instrument's own account
        std::size_t skippedBytes = 0; // bytes thrown away while resynchronising
        long long bytes = 0;          // bytes handed to the PC
        long long writes = 0;         // the chunks they went in
        double cpuSeconds = 0;        // processor time of the worker thread while it runs
    };

    Instrument();
    ~Instrument();
    Instrument(const Instrument&) = delete;
    Instrument& operator=(const Instrument&) = delete;

    // Before start(): the random source of the live records, and where messages go (called on
    // the worker thread). With `perCommand` every command and answer is reported too.
    void setSeed(std::uint32_t seed) { seed_ = seed; }
    void setLog(LogFn log, bool perCommand = false);

    // The report storage that 96 to 99 read. Without one, start() generates a report file.
    void setReportImage(QByteArray image);
    void setCurveSet(demo::CurveSet curves);
    // Live records with code 20 sent unasked, `hz` a second, while the PC is connected.
    void setPushRate(double hz);

    void setFaults(const Faults& faults);
    void setDamageReadEvery(int k);
    void setDropEvery(int k);
    void setFailOpen(bool on);
    void setFailReadAt(int k);
    void setSplitEvery(int k);
    void setCloseAfter(int n);
    // After a hang-up, the line and its link are gone this long, as an adapter out of its socket.
    void setGoneFor(std::chrono::milliseconds gone);
    // The instrument's thinking time before every answer (its latency).
    void setAnswerDelay(std::chrono::milliseconds delay);
    void setLateRead(int k, std::chrono::milliseconds by = std::chrono::milliseconds(3600));
    void setOffAfter(int k, std::chrono::milliseconds offFor = std::chrono::seconds(5));
    void setLine(LineModel line);

    // Opens the line and starts answering. `linkPath`, if not empty, becomes a symbolic link to
    // the slave side and follows it to every new line.
    bool start(const std::string& linkPath, std::string& error);
    // Stops answering, closes the line and removes the link.
    void stop();

    bool running() const { return running_; }
    std::string slavePath() const;
    std::string linkPath() const { return link_; }
    Stats stats() const;

private:
    void run();
    bool openLine(std::string& error);
    void log(const std::string& text) const;
    void wake();
    // Waits `time` unless stop() comes first; false when it did.
    bool pause(std::chrono::milliseconds time);
    template <class F> void update(F&& change) {
        {
            std::lock_guard lock(mutex_);
            change(settings_);
        }
        wake();
    }

    mutable std::mutex mutex_;
    Settings settings_;
    double pushHz_ = 0;
    LineModel lineModel_;
    std::string slavePath_;
    Stats stats_;

    std::uint32_t seed_ = 1;
    LogFn log_;
    bool logCommands_ = false;
    std::string link_;
    PtyLine line_;
    const int wakeFd_; // eventfd that interrupts the worker's wait
    std::atomic<bool> stopping_{false};
    std::atomic<bool> running_{false};
    std::thread thread_;
    std::optional<clockid_t> workerClock_;
};

} // namespace ufd::sim

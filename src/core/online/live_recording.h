#pragma once

#include "core/online/record.h"

#include <QDateTime>
#include <QFile>
#include <QString>
#include <array>
#include <cstdint>
#include <vector>

namespace ufd::online {

// How far back "Record" reaches: an indication seen on the screen is still in the recording
// when the operator presses it a few seconds later.
constexpr qint64 kPreRecordMs = 10000;
// At most this many frames wait in the pre-record buffer (10 s at 100 answers a second).
constexpr std::size_t kPreRecordFrames = 1000;

// The header's frame rate (tenths of a frame per second) for `framesPerSecond`, within what the
// header can hold; 10 frames a second, the poll rate, when the rate is not known (0 or less).
std::uint16_t frameRateTenths(double framesPerSecond);

// The 1,024-byte header of a recording whose first frame came at `firstFrame` (local time).
QByteArray recordingHeader(std::uint16_t frameRate, std::uint32_t frames,
                           const QDateTime& firstFrame);

// Where a recording whose first frame came at `firstFrame` goes in `folder`:
// "yyyyMMdd-hhmmss.Rec", or "yyyyMMdd-hhmmss (2).Rec"... when that name is taken.
QString recordingPath(const QString& folder, const QDateTime& firstFrame);

// A recording file written as its frames come: the header's frame count is raised, then the
// frame appended. A process that dies therefore leaves at most its last frame incomplete, which
// the reader takes as a recording cut short and plays every whole frame of; between frames the
// count is exact. No frame is ever rewritten, so a long recording costs the same per frame as a
// short one.
class RecordingWriter {
public:
    RecordingWriter() = default;
    ~RecordingWriter() { close(); }
    RecordingWriter(const RecordingWriter&) = delete;
    RecordingWriter& operator=(const RecordingWriter&) = delete;

    // Creates the file (an existing file is never overwritten) and writes the header.
    bool open(const QString& path, std::uint16_t frameRate, const QDateTime& firstFrame);
    // Appends one frame (kRecordSize bytes, stored encoding). On a failed write the file is cut
    // back to its whole frames and false returned; the writer is then closed.
    bool append(const std::uint8_t* storedFrame);
    // The header's frame rate from the next frame on: written with that frame's count, not on
    // its own, since the measured rate changes with nearly every answer.
    bool setFrameRate(std::uint16_t frameRate);
    // Closes the file; it then holds every frame appended, and its header counts them.
    bool close();

    bool isOpen() const { return file_.isOpen(); }
    std::uint32_t frames() const { return frames_; }
    QString path() const { return file_.fileName(); }
    QString errorString() const { return error_; }

private:
    bool patch(qint64 at, const QByteArray& bytes);
    bool fail(const QString& what, const QString& why = {});

    QFile file_;
    std::uint32_t frames_ = 0;
    std::uint16_t frameRate_ = 0;
    QString error_;
};

// One live record as it waits to be recorded: stored encoding, with when it came.
struct TimedFrame {
    qint64 monoMs = 0; // the monotonic clock of the owner
    QDateTime wall;    // local time
    std::array<std::uint8_t, kRecordSize> bytes{};
};

// The last kPreRecordMs of live records, oldest first. A ring: the slots are reused, so keeping
// a record allocates nothing once the buffer is full.
class PreRecordBuffer {
public:
    explicit PreRecordBuffer(qint64 spanMs = kPreRecordMs,
                             std::size_t maxFrames = kPreRecordFrames);

    // Keeps a copy of `stored` and forgets the records older than spanMs before `monoMs`.
    void push(qint64 monoMs, const QDateTime& wall, const std::uint8_t* stored);
    std::size_t size() const { return count_; }
    const TimedFrame& at(std::size_t i) const { return slots_[(head_ + i) % slots_.size()]; }
    void clear() { count_ = 0; }

private:
    qint64 spanMs_;
    std::size_t maxFrames_;
    std::vector<TimedFrame> slots_;
    std::size_t head_ = 0;
    std::size_t count_ = 0;
};

// Records the live view: every live record goes through take(). While not recording it keeps the
// last 10 s; start() writes those and every record after them into the file, until stop(). The
// online window and `ufdtool monitor --record` record with it.
class LiveRecorder {
public:
    // Records into `folder` under the name of the first frame's time (recordingPath). The
    // buffered frames are written at once: false, with lastError(), when that failed.
    bool startInFolder(const QString& folder, double framesPerSecond);
    // Records into `path`, which must not exist yet.
    bool startAt(const QString& path, double framesPerSecond);
    // Takes one live record (kRecordSize bytes, live encoding) that came at `monoMs` / `wall`.
    // False when it could not be written: the recording has then ended with the frames it had,
    // and lastError() says why.
    bool take(const std::uint8_t* liveRecord, qint64 monoMs, const QDateTime& wall);
    // The answer rate as it is measured now; the header follows it.
    void setFrameRate(double framesPerSecond);
    // Ends the recording; the file keeps every frame taken, its header counts them. Returns the
    // frames written (0 when no record came: then no file was made). A recording that a failed
    // write ended has ended already; stop() then returns the frames it kept.
    std::uint32_t stop();

    bool recording() const { return started_; }
    std::uint32_t frames() const { return writer_.frames(); }
    // The file being written (empty until the first frame), or the last one written.
    QString path() const { return path_; }
    QString lastError() const { return error_; }
    const PreRecordBuffer& buffer() const { return buffer_; }

private:
    bool begin(double framesPerSecond);
    bool write(const TimedFrame& frame);

    PreRecordBuffer buffer_;
    RecordingWriter writer_;
    TimedFrame incoming_;
    bool started_ = false;
    bool made_ = false; // this recording's file exists
    QString folder_;    // name by the first frame; empty when path_ was given
    QString path_;
    std::uint16_t frameRate_ = 0;
    QString error_;
};

} // namespace ufd::online

#include "core/online/live_recording.h"

#include "core/online/recording.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cmath>

namespace ufd::online {

namespace {

constexpr qint64 kFrameCountAt = 4;
constexpr qint64 kFrameRateAt = 2;

QByteArray littleEndian(std::uint32_t value, int bytes) {
    QByteArray b(bytes, '\0');
    for (int i = 0; i < bytes; ++i) {
        b[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
    return b;
}

} // namespace

std::uint16_t frameRateTenths(double framesPerSecond) {
    if (!(framesPerSecond > 0)) {
        return 100;
    }
    return static_cast<std::uint16_t>(std::clamp(std::lround(framesPerSecond * 10.0), 1L, 65535L));
}

QByteArray recordingHeader(std::uint16_t frameRate, std::uint32_t frames,
                           const QDateTime& firstFrame) {
    QByteArray h(static_cast<qsizetype>(kRecordingHeaderSize), '\0');
    h[0] = static_cast<char>(0xBB);
    h[1] = static_cast<char>(0xAA);
    h.replace(kFrameRateAt, 2, littleEndian(frameRate, 2));
    h.replace(kFrameCountAt, 4, littleEndian(frames, 4));
    const QDate d = firstFrame.date();
    const QTime t = firstFrame.time();
    h[14] = static_cast<char>(t.second());
    h[15] = static_cast<char>(t.minute());
    h[16] = static_cast<char>(t.hour());
    h[17] = static_cast<char>(d.day());
    h[18] = static_cast<char>(d.month());
    h[19] = static_cast<char>(std::clamp(d.year() - 2000, 0, 255));
    return h;
}

QString recordingPath(const QString& folder, const QDateTime& firstFrame) {
    const QString stem = firstFrame.toString(QStringLiteral("yyyyMMdd-hhmmss"));
    const QDir dir(folder);
    QString path = dir.filePath(stem + QStringLiteral(".Rec"));
    for (int n = 2; QFileInfo::exists(path); ++n) {
        path = dir.filePath(stem + QStringLiteral(" (%1).Rec").arg(n));
    }
    return path;
}

bool RecordingWriter::open(const QString& path, std::uint16_t frameRate,
                           const QDateTime& firstFrame) {
    close();
    frames_ = 0;
    frameRate_ = frameRate;
    error_.clear();
    file_.setFileName(path);
    // Unbuffered: every frame reaches the system when it is appended, not when a buffer fills.
    if (!file_.open(QIODevice::ReadWrite | QIODevice::NewOnly | QIODevice::Unbuffered)) {
        return fail(QStringLiteral("Cannot create %1: %2"));
    }
    const QByteArray header = recordingHeader(frameRate, 0, firstFrame);
    if (file_.write(header) != header.size()) {
        return fail(QStringLiteral("Cannot write %1: %2"));
    }
    return true;
}

bool RecordingWriter::fail(const QString& what, const QString& why) {
    error_ = what.arg(QDir::toNativeSeparators(file_.fileName()),
                      why.isEmpty() ? file_.errorString() : why);
    if (file_.isOpen()) {
        // Whatever came of the failed write goes; the whole frames and their count stay. A file
        // without a frame is no recording and goes altogether.
        file_.resize(static_cast<qint64>(kRecordingHeaderSize) +
                     static_cast<qint64>(kRecordSize) * frames_);
        file_.close();
        if (frames_ == 0) {
            file_.remove();
        }
    }
    return false;
}

bool RecordingWriter::patch(qint64 at, const QByteArray& bytes) {
    const qint64 end = file_.pos();
    return file_.seek(at) && file_.write(bytes) == bytes.size() && file_.seek(end);
}

bool RecordingWriter::append(const std::uint8_t* storedFrame) {
    if (!file_.isOpen()) {
        return false;
    }
    // The count goes first: a frame cut off in the middle of its write is then announced but not
    // all there, and is read as a recording cut short whose whole frames all play.
    static_assert(kFrameCountAt == kFrameRateAt + 2, "the rate and the count are one write");
    const auto size = static_cast<qint64>(kRecordSize);
    if (!patch(kFrameRateAt, littleEndian(frameRate_, 2) + littleEndian(frames_ + 1, 4)) ||
        file_.write(reinterpret_cast<const char*>(storedFrame), size) != size) {
        const QString why = file_.errorString();
        patch(kFrameCountAt, littleEndian(frames_, 4));
        return fail(QStringLiteral("Cannot write %1: %2"), why);
    }
    ++frames_;
    return true;
}

bool RecordingWriter::setFrameRate(std::uint16_t frameRate) {
    frameRate_ = frameRate;
    return file_.isOpen();
}

bool RecordingWriter::close() {
    if (!file_.isOpen()) {
        return error_.isEmpty();
    }
    // The rate measured last, as a rate set after the last frame was written before.
    if (!patch(kFrameRateAt, littleEndian(frameRate_, 2))) {
        return fail(QStringLiteral("Cannot write %1: %2"));
    }
    file_.close();
    if (file_.error() != QFileDevice::NoError) {
        error_ = QStringLiteral("Cannot write %1: %2")
                     .arg(QDir::toNativeSeparators(file_.fileName()), file_.errorString());
        return false;
    }
    return true;
}

PreRecordBuffer::PreRecordBuffer(qint64 spanMs, std::size_t maxFrames)
    : spanMs_(spanMs), maxFrames_(std::max<std::size_t>(1, maxFrames)) {}

void PreRecordBuffer::push(qint64 monoMs, const QDateTime& wall, const std::uint8_t* stored) {
    while (count_ > 0 && monoMs - at(0).monoMs > spanMs_) {
        head_ = (head_ + 1) % slots_.size();
        --count_;
    }
    if (count_ == slots_.size() && slots_.size() < maxFrames_) {
        // Grow by re-laying the ring out oldest first; this happens only while the buffer fills.
        std::vector<TimedFrame> grown(
            std::min(maxFrames_, std::max<std::size_t>(16, 2 * slots_.size())));
        for (std::size_t i = 0; i < count_; ++i) {
            grown[i] = at(i);
        }
        slots_ = std::move(grown);
        head_ = 0;
    }
    if (count_ == slots_.size()) { // full at its limit: the oldest goes
        head_ = (head_ + 1) % slots_.size();
        --count_;
    }
    TimedFrame& slot = slots_[(head_ + count_) % slots_.size()];
    slot.monoMs = monoMs;
    slot.wall = wall;
    std::copy_n(stored, kRecordSize, slot.bytes.begin());
    ++count_;
}

bool LiveRecorder::startInFolder(const QString& folder, double framesPerSecond) {
    folder_ = folder;
    return begin(framesPerSecond);
}

bool LiveRecorder::startAt(const QString& path, double framesPerSecond) {
    folder_.clear();
    path_ = path;
    return begin(framesPerSecond);
}

bool LiveRecorder::begin(double framesPerSecond) {
    stop();
    error_.clear();
    if (!folder_.isEmpty()) {
        path_.clear();
    }
    frameRate_ = frameRateTenths(framesPerSecond);
    made_ = false;
    started_ = true;
    // What was on the screen in the last seconds goes first; the buffer then starts afresh.
    for (std::size_t i = 0; i < buffer_.size() && started_; ++i) {
        write(buffer_.at(i));
    }
    buffer_.clear();
    return started_;
}

bool LiveRecorder::write(const TimedFrame& frame) {
    if (!writer_.isOpen()) {
        if (!folder_.isEmpty()) {
            path_ = recordingPath(folder_, frame.wall);
        }
        if (!writer_.open(path_, frameRate_, frame.wall)) {
            error_ = writer_.errorString();
            started_ = false;
            return false;
        }
        made_ = true;
    }
    if (!writer_.append(frame.bytes.data())) {
        error_ = writer_.errorString();
        started_ = false;
        return false;
    }
    return true;
}

bool LiveRecorder::take(const std::uint8_t* liveRecord, qint64 monoMs, const QDateTime& wall) {
    if (!started_) {
        liveToStored(liveRecord, incoming_.bytes.data());
        buffer_.push(monoMs, wall, incoming_.bytes.data());
        return true;
    }
    incoming_.monoMs = monoMs;
    incoming_.wall = wall;
    liveToStored(liveRecord, incoming_.bytes.data());
    return write(incoming_);
}

void LiveRecorder::setFrameRate(double framesPerSecond) {
    if (!(framesPerSecond > 0)) {
        return;
    }
    frameRate_ = frameRateTenths(framesPerSecond);
    writer_.setFrameRate(frameRate_);
}

std::uint32_t LiveRecorder::stop() {
    started_ = false;
    if (writer_.isOpen() && !writer_.close() && error_.isEmpty()) {
        error_ = writer_.errorString();
    }
    return made_ ? writer_.frames() : 0;
}

} // namespace ufd::online

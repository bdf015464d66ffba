#include "core/online/live_recording.h"
#include "core/online/recording.h"
#include "demo/demo_data.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace ufd;
using online::Recording;

namespace {

QByteArray header(std::uint16_t rate, std::uint32_t frames, std::size_t frameBytes) {
    QByteArray b(static_cast<qsizetype>(1024 + frameBytes), '\0');
    b[0] = static_cast<char>(0xBB);
    b[1] = static_cast<char>(0xAA);
    b[2] = static_cast<char>(rate & 0xFF);
    b[3] = static_cast<char>(rate >> 8);
    for (int i = 0; i < 4; ++i) {
        b[4 + i] = static_cast<char>((frames >> (8 * i)) & 0xFF);
    }
    return b;
}

} // namespace

TEST(Recording, PlayingTimeFramePeriodDateAndTime) {
    auto rec = Recording::parse(header(200, 600, 600 * online::kRecordSize));
    ASSERT_TRUE(rec.has_value());
    EXPECT_DOUBLE_EQ(rec->playingTime(), 30.0);
    EXPECT_EQ(rec->framePeriodMs(), 50);

    QByteArray b = header(150, 150, 150 * online::kRecordSize);
    const char stamp[] = {30, 5, 9, 21, 6, 24};
    for (int i = 0; i < 6; ++i) {
        b[14 + i] = stamp[i];
    }
    rec = Recording::parse(b);
    ASSERT_TRUE(rec.has_value());
    EXPECT_DOUBLE_EQ(rec->playingTime(), 10.0);
    EXPECT_EQ(rec->framePeriodMs(), 66);
    EXPECT_EQ(rec->dateText(), "2024-6-21");
    EXPECT_EQ(rec->timeText(), "9:5:30");
}

TEST(Recording, FilesThatCannotBePlayedAreRefused) {
    QByteArray swapped = header(200, 1, online::kRecordSize);
    swapped[0] = static_cast<char>(0xAA);
    swapped[1] = static_cast<char>(0xBB);
    EXPECT_FALSE(Recording::parse(swapped));
    EXPECT_FALSE(Recording::parse(header(200, 1, online::kRecordSize).left(1023)));
    EXPECT_FALSE(Recording::parse(header(200, 0, 0)));
    EXPECT_FALSE(Recording::parse(header(0, 1, online::kRecordSize)));
    // Not one whole frame.
    EXPECT_FALSE(Recording::parse(header(200, 3, online::kRecordSize - 1)));
    EXPECT_EQ(online::recordingRefusedText(), QStringLiteral("文件非法，请检查!"));
}

// A recording that ends inside a frame (the recorder stopped mid-write) plays its whole frames
// and says it was cut short; no frame is read past the file.
TEST(Recording, ACutShortRecordingPlaysItsWholeFrames) {
    auto rec = Recording::parse(header(200, 3, 3 * online::kRecordSize - 1));
    ASSERT_TRUE(rec.has_value());
    EXPECT_TRUE(rec->cutShort());
    EXPECT_EQ(rec->frameCount(), 2u);
    EXPECT_EQ(rec->announcedFrames(), 3u);
    EXPECT_DOUBLE_EQ(rec->playingTime(), 0.1);
    EXPECT_EQ(rec->cutShortText(), "Recording cut short: 2 of 3 frames.");
    rec = Recording::parse(header(200, 0xFFFFFFFFu, online::kRecordSize));
    ASSERT_TRUE(rec.has_value());
    EXPECT_EQ(rec->frameCount(), 1u);
    EXPECT_FALSE(Recording::parse(header(200, 3, 3 * online::kRecordSize))->cutShort());
}

TEST(Recording, FramesDecodeInTheStoredEncoding) {
    const QByteArray file = demo::makeRecording(5, 200, 3);
    const auto rec = Recording::parse(file);
    ASSERT_TRUE(rec.has_value());
    ASSERT_EQ(rec->frameCount(), 5u);
    const online::InstrumentRecord first = rec->decodeFrame(0);
    const online::InstrumentRecord last = rec->decodeFrame(4);
    EXPECT_EQ(first.CurrveType, 1);
    EXPECT_GT(first.sValue, 30.0);
    EXPECT_LT(first.sValue, 70.0);
    EXPECT_NE(first.sValue, last.sValue); // the flaw echo moves
    EXPECT_EQ(first.probeNameText(), "2.5P13x13K2");
}

namespace {

// A live record whose path and trace mark it as number `n`.
std::vector<std::uint8_t> liveRecord(int n) {
    online::InstrumentRecord r;
    r.sValue = 40.0 + n * 0.125;
    r.ProbeAng = 45.0;
    r.trace1[3] = static_cast<std::int16_t>(n);
    std::vector<std::uint8_t> b(online::kRecordSize, 0);
    online::encodeRecord(r, online::Encoding::Live, b.data());
    return b;
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

// "Record" pressed after the indication: the last 10 s are in the file, older records are not,
// and the file is a whole recording at every moment of its writing.
TEST(LiveRecording, PreRecordBufferAndAFileWholeAtEveryFrame) {
    QTemporaryDir dir;
    online::LiveRecorder recorder;
    const QDateTime t0(QDate(2026, 11, 2), QTime(9, 5, 30));
    // 15 s of answers, 100 ms apart, before "Record".
    for (int n = 0; n <= 150; ++n) {
        recorder.take(liveRecord(n).data(), 100 * n, t0.addMSecs(100 * n));
    }
    ASSERT_EQ(recorder.buffer().size(), 101u); // 5.0 s to 15.0 s
    ASSERT_TRUE(recorder.startInFolder(dir.path(), 9.8));
    EXPECT_EQ(recorder.frames(), 101u);
    EXPECT_EQ(recorder.path(), dir.filePath("20261102-090535.Rec"));

    for (int n = 151; n <= 153; ++n) {
        ASSERT_TRUE(recorder.take(liveRecord(n).data(), 100 * n, t0.addMSecs(100 * n)));
        // Read while it is still written, as after a crash: every frame so far is counted.
        const auto now = Recording::parse(readFile(recorder.path()));
        ASSERT_TRUE(now.has_value());
        EXPECT_EQ(now->frameCount(), static_cast<std::uint32_t>(n - 49));
        EXPECT_EQ(now->bytes().size(), 1024 + (n - 49) * online::kRecordSize);
    }
    EXPECT_EQ(recorder.stop(), 104u);
    EXPECT_FALSE(recorder.recording());

    const auto rec = Recording::parse(readFile(dir.filePath("20261102-090535.Rec")));
    ASSERT_TRUE(rec.has_value());
    EXPECT_EQ(rec->frameRate(), 98);
    EXPECT_EQ(rec->dateText(), "2026-11-2");
    EXPECT_EQ(rec->timeText(), "9:5:35");
    for (std::uint32_t k = 0; k < rec->frameCount(); ++k) {
        const online::InstrumentRecord f = rec->decodeFrame(k);
        const int n = static_cast<int>(k) + 50;
        ASSERT_EQ(f.trace1[3], n);
        EXPECT_FLOAT_EQ(static_cast<float>(f.sValue), static_cast<float>(40.0 + n * 0.125));
        EXPECT_FLOAT_EQ(static_cast<float>(f.ProbeAng), 45.0f);
    }

    // A second recording starts afresh: a name of its own, none of the first one's frames.
    recorder.take(liveRecord(154).data(), 15400, t0.addMSecs(5000));
    ASSERT_TRUE(recorder.startInFolder(dir.path(), 0));
    EXPECT_EQ(recorder.stop(), 1u);
    EXPECT_EQ(recorder.path(), dir.filePath("20261102-090535 (2).Rec"));
    // Nothing came: no file at all.
    ASSERT_TRUE(recorder.startInFolder(dir.path(), 10));
    EXPECT_EQ(recorder.stop(), 0u);
    EXPECT_EQ(QDir(dir.path()).entryList({"*.Rec"}).size(), 2);
}

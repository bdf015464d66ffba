#include "core/online/recording.h"
#include "demo/demo_data.h"

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

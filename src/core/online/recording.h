#pragma once

#include "core/online/record.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>

namespace ufd::online {

constexpr std::size_t kRecordingHeaderSize = 1024;
constexpr std::size_t kRecordingHeaderCopy = 20;

// The message for every recording file that cannot be played.
QString recordingRefusedText();

// A recording file read whole into memory and checked: every frame it plays lies inside it.
class Recording {
public:
    // Returns nothing when the file is refused: bad signature, shorter than its header, no
    // frames announced, a frame rate of 0, or not one whole frame. A file that ends before all
    // the frames it announces (a recording cut short) plays the whole frames it holds.
    static std::optional<Recording> parse(QByteArray bytes);

    const QByteArray& bytes() const { return bytes_; }
    const std::array<std::uint8_t, kRecordingHeaderCopy>& header() const { return header_; }
    std::uint16_t frameRate() const { return frameRate_; } // tenths of a frame per second
    // The frames that play: those the header announces, or the whole ones a cut file holds.
    std::uint32_t frameCount() const { return frameCount_; }
    std::uint32_t announcedFrames() const { return announcedFrames_; }
    bool cutShort() const { return frameCount_ < announcedFrames_; }
    // "Recording cut short: 149 of 150 frames."
    QString cutShortText() const;
    QString dateText() const;   // "2024-6-21"
    QString timeText() const;   // "9:5:30"
    double playingTime() const; // seconds
    int framePeriodMs() const;  // integer part of 10000 / frame rate
    const std::uint8_t* frame(std::uint32_t k) const;
    InstrumentRecord decodeFrame(std::uint32_t k) const {
        return decodeRecord(frame(k), Encoding::Stored);
    }

private:
    QByteArray bytes_;
    std::array<std::uint8_t, kRecordingHeaderCopy> header_{};
    std::uint16_t frameRate_ = 0;
    std::uint32_t frameCount_ = 0;
    std::uint32_t announcedFrames_ = 0;
};

} // namespace ufd::online

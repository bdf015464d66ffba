#pragma once

#include "core/online/recording.h"

#include <optional>

namespace ufd::online {

// What replay keeps for the whole run: the last valid recording, where playing stands, and the
// frame holder. It outlives the replay window.
class ReplayState {
public:
    // Takes a newly read file. A refused file changes nothing: the previous valid recording,
    // its header and its position stay, and no frame is ever read from the refused bytes.
    bool open(QByteArray bytes);

    bool hasRecording() const { return recording_.has_value(); }
    const Recording* recording() const { return recording_ ? &*recording_ : nullptr; }
    double playingTime() const { return recording_ ? recording_->playingTime() : 0.0; }
    // Seconds left to play from the counter, at the recording's own frame period; the whole
    // playing time before the first frame and after the last.
    double remainingTime() const;
    std::uint32_t frameCounter() const { return frameCounter_; }
    void rewind() { frameCounter_ = 0; }

    // Takes the frame at the counter into the holder (curves cleared) and advances. Returns
    // false when the recording ended with this frame (the counter is back at 0).
    bool takeNextFrame();

    const InstrumentRecord& frame() const { return frame_; }
    // Which frame the holder has (the one on the screen); nothing before the first.
    std::optional<std::uint32_t> shownFrame() const { return shownFrame_; }
    CurveArrays& curves() { return curves_; }
    std::int16_t fullScreenFlag() const { return frame_.fullScreen() ? 1 : 0; }

private:
    std::optional<Recording> recording_;
    std::uint32_t frameCounter_ = 0;
    std::optional<std::uint32_t> shownFrame_;
    InstrumentRecord frame_;
    CurveArrays curves_{};
};

} // namespace ufd::online

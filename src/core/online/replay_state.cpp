#include "core/online/replay_state.h"

namespace ufd::online {

bool ReplayState::open(QByteArray bytes) {
    std::optional<Recording> rec = Recording::parse(std::move(bytes));
    if (!rec) {
        return false;
    }
    recording_ = std::move(rec);
    frameCounter_ = 0;
    shownFrame_.reset();
    return true;
}

double ReplayState::remainingTime() const {
    if (!recording_ || frameCounter_ == 0) {
        return playingTime();
    }
    const double framesLeft = static_cast<double>(recording_->frameCount() - frameCounter_);
    return framesLeft * 10.0 / recording_->frameRate();
}

bool ReplayState::takeNextFrame() {
    if (!recording_) {
        return false;
    }
    if (frameCounter_ >= recording_->frameCount()) {
        frameCounter_ = 0;
    }
    decodeRecord(recording_->frame(frameCounter_), Encoding::Stored, frame_);
    shownFrame_ = frameCounter_;
    for (auto& c : curves_) {
        c.fill(0);
    }
    ++frameCounter_;
    if (frameCounter_ < recording_->frameCount()) {
        return true;
    }
    frameCounter_ = 0;
    return false;
}

} // namespace ufd::online

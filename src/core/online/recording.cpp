#include "core/online/recording.h"

#include <cstring>

namespace ufd::online {

QString recordingRefusedText() {
    return QStringLiteral("文件非法，请检查!");
}

std::optional<Recording> Recording::parse(QByteArray bytes) {
    const auto size = static_cast<std::uint64_t>(bytes.size());
    if (size < kRecordingHeaderSize) {
        return std::nullopt;
    }
    const auto* b = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    if (b[0] != 0xBB || b[1] != 0xAA) {
        return std::nullopt;
    }
    Recording r;
    r.frameRate_ = static_cast<std::uint16_t>(b[2] | (b[3] << 8));
    r.frameCount_ = static_cast<std::uint32_t>(b[4]) | (static_cast<std::uint32_t>(b[5]) << 8) |
                    (static_cast<std::uint32_t>(b[6]) << 16) |
                    (static_cast<std::uint32_t>(b[7]) << 24);
    if (r.frameRate_ == 0 || r.frameCount_ == 0) {
        return std::nullopt;
    }
    r.announcedFrames_ = r.frameCount_;
    const std::uint64_t whole = (size - kRecordingHeaderSize) / kRecordSize;
    if (whole == 0) {
        return std::nullopt;
    }
    if (whole < r.frameCount_) {
        r.frameCount_ = static_cast<std::uint32_t>(whole);
    }
    std::memcpy(r.header_.data(), b, kRecordingHeaderCopy);
    r.bytes_ = std::move(bytes);
    return r;
}

QString Recording::cutShortText() const {
    return QStringLiteral("Recording cut short: %1 of %2 frames.")
        .arg(frameCount_)
        .arg(announcedFrames_);
}

QString Recording::dateText() const {
    return QStringLiteral("%1-%2-%3").arg(header_[19] + 2000).arg(header_[18]).arg(header_[17]);
}

QString Recording::timeText() const {
    return QStringLiteral("%1:%2:%3").arg(header_[16]).arg(header_[15]).arg(header_[14]);
}

double Recording::playingTime() const {
    return static_cast<double>(frameCount_) / (static_cast<double>(frameRate_) / 10.0);
}

int Recording::framePeriodMs() const {
    return 10000 / frameRate_;
}

const std::uint8_t* Recording::frame(std::uint32_t k) const {
    if (k >= frameCount_) {
        k = frameCount_ - 1; // callers stay below frameCount(); never read past the file
    }
    return reinterpret_cast<const std::uint8_t*>(bytes_.constData()) + kRecordingHeaderSize +
           static_cast<std::size_t>(kRecordSize) * k;
}

} // namespace ufd::online

#include "core/protocol/answer_stream.h"

#include "core/protocol/packet.h"

#include <algorithm>
#include <cstring>

namespace ufd::protocol {

namespace {

constexpr std::uint8_t kStartByte = 0x24;
constexpr std::size_t kHeaderBytesForLength = 6;

bool lengthPossible(std::size_t length) {
    return length >= kMinPacketSize && length <= kMaxAnswerSize;
}

bool checksumHolds(const std::uint8_t* p, std::size_t length) {
    const auto crcAt = static_cast<std::uint16_t>(length - kCrcSize);
    return readU32(p + crcAt) == PacketCrc32(p, crcAt);
}

} // namespace

void AnswerStream::feed(const char* data, std::size_t count) {
    if (count == 0) {
        return;
    }
    // Handed-out bytes are dropped only now and then, so cutting stays linear in the stream.
    if (head_ >= 16 * 1024 || (head_ > 0 && head_ == buf_.size())) {
        buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(head_));
        for (Candidate& c : candidates_) {
            c.start -= head_;
            c.end -= head_;
        }
        scanned_ -= head_;
        head_ = 0;
    }
    buf_.insert(buf_.end(), reinterpret_cast<const std::uint8_t*>(data),
                reinterpret_cast<const std::uint8_t*>(data) + count);
    findCandidates();
    cut();
}

// A "$" becomes a candidate once its length field is in; a "$" closer to the end than that
// waits for the next chunk.
void AnswerStream::findCandidates() {
    if (scanned_ + kHeaderBytesForLength > buf_.size()) {
        return;
    }
    // The first position whose length field is not in yet; memchr leaps over the payload
    // between "$"s, where a byte-by-byte look cost more than the rest of the answer's way.
    const std::size_t end = buf_.size() - kHeaderBytesForLength + 1;
    while (scanned_ < end) {
        const auto* at = static_cast<const std::uint8_t*>(
            std::memchr(&buf_[scanned_], kStartByte, end - scanned_));
        if (at == nullptr) {
            scanned_ = end;
            break;
        }
        const auto i = static_cast<std::size_t>(at - buf_.data());
        scanned_ = i + 1;
        const std::size_t length = readU16(&buf_[i + 4]);
        if (lengthPossible(length)) {
            candidates_.push_back({i, i + length});
        }
    }
}

void AnswerStream::put(Kind kind, std::size_t from, std::size_t to) {
    if (to > from) {
        pieces_.push_back({kind, QByteArray(reinterpret_cast<const char*>(&buf_[from]),
                                            static_cast<qsizetype>(to - from))});
    }
}

void AnswerStream::cut() {
    const std::size_t size = buf_.size();
    // Candidates that are complete, in the order of their last byte (the earliest start first
    // among equals): the order in which a byte-by-byte line would have completed them.
    std::vector<std::size_t> complete;
    for (std::size_t i = 0; i < candidates_.size(); ++i) {
        if (candidates_[i].end <= size) {
            complete.push_back(i);
        }
    }
    std::sort(complete.begin(), complete.end(), [this](std::size_t a, std::size_t b) {
        return candidates_[a].end != candidates_[b].end ? candidates_[a].end < candidates_[b].end
                                                        : a < b;
    });
    std::size_t earliest = 0; // index of the first live candidate by start
    for (const std::size_t i : complete) {
        Candidate& c = candidates_[i];
        if (c.dead || c.start < head_) {
            continue;
        }
        while (candidates_[earliest].dead || candidates_[earliest].start < head_) {
            ++earliest;
        }
        if (checksumHolds(&buf_[c.start], c.end - c.start)) {
            put(Kind::Skipped, head_, c.start);
            put(Kind::Answer, c.start, c.end);
            head_ = c.end;
        } else if (earliest == i) {
            put(Kind::Skipped, head_, c.start);
            put(Kind::Damaged, c.start, c.end);
            head_ = c.end;
        }
        // A candidate failing inside another still arriving was noise; that one decides.
        c.dead = true;
    }
    candidates_.erase(
        std::remove_if(candidates_.begin(), candidates_.end(),
                       [this](const Candidate& c) { return c.dead || c.start < head_; }),
        candidates_.end());

    // Bytes before the earliest candidate, and before any "$" whose length is not in yet, can
    // be part of nothing.
    std::size_t keepFrom = size;
    for (std::size_t i = std::max(head_, scanned_); i < size; ++i) {
        if (buf_[i] == kStartByte) {
            keepFrom = i;
            break;
        }
    }
    if (!candidates_.empty()) {
        keepFrom = std::min(keepFrom, candidates_.front().start);
    }
    if (keepFrom > head_) {
        put(Kind::Skipped, head_, keepFrom);
        head_ = keepFrom;
    }
    // Handed-out bytes need no search for starts.
    scanned_ = std::max(scanned_, head_);
}

std::optional<AnswerStream::Piece> AnswerStream::next() {
    if (pieces_.empty()) {
        return std::nullopt;
    }
    Piece p = std::move(pieces_.front());
    pieces_.pop_front();
    return p;
}

std::size_t AnswerStream::dropIncomplete() {
    const std::size_t dropped = buf_.size() - head_;
    buf_.clear();
    head_ = 0;
    scanned_ = 0;
    candidates_.clear();
    return dropped;
}

void AnswerStream::clear() {
    dropIncomplete();
    pieces_.clear();
}

} // namespace ufd::protocol

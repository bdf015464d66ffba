#pragma once

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace ufd::protocol {

// The longest answer the program accepts: the receive buffer of the dispatcher.
constexpr std::size_t kMaxAnswerSize = 8192;

// Cuts the instrument's answers out of the received byte stream by their start byte and length
// field, however the line hands the bytes over: an answer split over several chunks, several
// answers in one chunk, noise before an answer.
//
// Every "$" whose length field is possible (12 to 8192) is a candidate. Decisions are taken in
// the order in which candidates complete, as if the bytes came one at a time, so they do not
// depend on where the chunks end: the first candidate to complete with a good checksum is an
// answer, and everything before it was noise; the earliest candidate completing with a bad one
// is a damaged answer; bytes before the earliest candidate can start nothing and are skipped.
// Pure: time and recovery are the caller's.
class AnswerStream {
public:
    enum class Kind {
        Answer,  // a whole answer whose checksum holds
        Damaged, // a whole answer whose checksum fails
        Skipped, // bytes that cannot start an answer
    };
    struct Piece {
        Kind kind;
        QByteArray bytes;
    };

    void feed(const char* data, std::size_t count);
    void feed(const QByteArray& chunk) {
        feed(chunk.constData(), static_cast<std::size_t>(chunk.size()));
    }

    // The next piece, or nothing while the bytes held may still become an answer.
    std::optional<Piece> next();

    // Bytes held for an answer that is not complete yet.
    std::size_t pending() const { return buf_.size() - head_; }
    // Gives up the incomplete answer held; returns how many bytes were dropped.
    std::size_t dropIncomplete();
    void clear();

private:
    struct Candidate {
        std::size_t start;
        std::size_t end; // one past the last byte
        bool dead = false;
    };

    void findCandidates();
    void cut();
    void put(Kind kind, std::size_t from, std::size_t to);

    std::vector<std::uint8_t> buf_;
    std::size_t head_ = 0;              // first byte not yet handed out
    std::size_t scanned_ = 0;           // bytes before this have been looked at for candidates
    std::vector<Candidate> candidates_; // starting at or after head_, by start
    std::deque<Piece> pieces_;
};

} // namespace ufd::protocol

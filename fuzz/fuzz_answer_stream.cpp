// Any byte stream, cut in any chunking, gives the same answers as the whole stream at once, and
// the bytes handed out are exactly the bytes fed, in order.
#include "core/protocol/answer_stream.h"

#include <QByteArray>
#include <cstdlib>
#include <vector>

namespace {

using ufd::protocol::AnswerStream;

struct Cut {
    AnswerStream::Kind kind;
    QByteArray bytes;
};

// Noise may be reported in several pieces; adjacent ones are joined before comparing.
void drain(AnswerStream& s, std::vector<Cut>& out) {
    while (auto p = s.next()) {
        if (p->kind == AnswerStream::Kind::Skipped && !out.empty() &&
            out.back().kind == AnswerStream::Kind::Skipped) {
            out.back().bytes += p->bytes;
        } else {
            out.push_back({p->kind, p->bytes});
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    // The first two bytes seed the chunk lengths; the rest is the stream.
    unsigned seed = data[0] | (unsigned{data[1]} << 8);
    const auto* stream = reinterpret_cast<const char*>(data + 2);
    const std::size_t n = size - 2;

    AnswerStream whole;
    whole.feed(stream, n);
    std::vector<Cut> expected;
    drain(whole, expected);

    AnswerStream chunked;
    std::vector<Cut> got;
    for (std::size_t pos = 0; pos < n;) {
        seed = seed * 1103515245u + 12345u;
        const std::size_t len = std::min<std::size_t>(1 + (seed >> 16) % 300, n - pos);
        chunked.feed(stream + pos, len);
        pos += len;
        drain(chunked, got);
        if (chunked.pending() > ufd::protocol::kMaxAnswerSize + 300) {
            std::abort(); // an incomplete answer never needs more than its own length
        }
    }
    if (got.size() != expected.size() || chunked.pending() != whole.pending()) {
        std::abort();
    }
    QByteArray handedOut;
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (got[i].kind != expected[i].kind || got[i].bytes != expected[i].bytes) {
            std::abort();
        }
        handedOut += got[i].bytes;
    }
    if (handedOut != QByteArray(stream, static_cast<qsizetype>(n - chunked.pending()))) {
        std::abort();
    }
    return 0;
}

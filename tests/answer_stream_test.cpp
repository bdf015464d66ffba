// Cutting answers out of the received byte stream, whatever pieces the line hands over.
#include "core/protocol/answer_stream.h"
#include "protocol_fakes.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

using namespace ufd;
using protocol::AnswerStream;
using Kind = AnswerStream::Kind;

namespace {

struct Cut {
    Kind kind;
    QByteArray bytes;
    bool operator==(const Cut& o) const { return kind == o.kind && bytes == o.bytes; }
};

// Noise is reported as it is seen, so a run of it may come in several pieces; they are joined.
void add(std::vector<Cut>& out, Kind kind, const QByteArray& bytes) {
    if (kind == Kind::Skipped && !out.empty() && out.back().kind == Kind::Skipped) {
        out.back().bytes += bytes;
    } else {
        out.push_back({kind, bytes});
    }
}

std::vector<Cut> drain(AnswerStream& s, std::vector<Cut> out = {}) {
    while (auto p = s.next()) {
        add(out, p->kind, p->bytes);
    }
    return out;
}

// Feeds `stream` in pieces of random length and collects what comes out.
std::vector<Cut> cutInPieces(const QByteArray& stream, quint32 seed, int maxPiece) {
    QRandomGenerator rng(seed);
    AnswerStream s;
    std::vector<Cut> out;
    for (qsizetype pos = 0; pos < stream.size();) {
        const qsizetype n = std::min<qsizetype>(rng.bounded(1, maxPiece + 1), stream.size() - pos);
        s.feed(stream.mid(pos, n));
        pos += n;
        out = drain(s, std::move(out));
    }
    EXPECT_EQ(s.pending(), 0u);
    return out;
}

QByteArray damaged(QByteArray packet) {
    packet[packet.size() / 2] = static_cast<char>(packet[packet.size() / 2] ^ 0x10);
    return packet;
}

} // namespace

TEST(AnswerStream, AnyChunkingGivesTheAnswersOfTheWholeStream) {
    // A block full of bytes that look like the start of an answer claiming 32 bytes.
    QByteArray fakeStarts;
    while (fakeStarts.size() < 4096) {
        fakeStarts += QByteArray("$\x16\xFE\xCC\x20\x00\x63\x00", 8);
    }
    const QByteArray block = test::response(protocol::CmdReadBlock, 0, fakeStarts);
    const QByteArray live = test::response(protocol::CmdOnlineRequest, 0, QByteArray(2824, 'r'));
    const QByteArray connect = test::response(protocol::CmdConnect);
    const QByteArray hurt = damaged(test::response(protocol::CmdSetOffset));
    const QByteArray noise("\x01\x02zz", 4);
    const QByteArray stream = noise + block + connect + hurt + live + noise + connect;

    const std::vector<Cut> expected{{Kind::Skipped, noise},  {Kind::Answer, block},
                                    {Kind::Answer, connect}, {Kind::Damaged, hurt},
                                    {Kind::Answer, live},    {Kind::Skipped, noise},
                                    {Kind::Answer, connect}};
    AnswerStream whole;
    whole.feed(stream);
    EXPECT_EQ(drain(whole), expected);
    for (const int maxPiece : {1, 7, 64, 1500, 9000}) {
        SCOPED_TRACE(maxPiece);
        EXPECT_EQ(cutInPieces(stream, static_cast<quint32>(maxPiece), maxPiece), expected);
    }
}

TEST(AnswerStream, NoiseThatLooksLikeAStartDoesNotSwallowAnswers) {
    const QByteArray connect = test::response(protocol::CmdConnect);
    // A "$" whose length field claims 5,000 bytes, then two real answers.
    QByteArray fake("$\x16\xFE\xCC\x88\x13\x10\x00", 8);
    AnswerStream s;
    s.feed(fake + connect + connect);
    const std::vector<Cut> expected{
        {Kind::Skipped, fake}, {Kind::Answer, connect}, {Kind::Answer, connect}};
    EXPECT_EQ(drain(s), expected);

    // Lengths no answer can have are skipped at once, and an answer still arriving waits.
    QByteArray tooShort = connect;
    tooShort[4] = 11;
    QByteArray tooLong = connect;
    protocol::writeU16(reinterpret_cast<std::uint8_t*>(tooLong.data()) + 4, 8193);
    s.feed(tooShort + tooLong + connect.left(9));
    const std::vector<Cut> skipped = drain(s);
    ASSERT_EQ(skipped.size(), 1u);
    EXPECT_EQ(skipped[0].kind, Kind::Skipped);
    EXPECT_EQ(skipped[0].bytes, tooShort + tooLong);
    EXPECT_EQ(s.pending(), 9u);
    EXPECT_EQ(s.dropIncomplete(), 9u);
    s.feed(connect);
    EXPECT_EQ(drain(s), (std::vector<Cut>{{Kind::Answer, connect}}));
}

#include "core/protocol/report_transfer.h"
#include "protocol_fakes.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <array>
#include <gtest/gtest.h>

using namespace ufd;
using Fault = ufd::test::FakeInstrument::Fault;
using ufd::test::FakeInstrument;
using ufd::test::Line;

namespace {

// Bytes that differ from block to block, so a block stored in the wrong place shows.
QByteArray fileOf(qsizetype size) {
    QByteArray f(size, '\0');
    for (qsizetype i = 0; i < size; ++i) {
        f[i] = static_cast<char>((i * 7 + i / 4096 * 13) & 0xFF);
    }
    return f;
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

struct Upload {
    QTemporaryDir dir;
    Line line;
    protocol::ReportImage image;
    protocol::ReportTransfer transfer{line.d, image};
    QSignalSpy status{&transfer, &protocol::ReportTransfer::statusText};
    QSignalSpy messages{&transfer, &protocol::ReportTransfer::operatorMessage};
    QSignalSpy finished{&transfer, &protocol::ReportTransfer::finished};
    QSignalSpy monitor{&line.d, &protocol::Dispatcher::dataMonitorLine};

    Upload() { transfer.setSaveTarget(target()); }
    QString target() const { return dir.filePath(protocol::reportFileName(QDate(2021, 11, 5))); }

    void run(FakeInstrument& inst) {
        const std::size_t first = line.sent.size();
        transfer.StartUpload();
        test::runExchange(line, inst, first);
    }
    std::vector<int> codes() const {
        std::vector<int> c;
        for (std::size_t i = 0; i < line.sent.size(); ++i) {
            c.push_back(line.code(i));
        }
        return c;
    }
    QString lastStatus() const {
        return status.isEmpty() ? QString() : status.last()[0].toString();
    }
    int progressPositionNow() const { return transfer.progressPosition(); }
};

} // namespace

TEST(Transfer, WholeFilesOfSeveralSizes) {
    struct Case {
        qsizetype size;
        int blocks;
        std::vector<std::uint32_t> reads;
    };
    for (const Case& c : {Case{4096, 1, {4096}}, Case{4097, 2, {4096, 1}}, Case{100, 1, {4096}}}) {
        SCOPED_TRACE(c.size);
        Upload u;
        QSignalSpy progress(&u.transfer, &protocol::ReportTransfer::progressChanged);
        const QByteArray file = fileOf(c.size);
        FakeInstrument inst(file);
        u.run(inst);

        std::vector<int> expected{protocol::CmdOpenFile};
        expected.insert(expected.end(), c.reads.size(), protocol::CmdReadBlock);
        expected.push_back(protocol::CmdCloseFile);
        EXPECT_EQ(u.codes(), expected);
        for (std::size_t i = 0; i < c.reads.size(); ++i) {
            EXPECT_EQ(u.line.value(i + 1), c.reads[i]);
        }
        EXPECT_EQ(u.monitor.size(), static_cast<qsizetype>(c.reads.size()));
        EXPECT_EQ(progress.first()[1].toInt(), c.blocks);
        EXPECT_EQ(progress.last()[0].toInt(), c.blocks);
        EXPECT_EQ(u.image.bytes(), file);
        EXPECT_EQ(readFile(u.target()), file);
        ASSERT_EQ(u.finished.size(), 1);
        EXPECT_TRUE(u.finished[0][0].toBool());
        ASSERT_EQ(u.messages.size(), 1);
        EXPECT_EQ(u.messages[0][0].toString(), QStringLiteral("Upload report success!"));
        EXPECT_EQ(u.lastStatus(), QStringLiteral("Close File success!"));
    }
}

TEST(Transfer, FailureStatuses) {
    const QByteArray file = fileOf(9000);
    {
        Upload u;
        FakeInstrument inst(file);
        inst.faults[0] = Fault::FailStatus;
        u.run(inst);
        EXPECT_EQ(u.codes(), std::vector<int>{protocol::CmdOpenFile});
        ASSERT_EQ(u.messages.size(), 1);
        EXPECT_EQ(u.messages[0][0].toString(), QStringLiteral("Open file error!"));
    }
    {
        Upload u;
        FakeInstrument inst(file);
        inst.faults[2] = Fault::FailStatus;
        u.run(inst);
        EXPECT_EQ(u.codes().back(), protocol::CmdReadBlock);
        EXPECT_EQ(u.line.sent.size(), 3u);
        ASSERT_EQ(u.messages.size(), 1);
        EXPECT_EQ(u.messages[0][0].toString(), QStringLiteral("Upload report error!"));
        EXPECT_FALSE(QFile::exists(u.target()));
        EXPECT_EQ(u.image.size(), 0); // what arrived never reaches the image imports read

        // Starting again begins at offset 0 with a fresh image.
        inst.faults.clear();
        u.run(inst);
        EXPECT_EQ(readFile(u.target()), file);
    }
    {
        // A damaged read answer re-seeks; a refused re-seek (the instrument was restarted and
        // has no file open) ends the transfer at once.
        Upload u;
        FakeInstrument inst(file);
        inst.faults[1] = Fault::Damage;
        inst.faults[2] = Fault::FailStatus;
        u.run(inst);
        EXPECT_EQ(u.codes().back(), protocol::CmdSetOffset);
        ASSERT_EQ(u.messages.size(), 1);
        EXPECT_EQ(u.messages[0][0].toString(), QStringLiteral("Upload report error!"));
        EXPECT_EQ(u.lastStatus(), QStringLiteral("Upload report error!"));
        ASSERT_EQ(u.finished.size(), 1);
        EXPECT_FALSE(u.transfer.running());
        EXPECT_FALSE(QFile::exists(u.target()));
    }
}

TEST(Transfer, DamagedAndLostAnswersLeaveAnIdenticalImage) {
    const QByteArray file = fileOf(3 * 4096 + 500);
    for (Fault fault : {Fault::Damage, Fault::Drop}) {
        SCOPED_TRACE(static_cast<int>(fault));
        Upload u;
        FakeInstrument inst(file);
        inst.faults[2] = fault; // the answer for the second block
        u.run(inst);
        const std::vector<int> expected{96, 99, 99, 98, 99, 99, 99, 97};
        EXPECT_EQ(u.codes(), expected);
        EXPECT_EQ(u.line.value(3), 4096u);
        EXPECT_EQ(u.line.value(4), 4096u);
        EXPECT_EQ(u.monitor.size(), 4 + 2);
        EXPECT_EQ(u.image.bytes(), file);
        EXPECT_EQ(readFile(u.target()), file);
    }
}

TEST(Transfer, DeadLineDuringReadingEndsWithTheFinalTimeOut) {
    Upload u;
    QSignalSpy timeouts(&u.line.d, &protocol::Dispatcher::communicationTimeout);
    FakeInstrument inst(fileOf(10000));
    for (int i = 2; i < 20; ++i) {
        inst.faults[i] = Fault::Drop;
    }
    u.run(inst);
    const std::vector<int> expected{96, 99, 99, 98, 98, 98, 98, 98};
    EXPECT_EQ(u.codes(), expected);
    ASSERT_EQ(timeouts.size(), 6);
    EXPECT_TRUE(timeouts.last()[2].toBool());
    EXPECT_EQ(u.finished.size(), 1);
    EXPECT_FALSE(u.finished[0][0].toBool());
    // The resends are silent; the end is told.
    EXPECT_EQ(u.status.size(), 3);
    EXPECT_EQ(u.lastStatus(), protocol::finalTimeoutText());
    EXPECT_FALSE(QFile::exists(u.target()));
}

// However the recovery goes, one block gets five attempts and only a good block renews them:
// with every second command lost the transfer ends, it does not loop.
TEST(Transfer, EverySecondCommandLostEndsWithTheFinalTimeOut) {
    Upload u;
    FakeInstrument inst(fileOf(6 * 4096));
    for (int i = 1; i < 200; i += 2) {
        inst.faults[i] = Fault::Drop;
    }
    u.run(inst);
    // 96, then the first read lost and five rounds of re-seek and lost read.
    EXPECT_EQ(u.line.sent.size(), 12u);
    ASSERT_EQ(u.finished.size(), 1);
    EXPECT_FALSE(u.finished[0][0].toBool());
    EXPECT_EQ(u.lastStatus(), protocol::finalTimeoutText());
    EXPECT_FALSE(QFile::exists(u.target()));
}

// A read answer that comes after its time-out, once the re-seek has gone out, is stale: it must
// not be stored, and the block the re-seek asks for again lands in its own place.
TEST(Transfer, StaleAnswersChangeNothing) {
    Upload u;
    const QByteArray file = fileOf(3 * 4096);
    FakeInstrument inst(file);
    u.transfer.StartUpload();
    u.transfer.StartUpload(); // a second start while one runs sends nothing
    ASSERT_EQ(u.line.sent.size(), 1u);
    const QByteArray opened = inst.answer(u.line.sent[0]);
    u.line.d.CommReceiveData(opened);
    u.line.d.CommReceiveData(inst.answer(u.line.sent[1])); // block 1
    const QByteArray late = inst.answer(u.line.sent[2]);   // block 2, held back on the line
    u.line.d.Timer1Timer();                                // re-seek to block 2
    ASSERT_EQ(u.line.code(3), protocol::CmdSetOffset);
    const QByteArray seekAnswer = inst.answer(u.line.sent[3]);
    u.line.d.CommReceiveData(late + opened); // the late block, and a second open answer
    EXPECT_EQ(u.line.sent.size(), 4u);
    EXPECT_EQ(u.progressPositionNow(), 1);
    u.line.d.CommReceiveData(seekAnswer);
    test::runExchange(u.line, inst, 4);
    EXPECT_EQ(u.codes(), (std::vector<int>{96, 99, 99, 98, 99, 99, 97}));
    EXPECT_EQ(readFile(u.target()), file);
    EXPECT_EQ(u.line.d.staleAnswers(), 1); // the open answer answered nothing outstanding
}

// Every other way a transfer can end reaches whoever started it: the line vanishing, or the
// line taken by a connect or disconnect in the middle.
TEST(Transfer, ALostOrTakenLineEndsTheTransfer) {
    {
        Upload u;
        FakeInstrument inst(fileOf(3 * 4096));
        u.transfer.StartUpload();
        u.line.d.CommReceiveData(inst.answer(u.line.sent[0]));
        u.line.d.lineLost();
        ASSERT_EQ(u.finished.size(), 1);
        EXPECT_EQ(u.lastStatus(), protocol::lineLostText());
        EXPECT_TRUE(u.messages.isEmpty()); // the main window tells it once
    }
    {
        Upload u;
        FakeInstrument inst(fileOf(3 * 4096));
        u.transfer.StartUpload();
        u.line.d.CommReceiveData(inst.answer(u.line.sent[0]));
        u.line.d.ConnectButtonClick(true);
        ASSERT_EQ(u.finished.size(), 1);
        EXPECT_EQ(u.lastStatus(), QStringLiteral("Upload report error!"));
        EXPECT_FALSE(u.transfer.running());
    }
}

TEST(Transfer, OpenTimeOutsShowInTheUploadWindow) {
    Upload u;
    u.line.d.SendPublicCmd(protocol::CmdConnect);
    u.line.d.Timer1Timer();
    EXPECT_TRUE(u.status.isEmpty());

    u.transfer.StartUpload();
    for (int i = 0; i < 6; ++i) {
        u.line.d.Timer1Timer();
    }
    ASSERT_EQ(u.status.size(), 6);
    EXPECT_EQ(u.status[4][0].toString(), QStringLiteral("Communication timeout and try again5..."));
    EXPECT_EQ(u.status[5][0].toString(), protocol::finalTimeoutText());
    EXPECT_EQ(u.finished.size(), 1);
}

TEST(Transfer, OversizeAnswerFailsWithoutWritingPastTheImage) {
    Upload u;
    const QByteArray file = fileOf(100);
    FakeInstrument inst(file);
    inst.faults[1] = Fault::Oversize;
    u.run(inst);
    EXPECT_EQ(u.codes(), (std::vector<int>{96, 99}));
    ASSERT_EQ(u.messages.size(), 1);
    EXPECT_EQ(u.messages[0][0].toString(), QStringLiteral("Upload report error!"));
    EXPECT_EQ(u.image.size(), 0);
    EXPECT_FALSE(QFile::exists(u.target()));
}

TEST(Transfer, AnAnnouncedSizeBeyondAnyReportStorageIsRefused) {
    Upload u;
    u.transfer.StartUpload();
    std::array<std::uint8_t, 12> payload{};
    protocol::writeU32(payload.data() + 8, protocol::kMaxReportFileSize + 1);
    const std::string p =
        protocol::buildResponsePacket(protocol::CmdOpenFile, 0, payload.data(), payload.size());
    u.line.d.CommReceiveData(QByteArray(p.data(), static_cast<qsizetype>(p.size())));
    ASSERT_EQ(u.messages.size(), 1);
    EXPECT_EQ(u.messages[0][0].toString(), QStringLiteral("Open file error!"));
    EXPECT_EQ(u.image.size(), 0);
    EXPECT_EQ(u.codes(), std::vector<int>{protocol::CmdOpenFile});
}

TEST(Transfer, AnswersAfterTheTransferIsGoneAreDropped) {
    Line line;
    protocol::ReportImage image;
    auto transfer = std::make_unique<protocol::ReportTransfer>(line.d, image);
    transfer->StartUpload();
    EXPECT_EQ(line.d.transfer(), transfer.get());
    transfer.reset();
    EXPECT_EQ(line.d.transfer(), nullptr);

    QByteArray payload(12, '\0');
    payload[8] = 10;
    line.d.CommReceiveData(test::response(protocol::CmdOpenFile, 0, payload));
    EXPECT_EQ(line.sent.size(), 1u);
    EXPECT_EQ(image.size(), 0);
}

TEST(SaveReport, ReplacesTheTargetWholeOrNotAtAll) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Report20211105.bin"));
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(5000, 'o'));
    old.close();

    QString error;
    ASSERT_TRUE(protocol::SaveReportImage(QByteArray(10, 'n'), path, &error));
    EXPECT_EQ(readFile(path), QByteArray(10, 'n'));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"Report20211105.bin"});

    EXPECT_FALSE(protocol::SaveReportImage(QByteArray(10, 'm'),
                                           dir.filePath(QStringLiteral("missing/r.bin")), &error));
    EXPECT_FALSE(error.isEmpty());

    // A save that cannot be written is reported instead of the success, and the file on the
    // instrument stays open.
    Upload u;
    u.transfer.setSaveTarget(u.dir.filePath(QStringLiteral("missing/") + "r.bin"));
    FakeInstrument inst(fileOf(10));
    u.run(inst);
    EXPECT_EQ(u.codes(), (std::vector<int>{96, 99}));
    ASSERT_EQ(u.messages.size(), 1);
    EXPECT_TRUE(u.messages[0][0].toString().contains(u.transfer.saveTarget()));
    EXPECT_NE(u.lastStatus(), QStringLiteral("Upload report success!"));
    EXPECT_FALSE(u.finished[0][0].toBool());
}

// A second upload of that name never replaces a different earlier one; the same bytes again
// may be written over.
TEST(SaveReport, AnEarlierDifferentUploadIsKept) {
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("Report20211105.bin"));
    const auto save = [](const QString& path, const QByteArray& bytes) {
        QString error;
        return protocol::SaveReportImage(bytes, path, &error);
    };
    EXPECT_EQ(protocol::freeReportPath(target, "first"), target);
    ASSERT_TRUE(save(target, "first"));
    EXPECT_EQ(protocol::freeReportPath(target, "first"), target);
    const QString second = dir.filePath(QStringLiteral("Report20211105-2.bin"));
    EXPECT_EQ(protocol::freeReportPath(target, "second"), second);
    ASSERT_TRUE(save(second, "second"));
    EXPECT_EQ(protocol::freeReportPath(target, "second"), second);
    EXPECT_EQ(protocol::freeReportPath(target, "third"),
              dir.filePath(QStringLiteral("Report20211105-3.bin")));

    // Through a transfer: the earlier file stays, the new one goes beside it.
    Upload u;
    QSignalSpy saved(&u.transfer, &protocol::ReportTransfer::saved);
    ASSERT_TRUE(save(u.target(), "earlier"));
    FakeInstrument inst(fileOf(5000));
    u.run(inst);
    ASSERT_EQ(saved.size(), 1);
    EXPECT_EQ(saved[0][0].toString(), u.transfer.savedPath());
    EXPECT_TRUE(u.transfer.savedPath().endsWith("Report20211105-2.bin"));
    EXPECT_EQ(readFile(u.target()), QByteArray("earlier"));
    EXPECT_EQ(readFile(u.transfer.savedPath()), fileOf(5000));
}

TEST(SaveReport, NameAndFolder) {
    EXPECT_EQ(protocol::reportFileName(QDate(2021, 11, 5)), QStringLiteral("Report20211105.bin"));
    EXPECT_EQ(protocol::reportFolder(QStringLiteral("/opt/ufd")),
              QStringLiteral("/opt/ufd/Report/"));
    EXPECT_EQ(protocol::reportFolder(QStringLiteral("/opt/ufd/")),
              QStringLiteral("/opt/ufd/Report/"));
}

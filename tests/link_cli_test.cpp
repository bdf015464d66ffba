// ufdtool against ufd-sim over a real pseudo-terminal: the whole road of a command, faults
// included, through the same objects the windows use.
#include "core/online/record_texts.h"
#include "core/online/recording.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

namespace {

struct ToolRun {
    int code = -1;
    QString out;
    QString err;
};

// One simulator on its own link for the life of a test.
class Simulator {
public:
    Simulator(const QString& dir, const QStringList& options) {
        link_ = dir + "/port";
        proc_.start(QStringLiteral(UFD_SIM_EXE), QStringList{"--link", link_} + options);
        proc_.waitForStarted(10000);
        // The link appears once the line is open.
        for (int i = 0; i < 200 && !QFile::exists(link_); ++i) {
            QThread::msleep(10);
        }
    }
    ~Simulator() {
        proc_.terminate();
        if (!proc_.waitForFinished(5000)) {
            proc_.kill();
            proc_.waitForFinished(5000);
        }
    }
    const QString& link() const { return link_; }

private:
    QProcess proc_;
    QString link_;
};

ToolRun ufdtool(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(UFDTOOL_PATH), args);
    p.waitForFinished(120000);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

// A small report storage, so transfers take a fraction of a second: `size` bytes of a pattern
// that shows any block stored in the wrong place.
QString writeStorage(const QString& path, int size) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 7 + i / 4096 * 13) & 0xFF);
    }
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return path;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class LinkCli : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    QString path(const QString& name) const { return dir_.filePath(name); }
    QTemporaryDir dir_;
};

} // namespace

TEST_F(LinkCli, ConnectAndDisconnectAreAcknowledged) {
    Simulator sim(dir_.path(), {});
    ToolRun r = ufdtool({"connect", "--port", sim.link()});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.trimmed(), "Connect");
    r = ufdtool({"disconnect", "--port", sim.link(), "--baud", "115200"});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.trimmed(), "Disconnect");
}

TEST_F(LinkCli, AnUnansweredConnectIsResentFiveTimesThenGivenUp) {
    Simulator sim(dir_.path(), {"--drop-every", "1"});
    const ToolRun r = ufdtool({"connect", "--port", sim.link(), "--response-timeout", "60"});
    EXPECT_EQ(r.code, 1);
    const QStringList lines = r.err.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 6) << r.err.toStdString();
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(lines[i], QString("Communication timeout and try again%1...").arg(i + 1));
    }
    EXPECT_EQ(lines[5],
              QStringLiteral(
                  "Communication timeout，Please check the line and communication baud rate!"));
}

TEST_F(LinkCli, APortThatDoesNotExistIsRefused) {
    const ToolRun r = ufdtool({"connect", "--port", path("nothing-here")});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.startsWith("The communication port is invalid!"));
}

TEST_F(LinkCli, UploadsOfEveryBlockShapeArriveWhole) {
    for (const int size : {4096, 4097, 100, 3 * 4096 + 77}) {
        const QString storage = writeStorage(path(QString("storage%1.bin").arg(size)), size);
        Simulator sim(dir_.path(), {"--report", storage});
        const QString out = path(QString("up%1.bin").arg(size));
        const ToolRun r = ufdtool({"upload", "--port", sim.link(), "--out", out});
        ASSERT_EQ(r.code, 0) << size << r.out.toStdString() << r.err.toStdString();
        EXPECT_EQ(readAll(out), readAll(storage)) << size;
        EXPECT_TRUE(r.out.contains("Saved: " + out));
    }
    // The same name again for other bytes: the earlier file stays, the output says where.
    const QString storage = writeStorage(path("other.bin"), 300);
    Simulator sim(dir_.path(), {"--report", storage});
    const ToolRun r = ufdtool({"upload", "--port", sim.link(), "--out", path("up100.bin")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("Saved: " + path("up100-2.bin"))) << r.out.toStdString();
    EXPECT_EQ(readAll(path("up100-2.bin")), readAll(storage));
}

TEST_F(LinkCli, DamagedAndLostAnswersStillGiveTheExactImage) {
    const QString storage = writeStorage(path("storage.bin"), 6 * 4096 + 500);
    {
        Simulator sim(dir_.path(), {"--report", storage, "--damage-every", "2"});
        const ToolRun r =
            ufdtool({"upload", "--port", sim.link(), "--out", path("damaged.bin"), "-v"});
        ASSERT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
        EXPECT_EQ(readAll(path("damaged.bin")), readAll(storage));
        // The re-seek shows in the data monitor as a 98 command (code byte 62).
        EXPECT_TRUE(r.out.contains("24 16 FE CC 10 00 62 00 ")) << r.out.toStdString();
    }
    {
        // Every third command unanswered: a lost 99 answer must not shift the blocks.
        Simulator sim(dir_.path(), {"--report", storage, "--drop-every", "3"});
        const ToolRun r = ufdtool({"upload", "--port", sim.link(), "--out", path("lost.bin"),
                                   "--response-timeout", "150"});
        ASSERT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
        EXPECT_EQ(readAll(path("lost.bin")), readAll(storage));
    }
    {
        // Every answer split by a pause: answers are cut from the stream by their length.
        Simulator sim(dir_.path(), {"--report", storage, "--split-every", "1"});
        const ToolRun r = ufdtool({"upload", "--port", sim.link(), "--out", path("split.bin")});
        ASSERT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
        EXPECT_EQ(readAll(path("split.bin")), readAll(storage));
    }
}

// A real line: bytes at the line's speed, handed over in USB-sized chunks, answers late.
TEST_F(LinkCli, PacedLinesGiveByteExactUploads) {
    struct Case {
        const char* baud;
        int size;
        QStringList faults;
    };
    const std::vector<Case> cases{
        // Each block answer needs 4.3 s on the line, longer than the bare 3 s time-out.
        {"9600", 4097, {}},
        // A block 3.6 s late arrives after its re-seek went out, and every second answer is
        // split by a pause.
        {"115200", 5 * 4096 + 77, {"--late-read", "3", "--late-by", "3600", "--split-every", "2"}},
        {"921600", 24 * 4096, {"--latency", "5"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.baud);
        const QString storage = writeStorage(path(QString("paced%1.bin").arg(c.baud)), c.size);
        Simulator sim(dir_.path(),
                      QStringList{"--report", storage, "--baud", c.baud, "--usb-ms", "16"} +
                          c.faults);
        const QString out = path(QString("up%1.bin").arg(c.baud));
        const ToolRun r = ufdtool({"upload", "--port", sim.link(), "--baud", c.baud, "--out", out});
        ASSERT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
        EXPECT_EQ(readAll(out), readAll(storage));
    }
}

// Every way an upload can fail ends in bounded time with its reason, exit 1 and no file.
TEST_F(LinkCli, FailedUploadsSayWhyAndSaveNothing) {
    const QString storage = writeStorage(path("storage.bin"), 8 * 4096);
    struct Case {
        QStringList faults;
        QString reason;
    };
    const std::vector<Case> cases{
        {{"--fail-open"}, "Open file error!"},
        {{"--fail-read", "3"}, "Upload report error!"},
        // Every second command lost: the re-seeks do not renew the attempts of a block.
        {{"--drop-every", "2"},
         "Communication timeout，Please check the line and communication baud rate!"},
        // Switched off in the middle and on again: the re-seek is refused, no file is open.
        {{"--off-after", "4", "--off-for", "1"}, "Upload report error!"},
        // The line vanishes in the middle of the transfer.
        {{"--close-after", "4"}, "The line to the instrument was lost; the port was closed."},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].faults.join(' ').toStdString());
        Simulator sim(dir_.path(), QStringList{"--report", storage} + cases[i].faults);
        const QString out = path(QString("failed%1.bin").arg(i));
        const ToolRun r =
            ufdtool({"upload", "--port", sim.link(), "--out", out, "--response-timeout", "300"});
        EXPECT_EQ(r.code, 1) << r.out.toStdString();
        EXPECT_TRUE(r.err.contains("Upload failed: " + cases[i].reason)) << r.err.toStdString();
        EXPECT_FALSE(QFile::exists(out));
    }
}

TEST_F(LinkCli, MonitorPrintsTheRecordViewTextsOfEachAnswer) {
    Simulator sim(dir_.path(), {"--curves", "avg"});
    const ToolRun r = ufdtool({"monitor", "--port", sim.link(), "--count", "3"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QStringList lines = r.out.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 3);
    QStringList paths;
    for (const QString& line : lines) {
        const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
        ASSERT_FALSE(o.isEmpty()) << line.toStdString();
        EXPECT_EQ(o["code"].toInt(), 48);
        const QJsonObject side = o["sidePanel"].toObject();
        EXPECT_EQ(side.size(), 12);
        EXPECT_TRUE(side["Velocity"].toString().endsWith("m/s"));
        EXPECT_TRUE(side["Probe Freq"].toString().endsWith("MHz"));
        EXPECT_EQ(o["parameter"].toObject().size(), 18);
        paths << o["displays"].toObject()["soundPath"].toString();
    }
    EXPECT_NE(paths[0], paths[2]); // the flaw echo moves between polls
}

// At 115,200 Bd a live answer needs 246 ms on the line: polls wait for their answers instead
// of piling up in the instrument, and the records keep coming.
TEST_F(LinkCli, MonitorKeepsPaceWithASlowLine) {
    Simulator sim(dir_.path(), {"--baud", "115200", "--usb-ms", "16"});
    const ToolRun r =
        ufdtool({"monitor", "--port", sim.link(), "--baud", "115200", "--count", "6"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.trimmed().split('\n').size(), 6);
    EXPECT_TRUE(r.err.contains("6 answers in")) << r.err.toStdString();
}

// Recording over a real line until the adapter is pulled: every answer printed is a frame of
// the file, shown the same, and the file is closed with all of them.
TEST_F(LinkCli, MonitorRecordsEveryAnswerUntilTheLineIsLost) {
    Simulator sim(dir_.path(), {"--baud", "115200", "--usb-ms", "16", "--close-after", "8"});
    const QString file = path("live.Rec");
    const ToolRun r = ufdtool(
        {"monitor", "--port", sim.link(), "--baud", "115200", "--seconds", "20", "--record", file});
    EXPECT_EQ(r.code, 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("The line to the instrument was lost")) << r.err.toStdString();
    const QStringList lines = r.out.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 8);
    EXPECT_TRUE(r.err.contains("Recorded 8 frames in " + file)) << r.err.toStdString();

    const auto rec = ufd::online::Recording::parse(readAll(file));
    ASSERT_TRUE(rec.has_value());
    ASSERT_EQ(rec->frameCount(), 8u);
    EXPECT_GT(rec->frameRate(), 10); // about 4 answers a second at this speed
    EXPECT_LT(rec->frameRate(), 60);
    for (std::uint32_t k = 0; k < 8; ++k) {
        const QJsonObject o = QJsonDocument::fromJson(lines[static_cast<int>(k)].toUtf8()).object();
        const ufd::online::RecordTexts t = ufd::online::recordTexts(rec->decodeFrame(k));
        EXPECT_EQ(t.displays[1].text, o["displays"].toObject()["soundPath"].toString()) << k;
        EXPECT_EQ(t.displays[3].text, o["displays"].toObject()["echoHeight"].toString()) << k;
        QJsonObject side;
        for (const auto& [label, text] : t.sidePanel()) {
            side.insert(label, text);
        }
        EXPECT_EQ(side, o["sidePanel"].toObject()) << k;
    }
    // An existing recording is never written over.
    const ToolRun again = ufdtool({"monitor", "--port", sim.link(), "--record", file});
    EXPECT_EQ(again.code, 1);
    EXPECT_EQ(rec->bytes(), readAll(file));
}

#include "core/context/version.h"
#include "demo/demo_data.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct ToolRun {
    int code = -1;
    QString out;
    QString err;
};

ToolRun ufdtool(const QString& dir, const QStringList& args) {
    QProcess p;
    p.setWorkingDirectory(dir);
    p.start(QStringLiteral(UFDTOOL_PATH), args);
    p.waitForFinished(60000);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

} // namespace

TEST(Ufdtool, ImportReplacesReportsAndAWrongSizeLeavesThemAlone) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString good = dir.filePath("good.bin");
    ToolRun r = ufdtool(dir.path(), {"make-report", good, "--reports", "30", "--seed", "4"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    r = ufdtool(dir.path(), {"import-report", good});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("Reports imported: 30")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("Time taken:"));

    QFile bad(dir.filePath("bad.bin"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write(QByteArray(4096, '\0'));
    bad.close();
    const QByteArray before = [&] {
        QFile db(dir.filePath("UFD.mdb"));
        db.open(QIODevice::ReadOnly);
        return db.readAll();
    }();
    r = ufdtool(dir.path(), {"import-report", bad.fileName()});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err.trimmed(), "Report File Error!");
    QFile db(dir.filePath("UFD.mdb"));
    ASSERT_TRUE(db.open(QIODevice::ReadOnly));
    EXPECT_EQ(db.readAll(), before);
}

TEST(Ufdtool, RecordingInfoAndRefusal) {
    QTemporaryDir dir;
    const QString rec = dir.filePath("r.Rec");
    ASSERT_EQ(ufdtool(dir.path(), {"make-recording", rec, "--frames", "600", "--rate", "200"}).code,
              0);
    ToolRun r = ufdtool(dir.path(), {"recording-info", rec});
    ASSERT_EQ(r.code, 0);
    EXPECT_TRUE(r.out.contains("Playing time: 30.0 s"));
    EXPECT_TRUE(r.out.contains("Frame period: 50 ms"));
    EXPECT_TRUE(r.out.contains("Date: 2026-11-2"));

    QFile f(rec);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    f.resize(1024 + 599 * 2824 + 10); // the last frame cut off
    f.close();
    r = ufdtool(dir.path(), {"recording-info", rec});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(r.out.contains("Frames: 599\n"));
    EXPECT_TRUE(r.out.contains("Recording cut short: 599 of 600 frames."));

    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    f.resize(2000); // not one whole frame
    f.close();
    r = ufdtool(dir.path(), {"recording-info", rec});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err.trimmed(), QStringLiteral("文件非法，请检查!"));
}

TEST(Ufdtool, UsersAreAddedAndListed) {
    QTemporaryDir dir;
    ASSERT_EQ(ufdtool(dir.path(), {"init"}).code, 0);
    ASSERT_EQ(ufdtool(dir.path(), {"users", "add", QStringLiteral("检验员"), "pw"}).code, 0);
    const ToolRun r = ufdtool(dir.path(), {"users", "list"});
    EXPECT_EQ(r.out.trimmed(), QStringLiteral("检验员"));
    EXPECT_NE(ufdtool(dir.path(), {"users", "add", "", "pw"}).code, 0);
}

// Help and version on stdout with 0, anything unknown refused with 2 and the usage on stderr,
// for the program, the simulator and every ufdtool command.
TEST(Ufdtool, EveryProgramAndCommandTakesHelpAndVersionAndRefusesTheUnknown) {
    QTemporaryDir dir;
    const auto runOf = [&dir](const QString& program, const QStringList& args) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // The program answers these without a display.
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
            env.remove(QLatin1String(name));
        }
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(dir.path());
        p.start(program, args);
        p.waitForFinished(30000);
        return ToolRun{p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                       QString::fromUtf8(p.readAllStandardOutput()),
                       QString::fromUtf8(p.readAllStandardError())};
    };
    const QString tool = QStringLiteral(UFDTOOL_PATH);
    const QStringList commands{"init",
                               "users add",
                               "users list",
                               "import-report",
                               "recording-info",
                               "make-report",
                               "make-recording",
                               "sheet",
                               "pdf",
                               "csv",
                               "connect",
                               "disconnect",
                               "upload",
                               "monitor",
                               "workpieces add",
                               "workpieces list",
                               "archive list",
                               "archive show",
                               "archive import"};
    for (const QString& command : commands) {
        for (const char* help : {"--help", "-h"}) {
            const ToolRun r = runOf(tool, command.split(' ') << QLatin1String(help));
            EXPECT_EQ(r.code, 0) << command.toStdString() << " " << help;
            EXPECT_TRUE(r.out.startsWith("usage: ufdtool " + command)) << r.out.toStdString();
            EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
        }
    }
    for (const QString& program : {tool, QStringLiteral(UFD_PATH), QStringLiteral(UFD_SIM_PATH)}) {
        const QString name = QFileInfo(program).fileName();
        for (const char* help : {"--help", "-h"}) {
            const ToolRun r = runOf(program, {QLatin1String(help)});
            EXPECT_EQ(r.code, 0) << name.toStdString() << " " << help << r.err.toStdString();
            EXPECT_TRUE(r.out.contains("sage: ")) << r.out.toStdString();
        }
        ToolRun r = runOf(program, {"--version"});
        EXPECT_EQ(r.code, 0) << name.toStdString();
        EXPECT_EQ(r.out, name + QStringLiteral(" " UFD_VERSION "\n"));
        r = runOf(program, {"--no-such-option"});
        EXPECT_EQ(r.code, 2) << name.toStdString();
        EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
        EXPECT_TRUE(r.err.contains("sage: ")) << r.err.toStdString();
    }
    // An option the command does not take is not silently ignored.
    ToolRun r = runOf(tool, {"monitor", "--port", "/dev/null", "--out", "live.Rec"});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.contains("unknown option '--out'")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("usage: ufdtool monitor")) << r.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("live.Rec")));
    r = runOf(tool, {"no-such-command"});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.contains("usage: ufdtool")) << r.err.toStdString();
    r = runOf(tool, {"csv", "--row"});
    EXPECT_EQ(r.code, 2);
    // A failure is 1.
    r = runOf(tool, {"recording-info", dir.filePath("missing.Rec")});
    EXPECT_EQ(r.code, 1);
}

#include "demo/demo_data.h"

#include <QFile>
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

// The upload window over a scripted line: its fields, status texts, port watch, data monitor,
// progress and closing in the middle of a transfer.
#include "core/protocol/report_transfer.h"
#include "operator_messages_double.h"
#include "protocol_fakes.h"
#include "wait_for.h"
#include "windows/protocol/upload_window.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace ufd;
using protocol::TFCallData;
using Fault = ufd::test::FakeInstrument::Fault;

namespace {

// Bytes that differ from block to block, so a block stored in the wrong place shows.
QByteArray fileOf(qsizetype size) {
    QByteArray f(size, '\0');
    for (qsizetype i = 0; i < size; ++i) {
        f[i] = static_cast<char>((i * 7 + i / 4096 * 13) & 0xFF);
    }
    return f;
}

class UploadWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(QDir(dir_.path()).mkpath("Report"));
    }

    TFCallData* make() {
        auto* w = new TFCallData(
            line_.d, image_, [this] { return portOpen_; }, messages_, dir_.path() + "/",
            QDate(2021, 11, 5));
        return w;
    }

    QTemporaryDir dir_;
    test::Line line_;
    protocol::ReportImage image_;
    ufd::testing::ScriptedOperatorMessages messages_;
    bool portOpen_ = true;
};

} // namespace

TEST_F(UploadWindowTest, TargetStatusTextsAndThePortWatch) {
    portOpen_ = false;
    std::unique_ptr<TFCallData> w(make());
    w->setAttribute(Qt::WA_DeleteOnClose, false);
    EXPECT_EQ(w->folderField()->text(), QDir::toNativeSeparators(dir_.path() + "/Report/"));
    EXPECT_EQ(w->nameField()->text(), "Report20211105.bin");
    EXPECT_EQ(w->saveTarget(), dir_.path() + "/Report/Report20211105.bin");
    // Both fields are only read, and look it.
    for (QLineEdit* field : {w->folderField(), w->nameField()}) {
        EXPECT_TRUE(field->isReadOnly());
        EXPECT_EQ(field->palette().color(QPalette::Base), field->palette().color(QPalette::Window));
    }
    EXPECT_TRUE(w->portWatch()->isActive());
    EXPECT_EQ(w->portWatch()->interval(), 1000);

    w->show();
    ASSERT_EQ(messages_.shown.size(), 1u);
    EXPECT_EQ(messages_.shown[0].text, "Please set and open the communication port first!");
    EXPECT_EQ(w->statusText(), "Communication Port closed.");
    EXPECT_EQ(w->progressBar()->value(), 0);
    // "Start Upload" with the port closed says so at once and sends nothing.
    QTest::mouseClick(w->uploadButton(), Qt::LeftButton);
    ASSERT_EQ(messages_.shown.size(), 2u);
    EXPECT_EQ(messages_.shown[1].text, "Please set and open the communication port first!");
    EXPECT_TRUE(line_.sent.empty());
    EXPECT_TRUE(w->uploadButton()->isEnabled());

    // Every tick with the port closed says so and watches on; the first with it open ends it.
    w->Timer1Timer();
    EXPECT_EQ(w->statusText(), QStringLiteral("请初始化通信口！"));
    EXPECT_TRUE(w->portWatch()->isActive());
    portOpen_ = true;
    w->Timer1Timer();
    EXPECT_FALSE(w->portWatch()->isActive());
    portOpen_ = false;
    QTest::qWait(50);
    EXPECT_FALSE(w->portWatch()->isActive());
    EXPECT_EQ(messages_.shown.size(), 2u);

    portOpen_ = true;
    std::unique_ptr<TFCallData> open(make());
    open->setAttribute(Qt::WA_DeleteOnClose, false);
    open->show();
    EXPECT_EQ(open->statusText(), "Communication Port opened.");
    EXPECT_EQ(messages_.shown.size(), 2u);
}

TEST_F(UploadWindowTest, SaveAsMovesTheTargetOnlyWhenConfirmed) {
    std::unique_ptr<TFCallData> w(make());
    QString askedFolder, askedName;
    QString answer;
    w->setSaveChooser([&](QWidget*, const QString& folder, const QString& name) {
        askedFolder = folder;
        askedName = name;
        return answer;
    });
    const QString before = w->saveTarget();
    QTest::mouseClick(w->saveAsButton(), Qt::LeftButton);
    EXPECT_EQ(askedFolder, w->folderField()->text());
    EXPECT_EQ(askedName, "Report20211105.bin");
    EXPECT_EQ(w->saveTarget(), before);

    ASSERT_TRUE(QDir(dir_.path()).mkpath("elsewhere"));
    answer = dir_.path() + "/elsewhere/shift2.bin";
    w->suibtnSaveAsClick();
    EXPECT_EQ(w->folderField()->text(), QDir::toNativeSeparators(dir_.path() + "/elsewhere/"));
    EXPECT_EQ(w->nameField()->text(), "shift2.bin");
    EXPECT_EQ(w->saveTarget(), answer);

    // The upload is saved where the fields point; an existing file the operator chose (and the
    // dialog had them confirm replacing) is replaced, not kept beside as the proposed name's is.
    QFile saved(answer);
    ASSERT_TRUE(saved.open(QIODevice::WriteOnly));
    saved.write("an earlier shift's file");
    saved.close();
    test::FakeInstrument inst(fileOf(5000));
    QTest::mouseClick(w->uploadButton(), Qt::LeftButton);
    test::runExchange(line_, inst);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), fileOf(5000));
    EXPECT_EQ(w->nameField()->text(), "shift2.bin");
    EXPECT_FALSE(QFile::exists(dir_.path() + "/elsewhere/shift2-2.bin"));
}

TEST_F(UploadWindowTest, UploadWithADamagedBlockFillsMonitorProgressAndStatus) {
    std::unique_ptr<TFCallData> w(make());
    w->setAttribute(Qt::WA_DeleteOnClose, false);
    w->show();
    EXPECT_EQ(w->monitorLines(), QStringList{QString()});

    const QByteArray file = fileOf(3 * 4096 + 100);
    test::FakeInstrument inst(file);
    inst.faults[2] = Fault::Damage; // the second block arrives damaged
    w->suibtnCollectClick();
    test::runExchange(line_, inst);

    QFile saved(w->saveTarget());
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), file);
    EXPECT_EQ(image_.bytes(), file);
    EXPECT_EQ(w->progressBar()->maximum(), 4);
    EXPECT_EQ(w->progressBar()->value(), 4);
    EXPECT_EQ(w->statusText(), "Close File success!");
    ASSERT_EQ(messages_.shown.size(), 1u);
    EXPECT_EQ(messages_.shown[0].text, "Upload report success!");

    // One line for each of the four reads, and two for the block that was read again.
    QStringList expected{QString()};
    for (std::size_t i = 0; i < line_.sent.size(); ++i) {
        if (line_.sent[i].size() == 16) {
            expected << QString::fromStdString(line_.hex(i));
        }
    }
    EXPECT_EQ(expected.size(), 1 + 4 + 2);
    EXPECT_EQ(w->monitorLines(), expected);
}

TEST_F(UploadWindowTest, EmptyReportStorageShowsNoBusyBar) {
    std::unique_ptr<TFCallData> w(make());
    test::FakeInstrument inst(QByteArray(100, 'x'));
    w->suibtnCollectClick();
    test::runExchange(line_, inst);
    EXPECT_EQ(w->progressBar()->maximum(), 1);
    EXPECT_EQ(w->progressBar()->value(), 1);
    EXPECT_EQ(w->statusText(), "Close File success!");
}

TEST_F(UploadWindowTest, ClosingDuringATransferStopsRetriesAndDropsLateAnswers) {
    QPointer<TFCallData> w = make();
    w->show();
    test::FakeInstrument inst(fileOf(5 * 4096));
    w->suibtnCollectClick();
    line_.d.CommReceiveData(inst.answer(line_.sent.at(0))); // open answered, first read sent
    ASSERT_EQ(line_.sent.size(), 2u);
    ASSERT_TRUE(line_.timer->active);

    w->close();
    EXPECT_FALSE(line_.timer->active);
    line_.d.CommReceiveData(inst.answer(line_.sent.at(1))); // the late block
    EXPECT_EQ(line_.sent.size(), 2u);                       // no next read, no close command
    UFD_WAIT_TRUE(w.isNull(), 5000);

    // A new window starts again with the open command.
    std::unique_ptr<TFCallData> again(make());
    again->suibtnCollectClick();
    ASSERT_EQ(line_.sent.size(), 3u);
    EXPECT_EQ(line_.code(2), protocol::CmdOpenFile);
}

TEST_F(UploadWindowTest, AFailedTransferSaysWhyAndCanStartAgain) {
    std::unique_ptr<TFCallData> w(make());
    w->setAttribute(Qt::WA_DeleteOnClose, false);
    w->show();
    const QByteArray file = fileOf(3 * 4096);
    test::FakeInstrument inst(file);
    for (int i = 2; i < 40; ++i) {
        inst.faults[i] = Fault::Drop; // the instrument stops answering after the first block
    }
    w->suibtnCollectClick();
    EXPECT_FALSE(w->uploadButton()->isEnabled());
    w->suibtnCollectClick(); // a second start while one runs sends nothing
    EXPECT_EQ(line_.sent.size(), 1u);
    test::runExchange(line_, inst);

    EXPECT_EQ(w->statusText(), protocol::finalTimeoutText());
    EXPECT_TRUE(w->uploadButton()->isEnabled());
    EXPECT_EQ(w->progressBar()->value(), 1);
    EXPECT_FALSE(QFile::exists(w->saveTarget()));

    inst.faults.clear();
    const std::size_t before = line_.sent.size();
    QTest::mouseClick(w->uploadButton(), Qt::LeftButton);
    test::runExchange(line_, inst, before);
    QFile saved(w->saveTarget());
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), file);
    EXPECT_EQ(w->statusText(), "Close File success!");

    // Another upload that day from storage that has changed since: it goes beside the first,
    // and the window says where.
    test::FakeInstrument changed(fileOf(100));
    const std::size_t from = line_.sent.size();
    w->suibtnCollectClick();
    test::runExchange(line_, changed, from);
    EXPECT_EQ(w->nameField()->text(), "Report20211105-2.bin");
    QFile second(w->saveTarget());
    ASSERT_TRUE(second.open(QIODevice::ReadOnly));
    EXPECT_EQ(second.readAll(), fileOf(100));
    QFile first(dir_.path() + "/Report/Report20211105.bin");
    ASSERT_TRUE(first.open(QIODevice::ReadOnly));
    EXPECT_EQ(first.readAll(), file);
}

// The whole job offscreen against the simulated instrument: open the port, connect, upload with
// a damaged block, import the upload, browse, and write the spreadsheet report.
#include "app/main_form.h"
#include "app/port_windows.h"
#include "app/report_windows.h"
#include "core/archive/report_archive.h"
#include "core/context/app_context.h"
#include "core/protocol/report_transfer.h"
#include "core/reports/report_file.h"
#include "core/spreadsheet/spreadsheet_report.h"
#include "demo/demo_data.h"
#include "instrument.h"
#include "operator_messages_double.h"
#include "wait_for.h"
#include "widgets/ascan_chart.h"
#include "widgets/data_link.h"
#include "windows/protocol/upload_window.h"
#include "windows/reports/report_archive_window.h"
#include "windows/reports/report_browser.h"
#include "windows/reports/report_browser_parts.h"
#include "windows/serial/port_window.h"
#include "xlsx_cells.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace ufd;
using ufd::testing::cellIsNumber;
using ufd::testing::cellText;

namespace {

// Pictures of the windows for a person to look at, when UFD_SHOTS_DIR names a folder.
void shoot(QWidget* w, const QString& name) {
    const QString dir = qEnvironmentVariable("UFD_SHOTS_DIR");
    if (!dir.isEmpty()) {
        QApplication::processEvents();
        w->grab().save(QDir(dir).filePath(name + ".png"));
    }
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The program as main() wires it, with its data in `folder` and its messages scripted.
struct Program {
    explicit Program(const QString& folder) {
        opened = context.openData(folder);
        form = std::make_unique<app::TMainForm>(context, messages);
        context.ProgramFolder = folder;
        form->setLoginStep([](app::TMainForm&) { return true; });
        app::registerReportWindows(*form);
        app::registerPortWindow(*form);
        app::connectDispatcher(*form);
    }
    ~Program() { context.comm().ClosePort(); }

    app::AppContext context;
    ufd::testing::ScriptedOperatorMessages messages;
    std::unique_ptr<app::TMainForm> form;
    bool opened = false;
};

} // namespace

TEST(ReportJob, FromTheInstrumentToTheSpreadsheet) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.path() + "/";
    for (const char* sub : {"Report", "Moudle", "Outfiles"}) {
        ASSERT_TRUE(QDir(folder).mkpath(sub));
    }
    ASSERT_TRUE(QFile::copy(UFD_TEMPLATE_PATH, reports::templatePath(folder)));

    const QByteArray storage = demo::makeReportImage(12, 2026);
    sim::Instrument instrument;
    instrument.setReportImage(storage);
    instrument.setDamageReadEvery(97);
    // The simulator's link in the program folder, where the port window offers it.
    const QString link = QDir(folder).filePath(QLatin1String(serial::kSimulatorLinkName));
    std::string error;
    ASSERT_TRUE(instrument.start(link.toStdString(), error)) << error;

    Program program(folder);
    ASSERT_TRUE(program.opened) << program.context.lastError().toStdString();
    app::AppContext& context = program.context;
    ufd::testing::ScriptedOperatorMessages& messages = program.messages;
    app::TMainForm& form = *program.form;
    QSignalSpy damaged(&context.dispatcher(), &protocol::Dispatcher::dataCheckError);
    form.show();

    // Port and connect, as the operator does them.
    auto* port = dynamic_cast<serial::Tcksz*>(&form.portLink());
    ASSERT_NE(port, nullptr);
    const int at = port->portBox()->findData(link);
    ASSERT_GE(at, 0);
    port->portBox()->setCurrentIndex(at);
    QTest::mouseClick(port->openButton(), Qt::LeftButton);
    ASSERT_TRUE(form.portLink().portOpen());
    form.ToolButton_ConnectClick();
    UFD_WAIT_TRUE(static_cast<bool>(context.LinkConnected), 5000);
    auto* uploadAction = form.findChild<QAction*>("N34");
    ASSERT_TRUE(uploadAction->isEnabled());

    // Upload.
    uploadAction->trigger();
    auto* upload = dynamic_cast<protocol::TFCallData*>(form.child(app::ChildKind::Upload));
    ASSERT_NE(upload, nullptr);
    EXPECT_EQ(upload->statusText(), "Communication Port opened.");
    const QString saved = upload->saveTarget();
    EXPECT_EQ(QFileInfo(saved).absolutePath(), QDir(folder + "Report").absolutePath());
    QTest::mouseClick(upload->uploadButton(), Qt::LeftButton);
    UFD_WAIT_TRUE(upload->progressBar()->value() > 100, 60000);
    shoot(form.mdiArea()->activeSubWindow(), "upload-during-transfer");
    UFD_WAIT_EQ(upload->statusText(), QString("Close File success!"), 120000);
    EXPECT_EQ(readAll(saved), storage);
    EXPECT_EQ(context.reportImage().bytes(), storage);
    EXPECT_GE(damaged.count(), 1);
    EXPECT_EQ(upload->progressBar()->value(), 1033);
    // Every read and every re-seek is listed after the monitor's first, empty line.
    EXPECT_EQ(upload->monitorLines().size(), 1 + 1033 + 2 * damaged.count());
    ASSERT_FALSE(messages.shown.empty());
    EXPECT_EQ(messages.shown.back().text, "Upload report success!");
    upload->close();

    // Import the upload: the file dialog is cancelled.
    form.findChild<QAction*>("N55")->trigger();
    auto* browser = dynamic_cast<reports::TFImPortData*>(form.child(app::ChildKind::ReportBrowser));
    ASSERT_NE(browser, nullptr);
    browser->setFileChooser([](QWidget*, const QString&) { return QString(); });
    QStringList opened;
    browser->setReportOpener([&opened](const QString& path) {
        opened << path;
        return true;
    });
    QTest::mouseClick(browser->openButton(), Qt::LeftButton);

    const auto expected = reports::decodeReportFile(storage).rows;
    ASSERT_EQ(expected.size(), 12u);
    QSqlQuery q(context.dataStore().reportDb());
    ASSERT_TRUE(q.exec("select FileNum, FileName, FileData, mRange From tabDetectorReport"));
    std::size_t n = 0;
    for (; q.next() && n < expected.size(); ++n) {
        EXPECT_EQ(q.value(0).toInt(), expected[n].FileNum);
        EXPECT_EQ(q.value(1).toString(), expected[n].FileName);
        EXPECT_EQ(q.value(2).toString(), expected[n].FileData);
        EXPECT_EQ(q.value(3).toString(), expected[n].mRange);
    }
    EXPECT_EQ(n, expected.size());
    EXPECT_EQ(browser->dataLink()->currentRow(), 11);
    shoot(form.mdiArea()->activeSubWindow(), "browser-after-import");

    // The import is archived under the uploaded file's name, and the archive window lists it.
    archive::ReportArchive archive(context.dataStore().archiveDb());
    const auto kept = archive.list({});
    ASSERT_TRUE(kept.has_value()) << archive.lastError().toStdString();
    EXPECT_EQ(kept->total, 12);
    EXPECT_EQ(kept->entries.front().sourceFile, QFileInfo(saved).fileName());
    form.findChild<QAction*>("N57")->trigger();
    auto* archiveWindow =
        dynamic_cast<reports::TFReportArchive*>(form.child(app::ChildKind::ReportArchive));
    ASSERT_NE(archiveWindow, nullptr);
    EXPECT_EQ(archiveWindow->countLabel()->text(), "12 reports");
    archiveWindow->close();

    // Browse to the first report (a DAC one) and write its spreadsheet.
    QTableView* grid = browser->grid();
    const QModelIndex first = grid->model()->index(0, grid->horizontalHeader()->logicalIndex(0));
    grid->scrollTo(first);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(first).center());
    ASSERT_EQ(browser->dataLink()->currentRow(), 0);
    EXPECT_EQ(browser->chart()->curveSeries(0)->name(), "DAC1");
    const reports::ReportDisplay shown = browser->lastShown();
    messages.answers.push_back(true);
    QTest::mouseClick(browser->editButton(), Qt::LeftButton);
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0],
              QDir(folder + "Outfiles").absoluteFilePath(expected[0].FileName + ".xlsx"));

    if (const QString shots = qEnvironmentVariable("UFD_SHOTS_DIR"); !shots.isEmpty()) {
        QFile::remove(shots + "/report.xlsx");
        QFile::copy(opened[0], shots + "/report.xlsx");
    }
    const auto cells = ufd::testing::readXlsxCells(opened[0]);
    EXPECT_EQ(cellText(cells, 1, 1), "Ultrasonic Flaw Detect Report");
    EXPECT_EQ(cellText(cells, 2, 3), expected[0].FileName);
    EXPECT_EQ(cellText(cells, 3, 3), "Beijing");
    EXPECT_EQ(cellText(cells, 7, 3), expected[0].ProbeName);
    EXPECT_EQ(cellText(cells, 10, 3), expected[0].mRange + "mm");
    EXPECT_EQ(cellText(cells, 10, 5), QString::number(expected[0].SoundVel) + "m/s");
    EXPECT_EQ(cellText(cells, 16, 3), expected[0].sValue + "mm");
    EXPECT_EQ(cellText(cells, 1, 20), "DAC1");
    for (int i = 0; i <= 250; i += 50) {
        const auto s = static_cast<std::size_t>(4 * i + 1);
        const auto c = static_cast<std::size_t>(2 * i + 1);
        EXPECT_TRUE(cellIsNumber(cells, i + 2, 18));
        EXPECT_DOUBLE_EQ(cellText(cells, i + 2, 18).toDouble(), shown.sampleTable[s][0].toDouble());
        EXPECT_DOUBLE_EQ(cellText(cells, i + 2, 19).toDouble(), shown.sampleTable[s][1].toDouble());
        EXPECT_DOUBLE_EQ(cellText(cells, i + 2, 20).toDouble(), shown.curveTable[c][1].toDouble());
    }

    // Pictures of the browser on each page, with a DAC and with an AVG report.
    for (int row : {0, 1}) {
        const QModelIndex index =
            grid->model()->index(row, grid->horizontalHeader()->logicalIndex(0));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(index).center());
        const QString kind = row == 0 ? "dac" : "avg";
        for (int page = 0; page < 3; ++page) {
            browser->pages()->setCurrentIndex(page);
            shoot(form.mdiArea()->activeSubWindow(),
                  QString("browser-%1-%2").arg(kind, browser->pages()->tabText(page).toLower()));
        }
        browser->pages()->setCurrentIndex(0);
    }
    EXPECT_EQ(messages.count(ufd::testing::ScriptedOperatorMessages::Kind::Error), 0);

    instrument.stop();
}

// The upload window at a real instrument that is switched off and on in the middle of a
// transfer, and then unplugged: each end is told, nothing is saved, and a new upload works once
// the line is back.
TEST(ReportJob, TheUploadWindowTellsEveryEndAndStartsAgain) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.path() + "/";
    ASSERT_TRUE(QDir(folder).mkpath("Report"));
    QByteArray storage(6 * 4096 + 10, '\0');
    for (qsizetype i = 0; i < storage.size(); ++i) {
        storage[i] = static_cast<char>((i * 7 + i / 4096 * 13) & 0xFF);
    }
    sim::Instrument instrument;
    instrument.setReportImage(storage);
    instrument.setOffAfter(4, std::chrono::milliseconds(600)); // connect, open, two reads
    const QString link = QDir(folder).filePath(QLatin1String(serial::kSimulatorLinkName));
    std::string error;
    ASSERT_TRUE(instrument.start(link.toStdString(), error)) << error;

    Program program(folder);
    ASSERT_TRUE(program.opened) << program.context.lastError().toStdString();
    app::AppContext& context = program.context;
    ufd::testing::ScriptedOperatorMessages& messages = program.messages;
    app::TMainForm& form = *program.form;
    context.dispatcher().setResponseTimeout(250);
    form.show();
    auto* port = dynamic_cast<serial::Tcksz*>(&form.portLink());
    ASSERT_NE(port, nullptr);
    // ASSERTs in here end only the lambda: each call is followed by a check for them.
    const auto openAndConnect = [&] {
        UFD_WAIT_TRUE(port->portBox()->findData(link) >= 0, 3000); // listed once it is there
        port->portBox()->setCurrentIndex(port->portBox()->findData(link));
        QTest::mouseClick(port->openButton(), Qt::LeftButton);
        ASSERT_TRUE(form.portLink().portOpen());
        form.ToolButton_ConnectClick();
        UFD_WAIT_TRUE(static_cast<bool>(context.LinkConnected), 5000);
    };
    openAndConnect();
    ASSERT_FALSE(HasFatalFailure());
    form.findChild<QAction*>("N34")->trigger();
    auto* upload = dynamic_cast<protocol::TFCallData*>(form.child(app::ChildKind::Upload));
    ASSERT_NE(upload, nullptr);

    // Off and on again: the re-seek finds no file open.
    QTest::mouseClick(upload->uploadButton(), Qt::LeftButton);
    EXPECT_FALSE(upload->uploadButton()->isEnabled());
    UFD_WAIT_EQ(upload->statusText(), QString("Upload report error!"), 10000);
    EXPECT_TRUE(upload->uploadButton()->isEnabled());
    EXPECT_FALSE(QFile::exists(upload->saveTarget()));
    ASSERT_FALSE(messages.shown.empty());
    EXPECT_EQ(messages.shown.back().text, "Upload report error!");
    shoot(form.mdiArea()->activeSubWindow(), "upload-after-restart");

    // Unplugged in the middle of the next one.
    instrument.setOffAfter(0);
    instrument.setAnswerDelay(std::chrono::milliseconds(150)); // time to pull the cable
    QTest::mouseClick(upload->uploadButton(), Qt::LeftButton);
    UFD_WAIT_TRUE(upload->progressBar()->value() >= 1, 10000);
    instrument.stop();
    UFD_WAIT_EQ(upload->statusText(), protocol::lineLostText(), 5000);
    EXPECT_FALSE(form.portLink().portOpen());
    EXPECT_EQ(port->statusText(), QStringLiteral("Communication Port closed！"));
    EXPECT_FALSE(static_cast<bool>(context.LinkConnected));
    EXPECT_EQ(form.panelText(0), QStringLiteral("Disconnect"));
    UFD_WAIT_EQ(messages.shown.back().text, protocol::lineLostText(), 2000);
    EXPECT_TRUE(upload->uploadButton()->isEnabled());
    EXPECT_FALSE(QFile::exists(upload->saveTarget()));
    shoot(&form, "main-after-lost-line");
    port->show();
    shoot(port, "port-after-lost-line");

    // Plugged in again: the program opens the port and connects by itself, and says so; the
    // upload the loss ended waits for the operator.
    instrument.setAnswerDelay(std::chrono::milliseconds(0));
    const long long commandsBefore = instrument.stats().commands;
    ASSERT_TRUE(instrument.start(link.toStdString(), error)) << error;
    UFD_WAIT_TRUE(static_cast<bool>(context.LinkConnected), 5000);
    EXPECT_TRUE(form.portLink().portOpen());
    EXPECT_TRUE(port->statusText().startsWith(QStringLiteral("Communication Port opened.")));
    EXPECT_EQ(form.panelText(0), protocol::reconnectedText(link));
    EXPECT_EQ(upload->statusText(), protocol::uploadAgainText());
    EXPECT_TRUE(upload->uploadButton()->isEnabled());
    QTest::qWait(300);
    EXPECT_EQ(instrument.stats().commands, commandsBefore + 1); // the connect, no upload
    shoot(&form, "main-line-back");
    QTest::mouseClick(upload->uploadButton(), Qt::LeftButton);
    UFD_WAIT_EQ(upload->statusText(), QString("Close File success!"), 10000);
    EXPECT_EQ(readAll(upload->saveTarget()), storage);

    instrument.stop();
}

// An upload that fails part of the way leaves nothing to import: "Open Report File" and Cancel
// then import the last good image, or say "Report File Error!" when there is none; the report
// table and the archive are never given what arrived of the failed file.
TEST(ReportJob, AFailedUploadIsNeverImported) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.path() + "/";
    ASSERT_TRUE(QDir(folder).mkpath("Report"));
    sim::Instrument instrument;
    instrument.setReportImage(demo::makeReportImage(24, 11));
    instrument.setFailReadAt(190); // about 18 % of the way
    const QString link = QDir(folder).filePath(QLatin1String(serial::kSimulatorLinkName));
    std::string error;
    ASSERT_TRUE(instrument.start(link.toStdString(), error)) << error;

    Program program(folder);
    ASSERT_TRUE(program.opened) << program.context.lastError().toStdString();
    app::AppContext& context = program.context;
    app::TMainForm& form = *program.form;
    form.show();
    auto* port = dynamic_cast<serial::Tcksz*>(&form.portLink());
    ASSERT_NE(port, nullptr);
    UFD_WAIT_TRUE(port->portBox()->findData(link) >= 0, 3000);
    port->portBox()->setCurrentIndex(port->portBox()->findData(link));
    QTest::mouseClick(port->openButton(), Qt::LeftButton);
    form.ToolButton_ConnectClick();
    UFD_WAIT_TRUE(static_cast<bool>(context.LinkConnected), 5000);
    form.findChild<QAction*>("N34")->trigger();
    auto* upload = dynamic_cast<protocol::TFCallData*>(form.child(app::ChildKind::Upload));
    ASSERT_NE(upload, nullptr);
    const auto failUpload = [&] {
        QTest::mouseClick(upload->uploadButton(), Qt::LeftButton);
        UFD_WAIT_EQ(upload->statusText(), QString("Upload report error!"), 20000);
    };
    failUpload();
    EXPECT_GT(upload->progressBar()->value(), 100);

    form.findChild<QAction*>("N55")->trigger();
    auto* browser = dynamic_cast<reports::TFImPortData*>(form.child(app::ChildKind::ReportBrowser));
    ASSERT_NE(browser, nullptr);
    QString chosen;
    browser->setFileChooser([&chosen](QWidget*, const QString&) { return chosen; });
    const auto reportRows = [&] {
        QSqlQuery q(context.dataStore().scratchDb());
        return q.exec("SELECT count(*) FROM tabDetectorReport") && q.next() ? q.value(0).toInt()
                                                                            : -1;
    };
    archive::ReportArchive archive(context.dataStore().archiveDb());
    const auto archived = [&] {
        const auto page = archive.list({});
        return page ? page->total : -1;
    };
    program.messages.shown.clear();
    QTest::mouseClick(browser->openButton(), Qt::LeftButton); // the dialog is cancelled
    ASSERT_EQ(program.messages.shown.size(), 1u);
    EXPECT_EQ(program.messages.shown[0].text, "Report File Error!");
    EXPECT_EQ(reportRows(), 0);
    EXPECT_EQ(archived(), 0);
    shoot(form.mdiArea()->activeSubWindow(), "browser-after-failed-upload");

    // A file opened, then another failed upload: Cancel imports the file again, and only it.
    chosen = folder + "Report/Opened.bin";
    QFile opened(chosen);
    ASSERT_TRUE(opened.open(QIODevice::WriteOnly));
    opened.write(demo::makeReportImage(5, 3));
    opened.close();
    QTest::mouseClick(browser->openButton(), Qt::LeftButton);
    EXPECT_EQ(reportRows(), 5);
    EXPECT_EQ(archived(), 5);
    instrument.setFailReadAt(190 + 60);
    failUpload();
    chosen.clear();
    QTest::mouseClick(browser->openButton(), Qt::LeftButton);
    EXPECT_EQ(reportRows(), 5);
    EXPECT_EQ(archived(), 5);
    EXPECT_EQ(program.messages.count(ufd::testing::ScriptedOperatorMessages::Kind::Error), 0);
    instrument.stop();
}

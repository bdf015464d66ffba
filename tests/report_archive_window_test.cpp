// The report archive window over a real archive: filters and count, the browser's pages for
// the current report, workpiece assignment and the documents of several reports.
#include "core/accounts/user_accounts.h"
#include "core/archive/report_archive.h"
#include "core/archive/report_records.h"
#include "core/archive/shared_database.h"
#include "core/documents/report_document.h"
#include "core/reports/database.h"
#include "core/reports/report_file.h"
#include "demo/demo_data.h"
#include "operator_messages_double.h"
#include "widgets/ascan_chart.h"
#include "windows/reports/archive_list_model.h"
#include "windows/reports/report_archive_window.h"
#include "windows/reports/report_browser_parts.h"
#include "windows/reports/report_documents.h"
#include "windows/reports/report_record_pages.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace ufd;

namespace {

class ArchiveWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        folder_ = dir_.path() + "/";
        ASSERT_TRUE(QDir(folder_).mkpath("Outfiles"));
        QString error;
        archive::DatabaseLocation here;
        here.folder = dir_.path();
        ASSERT_TRUE(archive::openDatabases(store_, here, {}, error)) << error.toStdString();
        archive::ReportArchive archive(store_.archiveDb());
        // November's job and December's, which shares its first report with November's.
        november_ = demo::makeReportImage(6, 1);
        QByteArray december =
            demo::makeReportImage(4, 2, QDateTime(QDate(2026, 12, 1), QTime(9, 0)));
        for (const auto& [at, size] :
             {std::pair{reports::kDirectoryOffset, reports::kDirectoryEntrySize},
              std::pair{reports::kSlotsOffset, reports::kSlotSize}}) {
            const auto pos = static_cast<qsizetype>(at);
            const auto len = static_cast<qsizetype>(size);
            december.replace(pos, len, november_.mid(pos, len));
        }
        const auto first = archive.add(november_, {"Report20261102.bin", "Wu"});
        ASSERT_TRUE(first.ok()) << first.error.toStdString();
        const auto added = archive.add(december, {"Report20261201.bin", "Li"});
        ASSERT_TRUE(added.ok()) << added.error.toStdString();
        ASSERT_EQ(added.known, 1);
        QSqlQuery q(store_.reportDb());
        ASSERT_TRUE(
            q.exec("INSERT INTO tabPartInfo (PartID, PartName) VALUES ('W-18', 'Boiler drum')"));
    }

    QStringList column(reports::TFReportArchive& w, int c) {
        QStringList texts;
        for (int r = 0; r < w.grid()->model()->rowCount(); ++r) {
            texts << w.grid()->model()->index(r, c).data().toString();
        }
        return texts;
    }

    QTemporaryDir dir_;
    QString folder_;
    reports::DataStore store_;
    QByteArray november_;
    ufd::testing::ScriptedOperatorMessages messages_;
};

TEST_F(ArchiveWindowTest, FiltersShowsAssignsAndMakesDocumentsOfTheChosenReports) {
    reports::TFReportArchive w(store_, messages_, folder_);
    w.setAttribute(Qt::WA_DeleteOnClose, false);
    QStringList opened;
    w.documents().setOpener([&](const QString& path) {
        opened << path;
        return true;
    });
    w.show();

    // Every report once, newest first.
    EXPECT_EQ(w.countLabel()->text(), "9 reports");
    const QStringList dates = column(w, 1);
    ASSERT_EQ(dates.size(), 9);
    EXPECT_TRUE(std::is_sorted(dates.rbegin(), dates.rend()));
    EXPECT_TRUE(dates.front().startsWith("2026-12-01"));

    // The current report on the browser's pages, as the browser would show it.
    w.grid()->setCurrentIndex(w.grid()->model()->index(8, 0));
    const auto rows = reports::decodeReportFile(november_).rows;
    const QSqlRecord first = reports::DataStore::reportRecord(rows.front());
    EXPECT_EQ(w.pages()->field("ProbeName")->text(), reports::fieldText(first, "ProbeName"));
    EXPECT_EQ(w.lastShown().trace, reports::showCurrentReport(first, {}).display.trace);
    EXPECT_EQ(w.pages()->chart()->traceSeries()->points(), w.lastShown().trace);

    // Filters: source file, then a date range and a name part together.
    w.sourceFilter()->setCurrentText("Report20261201.bin");
    w.refresh();
    EXPECT_EQ(w.countLabel()->text(), "3 reports");
    w.sourceFilter()->setCurrentIndex(0);
    w.fromEnabled()->setChecked(true);
    w.fromDate()->setDate(QDate(2026, 11, 2));
    w.toEnabled()->setChecked(true);
    w.toDate()->setDate(QDate(2026, 11, 2));
    w.nameFilter()->setText("weld-000");
    w.refresh();
    EXPECT_EQ(w.countLabel()->text(), "6 reports");
    for (const QString& d : column(w, 1)) {
        EXPECT_TRUE(d.startsWith("2026-11-02")) << d.toStdString();
    }

    // Two reports to a workpiece at once; the workpiece filter then finds exactly them.
    auto* sel = w.grid()->selectionModel();
    sel->clearSelection();
    for (int r : {4, 1}) {
        sel->select(w.grid()->model()->index(r, 0),
                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    const QList<qint64> chosen = w.chosenIds();
    ASSERT_EQ(chosen.size(), 2);
    w.assignBox()->setCurrentText("W-18");
    QTest::mouseClick(w.assignButton(), Qt::LeftButton);
    w.workpieceFilter()->setCurrentText("W-18");
    w.refresh();
    EXPECT_EQ(w.countLabel()->text(), "2 reports");
    EXPECT_EQ(column(w, 3), (QStringList{"W-18", "W-18"}));

    // One PDF of both, in grid order, each page naming its own workpiece.
    w.grid()->selectAll();
    QTest::mouseClick(w.pdfButton(), Qt::LeftButton);
    ASSERT_EQ(opened.size(), 1) << (messages_.shown.empty()
                                        ? ""
                                        : messages_.shown.back().text.toStdString());
    const auto pages = documents::reportsInPdf(opened.front());
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].name, column(w, 0)[0]);
    EXPECT_EQ(pages[1].name, column(w, 0)[1]);
    QProcess text;
    text.start("pdftotext", {"-f", "2", "-l", "2", opened.front(), "-"});
    ASSERT_TRUE(text.waitForFinished(60000));
    EXPECT_TRUE(QString::fromUtf8(text.readAllStandardOutput()).contains("Boiler drum"));
}

// The newest report (December's, brought in by Li) on the Details page: changed by its
// examiner, checked by another user, amended only with a reason, every step on the History page.
TEST_F(ArchiveWindowTest, DetailsSignOffAndAmendmentOnTheRecordPages) {
    app::UserAccounts users(store_.userDb());
    ASSERT_TRUE(users.addUser("Li", "li-pw", "Level II"));
    ASSERT_TRUE(users.addUser("Wu", "wu-pw"));
    reports::TFReportArchive w(store_, messages_, folder_);
    w.setAttribute(Qt::WA_DeleteOnClose, false);
    w.setCurrentUser([] { return QStringLiteral("Li"); });
    std::vector<reports::SignCredentials> answers;
    w.setSignPrompt([&](const QStringList& names, const archive::ReportRecord&) {
        EXPECT_TRUE(names.contains("Wu"));
        std::optional<reports::SignCredentials> next;
        if (!answers.empty()) {
            next = answers.front();
            answers.erase(answers.begin());
        }
        return next;
    });
    w.show();
    reports::RecordDetailsPage* page = w.detailsPage();
    ASSERT_TRUE(page->shown());
    const qint64 id = page->shown()->archiveId;
    EXPECT_EQ(page->examinerLabel()->text(), "Li (Level II)");
    EXPECT_EQ(page->checkedLabel()->text(), "not checked");
    EXPECT_EQ(page->numberLabel()->text(), QStringLiteral("%1-R1").arg(id));

    qobject_cast<QComboBox*>(page->editor("evaluation"))->setCurrentText("reject");
    qobject_cast<QPlainTextEdit*>(page->editor("notes"))->setPlainText("Crack at 42 mm");
    QTest::mouseClick(page->saveButton(), Qt::LeftButton);
    archive::ReportRecords records(store_.archiveDb());
    EXPECT_EQ(records.record(id)->value("evaluation"), "reject");
    EXPECT_EQ(records.record(id)->value("notes"), "Crack at 42 mm");

    // The examiner cannot sign; a wrong password signs nothing; Wu can.
    answers = {{"Li", "li-pw"}, {"Wu", "li-pw"}, {"Wu", "wu-pw"}};
    for (int i = 0; i < 2; ++i) {
        QTest::mouseClick(w.signButton(), Qt::LeftButton);
        EXPECT_FALSE(records.record(id)->signature);
    }
    EXPECT_EQ(messages_.count(ufd::testing::ScriptedOperatorMessages::Kind::Error), 2);
    QTest::mouseClick(w.signButton(), Qt::LeftButton);
    ASSERT_TRUE(records.record(id)->signature);
    EXPECT_TRUE(page->checkedLabel()->text().startsWith("Wu, "))
        << page->checkedLabel()->text().toStdString();
    EXPECT_FALSE(w.signButton()->isEnabled());

    // Signed: a change without a reason is refused and leaves the boxes' change unsaved.
    auto* evaluation = qobject_cast<QComboBox*>(page->editor("evaluation"));
    evaluation->setCurrentText("repair");
    QTest::mouseClick(page->saveButton(), Qt::LeftButton);
    EXPECT_EQ(messages_.count(ufd::testing::ScriptedOperatorMessages::Kind::Error), 3);
    EXPECT_EQ(records.record(id)->value("evaluation"), "reject");
    page->reasonBox()->setText("Re-read: lack of fusion");
    QTest::mouseClick(page->saveButton(), Qt::LeftButton);
    EXPECT_EQ(records.record(id)->revision, 2);
    EXPECT_EQ(page->numberLabel()->text(), QStringLiteral("%1-R2").arg(id));
    EXPECT_EQ(page->checkedLabel()->text(), "not checked");
    EXPECT_TRUE(w.signButton()->isEnabled());

    reports::RecordHistoryPage* history = w.historyPage();
    ASSERT_EQ(history->rowCount(), 5); // imported, two changes, signed, the amendment
    EXPECT_EQ(history->item(3, 2)->text(), "signed");
    EXPECT_EQ(history->item(3, 1)->text(), "Wu");
    EXPECT_EQ(history->item(4, 5)->text(), "reject");
    EXPECT_EQ(history->item(4, 6)->text(), "repair");
    EXPECT_EQ(history->item(4, 7)->text(), "Re-read: lack of fusion");
}

// Pages beyond the first are read as they are scrolled to; a title sorts; the selection and the
// current report outlive both.
TEST_F(ArchiveWindowTest, PagesThroughEveryMatchSortsByATitleAndKeepsTheSelection) {
    archive::ReportArchive archive(store_.archiveDb());
    ASSERT_TRUE(archive.add(demo::makeReportImage(300, 3), {"big.bin", "Wu"}).ok());
    ASSERT_TRUE(archive
                    .add(demo::makeReportImage(300, 4, QDateTime(QDate(2027, 1, 5), QTime(8, 0))),
                         {"bigger.bin", "Li"})
                    .ok());
    reports::TFReportArchive w(store_, messages_, folder_);
    w.setAttribute(Qt::WA_DeleteOnClose, false);
    w.show();
    QTableView* grid = w.grid();
    ASSERT_EQ(w.countLabel()->text(), "609 reports");
    ASSERT_EQ(grid->model()->rowCount(), 609);
    ASSERT_GT(609, reports::ArchiveListModel::kPageRows * 3);

    // Two rows pages apart, then the last row scrolled to: as the archive lists it.
    auto* sel = grid->selectionModel();
    sel->clearSelection();
    for (const int r : {3, 500}) {
        sel->select(grid->model()->index(r, 0),
                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    grid->scrollToBottom();
    QApplication::processEvents();
    archive::ArchiveFilter oldest;
    oldest.descending = false;
    oldest.limit = 1;
    const auto first = archive.list(oldest);
    ASSERT_TRUE(first);
    EXPECT_EQ(grid->model()->index(608, 0).data().toString(), first->entries[0].fileName);
    EXPECT_EQ(grid->model()->index(608, 1).data().toString(),
              first->entries[0].fileDate.toString("yyyy-MM-dd hh:mm:ss"));
    archive::ArchiveFilter newest;
    newest.limit = 609;
    const auto all = archive.list(newest);
    ASSERT_TRUE(all);
    EXPECT_EQ(w.chosenIds(), (QList<qint64>{all->entries[3].id, all->entries[500].id}));

    // A click on "Report Name" sorts by it, the current report staying current.
    grid->setCurrentIndex(grid->model()->index(450, 0));
    const qint64 current = all->entries[450].id;
    QHeaderView* titles = grid->horizontalHeader();
    QTest::mouseClick(titles->viewport(), Qt::LeftButton, {},
                      QPoint(titles->sectionViewportPosition(0) + 10, titles->height() / 2));
    QApplication::processEvents();
    EXPECT_EQ(grid->model()->index(0, 0).data().toString(), "WELD-0001");
    EXPECT_EQ(grid->model()->index(608, 0).data().toString(), "WELD-0300");
    ASSERT_TRUE(grid->currentIndex().isValid());
    EXPECT_EQ(w.chosenIds(), QList<qint64>{current});
    EXPECT_EQ(w.lastShown().trace.size(),
              reports::showCurrentReport(archive.fetch(current)->row, {}).display.trace.size());
    EXPECT_TRUE(messages_.shown.empty());
}

} // namespace

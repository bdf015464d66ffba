// The report browser over a real database and real report files: import, what the plot shows
// and when, and the documents it writes.
#include "core/documents/report_document.h"
#include "core/protocol/report_image.h"
#include "core/protocol/report_transfer.h"
#include "core/reports/database.h"
#include "core/reports/report_file.h"
#include "core/reports/report_query.h"
#include "core/spreadsheet/spreadsheet_report.h"
#include "demo/demo_data.h"
#include "operator_messages_double.h"
#include "widgets/ascan_chart.h"
#include "widgets/data_link.h"
#include "widgets/record_navigator.h"
#include "windows/reports/report_browser.h"
#include "windows/reports/report_browser_parts.h"
#include "windows/reports/report_documents.h"
#include "xlsx_cells.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QProgressDialog>
#include <QPushButton>
#include <QSqlQuery>
#include <QSqlTableModel>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QValueAxis>
#include <gtest/gtest.h>

using namespace ufd;
using app::RecordNavigator;
using reports::TFImPortData;
using ufd::testing::cellIsNumber;
using ufd::testing::cellText;
using ufd::testing::readXlsxCells;
using Kind = ufd::testing::ScriptedOperatorMessages::Kind;

namespace {

// Demo reports alternate DAC (angle probe), AVG (straight probe) and plain (angle probe).
enum DemoRow { kDacRow = 0, kAvgRow = 1, kPlainRow = 2 };

// Overwrites bytes of the instrument record in a report slot.
template <class T> void patchRecord(QByteArray& image, int slot, int offset, T value) {
    auto* p = reinterpret_cast<std::uint8_t*>(image.data()) + reports::kSlotsOffset +
              reports::kSlotSize * static_cast<std::size_t>(slot) +
              static_cast<std::size_t>(offset);
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        p[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * i));
    }
}

class BrowserTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        folder_ = dir_.path() + "/";
        for (const char* sub : {"Report", "Moudle", "Outfiles"}) {
            ASSERT_TRUE(QDir(folder_).mkpath(sub));
        }
        ASSERT_TRUE(QFile::copy(UFD_TEMPLATE_PATH, reports::templatePath(folder_)));
        ASSERT_TRUE(store_.open(dir_.path())) << store_.lastError().toStdString();
    }

    std::unique_ptr<TFImPortData> make() {
        auto w = std::make_unique<TFImPortData>(store_, query_, image_, messages_, folder_);
        w->setAttribute(Qt::WA_DeleteOnClose, false);
        w->setFileChooser([this](QWidget*, const QString& folder) {
            askedFolder_ = folder;
            return chosen_;
        });
        w->setReportOpener([this](const QString& path) {
            opened_ << path;
            busyAtOpen_ = QApplication::overrideCursor() != nullptr;
            return desktopOpens_;
        });
        w->show();
        return w;
    }

    // Imports `image` as it stands after an upload: the dialog is cancelled.
    void importImage(TFImPortData& w, const QByteArray& image) {
        image_.assign(image);
        chosen_.clear();
        w.BitBtn_OpenClick();
    }

    static void clickRow(TFImPortData& w, int row) {
        QTableView* g = w.grid();
        const QModelIndex index = g->model()->index(row, g->horizontalHeader()->logicalIndex(0));
        g->scrollTo(index);
        QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, g->visualRect(index).center());
    }

    static void press(TFImPortData& w, RecordNavigator::Button b) {
        QTest::mouseClick(w.navigator()->button(b), Qt::LeftButton);
    }

    // What showing `row` on its own gives, independently of the window.
    reports::ReportDisplay displayOf(TFImPortData& w, int row) {
        return reports::showCurrentReport(w.dataLink()->model()->record(row), {}).display;
    }

    QString column(TFImPortData& w, int row, const char* name) {
        return reports::fieldText(w.dataLink()->model()->record(row), name);
    }

    void updateFirstRow(const QString& assignments) {
        QSqlQuery q(store_.reportDb());
        ASSERT_TRUE(q.exec("UPDATE tabDetectorReport SET " + assignments +
                           " WHERE rowid = (SELECT min(rowid) FROM tabDetectorReport)"));
    }

    // Writes the spreadsheet of the current row, answering the question with Yes.
    ufd::testing::XlsxCells editReport(TFImPortData& w) {
        messages_.answers.push_back(true);
        const qsizetype before = opened_.size();
        QTest::mouseClick(w.editButton(), Qt::LeftButton);
        EXPECT_EQ(opened_.size(), before + 1);
        return opened_.size() > before ? readXlsxCells(opened_.back()) : ufd::testing::XlsxCells{};
    }

    QStringList outfiles() const {
        return QDir(folder_ + "Outfiles").entryList(QDir::Files | QDir::Hidden);
    }

    QTemporaryDir dir_;
    QString folder_;
    reports::DataStore store_;
    reports::ReportQuery query_{store_};
    protocol::ReportImage image_;
    ufd::testing::ScriptedOperatorMessages messages_;
    QString chosen_;
    QString askedFolder_;
    QStringList opened_;
    bool busyAtOpen_ = true;
    bool desktopOpens_ = true;
};

} // namespace

TEST_F(BrowserTest, OnlyAWholeReportFileIsImported) {
    auto w = make();
    EXPECT_FALSE(w->editButton()->isEnabled());
    EXPECT_EQ(w->pages()->currentIndex(), 0);
    EXPECT_EQ(w->pages()->tabText(0), "Waveform");

    // Cancelled before anything was opened or uploaded.
    w->BitBtn_OpenClick();
    EXPECT_EQ(askedFolder_, QDir::toNativeSeparators(folder_ + "Report/"));
    ASSERT_EQ(messages_.shown.size(), 1u);
    EXPECT_EQ(messages_.shown[0].text, "Report File Error!");
    EXPECT_FALSE(query_.isOpen());

    // A file of another size is read, then refused.
    QFile small(folder_ + "Report/short.bin");
    ASSERT_TRUE(small.open(QIODevice::WriteOnly));
    small.write(QByteArray(1000, '\1'));
    small.close();
    chosen_ = small.fileName();
    w->BitBtn_OpenClick();
    EXPECT_EQ(messages_.shown.back().text, "Report File Error!");
    EXPECT_EQ(image_.size(), 1000);
    EXPECT_FALSE(w->editButton()->isEnabled());

    // A file that cannot be read changes nothing.
    chosen_ = folder_ + "Report/missing.bin";
    w->BitBtn_OpenClick();
    EXPECT_EQ(messages_.shown.back().kind, Kind::Error);
    EXPECT_EQ(image_.size(), 1000);
    EXPECT_FALSE(query_.isOpen());
    EXPECT_EQ(w->grid()->model()->rowCount(), 0);
}

TEST_F(BrowserTest, CancelAfterAnUploadImportsTheUploadedImageOnce) {
    auto w = make();
    const QByteArray uploaded = demo::makeReportImage(5, 3);
    const auto decoded = reports::decodeReportFile(uploaded);
    importImage(*w, uploaded);
    EXPECT_TRUE(messages_.shown.empty());
    EXPECT_TRUE(w->editButton()->isEnabled());
    ASSERT_EQ(w->grid()->model()->rowCount(), 5);
    EXPECT_EQ(w->dataLink()->currentRow(), 4); // the query stands on the last inserted row
    EXPECT_EQ(w->field("FileName")->text(), decoded.rows[4].FileName);
    EXPECT_EQ(w->chart()->traceSeries()->count(), 2 * static_cast<int>(online::kTracePoints));

    w->BitBtn_OpenClick(); // the same image again: the same rows, not twice as many
    EXPECT_EQ(w->grid()->model()->rowCount(), 5);

    // Opening a file from disk replaces the image.
    QFile other(folder_ + "Report/other.bin");
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write(demo::makeReportImage(2, 9));
    other.close();
    chosen_ = other.fileName();
    w->BitBtn_OpenClick();
    EXPECT_EQ(w->grid()->model()->rowCount(), 2);
    EXPECT_EQ(image_.bytes(), demo::makeReportImage(2, 9));
}

TEST_F(BrowserTest, AnEmptySlotListEmptiesTheTableAndFailsToShow) {
    auto w = make();
    importImage(*w, demo::makeReportImage(3, 1));
    const int drawn = w->chart()->traceSeries()->count();
    ASSERT_GT(drawn, 0);

    QByteArray empty = demo::makeReportImage(3, 1);
    empty[0] = '\xFF';
    empty[1] = '\xFF';
    importImage(*w, empty);
    EXPECT_EQ(w->grid()->model()->rowCount(), 0);
    EXPECT_TRUE(w->editButton()->isEnabled());
    ASSERT_EQ(messages_.shown.size(), 1u);
    EXPECT_EQ(messages_.shown[0].kind, Kind::Error);
    EXPECT_EQ(w->chart()->traceSeries()->count(), drawn); // the plot keeps the last report

    // No row means no report name, which the copy refuses.
    QTest::mouseClick(w->editButton(), Qt::LeftButton);
    EXPECT_EQ(messages_.shown.back().text, "Please check whether the template file exists!");
    EXPECT_EQ(messages_.count(Kind::YesNo), 0);
    EXPECT_TRUE(outfiles().isEmpty());
}

TEST_F(BrowserTest, GatesAreDrawnByTheirLogicAsTheNavigatorMoves) {
    QByteArray image = demo::makeReportImage(4, 5);
    const std::uint8_t logic[] = {1, 2, 3, 0}; // GateA, GateB, GateAB, Close
    for (int slot = 0; slot < 4; ++slot) {
        patchRecord<std::uint8_t>(image, slot, 129, logic[slot]);
    }
    auto w = make();
    importImage(*w, image);
    online::AScanChart* c = w->chart();
    EXPECT_EQ(c->gateASeries()->name(), "Gate A");
    EXPECT_EQ(c->gateBSeries()->name(), "Gate B");
    EXPECT_EQ(c->gateASeries()->pen().widthF(), 2.0);
    EXPECT_EQ(c->gateASeries()->pen().color(), QColor(Qt::red));
    EXPECT_EQ(c->gateBSeries()->pen().color(), QColor(0, 255, 0));

    const int expected[][2] = {{2, 0}, {0, 2}, {2, 2}, {0, 0}};
    press(*w, RecordNavigator::First);
    for (int row = 0; row < 4; ++row) {
        if (row > 0) {
            press(*w, RecordNavigator::Next);
        }
        ASSERT_EQ(w->dataLink()->currentRow(), row);
        EXPECT_EQ(c->gateASeries()->count(), expected[row][0]) << row;
        EXPECT_EQ(c->gateBSeries()->count(), expected[row][1]) << row;
        if (expected[row][0] == 2) {
            const QPointF start = c->gateASeries()->at(0);
            EXPECT_DOUBLE_EQ(start.x(),
                             w->dataLink()->model()->record(row).value("GateA_Start").toDouble());
        }
    }
}

TEST_F(BrowserTest, AxesFollowRectifyAndTheFullScreenFlag) {
    QByteArray image = demo::makeReportImage(2, 8);
    for (int slot = 0; slot < 2; ++slot) {
        patchRecord<std::int32_t>(image, slot, 96, 1200); // 120.0 mm
        patchRecord<std::int32_t>(image, slot, 100, 0);   // no delay
    }
    patchRecord<std::uint8_t>(image, 0, 86, 3); // Radio
    patchRecord<std::uint8_t>(image, 0, 413, 0x02);
    patchRecord<std::uint8_t>(image, 1, 86, 0); // Positive
    patchRecord<std::uint8_t>(image, 1, 413, 0x00);
    auto w = make();
    importImage(*w, image);
    online::AScanChart* c = w->chart();

    clickRow(*w, 0);
    EXPECT_DOUBLE_EQ(c->yAxis()->min(), -100.0);
    EXPECT_DOUBLE_EQ(c->yAxis()->max(), 100.0);
    EXPECT_DOUBLE_EQ(w->lastShown().scale, 0.2);
    EXPECT_DOUBLE_EQ(c->xAxis()->min(), 0.0);
    EXPECT_DOUBLE_EQ(c->xAxis()->max(), 120.0);
    // All 602 points are drawn, those past the axis end too.
    EXPECT_NEAR(c->traceSeries()->at(2 * 601).x(), 601 * 0.2, 1e-9);

    clickRow(*w, 1);
    EXPECT_DOUBLE_EQ(c->yAxis()->min(), 0.0);
    EXPECT_DOUBLE_EQ(w->lastShown().scale, 0.24);
}

TEST_F(BrowserTest, GridShowsItsColumnsInOrderWithTheMemoAsText) {
    auto w = make();
    importImage(*w, demo::makeReportImage(2, 4));
    QTableView* g = w->grid();
    QStringList titles;
    for (int v = 0; v < g->horizontalHeader()->count(); ++v) {
        const int logical = g->horizontalHeader()->logicalIndex(v);
        if (!g->isColumnHidden(logical)) {
            titles << g->model()->headerData(logical, Qt::Horizontal).toString();
        }
    }
    EXPECT_EQ(titles,
              (QStringList{"Num", "Report Name ", "Date", "Vel", "Range", "DB", "sValue", "pValue",
                           "dValue", "hValue", "FileData", "DAC_SampleNum", "DAC_Offset0",
                           "DAC_Offset1", "DAC_Offset2", "DAC_CurveNum", "CurrveType"}));

    // The memo cell is drawn as the start of its text.
    const int memo = w->dataLink()->model()->fieldIndex("FileData");
    QStyleOptionViewItem option;
    option.initFrom(g->viewport());
    option.rect = QRect(0, 0, 160, 20);
    auto* delegate = g->itemDelegateForColumn(memo);
    ASSERT_NE(delegate, nullptr);
    QImage canvas(160, 20, QImage::Format_ARGB32);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    delegate->paint(&painter, option, g->model()->index(0, memo));
    painter.end();
    int inked = 0;
    for (int x = 0; x < 40; ++x) {
        for (int y = 0; y < 20; ++y) {
            inked += canvas.pixel(x, y) != qRgb(255, 255, 255) ? 1 : 0;
        }
    }
    EXPECT_GT(inked, 20) << "nothing drawn at the left edge";
}

TEST_F(BrowserTest, KeyboardMovesShowTheRowAndTheSheetHoldsThatOneReport) {
    auto w = make();
    importImage(*w, demo::makeReportImage(4, 2));
    clickRow(*w, kDacRow);
    ASSERT_EQ(w->chart()->curveSeries(0)->name(), "DAC1");

    w->grid()->setFocus();
    QTest::keyClick(w->grid(), Qt::Key_Down);
    ASSERT_EQ(w->dataLink()->currentRow(), kAvgRow);
    const reports::ReportDisplay avg = displayOf(*w, kAvgRow);
    EXPECT_EQ(w->field("ProbeType")->text(), "Straight");
    EXPECT_EQ(w->lastShown().sampleTable, avg.sampleTable);
    EXPECT_EQ(w->chart()->curveSeries(0)->name(), "AVG1");

    const auto cells = editReport(*w);
    EXPECT_EQ(cellText(cells, 2, 3), column(*w, kAvgRow, "FileName"));
    EXPECT_EQ(cellText(cells, 7, 6), "Probe diameter"); // the AVG row's straight probe
    EXPECT_EQ(cellText(cells, 1, 20), "AVG1");
    for (int i : {0, 37, 250}) {
        const auto s = static_cast<std::size_t>(4 * i + 1);
        const auto c = static_cast<std::size_t>(2 * i + 1);
        EXPECT_DOUBLE_EQ(cellText(cells, i + 2, 18).toDouble(), avg.sampleTable[s][0].toDouble());
        EXPECT_DOUBLE_EQ(cellText(cells, i + 2, 19).toDouble(), avg.sampleTable[s][1].toDouble());
        EXPECT_DOUBLE_EQ(cellText(cells, i + 2, 20).toDouble(), avg.curveTable[c][1].toDouble());
    }
    EXPECT_FALSE(busyAtOpen_);
    EXPECT_EQ(
        opened_.back(),
        QDir(folder_ + "Outfiles").absoluteFilePath(column(*w, kAvgRow, "FileName") + ".xlsx"));

    // A row that cannot be shown is reported once per move, by whatever means it was reached.
    updateFirstRow("FileData = '1;2;'");
    press(*w, RecordNavigator::Refresh);
    const std::size_t before = messages_.shown.size();
    clickRow(*w, kDacRow);
    EXPECT_EQ(messages_.shown.size(), before + 1);
    press(*w, RecordNavigator::Next);
    EXPECT_EQ(messages_.shown.size(), before + 1);
    QTest::keyClick(w->grid(), Qt::Key_Up);
    ASSERT_EQ(w->dataLink()->currentRow(), kDacRow);
    EXPECT_EQ(messages_.shown.size(), before + 2);
    // And gives no spreadsheet, rather than one with another report's waveform.
    QTest::mouseClick(w->editButton(), Qt::LeftButton);
    EXPECT_EQ(messages_.count(Kind::YesNo), 1);
    EXPECT_EQ(opened_.size(), 1);
}

TEST_F(BrowserTest, TheGridTakesNoTyping) {
    auto w = make();
    importImage(*w, demo::makeReportImage(2, 4));
    QTableView* g = w->grid();
    const QModelIndex name = g->model()->index(0, w->dataLink()->model()->fieldIndex("FileName"));
    const QVariant stored = name.data();
    const auto editorOpen = [g] {
        const auto editors = g->viewport()->findChildren<QLineEdit*>();
        return std::any_of(editors.begin(), editors.end(),
                           [](const QLineEdit* e) { return e->isVisible(); });
    };
    g->setFocus();
    g->setCurrentIndex(name);
    QTest::keyClicks(g, "Zed");
    EXPECT_FALSE(editorOpen());
    QTest::keyClick(g, Qt::Key_F2);
    EXPECT_FALSE(editorOpen());
    QTest::mouseDClick(g->viewport(), Qt::LeftButton, {}, g->visualRect(name).center());
    EXPECT_FALSE(editorOpen());
    EXPECT_EQ(name.data(), stored);
}

TEST_F(BrowserTest, CurveColumnsAndProbeCellsFollowTheReport) {
    const auto blank = readXlsxCells(reports::templatePath(folder_));
    ASSERT_FALSE(blank.empty());
    auto w = make();
    importImage(*w, demo::makeReportImage(3, 6));

    clickRow(*w, kPlainRow);
    ASSERT_EQ(column(*w, kPlainRow, "CurrveType"), "0");
    auto cells = editReport(*w);
    for (int row = 2; row <= 252; row += 25) {
        for (int col = 20; col <= 22; ++col) {
            EXPECT_EQ(cellText(cells, row, col), cellText(blank, row, col)) << row << "," << col;
        }
    }
    // An angle probe: crystal size, angle and front length, no diameter label.
    EXPECT_EQ(cellText(cells, 7, 7),
              column(*w, kPlainRow, "ProbehSize") + " X " + column(*w, kPlainRow, "ProbewSize"));
    EXPECT_DOUBLE_EQ(cellText(cells, 8, 5).toDouble(),
                     column(*w, kPlainRow, "ProbeAng").toDouble());
    EXPECT_EQ(cellText(cells, 8, 7), column(*w, kPlainRow, "ProbeFront") + "mm");
    EXPECT_EQ(cellText(cells, 7, 6), cellText(blank, 7, 6));
    // The frequency column holds the number of megahertz; the page says so beside it.
    QStringList units;
    for (const QLabel* l : w->field("ProbeFreq")->parentWidget()->findChildren<QLabel*>()) {
        units << l->text();
    }
    EXPECT_TRUE(units.contains("MHz")) << units.join('|').toStdString();

    clickRow(*w, kAvgRow);
    cells = editReport(*w);
    EXPECT_EQ(cellText(cells, 7, 6), "Probe diameter");
    EXPECT_EQ(cellText(cells, 7, 7), column(*w, kAvgRow, "ProbedSize") + "mm");
    EXPECT_EQ(cellText(cells, 8, 5), cellText(blank, 8, 5));
    EXPECT_EQ(cellText(cells, 1, 20), "AVG1");
    EXPECT_TRUE(cellIsNumber(cells, 2, 20));
    EXPECT_DOUBLE_EQ(cellText(cells, 2, 20).toDouble(), w->lastShown().curveTable[1][1].toDouble());

    // "Dual S" is no diameter probe either.
    clickRow(*w, kDacRow);
    updateFirstRow("ProbeType = 'Dual S'");
    press(*w, RecordNavigator::Refresh);
    ASSERT_EQ(w->field("ProbeType")->text(), "Dual S");
    cells = editReport(*w);
    EXPECT_EQ(cellText(cells, 7, 7),
              column(*w, kDacRow, "ProbehSize") + " X " + column(*w, kDacRow, "ProbewSize"));
}

TEST_F(BrowserTest, APointShownAsTheGateStartCountsInsideTheGate) {
    auto w = make();
    importImage(*w, demo::makeReportImage(2, 7));
    // Point 100 lies at 100 x 0.2 - 0.004 = 19.996 mm and reads 20.00.
    updateFirstRow("mRange = '100.0', dDelay = '-0.01', SoundVel = 800, Flag_FullSScr = 0, "
                   "GateA_Start = 20.0, GateA_Width = 10.0, GateA_Height = 50.0, "
                   "GateLogic = 'GateA'");
    press(*w, RecordNavigator::Refresh);
    press(*w, RecordNavigator::First);
    const auto& table = w->lastShown().sampleTable;
    ASSERT_EQ(table[201][0], "20.00");
    EXPECT_EQ(table[201][2], "50.00");
    EXPECT_EQ(table[202][2], "50.00");
    EXPECT_EQ(table[199][2], ""); // point 99 at 19.796 mm

    const auto cells = editReport(*w);
    EXPECT_TRUE(cellIsNumber(cells, 52, 23)); // point 100 is sheet row 52
    EXPECT_DOUBLE_EQ(cellText(cells, 52, 23).toDouble(), 50.0);
    EXPECT_EQ(cellText(cells, 51, 23), "");
    EXPECT_EQ(cellText(cells, 52, 24), ""); // gate B is not drawn
}

TEST_F(BrowserTest, TheCopyFailsWithoutTemplateOrOutfilesAndForNamesThatLeaveIt) {
    auto w = make();
    importImage(*w, demo::makeReportImage(2, 12));
    const QString missing = "Please check whether the template file exists!";

    QFile::rename(reports::templatePath(folder_), folder_ + "Moudle/aside.xlsx");
    QTest::mouseClick(w->editButton(), Qt::LeftButton);
    EXPECT_EQ(messages_.shown.back().text, missing);
    QFile::rename(folder_ + "Moudle/aside.xlsx", reports::templatePath(folder_));

    ASSERT_TRUE(QDir(folder_).rename("Outfiles", "Outfiles-aside"));
    QTest::mouseClick(w->editButton(), Qt::LeftButton);
    EXPECT_EQ(messages_.shown.back().text, missing);
    ASSERT_TRUE(QDir(folder_).rename("Outfiles-aside", "Outfiles"));

    updateFirstRow("FileName = '../escape'");
    press(*w, RecordNavigator::Refresh);
    press(*w, RecordNavigator::First);
    QTest::mouseClick(w->editButton(), Qt::LeftButton);
    EXPECT_EQ(messages_.shown.back().text, missing);
    EXPECT_FALSE(QFile::exists(folder_ + "escape.xlsx"));
    EXPECT_EQ(messages_.count(Kind::YesNo), 0);
    EXPECT_TRUE(outfiles().isEmpty());
    EXPECT_TRUE(opened_.isEmpty());

    // Answered No: a report written earlier, and perhaps signed since, stays as it is.
    press(*w, RecordNavigator::Last);
    editReport(*w);
    ASSERT_EQ(outfiles(), QStringList{column(*w, 1, "FileName") + ".xlsx"});
    QFile earlier(opened_.back());
    ASSERT_TRUE(earlier.open(QIODevice::Append));
    earlier.write("signed");
    earlier.close();
    const QByteArray signedReport = [&] {
        earlier.open(QIODevice::ReadOnly);
        return earlier.readAll();
    }();
    earlier.close();
    messages_.answers.push_back(false);
    QTest::mouseClick(w->editButton(), Qt::LeftButton);
    ASSERT_EQ(messages_.count(Kind::YesNo), 2);
    EXPECT_EQ(messages_.shown.back().title, "Operation prompt");
    EXPECT_EQ(outfiles(), QStringList{column(*w, 1, "FileName") + ".xlsx"});
    EXPECT_EQ(opened_.size(), 1);
    ASSERT_TRUE(earlier.open(QIODevice::ReadOnly));
    EXPECT_EQ(earlier.readAll(), signedReport);
}

TEST_F(BrowserTest, AReopenedBrowserShowsTheCurrentReportOfTheLastImport) {
    {
        auto first = make();
        EXPECT_EQ(first->grid()->model()->rowCount(), 0);
        importImage(*first, demo::makeReportImage(3, 13));
        clickRow(*first, 1);
        first->BitBtn_QuitClick();
        EXPECT_FALSE(first->isVisible());
    }
    auto w = make();
    EXPECT_EQ(w->grid()->model()->rowCount(), 3);
    EXPECT_EQ(w->dataLink()->currentRow(), 1);
    EXPECT_EQ(w->field("FileName")->text(), column(*w, 1, "FileName"));
    EXPECT_EQ(w->lastShown().trace, displayOf(*w, 1).trace);
    for (QPushButton* b : {w->editButton(), w->pdfButton(), w->printButton(), w->csvButton()}) {
        EXPECT_TRUE(b->isEnabled()) << b->text().toStdString();
    }
    EXPECT_TRUE(messages_.shown.empty());
    clickRow(*w, 2);
    EXPECT_EQ(w->chart()->traceSeries()->count(), 2 * static_cast<int>(online::kTracePoints));
}

TEST_F(BrowserTest, WorkpieceFieldsFillFromTheListAndGoIntoTheSheet) {
    QSqlQuery q(store_.reportDb());
    ASSERT_TRUE(q.prepare("INSERT INTO tabPartInfo (PartID, PartName, PartType, Material, Heat, "
                          "Face, Mandator, FlawInfo) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
    for (const QStringList& row :
         {QStringList{"W-1", "Flange", "DN200", "Q345R", "Normalised", "Ra 6.3", "Boiler shop",
                      "Slag"},
          QStringList{"W-2", "Shaft", "Forging", "42CrMo", "Q+T", "Ra 1.6", "Machining", "None"}}) {
        for (const QString& v : row) {
            q.addBindValue(v);
        }
        ASSERT_TRUE(q.exec());
    }
    auto w = make();
    QComboBox* number = w->workpiece()->numberBox();
    ASSERT_EQ(number->count(), 2);
    EXPECT_EQ(number->currentText(), "W-1");
    EXPECT_EQ(w->workpiece()->detail(0)->text(), "Flange");

    number->setEditText("W-9"); // no such workpiece: the details stay
    EXPECT_EQ(w->workpiece()->detail(0)->text(), "Flange");
    number->setCurrentIndex(1);
    EXPECT_EQ(w->workpiece()->detail(0)->text(), "Shaft");
    w->workpiece()->detail(6)->setText("Crack at the keyway"); // typed over, printed as typed

    importImage(*w, demo::makeReportImage(1, 3));
    const auto cells = editReport(*w);
    EXPECT_EQ(cellText(cells, 4, 3), "W-2");
    EXPECT_EQ(cellText(cells, 4, 7), "Shaft");
    EXPECT_EQ(cellText(cells, 5, 7), "Q+T");
    EXPECT_EQ(cellText(cells, 6, 3), "Crack at the keyway");
}

TEST_F(BrowserTest, AnEmptyWorkpieceTableGivesAnEmptyList) {
    auto w = make();
    EXPECT_EQ(w->workpiece()->numberBox()->count(), 0);
    for (int i = 0; i < 7; ++i) {
        EXPECT_TRUE(w->workpiece()->detail(i)->text().isEmpty());
    }
}

TEST_F(BrowserTest, SelectedRowsMakeOnePdfOrAWorkbookEachAndCancelLeavesNothingHalfDone) {
    auto w = make();
    EXPECT_FALSE(w->pdfButton()->isEnabled());
    EXPECT_FALSE(w->allRowsButton()->isEnabled());
    importImage(*w, demo::makeReportImage(5, 3));
    for (QPushButton* b : {w->pdfButton(), w->printButton(), w->csvButton(), w->allRowsButton()}) {
        EXPECT_TRUE(b->isEnabled()) << b->text().toStdString();
    }
    const auto name = [&](int row) { return column(*w, row, "FileName"); };

    // Rows picked out of order come out in grid order, one page each.
    clickRow(*w, 3);
    QTableView* g = w->grid();
    QTest::mouseClick(g->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      g->visualRect(g->model()->index(1, 0)).center());
    QTest::mouseClick(w->pdfButton(), Qt::LeftButton);
    ASSERT_EQ(opened_.size(), 1);
    const auto pages = documents::reportsInPdf(opened_.back());
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].name, name(1));
    EXPECT_EQ(pages[1].name, name(3));

    // The preview shows the same pages before anything is printed.
    int previewPages = -1;
    QTimer::singleShot(0, [&] {
        auto* preview = qobject_cast<QPrintPreviewDialog*>(QApplication::activeModalWidget());
        if (preview) {
            previewPages = preview->findChild<QPrintPreviewWidget*>()->pageCount();
            preview->reject();
        }
    });
    QTest::mouseClick(w->printButton(), Qt::LeftButton);
    EXPECT_EQ(previewPages, 2);

    // A cancelled run keeps the workbooks it finished, each whole, and nothing else.
    QTest::mouseClick(w->allRowsButton(), Qt::LeftButton);
    EXPECT_EQ(w->chosenRecords().size(), 5u);
    w->documents().setProgressHook([](QProgressDialog& d, int done) {
        if (done == 2) {
            d.cancel();
        }
    });
    const QStringList before = outfiles();
    messages_.answers.push_back(true);
    QTest::mouseClick(w->editButton(), Qt::LeftButton);
    QStringList made = outfiles();
    for (const QString& f : before) {
        made.removeOne(f);
    }
    EXPECT_EQ(made, (QStringList{name(0) + ".xlsx", name(1) + ".xlsx"}));
    EXPECT_EQ(cellText(readXlsxCells(folder_ + "Outfiles/" + made[1]), 2, 3), name(1));
    ASSERT_FALSE(messages_.shown.empty());
    EXPECT_TRUE(messages_.shown.back().text.startsWith("Cancelled: 2 of 5"))
        << messages_.shown.back().text.toStdString();

    // A cancelled PDF leaves no file at all.
    w->documents().setProgressHook([](QProgressDialog& d, int done) {
        if (done == 3) {
            d.cancel();
        }
    });
    const QStringList beforePdf = outfiles();
    QTest::mouseClick(w->pdfButton(), Qt::LeftButton);
    EXPECT_EQ(outfiles(), beforePdf);
    EXPECT_EQ(opened_.size(), 1);

    // The waveform of the current row; the same points again keep their file.
    clickRow(*w, 2);
    QTest::mouseClick(w->csvButton(), Qt::LeftButton);
    QTest::mouseClick(w->csvButton(), Qt::LeftButton);
    ASSERT_EQ(opened_.size(), 3);
    EXPECT_EQ(opened_[1], QDir(folder_ + "Outfiles").absoluteFilePath(name(2) + ".csv"));
    EXPECT_EQ(opened_[2], opened_[1]);
}

// Insert then Cancel goes back to the row before, with no more than the one conversion message
// that showing the empty inserted row gives.
TEST_F(BrowserTest, InsertThenCancelReturnsToTheRowBefore) {
    auto w = make();
    importImage(*w, demo::makeReportImage(3, 13));
    clickRow(*w, 1);
    messages_.shown.clear();
    press(*w, RecordNavigator::Insert);
    press(*w, RecordNavigator::Cancel);
    ASSERT_LE(messages_.shown.size(), 1u);
    if (!messages_.shown.empty()) {
        EXPECT_TRUE(messages_.shown[0].text.contains("is not a valid number"));
    }
    EXPECT_EQ(w->dataLink()->state(), app::DataLink::State::Browse);
    EXPECT_EQ(w->dataLink()->currentRow(), 1);
    EXPECT_EQ(w->grid()->model()->rowCount(), 3);
    EXPECT_EQ(w->field("FileName")->text(), column(*w, 1, "FileName"));
    EXPECT_EQ(w->lastShown().trace, displayOf(*w, 1).trace);
}

// The status bar says where each document went; a desktop that opens nothing is said with the
// path, so the operator can find the file.
TEST_F(BrowserTest, TheStatusBarSaysWhereTheDocumentsWent) {
    auto w = make();
    importImage(*w, demo::makeReportImage(3, 5));
    QTest::mouseClick(w->csvButton(), Qt::LeftButton);
    ASSERT_EQ(opened_.size(), 1);
    EXPECT_EQ(w->statusText(), "Written: " + QDir::toNativeSeparators(opened_.back()));
    EXPECT_TRUE(messages_.shown.empty());

    desktopOpens_ = false;
    QTest::mouseClick(w->allRowsButton(), Qt::LeftButton);
    QTest::mouseClick(w->pdfButton(), Qt::LeftButton);
    ASSERT_EQ(opened_.size(), 2);
    const QString pdf = QDir::toNativeSeparators(opened_.back());
    EXPECT_EQ(w->statusText(), "3 report pages written: " + pdf);
    ASSERT_EQ(messages_.shown.size(), 1u);
    EXPECT_TRUE(messages_.shown[0].text.contains(pdf));

    messages_.answers.push_back(true);
    QTest::mouseClick(w->editButton(), Qt::LeftButton);
    EXPECT_EQ(w->statusText(),
              "3 spreadsheet reports written to " +
                  QDir::toNativeSeparators(QDir(folder_ + "Outfiles").absolutePath()));
}

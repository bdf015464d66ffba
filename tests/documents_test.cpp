// The printed report pages, read back from the PDF with poppler's tools, and the waveform file.
#include "core/archive/shared_database.h"
#include "core/documents/report_document.h"
#include "core/documents/report_page_content.h"
#include "core/documents/waveform_csv.h"
#include "core/online/text_format.h"
#include "sheet_fixtures.h"
#include "widgets/report_page.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <cmath>

using namespace ufd;
using documents::ReportIdentity;
using reports::ReportDisplay;

namespace {

struct Ran {
    int code = -1;
    QString out;
    QString err;
};

Ran run(const QString& program, const QStringList& args, const QString& dir = {}) {
    QProcess p;
    p.setWorkingDirectory(dir);
    p.start(program, args);
    p.waitForFinished(120000);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

int pdfPages(const QString& path) {
    const Ran info = run(QStringLiteral("pdfinfo"), {path});
    for (const QString& line : info.out.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("Pages:"))) {
            return line.mid(6).trimmed().toInt();
        }
    }
    return -1;
}

QString pageText(const QString& path, int page) {
    return run(QStringLiteral("pdftotext"),
               {QStringLiteral("-f"), QString::number(page), QStringLiteral("-l"),
                QString::number(page), path, QStringLiteral("-")})
        .out;
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString field(const QSqlRecord& row, const char* column) {
    return reports::fieldText(row, QString::fromLatin1(column));
}

// Rec. 601 luma: the grey a colour prints as on a greyscale printer.
double grey(std::uint32_t rgb) {
    return 0.299 * ((rgb >> 16) & 0xFF) + 0.587 * ((rgb >> 8) & 0xFF) + 0.114 * (rgb & 0xFF);
}

class DocumentsTest : public sheet_test::ReportRowsTest {
protected:
    void SetUp() override {
        ReportRowsTest::SetUp();
        ASSERT_TRUE(out_.isValid());
        workpiece_.number = QStringLiteral("W-18");
        workpiece_.details.PartName = QStringLiteral("Boiler drum");
    }

    QString path(const QString& name) const { return out_.filePath(name); }
    QStringList files() const { return QDir(out_.path()).entryList(QDir::Files, QDir::Name); }

    documents::PrintResult writePdf(const QString& file, const std::vector<QSqlRecord>& rows,
                                    const documents::PrintProgress& progress = {},
                                    const documents::CancelCheck& cancel = {}) {
        return documents::writeReportsPdf(
            file, documents::pageSource(rows, workpiece_, QStringLiteral("Inspector Wu")), progress,
            cancel);
    }

    QTemporaryDir out_;
    reports::WorkpieceFields workpiece_;
};

TEST_F(DocumentsTest, EveryPageCarriesItsReportsNameValuesUnitsAndNumber) {
    const std::vector<QSqlRecord> rows{rows_[sheet_test::kDacRow], rows_[sheet_test::kAvgRow],
                                       rows_[sheet_test::kPlainRow]};
    const QString file = path("three.pdf");
    std::vector<std::pair<int, int>> progress;
    const auto result =
        writePdf(file, rows, [&](int done, int total) { progress.emplace_back(done, total); });
    ASSERT_TRUE(result.ok()) << result.error.toStdString();
    ASSERT_EQ(pdfPages(file), 3);
    EXPECT_EQ(progress, (std::vector<std::pair<int, int>>{{1, 3}, {2, 3}, {3, 3}}));

    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const QSqlRecord& row = rows[static_cast<std::size_t>(i)];
        const QString text = pageText(file, i + 1);
        for (const QString& expected : {field(row, "FileName"),
                                        field(row, "FileDate"),
                                        field(row, "ProbeName"),
                                        field(row, "ProbeFreq") + "MHz",
                                        field(row, "ProbeZero") + "us",
                                        field(row, "mRange") + "mm",
                                        field(row, "SoundVel") + "m/s",
                                        field(row, "DB_Base") + "dB",
                                        field(row, "sValue") + "mm",
                                        field(row, "hValue") + "%",
                                        field(row, "FPGA_FireFreq") + "Hz",
                                        QStringLiteral("Echo height"),
                                        QStringLiteral("Offset RL"),
                                        QStringLiteral("Boiler drum"),
                                        QStringLiteral("W-18"),
                                        QStringLiteral("Inspector Wu"),
                                        QStringLiteral("Checked by"),
                                        QStringLiteral("Path (mm)"),
                                        QStringLiteral("Gate A"),
                                        documents::pageNumberText(i + 1, 3)}) {
            EXPECT_TRUE(text.contains(expected)) << expected.toStdString();
        }
        // The legend names the curves of DAC and AVG reports only.
        const QString curveType = field(row, "CurrveType");
        EXPECT_EQ(text.contains("DAC1"), curveType == "1");
        EXPECT_EQ(text.contains("AVG3"), curveType == "2");
        // Straight probes show their diameter, angle probes their crystal size and angle.
        const bool straight = field(row, "ProbeType") == "Straight";
        EXPECT_EQ(text.contains("Probe diameter"), straight);
        EXPECT_EQ(text.contains(field(row, "ProbeAng")), !straight);
    }
    const std::vector<ReportIdentity> expected{documents::reportIdentity(rows[0]),
                                               documents::reportIdentity(rows[1]),
                                               documents::reportIdentity(rows[2])};
    EXPECT_EQ(documents::reportsInPdf(file), expected);
    EXPECT_EQ(files(), QStringList{"three.pdf"});
}

TEST_F(DocumentsTest, ChineseNamesAreEmbeddedAndComeBackOut) {
    QSqlRecord row = rows_[sheet_test::kDacRow];
    row.setValue("FileName", QStringLiteral("焊缝探伤-甲"));
    row.setValue("ProbeName", QStringLiteral("斜探头K2"));
    const QString file = path("zh.pdf");
    ASSERT_TRUE(writePdf(file, {row}).ok());
    const QString text = pageText(file, 1);
    EXPECT_TRUE(text.contains(QStringLiteral("焊缝探伤-甲"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("斜探头K2")));
    EXPECT_EQ(documents::reportsInPdf(file).at(0).name, QStringLiteral("焊缝探伤-甲"));

    // Every font the page uses travels in the file, so any reader shows the same glyphs.
    const QStringList fonts =
        run(QStringLiteral("pdffonts"), {file}).out.split('\n', Qt::SkipEmptyParts).mid(2);
    ASSERT_FALSE(fonts.isEmpty());
    for (const QString& line : fonts) {
        const QStringList cols = line.split(' ', Qt::SkipEmptyParts);
        ASSERT_GE(cols.size(), 5);
        EXPECT_EQ(cols[cols.size() - 5], "yes") << line.toStdString(); // the "emb" column
    }
}

TEST_F(DocumentsTest, ThePlotDrawsEveryScreenPointOnTheReportsAxes) {
    struct Case {
        int row;
        int fullScreen;
        const char* rectify;
    };
    for (const Case c : {Case{sheet_test::kDacRow, 0, "Full"}, Case{sheet_test::kAvgRow, 1, "Full"},
                         Case{sheet_test::kPlainRow, 0, "Radio"}}) {
        SCOPED_TRACE(c.row);
        QSqlRecord row = rows_[static_cast<std::size_t>(c.row)];
        row.setValue("Flag_FullSScr", c.fullScreen);
        row.setValue("ProbeRectify", c.rectify);
        row.setValue("GateLogic", "GateB");
        const auto shown = reports::showCurrentReport(row, ReportDisplay{});
        ASSERT_TRUE(shown.ok());
        const auto page = documents::makeReportPage(row, workpiece_, shown.display, {});
        const documents::PlotContent& plot = page.plot;
        const auto rec = record(c.row);

        const int screen = c.fullScreen ? 600 : 500;
        const double x0 = rec.SoundVel / 1000.0 * (rec.dDelay / 100.0) / 2.0;
        EXPECT_DOUBLE_EQ(plot.x.min, x0);
        EXPECT_DOUBLE_EQ(plot.x.max, x0 + rec.mRange / 10.0);
        EXPECT_EQ(plot.y.min, c.rectify == std::string("Radio") ? -100 : 0);
        EXPECT_EQ(plot.y.max, 100);
        ASSERT_FALSE(plot.x.ticks.empty());
        EXPECT_GE(plot.x.ticks.front(), plot.x.min);
        EXPECT_LE(plot.x.ticks.back(), plot.x.max);

        // Both echo values of every point on the screen, so the printed peak is the stored one.
        const documents::PlotSeries& echo = plot.series.at(0);
        ASSERT_EQ(echo.points.size(), 2 * (screen + 1));
        double peak = 0, drawnPeak = 0;
        for (int i = 0; i <= screen; ++i) {
            const auto k = static_cast<std::size_t>(i);
            peak = std::max({peak, rec.trace1[k] * 0.25, rec.trace2[k] * 0.25});
            EXPECT_DOUBLE_EQ(echo.points[2 * i].x(), i * shown.display.scale + x0);
        }
        for (const QPointF& p : echo.points) {
            drawnPeak = std::max(drawnPeak, p.y());
        }
        EXPECT_EQ(drawnPeak, peak);

        // Curves of DAC and AVG reports up to the last point their algorithms compute; gates as
        // the screen draws them.
        QStringList titles;
        for (const auto& s : plot.series) {
            titles << s.title;
        }
        const bool curves = rec.CurrveType == 1 || rec.CurrveType == 2;
        const QString kind = rec.CurrveType == 1 ? "DAC" : "AVG";
        const QStringList expected =
            curves ? QStringList{"Echo signal", kind + "1", kind + "2", kind + "3", "Gate B"}
                   : QStringList{"Echo signal", "Gate B"};
        EXPECT_EQ(titles, expected);
        if (curves) {
            EXPECT_EQ(plot.series[1].points.size(), 501);
            EXPECT_EQ(plot.series[3].points[400], shown.display.curves[2][400]);
        }
        EXPECT_EQ(plot.series.back().points, shown.display.gateB);
        EXPECT_TRUE(plot.series.back().endMarkers);
    }
}

TEST(DocumentStyles, CurvesAndGatesStayApartOnAGreyscalePrint) {
    std::vector<documents::LineStyle> styles{documents::echoStyle()};
    for (int k = 0; k < 3; ++k) {
        styles.push_back(documents::curveStyle(k));
    }
    styles.push_back(documents::gateStyle(0));
    styles.push_back(documents::gateStyle(1));
    EXPECT_EQ(styles[0].rgb, 0u); // the echo is black

    for (std::size_t a = 0; a < styles.size(); ++a) {
        SCOPED_TRACE(a);
        EXPECT_LE(grey(styles[a].rgb), 200) << "too pale on white paper";
        EXPECT_GT(styles[a].widthMm, 0.1);
        for (std::size_t b = a + 1; b < styles.size(); ++b) {
            const bool greyApart = std::abs(grey(styles[a].rgb) - grey(styles[b].rgb)) >= 40;
            const bool dashApart = styles[a].dashMm != styles[b].dashMm;
            const double ratio = styles[a].widthMm / styles[b].widthMm;
            const bool widthApart = ratio >= 1.5 || ratio <= 1 / 1.5;
            EXPECT_TRUE(greyApart || dashApart || widthApart) << b;
            // The echo and the curves cross each other everywhere: grey alone must tell them.
            if (b <= 3) {
                EXPECT_TRUE(greyApart) << b;
            }
        }
    }
}

TEST_F(DocumentsTest, WaveformCsvHoldsTheDecodedPointsCurvesAndDrawnGates) {
    for (int r : {sheet_test::kDacRow, sheet_test::kPlainRow}) {
        SCOPED_TRACE(r);
        QSqlRecord row = rows_[static_cast<std::size_t>(r)];
        row.setValue("GateLogic", "GateA");
        row.setValue("GateA_Start", 20.0);
        row.setValue("GateA_Width", 10.0);
        row.setValue("GateA_Height", 45.5);
        const auto shown = reports::showCurrentReport(row, ReportDisplay{});
        ASSERT_TRUE(shown.ok());
        const QString file = path(QStringLiteral("w%1.csv").arg(r));
        ASSERT_EQ(documents::writeWaveformCsv(file, shown.display), QString());
        const QStringList lines =
            QString::fromUtf8(readFile(file)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), 603);
        const QStringList header = lines[0].split(',');
        ASSERT_EQ(header.size(), 8);
        EXPECT_EQ(header[0], "Path (mm)");

        const auto rec = record(r);
        const bool curves = rec.CurrveType == 1 || rec.CurrveType == 2;
        EXPECT_EQ(header[3].startsWith("DAC1"), rec.CurrveType == 1);
        const double x0 = rec.SoundVel / 1000.0 * (rec.dDelay / 100.0) / 2.0;
        const double scale = rec.mRange / 10.0 / rec.displayPoints();
        int insideA = 0;
        for (std::size_t i = 0; i < 602; ++i) {
            const QStringList f = lines[static_cast<qsizetype>(i) + 1].split(',');
            ASSERT_EQ(f.size(), 8) << i;
            EXPECT_NEAR(f[0].toDouble(), static_cast<double>(i) * scale + x0, 1e-9) << i;
            EXPECT_EQ(f[1].toDouble(), rec.trace1[i] * 0.25) << i;
            EXPECT_EQ(f[2].toDouble(), rec.trace2[i] * 0.25) << i;
            for (int k = 0; k < 3; ++k) {
                if (curves) {
                    EXPECT_EQ(
                        f[3 + k].toDouble(),
                        shown.display.curves[static_cast<std::size_t>(k)][static_cast<qsizetype>(i)]
                            .y());
                } else {
                    EXPECT_EQ(f[3 + k], QString()) << i;
                }
            }
            const double p = online::formatFixed(f[0].toDouble(), 2).toDouble();
            const bool inA = p >= 20.0 && p <= 30.0;
            EXPECT_EQ(f[6], inA ? QStringLiteral("45.50") : QString()) << i;
            EXPECT_EQ(f[7], QString()) << i; // gate B is not drawn
            insideA += inA ? 1 : 0;
        }
        EXPECT_GT(insideA, 0);
    }
}

TEST_F(DocumentsTest, PdfNamesFollowTheSpreadsheetRule) {
    // A file of that name that is not one of our reports, say one made by hand, stays.
    QFile foreign(path("A1.pdf"));
    ASSERT_TRUE(foreign.open(QIODevice::WriteOnly));
    foreign.write("%PDF-1.4\n% made elsewhere\n");
    foreign.close();

    QSqlRecord first = rows_[sheet_test::kDacRow];
    first.setValue("FileName", "A1");
    QSqlRecord second = rows_[sheet_test::kAvgRow];
    second.setValue("FileName", "A1");
    const auto save = [&](const std::vector<QSqlRecord>& rows) {
        std::vector<ReportIdentity> ids;
        for (const auto& r : rows) {
            ids.push_back(documents::reportIdentity(r));
        }
        const QString file = documents::pdfReportPath(out_.path(), ids);
        EXPECT_FALSE(file.isEmpty());
        EXPECT_TRUE(writePdf(file, rows).ok());
        return QFileInfo(file).fileName();
    };
    EXPECT_EQ(save({first}), "A1 (2).pdf");
    EXPECT_EQ(save({second}), "A1 (3).pdf");
    EXPECT_EQ(save({first}), "A1 (2).pdf");
    EXPECT_EQ(save({first, second}), "A1 and 1 more.pdf");
    EXPECT_EQ(save({second, first}), "A1 and 1 more (2).pdf");
    EXPECT_EQ(save({first, second}), "A1 and 1 more.pdf");
    EXPECT_EQ(files(), (QStringList{"A1 (2).pdf", "A1 (3).pdf", "A1 and 1 more (2).pdf",
                                    "A1 and 1 more.pdf", "A1.pdf"}));
    EXPECT_EQ(readFile(foreign.fileName()), "%PDF-1.4\n% made elsewhere\n");

    first.setValue("FileName", "../A1");
    EXPECT_EQ(documents::pdfReportPath(out_.path(), {documents::reportIdentity(first)}), QString());

    // One name and one date, different reports: each its own file, told apart by content; a
    // file that names no hash (written before) is known by name and date.
    QSqlRecord b1 = rows_[sheet_test::kDacRow];
    QSqlRecord b2 = rows_[sheet_test::kAvgRow];
    for (QSqlRecord* r : {&b1, &b2}) {
        r->setValue("FileName", "B1");
        r->setValue("FileDate", "2024-06-21 09:15:30");
    }
    QSqlRecord older = b1;
    older.setNull("ReportHash");
    EXPECT_EQ(save({older}), "B1.pdf");
    EXPECT_EQ(save({b1}), "B1.pdf");
    EXPECT_EQ(save({b2}), "B1 (2).pdf");
    EXPECT_EQ(save({b1}), "B1.pdf");
    EXPECT_EQ(documents::reportsInPdf(path("B1 (2).pdf")).front().hash,
              b2.value("ReportHash").toString());
}

TEST_F(DocumentsTest, CancelAndFailureLeaveTheTargetAsItWas) {
    const QString file = path("job.pdf");
    QFile old(file);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("the previous job");
    old.close();
    std::vector<QSqlRecord> rows(rows_.begin(), rows_.end());

    int made = 0;
    auto cancelled = writePdf(
        file, rows, [&](int done, int) { made = done; }, [&] { return made == 2; });
    EXPECT_TRUE(cancelled.cancelled);
    EXPECT_EQ(cancelled.pages, 2);

    rows[3].setValue("FileData", "1;2;3;"); // a row that cannot be shown
    const auto failed = writePdf(file, rows);
    EXPECT_FALSE(failed.ok());
    EXPECT_TRUE(failed.error.contains(documents::reportIdentity(rows[3]).name))
        << failed.error.toStdString();

    EXPECT_EQ(readFile(file), "the previous job");
    EXPECT_EQ(files(), QStringList{"job.pdf"});
    const auto missingFolder = writePdf(path("no/such/folder/x.pdf"), {rows_[0]});
    EXPECT_FALSE(missingFolder.ok());
    EXPECT_FALSE(missingFolder.error.isEmpty());
}

TEST(DocumentsTool, WritesPdfAndCsvOfImportedRowsAndRefusesBadRowLists) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString tool = QStringLiteral(UFDTOOL_PATH);
    ASSERT_EQ(run(tool, {"make-report", "r.bin", "--reports", "8", "--seed", "5"}, dir.path()).code,
              0);
    ASSERT_EQ(run(tool, {"import-report", "r.bin"}, dir.path()).code, 0);

    Ran r = run(tool, {"pdf", "--rows", "2,5-6", "--user", "Wu", "--out", "jobs.pdf"}, dir.path());
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QString pdf = dir.filePath("jobs.pdf");
    ASSERT_EQ(pdfPages(pdf), 3);
    const auto reports = documents::reportsInPdf(pdf);
    ASSERT_EQ(reports.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        // Rows count from 1 in grid order, as `sheet --row` counts them.
        const QString name =
            QStringLiteral("WELD-%1").arg(QList<int>{2, 5, 6}[i], 4, 10, QChar('0'));
        EXPECT_EQ(reports[static_cast<std::size_t>(i)].name, name);
        EXPECT_TRUE(pageText(pdf, i + 1).contains(name));
    }

    // Without --out the file goes to Outfiles/ by the spreadsheet's rule.
    ASSERT_TRUE(QDir(dir.path()).mkpath("Outfiles"));
    r = run(tool, {"pdf", "--rows", "all", "--folder", dir.path()}, dir.path());
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.trimmed().endsWith("WELD-0001 and 7 more.pdf")) << r.out.toStdString();
    EXPECT_EQ(pdfPages(r.out.trimmed()), 8);

    for (const char* bad : {"0", "3-2", "x", "1,,2", "9", "4-12"}) {
        r = run(tool, {"pdf", "--rows", bad, "--out", "bad.pdf"}, dir.path());
        EXPECT_EQ(r.code, 1) << bad;
        EXPECT_TRUE(r.err.contains("row")) << r.err.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("bad.pdf")));

    r = run(tool, {"csv", "--row", "3", "--out", "w.csv"}, dir.path());
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(QString::fromUtf8(readFile(dir.filePath("w.csv"))).count("\r\n"), 603);
    EXPECT_EQ(run(tool, {"csv", "--row", "9", "--out", "x.csv"}, dir.path()).code, 1);
}

// An archived report's pages as a record: number, details, examiner, checker, the statement and
// the metadata `verify` checks each page by, before and after an amendment, and against a
// forgery that copies a page's metadata.
TEST(RecordPdf, PagesCarryTheRecordAndVerifyTellsWhatChangedSince) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString tool = QStringLiteral(UFDTOOL_PATH);
    const auto ok = [&](const QStringList& args) {
        const Ran r = run(tool, args, dir.path());
        EXPECT_EQ(r.code, 0) << args.join(' ').toStdString() << ": " << r.err.toStdString();
        return r;
    };
    ok({"make-report", "r.bin", "--reports", "3", "--seed", "7"});
    ok({"users", "add", "ann", "pw-a", "Level II"});
    ok({"users", "add", "bob", "pw-b"});
    ok({"station", "--set", "location=Shanghai", "--set", "instrument=UFD-9"});
    ok({"import-report", "r.bin", "--user", "ann"});
    const QJsonArray entries =
        QJsonDocument::fromJson(ok({"archive", "list", "--json"}).out.toUtf8())["entries"]
            .toArray();
    ASSERT_EQ(entries.size(), 3);
    const QString one = QString::number(entries[0].toObject()["id"].toInteger());
    const QString two = QString::number(entries[1].toObject()["id"].toInteger());
    ok({"archive", "details", one, "--set", "procedure=QP-12 C", "--set", "evaluation=reject",
        "--user", "ann"});
    qputenv("UFD_USER_PASSWORD", "pw-b");
    ok({"archive", "sign", one, "--user", "bob"});
    const QJsonObject record =
        QJsonDocument::fromJson(ok({"archive", "details", one, "--json"}).out.toUtf8()).object();

    ok({"archive", "pdf", one, two, "--out", "rec.pdf"});
    const QString pdf = dir.filePath("rec.pdf");
    const QString first = pageText(pdf, 1);
    for (const QString& expected :
         {"Report No. " + one + "-R1", QStringLiteral("Page 1 of 2"), QStringLiteral("QP-12 C"),
          QStringLiteral("reject"), QStringLiteral("ann (Level II)"), QStringLiteral("Checked by"),
          QStringLiteral("bob"), QStringLiteral("UTC"), QStringLiteral("Shanghai"),
          QStringLiteral("UFD-9"), documents::resultsStatement()}) {
        EXPECT_TRUE(first.contains(expected)) << expected.toStdString();
    }
    const QString second = pageText(pdf, 2);
    EXPECT_TRUE(second.contains("not checked"));
    EXPECT_TRUE(second.contains("Page 2 of 2"));
    EXPECT_TRUE(second.contains(documents::resultsStatement()));
    const auto named = documents::reportsInPdf(pdf);
    ASSERT_EQ(named.size(), 2u);
    EXPECT_EQ(named[0].hash, record["reportHash"].toString());
    EXPECT_EQ(named[0].revision, 1);
    EXPECT_EQ(named[0].recordHash, record["recordHash"].toString());

    EXPECT_EQ(ok({"verify", "rec.pdf"}).out.count(": current"), 2);
    ok({"pdf", "--rows", "1-3", "--out", "rows.pdf"}); // the browser's pages are records too
    EXPECT_EQ(ok({"verify", "rows.pdf"}).out.count(": current"), 3);

    // Amended: the first page is no longer the record, the second still is.
    ok({"archive", "details", one, "--set", "evaluation=repair", "--reason", "re-read", "--user",
        "ann"});
    Ran r = run(tool, {"verify", "rec.pdf"}, dir.path());
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.contains("Page 1 (" + one + "-R1")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("amended since")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("re-read")) << r.out.toStdString();
    EXPECT_EQ(r.out.count(": current"), 1);
    ok({"archive", "pdf", one, "--out", "new.pdf"});
    EXPECT_TRUE(pageText(dir.filePath("new.pdf"), 1).contains("Report No. " + one + "-R2"));
    ok({"verify", "new.pdf"});

    // A page that copies the metadata of the record but prints another evaluation.
    {
        reports::DataStore store;
        archive::DatabaseLocation here;
        here.folder = dir.path();
        QString error;
        ASSERT_TRUE(archive::openDatabases(store, here, {}, error)) << error.toStdString();
        auto pages = documents::archivedPages(store, {one.toLongLong()}, error);
        ASSERT_TRUE(pages) << error.toStdString();
        const documents::ArchivedPage page = pages->front();
        documents::PageRecord forged = page.record;
        forged.record.details["evaluation"] = "accept";
        const documents::PageSource real = documents::pageSource(std::move(*pages));
        const documents::PageSource fake{
            real.document,
            [&](int) { return documents::makeReportPage(page.row, page.workpiece, {}, forged); }};
        ASSERT_TRUE(documents::writeReportsPdf(dir.filePath("forged.pdf"), fake).ok());
    }
    r = run(tool, {"verify", "forged.pdf"}, dir.path());
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.contains("altered content: what the page prints")) << r.out.toStdString();

    ASSERT_TRUE(QDir(dir.path()).mkpath("elsewhere"));
    r = run(tool, {"verify", "new.pdf", "--database", "sqlite:elsewhere"}, dir.path());
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.contains("unknown report")) << r.out.toStdString();
}

} // namespace

// The PDF writer lays out text, which needs Qt's GUI part; no display is needed.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

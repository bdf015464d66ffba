#include "core/online/text_format.h"
#include "core/reports/report_display.h"
#include "core/spreadsheet/spreadsheet_report.h"
#include "core/spreadsheet/xlsx_package.h"
#include "core/spreadsheet/xlsx_template.h"
#include "sheet_fixtures.h"
#include "xlsx_cells.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QXmlStreamReader>
#include <map>
#include <quazip.h>
#include <quazipfile.h>

using namespace ufd;
using reports::ReportDisplay;
using reports::SheetCell;
using sheet_test::ReportRowsTest;

namespace {

// ---- reading a written workbook back, independently of the writer ----

std::map<QString, QByteArray> unzip(const QByteArray& bytes) {
    return ufd::testing::unzipParts(bytes);
}

QByteArray zip(const std::map<QString, QByteArray>& parts) {
    QByteArray out;
    QBuffer buffer(&out);
    QuaZip z(&buffer);
    z.open(QuaZip::mdCreate);
    for (const auto& [name, data] : parts) {
        QuaZipFile f(&z);
        f.open(QIODevice::WriteOnly, QuaZipNewInfo(name));
        f.write(data);
        f.close();
    }
    z.close();
    return out;
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct Cell {
    QString type; // "" number, "s" shared string, "inlineStr"
    QString value;
    QString style;
    bool hasFormula = false;
};
using Cells = std::map<std::pair<int, int>, Cell>;

std::pair<int, int> position(const QString& ref) {
    int col = 0;
    int i = 0;
    while (i < ref.size() && ref[i].isLetter()) {
        col = col * 26 + (ref[i].unicode() - 'A' + 1);
        ++i;
    }
    return {ref.mid(i).toInt(), col};
}

Cells sheetCells(const std::map<QString, QByteArray>& parts,
                 const QString& sheet = "xl/worksheets/sheet1.xml") {
    QStringList shared;
    if (parts.count("xl/sharedStrings.xml")) {
        QXmlStreamReader r(parts.at("xl/sharedStrings.xml"));
        while (!r.atEnd()) {
            if (r.readNext() == QXmlStreamReader::StartElement && r.name() == u"t") {
                shared << r.readElementText();
            }
        }
    }
    Cells cells;
    QXmlStreamReader r(parts.at(sheet));
    std::pair<int, int> at;
    while (!r.atEnd()) {
        r.readNext();
        if (!r.isStartElement()) {
            continue;
        }
        if (r.name() == u"c") {
            at = position(r.attributes().value("r").toString());
            cells[at] = {
                r.attributes().value("t").toString(), {}, r.attributes().value("s").toString()};
        } else if (r.name() == u"v" || r.name() == u"t") {
            Cell& c = cells[at];
            c.value = r.readElementText();
            if (c.type == "s") {
                c.value = shared.value(c.value.toInt());
            }
        } else if (r.name() == u"f") {
            cells[at].hasFormula = true;
        }
    }
    EXPECT_FALSE(r.hasError()) << r.errorString().toStdString();
    return cells;
}

QString text(const Cells& cells, int row, int col) {
    const auto it = cells.find({row, col});
    return it == cells.end() ? QString() : it->second.value;
}

bool isNumber(const Cells& cells, int row, int col) {
    const auto it = cells.find({row, col});
    return it != cells.end() && it->second.type.isEmpty() && !it->second.value.isEmpty();
}

// ---- the report ----

class SpreadsheetTest : public ReportRowsTest {
protected:
    void SetUp() override {
        ReportRowsTest::SetUp();
        folder_ = dir_.filePath("program");
        ASSERT_TRUE(QDir().mkpath(folder_ + "/Moudle"));
        ASSERT_TRUE(QDir().mkpath(folder_ + "/Outfiles"));
        template_ = readFile(UFD_TEMPLATE_PATH);
        ASSERT_FALSE(template_.isEmpty());
        setTemplate(template_);
        workpiece_.number = "W-17";
        workpiece_.details = {"Flange", "Pipe", "Q345", "Normalised", "6.3", "QA lab", "Crack"};
    }

    void setTemplate(const QByteArray& bytes) {
        QFile f(reports::templatePath(folder_));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    ReportDisplay shown(const QSqlRecord& row) {
        const auto s = reports::showCurrentReport(row, ReportDisplay{});
        EXPECT_TRUE(s.ok()) << s.error.toStdString();
        return s.display;
    }

    // Writes the report of `current` with the plot showing `plotted`, and reads it back.
    Cells write(const QSqlRecord& current, const ReportDisplay& plotted) {
        const auto report = reports::writeSpreadsheetReport(folder_, current, workpiece_, plotted);
        EXPECT_TRUE(report.ok()) << report.error.toStdString();
        return sheetCells(unzip(readFile(report.path)));
    }

    QStringList outfiles() const {
        return QDir(folder_ + "/Outfiles").entryList(QDir::Files | QDir::Hidden);
    }

    QString folder_;
    QByteArray template_;
    reports::WorkpieceFields workpiece_;
};

TEST_F(SpreadsheetTest, WritesEveryParameterCellAndStoresNumbersAsNumbers) {
    const reports::ReportRow& r = decoded_.rows[sheet_test::kDacRow];
    const Cells cells = write(rows_[sheet_test::kDacRow], shown(rows_[sheet_test::kDacRow]));
    EXPECT_TRUE(QFile::exists(folder_ + "/Outfiles/" + r.FileName + ".xlsx"));

    const auto g = [](double v) { return online::formatGeneral(v); };
    const std::map<std::pair<int, int>, QString> expected{
        {{1, 1}, "Ultrasonic Flaw Detect Report"},
        {{1, 20}, "DAC1"},
        {{1, 21}, "DAC2"},
        {{1, 22}, "DAC3"},
        {{2, 3}, r.FileName},
        {{2, 7}, r.FileDate.toString("yyyy-MM-dd hh:mm:ss")},
        {{3, 3}, "Beijing"},
        {{4, 3}, "W-17"},
        {{4, 5}, "Pipe"},
        {{4, 7}, "Flange"},
        {{5, 3}, "Q345"},
        {{5, 5}, "6.3"},
        {{5, 7}, "Normalised"},
        {{6, 3}, "Crack"},
        {{6, 7}, "QA lab"},
        {{7, 3}, r.ProbeName},
        {{7, 5}, r.ProbeFreq + "MHz"},
        {{7, 9}, r.ProbeDamp},
        {{8, 3}, r.ProbeType},
        {{8, 9}, r.ProbeZero + "us"},
        {{9, 5}, r.DB_Base + "dB"},
        {{9, 7}, r.ThickValue + "mm"},
        {{9, 9}, r.GateAlert},
        {{10, 3}, r.mRange + "mm"},
        {{10, 5}, QString::number(r.SoundVel) + "m/s"},
        {{10, 7}, g(r.GateA_Start) + "mm"},
        {{10, 9}, g(r.GateB_Start) + "mm"},
        {{11, 3}, r.dDelay + "us"},
        {{11, 7}, g(r.GateA_Width) + "mm"},
        {{11, 9}, g(r.GateB_Width) + "mm"},
        {{12, 3}, r.ProbeRectify},
        {{12, 5}, r.WaveReject + "%"},
        {{12, 7}, g(r.GateA_Height) + "%"},
        {{12, 9}, g(r.GateB_Height) + "%"},
        {{14, 3}, r.DB_Surface + "dB"},
        {{14, 5}, r.DAC_Offset0 + "dB"},
        {{14, 7}, r.DAC_Offset1 + "dB"},
        {{14, 9}, r.DAC_Offset2 + "dB"},
        {{15, 3}, r.FPGA_FireEnergy + "V"},
        {{15, 5}, QString::number(r.FPGA_DisChgTime) + "us"},
        {{15, 7}, QString::number(r.FPGA_FireFreq) + "Hz"},
        {{16, 3}, r.sValue + "mm"},
        {{16, 5}, r.pValue + "mm"},
        {{16, 7}, r.dValue + "mm"},
        {{16, 9}, QString::number(r.vEchoNum)},
        {{17, 3}, r.hValue + "%"},
        {{17, 5}, r.vERS},
        {{17, 7}, "mm"},
    };
    for (const auto& [at, want] : expected) {
        SCOPED_TRACE(reports::cellReference(at.first, at.second).toStdString());
        const QString got = text(cells, at.first, at.second);
        if (reports::isPlainDecimal(want)) {
            EXPECT_TRUE(isNumber(cells, at.first, at.second));
            EXPECT_DOUBLE_EQ(got.toDouble(), want.toDouble());
        } else {
            EXPECT_EQ(cells.at(at).type, "inlineStr");
            EXPECT_EQ(got, want);
        }
    }
}

TEST_F(SpreadsheetTest, SampleColumnsHoldEverySecondPointOfThePlot) {
    const QSqlRecord row = rows_[sheet_test::kDacRow];
    const auto rec = record(sheet_test::kDacRow);
    const ReportDisplay d = shown(row);
    const Cells cells = write(row, d);
    for (int i = 0; i <= 250; ++i) {
        SCOPED_TRACE(i);
        const int r = i + 2;
        const double x = 2 * i * d.scale + d.x0;
        EXPECT_TRUE(isNumber(cells, r, 18));
        EXPECT_DOUBLE_EQ(text(cells, r, 18).toDouble(), online::formatFixed(x, 2).toDouble());
        EXPECT_DOUBLE_EQ(text(cells, r, 19).toDouble(), rec.trace1[2 * i] * 0.25);
        for (int k = 0; k < 3; ++k) {
            EXPECT_DOUBLE_EQ(text(cells, r, 20 + k).toDouble(), d.curves[k][2 * i].y());
        }
    }
    EXPECT_EQ(cells.count({253, 18}), 0u);
}

TEST_F(SpreadsheetTest, KeepsTheTemplateStylesOfWrittenAndNewCells) {
    const Cells before = sheetCells(unzip(template_));
    const Cells after = write(rows_[sheet_test::kDacRow], shown(rows_[sheet_test::kDacRow]));
    int kept = 0;
    for (const auto& [at, cell] : before) {
        ASSERT_EQ(after.count(at), 1u);
        EXPECT_EQ(after.at(at).style, cell.style) << at.first << "," << at.second;
        kept += cell.style.isEmpty() ? 0 : 1;
    }
    EXPECT_GT(kept, 100);
    // New sample cells take their column's style, such as the path column's two decimals.
    EXPECT_FALSE(after.at({2, 18}).style.isEmpty());
    EXPECT_NE(after.at({2, 18}).style, after.at({2, 19}).style);
    // Labels the report does not write stay as they were.
    EXPECT_EQ(text(after, 2, 2), text(before, 2, 2));
    EXPECT_FALSE(text(after, 2, 2).isEmpty());
}

TEST_F(SpreadsheetTest, ProbeTypeDecidesBetweenDiameterAndSizeWithAngle) {
    const Cells before = sheetCells(unzip(template_));
    QSqlRecord row = rows_[sheet_test::kDacRow];
    const ReportDisplay d = shown(row);
    for (const char* type : {"Straight", "Dual D"}) {
        row.setValue("ProbeType", QString::fromLatin1(type));
        const Cells cells = write(row, d);
        EXPECT_EQ(text(cells, 7, 6), "Probe diameter");
        EXPECT_EQ(text(cells, 7, 7), row.value("ProbedSize").toString() + "mm");
        EXPECT_EQ(text(cells, 8, 5), text(before, 8, 5));
        EXPECT_EQ(text(cells, 8, 7), text(before, 8, 7));
    }
    for (const char* type : {"Angle", "Dual S", "Thru Trans"}) {
        row.setValue("ProbeType", QString::fromLatin1(type));
        const Cells cells = write(row, d);
        EXPECT_EQ(text(cells, 7, 6), text(before, 7, 6));
        EXPECT_EQ(text(cells, 7, 7),
                  row.value("ProbehSize").toString() + " X " + row.value("ProbewSize").toString());
        EXPECT_DOUBLE_EQ(text(cells, 8, 5).toDouble(), row.value("ProbeAng").toDouble());
        EXPECT_EQ(text(cells, 8, 7), row.value("ProbeFront").toString() + "mm");
    }
}

TEST_F(SpreadsheetTest, CurveTypeZeroAndGateLogicLeaveTemplateColumnsAlone) {
    // A template with content in the curve and gate columns shows what is left alone.
    std::vector<SheetCell> marks;
    for (int r = 2; r <= 252; ++r) {
        for (int c = 20; c <= 24; ++c) {
            marks.push_back({r, c, "keep"});
        }
    }
    const auto marked = reports::fillFirstSheet(template_, marks);
    ASSERT_TRUE(marked.error.isEmpty()) << marked.error.toStdString();
    setTemplate(marked.workbook);

    QSqlRecord row = rows_[sheet_test::kDacRow];
    row.setValue("GateA_Start", 20.0);
    row.setValue("GateA_Width", 10.0);
    row.setValue("GateA_Height", 40.0);
    row.setValue("GateB_Start", 40.0);
    row.setValue("GateB_Width", 8.0);
    row.setValue("GateB_Height", 66.0);
    row.setValue("GateLogic", "GateAB");
    const ReportDisplay d = shown(row);

    QSqlRecord current = row;
    current.setValue("CurrveType", 0);
    current.setValue("GateLogic", "GateA");
    const Cells cells = write(current, d);
    int inA = 0;
    for (int i = 0; i <= 250; ++i) {
        const int r = i + 2;
        for (int c = 20; c <= 22; ++c) {
            EXPECT_EQ(text(cells, r, c), "keep");
        }
        const double p = text(cells, r, 18).toDouble();
        const bool insideA = p >= 20.0 && p <= 30.0;
        EXPECT_EQ(text(cells, r, 23), insideA ? "40" : "keep") << r;
        EXPECT_EQ(text(cells, r, 24), "keep"); // gate B is not in the current row's logic
        inA += insideA ? 1 : 0;
    }
    EXPECT_GT(inA, 0);
    // The curve titles still come from the plot.
    EXPECT_EQ(text(cells, 1, 20), "DAC1");

    current.setValue("GateLogic", "GateAB");
    current.setValue("CurrveType", 1);
    const Cells both = write(current, d);
    for (int i = 0; i <= 250; ++i) {
        const double p = text(both, i + 2, 18).toDouble();
        EXPECT_EQ(text(both, i + 2, 24), p >= 40.0 && p <= 48.0 ? "66" : "keep");
        EXPECT_NE(text(both, i + 2, 20), "keep");
    }
}

TEST_F(SpreadsheetTest, SampleColumnsAndChartAxesComeFromTheDisplayGiven) {
    QSqlRecord row = rows_[sheet_test::kDacRow];
    row.setValue("ProbeRectify", "Radio");
    row.setValue("dDelay", "10.00");
    const ReportDisplay d = shown(row);
    ASSERT_DOUBLE_EQ(d.yMin, -100.0);
    ASSERT_GT(d.x0, 0.0);
    const auto report = reports::writeSpreadsheetReport(folder_, row, workpiece_, d);
    ASSERT_TRUE(report.ok()) << report.error.toStdString();
    const auto parts = unzip(readFile(report.path));

    // The chart's path axis spans the report's range, its amplitude axis the rectification's.
    const auto axis = [&](const QString& id) {
        QXmlStreamReader r(parts.at("xl/charts/chart1.xml"));
        std::pair<QString, QString> limits;
        bool inAxis = false;
        while (!r.atEnd()) {
            if (r.readNext() != QXmlStreamReader::StartElement) {
                continue;
            }
            const auto val = r.attributes().value("val").toString();
            if (r.name() == u"axId" && r.qualifiedName() == u"c:axId") {
                inAxis = val == id;
            } else if (inAxis && r.name() == u"min") {
                limits.first = val;
            } else if (inAxis && r.name() == u"max") {
                limits.second = val;
            }
        }
        return std::pair{limits.first.toDouble(), limits.second.toDouble()};
    };
    const QString chart = QString::fromUtf8(parts.at("xl/charts/chart1.xml"));
    const QRegularExpression ids(
        "<c:scatterChart>.*<c:axId val=\"(\\d+)\"/><c:axId val=\"(\\d+)\"/>");
    const auto m = ids.match(chart);
    ASSERT_TRUE(m.hasMatch());
    EXPECT_EQ(axis(m.captured(1)), (std::pair{d.x0, d.x1}));
    EXPECT_EQ(axis(m.captured(2)), (std::pair{-100.0, 100.0}));
    // The echo is drawn black, apart from the blue of DAC1.
    const qsizetype echo = chart.indexOf("$S$2:$S$252");
    ASSERT_GT(echo, 0);
    const QString firstSeries = chart.left(echo);
    EXPECT_TRUE(firstSeries.contains("<a:srgbClr val=\"000000\"/>")) << firstSeries.toStdString();

    // Before any show the sample columns are emptied and the chart keeps the template's axes.
    const Cells empty = write(rows_[3], ReportDisplay{});
    EXPECT_EQ(text(empty, 2, 18), QString());
    EXPECT_EQ(text(empty, 2, 3), decoded_.rows[3].FileName);
    const auto blank =
        unzip(readFile(folder_ + "/Outfiles/" + decoded_.rows[3].FileName + ".xlsx"));
    EXPECT_EQ(blank.at("xl/charts/chart1.xml"), unzip(template_).at("xl/charts/chart1.xml"));
}

TEST_F(SpreadsheetTest, TheSameReportReplacesItsFileAnotherOfTheSameNameGoesBesideIt) {
    // A file of that name that is no report of ours, say one made by hand, is never replaced.
    QFile foreign(folder_ + "/Outfiles/A1.xlsx");
    ASSERT_TRUE(foreign.open(QIODevice::WriteOnly));
    foreign.write(template_);
    foreign.close();

    QSqlRecord first = rows_[sheet_test::kDacRow];
    first.setValue("FileName", "A1");
    first.setValue("FileDate", "2024-06-21 09:15:30");
    QSqlRecord second = rows_[sheet_test::kAvgRow];
    second.setValue("FileName", "A1");
    second.setValue("FileDate", "2024-07-02 14:00:00");
    const auto save = [&](const QSqlRecord& row) {
        const auto report = reports::writeSpreadsheetReport(folder_, row, workpiece_, shown(row));
        EXPECT_TRUE(report.ok()) << report.error.toStdString();
        return QFileInfo(report.path).fileName();
    };
    EXPECT_EQ(save(first), "A1 (2).xlsx");
    EXPECT_EQ(save(second), "A1 (3).xlsx");
    workpiece_.number = "W-18";
    EXPECT_EQ(save(first), "A1 (2).xlsx");
    EXPECT_EQ(save(second), "A1 (3).xlsx");
    EXPECT_EQ(outfiles(), (QStringList{"A1 (2).xlsx", "A1 (3).xlsx", "A1.xlsx"}));
    EXPECT_EQ(readFile(foreign.fileName()), template_);

    const Cells replaced = sheetCells(unzip(readFile(folder_ + "/Outfiles/A1 (2).xlsx")));
    EXPECT_EQ(text(replaced, 4, 3), "W-18");
    EXPECT_EQ(text(replaced, 8, 3), decoded_.rows[sheet_test::kDacRow].ProbeType);
    const Cells beside = sheetCells(unzip(readFile(folder_ + "/Outfiles/A1 (3).xlsx")));
    EXPECT_EQ(text(beside, 8, 3), decoded_.rows[sheet_test::kAvgRow].ProbeType);
}

// Two different reports of one name and one date each keep their own file; a file written before
// reports carried their hash is recognised by name and date.
TEST_F(SpreadsheetTest, ReportsOfOneNameAndDateAreToldApartByTheirContent) {
    QSqlRecord first = rows_[sheet_test::kDacRow];
    QSqlRecord second = rows_[sheet_test::kAvgRow];
    for (QSqlRecord* r : {&first, &second}) {
        r->setValue("FileName", "A1");
        r->setValue("FileDate", "2024-06-21 09:15:30");
    }
    ASSERT_NE(first.value("ReportHash"), second.value("ReportHash"));
    QSqlRecord older = first;
    older.setNull("ReportHash");
    const auto save = [&](const QSqlRecord& row) {
        const auto report = reports::writeSpreadsheetReport(folder_, row, workpiece_, shown(row));
        EXPECT_TRUE(report.ok()) << report.error.toStdString();
        return QFileInfo(report.path).fileName();
    };
    EXPECT_EQ(save(older), "A1.xlsx");
    EXPECT_EQ(save(first), "A1.xlsx");
    EXPECT_EQ(save(second), "A1 (2).xlsx");
    EXPECT_EQ(save(first), "A1.xlsx");
    EXPECT_EQ(outfiles(), (QStringList{"A1 (2).xlsx", "A1.xlsx"}));
}

TEST_F(SpreadsheetTest, FailuresOfTheCopyShowTheTemplateMessageAndWriteNothing) {
    const QSqlRecord row = rows_[sheet_test::kDacRow];
    const ReportDisplay d = shown(row);
    const QString message = "Please check whether the template file exists!";
    for (const QString& name :
         {QString(), QString("../escape"), QString("a/b"), QString(".."), QString("a\\b"),
          QString("tab\there"), QString("C:x"), QString("/tmp/abs")}) {
        SCOPED_TRACE(name.toStdString());
        QSqlRecord bad = row;
        bad.setValue("FileName", name);
        const auto report = reports::writeSpreadsheetReport(folder_, bad, workpiece_, d);
        EXPECT_EQ(report.error, message);
    }
    EXPECT_TRUE(outfiles().isEmpty());
    EXPECT_EQ(QDir(folder_).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              (QStringList{"Moudle", "Outfiles"}));
    EXPECT_FALSE(QFile::exists(dir_.filePath("escape.xlsx")));

    ASSERT_TRUE(QDir(folder_ + "/Outfiles").removeRecursively());
    EXPECT_EQ(reports::writeSpreadsheetReport(folder_, row, workpiece_, d).error, message);
    ASSERT_TRUE(QDir().mkpath(folder_ + "/Outfiles"));

    ASSERT_TRUE(QFile::remove(reports::templatePath(folder_)));
    reports::TemplateOptions noOffice;
    EXPECT_EQ(reports::writeSpreadsheetReport(folder_, row, workpiece_, d, noOffice).error,
              message);
    EXPECT_TRUE(outfiles().isEmpty());
}

TEST_F(SpreadsheetTest, ADamagedTemplateChangesNothingInOutfiles) {
    const QSqlRecord row = rows_[sheet_test::kDacRow];
    const auto earlier = reports::writeSpreadsheetReport(folder_, row, workpiece_, shown(row));
    ASSERT_TRUE(earlier.ok());
    const QByteArray kept = readFile(earlier.path);

    setTemplate("not a workbook");
    const auto report = reports::writeSpreadsheetReport(folder_, row, workpiece_, shown(row));
    EXPECT_FALSE(report.error.isEmpty());
    EXPECT_EQ(readFile(earlier.path), kept);
    EXPECT_EQ(outfiles(), QStringList{QFileInfo(earlier.path).fileName()});
}

#ifdef Q_OS_UNIX
TEST_F(SpreadsheetTest, ASitesXlsTemplateIsUsedWhileTheXlsxIsTheProgramsDefault) {
    const auto stamp = [](const QString& path, const QDateTime& time) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(time, QFileDevice::FileModificationTime));
    };
    const QDateTime now = QDateTime::currentDateTime();
    QFile legacy(reports::legacyTemplatePath(folder_));
    ASSERT_TRUE(legacy.open(QIODevice::WriteOnly));
    legacy.write("legacy workbook");
    legacy.close();
    stamp(legacy.fileName(), now.addDays(-1));

    // What an office program's save does to a workbook made from the default: the custom
    // properties stay, the modified time is the save's.
    const auto savedByOffice = [](const QByteArray& xlsx) {
        QString error;
        auto entries = reports::detail::readZip(xlsx, error);
        QByteArray out;
        if (!entries) {
            return out;
        }
        reports::detail::ZipEntry* core =
            reports::detail::findEntry(*entries, QStringLiteral("docProps/core.xml"));
        if (core != nullptr) {
            core->data.replace(reports::modifiedStamp(xlsx).toLatin1(), "2031-01-01T00:00:00Z");
        }
        reports::detail::writeZip(*entries, out, error);
        return out;
    };
    EXPECT_FALSE(reports::modifiedStamp(template_).isEmpty());

    // The site's workbook, told apart by a mark, as a stand-in for the office program makes it
    // from the .xls; the stand-in counts its runs.
    auto marked = reports::fillFirstSheet(template_, {{30, 1, "site"}});
    ASSERT_TRUE(marked.error.isEmpty());
    marked.workbook = savedByOffice(marked.workbook);
    const QString site = dir_.filePath("site.xlsx");
    QFile siteFile(site);
    ASSERT_TRUE(siteFile.open(QIODevice::WriteOnly));
    siteFile.write(marked.workbook);
    siteFile.close();
    const QString script = dir_.filePath("office.sh");
    const QString count = dir_.filePath("runs");
    QFile s(script);
    ASSERT_TRUE(s.open(QIODevice::WriteOnly));
    s.write(QStringLiteral("#!/bin/sh\necho run >> '%1'\nout=\nwhile [ $# -gt 0 ]; do\n"
                           "  [ \"$1\" = --outdir ] && out=$2\n  last=$1\n  shift\ndone\n"
                           "cp '%2' \"$out/$(basename \"$last\" .xls).xlsx\"\n")
                .arg(count, site)
                .toUtf8());
    s.close();
    s.setPermissions(s.permissions() | QFileDevice::ExeOwner);
    const reports::TemplateOptions office{script, 30000};
    const reports::TemplateOptions none;

    const QSqlRecord row = rows_[sheet_test::kDacRow];
    const ReportDisplay d = shown(row);
    const auto mark = [&](const reports::TemplateOptions& options) {
        const auto report = reports::writeSpreadsheetReport(folder_, row, workpiece_, d, options);
        EXPECT_TRUE(report.ok()) << report.error.toStdString();
        return text(sheetCells(unzip(readFile(report.path))), 30, 1);
    };

    // While TSV.xlsx is the program's own default, the site's .xls is the template whatever
    // the dates; without a converter the operator is told which file to save as what, where.
    stamp(reports::templatePath(folder_), now);
    const auto native = [](const QString& path) {
        return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    };
    EXPECT_EQ(reports::writeSpreadsheetReport(folder_, row, workpiece_, d, none).error,
              QStringLiteral("Please save %1 as an Excel workbook %2, or install LibreOffice!")
                  .arg(native(reports::legacyTemplatePath(folder_)),
                       native(reports::templatePath(folder_))));
    EXPECT_EQ(reports::writeSpreadsheetReport(folder_, row, workpiece_, d,
                                              reports::TemplateOptions{"/bin/false", 30000})
                  .error,
              reports::legacyConversionFailedText());
    EXPECT_EQ(mark(office), "site");
    EXPECT_EQ(mark(office), "site"); // converted once
    EXPECT_EQ(readFile(count), QByteArray("run\n"));
    EXPECT_EQ(readFile(legacy.fileName()), QByteArray("legacy workbook"));

    // A site's own TSV.xlsx edited since wins over its older .xls.
    const auto edited = reports::fillFirstSheet(template_, {{30, 1, "edited"}});
    ASSERT_TRUE(edited.error.isEmpty());
    {
        QFile own(reports::templatePath(folder_));
        ASSERT_TRUE(own.open(QIODevice::WriteOnly));
        own.write(savedByOffice(edited.workbook));
    }
    EXPECT_EQ(mark(office), "edited");
    EXPECT_EQ(readFile(count), QByteArray("run\n"));

    // Alone it is the template too.
    ASSERT_TRUE(QFile::remove(reports::templatePath(folder_)));
    EXPECT_EQ(mark(office), "site");
    EXPECT_EQ(readFile(count), QByteArray("run\nrun\n"));
}
#endif

TEST_F(SpreadsheetTest, SheetCommandWritesTheRowOfTheLastImport) {
    {
        QSqlQuery q(store_.reportDb());
        ASSERT_TRUE(q.exec("INSERT INTO tabPartInfo (PartID, PartName, PartType) "
                           "VALUES ('W-9', 'Shaft', 'Forging')"));
    }
    QProcess tool;
    tool.setWorkingDirectory(dir_.path());
    // A station that has set its location prints it instead of the old fixed one.
    tool.start(UFDTOOL_PATH, {"station", "--set", "location=Shanghai"});
    ASSERT_TRUE(tool.waitForFinished(60000));
    ASSERT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
    tool.start(UFDTOOL_PATH, {"sheet", "--row", "2", "--workpiece", "W-9", "--folder", folder_});
    ASSERT_TRUE(tool.waitForFinished(60000));
    EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
    const QString path = QString::fromLocal8Bit(tool.readAllStandardOutput()).trimmed();
    EXPECT_EQ(QFileInfo(path).fileName(), decoded_.rows[1].FileName + ".xlsx");
    const Cells cells = sheetCells(unzip(readFile(path)));
    EXPECT_EQ(text(cells, 3, 3), "Shanghai");
    EXPECT_EQ(text(cells, 4, 3), "W-9");
    EXPECT_EQ(text(cells, 4, 7), "Shaft");
    EXPECT_EQ(text(cells, 1, 20), "AVG1");

    // Another report of that name goes beside it, and the path printed is the one written.
    {
        QSqlQuery q(store_.reportDb());
        ASSERT_TRUE(q.prepare("UPDATE tabDetectorReport SET FileName = ? WHERE rowid = "
                              "(SELECT rowid FROM tabDetectorReport LIMIT 1 OFFSET 2)"));
        q.addBindValue(decoded_.rows[1].FileName);
        ASSERT_TRUE(q.exec());
    }
    tool.start(UFDTOOL_PATH, {"sheet", "--row", "3", "--folder", folder_});
    ASSERT_TRUE(tool.waitForFinished(60000));
    EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
    const QString beside = QString::fromLocal8Bit(tool.readAllStandardOutput()).trimmed();
    EXPECT_EQ(QFileInfo(beside).fileName(), decoded_.rows[1].FileName + " (2).xlsx");
    EXPECT_EQ(text(sheetCells(unzip(readFile(beside))), 8, 3), decoded_.rows[2].ProbeType);

    for (const QStringList& args :
         {QStringList{"sheet", "--row", "7", "--folder", folder_},
          QStringList{"sheet", "--row", "1", "--workpiece", "nope", "--folder", folder_},
          QStringList{"sheet"}}) {
        tool.start(UFDTOOL_PATH, args);
        ASSERT_TRUE(tool.waitForFinished(60000));
        EXPECT_NE(tool.exitCode(), 0) << args.join(' ').toStdString();
    }
}

// ---- the template filler on packages it did not make ----

TEST(XlsxTemplate, FindsTheFirstSheetThroughTheWorkbookAndKeepsPrefixesAndFormulaSafety) {
    const QByteArray main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
    const QByteArray rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    std::map<QString, QByteArray> parts{
        {"[Content_Types].xml",
         "<?xml version=\"1.0\"?><Types "
         "xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
         "<Override PartName=\"/xl/calcChain.xml\" ContentType=\"x\"/>"
         "<Override PartName=\"/xl/book.xml\" ContentType=\"y\"/></Types>"},
        {"_rels/.rels",
         "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
         "<Relationship Id=\"rId1\" Type=\"" +
             rel +
             "/officeDocument\" Target=\"xl/book.xml\"/>"
             "</Relationships>"},
        {"xl/book.xml", "<x:workbook xmlns:x=\"" + main + "\" xmlns:r=\"" + rel +
                            "\"><x:sheets><x:sheet name=\"Front\" sheetId=\"2\" r:id=\"rId7\"/>"
                            "<x:sheet name=\"Back\" sheetId=\"1\" r:id=\"rId3\"/></x:sheets>"
                            "<x:calcPr calcId=\"1\"/></x:workbook>"},
        {"xl/_rels/book.xml.rels",
         "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
         "<Relationship Id=\"rId3\" Type=\"" +
             rel +
             "/worksheet\" Target=\"sheets/a.xml\"/>"
             "<Relationship Id=\"rId7\" Type=\"" +
             rel +
             "/worksheet\" Target=\"/xl/sheets/b.xml\"/>"
             "<Relationship Id=\"rId9\" Type=\"" +
             rel +
             "/calcChain\" Target=\"calcChain.xml\"/>"
             "</Relationships>"},
        {"xl/sheets/a.xml", "<x:worksheet xmlns:x=\"" + main + "\"><x:sheetData/></x:worksheet>"},
        {"xl/sheets/b.xml",
         "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
         "<x:worksheet xmlns:x=\"" +
             main +
             "\"><x:dimension ref=\"A1:B3\"/>"
             "<x:cols><x:col min=\"4\" max=\"6\" style=\"9\"/></x:cols><x:sheetData>"
             "<x:row r=\"1\" spans=\"1:2\"><x:c s=\"3\"><x:f>1+1</x:f><x:v>2</x:v></x:c>"
             "<x:c t=\"inlineStr\"><x:is><x:t>old</x:t></x:is></x:c></x:row>"
             "<x:row r=\"3\" s=\"5\" customFormat=\"1\"><x:c r=\"B3\"><x:v>7</x:v></x:c></x:row>"
             "</x:sheetData><x:pageMargins left=\"0.7\"/></x:worksheet>"},
        {"xl/calcChain.xml", "<calcChain/>"},
    };
    const auto filled = reports::fillFirstSheet(zip(parts), {{1, 1, "12.50"},
                                                             {3, 1, "<new & \"quoted\">"},
                                                             {2, 5, "-3"},
                                                             {1, 2, "x"},
                                                             {1, 2, "last wins"},
                                                             {3, 2, ""},
                                                             {5, 30, "far\x01 away"}});
    ASSERT_TRUE(filled.error.isEmpty()) << filled.error.toStdString();
    const auto out = unzip(filled.workbook);

    EXPECT_EQ(out.at("xl/sheets/a.xml"), parts.at("xl/sheets/a.xml"));
    const Cells cells = sheetCells(out, "xl/sheets/b.xml");
    EXPECT_EQ(cells.at({1, 1}).type, "");
    EXPECT_EQ(cells.at({1, 1}).value, "12.5");
    EXPECT_EQ(cells.at({1, 1}).style, "3");
    EXPECT_FALSE(cells.at({1, 1}).hasFormula);
    EXPECT_EQ(text(cells, 1, 2), "last wins");
    EXPECT_EQ(text(cells, 3, 1), "<new & \"quoted\">");
    EXPECT_EQ(cells.at({3, 1}).style, "5"); // the row's style
    EXPECT_EQ(cells.at({2, 5}).style, "9"); // the column's style
    EXPECT_EQ(text(cells, 2, 5), "-3");
    EXPECT_EQ(cells.count({3, 2}), 1u);
    EXPECT_EQ(text(cells, 3, 2), QString());
    EXPECT_EQ(text(cells, 5, 30), "far away");

    const QString sheet = QString::fromUtf8(out.at("xl/sheets/b.xml"));
    EXPECT_TRUE(sheet.contains("<x:c r=\"A1\" s=\"3\"><x:v>12.5</x:v></x:c>"))
        << sheet.toStdString();
    EXPECT_TRUE(sheet.contains("<x:dimension ref=\"A1:AD5\"/>"));
    EXPECT_TRUE(sheet.contains("<x:pageMargins left=\"0.7\"/>"));
    EXPECT_FALSE(sheet.contains("spans"));
    // The calculation chain went with the overwritten formula; the workbook recalculates.
    EXPECT_EQ(out.count("xl/calcChain.xml"), 0u);
    EXPECT_FALSE(out.at("xl/_rels/book.xml.rels").contains("calcChain"));
    EXPECT_FALSE(out.at("[Content_Types].xml").contains("calcChain"));
    EXPECT_TRUE(out.at("[Content_Types].xml").contains("/xl/book.xml"));
    EXPECT_TRUE(out.at("xl/book.xml").contains("fullCalcOnLoad=\"1\""));
}

// A site's template may carry a properties link that leads nowhere or to another part, or
// values with markup: the report's marker still goes in and reads back, and no other part is
// written into.
TEST_F(SpreadsheetTest, TheReportMarkerSurvivesOddPropertiesOfASiteTemplate) {
    const QString rel = QStringLiteral(
        "<Relationship Id=\"rX\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
        "relationships/custom-properties\" Target=\"%1\"/></Relationships>");
    const QByteArray markup =
        "<Properties xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/"
        "custom-properties\" xmlns:vt=\"http://schemas.openxmlformats.org/officeDocument/2006/"
        "docPropsVTypes\"><property fmtid=\"{D5CDD505-2E9C-101B-9397-08002B2CF9AE}\" pid=\"2\" "
        "name=\"site\"><vt:lpwstr>a<b>c</b></vt:lpwstr></property></Properties>";
    for (const QString& target :
         {QString(), QStringLiteral("xl/workbook.xml"), QStringLiteral("docProps/site.xml")}) {
        SCOPED_TRACE(target.toStdString());
        auto parts = unzip(template_);
        QByteArray& rels = parts.at("_rels/.rels");
        rels.replace("</Relationships>", rel.arg(target).toUtf8());
        if (target == QLatin1String("docProps/site.xml")) {
            parts[target] = markup;
        }
        const auto filled = reports::fillFirstSheet(
            zip(parts), {{1, 1, "x"}}, {{}, {{"UFD report name", "A1"}, {"UFD report date", "d"}}});
        ASSERT_TRUE(filled.error.isEmpty()) << filled.error.toStdString();
        const auto props = reports::customProperties(filled.workbook);
        EXPECT_EQ(props.count("UFD report name") ? props.at("UFD report name") : QString(), "A1");
        EXPECT_EQ(props.count("UFD report date") ? props.at("UFD report date") : QString(), "d");
        EXPECT_FALSE(unzip(filled.workbook).at("xl/workbook.xml").contains("property"));
    }
}

TEST(XlsxTemplate, RefusesWhatIsNoWorkbookAndKnowsPlainNumbers) {
    EXPECT_FALSE(reports::fillFirstSheet("PK\x03\x04 junk", {{1, 1, "a"}}).error.isEmpty());
    EXPECT_FALSE(reports::fillFirstSheet(zip({{"a.txt", "x"}}), {{1, 1, "a"}}).error.isEmpty());
    EXPECT_FALSE(reports::fillFirstSheet(QByteArray(), {}).error.isEmpty());

    for (const char* yes : {"0", "12", "-0.5", "20.00", "007", "123456.789"}) {
        EXPECT_TRUE(reports::isPlainDecimal(QString::fromLatin1(yes))) << yes;
    }
    for (const char* no : {"", "-", ".5", "5.", "1e5", "+1", " 1", "1 ", "12mm", "1,5", "1.2.3",
                           "2026-11-02 08:30:00"}) {
        EXPECT_FALSE(reports::isPlainDecimal(QString::fromLatin1(no))) << no;
    }
    EXPECT_EQ(reports::cellReference(252, 24), "X252");
    EXPECT_EQ(reports::cellReference(1, 27), "AA1");
}

TEST(SpreadsheetTexts, QuestionAndMessagesAreTheOperatorTexts) {
    EXPECT_EQ(reports::editReportQuestionTitle(), "Operation prompt");
    EXPECT_EQ(reports::editReportQuestionText(),
              "Data conversion takes time, please wait patiently\r        Press YES to continue");
    EXPECT_EQ(reports::templateMissingText(), "Please check whether the template file exists!");
}

} // namespace

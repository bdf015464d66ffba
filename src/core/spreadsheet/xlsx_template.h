#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace ufd::reports {

// One cell to write: row and column count from 1.
struct SheetCell {
    int row = 1;
    int column = 1;
    QString text;
};

struct XlsxFillResult {
    QByteArray workbook; // the filled .xlsx, when error is empty
    QString error;
};

// "C2" for row 2, column 3.
QString cellReference(int row, int column);

// True for texts a spreadsheet stores as a number when they are typed in: an optional minus,
// digits, and optional decimals ("12", "-0.5", "20.00").
bool isPlainDecimal(QStringView text);

// Axis limits for the scatter charts that plot the report's sample columns: those drawn on the
// first sheet whose X values all come from `pathColumn` of it. Other charts are left alone.
struct SampleChartScale {
    int pathColumn = 0;
    double xMin = 0, xMax = 0;
    double yMin = 0, yMax = 100;
};

// What a filled workbook carries besides its cells.
struct WorkbookExtras {
    std::optional<SampleChartScale> sampleChart;
    // Custom document properties stored as texts, replacing those of the same name; a null
    // text removes the property.
    std::vector<std::pair<QString, QString>> properties;
};

// Fills cells of the first worksheet of an .xlsx workbook and returns the new workbook. Plain
// decimal texts become number cells, other texts inline strings, an empty text an empty cell.
// A written cell keeps its style; a new cell takes its row's or column's style. Everything else
// in the package is kept. Cells listed twice take the last text.
XlsxFillResult fillFirstSheet(const QByteArray& xlsx, const std::vector<SheetCell>& cells,
                              const WorkbookExtras& extras = {});

// The custom document properties of a workbook that hold texts; empty for anything else.
std::map<QString, QString> customProperties(const QByteArray& xlsx);
// When the workbook was last saved, as its core properties say (dcterms:modified, as written);
// empty when it does not say.
QString modifiedStamp(const QByteArray& xlsx);

} // namespace ufd::reports

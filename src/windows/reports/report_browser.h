#pragma once

#include "core/reports/report_display.h"

#include <QSqlRecord>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

class QBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace ufd::app {
class DataLink;
class OperatorMessages;
class RecordNavigator;
} // namespace ufd::app
namespace ufd::online {
class AScanChart;
}
namespace ufd::protocol {
class ReportImage;
}

namespace ufd::reports {

class DataStore;
class ReportView;
struct StoredReport;
class ReportDocuments;
class ReportQuery;
class WorkpieceGroup;

// "Flaw Detector Report": imports a report file into the report table, browses its reports with
// their parameters, results and waveform, and writes the current one as a spreadsheet report.
class TFImPortData : public QWidget {
public:
    // Asks for the report file to open, starting in `folder`; empty when cancelled.
    using FileChooser = std::function<QString(QWidget* parent, const QString& folder)>;
    // Hands a finished document to the desktop; false when nothing there opens it.
    using ReportOpener = std::function<bool(const QString& path)>;

    TFImPortData(DataStore& store, ReportQuery& query, protocol::ReportImage& image,
                 app::OperatorMessages& messages, const QString& programFolder,
                 QWidget* parent = nullptr);
    ~TFImPortData() override;

    void setFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }
    void setReportOpener(ReportOpener opener);

    // "Open Report File", "Edit Report " and "Quit".
    void BitBtn_OpenClick();
    void BitBtn_EditClick();
    void BitBtn_QuitClick();
    // "PDF Report", "Print" and "CSV" beside "Edit Report ", enabled with it; the spreadsheet,
    // the PDF and the print take every selected row (or the current one), the CSV the current.
    void BitBtn_PdfClick();
    void BitBtn_PrintClick();
    void BitBtn_CsvClick();
    // The reports the documents are made of: the selected rows in grid order when several are
    // selected, else the current row.
    std::vector<QSqlRecord> chosenRecords() const;
    ReportDocuments& documents() const { return *documents_; }
    // Redraws the plot and its tables from the current row.
    void ShowCurrentReport();

    // The report last shown: what the plot draws.
    const ReportDisplay& lastShown() const { return lastShown_; }
    QSqlRecord currentRecord() const;

    online::AScanChart* chart() const;
    QTableView* grid() const { return grid_; }
    app::RecordNavigator* navigator() const { return navigator_; }
    app::DataLink* dataLink() const { return link_; }
    QPushButton* openButton() const { return open_; }
    QPushButton* editButton() const { return edit_; }
    QPushButton* quitButton() const { return quit_; }
    QPushButton* pdfButton() const { return pdf_; }
    QPushButton* printButton() const { return print_; }
    QPushButton* csvButton() const { return csv_; }
    QPushButton* allRowsButton() const { return allRows_; }
    // The status bar: where the last documents went.
    QString statusText() const;
    ReportView* pages() const { return pages_; }
    WorkpieceGroup* workpiece() const { return workpiece_; }
    // The read-only field of the "Parameter" or "Result" page bound to `column`.
    QLineEdit* field(const QString& column) const;

    // Where the file dialog starts: the program's Report/ folder.
    static QString startFolder(const QString& programFolder);

private:
    void buildToolBar(QBoxLayout* outer);
    void enableDocuments(bool on);
    std::vector<StoredReport> chosenReports() const;
    void importImage();
    void rowChanged();
    // Shows the current row unless the plot already holds it as it stands.
    void showIfStale();

    DataStore& store_;
    ReportQuery& query_;
    protocol::ReportImage& image_;
    app::OperatorMessages& messages_;
    QString programFolder_;
    FileChooser chooser_;
    ReportDisplay lastShown_;
    int shownRow_ = -1;      // the row lastShown_ was made from, -1 before the first show
    QSqlRecord shownRecord_; // and its values then
    bool holdShow_ = false;  // while the rows are replaced or the window is set up

    app::DataLink* link_ = nullptr;
    app::RecordNavigator* navigator_ = nullptr;
    QPushButton* open_ = nullptr;
    QPushButton* edit_ = nullptr;
    QPushButton* quit_ = nullptr;
    QPushButton* pdf_ = nullptr;
    QPushButton* print_ = nullptr;
    QPushButton* csv_ = nullptr;
    QPushButton* allRows_ = nullptr;
    QLabel* status_ = nullptr;
    std::unique_ptr<ReportDocuments> documents_;
    WorkpieceGroup* workpiece_ = nullptr;
    QTableView* grid_ = nullptr;
    ReportView* pages_ = nullptr;
};

} // namespace ufd::reports

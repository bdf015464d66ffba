#pragma once

#include "core/documents/report_page_content.h"
#include "core/spreadsheet/spreadsheet_report.h"

#include <QSqlRecord>
#include <QString>
#include <functional>
#include <vector>

class QProgressDialog;
class QWidget;

namespace ufd::app {
class OperatorMessages;
}

namespace ufd::reports {

// A stored report with the workpiece its documents name, and its record when the
// archive holds it.
struct StoredReport {
    QSqlRecord row; // the columns of tabDetectorReport
    WorkpieceFields workpiece;
    std::optional<documents::PageRecord> record = {};
};

// The documents made from stored reports, for one or many at once: the spreadsheet report, the
// PDF report, the printed page and the waveform file. Shared by every window that lists
// reports, so that each makes them the same way. Files go to the program's Outfiles/ by the
// spreadsheet report's naming rule; a cancelled or failed run leaves no half-written file.
class ReportDocuments {
public:
    // Hands a finished file to the desktop; false when nothing there opens it.
    using Opener = std::function<bool(const QString& path)>;
    // Told where the documents of each run went, for the window's status bar.
    using WrittenNotice = std::function<void(const QString& text)>;
    // Called after each report of a run of several, with the dialog that shows the progress.
    using ProgressHook = std::function<void(QProgressDialog& dialog, int done)>;

    ReportDocuments(app::OperatorMessages& messages, QString programFolder);

    void setOpener(Opener opener) { opener_ = std::move(opener); }
    void setWrittenNotice(WrittenNotice notice) { written_ = std::move(notice); }
    // The logged-in user, named on the page as the inspector.
    void setInspector(std::function<QString()> inspector) { inspector_ = std::move(inspector); }
    void setProgressHook(ProgressHook hook) { progressHook_ = std::move(hook); }

    // One spreadsheet report per row, after the spreadsheet question; the file of a single
    // report is opened. Returns the files written.
    QStringList saveSpreadsheets(QWidget* parent, const std::vector<StoredReport>& reports);
    // One PDF with a page per row, in the order given, opened when written. Empty when nothing
    // was written.
    QString savePdf(QWidget* parent, const std::vector<StoredReport>& reports);
    // The same pages through the system's print dialog, after a preview.
    void print(QWidget* parent, const std::vector<StoredReport>& reports);
    // The waveform of one report as "<name>.csv"; empty when nothing was written.
    QString saveCsv(const QSqlRecord& row);

private:
    QString inspector() const { return inspector_ ? inspector_() : QString(); }
    // Opens what was written, saying so when the desktop cannot, and tells where it is.
    void handOver(const QString& path, const QString& written);
    // Outfiles/, made when missing; empty, having said why, when it cannot be made.
    QString outfilesOrSay();
    void sayNoFileName(const QString& reportName);

    app::OperatorMessages& messages_;
    QString programFolder_;
    Opener opener_;
    WrittenNotice written_;
    std::function<QString()> inspector_;
    ProgressHook progressHook_;
};

// Hands `path` to the desktop's program for it; false when the desktop has none. Nothing (and
// true) on the offscreen and minimal platforms, where nobody would see it.
bool openOnDesktop(const QString& path);

// "Written: <path>" for the status bar.
QString writtenText(const QString& path);

} // namespace ufd::reports

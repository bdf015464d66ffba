#include "windows/reports/report_documents.h"

#include "core/documents/report_document.h"
#include "core/documents/waveform_csv.h"
#include "core/reports/report_display.h"
#include "widgets/busy_cursor.h"
#include "widgets/operator_messages.h"
#include "widgets/report_page.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QUrl>
#include <memory>

namespace ufd::reports {

namespace {

using app::BusyCursor;

// A progress dialog for runs of several reports; a single report needs none.
std::unique_ptr<QProgressDialog> progressFor(QWidget* parent, const QString& text, int total) {
    if (total < 2) {
        return nullptr;
    }
    auto dialog =
        std::make_unique<QProgressDialog>(text, QStringLiteral("Cancel"), 0, total, parent);
    dialog->setWindowTitle(QStringLiteral("Please wait"));
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setMinimumDuration(500);
    dialog->setAutoReset(false);
    dialog->setAutoClose(false);
    dialog->setValue(0);
    return dialog;
}

documents::PageSource pagesOf(const std::vector<StoredReport>& reports, const QString& inspector) {
    std::vector<QSqlRecord> rows;
    std::vector<WorkpieceFields> workpieces;
    rows.reserve(reports.size());
    workpieces.reserve(reports.size());
    for (const StoredReport& r : reports) {
        rows.push_back(r.row);
        workpieces.push_back(r.workpiece);
    }
    return documents::pageSource(std::move(rows), std::move(workpieces), inspector);
}

} // namespace

void openOnDesktop(const QString& path) {
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) {
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

ReportDocuments::ReportDocuments(app::OperatorMessages& messages, QString programFolder)
    : messages_(messages), programFolder_(std::move(programFolder)), opener_(openOnDesktop) {}

QStringList ReportDocuments::saveSpreadsheets(QWidget* parent,
                                              const std::vector<StoredReport>& reports) {
    if (reports.empty()) {
        return {};
    }
    const int total = static_cast<int>(reports.size());
    // The first report's template is checked before the question, as for a single report.
    ReportTemplate first;
    {
        const BusyCursor busy; // a site's .xls template is converted first
        first = loadReportTemplate(programFolder_,
                                   fieldText(reports[0].row, QStringLiteral("FileName")));
    }
    if (!first.ok()) {
        messages_.showMessage(first.error);
        return {};
    }
    if (total == 1) {
        // The waveform is taken from the row whose parameters are written.
        const ShowResult shown = showCurrentReport(reports[0].row, ReportDisplay{});
        if (!shown.ok()) {
            messages_.showError(shown.error);
            return {};
        }
        if (!messages_.askYesNo(editReportQuestionTitle(), editReportQuestionText())) {
            return {}; // Outfiles/ stays as it was
        }
        ReportCopy report;
        {
            const BusyCursor busy;
            report =
                saveSpreadsheetReport(first, reports[0].row, reports[0].workpiece, shown.display);
        }
        if (!report.ok()) {
            messages_.showError(report.error);
            return {};
        }
        opener_(report.path);
        return {report.path};
    }

    if (!messages_.askYesNo(editReportQuestionTitle(), editReportQuestionText())) {
        return {};
    }
    const auto progress =
        progressFor(parent, QStringLiteral("Writing %1 spreadsheet reports").arg(total), total);
    QStringList written;
    QString failure;
    for (int i = 0; i < total && !progress->wasCanceled(); ++i) {
        const StoredReport& stored = reports[static_cast<std::size_t>(i)];
        const QSqlRecord& row = stored.row;
        const QString name = fieldText(row, QStringLiteral("FileName"));
        // Every workbook is whole or absent: each is written under a temporary name first.
        const ReportTemplate tmpl = i == 0 ? first : loadReportTemplate(programFolder_, name);
        const ShowResult shown = tmpl.ok() ? showCurrentReport(row, ReportDisplay{}) : ShowResult{};
        const ReportCopy report =
            !tmpl.ok()    ? ReportCopy{{}, tmpl.error}
            : !shown.ok() ? ReportCopy{{}, shown.error}
                          : saveSpreadsheetReport(tmpl, row, stored.workpiece, shown.display);
        if (!report.ok()) {
            failure = QStringLiteral("%1: %2").arg(name, report.error);
            break;
        }
        written << report.path;
        progress->setValue(i + 1);
        if (progressHook_) {
            progressHook_(*progress, i + 1);
        }
    }
    const bool cancelled = progress->wasCanceled();
    progress->close();
    if (!failure.isEmpty()) {
        messages_.showError(QStringLiteral("%1\n%2 of %3 spreadsheet reports were written.")
                                .arg(failure)
                                .arg(written.size())
                                .arg(total));
    } else if (cancelled) {
        messages_.showError(QStringLiteral("Cancelled: %1 of %2 spreadsheet reports were written.")
                                .arg(written.size())
                                .arg(total));
    } else if (!written.isEmpty()) {
        opener_(QFileInfo(written.first()).absolutePath());
    }
    return written;
}

QString ReportDocuments::savePdf(QWidget* parent, const std::vector<StoredReport>& reports) {
    if (reports.empty()) {
        return {};
    }
    const documents::PageSource source = pagesOf(reports, inspector());
    const QString outDir = outfilesPath(programFolder_);
    if (!QDir(outDir).exists() && !QDir().mkpath(outDir)) {
        messages_.showError(
            QStringLiteral("Cannot create the folder %1").arg(QDir::toNativeSeparators(outDir)));
        return {};
    }
    const QString path = documents::pdfReportPath(outDir, source.document.reports);
    if (path.isEmpty()) {
        messages_.showError(QStringLiteral("No file name for the report \"%1\" in %2")
                                .arg(documents::pdfBaseName(source.document.reports),
                                     QDir::toNativeSeparators(outDir)));
        return {};
    }
    const auto progress = progressFor(
        parent, QStringLiteral("Writing %1 report pages").arg(source.count()), source.count());
    documents::PrintResult result;
    {
        const BusyCursor busy;
        result = documents::writeReportsPdf(
            path, source,
            [&](int done, int) {
                if (progress) {
                    progress->setValue(done);
                    if (progressHook_) {
                        progressHook_(*progress, done);
                    }
                }
            },
            [&] { return progress && progress->wasCanceled(); });
    }
    if (progress) {
        progress->close();
    }
    if (result.cancelled) {
        return {}; // the operator's own choice; the file was never put in place
    }
    if (!result.ok()) {
        messages_.showError(result.error);
        return {};
    }
    opener_(path);
    return path;
}

void ReportDocuments::print(QWidget* parent, const std::vector<StoredReport>& reports) {
    if (reports.empty()) {
        return;
    }
    const documents::PageSource source = pagesOf(reports, inspector());
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageLayout(documents::reportPageLayout());
    printer.setDocName(source.document.title);
    QPrintPreviewDialog preview(&printer, parent);
    preview.setObjectName(QStringLiteral("PrintPreview"));
    QString error;
    QObject::connect(
        &preview, &QPrintPreviewDialog::paintRequested, &preview, [&](QPrinter* device) {
            const BusyCursor busy;
            const documents::PrintResult r = documents::printReportPages(*device, source);
            if (!r.ok()) {
                error = r.error;
            }
        });
    preview.exec();
    if (!error.isEmpty()) {
        messages_.showError(error);
    }
}

QString ReportDocuments::saveCsv(const QSqlRecord& row) {
    const QString name = fieldText(row, QStringLiteral("FileName"));
    const QString outDir = outfilesPath(programFolder_);
    if (!isSafeReportName(name)) {
        messages_.showError(QStringLiteral("No file name for the report \"%1\" in %2")
                                .arg(name, QDir::toNativeSeparators(outDir)));
        return {};
    }
    const ShowResult shown = showCurrentReport(row, ReportDisplay{});
    if (!shown.ok()) {
        messages_.showError(shown.error);
        return {};
    }
    if (!QDir(outDir).exists() && !QDir().mkpath(outDir)) {
        messages_.showError(
            QStringLiteral("Cannot create the folder %1").arg(QDir::toNativeSeparators(outDir)));
        return {};
    }
    // A waveform file names no report inside; one with the very same points is this report's.
    const QByteArray csv = documents::waveformCsv(shown.display);
    const QString path = reportFilePath(outDir, name, QStringLiteral("csv"), [&](const QString& p) {
        QFile f(p);
        return f.size() == csv.size() && f.open(QIODevice::ReadOnly) && f.readAll() == csv;
    });
    if (path.isEmpty()) {
        messages_.showError(QStringLiteral("No file name for the report \"%1\" in %2")
                                .arg(name, QDir::toNativeSeparators(outDir)));
        return {};
    }
    const QString error = documents::writeWaveformCsv(path, shown.display);
    if (!error.isEmpty()) {
        messages_.showError(error);
        return {};
    }
    opener_(path);
    return path;
}

} // namespace ufd::reports

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
    std::vector<std::optional<documents::PageRecord>> records;
    rows.reserve(reports.size());
    workpieces.reserve(reports.size());
    records.reserve(reports.size());
    for (const StoredReport& r : reports) {
        rows.push_back(r.row);
        workpieces.push_back(r.workpiece);
        records.push_back(r.record);
    }
    return documents::pageSource(std::move(rows), std::move(workpieces), inspector,
                                 std::move(records));
}

} // namespace

bool openOnDesktop(const QString& path) {
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) {
        return true;
    }
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

QString writtenText(const QString& path) {
    return QStringLiteral("Written: %1").arg(QDir::toNativeSeparators(path));
}

void ReportDocuments::handOver(const QString& path, const QString& written) {
    if (written_) {
        written_(written);
    }
    if (!opener_(path)) {
        messages_.showMessage(QStringLiteral("No program on this computer opens %1. The file is "
                                             "there; open it with a program of your choice.")
                                  .arg(QDir::toNativeSeparators(path)));
    }
}

ReportDocuments::ReportDocuments(app::OperatorMessages& messages, QString programFolder)
    : messages_(messages), programFolder_(std::move(programFolder)), opener_(openOnDesktop) {}

QString ReportDocuments::outfilesOrSay() {
    const QString outDir = outfilesPath(programFolder_);
    if (!QDir(outDir).exists() && !QDir().mkpath(outDir)) {
        messages_.showError(
            QStringLiteral("Cannot create the folder %1").arg(QDir::toNativeSeparators(outDir)));
        return {};
    }
    return outDir;
}

void ReportDocuments::sayNoFileName(const QString& name) {
    messages_.showError(QStringLiteral("No file name for the report \"%1\" in %2")
                            .arg(name, QDir::toNativeSeparators(outfilesPath(programFolder_))));
}

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
    // One report's workbook from the template read once: whole or absent, as each is written
    // under a temporary name first. The waveform is taken from the row whose parameters are
    // written.
    const auto save = [&](const StoredReport& stored) {
        const ShowResult shown = showCurrentReport(stored.row, ReportDisplay{});
        return shown.ok()
                   ? saveSpreadsheetReport(first, stored.row, stored.workpiece, shown.display)
                   : ReportCopy{{}, shown.error};
    };
    if (total == 1) {
        // A row that cannot be shown is told before the question.
        if (const ShowResult shown = showCurrentReport(reports[0].row, ReportDisplay{});
            !shown.ok()) {
            messages_.showError(shown.error);
            return {};
        }
        if (!messages_.askYesNo(editReportQuestionTitle(), editReportQuestionText())) {
            return {}; // Outfiles/ stays as it was
        }
        ReportCopy report;
        {
            const BusyCursor busy;
            report = save(reports[0]);
        }
        if (!report.ok()) {
            messages_.showError(report.error);
            return {};
        }
        handOver(report.path, writtenText(report.path));
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
        const ReportCopy report = save(stored);
        if (!report.ok()) {
            failure = QStringLiteral("%1: %2").arg(
                fieldText(stored.row, QStringLiteral("FileName")), report.error);
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
        const QString folder = QFileInfo(written.first()).absolutePath();
        handOver(folder, QStringLiteral("%1 spreadsheet reports written to %2")
                             .arg(written.size())
                             .arg(QDir::toNativeSeparators(folder)));
        return written;
    }
    // Those written before a failure or a cancel are there all the same.
    if (!written.isEmpty() && written_) {
        written_(QStringLiteral("%1 of %2 spreadsheet reports written to %3")
                     .arg(written.size())
                     .arg(total)
                     .arg(QDir::toNativeSeparators(QFileInfo(written.first()).absolutePath())));
    }
    return written;
}

QString ReportDocuments::savePdf(QWidget* parent, const std::vector<StoredReport>& reports) {
    if (reports.empty()) {
        return {};
    }
    const documents::PageSource source = pagesOf(reports, inspector());
    const QString outDir = outfilesOrSay();
    if (outDir.isEmpty()) {
        return {};
    }
    const QString path = documents::pdfReportPath(outDir, source.document.reports);
    if (path.isEmpty()) {
        sayNoFileName(documents::pdfBaseName(source.document.reports));
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
    handOver(path, source.count() > 1 ? QStringLiteral("%1 report pages written: %2")
                                            .arg(source.count())
                                            .arg(QDir::toNativeSeparators(path))
                                      : writtenText(path));
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
    if (!isSafeReportName(name)) {
        sayNoFileName(name);
        return {};
    }
    const ShowResult shown = showCurrentReport(row, ReportDisplay{});
    if (!shown.ok()) {
        messages_.showError(shown.error);
        return {};
    }
    const QString outDir = outfilesOrSay();
    if (outDir.isEmpty()) {
        return {};
    }
    const QByteArray csv = documents::waveformCsv(shown.display);
    const QString path = documents::waveformCsvPath(outDir, name, csv);
    if (path.isEmpty()) {
        sayNoFileName(name);
        return {};
    }
    const QString error = documents::writeCsv(path, csv);
    if (!error.isEmpty()) {
        messages_.showError(error);
        return {};
    }
    handOver(path, writtenText(path));
    return path;
}

} // namespace ufd::reports

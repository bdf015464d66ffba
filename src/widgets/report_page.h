#pragma once

#include "core/documents/report_document.h"
#include "core/documents/report_page_content.h"

#include <QPageLayout>
#include <QRectF>
#include <QString>
#include <functional>

class QPainter;
class QPagedPaintDevice;

namespace ufd::documents {

// A4 portrait with the margins the page is laid out for.
QPageLayout reportPageLayout();

// Draws one report page into `area` (device coordinates: the printable part of the page),
// scaled to fit it whole; the same on a PDF writer, a printer and a print preview.
void paintReportPage(QPainter& painter, const QRectF& area, const ReportPage& page, int pageNumber,
                     int pageCount);

using PrintProgress = std::function<void(int done, int total)>; // after each page
using CancelCheck = std::function<bool()>;                      // before each page

struct PrintResult {
    int pages = 0; // pages drawn
    bool cancelled = false;
    QString error; // a page that could not be made, or the device's or file's failure
    bool ok() const { return error.isEmpty() && !cancelled; }
};

// Every page of `source` on `device` (a QPrinter, a preview's or a PDF writer), in the device's
// own page layout.
PrintResult printReportPages(QPagedPaintDevice& device, const PageSource& source,
                             const PrintProgress& progress = {}, const CancelCheck& cancelled = {});

// Every page of `source` into one A4 PDF at `path`, with the document's title and the reports it
// holds in its metadata (reportsInPdf reads them back). The file is written under a temporary
// name beside `path` and renamed into place when complete, so a cancel or a failure leaves
// `path` as it was.
PrintResult writeReportsPdf(const QString& path, const PageSource& source,
                            const PrintProgress& progress = {}, const CancelCheck& cancelled = {});

} // namespace ufd::documents

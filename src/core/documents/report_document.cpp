#include "core/documents/report_document.h"

#include <QFile>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <algorithm>
#include <memory>

namespace ufd::documents {

namespace {

constexpr QLatin1String kReportsNs("urn:ufd:report-document:1");
constexpr QLatin1String kRdfNs("http://www.w3.org/1999/02/22-rdf-syntax-ns#");
constexpr QLatin1String kXmpStart("<x:xmpmeta");
constexpr QLatin1String kXmpEnd("</x:xmpmeta>");
// Our writer puts the packet near the start; a file that hides it deeper is not ours.
constexpr qint64 kMaxXmpScan = 16 * 1024 * 1024;
constexpr qint64 kScanChunk = 256 * 1024;

// The reports list of one XMP packet, or nothing when it has none.
std::vector<ReportIdentity> parseReports(const QByteArray& xmp) {
    std::vector<ReportIdentity> reports;
    QXmlStreamReader xml(xmp);
    bool inList = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.namespaceUri() == kReportsNs &&
            xml.name() == QLatin1String("reports")) {
            inList = true;
        } else if (xml.isEndElement() && xml.namespaceUri() == kReportsNs &&
                   xml.name() == QLatin1String("reports")) {
            inList = false;
        } else if (inList && xml.isStartElement() && xml.namespaceUri() == kRdfNs &&
                   xml.name() == QLatin1String("li")) {
            reports.emplace_back();
        } else if (inList && !reports.empty() && xml.isStartElement() &&
                   xml.namespaceUri() == kReportsNs) {
            const bool name = xml.name() == QLatin1String("name");
            const bool date = xml.name() == QLatin1String("date");
            const bool hash = xml.name() == QLatin1String("hash");
            const QString text = xml.readElementText();
            if (name) {
                reports.back().name = text;
            } else if (date) {
                reports.back().date = text;
            } else if (hash) {
                reports.back().hash = text;
            }
        }
    }
    if (xml.hasError()) {
        return {};
    }
    return reports;
}

} // namespace

ReportIdentity reportIdentity(const QSqlRecord& row) {
    return {reports::fieldText(row, QStringLiteral("FileName")),
            reports::fieldText(row, QStringLiteral("FileDate")),
            reports::fieldText(row, QStringLiteral("ReportHash"))};
}

bool sameReport(const ReportIdentity& inFile, const ReportIdentity& report) {
    if (!inFile.hash.isEmpty() && !report.hash.isEmpty()) {
        return inFile.hash == report.hash;
    }
    return inFile.name == report.name && inFile.date == report.date;
}

PdfDocumentInfo pdfDocumentInfo(std::vector<ReportIdentity> reports, const QString& inspector) {
    PdfDocumentInfo info;
    info.title = QStringLiteral("Ultrasonic Flaw Detect Report %1").arg(pdfBaseName(reports));
    info.author = inspector;
    info.creator = QStringLiteral("Ultrasonic Flaw Detector");
    info.reports = std::move(reports);
    return info;
}

QByteArray xmpMetadata(const PdfDocumentInfo& info) {
    QByteArray body;
    QXmlStreamWriter w(&body);
    w.writeStartElement(QStringLiteral("x:xmpmeta"));
    w.writeAttribute(QStringLiteral("xmlns:x"), QStringLiteral("adobe:ns:meta/"));
    w.writeNamespace(kRdfNs, QStringLiteral("rdf"));
    w.writeNamespace(QStringLiteral("http://purl.org/dc/elements/1.1/"), QStringLiteral("dc"));
    w.writeNamespace(QStringLiteral("http://ns.adobe.com/xap/1.0/"), QStringLiteral("xmp"));
    w.writeNamespace(kReportsNs, QStringLiteral("ufd"));
    w.writeStartElement(kRdfNs, QStringLiteral("RDF"));
    w.writeStartElement(kRdfNs, QStringLiteral("Description"));
    w.writeAttribute(kRdfNs, QStringLiteral("about"), QString());
    const QString dc = QStringLiteral("http://purl.org/dc/elements/1.1/");
    w.writeTextElement(dc, QStringLiteral("format"), QStringLiteral("application/pdf"));
    w.writeStartElement(dc, QStringLiteral("title"));
    w.writeStartElement(kRdfNs, QStringLiteral("Alt"));
    w.writeStartElement(kRdfNs, QStringLiteral("li"));
    w.writeAttribute(QStringLiteral("xml:lang"), QStringLiteral("x-default"));
    w.writeCharacters(info.title);
    w.writeEndElement();
    w.writeEndElement();
    w.writeEndElement();
    if (!info.author.isEmpty()) {
        w.writeStartElement(dc, QStringLiteral("creator"));
        w.writeStartElement(kRdfNs, QStringLiteral("Seq"));
        w.writeTextElement(kRdfNs, QStringLiteral("li"), info.author);
        w.writeEndElement();
        w.writeEndElement();
    }
    w.writeTextElement(QStringLiteral("http://ns.adobe.com/xap/1.0/"),
                       QStringLiteral("CreatorTool"), info.creator);
    w.writeStartElement(kReportsNs, QStringLiteral("reports"));
    w.writeStartElement(kRdfNs, QStringLiteral("Seq"));
    for (const ReportIdentity& r : info.reports) {
        w.writeStartElement(kRdfNs, QStringLiteral("li"));
        w.writeAttribute(kRdfNs, QStringLiteral("parseType"), QStringLiteral("Resource"));
        w.writeTextElement(kReportsNs, QStringLiteral("name"), r.name);
        w.writeTextElement(kReportsNs, QStringLiteral("date"), r.date);
        if (!r.hash.isEmpty()) {
            w.writeTextElement(kReportsNs, QStringLiteral("hash"), r.hash);
        }
        w.writeEndElement();
    }
    w.writeEndDocument();
    return QByteArray("<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n") +
           body + QByteArray("\n<?xpacket end=\"r\"?>");
}

std::vector<ReportIdentity> reportsInPdf(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QByteArray head;
    qsizetype from = 0;
    while (head.size() < kMaxXmpScan) {
        const QByteArray chunk = file.read(kScanChunk);
        if (chunk.isEmpty()) {
            break;
        }
        head += chunk;
        // Every complete packet so far; the first that lists reports names the file's.
        for (;;) {
            const qsizetype start = head.indexOf(QByteArray(kXmpStart.data()), from);
            if (start < 0) {
                from = std::max<qsizetype>(0, head.size() - kXmpStart.size());
                break;
            }
            const qsizetype end = head.indexOf(QByteArray(kXmpEnd.data()), start);
            if (end < 0) {
                from = start;
                break;
            }
            auto reports = parseReports(head.mid(start, end + kXmpEnd.size() - start));
            if (!reports.empty()) {
                return reports;
            }
            from = end;
        }
    }
    return {};
}

QString pdfBaseName(const std::vector<ReportIdentity>& reports) {
    if (reports.empty()) {
        return {};
    }
    if (reports.size() == 1) {
        return reports.front().name;
    }
    return QStringLiteral("%1 and %2 more").arg(reports.front().name).arg(reports.size() - 1);
}

QString pdfReportPath(const QString& outDir, const std::vector<ReportIdentity>& reports) {
    const QString base = pdfBaseName(reports);
    if (!reports::isSafeReportName(base)) {
        return {};
    }
    return reports::reportFilePath(outDir, base, QStringLiteral("pdf"), [&](const QString& path) {
        const std::vector<ReportIdentity> inFile = reportsInPdf(path);
        return std::equal(inFile.begin(), inFile.end(), reports.begin(), reports.end(), sameReport);
    });
}

PageSource pageSource(std::vector<QSqlRecord> rows, const reports::WorkpieceFields& workpiece,
                      const QString& inspector) {
    std::vector<reports::WorkpieceFields> workpieces(rows.size(), workpiece);
    return pageSource(std::move(rows), std::move(workpieces), inspector);
}

PageSource pageSource(std::vector<QSqlRecord> rows,
                      std::vector<reports::WorkpieceFields> workpieces, const QString& inspector) {
    std::vector<ReportIdentity> ids;
    ids.reserve(rows.size());
    for (const QSqlRecord& r : rows) {
        ids.push_back(reportIdentity(r));
    }
    workpieces.resize(rows.size());
    struct Reports {
        std::vector<QSqlRecord> rows;
        std::vector<reports::WorkpieceFields> workpieces;
    };
    auto shared = std::make_shared<const Reports>(Reports{std::move(rows), std::move(workpieces)});
    return {pdfDocumentInfo(std::move(ids), inspector), [shared, inspector](int index) {
                const auto i = static_cast<std::size_t>(index);
                return makeReportPage(shared->rows.at(i), shared->workpieces.at(i), inspector);
            }};
}

} // namespace ufd::documents

#include "core/documents/report_document.h"

#include "core/accounts/user_accounts.h"
#include "core/archive/report_archive.h"
#include "core/reports/database.h"

#include <QFile>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <algorithm>
#include <map>
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
            const QString element = xml.name().toString();
            const QString text = xml.readElementText();
            ReportIdentity& r = reports.back();
            if (element == QLatin1String("name")) {
                r.name = text;
            } else if (element == QLatin1String("date")) {
                r.date = text;
            } else if (element == QLatin1String("hash")) {
                r.hash = text;
            } else if (element == QLatin1String("archiveId")) {
                r.archiveId = text.toLongLong();
            } else if (element == QLatin1String("revision")) {
                r.revision = text.toInt();
            } else if (element == QLatin1String("recordHash")) {
                r.recordHash = text;
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
    ReportIdentity id;
    id.name = reports::fieldText(row, QStringLiteral("FileName"));
    id.date = reports::fieldText(row, QStringLiteral("FileDate"));
    id.hash = reports::fieldText(row, QStringLiteral("ReportHash"));
    return id;
}

bool sameReport(const ReportIdentity& inFile, const ReportIdentity& report) {
    if (!inFile.hash.isEmpty() && !report.hash.isEmpty()) {
        return inFile.hash == report.hash && inFile.revision == report.revision;
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
        if (!r.recordHash.isEmpty()) {
            // What `ufdtool verify` checks the page against.
            w.writeTextElement(kReportsNs, QStringLiteral("archiveId"),
                               QString::number(r.archiveId));
            w.writeTextElement(kReportsNs, QStringLiteral("revision"), QString::number(r.revision));
            w.writeTextElement(kReportsNs, QStringLiteral("recordHash"), r.recordHash);
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
                      std::vector<reports::WorkpieceFields> workpieces, const QString& inspector,
                      std::vector<std::optional<PageRecord>> records) {
    std::vector<ReportIdentity> ids;
    ids.reserve(rows.size());
    for (const QSqlRecord& r : rows) {
        ids.push_back(reportIdentity(r));
    }
    workpieces.resize(rows.size());
    records.resize(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (const auto& r = records[i]) {
            ids[i].hash = r->record.reportHash;
            ids[i].archiveId = r->record.archiveId;
            ids[i].revision = r->record.revision;
            ids[i].recordHash = r->record.hash();
        }
    }
    struct Reports {
        std::vector<QSqlRecord> rows;
        std::vector<reports::WorkpieceFields> workpieces;
        std::vector<std::optional<PageRecord>> records;
    };
    auto shared = std::make_shared<const Reports>(
        Reports{std::move(rows), std::move(workpieces), std::move(records)});
    return {pdfDocumentInfo(std::move(ids), inspector), [shared, inspector](int index) {
                const auto i = static_cast<std::size_t>(index);
                return makeReportPage(shared->rows.at(i), shared->workpieces.at(i), inspector,
                                      shared->records.at(i));
            }};
}

std::optional<std::vector<ArchivedPage>> archivedPages(reports::DataStore& store,
                                                       const QList<qint64>& ids, QString& error) {
    archive::ReportArchive archive(store.archiveDb());
    archive::ReportRecords records(store.archiveDb());
    app::UserAccounts users(store.userDb());
    std::map<QString, reports::WorkpieceDetails> workpieces; // each looked up once
    std::map<QString, QString> levels;
    std::vector<ArchivedPage> pages;
    for (const qint64 id : ids) {
        const auto report = archive.fetch(id);
        const auto record = report ? records.record(id) : std::nullopt;
        if (!report || !record) {
            error = !archive.lastError().isEmpty()   ? archive.lastError()
                    : !records.lastError().isEmpty() ? records.lastError()
                    : report ? QStringLiteral("The archive holds no record of report %1.").arg(id)
                             : QStringLiteral("The archive holds no report %1.").arg(id);
            return std::nullopt;
        }
        ArchivedPage page{report->row, {}, {*record, {}}};
        page.workpiece.number = report->entry.workpiece;
        if (!page.workpiece.number.isEmpty()) {
            auto found = workpieces.find(page.workpiece.number);
            if (found == workpieces.end()) {
                found = workpieces
                            .emplace(page.workpiece.number,
                                     store.workpieceDetails(page.workpiece.number)
                                         .value_or(reports::WorkpieceDetails{}))
                            .first;
            }
            page.workpiece.details = found->second;
        }
        page.workpiece.location = record->value(QLatin1String(archive::kLocation));
        auto level = levels.find(record->examiner);
        if (level == levels.end()) {
            level =
                levels.emplace(record->examiner, users.level(record->examiner).value_or(QString()))
                    .first;
        }
        page.record.qualification = level->second;
        pages.push_back(std::move(page));
    }
    return pages;
}

std::optional<PageRecord> archivedRecord(reports::DataStore& store, const QSqlRecord& row) {
    const QString hash = reports::fieldText(row, QStringLiteral("ReportHash"));
    if (hash.isEmpty()) {
        return std::nullopt;
    }
    auto record = archive::ReportRecords(store.archiveDb()).recordByHash(hash);
    if (!record) {
        return std::nullopt;
    }
    return PageRecord{
        *record, app::UserAccounts(store.userDb()).level(record->examiner).value_or(QString())};
}

QString documentLocation(const std::optional<PageRecord>& record, const QString& stationLocation) {
    return record ? record->record.value(QLatin1String(archive::kLocation)) : stationLocation;
}

PageSource pageSource(std::vector<ArchivedPage> pages) {
    std::vector<QSqlRecord> rows;
    std::vector<reports::WorkpieceFields> workpieces;
    std::vector<std::optional<PageRecord>> records;
    for (ArchivedPage& p : pages) {
        rows.push_back(std::move(p.row));
        workpieces.push_back(std::move(p.workpiece));
        records.emplace_back(std::move(p.record));
    }
    return pageSource(std::move(rows), std::move(workpieces), QString(), std::move(records));
}

} // namespace ufd::documents

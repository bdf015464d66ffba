// The zip package, its parts and relationships, and the XML token plumbing.
#include "core/spreadsheet/xlsx_package.h"

#include <QBuffer>
#include <QDir>
#include <quazip.h>
#include <quazipfile.h>
#include <quazipnewinfo.h>

namespace ufd::reports::detail {

namespace {

// Nothing in a spreadsheet template comes near this; larger entries are taken as damage.
constexpr qint64 kMaxEntryBytes = 64 * 1024 * 1024;
constexpr qint64 kMaxPackageBytes = 256 * 1024 * 1024;

QString partFolder(const QString& part) {
    const qsizetype slash = part.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : part.left(slash);
}

} // namespace

QString damaged(const QString& what) {
    return QStringLiteral("The spreadsheet template is damaged: %1").arg(what);
}

std::optional<std::vector<ZipEntry>> readZip(const QByteArray& bytes, QString& error) {
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    QuaZip zip(&buffer);
    zip.setUtf8Enabled(true);
    if (!zip.open(QuaZip::mdUnzip)) {
        error = damaged(QStringLiteral("it is not a zip package"));
        return std::nullopt;
    }
    std::vector<ZipEntry> entries;
    qint64 total = 0;
    for (bool more = zip.goToFirstFile(); more; more = zip.goToNextFile()) {
        QuaZipFileInfo64 info;
        if (!zip.getCurrentFileInfo(&info)) {
            error = damaged(QStringLiteral("unreadable directory"));
            return std::nullopt;
        }
        ZipEntry e{info.name, info.dateTime, {}};
        if (!e.name.endsWith(QLatin1Char('/'))) {
            QuaZipFile file(&zip);
            if (!file.open(QIODevice::ReadOnly)) {
                error = damaged(QStringLiteral("cannot open %1").arg(e.name));
                return std::nullopt;
            }
            char chunk[65536];
            for (;;) {
                const qint64 n = file.read(chunk, sizeof chunk);
                if (n < 0) {
                    error = damaged(QStringLiteral("cannot read %1").arg(e.name));
                    return std::nullopt;
                }
                if (n == 0) {
                    break;
                }
                total += n;
                if (e.data.size() + n > kMaxEntryBytes || total > kMaxPackageBytes) {
                    error = damaged(QStringLiteral("%1 is too large").arg(e.name));
                    return std::nullopt;
                }
                e.data.append(chunk, static_cast<qsizetype>(n));
            }
            file.close();
            if (file.getZipError() != UNZ_OK) {
                error = damaged(QStringLiteral("%1 fails its checksum").arg(e.name));
                return std::nullopt;
            }
        }
        entries.push_back(std::move(e));
    }
    if (zip.getZipError() != UNZ_OK) {
        error = damaged(QStringLiteral("unreadable directory"));
        return std::nullopt;
    }
    return entries;
}

bool writeZip(const std::vector<ZipEntry>& entries, QByteArray& out, QString& error) {
    QBuffer buffer(&out);
    QuaZip zip(&buffer);
    zip.setUtf8Enabled(true);
    if (!zip.open(QuaZip::mdCreate)) {
        error = QStringLiteral("Cannot create the spreadsheet package");
        return false;
    }
    for (const ZipEntry& e : entries) {
        QuaZipNewInfo info(e.name);
        info.dateTime = e.time.isValid() ? e.time : QDateTime::currentDateTime();
        QuaZipFile file(&zip);
        if (!file.open(QIODevice::WriteOnly, info) || file.write(e.data) != e.data.size()) {
            error = QStringLiteral("Cannot write %1 into the spreadsheet package").arg(e.name);
            return false;
        }
        file.close();
        if (file.getZipError() != ZIP_OK) {
            error = QStringLiteral("Cannot write %1 into the spreadsheet package").arg(e.name);
            return false;
        }
    }
    zip.close();
    if (zip.getZipError() != ZIP_OK) {
        error = QStringLiteral("Cannot finish the spreadsheet package");
        return false;
    }
    return true;
}

ZipEntry* findEntry(std::vector<ZipEntry>& entries, const QString& name) {
    for (ZipEntry& e : entries) {
        if (e.name.compare(name, Qt::CaseInsensitive) == 0) {
            return &e;
        }
    }
    return nullptr;
}

QString relsOf(const QString& part) {
    const QString folder = partFolder(part);
    const QString file = part.mid(folder.isEmpty() ? 0 : folder.size() + 1);
    return (folder.isEmpty() ? QString() : folder + QLatin1Char('/')) + QStringLiteral("_rels/") +
           file + QStringLiteral(".rels");
}

QString resolveTarget(const QString& owner, const QString& target) {
    if (target.startsWith(QLatin1Char('/'))) {
        return QDir::cleanPath(target.mid(1));
    }
    const QString folder = partFolder(owner);
    return QDir::cleanPath(folder.isEmpty() ? target : folder + QLatin1Char('/') + target);
}

std::vector<Relationship> readRelationships(const QByteArray& xml) {
    std::vector<Relationship> rels;
    QXmlStreamReader r(xml);
    while (!r.atEnd() && !r.hasError()) {
        r.readNext();
        if (r.isStartElement() && r.name() == QLatin1String("Relationship")) {
            const auto a = r.attributes();
            rels.push_back({a.value(QLatin1String("Id")).toString(),
                            a.value(QLatin1String("Type")).toString(),
                            a.value(QLatin1String("Target")).toString(),
                            a.value(QLatin1String("TargetMode")) == QLatin1String("External")});
        }
    }
    return rels;
}

// ---- XML tokens ----

void writeStart(QXmlStreamWriter& w, const QString& name, const QXmlStreamAttributes& attrs,
                const QXmlStreamNamespaceDeclarations& ns) {
    // Qualified names and declarations are written as they came, so every prefix stays.
    w.writeStartElement(name);
    for (const auto& d : ns) {
        w.writeAttribute(d.prefix().isEmpty() ? QStringLiteral("xmlns")
                                              : QStringLiteral("xmlns:") + d.prefix().toString(),
                         d.namespaceUri().toString());
    }
    for (const auto& a : attrs) {
        w.writeAttribute(a.qualifiedName().toString(), a.value().toString());
    }
}

Token Token::from(const QXmlStreamReader& r) {
    Token t;
    t.type = r.tokenType();
    switch (t.type) {
    case QXmlStreamReader::StartElement:
        t.name = r.qualifiedName().toString();
        t.local = r.name().toString();
        t.attrs = r.attributes();
        t.ns = r.namespaceDeclarations();
        break;
    case QXmlStreamReader::Characters:
        t.text = r.text().toString();
        t.cdata = r.isCDATA();
        break;
    case QXmlStreamReader::Comment:
    case QXmlStreamReader::DTD:
        t.text = r.text().toString();
        break;
    case QXmlStreamReader::EntityReference:
        t.name = r.name().toString();
        break;
    case QXmlStreamReader::ProcessingInstruction:
        t.name = r.processingInstructionTarget().toString();
        t.text = r.processingInstructionData().toString();
        break;
    default:
        break;
    }
    return t;
}

void Token::write(QXmlStreamWriter& w) const {
    switch (type) {
    case QXmlStreamReader::StartElement:
        writeStart(w, name, attrs, ns);
        break;
    case QXmlStreamReader::EndElement:
        w.writeEndElement();
        break;
    case QXmlStreamReader::Characters:
        cdata ? w.writeCDATA(text) : w.writeCharacters(text);
        break;
    case QXmlStreamReader::Comment:
        w.writeComment(text);
        break;
    case QXmlStreamReader::DTD:
        w.writeDTD(text);
        break;
    case QXmlStreamReader::EntityReference:
        w.writeEntityReference(name);
        break;
    case QXmlStreamReader::ProcessingInstruction:
        w.writeProcessingInstruction(name, text);
        break;
    default:
        break;
    }
}

void startDocument(const QXmlStreamReader& r, QXmlStreamWriter& w) {
    const QString version =
        r.documentVersion().isEmpty() ? QStringLiteral("1.0") : r.documentVersion().toString();
    if (r.isStandaloneDocument()) {
        w.writeStartDocument(version, true);
    } else {
        w.writeStartDocument(version);
    }
}

void captureElement(QXmlStreamReader& r, std::vector<Token>& out) {
    int depth = 0;
    do {
        if (r.isStartElement()) {
            ++depth;
        } else if (r.isEndElement()) {
            --depth;
        }
        out.push_back(Token::from(r));
    } while (depth > 0 && !r.atEnd() && (r.readNext(), true) && !r.hasError());
}

QString xmlError(const QXmlStreamReader& r, const QString& part) {
    return damaged(
        QStringLiteral("%1, line %2: %3").arg(part).arg(r.lineNumber()).arg(r.errorString()));
}

QString prefixOf(const QString& qualifiedName) {
    const qsizetype colon = qualifiedName.indexOf(QLatin1Char(':'));
    return colon < 0 ? QString() : qualifiedName.left(colon + 1);
}

} // namespace ufd::reports::detail

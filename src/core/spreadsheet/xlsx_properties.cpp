// The workbook's custom document properties.
#include "core/spreadsheet/xlsx_template.h"

#include "core/spreadsheet/xlsx_package.h"

#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <algorithm>

namespace ufd::reports::detail {

namespace {

constexpr QLatin1String kRelTypeSuffixCustomProperties("/custom-properties");
constexpr QLatin1String kRelTypeCustomProperties(
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/custom-properties");
constexpr QLatin1String kCustomPropertiesNamespace(
    "http://schemas.openxmlformats.org/officeDocument/2006/custom-properties");
constexpr QLatin1String kCustomPropertiesContentType(
    "application/vnd.openxmlformats-officedocument.custom-properties+xml");
constexpr QLatin1String
    kVariantTypesNamespace("http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes");
// The format id every user-defined document property carries.
constexpr QLatin1String kUserPropertyFormat("{D5CDD505-2E9C-101B-9397-08002B2CF9AE}");

// Copies an XML part, dropping the root's children that `drop` picks and letting `append` write
// more children at the end of the root (it is given the root's prefix).
template <typename Drop, typename Append>
std::optional<QByteArray> rewriteRoot(const QByteArray& in, const QString& part, Drop drop,
                                      Append append, QString& error) {
    int depth = 0;
    QString prefix;
    return copyXml(
        in, part,
        [&](QXmlStreamReader&, QXmlStreamWriter&, Token& t) {
            if (depth == 0) {
                prefix = prefixOf(t.name);
            } else if (depth == 1 && drop(t)) {
                return XmlStep::Drop;
            }
            ++depth;
            return XmlStep::Copy;
        },
        [&](QXmlStreamWriter& w) {
            if (--depth == 0) {
                append(w, prefix);
            }
        },
        error);
}

QString relationshipId(const std::vector<Relationship>& rels) {
    for (int n = 1;; ++n) {
        const QString id = QStringLiteral("rId%1").arg(n);
        if (std::none_of(rels.begin(), rels.end(),
                         [&](const Relationship& rel) { return rel.id == id; })) {
            return id;
        }
    }
}

void writeProperty(QXmlStreamWriter& w, const QString& prefix, int pid, const QString& name,
                   const QString& value) {
    QXmlStreamAttributes attrs;
    attrs.append(QStringLiteral("fmtid"), kUserPropertyFormat);
    attrs.append(QStringLiteral("pid"), QString::number(pid));
    attrs.append(QStringLiteral("name"), xmlSafe(name));
    writeStart(w, prefix + QStringLiteral("property"), attrs);
    QXmlStreamNamespaceDeclarations vt;
    vt.append(QXmlStreamNamespaceDeclaration(QStringLiteral("vt"), kVariantTypesNamespace));
    writeStart(w, QStringLiteral("vt:lpwstr"), {}, vt);
    w.writeCharacters(xmlSafe(value));
    w.writeEndElement();
    w.writeEndElement();
}

// The package's custom properties part. A relationship that names no part, or a part that is
// something else (the workbook, say), is no properties part: writing ours into it would damage it.
QString customPropertiesPart(std::vector<ZipEntry>& entries) {
    const auto isProperties = [&entries](const QString& part) {
        const ZipEntry* e = findEntry(entries, part);
        if (e == nullptr) {
            return true;
        }
        QXmlStreamReader r(e->data);
        return r.readNextStartElement() && r.name() == QLatin1String("Properties");
    };
    if (const ZipEntry* root = findEntry(entries, QStringLiteral("_rels/.rels"))) {
        for (const Relationship& rel : readRelationships(root->data)) {
            if (!rel.type.endsWith(kRelTypeSuffixCustomProperties) || rel.external) {
                continue;
            }
            const QString part = resolveTarget(QString(), rel.target);
            if (!part.isEmpty() && part != QLatin1String(".") && isProperties(part)) {
                return part;
            }
        }
    }
    return {};
}

} // namespace

bool setCustomProperties(std::vector<ZipEntry>& entries,
                         const std::vector<std::pair<QString, QString>>& properties,
                         QString& error) {
    if (properties.empty()) {
        return true;
    }
    const auto ours = [&](const QString& name) {
        return std::any_of(properties.begin(), properties.end(),
                           [&](const auto& p) { return p.first == name; });
    };
    QString part = customPropertiesPart(entries);
    const bool linked = !part.isEmpty();
    if (!linked) {
        part = QStringLiteral("docProps/custom.xml");
        for (int n = 2; findEntry(entries, part) != nullptr; ++n) {
            part = QStringLiteral("docProps/custom%1.xml").arg(n);
        }
    }
    if (ZipEntry* existing = findEntry(entries, part)) {
        int pid = 1; // user properties are numbered from 2
        QXmlStreamReader scan(existing->data);
        while (!scan.atEnd()) {
            if (scan.readNext() == QXmlStreamReader::StartElement &&
                scan.name() == QLatin1String("property")) {
                pid = std::max(pid, scan.attributes().value(QLatin1String("pid")).toInt());
            }
        }
        auto xml = rewriteRoot(
            existing->data, part,
            [&](const Token& t) {
                return t.local == QLatin1String("property") &&
                       ours(t.attrs.value(QLatin1String("name")).toString());
            },
            [&](QXmlStreamWriter& w, const QString& prefix) {
                for (const auto& [name, value] : properties) {
                    if (!value.isNull()) {
                        writeProperty(w, prefix, ++pid, name, value);
                    }
                }
            },
            error);
        if (!xml) {
            return false;
        }
        existing->data = std::move(*xml);
    } else {
        QByteArray xml;
        QXmlStreamWriter doc(&xml);
        doc.writeStartDocument(QStringLiteral("1.0"), true);
        QXmlStreamNamespaceDeclarations ns;
        ns.append(QXmlStreamNamespaceDeclaration(QString(), kCustomPropertiesNamespace));
        writeStart(doc, QStringLiteral("Properties"), {}, ns);
        int pid = 1;
        for (const auto& [name, value] : properties) {
            if (!value.isNull()) {
                writeProperty(doc, QString(), ++pid, name, value);
            }
        }
        doc.writeEndDocument();
        entries.push_back({part, QDateTime(), xml});

        ZipEntry* types = findEntry(entries, QStringLiteral("[Content_Types].xml"));
        if (types == nullptr) {
            error = damaged(QStringLiteral("no content types"));
            return false;
        }
        const QString partName = QLatin1Char('/') + part;
        auto typesXml = rewriteRoot(
            types->data, types->name,
            [&](const Token& t) {
                return t.local == QLatin1String("Override") &&
                       t.attrs.value(QLatin1String("PartName"))
                               .compare(partName, Qt::CaseInsensitive) == 0;
            },
            [&](QXmlStreamWriter& w, const QString& prefix) {
                QXmlStreamAttributes attrs;
                attrs.append(QStringLiteral("PartName"), partName);
                attrs.append(QStringLiteral("ContentType"), kCustomPropertiesContentType);
                writeStart(w, prefix + QStringLiteral("Override"), attrs);
                w.writeEndElement();
            },
            error);
        if (!typesXml) {
            return false;
        }
        types->data = std::move(*typesXml);
    }
    if (!linked) {
        ZipEntry* root = findEntry(entries, QStringLiteral("_rels/.rels"));
        if (root == nullptr) {
            error = damaged(QStringLiteral("no package relationships"));
            return false;
        }
        const QString id = relationshipId(readRelationships(root->data));
        auto relsXml = rewriteRoot(
            root->data, root->name, [](const Token&) { return false; },
            [&](QXmlStreamWriter& w, const QString& prefix) {
                QXmlStreamAttributes attrs;
                attrs.append(QStringLiteral("Id"), id);
                attrs.append(QStringLiteral("Type"), kRelTypeCustomProperties);
                attrs.append(QStringLiteral("Target"), part);
                writeStart(w, prefix + QStringLiteral("Relationship"), attrs);
                w.writeEndElement();
            },
            error);
        if (!relsXml) {
            return false;
        }
        root->data = std::move(*relsXml);
    }
    return true;
}

} // namespace ufd::reports::detail

namespace ufd::reports {

using namespace detail;

QString modifiedStamp(const QByteArray& xlsx) {
    QString error;
    auto entries = readZip(xlsx, error);
    if (!entries) {
        return {};
    }
    const ZipEntry* core = findEntry(*entries, QStringLiteral("docProps/core.xml"));
    if (core == nullptr) {
        return {};
    }
    QXmlStreamReader r(core->data);
    while (!r.atEnd() && !r.hasError()) {
        if (r.readNext() == QXmlStreamReader::StartElement &&
            r.namespaceUri() == QLatin1String("http://purl.org/dc/terms/") &&
            r.name() == QLatin1String("modified")) {
            return r.readElementText().trimmed();
        }
    }
    return {};
}

std::map<QString, QString> customProperties(const QByteArray& xlsx) {
    std::map<QString, QString> properties;
    QString error;
    auto entries = readZip(xlsx, error);
    if (!entries) {
        return properties;
    }
    const QString part = customPropertiesPart(*entries);
    const ZipEntry* custom = part.isEmpty() ? nullptr : findEntry(*entries, part);
    if (custom == nullptr) {
        return properties;
    }
    QXmlStreamReader r(custom->data);
    while (!r.atEnd() && !r.hasError()) {
        if (r.readNext() != QXmlStreamReader::StartElement ||
            r.name() != QLatin1String("property")) {
            continue;
        }
        const QString name = r.attributes().value(QLatin1String("name")).toString();
        while (r.readNextStartElement()) {
            const auto type = r.name();
            if (type == QLatin1String("lpwstr") || type == QLatin1String("lpstr") ||
                type == QLatin1String("bstr")) {
                // A value with markup inside still ends where it ends; the rest is read on.
                properties[name] = r.readElementText(QXmlStreamReader::IncludeChildElements);
            } else {
                r.skipCurrentElement();
            }
        }
    }
    return properties;
}

} // namespace ufd::reports

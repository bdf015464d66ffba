// Internal to the .xlsx template filler: the zip package, its parts and relationships, the XML
// token plumbing, and the few helpers its files share.
#pragma once

#include "core/spreadsheet/xlsx_template.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringView>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <optional>
#include <utility>
#include <vector>

namespace ufd::reports::detail {

// ---- package ----

struct ZipEntry {
    QString name;
    QDateTime time;
    QByteArray data;
};

QString damaged(const QString& what);

std::optional<std::vector<ZipEntry>> readZip(const QByteArray& bytes, QString& error);
bool writeZip(const std::vector<ZipEntry>& entries, QByteArray& out, QString& error);

// Part names are case-insensitive in a package.
ZipEntry* findEntry(std::vector<ZipEntry>& entries, const QString& name);

QString relsOf(const QString& part);

// A relationship target resolved to a part name, relative to the part that owns the rels.
QString resolveTarget(const QString& owner, const QString& target);

struct Relationship {
    QString id, type, target;
    bool external = false;
};

std::vector<Relationship> readRelationships(const QByteArray& xml);

// ---- XML tokens ----

void writeStart(QXmlStreamWriter& w, const QString& name, const QXmlStreamAttributes& attrs,
                const QXmlStreamNamespaceDeclarations& ns = {});

struct Token {
    QXmlStreamReader::TokenType type = QXmlStreamReader::NoToken;
    QString name; // qualified name, or the processing instruction's target
    QString local;
    QXmlStreamAttributes attrs;
    QXmlStreamNamespaceDeclarations ns;
    QString text;
    bool cdata = false;

    static Token from(const QXmlStreamReader& r);
    void write(QXmlStreamWriter& w) const;
};

void startDocument(const QXmlStreamReader& r, QXmlStreamWriter& w);

// Appends the element the reader stands on, with everything inside it, to `out`.
void captureElement(QXmlStreamReader& r, std::vector<Token>& out);

QString xmlError(const QXmlStreamReader& r, const QString& part);

QString prefixOf(const QString& qualifiedName);

// What a start-element hook of copyXml did with the element the reader stands on.
enum class XmlStep {
    Copy,   // write it (with the attributes as the hook left them) and go on inside it
    Drop,   // leave it out, with everything inside it
    Written // the hook wrote it, with everything inside it, itself
};

// Copies an XML part token by token. `onStart(r, w, t)` sees each start element before it is
// written; `onEnd(w)` runs before each end element of the source is written.
template <typename OnStart, typename OnEnd>
std::optional<QByteArray> copyXml(const QByteArray& in, const QString& part, OnStart onStart,
                                  OnEnd onEnd, QString& error) {
    QXmlStreamReader r(in);
    QByteArray out;
    QXmlStreamWriter w(&out);
    while (!r.atEnd()) {
        r.readNext();
        if (r.hasError()) {
            break;
        }
        if (r.isStartDocument()) {
            startDocument(r, w);
        } else if (r.isEndDocument()) {
            w.writeEndDocument();
        } else if (r.isStartElement()) {
            Token t = Token::from(r);
            switch (onStart(r, w, t)) {
            case XmlStep::Copy:
                t.write(w);
                break;
            case XmlStep::Drop:
                r.skipCurrentElement();
                break;
            case XmlStep::Written:
                break;
            }
        } else if (r.isEndElement()) {
            onEnd(w);
            w.writeEndElement();
        } else {
            Token::from(r).write(w);
        }
    }
    if (r.hasError()) {
        error = xmlError(r, part);
        return std::nullopt;
    }
    return out;
}

// ---- cells (xlsx_template.cpp) ----

struct CellPos {
    int row = 0;
    int column = 0;
};

std::optional<CellPos> parseReference(QStringView ref);

// Characters XML 1.0 cannot carry are dropped; they have no printed form anyway.
QString xmlSafe(const QString& s);

QString shortestNumber(double v);

// ---- custom properties (xlsx_properties.cpp) ----

// Sets the properties in the package's custom properties part, made when there is none.
bool setCustomProperties(std::vector<ZipEntry>& entries,
                         const std::vector<std::pair<QString, QString>>& properties,
                         QString& error);

// ---- chart scaling (xlsx_chart.cpp) ----

// Sets the path and amplitude axes of the chart's scatter plots whose X values are the sample
// path column; a chart without one comes back unchanged.
std::optional<QByteArray> scaleSampleChart(const QByteArray& xml, const QString& part,
                                           const QString& sheet, const SampleChartScale& scale,
                                           QString& error);

// The charts drawn on a worksheet, through its drawings.
std::vector<QString> chartsOf(std::vector<ZipEntry>& entries, const QString& sheetPart);

} // namespace ufd::reports::detail

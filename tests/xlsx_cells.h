#pragma once
// Reads the cells of a written workbook's first sheet back, independently of the writer.

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QXmlStreamReader>
#include <map>
#include <quazip.h>
#include <quazipfile.h>
#include <utility>

namespace ufd::testing {

struct XlsxCell {
    QString type; // "" number, "s" shared string, "inlineStr"
    QString value;
};
using XlsxCells = std::map<std::pair<int, int>, XlsxCell>; // (row, column) from 1

inline std::map<QString, QByteArray> unzipParts(QByteArray bytes) {
    std::map<QString, QByteArray> parts;
    QBuffer buffer(&bytes);
    QuaZip zip(&buffer);
    if (!zip.open(QuaZip::mdUnzip)) {
        return parts;
    }
    for (bool more = zip.goToFirstFile(); more; more = zip.goToNextFile()) {
        QuaZipFile f(&zip);
        f.open(QIODevice::ReadOnly);
        parts[zip.getCurrentFileName()] = f.readAll();
    }
    return parts;
}

inline std::pair<int, int> cellPosition(const QString& ref) {
    int col = 0;
    int i = 0;
    while (i < ref.size() && ref[i].isLetter()) {
        col = col * 26 + (ref[i].unicode() - 'A' + 1);
        ++i;
    }
    return {ref.mid(i).toInt(), col};
}

// The cells of xl/worksheets/sheet1.xml, shared strings resolved. Empty when it is no workbook.
inline XlsxCells readXlsxCells(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const auto parts = unzipParts(file.readAll());
    const auto sheet = parts.find(QStringLiteral("xl/worksheets/sheet1.xml"));
    if (sheet == parts.end()) {
        return {};
    }
    QStringList shared;
    if (const auto s = parts.find(QStringLiteral("xl/sharedStrings.xml")); s != parts.end()) {
        QXmlStreamReader r(s->second);
        while (!r.atEnd()) {
            if (r.readNext() == QXmlStreamReader::StartElement && r.name() == u"t") {
                shared << r.readElementText();
            }
        }
    }
    XlsxCells cells;
    QXmlStreamReader r(sheet->second);
    std::pair<int, int> at;
    while (!r.atEnd()) {
        r.readNext();
        if (!r.isStartElement()) {
            continue;
        }
        if (r.name() == u"c") {
            at = cellPosition(r.attributes().value(QStringLiteral("r")).toString());
            cells[at] = {r.attributes().value(QStringLiteral("t")).toString(), {}};
        } else if (r.name() == u"v" || r.name() == u"t") {
            XlsxCell& c = cells[at];
            c.value = r.readElementText();
            if (c.type == QLatin1String("s")) {
                c.value = shared.value(c.value.toInt());
            }
        }
    }
    return cells;
}

inline QString cellText(const XlsxCells& cells, int row, int column) {
    const auto it = cells.find({row, column});
    return it == cells.end() ? QString() : it->second.value;
}

inline bool cellIsNumber(const XlsxCells& cells, int row, int column) {
    const auto it = cells.find({row, column});
    return it != cells.end() && it->second.type.isEmpty() && !it->second.value.isEmpty();
}

} // namespace ufd::testing

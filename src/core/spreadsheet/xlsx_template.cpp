// The cells and the first sheet's filling, and the public entry points that fill a template.
#include "core/spreadsheet/xlsx_template.h"

#include "core/spreadsheet/xlsx_package.h"

#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <optional>

namespace ufd::reports::detail {

namespace {

constexpr int kMaxRow = 1048576;
constexpr int kMaxColumn = 16384;

} // namespace

std::optional<CellPos> parseReference(QStringView ref) {
    CellPos p;
    qsizetype i = 0;
    while (i < ref.size() && ref[i].isLetter() && ref[i].unicode() < 128) {
        p.column = p.column * 26 + (ref[i].toUpper().unicode() - 'A' + 1);
        if (p.column > kMaxColumn) {
            return std::nullopt;
        }
        ++i;
    }
    const qsizetype digits = i;
    while (i < ref.size() && ref[i].isDigit() && ref[i].unicode() < 128) {
        p.row = p.row * 10 + (ref[i].unicode() - '0');
        if (p.row > kMaxRow) {
            return std::nullopt;
        }
        ++i;
    }
    if (i != ref.size() || digits == 0 || digits == i || p.row == 0) {
        return std::nullopt;
    }
    return p;
}

QString xmlSafe(const QString& s) {
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        const char16_t c = s[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < s.size() && s[i + 1].isLowSurrogate()) {
            out.append(s[i]);
            out.append(s[++i]);
            continue;
        }
        const bool ok = c == 0x09 || c == 0x0A || c == 0x0D || (c >= 0x20 && c < 0xD800) ||
                        (c >= 0xE000 && c < 0xFFFE);
        if (ok) {
            out.append(s[i]);
        }
    }
    return out;
}

QString shortestNumber(double v) {
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    return QString::fromLatin1(buf, static_cast<qsizetype>(res.ptr - buf));
}

namespace {

struct Box {
    int top = kMaxRow + 1, left = kMaxColumn + 1, bottom = 0, right = 0;
    void add(const CellPos& p) {
        top = std::min(top, p.row);
        left = std::min(left, p.column);
        bottom = std::max(bottom, p.row);
        right = std::max(right, p.column);
    }
    bool empty() const { return bottom == 0; }
    QString text() const {
        const QString a = cellReference(top, left);
        const QString b = cellReference(bottom, right);
        return a == b ? a : a + QLatin1Char(':') + b;
    }
};

struct CellXml {
    QXmlStreamAttributes attrs; // without r
    std::vector<Token> inner;   // content between <c> and </c>
};

struct RowXml {
    QXmlStreamAttributes attrs; // without r
    QXmlStreamNamespaceDeclarations ns;
    std::map<int, CellXml> cells;
    std::vector<Token> extra; // non-cell children (extLst)
    bool touched = false;
};

struct ColumnStyle {
    int min = 0, max = 0;
    QString style;
};

bool isTrue(QStringView v) {
    return v == QLatin1String("1") || v == QLatin1String("true");
}

QXmlStreamAttributes without(const QXmlStreamAttributes& attrs, QStringView name) {
    QXmlStreamAttributes kept;
    for (const auto& a : attrs) {
        if (a.qualifiedName() != name) {
            kept.append(a);
        }
    }
    return kept;
}

void setAttribute(QXmlStreamAttributes& attrs, const QString& name, const QString& value) {
    attrs = without(attrs, name);
    attrs.append(name, value);
}

class SheetPatcher {
public:
    SheetPatcher(const std::vector<SheetCell>& cells) {
        for (const SheetCell& c : cells) {
            wanted_[c.row][c.column] = c.text;
            box_.add({c.row, c.column});
        }
    }

    bool formulaDropped() const { return formulaDropped_; }

    std::optional<QByteArray> run(const QByteArray& in, const QString& part, QString& error) {
        QXmlStreamReader r(in);
        QByteArray out;
        QXmlStreamWriter w(&out);
        bool sawSheetData = false;
        QStringList path;
        while (!r.atEnd()) {
            r.readNext();
            if (r.hasError()) {
                break;
            }
            if (r.isStartDocument()) {
                startDocument(r, w);
                continue;
            }
            if (r.isEndDocument()) {
                w.writeEndDocument();
                continue;
            }
            if (r.isEndElement()) {
                path.removeLast();
                w.writeEndElement();
                continue;
            }
            if (!r.isStartElement()) {
                Token::from(r).write(w);
                continue;
            }
            Token t = Token::from(r);
            const QString parent = path.isEmpty() ? QString() : path.last();
            if (t.local == QLatin1String("sheetData") && path.size() == 1) {
                sawSheetData = true;
                t.write(w);
                const qsizetype colon = t.name.indexOf(QLatin1Char(':'));
                prefix_ = colon < 0 ? QString() : t.name.left(colon + 1);
                if (!readSheetData(r, error)) {
                    return std::nullopt;
                }
                writeSheetData(w);
                w.writeEndElement();
                continue;
            }
            if (t.local == QLatin1String("dimension") && path.size() == 1 && !box_.empty()) {
                Box b = box_;
                const QString ref = t.attrs.value(QLatin1String("ref")).toString();
                for (const QString& corner : ref.split(QLatin1Char(':'))) {
                    if (const auto p = parseReference(corner)) {
                        b.add(*p);
                    }
                }
                setAttribute(t.attrs, QStringLiteral("ref"), b.text());
            }
            if (t.local == QLatin1String("col") && parent == QLatin1String("cols")) {
                const auto& a = t.attrs;
                if (a.hasAttribute(QLatin1String("style"))) {
                    columns_.push_back({a.value(QLatin1String("min")).toInt(),
                                        a.value(QLatin1String("max")).toInt(),
                                        a.value(QLatin1String("style")).toString()});
                }
            }
            path << t.local;
            t.write(w);
        }
        if (r.hasError()) {
            error = xmlError(r, part);
            return std::nullopt;
        }
        if (!sawSheetData) {
            error = damaged(QStringLiteral("%1 has no cell data").arg(part));
            return std::nullopt;
        }
        return out;
    }

private:
    bool readSheetData(QXmlStreamReader& r, QString& error) {
        int lastRow = 0;
        while (!r.atEnd()) {
            r.readNext();
            if (r.hasError()) {
                error = xmlError(r, QStringLiteral("worksheet"));
                return false;
            }
            if (r.isEndElement()) {
                break; // </sheetData>
            }
            if (!r.isStartElement()) {
                continue; // layout whitespace
            }
            if (r.name() != QLatin1String("row")) {
                r.skipCurrentElement();
                continue;
            }
            const auto ref = r.attributes().value(QLatin1String("r"));
            int rowNum = lastRow + 1;
            if (!ref.isEmpty()) {
                bool ok = false;
                rowNum = ref.toInt(&ok);
                if (!ok || rowNum < 1 || rowNum > kMaxRow) {
                    error = damaged(QStringLiteral("row number '%1'").arg(ref.toString()));
                    return false;
                }
            } else if (rowNum > kMaxRow) {
                error = damaged(QStringLiteral("too many rows"));
                return false;
            }
            lastRow = rowNum;
            RowXml& row = rows_[rowNum];
            if (row.attrs.isEmpty()) {
                row.attrs = without(r.attributes(), u"r");
                row.ns = r.namespaceDeclarations();
            }
            if (!readRow(r, rowNum, row, error)) {
                return false;
            }
        }
        return true;
    }

    bool readRow(QXmlStreamReader& r, int rowNum, RowXml& row, QString& error) {
        int lastCol = 0;
        while (!r.atEnd()) {
            r.readNext();
            if (r.hasError()) {
                error = xmlError(r, QStringLiteral("worksheet"));
                return false;
            }
            if (r.isEndElement()) {
                return true; // </row>
            }
            if (!r.isStartElement()) {
                continue;
            }
            if (r.name() != QLatin1String("c")) {
                captureElement(r, row.extra);
                continue;
            }
            const auto ref = r.attributes().value(QLatin1String("r"));
            int col = lastCol + 1;
            if (!ref.isEmpty()) {
                const auto p = parseReference(ref);
                if (!p || p->row != rowNum) {
                    error = damaged(QStringLiteral("cell reference '%1'").arg(ref.toString()));
                    return false;
                }
                col = p->column;
            } else if (col > kMaxColumn) {
                error = damaged(QStringLiteral("too many cells in row %1").arg(rowNum));
                return false;
            }
            lastCol = col;
            CellXml cell;
            cell.attrs = without(r.attributes(), u"r");
            std::vector<Token> tokens;
            captureElement(r, tokens);
            if (r.hasError()) {
                error = xmlError(r, QStringLiteral("worksheet"));
                return false;
            }
            if (tokens.size() >= 2) {
                cell.inner.assign(tokens.begin() + 1, tokens.end() - 1);
            }
            row.cells[col] = std::move(cell);
        }
        return true;
    }

    QString styleForNewCell(int col, const RowXml& row) const {
        if (isTrue(row.attrs.value(QLatin1String("customFormat"))) &&
            row.attrs.hasAttribute(QLatin1String("s"))) {
            return row.attrs.value(QLatin1String("s")).toString();
        }
        for (const ColumnStyle& c : columns_) {
            if (c.min <= col && col <= c.max) {
                return c.style;
            }
        }
        return {};
    }

    Token element(QXmlStreamReader::TokenType type, const QString& local,
                  const QXmlStreamAttributes& attrs = {}) const {
        Token t;
        t.type = type;
        t.name = prefix_ + local;
        t.local = local;
        t.attrs = attrs;
        return t;
    }

    Token text(const QString& s) const {
        Token t;
        t.type = QXmlStreamReader::Characters;
        t.text = s;
        return t;
    }

    void assign(CellXml& cell, const QString& style, const QString& value) const {
        cell.attrs.clear();
        if (!style.isEmpty()) {
            cell.attrs.append(QStringLiteral("s"), style);
        }
        cell.inner.clear();
        if (value.isEmpty()) {
            return;
        }
        bool ok = false;
        const double number = isPlainDecimal(value) ? value.toDouble(&ok) : 0.0;
        if (ok && std::isfinite(number)) {
            cell.inner = {element(QXmlStreamReader::StartElement, QStringLiteral("v")),
                          text(shortestNumber(number)),
                          element(QXmlStreamReader::EndElement, QStringLiteral("v"))};
            return;
        }
        cell.attrs.append(QStringLiteral("t"), QStringLiteral("inlineStr"));
        QXmlStreamAttributes keepBlanks;
        keepBlanks.append(QStringLiteral("xml:space"), QStringLiteral("preserve"));
        cell.inner = {element(QXmlStreamReader::StartElement, QStringLiteral("is")),
                      element(QXmlStreamReader::StartElement, QStringLiteral("t"), keepBlanks),
                      text(xmlSafe(value)),
                      element(QXmlStreamReader::EndElement, QStringLiteral("t")),
                      element(QXmlStreamReader::EndElement, QStringLiteral("is"))};
    }

    void merge() {
        for (const auto& [rowNum, cols] : wanted_) {
            RowXml& row = rows_[rowNum];
            row.touched = true;
            for (const auto& [col, value] : cols) {
                auto it = row.cells.find(col);
                QString style;
                if (it != row.cells.end()) {
                    style = it->second.attrs.value(QLatin1String("s")).toString();
                    for (const Token& t : it->second.inner) {
                        if (t.type == QXmlStreamReader::StartElement &&
                            t.local == QLatin1String("f")) {
                            formulaDropped_ = true;
                        }
                    }
                } else {
                    style = styleForNewCell(col, row);
                }
                assign(row.cells[col], style, value);
            }
        }
    }

    void writeSheetData(QXmlStreamWriter& w) {
        merge();
        for (auto& [rowNum, row] : rows_) {
            QXmlStreamAttributes attrs;
            attrs.append(QStringLiteral("r"), QString::number(rowNum));
            // Spans are only a reading hint; a row that gained cells would make them wrong.
            for (const auto& a : row.touched ? without(row.attrs, u"spans") : row.attrs) {
                attrs.append(a);
            }
            writeStart(w, prefix_ + QStringLiteral("row"), attrs, row.ns);
            for (const auto& [col, cell] : row.cells) {
                QXmlStreamAttributes ca;
                ca.append(QStringLiteral("r"), cellReference(rowNum, col));
                for (const auto& a : cell.attrs) {
                    ca.append(a);
                }
                writeStart(w, prefix_ + QStringLiteral("c"), ca);
                for (const Token& t : cell.inner) {
                    t.write(w);
                }
                w.writeEndElement();
            }
            for (const Token& t : row.extra) {
                t.write(w);
            }
            w.writeEndElement();
        }
    }

    std::map<int, std::map<int, QString>> wanted_;
    Box box_;
    std::map<int, RowXml> rows_;
    std::vector<ColumnStyle> columns_;
    QString prefix_;
    bool formulaDropped_ = false;
};

constexpr QLatin1String kRelTypeSuffixOffice("/officeDocument");
constexpr QLatin1String kRelTypeSuffixCalcChain("/calcChain");

// Copies an XML part; `onStart` sees each start element, may change its attributes and returns
// false to drop the element with its content.
template <typename OnStart>
std::optional<QByteArray> transformXml(const QByteArray& in, const QString& part, OnStart onStart,
                                       QString& error) {
    return copyXml(
        in, part,
        [&](QXmlStreamReader&, QXmlStreamWriter&, Token& t) {
            return onStart(t) ? XmlStep::Copy : XmlStep::Drop;
        },
        [](QXmlStreamWriter&) {}, error);
}

} // namespace

} // namespace ufd::reports::detail

namespace ufd::reports {

using namespace detail;

QString cellReference(int row, int column) {
    QString letters;
    for (int c = column; c > 0; c = (c - 1) / 26) {
        letters.prepend(QChar(static_cast<char16_t>('A' + (c - 1) % 26)));
    }
    return letters + QString::number(row);
}

bool isPlainDecimal(QStringView text) {
    qsizetype i = 0;
    if (i < text.size() && text[i] == QLatin1Char('-')) {
        ++i;
    }
    const auto digits = [&] {
        const qsizetype from = i;
        while (i < text.size() && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9')) {
            ++i;
        }
        return i - from;
    };
    if (digits() == 0) {
        return false;
    }
    if (i < text.size() && text[i] == QLatin1Char('.')) {
        ++i;
        if (digits() == 0) {
            return false;
        }
    }
    return i == text.size();
}

XlsxFillResult fillFirstSheet(const QByteArray& xlsx, const std::vector<SheetCell>& cells,
                              const WorkbookExtras& extras) {
    XlsxFillResult result;
    QString& error = result.error;
    for (const SheetCell& c : cells) {
        if (c.row < 1 || c.row > kMaxRow || c.column < 1 || c.column > kMaxColumn) {
            error =
                QStringLiteral("Cell (%1, %2) lies outside a worksheet").arg(c.row).arg(c.column);
            return result;
        }
    }
    auto entries = readZip(xlsx, error);
    if (!entries) {
        return result;
    }

    // The workbook part, its relationships and the first sheet in tab order.
    QString workbook = QStringLiteral("xl/workbook.xml");
    if (const ZipEntry* root = findEntry(*entries, QStringLiteral("_rels/.rels"))) {
        for (const Relationship& rel : readRelationships(root->data)) {
            if (rel.type.endsWith(kRelTypeSuffixOffice) && !rel.external) {
                workbook = resolveTarget(QString(), rel.target);
                break;
            }
        }
    }
    const ZipEntry* wb = findEntry(*entries, workbook);
    const QString wbRelsName = relsOf(workbook);
    ZipEntry* wbRels = findEntry(*entries, wbRelsName);
    if (wb == nullptr || wbRels == nullptr) {
        error = damaged(QStringLiteral("no workbook"));
        return result;
    }
    QString firstSheetId;
    QString firstSheetName;
    {
        QXmlStreamReader r(wb->data);
        while (!r.atEnd() && firstSheetId.isEmpty()) {
            r.readNext();
            if (r.isStartElement() && r.name() == QLatin1String("sheet")) {
                for (const auto& a : r.attributes()) {
                    if (a.name() == QLatin1String("id") && !a.namespaceUri().isEmpty()) {
                        firstSheetId = a.value().toString();
                    }
                }
                firstSheetName = r.attributes().value(QLatin1String("name")).toString();
                if (firstSheetId.isEmpty()) {
                    break;
                }
            }
        }
    }
    const std::vector<Relationship> rels = readRelationships(wbRels->data);
    QString sheetPart;
    QString calcChainPart;
    for (const Relationship& rel : rels) {
        if (rel.id == firstSheetId && !rel.external) {
            sheetPart = resolveTarget(workbook, rel.target);
        }
        if (rel.type.endsWith(kRelTypeSuffixCalcChain)) {
            calcChainPart = resolveTarget(workbook, rel.target);
        }
    }
    ZipEntry* sheet = sheetPart.isEmpty() ? nullptr : findEntry(*entries, sheetPart);
    if (firstSheetId.isEmpty() || sheet == nullptr) {
        error = damaged(QStringLiteral("no first worksheet"));
        return result;
    }

    SheetPatcher patcher(cells);
    auto patched = patcher.run(sheet->data, sheetPart, error);
    if (!patched) {
        return result;
    }
    sheet->data = std::move(*patched);

    // A value written over a formula leaves the calculation chain pointing at a plain cell,
    // which spreadsheet programs report as damage; they rebuild the chain when it is missing.
    if (patcher.formulaDropped() && !calcChainPart.isEmpty()) {
        auto relsXml = transformXml(
            wbRels->data, wbRelsName,
            [&](Token& t) {
                return !(t.local == QLatin1String("Relationship") &&
                         t.attrs.value(QLatin1String("Type")).endsWith(kRelTypeSuffixCalcChain));
            },
            error);
        ZipEntry* types = findEntry(*entries, QStringLiteral("[Content_Types].xml"));
        std::optional<QByteArray> typesXml;
        if (types != nullptr) {
            const QString partName = QLatin1Char('/') + calcChainPart;
            typesXml = transformXml(
                types->data, types->name,
                [&](Token& t) {
                    return !(t.local == QLatin1String("Override") &&
                             t.attrs.value(QLatin1String("PartName"))
                                     .compare(partName, Qt::CaseInsensitive) == 0);
                },
                error);
        }
        if (!relsXml || (types != nullptr && !typesXml)) {
            return result;
        }
        wbRels->data = std::move(*relsXml);
        if (types != nullptr) {
            types->data = std::move(*typesXml);
        }
        std::erase_if(*entries, [&](const ZipEntry& e) {
            return e.name.compare(calcChainPart, Qt::CaseInsensitive) == 0;
        });
    }

    if (const auto& scale = extras.sampleChart) {
        for (const QString& part : chartsOf(*entries, sheetPart)) {
            ZipEntry* chart = findEntry(*entries, part);
            if (chart == nullptr) {
                continue;
            }
            auto scaled = scaleSampleChart(chart->data, part, firstSheetName, *scale, error);
            if (!scaled) {
                return result;
            }
            chart->data = std::move(*scaled);
        }
    }
    if (!setCustomProperties(*entries, extras.properties, error)) {
        return result;
    }

    // Formulas of the template that read the filled cells must not show their old results.
    ZipEntry* wbEntry = findEntry(*entries, workbook);
    auto wbXml = transformXml(
        wbEntry->data, workbook,
        [](Token& t) {
            if (t.local == QLatin1String("calcPr")) {
                setAttribute(t.attrs, QStringLiteral("fullCalcOnLoad"), QStringLiteral("1"));
            }
            return true;
        },
        error);
    if (!wbXml) {
        return result;
    }
    wbEntry->data = std::move(*wbXml);

    if (!writeZip(*entries, result.workbook, error)) {
        result.workbook.clear();
    }
    return result;
}

} // namespace ufd::reports

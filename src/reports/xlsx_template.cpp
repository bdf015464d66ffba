#include "reports/xlsx_template.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <optional>
#include <quazip.h>
#include <quazipfile.h>
#include <quazipnewinfo.h>

namespace ufd::reports {

namespace {

// Nothing in a spreadsheet template comes near this; larger entries are taken as damage.
constexpr qint64 kMaxEntryBytes = 64 * 1024 * 1024;
constexpr qint64 kMaxPackageBytes = 256 * 1024 * 1024;
constexpr int kMaxRow = 1048576;
constexpr int kMaxColumn = 16384;

struct ZipEntry {
    QString name;
    QDateTime time;
    QByteArray data;
};

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

// Part names are case-insensitive in a package.
ZipEntry* findEntry(std::vector<ZipEntry>& entries, const QString& name) {
    for (ZipEntry& e : entries) {
        if (e.name.compare(name, Qt::CaseInsensitive) == 0) {
            return &e;
        }
    }
    return nullptr;
}

QString partFolder(const QString& part) {
    const qsizetype slash = part.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : part.left(slash);
}

QString relsOf(const QString& part) {
    const QString folder = partFolder(part);
    const QString file = part.mid(folder.isEmpty() ? 0 : folder.size() + 1);
    return (folder.isEmpty() ? QString() : folder + QLatin1Char('/')) + QStringLiteral("_rels/") +
           file + QStringLiteral(".rels");
}

// A relationship target resolved to a part name, relative to the part that owns the rels.
QString resolveTarget(const QString& owner, const QString& target) {
    if (target.startsWith(QLatin1Char('/'))) {
        return QDir::cleanPath(target.mid(1));
    }
    const QString folder = partFolder(owner);
    return QDir::cleanPath(folder.isEmpty() ? target : folder + QLatin1Char('/') + target);
}

// ---- XML tokens ----

void writeStart(QXmlStreamWriter& w, const QString& name, const QXmlStreamAttributes& attrs,
                const QXmlStreamNamespaceDeclarations& ns = {}) {
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

struct Token {
    QXmlStreamReader::TokenType type = QXmlStreamReader::NoToken;
    QString name; // qualified name, or the processing instruction's target
    QString local;
    QXmlStreamAttributes attrs;
    QXmlStreamNamespaceDeclarations ns;
    QString text;
    bool cdata = false;

    static Token from(const QXmlStreamReader& r) {
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

    void write(QXmlStreamWriter& w) const {
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
};

void startDocument(const QXmlStreamReader& r, QXmlStreamWriter& w) {
    const QString version =
        r.documentVersion().isEmpty() ? QStringLiteral("1.0") : r.documentVersion().toString();
    if (r.isStandaloneDocument()) {
        w.writeStartDocument(version, true);
    } else {
        w.writeStartDocument(version);
    }
}

// Appends the element the reader stands on, with everything inside it, to `out`.
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

// Copies an XML part; `onStart` sees each start element, may change its attributes and returns
// false to drop the element with its content.
template <typename OnStart>
std::optional<QByteArray> transformXml(const QByteArray& in, const QString& part, OnStart onStart,
                                       QString& error) {
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
        } else if (r.isStartElement()) {
            Token t = Token::from(r);
            if (!onStart(t)) {
                r.skipCurrentElement();
                continue;
            }
            t.write(w);
        } else if (r.isEndDocument()) {
            w.writeEndDocument();
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

struct Relationship {
    QString id, type, target;
    bool external = false;
};

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

// ---- cells ----

struct CellPos {
    int row = 0;
    int column = 0;
};

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

// Characters XML 1.0 cannot carry are dropped; they have no printed form anyway.
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
constexpr QLatin1String kRelTypeSuffixDrawing("/drawing");
constexpr QLatin1String kRelTypeSuffixChart("/chart");
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

QString prefixOf(const QString& qualifiedName) {
    const qsizetype colon = qualifiedName.indexOf(QLatin1Char(':'));
    return colon < 0 ? QString() : qualifiedName.left(colon + 1);
}

// Copies an XML part, dropping the root's children that `drop` picks and letting `append` write
// more children at the end of the root (it is given the root's prefix).
template <typename Drop, typename Append>
std::optional<QByteArray> rewriteRoot(const QByteArray& in, const QString& part, Drop drop,
                                      Append append, QString& error) {
    QXmlStreamReader r(in);
    QByteArray out;
    QXmlStreamWriter w(&out);
    int depth = 0;
    QString prefix;
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
            const Token t = Token::from(r);
            if (depth == 0) {
                prefix = prefixOf(t.name);
            } else if (depth == 1 && drop(t)) {
                r.skipCurrentElement();
                continue;
            }
            ++depth;
            t.write(w);
        } else if (r.isEndElement()) {
            if (--depth == 0) {
                append(w, prefix);
            }
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

// Sets the properties in the package's custom properties part, made when there is none.
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
                    writeProperty(w, prefix, ++pid, name, value);
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
            writeProperty(doc, QString(), ++pid, name, value);
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

// Whether a reference such as 'Sheet 1'!$R$2:$R$252 lies on `sheet` within `column`.
bool referencesColumn(const QString& formula, const QString& sheet, int column) {
    const qsizetype bang = formula.lastIndexOf(QLatin1Char('!'));
    if (bang < 0) {
        return false;
    }
    QString name = formula.left(bang).trimmed();
    if (name.size() >= 2 && name.startsWith(QLatin1Char('\'')) &&
        name.endsWith(QLatin1Char('\''))) {
        name = name.mid(1, name.size() - 2).replace(QStringLiteral("''"), QStringLiteral("'"));
    }
    if (name.compare(sheet, Qt::CaseInsensitive) != 0) {
        return false;
    }
    QString range = formula.mid(bang + 1).trimmed();
    range.remove(QLatin1Char('$'));
    const QStringList corners = range.split(QLatin1Char(':'));
    if (corners.size() > 2) {
        return false;
    }
    for (const QString& corner : corners) {
        const auto p = parseReference(corner);
        if (!p || p->column != column) {
            return false;
        }
    }
    return true;
}

// Rewrites the content of a <scaling> element the reader stands in with new limits, keeping
// its other settings; the schema orders them logBase, orientation, max, min, extLst.
void writeScaling(QXmlStreamReader& r, QXmlStreamWriter& w, const QString& prefix, double min,
                  double max) {
    std::vector<Token> kept;
    std::vector<Token> extensions;
    while (!r.atEnd()) {
        r.readNext();
        if (r.hasError() || r.isEndElement()) {
            break;
        }
        if (!r.isStartElement()) {
            continue;
        }
        const QString local = r.name().toString();
        std::vector<Token> element;
        captureElement(r, element);
        if (local == QLatin1String("max") || local == QLatin1String("min")) {
            continue;
        }
        auto& into = local == QLatin1String("extLst") ? extensions : kept;
        into.insert(into.end(), element.begin(), element.end());
    }
    for (const Token& t : kept) {
        t.write(w);
    }
    for (const auto& [local, value] :
         {std::pair{QStringLiteral("max"), max}, std::pair{QStringLiteral("min"), min}}) {
        QXmlStreamAttributes attrs;
        attrs.append(QStringLiteral("val"), shortestNumber(value));
        writeStart(w, prefix + local, attrs);
        w.writeEndElement();
    }
    for (const Token& t : extensions) {
        t.write(w);
    }
    w.writeEndElement();
}

// Sets the path and amplitude axes of the chart's scatter plots whose X values are the sample
// path column; a chart without one comes back unchanged.
std::optional<QByteArray> scaleSampleChart(const QByteArray& xml, const QString& part,
                                           const QString& sheet, const SampleChartScale& scale,
                                           QString& error) {
    std::map<QString, std::pair<double, double>> limits; // axis id: min, max
    {
        QXmlStreamReader r(xml);
        QStringList path;
        bool plotsPath = false;
        bool plotsOther = false;
        QStringList axes;
        while (!r.atEnd()) {
            r.readNext();
            if (r.isStartElement()) {
                const QString local = r.name().toString();
                const QString parent = path.isEmpty() ? QString() : path.last();
                if (local == QLatin1String("scatterChart")) {
                    plotsPath = plotsOther = false;
                    axes.clear();
                } else if (local == QLatin1String("axId") &&
                           parent == QLatin1String("scatterChart")) {
                    axes << r.attributes().value(QLatin1String("val")).toString();
                } else if (local == QLatin1String("f") && path.contains(QLatin1String("xVal")) &&
                           path.contains(QLatin1String("scatterChart"))) {
                    const bool ours =
                        referencesColumn(r.readElementText(), sheet, scale.pathColumn);
                    plotsPath = plotsPath || ours;
                    plotsOther = plotsOther || !ours;
                    continue;
                }
                path << local;
            } else if (r.isEndElement() && !path.isEmpty()) {
                if (path.takeLast() == QLatin1String("scatterChart") && plotsPath && !plotsOther &&
                    axes.size() == 2) {
                    limits[axes[0]] = {scale.xMin, scale.xMax};
                    limits[axes[1]] = {scale.yMin, scale.yMax};
                }
            }
        }
        if (r.hasError()) {
            error = xmlError(r, part);
            return std::nullopt;
        }
    }
    if (limits.empty()) {
        return xml;
    }
    QXmlStreamReader r(xml);
    QByteArray out;
    QXmlStreamWriter w(&out);
    QStringList path;
    QString axis; // the id of the value axis being copied
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
            const Token t = Token::from(r);
            const QString parent = path.isEmpty() ? QString() : path.last();
            if (t.local == QLatin1String("valAx")) {
                axis.clear();
            } else if (t.local == QLatin1String("axId") && parent == QLatin1String("valAx")) {
                axis = t.attrs.value(QLatin1String("val")).toString();
            } else if (t.local == QLatin1String("scaling") && parent == QLatin1String("valAx") &&
                       limits.count(axis) != 0) {
                t.write(w);
                const auto [min, max] = limits.at(axis);
                writeScaling(r, w, prefixOf(t.name), min, max);
                continue;
            }
            path << t.local;
            t.write(w);
        } else if (r.isEndElement()) {
            if (!path.isEmpty()) {
                path.removeLast();
            }
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

// The charts drawn on a worksheet, through its drawings.
std::vector<QString> chartsOf(std::vector<ZipEntry>& entries, const QString& sheetPart) {
    std::vector<QString> charts;
    const ZipEntry* sheetRels = findEntry(entries, relsOf(sheetPart));
    if (sheetRels == nullptr) {
        return charts;
    }
    for (const Relationship& drawing : readRelationships(sheetRels->data)) {
        if (drawing.external || !drawing.type.endsWith(kRelTypeSuffixDrawing)) {
            continue;
        }
        const QString drawingPart = resolveTarget(sheetPart, drawing.target);
        const ZipEntry* drawingRels = findEntry(entries, relsOf(drawingPart));
        if (drawingRels == nullptr) {
            continue;
        }
        for (const Relationship& chart : readRelationships(drawingRels->data)) {
            if (!chart.external && chart.type.endsWith(kRelTypeSuffixChart)) {
                charts.push_back(resolveTarget(drawingPart, chart.target));
            }
        }
    }
    return charts;
}

} // namespace

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

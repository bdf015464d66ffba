#include "core/documents/pdf_text.h"

#include <map>
#include <memory>
#include <set>
#include <zlib.h>

namespace ufd::documents {

namespace {

// One PDF value: what the writer's objects and content streams are made of.
struct Value {
    enum class Kind { Null, Number, Name, String, Array, Dict, Ref, Operator };
    Kind kind = Kind::Null;
    double number = 0;
    QByteArray text;              // a name without its slash, a string's bytes, an operator
    std::vector<Value> items;     // an array's; a dictionary's values
    std::vector<QByteArray> keys; // a dictionary's keys, one for each of its items
    int ref = -1;

    const Value* get(const char* key) const {
        for (std::size_t i = 0; i < keys.size() && i < items.size(); ++i) {
            if (keys[i] == key) {
                return &items[i];
            }
        }
        return nullptr;
    }
};

bool isSpace(char c) {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0';
}

bool isDelimiter(char c) {
    return isSpace(c) || c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' ||
           c == '{' || c == '}' || c == '/' || c == '%';
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Reads values from `data` starting at `pos`; a malformed value ends the reading.
class Lexer {
public:
    Lexer(const QByteArray& data, qsizetype pos) : d_(data), pos_(pos) {}

    qsizetype pos() const { return pos_; }
    void setPos(qsizetype pos) { pos_ = pos; }
    bool atEnd() {
        skipSpace();
        return pos_ >= d_.size();
    }

    void skipSpace() {
        while (pos_ < d_.size()) {
            const char c = d_[pos_];
            if (c == '%') {
                while (pos_ < d_.size() && d_[pos_] != '\n' && d_[pos_] != '\r') {
                    ++pos_;
                }
            } else if (isSpace(c)) {
                ++pos_;
            } else {
                break;
            }
        }
    }

    // The next bare word (an operator or keyword), without taking it.
    QByteArray peekWord() {
        skipSpace();
        qsizetype end = pos_;
        while (end < d_.size() && !isDelimiter(d_[end])) {
            ++end;
        }
        return d_.mid(pos_, end - pos_);
    }

    std::optional<Value> next(int depth = 0) {
        skipSpace();
        if (pos_ >= d_.size() || depth > 64) {
            return std::nullopt;
        }
        const char c = d_[pos_];
        Value v;
        if (c == '/') {
            ++pos_;
            v.kind = Value::Kind::Name;
            v.text = word();
            return v;
        }
        if (c == '(') {
            return literalString();
        }
        if (c == '<' && pos_ + 1 < d_.size() && d_[pos_ + 1] == '<') {
            pos_ += 2;
            v.kind = Value::Kind::Dict;
            for (;;) {
                skipSpace();
                if (d_.mid(pos_, 2) == ">>") {
                    pos_ += 2;
                    return v;
                }
                const auto key = next(depth + 1);
                const auto value = key ? next(depth + 1) : std::nullopt;
                if (!key || key->kind != Value::Kind::Name || !value) {
                    return std::nullopt;
                }
                v.keys.push_back(key->text);
                v.items.push_back(*value);
            }
        }
        if (c == '<') {
            return hexString();
        }
        if (c == '[') {
            ++pos_;
            v.kind = Value::Kind::Array;
            for (;;) {
                skipSpace();
                if (pos_ < d_.size() && d_[pos_] == ']') {
                    ++pos_;
                    return v;
                }
                auto item = next(depth + 1);
                if (!item) {
                    return std::nullopt;
                }
                v.items.push_back(std::move(*item));
            }
        }
        if (c == ')' || c == '>' || c == ']' || c == '{' || c == '}') {
            return std::nullopt;
        }
        const QByteArray w = word();
        if (w.isEmpty()) {
            ++pos_; // a stray delimiter
            return std::nullopt;
        }
        bool isNumber = false;
        const double n = w.toDouble(&isNumber);
        if (!isNumber) {
            v.kind = Value::Kind::Operator;
            v.text = w;
            return v;
        }
        // "12 0 R" is a reference.
        const qsizetype after = pos_;
        skipSpace();
        const QByteArray gen = word();
        bool genIsNumber = false;
        gen.toInt(&genIsNumber);
        if (genIsNumber) {
            skipSpace();
            if (pos_ < d_.size() && d_[pos_] == 'R' &&
                (pos_ + 1 >= d_.size() || isDelimiter(d_[pos_ + 1]))) {
                ++pos_;
                v.kind = Value::Kind::Ref;
                v.ref = w.toInt();
                return v;
            }
        }
        pos_ = after;
        v.kind = Value::Kind::Number;
        v.number = n;
        return v;
    }

private:
    QByteArray word() {
        const qsizetype start = pos_;
        while (pos_ < d_.size() && !isDelimiter(d_[pos_])) {
            ++pos_;
        }
        return d_.mid(start, pos_ - start);
    }

    std::optional<Value> literalString() {
        Value v;
        v.kind = Value::Kind::String;
        ++pos_;
        int nesting = 1;
        while (pos_ < d_.size()) {
            char c = d_[pos_++];
            if (c == '\\' && pos_ < d_.size()) {
                c = d_[pos_++];
                switch (c) {
                case 'n':
                    v.text += '\n';
                    break;
                case 'r':
                    v.text += '\r';
                    break;
                case 't':
                    v.text += '\t';
                    break;
                case 'b':
                    v.text += '\b';
                    break;
                case 'f':
                    v.text += '\f';
                    break;
                case '\r':
                case '\n':
                    break; // a line continued
                default:
                    if (c >= '0' && c <= '7') {
                        int octal = c - '0';
                        for (int i = 0;
                             i < 2 && pos_ < d_.size() && d_[pos_] >= '0' && d_[pos_] <= '7'; ++i) {
                            octal = octal * 8 + (d_[pos_++] - '0');
                        }
                        v.text += static_cast<char>(octal & 0xFF);
                    } else {
                        v.text += c;
                    }
                }
            } else if (c == '(') {
                ++nesting;
                v.text += c;
            } else if (c == ')') {
                if (--nesting == 0) {
                    return v;
                }
                v.text += c;
            } else {
                v.text += c;
            }
        }
        return std::nullopt;
    }

    std::optional<Value> hexString() {
        Value v;
        v.kind = Value::Kind::String;
        ++pos_;
        int high = -1;
        while (pos_ < d_.size()) {
            const char c = d_[pos_++];
            if (c == '>') {
                if (high >= 0) {
                    v.text += static_cast<char>(high << 4);
                }
                return v;
            }
            const int h = hexDigit(c);
            if (h < 0) {
                if (isSpace(c)) {
                    continue;
                }
                return std::nullopt;
            }
            if (high < 0) {
                high = h;
            } else {
                v.text += static_cast<char>((high << 4) | h);
                high = -1;
            }
        }
        return std::nullopt;
    }

    const QByteArray& d_;
    qsizetype pos_;
};

// Far above any page this writer makes, far below what a crafted stream could unpack to.
constexpr qsizetype kMaxStreamBytes = 16 * 1024 * 1024;

std::optional<QByteArray> inflated(const QByteArray& in) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) {
        return std::nullopt;
    }
    QByteArray out;
    char buffer[64 * 1024];
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.constData()));
    z.avail_in = static_cast<uInt>(in.size());
    int rc = Z_OK;
    while (rc == Z_OK) {
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof buffer;
        rc = inflate(&z, Z_NO_FLUSH);
        out.append(buffer, static_cast<qsizetype>(sizeof buffer - z.avail_out));
        if (out.size() > kMaxStreamBytes || (rc == Z_OK && z.avail_in == 0 && z.avail_out != 0)) {
            rc = Z_DATA_ERROR; // too big, or cut short
        }
    }
    inflateEnd(&z);
    if (rc != Z_STREAM_END) {
        return std::nullopt;
    }
    return out;
}

struct Object {
    Value value;
    QByteArray stream; // raw, as stored; empty when the object is no stream
    bool isStream = false;
};

// Code to text, from a font's ToUnicode map.
struct Font {
    int codeBytes = 2;
    std::map<quint32, QString> unicode;
};

quint32 codeOf(const QByteArray& bytes) {
    quint32 code = 0;
    for (const char b : bytes) {
        code = (code << 8) | static_cast<quint8>(b);
    }
    return code;
}

QString utf16(const QByteArray& bytes) {
    QString out;
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2) {
        out += QChar(static_cast<char16_t>((static_cast<quint8>(bytes[i]) << 8) |
                                           static_cast<quint8>(bytes[i + 1])));
    }
    return out;
}

class Reader {
public:
    explicit Reader(const QByteArray& pdf) : d_(pdf) {}

    std::optional<std::vector<QString>> pageTexts(QString& error) {
        if (!d_.startsWith("%PDF-")) {
            error = QStringLiteral("not a PDF file");
            return std::nullopt;
        }
        const qsizetype start = d_.lastIndexOf("startxref");
        if (start < 0) {
            error = QStringLiteral("the PDF has no cross-reference");
            return std::nullopt;
        }
        Lexer lx(d_, start + 9);
        const auto at = lx.next();
        if (!at || at->kind != Value::Kind::Number ||
            !readXref(static_cast<qsizetype>(at->number), 0)) {
            error = QStringLiteral("the PDF's cross-reference cannot be read (a program other "
                                   "than this one may have rewritten the file)");
            return std::nullopt;
        }
        const Value* root = trailer_.get("Root");
        const Value* catalog = root ? resolve(*root) : nullptr;
        const Value* pages = catalog ? catalog->get("Pages") : nullptr;
        std::vector<QString> texts;
        std::set<int> seen;
        if (!pages || !collectPages(*pages, nullptr, texts, seen, 0)) {
            error =
                failure_.isEmpty() ? QStringLiteral("the PDF's pages cannot be read") : failure_;
            return std::nullopt;
        }
        return texts;
    }

private:
    bool readXref(qsizetype offset, int depth) {
        if (depth > 32 || offset < 0 || offset >= d_.size()) {
            return false;
        }
        Lexer lx(d_, offset);
        if (lx.peekWord() != "xref") {
            return false; // a cross-reference stream: not what this writer makes
        }
        lx.setPos(lx.pos() + 4);
        for (;;) {
            if (lx.peekWord() == "trailer") {
                lx.setPos(lx.pos() + 7);
                break;
            }
            const auto first = lx.next();
            const auto count = lx.next();
            if (!first || !count || first->kind != Value::Kind::Number ||
                count->kind != Value::Kind::Number) {
                return false;
            }
            for (int i = 0; i < static_cast<int>(count->number); ++i) {
                const auto off = lx.next();
                const auto gen = lx.next();
                const auto use = lx.next();
                if (!off || !gen || !use || use->kind != Value::Kind::Operator) {
                    return false;
                }
                const int number = static_cast<int>(first->number) + i;
                // The newest section read first wins.
                if (use->text == "n" && !offsets_.count(number)) {
                    offsets_[number] = static_cast<qsizetype>(off->number);
                } else if (!offsets_.count(number)) {
                    offsets_[number] = -1;
                }
            }
        }
        const auto trailer = lx.next();
        if (!trailer || trailer->kind != Value::Kind::Dict) {
            return false;
        }
        if (depth == 0) {
            trailer_ = *trailer;
        }
        if (const Value* prev = trailer->get("Prev")) {
            return prev->kind == Value::Kind::Number &&
                   readXref(static_cast<qsizetype>(prev->number), depth + 1);
        }
        return true;
    }

    const Object* object(int number) {
        if (const auto it = objects_.find(number); it != objects_.end()) {
            return it->second.get();
        }
        const auto at = offsets_.find(number);
        if (at == offsets_.end() || at->second < 0 || loading_.count(number)) {
            return nullptr;
        }
        loading_.insert(number);
        Lexer lx(d_, at->second);
        const auto num = lx.next();
        const auto gen = lx.next();
        const auto kw = lx.next();
        auto value = kw ? lx.next() : std::nullopt;
        if (!num || num->kind != Value::Kind::Number || static_cast<int>(num->number) != number ||
            !gen || !kw || kw->text != "obj" || !value) {
            loading_.erase(number);
            return nullptr;
        }
        auto obj = std::make_unique<Object>();
        obj->value = std::move(*value);
        if (lx.peekWord() == "stream") {
            qsizetype pos = lx.pos() + 6;
            if (pos < d_.size() && d_[pos] == '\r') {
                ++pos;
            }
            if (pos < d_.size() && d_[pos] == '\n') {
                ++pos;
            }
            const Value* length = obj->value.get("Length");
            const Value* size = length ? resolve(*length) : nullptr;
            if (!size || size->kind != Value::Kind::Number || size->number < 0 ||
                pos + static_cast<qsizetype>(size->number) > d_.size()) {
                loading_.erase(number);
                return nullptr;
            }
            obj->isStream = true;
            obj->stream = d_.mid(pos, static_cast<qsizetype>(size->number));
        }
        loading_.erase(number);
        return objects_.emplace(number, std::move(obj)).first->second.get();
    }

    // The value itself, or the object it refers to.
    const Value* resolve(const Value& v) {
        if (v.kind != Value::Kind::Ref) {
            return &v;
        }
        const Object* o = object(v.ref);
        return o ? &o->value : nullptr;
    }

    // A stream's bytes with its filter undone; nothing for a filter this writer does not use.
    std::optional<QByteArray> streamData(const Value& ref) {
        if (ref.kind != Value::Kind::Ref) {
            return std::nullopt;
        }
        const Object* o = object(ref.ref);
        if (!o || !o->isStream) {
            return std::nullopt;
        }
        const Value* filter = o->value.get("Filter");
        if (filter && filter->kind == Value::Kind::Array && filter->items.size() == 1) {
            filter = &filter->items.front();
        }
        if (!filter) {
            return o->stream;
        }
        if (filter->kind != Value::Kind::Name || filter->text != "FlateDecode") {
            return std::nullopt;
        }
        return inflated(o->stream);
    }

    const Font* font(const Value& ref) {
        if (ref.kind != Value::Kind::Ref) {
            return nullptr;
        }
        if (const auto it = fonts_.find(ref.ref); it != fonts_.end()) {
            return &it->second;
        }
        const Value* dict = resolve(ref);
        if (!dict || dict->kind != Value::Kind::Dict) {
            return nullptr;
        }
        Font f;
        const Value* subtype = dict->get("Subtype");
        f.codeBytes = subtype && subtype->text == "Type0" ? 2 : 1;
        if (const Value* map = dict->get("ToUnicode")) {
            if (const auto cmap = streamData(*map)) {
                readCMap(*cmap, f);
            }
        }
        return &fonts_.emplace(ref.ref, std::move(f)).first->second;
    }

    static void readCMap(const QByteArray& cmap, Font& f) {
        Lexer lx(cmap, 0);
        std::vector<Value> operands;
        enum class Section { None, Char, Range } section = Section::None;
        while (!lx.atEnd()) {
            auto v = lx.next();
            if (!v) {
                return;
            }
            if (v->kind != Value::Kind::Operator) {
                operands.push_back(std::move(*v));
                if (section == Section::Char && operands.size() == 2) {
                    f.unicode[codeOf(operands[0].text)] = utf16(operands[1].text);
                    operands.clear();
                } else if (section == Section::Range && operands.size() == 3) {
                    const quint32 lo = codeOf(operands[0].text);
                    const quint32 hi = codeOf(operands[1].text);
                    const Value& dst = operands[2];
                    for (quint32 c = lo; c <= hi && c - lo < 0x10000; ++c) {
                        if (dst.kind == Value::Kind::Array) {
                            if (c - lo < dst.items.size()) {
                                f.unicode[c] = utf16(dst.items[c - lo].text);
                            }
                        } else {
                            QString s = utf16(dst.text);
                            if (!s.isEmpty()) {
                                s.back() =
                                    QChar(static_cast<char16_t>(s.back().unicode() + (c - lo)));
                            }
                            f.unicode[c] = s;
                        }
                    }
                    operands.clear();
                }
                continue;
            }
            const QByteArray& op = v->text;
            section = op == "beginbfchar"    ? Section::Char
                      : op == "beginbfrange" ? Section::Range
                                             : Section::None;
            operands.clear();
        }
    }

    static QString decode(const QByteArray& s, const Font* f) {
        QString out;
        if (!f) {
            return out;
        }
        for (qsizetype i = 0; i + f->codeBytes <= s.size(); i += f->codeBytes) {
            const auto it = f->unicode.find(codeOf(s.mid(i, f->codeBytes)));
            if (it != f->unicode.end()) {
                out += it->second;
            }
        }
        return out;
    }

    // The text a content stream shows, font by font.
    QString pageText(const QByteArray& content, const Value* fonts) {
        QString out;
        Lexer lx(content, 0);
        std::vector<Value> operands;
        const Font* current = nullptr;
        while (!lx.atEnd()) {
            auto v = lx.next();
            if (!v) {
                failure_ = QStringLiteral("a page's content cannot be read");
                return {};
            }
            if (v->kind != Value::Kind::Operator) {
                operands.push_back(std::move(*v));
                continue;
            }
            const QByteArray& op = v->text;
            if (op == "Tf" && operands.size() >= 2 && fonts) {
                const Value* ref = fonts->get(operands[operands.size() - 2].text.constData());
                current = ref ? font(*ref) : nullptr;
            } else if ((op == "Tj" || op == "'" || op == "\"") && !operands.empty()) {
                out += decode(operands.back().text, current);
            } else if (op == "TJ" && !operands.empty() &&
                       operands.back().kind == Value::Kind::Array) {
                for (const Value& item : operands.back().items) {
                    if (item.kind == Value::Kind::String) {
                        out += decode(item.text, current);
                    }
                }
            } else if (op == "ET") {
                out += QLatin1Char('\n');
            } else if (op == "BI") {
                // An inline image: its bytes are no operators.
                const qsizetype end = content.indexOf("EI", lx.pos());
                if (end < 0) {
                    failure_ = QStringLiteral("a page's content cannot be read");
                    return {};
                }
                lx.setPos(end + 2);
            }
            operands.clear();
        }
        return out;
    }

    bool collectPages(const Value& node, const Value* inheritedResources,
                      std::vector<QString>& texts, std::set<int>& seen, int depth) {
        if (depth > 32 || (node.kind == Value::Kind::Ref && !seen.insert(node.ref).second)) {
            return false;
        }
        const Value* dict = resolve(node);
        if (!dict || dict->kind != Value::Kind::Dict) {
            return false;
        }
        const Value* resources = dict->get("Resources");
        resources = resources ? resolve(*resources) : inheritedResources;
        const Value* type = dict->get("Type");
        if (type && type->text == "Pages") {
            const Value* kids = dict->get("Kids");
            kids = kids ? resolve(*kids) : nullptr;
            if (!kids || kids->kind != Value::Kind::Array) {
                return false;
            }
            for (const Value& kid : kids->items) {
                if (!collectPages(kid, resources, texts, seen, depth + 1)) {
                    return false;
                }
            }
            return true;
        }
        const Value* fonts = resources ? resources->get("Font") : nullptr;
        fonts = fonts ? resolve(*fonts) : nullptr;
        QByteArray content;
        if (const Value* contents = dict->get("Contents")) {
            std::vector<Value> parts;
            if (contents->kind == Value::Kind::Ref) {
                const Value* resolved = resolve(*contents);
                if (resolved && resolved->kind == Value::Kind::Array) {
                    parts = resolved->items;
                } else {
                    parts.push_back(*contents);
                }
            } else if (contents->kind == Value::Kind::Array) {
                parts = contents->items;
            }
            for (const Value& part : parts) {
                const auto data = streamData(part);
                if (!data) {
                    failure_ = QStringLiteral("a page's content cannot be read");
                    return false;
                }
                content += *data + '\n';
            }
        }
        const QString text = pageText(content, fonts);
        if (!failure_.isEmpty()) {
            return false;
        }
        texts.push_back(text);
        return true;
    }

    const QByteArray& d_;
    std::map<int, qsizetype> offsets_;
    std::map<int, std::unique_ptr<Object>> objects_;
    std::set<int> loading_;
    std::map<int, Font> fonts_;
    Value trailer_;
    QString failure_;
};

} // namespace

std::optional<std::vector<QString>> pdfPageTexts(const QByteArray& pdf, QString& error) {
    return Reader(pdf).pageTexts(error);
}

} // namespace ufd::documents

// The axis limits of the sample charts drawn on the filled sheet.
#include "core/spreadsheet/xlsx_package.h"

#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <map>

namespace ufd::reports::detail {

namespace {

constexpr QLatin1String kRelTypeSuffixDrawing("/drawing");
constexpr QLatin1String kRelTypeSuffixChart("/chart");

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

} // namespace

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
    QStringList path;
    QString axis; // the id of the value axis being copied
    return copyXml(
        xml, part,
        [&](QXmlStreamReader& r, QXmlStreamWriter& w, Token& t) {
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
                return XmlStep::Written;
            }
            path << t.local;
            return XmlStep::Copy;
        },
        [&](QXmlStreamWriter&) {
            if (!path.isEmpty()) {
                path.removeLast();
            }
        },
        error);
}

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

} // namespace ufd::reports::detail

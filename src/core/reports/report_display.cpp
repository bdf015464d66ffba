#include "core/reports/report_display.h"

#include "core/online/text_format.h"
#include "core/reports/report_file.h"

#include <QVariant>

namespace ufd::reports {

using online::formatFixed;
using online::formatGeneral;

namespace {

QString valueText(const QVariant& v) {
    return v.isNull() ? QString() : v.toString();
}

QString notANumber(const QString& column, const QVariant& v) {
    return QStringLiteral("%1: '%2' is not a valid number").arg(column, valueText(v));
}

// A column read as a floating value; empty and non-numeric values are conversion errors.
bool readNumber(const QSqlRecord& row, const QString& column, double& out, QString& error) {
    const QVariant v = row.value(column);
    bool ok = false;
    if (!v.isNull()) {
        out = v.metaType().id() == QMetaType::QString ? v.toString().trimmed().toDouble(&ok)
                                                      : v.toDouble(&ok);
    }
    if (!ok) {
        error = notANumber(column, v);
    }
    return ok;
}

bool readInteger(const QSqlRecord& row, const QString& column, qint64& out, QString& error) {
    const QVariant v = row.value(column);
    bool ok = false;
    if (!v.isNull()) {
        out = v.metaType().id() == QMetaType::QString ? v.toString().trimmed().toLongLong(&ok)
                                                      : v.toLongLong(&ok);
    }
    if (!ok) {
        error = QStringLiteral("%1: '%2' is not a valid integer").arg(column, valueText(v));
    }
    return ok;
}

struct Gate {
    double start = 0, width = 0, height = 0;
};

bool readGate(const QSqlRecord& row, const QString& prefix, Gate& g, QString& error) {
    return readNumber(row, prefix + QStringLiteral("_Start"), g.start, error) &&
           readNumber(row, prefix + QStringLiteral("_Width"), g.width, error) &&
           readNumber(row, prefix + QStringLiteral("_Height"), g.height, error);
}

} // namespace

ReportDisplay::ReportDisplay()
    : curveTitles{QStringLiteral("DAC1"), QStringLiteral("DAC2"), QStringLiteral("DAC3")},
      sampleTable(kSampleTableRows), curveTable(kCurveTableRows) {
    sampleTable[0] = {QStringLiteral("PATH"), QStringLiteral("EchoH"), QStringLiteral("A"),
                      QStringLiteral("B")};
}

online::ReferenceTrace referenceFromReport(const ReportDisplay& shown, const QString& label) {
    return {label, shown.trace, online::gatePeak(shown.trace, shown.gateA)};
}

QString fieldText(const QSqlRecord& row, const QString& column) {
    const QVariant v = row.value(column);
    if (v.isNull()) {
        return {};
    }
    switch (v.metaType().id()) {
    case QMetaType::Double:
    case QMetaType::Float:
        return formatGeneral(v.toDouble());
    default:
        return v.toString();
    }
}

ShowResult showCurrentReport(const QSqlRecord& row, const ReportDisplay& previous) {
    ShowResult result{previous, {}};
    ReportDisplay& d = result.display;
    QString& error = result.error;

    // Step 1: the values that place the report on its axes.
    double range = 0, delay = 0, velocity = 0;
    qint64 curveType = 0, fullScreen = 0;
    if (!readNumber(row, QStringLiteral("mRange"), range, error) ||
        !readNumber(row, QStringLiteral("dDelay"), delay, error) ||
        !readNumber(row, QStringLiteral("SoundVel"), velocity, error) ||
        !readInteger(row, QStringLiteral("CurrveType"), curveType, error) ||
        !readInteger(row, QStringLiteral("Flag_FullSScr"), fullScreen, error)) {
        return result;
    }
    const QString rectify = valueText(row.value(QStringLiteral("ProbeRectify")));

    // Steps 2 and 3: geometry and axes.
    d.scale = displayScale(range, fullScreen == 1);
    d.x0 = zeroOffset(velocity, delay);
    d.x1 = d.x0 + range;
    d.xMin = d.x0;
    d.xMax = d.x1;
    d.yMin = rectify == QLatin1String("Radio") ? -100 : 0;
    d.yMax = 100;

    // Steps 4 and 5: gates and the stored traces and curves.
    Gate a, b;
    if (!readGate(row, QStringLiteral("GateA"), a, error) ||
        !readGate(row, QStringLiteral("GateB"), b, error)) {
        return result;
    }
    const auto data = parseFileData(valueText(row.value(QStringLiteral("FileData"))));
    if (!data) {
        error = QStringLiteral("FileData: the text does not hold %1 integers").arg(kFileDataValues);
        return result;
    }

    // Step 6: series and their titles.
    d.trace.clear();
    for (auto& c : d.curves) {
        c.clear();
    }
    if (curveType == 1 || curveType == 2) {
        const QString base = curveType == 1 ? QStringLiteral("DAC") : QStringLiteral("AVG");
        for (int k = 0; k < 3; ++k) {
            d.curveTitles[static_cast<std::size_t>(k)] = base + QString::number(k + 1);
        }
        d.curvesVisible = true;
    } else {
        d.curvesVisible = false;
    }

    // Step 7: points and tables.
    d.curveTable[0] = {QStringLiteral("PATH"), QStringLiteral("DAC评定线"),
                       QStringLiteral("DAC定量线"), QStringLiteral("DAC判废线")};
    d.trace.reserve(2 * static_cast<qsizetype>(online::kTracePoints));
    for (auto& c : d.curves) {
        c.reserve(static_cast<qsizetype>(online::kTracePoints));
    }
    const QString heightA = formatFixed(a.height, 2);
    const QString heightB = formatFixed(b.height, 2);
    for (std::size_t i = 0; i < online::kTracePoints; ++i) {
        const double x = static_cast<double>(i) * d.scale + d.x0;
        const double y1 = data->trace1[i] * 0.25;
        const double y2 = data->trace2[i] * 0.25;
        d.trace.append(QPointF(x, y1));
        d.trace.append(QPointF(x, y2));
        std::array<double, 3> cv{};
        for (std::size_t k = 0; k < 3; ++k) {
            cv[k] = data->curves[k][i] * 0.25;
            d.curves[k].append(QPointF(x, cv[k]));
        }
        d.curveTable[i + 1] = {formatGeneral(x), formatGeneral(cv[0]), formatGeneral(cv[1]),
                               formatGeneral(cv[2])};

        // The gate test uses the path as the table shows it, so a point that reads 20.00 is
        // inside a gate that starts at 20.00 even when it lies at 19.996.
        const QString path = formatFixed(x, 2);
        const double p = path.toDouble();
        const QString inA = (a.start <= p && p <= a.start + a.width) ? heightA : QString();
        const QString inB = (b.start <= p && p <= b.start + b.width) ? heightB : QString();
        d.sampleTable[2 * i + 1] = {path, formatGeneral(y1), inA, inB};
        d.sampleTable[2 * i + 2] = {path, formatGeneral(y2), inA, inB};
    }

    // Step 8: gates by logic.
    const QString logic = valueText(row.value(QStringLiteral("GateLogic")));
    const bool drawA = logic == QLatin1String("GateA") || logic == QLatin1String("GateAB");
    const bool drawB = logic == QLatin1String("GateB") || logic == QLatin1String("GateAB");
    d.gateA.clear();
    if (drawA) {
        d.gateA = {QPointF(a.start, a.height), QPointF(a.start + a.width, a.height)};
        d.gateAVisible = true;
    }
    d.gateB.clear();
    if (drawB) {
        d.gateB = {QPointF(b.start, b.height), QPointF(b.start + b.width, b.height)};
        d.gateBVisible = true;
    }
    return result;
}

} // namespace ufd::reports

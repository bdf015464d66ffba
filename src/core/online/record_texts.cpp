#include "core/online/record_texts.h"

#include "core/online/text_format.h"

namespace ufd::online {

namespace {

DisplayReading display(double value, int decimals) {
    return {value, decimals, formatFixed(value, decimals)};
}

QString withUnit(double value, int decimals, const char* unit) {
    return formatFixed(value, decimals) + QLatin1String(unit);
}

} // namespace

RecordTexts recordTexts(const InstrumentRecord& r) {
    RecordTexts t;
    t.displays = {display(r.dValue, 2), display(r.sValue, 2), display(r.pValue, 2),
                  display(r.hValue, 1), display(r.vERS, 2),   display(r.DB_Base / 10.0, 2)};

    t.channel = formatFixed(r.CH_No, 0);
    t.echoTimes = formatFixed(r.vEchoNum, 0);
    t.gateLogic = gateLogicText(r.GateLogic);
    t.probeType = probeTypeText(r.ProbeType);
    t.rectify = probeRectifyText(r.ProbeRectify);
    t.probeFreq = withUnit(r.ProbeFreq / 100.0, 2, "MHz"); // stored in 0.01 MHz
    t.range = withUnit(r.mRange / 10.0, 1, "mm");
    t.dDelay = withUnit(r.dDelay / 100.0, 2, "us");
    t.velocity = withUnit(r.SoundVel, 1, "m/s");
    t.probeAngle = formatFixed(r.ProbeAng, 3);
    t.probeDelay = withUnit(r.ProbeZero / 100.0, 2, "us");
    t.probeXValue = withUnit(r.ProbeFront / 100.0, 2, "mm");

    t.probeName = r.probeNameText();
    t.probeDiameter = withUnit(r.ProbedSize / 10.0, 2, "mm");
    t.probeSize = formatFixed(r.ProbehSize / 10.0, 1) + QStringLiteral(" x ") +
                  withUnit(r.ProbewSize / 10.0, 1, "mm");
    t.basicGain = withUnit(r.DB_Base / 10.0, 1, "dB");
    t.gainStep = withUnit(r.DB_Step, 1, "dB"); // the instrument stores the step unscaled
    t.scanGain = withUnit(r.DB_Scan / 10.0, 1, "dB");
    t.surfaceGain = withUnit(r.DB_Surface / 10.0, 1, "dB");
    return t;
}

std::vector<std::pair<QString, QString>> RecordTexts::sidePanel() const {
    return {
        {QStringLiteral("Channel"), channel},        {QStringLiteral("Echo times"), echoTimes},
        {QStringLiteral("Rectiry"), rectify},        {QStringLiteral("Probe Type"), probeType},
        {QStringLiteral("Probe Freq"), probeFreq},   {QStringLiteral("Probe Delay"), probeDelay},
        {QStringLiteral("Probe Angle"), probeAngle}, {QStringLiteral("Probe xValue"), probeXValue},
        {QStringLiteral("Velocity"), velocity},      {QStringLiteral("Range"), range},
        {QStringLiteral("D-delay"), dDelay},         {QStringLiteral("Gate Logic"), gateLogic}};
}

std::vector<std::pair<QString, QString>> RecordTexts::parameterTab() const {
    return {{QStringLiteral("Name"), probeName},
            {QStringLiteral("Zero"), probeDelay},
            {QStringLiteral("Angle"), probeAngle},
            {QStringLiteral("Frequency"), probeFreq},
            {QStringLiteral("Front"), probeXValue},
            {QStringLiteral("Type"), probeType},
            {QStringLiteral("Diameter"), probeDiameter},
            {QStringLiteral("Size"), probeSize},
            {QStringLiteral("Channel"), channel},
            {QStringLiteral("Logic"), gateLogic},
            {QStringLiteral("Range"), range},
            {QStringLiteral("Rectify"), rectify},
            {QStringLiteral("Velocity"), velocity},
            {QStringLiteral("x-Delay"), dDelay},
            {QStringLiteral("Basic Gain"), basicGain},
            {QStringLiteral("Gain Step"), gainStep},
            {QStringLiteral("Scan Gain"), scanGain},
            {QStringLiteral("Surface Gain"), surfaceGain}};
}

} // namespace ufd::online

#pragma once

#include "core/online/record.h"

#include <QString>
#include <array>
#include <utility>
#include <vector>

namespace ufd::online {

// A numeric display: the value and the digits it shows.
struct DisplayReading {
    double value = 0;
    int decimals = 2;
    QString text;
};

// Every text the record view shows for one record: the six numeric displays (left to right),
// the side panel and the "Parameter" tab. The online window, the replay window and the command
// line all take their texts from here.
struct RecordTexts {
    // Depth, sound path, horizontal distance, echo height, equivalent size, base gain.
    std::array<DisplayReading, 6> displays;

    // Side panel.
    QString channel, echoTimes, rectify, probeType, probeFreq, probeDelay, probeAngle, probeXValue,
        velocity, range, dDelay, gateLogic;

    // "Parameter" tab (the copies of side-panel texts are not repeated here).
    QString probeName, probeDiameter, probeSize, basicGain, gainStep, scanGain, surfaceGain;

    // (label, text) pairs in screen order, for listings.
    std::vector<std::pair<QString, QString>> sidePanel() const;
    std::vector<std::pair<QString, QString>> parameterTab() const;
};

RecordTexts recordTexts(const InstrumentRecord& rec);

} // namespace ufd::online

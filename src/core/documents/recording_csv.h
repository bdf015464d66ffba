#pragma once

#include "core/online/recording.h"

#include <QByteArray>
#include <QString>

namespace ufd::documents {

// One frame of a recording (kRecordSize bytes, stored encoding) with the report CSV's columns
// and numbers (waveformCsv): the frame read as a report slot that holds the same record.
QByteArray frameCsv(const std::uint8_t* storedFrame);

// The whole recording, one line per frame: its number (from 1), the time since the first frame
// at the recording's frame rate, and the six readings as the displays show them. The header
// gives each column's unit; fields are comma-separated, lines end in CR LF.
QByteArray recordingCsv(const online::Recording& recording);

// Names for Outfiles/: "<recording> frame <n>" and "<recording>", after the recording's file.
QString frameCsvName(const QString& recordingPath, std::uint32_t frameIndex);
QString recordingCsvName(const QString& recordingPath);

} // namespace ufd::documents

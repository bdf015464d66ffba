#pragma once

#include "core/serial/comm.h"

#include <QString>

namespace ufd::serial {

// The instrument's line: the settings the port window creates its component with (8 data bits,
// no parity, one stop bit, no flow control, DTR and RTS off, reads complete after 1 ms quiet).
void configureForInstrument(TComm& comm);

// Sets name and speed as the port window's open does, then closes and opens the port.
// Throws ECommsError when the port cannot be opened.
void openInstrumentPort(TComm& comm, const QString& portName, std::uint32_t baudRate);

// An operator text about a port that could not be opened ("The communication port is invalid!"),
// followed on a line of its own by why, when that is known.
QString withOpenFailureReason(const QString& text, const ECommsError& error);

// Status texts of the port window.
QString portOpenedText(const QString& portName, const QString& speedText);
// The port opened but refused some of the line's settings (SerialPort::refusedSettings), which
// it keeps as they were: the line is not what the operator asked for.
QString portRefusedSettingsText(const QString& portName, const QStringList& refused);
QString portClosedText();

} // namespace ufd::serial

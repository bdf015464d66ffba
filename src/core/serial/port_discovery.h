#pragma once

#include <QList>
#include <QString>
#include <functional>

namespace ufd::serial {

// A serial device as the platform reports it.
struct DeviceInfo {
    QString location;          // what opening takes: "COM3", "/dev/ttyUSB0"
    QString name;              // "COM3", "ttyUSB0"
    QString description;       // what it is, when the platform knows: "USB serial"
    QString serialNumber = {}; // a USB adapter's own, which it keeps in any socket
};
using DeviceEnumerator = std::function<QList<DeviceInfo>()>;

// The machine's serial devices, present now.
QList<DeviceInfo> systemDevices();

// One entry of the port window's box.
struct PortEntry {
    QString location; // what the port is opened by
    QString label;    // what the box shows: the name and what it is ("ttyUSB0 — USB serial")
    QString name;     // the port's name alone, as operator texts give it ("ttyUSB0", "COM3")
    bool operator==(const PortEntry&) const = default;
};

// The entries the port window offers: every present device in natural order of its name
// ("COM2" before "COM10", "ttyS2" before "ttyS10"), then the simulator's link when it leads to
// a device.
QList<PortEntry> portEntries(QList<DeviceInfo> devices, const QString& simulatorLink,
                             bool simulatorExists);
QList<PortEntry> discoverPorts(const QString& simulatorLink,
                               const DeviceEnumerator& devices = systemDevices);

} // namespace ufd::serial

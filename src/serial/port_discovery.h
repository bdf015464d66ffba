#pragma once

#include <QString>
#include <QStringList>

namespace ufd::serial {

inline constexpr int kMaxListedPorts = 16;

// The ports the port window offers, as device paths usable as CommName: the machine's serial
// devices in natural order ("/dev/ttyS2" before "/dev/ttyS10"), then `simulatorLink` when that
// path exists. At most 16 entries; the simulator's link keeps its place when the devices would
// fill the list.
QStringList discoverPorts(const QString& simulatorLink);

// The list rule on its own, for any source of device paths.
QStringList choosePorts(QStringList devices, const QString& simulatorLink, bool simulatorExists);

} // namespace ufd::serial

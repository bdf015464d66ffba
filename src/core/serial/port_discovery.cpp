#include "core/serial/port_discovery.h"

#include <QFileInfo>
#include <QSerialPortInfo>
#include <QStringView>
#include <algorithm>

namespace ufd::serial {

namespace {

QStringView digitRun(const QString& s, qsizetype& pos) {
    const qsizetype start = pos;
    while (pos < s.size() && s[pos].isDigit()) {
        ++pos;
    }
    QStringView run = QStringView(s).mid(start, pos - start);
    while (run.size() > 1 && run.front() == u'0') {
        run = run.mid(1);
    }
    return run;
}

// Digit runs compare by value, so that ttyS2 comes before ttyS10 whatever the locale.
bool naturalLess(const QString& a, const QString& b) {
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            const QStringView x = digitRun(a, i);
            const QStringView y = digitRun(b, j);
            if (x.size() != y.size()) {
                return x.size() < y.size();
            }
            if (const int c = x.compare(y); c != 0) {
                return c < 0;
            }
            continue;
        }
        if (a[i] != b[j]) {
            return a[i] < b[j];
        }
        ++i;
        ++j;
    }
    if (a.size() - i != b.size() - j) {
        return a.size() - i < b.size() - j;
    }
    return a < b; // equal by value ("ttyS01" and "ttyS1"): any fixed order
}

} // namespace

QList<DeviceInfo> systemDevices() {
    QList<DeviceInfo> devices;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : ports) {
        devices.append(
            {info.systemLocation(), info.portName(), info.description(), info.serialNumber()});
    }
    return devices;
}

QList<PortEntry> portEntries(QList<DeviceInfo> devices, const QString& simulatorLink,
                             bool simulatorExists) {
    const bool withSimulator = simulatorExists && !simulatorLink.isEmpty();
    std::sort(devices.begin(), devices.end(), [](const DeviceInfo& a, const DeviceInfo& b) {
        return naturalLess(a.name, b.name) || (a.name == b.name && a.location < b.location);
    });
    QList<PortEntry> entries;
    for (const DeviceInfo& d : devices) {
        const bool seen = std::any_of(entries.begin(), entries.end(), [&d](const PortEntry& e) {
            return e.location == d.location;
        });
        if (seen || (withSimulator && d.location == simulatorLink)) {
            continue;
        }
        const QString name = d.name.isEmpty() ? d.location : d.name;
        entries.append(
            {d.location,
             d.description.isEmpty() ? name : name + QStringLiteral(" — ") + d.description, name});
    }
    if (withSimulator) {
        const QString name = QFileInfo(simulatorLink).fileName();
        entries.append({simulatorLink, name + QStringLiteral(" — simulated instrument"), name});
    }
    return entries;
}

QList<PortEntry> discoverPorts(const QString& simulatorLink, const DeviceEnumerator& devices) {
    // exists() follows the link, so a link left behind by a stopped simulator is not listed.
    return portEntries(devices ? devices() : QList<DeviceInfo>{}, simulatorLink,
                       !simulatorLink.isEmpty() && QFileInfo::exists(simulatorLink));
}

} // namespace ufd::serial

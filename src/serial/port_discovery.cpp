#include "serial/port_discovery.h"

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

QStringList choosePorts(QStringList devices, const QString& simulatorLink, bool simulatorExists) {
    const bool withSimulator = simulatorExists && !simulatorLink.isEmpty();
    devices.removeDuplicates();
    if (withSimulator) {
        devices.removeAll(simulatorLink);
    }
    std::sort(devices.begin(), devices.end(), naturalLess);
    const qsizetype room = kMaxListedPorts - (withSimulator ? 1 : 0);
    if (devices.size() > room) {
        devices.resize(room);
    }
    if (withSimulator) {
        devices.append(simulatorLink);
    }
    return devices;
}

QStringList discoverPorts(const QString& simulatorLink) {
    QStringList devices;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : ports) {
        devices.append(info.systemLocation());
    }
    // exists() follows the link, so a link left behind by a stopped simulator is not listed.
    return choosePorts(std::move(devices), simulatorLink,
                       !simulatorLink.isEmpty() && QFileInfo::exists(simulatorLink));
}

} // namespace ufd::serial

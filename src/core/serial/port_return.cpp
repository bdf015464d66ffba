#include "core/serial/port_return.h"

#include "core/serial/comm.h"

#include <QFileInfo>
#include <QTimer>

namespace ufd::serial {

namespace {

// The device a name leads to now; empty when there is none. A link (the simulator's,
// /dev/serial/by-id/...) leads to its target; a platform name ("COM3") to itself while listed.
QString deviceBehind(const QString& name, const QList<DeviceInfo>& devices) {
    const QFileInfo file(name);
    if (file.exists()) {
        return file.canonicalFilePath();
    }
    for (const DeviceInfo& d : devices) {
        if (d.location == name) {
            return name;
        }
    }
    return {};
}

} // namespace

PortReturn::PortReturn(TComm& comm, DeviceEnumerator devices, QObject* parent)
    : QObject(parent), comm_(comm), devices_(std::move(devices)), timer_(new QTimer(this)) {
    timer_->setInterval(kDefaultIntervalMs);
    connect(timer_, &QTimer::timeout, this, &PortReturn::look);
    connect(&comm_, &TComm::OnPortOpened, this, &PortReturn::portOpened);
}

PortReturn::~PortReturn() = default;

void PortReturn::setInterval(int ms) {
    timer_->setInterval(ms);
}

bool PortReturn::searching() const {
    return timer_->isActive();
}

void PortReturn::cancel() {
    timer_->stop();
}

QString PortReturn::serialNumberOf(const QString& location,
                                   const QList<DeviceInfo>& devices) const {
    const QString device = QFileInfo(location).canonicalFilePath();
    for (const DeviceInfo& d : devices) {
        if (d.location == location ||
            (!device.isEmpty() && QFileInfo(d.location).canonicalFilePath() == device)) {
            return d.serialNumber;
        }
    }
    return {};
}

void PortReturn::portOpened() {
    if (reopening_) {
        return;
    }
    // The operator's own open: that port is the one to bring back from now on.
    timer_->stop();
    name_ = comm_.CommName();
    sameDeviceAgain_ = false;
    const QList<DeviceInfo> devices = devices_ ? devices_() : QList<DeviceInfo>{};
    serialNumber_ = serialNumberOf(name_, devices);
}

void PortReturn::lineLost() {
    if (name_.isEmpty()) {
        return;
    }
    wentAway_ = false;
    mustGoAway_ = sameDeviceAgain_;
    timer_->start();
}

void PortReturn::look() {
    if (comm_.isOpen()) {
        timer_->stop(); // opened meanwhile, by whoever
        return;
    }
    const QList<DeviceInfo> devices = devices_ ? devices_() : QList<DeviceInfo>{};
    QString location;
    const QString device = deviceBehind(name_, devices);
    if (device.isEmpty()) {
        wentAway_ = true;
    } else if (wentAway_ || !mustGoAway_) {
        location = name_;
    }
    if (location.isEmpty() && !serialNumber_.isEmpty()) {
        for (const DeviceInfo& d : devices) {
            if (d.serialNumber == serialNumber_ && d.location != name_) {
                location = d.location;
                break;
            }
        }
    }
    if (location.isEmpty()) {
        return;
    }
    comm_.setCommName(location);
    reopening_ = true;
    try {
        comm_.OpenPort();
    } catch (const ECommsError&) {
        // Just plugged in, the device may not be ready (or not yet ours to use): next time.
        reopening_ = false;
        comm_.setCommName(name_);
        return;
    }
    reopening_ = false;
    timer_->stop();
    // Reopened without having been seen gone (unplugged and plugged within one look, or a line
    // that failed on a device still there): should it fail again, it must go away first.
    sameDeviceAgain_ = !wentAway_ && location == name_;
    name_ = location;
    emit reopened(location);
}

} // namespace ufd::serial

#pragma once

#include "core/serial/port_discovery.h"

#include <QObject>
#include <QString>

class QTimer;

namespace ufd::serial {

class TComm;

// Brings a lost line back. Every port the component opens is remembered with the USB serial
// number of its device; once its line is lost, the device is looked for until it appears again:
// under the same name, or under a new name with the same serial number (an adapter plugged into
// another socket). It is then opened with the component's settings, which the loss left as they
// were. A port reopened without having been seen gone that fails again is opened again only after
// it has gone away, so that a port that keeps failing does not come and go by itself; an open
// the operator makes meanwhile ends the search.
class PortReturn : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultIntervalMs = 300;

    explicit PortReturn(TComm& comm, DeviceEnumerator devices = systemDevices,
                        QObject* parent = nullptr);
    ~PortReturn() override;

    // The line of the port opened last was lost and the port closed: the search begins.
    void lineLost();
    void cancel();
    bool searching() const;

    void setDevices(DeviceEnumerator devices) { devices_ = std::move(devices); }
    void setInterval(int ms);

signals:
    // The port is open again, under `location`.
    void reopened(const QString& location);

private:
    void portOpened();
    void look();
    QString serialNumberOf(const QString& location, const QList<DeviceInfo>& devices) const;

    TComm& comm_;
    DeviceEnumerator devices_;
    QTimer* timer_;
    QString name_;                 // as the port was opened
    QString serialNumber_;         // of its device, when it is a USB adapter with one
    bool wentAway_ = false;        // seen gone since the line was lost
    bool sameDeviceAgain_ = false; // the last reopen was of a device never seen gone
    bool mustGoAway_ = false;
    bool reopening_ = false;
};

} // namespace ufd::serial

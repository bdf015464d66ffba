#include "core/serial/comm.h"

#include <QDir>
#include <QFileInfo>
#include <QMetaMethod>
#include <QMetaObject>
#include <utility>

namespace ufd::serial {

TComm::TComm(QObject* parent) : QObject(parent) {}

TComm::~TComm() {
    ClosePort();
}

void TComm::OpenPort() {
    if (port_.isOpen()) {
        throw ECommsError(kMsgAlreadyOpen);
    }
    const OpenError error = port_.open(commName_, line_, timeouts_);
    switch (error) {
    case OpenError::None:
        emit OnPortOpened();
        return;
    case OpenError::CannotOpen:
    case OpenError::NotFound:
    case OpenError::PermissionDenied:
        break;
    case OpenError::NotCommDevice:
        throw ECommsError(kMsgNotCommHandle, openFailureReason(commName_, error));
    case OpenError::NoReadThread:
        throw ECommsError(kMsgNoReadThread);
    }
    throw ECommsError(kMsgOpenFailed, openFailureReason(commName_, error));
}

QString openFailureReason(const QString& name, OpenError error) {
    const QString shown = QDir::toNativeSeparators(name);
    // A device reached through a link (the simulator's, /dev/serial/by-id/...) is judged by the
    // device itself.
    const QFileInfo device(
        QFileInfo(name).canonicalFilePath().isEmpty() ? name : QFileInfo(name).canonicalFilePath());
    switch (error) {
    case OpenError::PermissionDenied:
        if (device.exists() && (!device.isReadable() || !device.isWritable())) {
            const QString group = device.group();
            if (!group.isEmpty() && group != QLatin1String("root")) {
                return QStringLiteral("No permission to use %1: the port belongs to the group "
                                      "\"%2\". Join that group (sudo usermod -aG %2 $USER) and log "
                                      "in again.")
                    .arg(shown, group);
            }
            return QStringLiteral("No permission to use %1 (owner %2). Ask the administrator for "
                                  "read and write access to it.")
                .arg(shown, device.owner());
        }
        return QStringLiteral("%1 is held by another program. Close that program, or choose "
                              "another port.")
            .arg(shown);
    case OpenError::NotFound:
        return QStringLiteral("There is no port %1: is the adapter plugged in?").arg(shown);
    case OpenError::NotCommDevice:
        return QStringLiteral("%1 is not a serial port.").arg(shown);
    case OpenError::None:
    case OpenError::CannotOpen:
    case OpenError::NoReadThread:
        break;
    }
    return {};
}

void TComm::ClosePort() {
    port_.close();
    // Notices the I/O thread posted before the close are for a line that is gone.
    ++generation_;
}

bool TComm::WriteData(const std::uint8_t* buffer, std::uint16_t length) {
    if (buffer == nullptr) {
        return false;
    }
    return port_.write(buffer, length);
}

// The notices run on the component's thread; a component destroyed first drops them with its
// pending events, and its destructor has ended the I/O thread before that. A notice carries the
// open it belongs to: after ClosePort it is dropped, so a late hang-up cannot close a new line.
template <typename Emit> void TComm::Notifier::post(Emit emitNotice) {
    TComm* owner = &owner_;
    const quint64 generation = owner->generation_;
    QMetaObject::invokeMethod(
        owner,
        [owner, generation, e = std::move(emitNotice)] {
            if (generation == owner->generation_) {
                e(*owner);
            }
        },
        Qt::QueuedConnection);
}

void TComm::Notifier::dataReceived(QByteArray block) {
    post([b = std::move(block)](TComm& owner) { emit owner.OnReceiveData(b); });
}

void TComm::Notifier::hangup() {
    post([](TComm& owner) { emit owner.OnRequestHangup(); });
}

void TComm::connectNotify(const QMetaMethod& signal) {
    if (signal == QMetaMethod::fromSignal(&TComm::OnSendDataEmpty)) {
        ++sentListeners_;
    }
}

void TComm::disconnectNotify(const QMetaMethod& signal) {
    if (signal == QMetaMethod::fromSignal(&TComm::OnSendDataEmpty)) {
        --sentListeners_;
    }
}

void TComm::Notifier::sendQueueEmpty() {
    if (owner_.sentListeners_ <= 0) {
        return;
    }
    post([](TComm& owner) { emit owner.OnSendDataEmpty(); });
}

} // namespace ufd::serial

#include "core/serial/comm.h"

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
    switch (port_.open(commName_, line_, timeouts_)) {
    case OpenError::None:
        return;
    case OpenError::CannotOpen:
        throw ECommsError(kMsgOpenFailed);
    case OpenError::NotCommDevice:
        throw ECommsError(kMsgNotCommHandle);
    case OpenError::NoReadThread:
        throw ECommsError(kMsgNoReadThread);
    }
    throw ECommsError(kMsgOpenFailed);
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

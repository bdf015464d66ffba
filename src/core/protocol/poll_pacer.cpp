#include "core/protocol/poll_pacer.h"

#include "core/protocol/dispatcher.h"

namespace ufd::protocol {

PollPacer::PollPacer(Dispatcher& dispatcher, QObject* parent)
    : QObject(parent), dispatcher_(dispatcher) {
    timer_.setObjectName(QStringLiteral("Timer_RealData"));
    timer_.setInterval(kPeriodMs);
    connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
    connect(&dispatcher_, &Dispatcher::onlineData, this, &PollPacer::onAnswer);
}

void PollPacer::start() {
    due_ = false;
    timer_.setInterval(kPeriodMs);
    timer_.start();
}

void PollPacer::stop() {
    timer_.stop();
    due_ = false;
}

bool PollPacer::send() {
    if (!dispatcher_.SendOnlinePoll()) {
        return false;
    }
    due_ = false;
    awaited_ = true;
    sinceSent_.start();
    ++polls_;
    emit polled();
    return true;
}

bool PollPacer::tick() {
    if (send()) {
        return true;
    }
    due_ = true;
    return false;
}

void PollPacer::onAnswer() {
    if (awaited_ && !dispatcher_.pollOutstanding()) {
        awaited_ = false;
        lastDelayMs_ = sinceSent_.elapsed();
    }
    // A poll held back for this answer goes now, and the period counts from it.
    if (due_ && timer_.isActive() && send()) {
        timer_.start();
    }
}

} // namespace ufd::protocol

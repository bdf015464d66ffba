#include "core/protocol/poll_pacer.h"

#include "core/protocol/dispatcher.h"

#include <algorithm>

namespace ufd::protocol {

PollPacer::PollPacer(Dispatcher& dispatcher, QObject* parent)
    : QObject(parent), dispatcher_(dispatcher) {
    clock_.start();
    timer_.setObjectName(QStringLiteral("Timer_RealData"));
    timer_.setInterval(kPeriodMs);
    connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
    connect(&dispatcher_, &Dispatcher::onlineData, this, &PollPacer::onAnswer);
}

void PollPacer::start() {
    due_ = false;
    waitingSince_ = -1;
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
    // A poll given up for a lost answer does not restart the wait: the view has been without
    // an answer since the first of them.
    if (waitingSince_ < 0) {
        waitingSince_ = clock_.elapsed();
    }
    ++polls_;
    emit polled();
    return true;
}

void PollPacer::checkOverdue() {
    if (overdue_ || waitingSince_ < 0) {
        return;
    }
    if (clock_.elapsed() - waitingSince_ >= dispatcher_.pollTimeout()) {
        overdue_ = true;
        emit answersOverdue();
    }
}

bool PollPacer::tick() {
    checkOverdue();
    if (send()) {
        return true;
    }
    due_ = true;
    return false;
}

double PollPacer::answerRate() const {
    if (overdue_ || answerCount_ < 2) {
        return 0.0;
    }
    const std::size_t n = std::min(answerCount_, kRateWindow);
    const qint64 newest = answerTimes_[(answerCount_ - 1) % kRateWindow];
    const qint64 oldest = answerTimes_[(answerCount_ - n) % kRateWindow];
    return newest > oldest
               ? 1000.0 * static_cast<double>(n - 1) / static_cast<double>(newest - oldest)
               : 0.0;
}

void PollPacer::onAnswer() {
    const qint64 t = clock_.elapsed();
    if (awaited_ && !dispatcher_.pollOutstanding()) {
        awaited_ = false;
        lastDelayMs_ = sinceSent_.elapsed();
    }
    // An answer after a pause starts the rate afresh: the pause is not part of the line's pace.
    if (overdue_) {
        answerCount_ = 0;
    }
    answerTimes_[answerCount_ % kRateWindow] = t;
    ++answerCount_;
    // A pushed answer while a poll is out: that poll's wait starts again from here.
    waitingSince_ = dispatcher_.pollOutstanding() ? t : -1;
    overdue_ = false;
    lastAnswerTime_ = QDateTime::currentDateTime();
    emit answered();
    // A poll held back for this answer goes now, and the period counts from it.
    if (due_ && timer_.isActive() && send()) {
        timer_.start();
    }
}

} // namespace ufd::protocol

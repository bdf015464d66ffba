#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

namespace ufd::protocol {

class Dispatcher;

// Paces the live poll to the line: the next poll goes out one period after the previous one or
// as soon as its answer is in, whichever is later, so polls never pile up in the instrument
// when the line is too slow for ten answers a second.
class PollPacer : public QObject {
    Q_OBJECT
public:
    static constexpr int kPeriodMs = 100;

    explicit PollPacer(Dispatcher& dispatcher, QObject* parent = nullptr);

    // The period timer; each tick calls tick().
    QTimer* timer() { return &timer_; }
    void start();
    void stop();

    // Sends the poll unless the previous one is still awaited; then it goes out when the
    // answer comes. Returns whether a poll went out.
    bool tick();

    // Polls that went out, and how long the last answered one took from poll to answer.
    long long polls() const { return polls_; }
    qint64 lastAnswerDelayMs() const { return lastDelayMs_; }

signals:
    void polled();

private:
    void onAnswer();
    bool send();

    Dispatcher& dispatcher_;
    QTimer timer_;
    QElapsedTimer sinceSent_;
    bool due_ = false;
    bool awaited_ = false;
    long long polls_ = 0;
    qint64 lastDelayMs_ = -1;
};

} // namespace ufd::protocol

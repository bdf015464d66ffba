#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <array>

namespace ufd::protocol {

class Dispatcher;

// Paces the live poll to the line: the next poll goes out one period after the previous one or
// as soon as its answer is in, whichever is later, so polls never pile up in the instrument
// when the line is too slow for ten answers a second. It also tells when the answers stop: an
// answer not in within its line time and a second makes the live view stale until the next one.
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
    // Answers a second over the last few answers; 0 before two have come or while overdue.
    double answerRate() const;
    // True from the moment an awaited answer is overdue until the next answer arrives.
    bool overdue() const { return overdue_; }
    // Local time of the last answer; invalid before the first.
    const QDateTime& lastAnswerTime() const { return lastAnswerTime_; }

signals:
    void polled();
    // An awaited answer is overdue: what is shown stopped being live at lastAnswerTime().
    void answersOverdue();
    // An answer arrived; after answersOverdue() the view is live again.
    void answered();

private:
    void onAnswer();
    bool send();
    void checkOverdue();

    static constexpr std::size_t kRateWindow = 10;

    Dispatcher& dispatcher_;
    QTimer timer_;
    QElapsedTimer sinceSent_;
    QElapsedTimer clock_;
    // Since when an answer has been awaited without one coming (-1: none awaited).
    qint64 waitingSince_ = -1;
    bool due_ = false;
    bool awaited_ = false;
    bool overdue_ = false;
    long long polls_ = 0;
    qint64 lastDelayMs_ = -1;
    QDateTime lastAnswerTime_;
    std::array<qint64, kRateWindow> answerTimes_{};
    std::size_t answerCount_ = 0;
};

} // namespace ufd::protocol

#pragma once

#include "core/online/live_recording.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <functional>

class QLabel;
class QPushButton;
class QWidget;

namespace ufd::app {
class OperatorMessages;
}

namespace ufd::online {

// "Record" and "Stop" of the online window: every live record the window shows goes through
// take(); "Record" writes the last 10 s and everything after them into Record/ until "Stop", a
// lost line or the window's closing ends the recording with the frames it has.
class RecordingControl : public QObject {
public:
    // `answerRate`: answers a second as measured now (0 when not known), the header's frame rate.
    RecordingControl(app::OperatorMessages& messages, QWidget* window,
                     std::function<double()> answerRate);

    // Record/ of the program folder; made when it is missing.
    void setFolder(const QString& folder) { folder_ = folder; }
    // One live record (kRecordSize bytes, live encoding) as it arrived.
    void take(const std::uint8_t* liveRecord);
    void recordClick();
    void stopClick();
    // Ends a running recording with the frames it has, saying why (empty: the window closes).
    void end(const QString& why);

    bool recording() const { return recorder_.recording(); }
    const LiveRecorder& recorder() const { return recorder_; }
    QPushButton* recordButton() const { return record_; }
    QPushButton* stopButton() const { return stop_; }
    // What the recording is doing: its file and frames, or how it ended.
    QLabel* statusLabel() const { return status_; }
    QString statusText() const;

private:
    void finish(const QString& why);
    void showProgress();
    void enable();

    app::OperatorMessages& messages_;
    std::function<double()> answerRate_;
    LiveRecorder recorder_;
    QElapsedTimer clock_;
    QString folder_;
    QPushButton* record_ = nullptr;
    QPushButton* stop_ = nullptr;
    QLabel* status_ = nullptr;
};

} // namespace ufd::online

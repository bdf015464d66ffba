#pragma once

#include "core/online/record.h"

#include <QWidget>
#include <functional>

class QPushButton;
class QStatusBar;
class QTimer;
class QLabel;

namespace ufd::app {
class OperatorMessages;
}
namespace ufd::protocol {
class Dispatcher;
class PollPacer;
} // namespace ufd::protocol

namespace ufd::reports {
class DataStore;
}

namespace ufd::online {

class RecordView;
class RecordingControl;
class ReferenceControl;

// "Online monitoring": polls the instrument ten times a second while running (fewer when the
// line cannot carry more: a poll waits for the previous answer) and shows every live record
// that arrives, polled or pushed.
class TSssj : public QWidget {
public:
    TSssj(protocol::Dispatcher& dispatcher, std::function<bool()> portOpen,
          app::OperatorMessages& messages, QWidget* parent = nullptr);

    void BitBtn_StartClick();
    void BitBtn_StopClick();
    // Saves the picture with its six readings in Outfiles/ and copies it to the clipboard.
    void BitBtn_ScreenshotClick();
    // Outfiles/ of the program folder, where pictures go.
    void setOutputFolder(const QString& folder) { outputFolder_ = folder; }
    // Record/ of the program folder, where recordings go.
    void setRecordFolder(const QString& folder);
    // The archive whose reports can be the reference echo.
    void setArchive(reports::DataStore* store);
    void Timer_RealDataTimer();
    // One live packet (codes 48 and 20 alike).
    void OnlineDataShowProc(const QByteArray& packet);

    QPushButton* startButton() const { return BitBtn_Start_; }
    QPushButton* stopButton() const { return BitBtn_Stop_; }
    QPushButton* screenshotButton() const { return BitBtn_Screenshot_; }
    QTimer* pollTimer() const;
    protocol::PollPacer* pacer() const { return pacer_; }
    QString statusText() const;
    // Answers a second and the last answer's delay.
    QString rateText() const;
    RecordView* view() const { return view_; }
    RecordingControl* recording() const { return recording_; }
    ReferenceControl* reference() const { return reference_; }
    const TOnlineData& onlineData() const { return *online_; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void setStatus(const QString& text);
    void onPolled();
    void onOverdue();
    void onAnswered();
    void onLineGone(const QString& text);
    void stopPolling();

    protocol::Dispatcher& dispatcher_;
    std::function<bool()> portOpen_;
    app::OperatorMessages& messages_;
    std::unique_ptr<TOnlineData> online_;
    int pollCounter_ = 0;
    bool shownOnce_ = false;

    RecordView* view_ = nullptr;
    QPushButton* BitBtn_Start_ = nullptr;
    QPushButton* BitBtn_Stop_ = nullptr;
    QPushButton* BitBtn_Screenshot_ = nullptr;
    QString outputFolder_;
    protocol::PollPacer* pacer_ = nullptr;
    QLabel* panel0_ = nullptr;
    QLabel* ratePanel_ = nullptr;
    RecordingControl* recording_ = nullptr;
    ReferenceControl* reference_ = nullptr;
};

} // namespace ufd::online

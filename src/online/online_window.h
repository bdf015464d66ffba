#pragma once

#include "online/record.h"

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
}

namespace ufd::online {

class RecordView;

// "Online monitoring": polls the instrument ten times a second while running and shows every
// live record that arrives, polled or pushed.
class TSssj : public QWidget {
public:
    TSssj(protocol::Dispatcher& dispatcher, std::function<bool()> portOpen,
          app::OperatorMessages& messages, QWidget* parent = nullptr);

    void BitBtn_StartClick();
    void BitBtn_StopClick();
    void Timer_RealDataTimer();
    // One live packet (codes 48 and 20 alike).
    void OnlineDataShowProc(const QByteArray& packet);

    QPushButton* startButton() const { return BitBtn_Start_; }
    QPushButton* stopButton() const { return BitBtn_Stop_; }
    QTimer* pollTimer() const { return Timer_RealData_; }
    QString statusText() const;
    RecordView* view() const { return view_; }
    const TOnlineData& onlineData() const { return *online_; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void setStatus(const QString& text);

    protocol::Dispatcher& dispatcher_;
    std::function<bool()> portOpen_;
    app::OperatorMessages& messages_;
    std::unique_ptr<TOnlineData> online_;
    int pollCounter_ = 0;
    bool shownOnce_ = false;

    RecordView* view_ = nullptr;
    QPushButton* BitBtn_Start_ = nullptr;
    QPushButton* BitBtn_Stop_ = nullptr;
    QTimer* Timer_RealData_ = nullptr;
    QLabel* panel0_ = nullptr;
};

} // namespace ufd::online

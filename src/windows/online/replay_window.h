#pragma once

#include "core/online/replay_state.h"

#include <QString>
#include <QWidget>
#include <functional>

class QPushButton;
class QTimer;
class QLabel;
class QLineEdit;

namespace ufd::app {
class OperatorMessages;
}

namespace ufd::online {

class NumericDisplay;
class RecordView;

// "Video replay": opens a recording and plays it frame by frame on the record view.
class TFYaokong : public QWidget {
public:
    using FileChooser = std::function<QString(QWidget* parent, const QString& folder)>;

    TFYaokong(ReplayState& state, app::OperatorMessages& messages, const QString& programFolder,
              QWidget* parent = nullptr);

    // Tests replace the file dialog.
    void setFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }

    void sbtOpenVideoClick();
    void sbtPlayClick();
    // Saves the picture with its six readings in Outfiles/ and copies it to the clipboard.
    void sbtSaveImageClick();
    void sbtStopClick();
    void Timer1Timer();
    void stbDeleteClick();

    QString statusText() const;
    QPushButton* playButton() const { return sbtPlay_; }
    QPushButton* stopButton() const { return sbtStop_; }
    QTimer* timer() const { return Timer1_; }
    RecordView* view() const { return view_; }
    NumericDisplay* timeDisplay() const { return iAnalogDisplay7_; }
    QPushButton* screenshotButton() const { return sbtSaveImage_; }
    double remainingTime() const { return remaining_; }

private:
    void setTimeDisplay(double seconds);

    ReplayState& state_;
    app::OperatorMessages& messages_;
    QString recordFolder_;
    QString outputFolder_;
    FileChooser chooseFile_;

    RecordView* view_ = nullptr;
    NumericDisplay* iAnalogDisplay7_ = nullptr;
    QLineEdit* videoDate_ = nullptr;
    QLineEdit* videoTime_ = nullptr;
    QPushButton* sbtOpenVideo_ = nullptr;
    QPushButton* sbtPlay_ = nullptr;
    QPushButton* sbtStop_ = nullptr;
    QPushButton* sbtSaveImage_ = nullptr;
    QPushButton* sbtEditRecord_ = nullptr;
    QPushButton* stbDelete_ = nullptr;
    QTimer* Timer1_ = nullptr;
    QLabel* panel0_ = nullptr;
    double remaining_ = 0;
};

} // namespace ufd::online

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

namespace ufd::reports {
class DataStore;
}

namespace ufd::online {

class NumericDisplay;
class RecordView;
class ReferenceControl;

// "Video replay": opens a recording and plays it frame by frame on the record view.
class TFYaokong : public QWidget {
public:
    using FileChooser = std::function<QString(QWidget* parent, const QString& folder)>;

    TFYaokong(ReplayState& state, app::OperatorMessages& messages, const QString& programFolder,
              QWidget* parent = nullptr);

    // Tests replace the file dialog.
    void setFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }
    // What opens a written CSV file; the desktop's application unless replaced.
    void setOpener(std::function<void(const QString& path)> opener) { opener_ = std::move(opener); }
    // The archive whose reports can be the reference echo.
    void setArchive(reports::DataStore* store);

    void sbtOpenVideoClick();
    void sbtPlayClick();
    // Saves the picture with its six readings in Outfiles/ and copies it to the clipboard.
    void sbtSaveImageClick();
    void sbtStopClick();
    void Timer1Timer();
    void stbDeleteClick();
    // The frame on the screen (before the first, the next to play) as the report CSV writes a
    // report, into Outfiles/; the file written, or empty having said why.
    QString sbtFrameCsvClick();
    // Every frame's readings with the time since the first frame, into Outfiles/.
    QString sbtRecordingCsvClick();

    QString statusText() const;
    QPushButton* playButton() const { return sbtPlay_; }
    QPushButton* stopButton() const { return sbtStop_; }
    QTimer* timer() const { return Timer1_; }
    RecordView* view() const { return view_; }
    NumericDisplay* timeDisplay() const { return iAnalogDisplay7_; }
    QPushButton* screenshotButton() const { return sbtSaveImage_; }
    QPushButton* frameCsvButton() const { return sbtFrameCsv_; }
    QPushButton* recordingCsvButton() const { return sbtRecordingCsv_; }
    ReferenceControl* reference() const { return reference_; }
    double remainingTime() const { return remaining_; }

private:
    void setTimeDisplay(double seconds);
    QString writeCsv(const QString& name, const QByteArray& bytes);

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
    QPushButton* sbtFrameCsv_ = nullptr;
    QPushButton* sbtRecordingCsv_ = nullptr;
    ReferenceControl* reference_ = nullptr;
    std::function<void(const QString&)> opener_;
    QString openedPath_; // the recording this window opened
    QTimer* Timer1_ = nullptr;
    QLabel* panel0_ = nullptr;
    double remaining_ = 0;
};

} // namespace ufd::online

#include "windows/online/recording_control.h"

#include "widgets/operator_messages.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>

namespace ufd::online {

RecordingControl::RecordingControl(app::OperatorMessages& messages, QWidget* window,
                                   std::function<double()> answerRate)
    : QObject(window), messages_(messages), answerRate_(std::move(answerRate)) {
    clock_.start();
    record_ = new QPushButton(QStringLiteral("Record"), window);
    record_->setObjectName(QStringLiteral("BitBtn_Record"));
    record_->setToolTip(QStringLiteral("Record the live view into Record/, from 10 s back"));
    stop_ = new QPushButton(QStringLiteral("Stop"), window);
    stop_->setObjectName(QStringLiteral("BitBtn_RecordStop"));
    stop_->setToolTip(QStringLiteral("End the recording"));
    status_ = new QLabel(window);
    status_->setObjectName(QStringLiteral("RecordingStatus"));
    connect(record_, &QPushButton::clicked, this, [this] { recordClick(); });
    connect(stop_, &QPushButton::clicked, this, [this] { stopClick(); });
    enable();
}

QString RecordingControl::statusText() const {
    return status_->text();
}

void RecordingControl::enable() {
    record_->setEnabled(!recorder_.recording());
    stop_->setEnabled(recorder_.recording());
}

void RecordingControl::take(const std::uint8_t* liveRecord) {
    if (recorder_.recording()) {
        recorder_.setFrameRate(answerRate_());
    }
    if (!recorder_.take(liveRecord, clock_.elapsed(), QDateTime::currentDateTime())) {
        // The disk refused a frame: what was written stays, and the operator hears of it.
        finish(recorder_.lastError());
        messages_.showMessage(recorder_.lastError());
        return;
    }
    if (recorder_.recording()) {
        showProgress();
    }
}

void RecordingControl::showProgress() {
    status_->setText(recorder_.frames() == 0
                         ? QStringLiteral("Recording: waiting for the first answer")
                         : QStringLiteral("Recording %1: %2 frames")
                               .arg(QFileInfo(recorder_.path()).fileName())
                               .arg(recorder_.frames()));
}

void RecordingControl::recordClick() {
    if (recorder_.recording()) {
        return;
    }
    if (!QDir().mkpath(folder_)) {
        messages_.showMessage(
            QStringLiteral("Cannot make the folder %1.").arg(QDir::toNativeSeparators(folder_)));
        return;
    }
    if (!recorder_.startInFolder(folder_, answerRate_())) {
        messages_.showMessage(recorder_.lastError());
        finish(recorder_.lastError());
        return;
    }
    showProgress();
    enable();
}

void RecordingControl::stopClick() {
    finish(QString());
}

void RecordingControl::end(const QString& why) {
    if (recorder_.recording()) {
        finish(why);
    }
}

void RecordingControl::finish(const QString& why) {
    const std::uint32_t frames = recorder_.stop();
    const QString name = QFileInfo(recorder_.path()).fileName();
    if (frames == 0) {
        status_->setText(QStringLiteral("Nothing recorded: ") +
                         (why.isEmpty() ? QStringLiteral("no live record came") : why));
    } else if (why.isEmpty()) {
        status_->setText(QStringLiteral("Recorded %1 frames in %2").arg(frames).arg(name));
    } else {
        status_->setText(
            QStringLiteral("Recording ended with %1 frames in %2: %3").arg(frames).arg(name, why));
    }
    enable();
}

} // namespace ufd::online

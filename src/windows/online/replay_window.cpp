#include "windows/online/replay_window.h"

#include "core/documents/recording_csv.h"
#include "core/documents/waveform_csv.h"
#include "core/online/text_format.h"
#include "widgets/busy_cursor.h"
#include "widgets/numeric_display.h"
#include "widgets/operator_messages.h"
#include "widgets/remembered.h"
#include "widgets/screen_picture.h"
#include "widgets/status_panels.h"
#include "windows/online/record_view.h"
#include "windows/online/reference_control.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace ufd::online {

namespace {

QPushButton* makeButton(QWidget* parent, const QString& name, const QString& caption,
                        const QString& hint) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setToolTip(hint);
    return b;
}

} // namespace

TFYaokong::TFYaokong(ReplayState& state, app::OperatorMessages& messages,
                     const QString& programFolder, QWidget* parent)
    : QWidget(parent), state_(state), messages_(messages),
      recordFolder_(QDir(programFolder).filePath(QStringLiteral("Record")) + QLatin1Char('/')),
      outputFolder_(QDir(programFolder).filePath(QStringLiteral("Outfiles"))) {
    setObjectName(QStringLiteral("TFYaokong"));
    setWindowTitle(QStringLiteral("Video replay"));
    setAttribute(Qt::WA_DeleteOnClose);

    chooseFile_ = [](QWidget* p, const QString& folder) {
        return QFileDialog::getOpenFileName(p, QString(), folder, QStringLiteral("*.Rec"));
    };

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(6, 6, 6, 0);
    sbtOpenVideo_ = makeButton(this, QStringLiteral("sbtOpenVideo"), QStringLiteral("Open File"),
                               QStringLiteral("关闭"));
    sbtPlay_ =
        makeButton(this, QStringLiteral("sbtPlay"), QStringLiteral("Play"), QStringLiteral("播放"));
    sbtStop_ =
        makeButton(this, QStringLiteral("sbtStop"), QStringLiteral("Stop"), QStringLiteral("停止"));
    sbtSaveImage_ = makeButton(this, QStringLiteral("sbtSaveImage"), QStringLiteral("Screenshot"),
                               QStringLiteral("Screenshot"));
    sbtEditRecord_ = makeButton(this, QStringLiteral("sbtEditRecord"), QStringLiteral("Edit"),
                                QStringLiteral("编辑报告"));
    stbDelete_ = makeButton(this, QStringLiteral("stbDelete"), QStringLiteral("Quit"),
                            QStringLiteral("删除该记录"));
    for (QPushButton* b :
         {sbtOpenVideo_, sbtPlay_, sbtStop_, sbtSaveImage_, sbtEditRecord_, stbDelete_}) {
        bar->addWidget(b);
    }
    sbtFrameCsv_ = makeButton(this, QStringLiteral("sbtFrameCsv"), QStringLiteral("Frame CSV"),
                              QStringLiteral("The frame on the screen as a CSV file"));
    sbtRecordingCsv_ =
        makeButton(this, QStringLiteral("sbtRecordingCsv"), QStringLiteral("Recording CSV"),
                   QStringLiteral("Every frame's readings as a CSV file"));
    bar->addSpacing(12);
    bar->addWidget(sbtFrameCsv_);
    bar->addWidget(sbtRecordingCsv_);
    bar->addStretch(1);
    iAnalogDisplay7_ = new NumericDisplay(DisplayPicture::Clock, this);
    iAnalogDisplay7_->setObjectName(QStringLiteral("iAnalogDisplay7"));
    iAnalogDisplay7_->setText(QStringLiteral("0.0"));
    bar->addWidget(iAnalogDisplay7_);
    outer->addLayout(bar);

    view_ = new RecordView(RecordView::Kind::Replay, this);
    reference_ = new ReferenceControl(view_, messages_, this, [this] {
        const auto shown = state_.shownFrame();
        return QStringLiteral("%1 frame %2")
            .arg(QFileInfo(openedPath_).fileName())
            .arg(shown ? *shown + 1 : 0);
    });
    bar->insertWidget(bar->count() - 1, reference_->referenceButton());
    bar->insertWidget(bar->count() - 1, reference_->clearButton());
    videoDate_ = view_->addSideField(QStringLiteral("Date"), QStringLiteral("suiEdit_VideoDate"));
    videoTime_ = view_->addSideField(QStringLiteral("Time"), QStringLiteral("suiEdit_VideoTime"));
    outer->addWidget(view_, 1);

    // The first panel says only when a recording is cut short.
    panel0_ = app::addStatusPanels(this, outer, {300, 50}).first();

    Timer1_ = new QTimer(this);
    Timer1_->setTimerType(Qt::PreciseTimer);

    // FormCreate: nothing to play until a file is opened.
    sbtPlay_->setEnabled(false);
    sbtStop_->setEnabled(false);
    sbtEditRecord_->setEnabled(false);
    sbtSaveImage_->setEnabled(false);
    sbtFrameCsv_->setEnabled(false);
    sbtRecordingCsv_->setEnabled(false);
    opener_ = [](const QString& path) { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); };

    connect(sbtOpenVideo_, &QPushButton::clicked, this, [this] { sbtOpenVideoClick(); });
    connect(sbtPlay_, &QPushButton::clicked, this, [this] { sbtPlayClick(); });
    connect(sbtSaveImage_, &QPushButton::clicked, this, [this] { sbtSaveImageClick(); });
    connect(sbtStop_, &QPushButton::clicked, this, [this] { sbtStopClick(); });
    connect(stbDelete_, &QPushButton::clicked, this, [this] { stbDeleteClick(); });
    connect(sbtFrameCsv_, &QPushButton::clicked, this, [this] { sbtFrameCsvClick(); });
    connect(sbtRecordingCsv_, &QPushButton::clicked, this, [this] { sbtRecordingCsvClick(); });
    connect(Timer1_, &QTimer::timeout, this, [this] { Timer1Timer(); });
    resize(1000, 640);
}

void TFYaokong::setTimeDisplay(double seconds) {
    remaining_ = seconds;
    iAnalogDisplay7_->setText(formatFixed(seconds, 1));
}

void TFYaokong::sbtOpenVideoClick() {
    const QString name =
        chooseFile_(this, app::rememberedFolder(QStringLiteral("replay"), recordFolder_));
    if (name.isEmpty()) {
        return;
    }
    app::rememberFolder(QStringLiteral("replay"), name);
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) {
        messages_.showError(file.errorString());
        return;
    }
    QByteArray bytes = file.readAll();
    if (!state_.open(std::move(bytes))) {
        // The previous valid recording stays loaded and playable, and so does its time.
        messages_.showMessage(recordingRefusedText());
        return;
    }
    openedPath_ = name;
    const Recording* rec = state_.recording();
    videoDate_->setText(rec->dateText());
    videoTime_->setText(rec->timeText());
    setTimeDisplay(rec->playingTime());
    panel0_->setText(rec->cutShort() ? rec->cutShortText() : QString());
    Timer1_->stop();
    Timer1_->setInterval(rec->framePeriodMs());
    sbtPlay_->setEnabled(true);
    sbtStop_->setEnabled(true);
    sbtSaveImage_->setEnabled(true);
    sbtFrameCsv_->setEnabled(true);
    sbtRecordingCsv_->setEnabled(true);
}

void TFYaokong::setArchive(reports::DataStore* store) {
    reference_->setArchive(store);
}

QString TFYaokong::writeCsv(const QString& name, const QByteArray& bytes) {
    if (!QDir(outputFolder_).exists() && !QDir().mkpath(outputFolder_)) {
        messages_.showError(QStringLiteral("Cannot create the folder %1")
                                .arg(QDir::toNativeSeparators(outputFolder_)));
        return {};
    }
    const QString path = documents::waveformCsvPath(outputFolder_, name, bytes);
    if (path.isEmpty()) {
        messages_.showError(QStringLiteral("No file name for \"%1\" in %2")
                                .arg(name, QDir::toNativeSeparators(outputFolder_)));
        return {};
    }
    const QString error = documents::writeCsv(path, bytes);
    if (!error.isEmpty()) {
        messages_.showError(error);
        return {};
    }
    opener_(path);
    return path;
}

QString TFYaokong::sbtFrameCsvClick() {
    const Recording* rec = state_.recording();
    if (rec == nullptr || openedPath_.isEmpty()) {
        return {};
    }
    const std::uint32_t k = state_.shownFrame().value_or(state_.frameCounter());
    return writeCsv(documents::frameCsvName(openedPath_, k), documents::frameCsv(rec->frame(k)));
}

QString TFYaokong::sbtRecordingCsvClick() {
    const Recording* rec = state_.recording();
    if (rec == nullptr || openedPath_.isEmpty()) {
        return {};
    }
    const app::BusyCursor busy;
    return writeCsv(documents::recordingCsvName(openedPath_), documents::recordingCsv(*rec));
}

QString TFYaokong::statusText() const {
    return panel0_->text();
}

void TFYaokong::sbtSaveImageClick() {
    app::takeScreenshot(view_, outputFolder_, messages_);
}

void TFYaokong::sbtPlayClick() {
    if (state_.hasRecording()) {
        Timer1_->start();
    }
}

void TFYaokong::sbtStopClick() {
    Timer1_->stop();
}

void TFYaokong::Timer1Timer() {
    const bool more = state_.takeNextFrame();
    view_->showRecord(state_.frame(), state_.curves());
    if (!more) {
        Timer1_->stop();
    }
    setTimeDisplay(state_.remainingTime());
}

void TFYaokong::stbDeleteClick() {
    close();
}

} // namespace ufd::online

#include "windows/online/online_window.h"

#include "core/protocol/dispatcher.h"
#include "core/protocol/poll_pacer.h"
#include "widgets/ascan_chart.h"
#include "widgets/operator_messages.h"
#include "widgets/screen_picture.h"
#include "widgets/status_panels.h"
#include "windows/online/record_view.h"
#include "windows/online/recording_control.h"
#include "windows/online/reference_control.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QEventLoop>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

namespace ufd::online {

namespace {

// The status text cycles with the poll counter.
constexpr const char* kPollTexts[] = {"In data communication.", "In data communication..",
                                      "In data communication..."};

} // namespace

TSssj::TSssj(protocol::Dispatcher& dispatcher, std::function<bool()> portOpen,
             app::OperatorMessages& messages, QWidget* parent)
    : QWidget(parent), dispatcher_(dispatcher), portOpen_(std::move(portOpen)), messages_(messages),
      online_(std::make_unique<TOnlineData>()) {
    setObjectName(QStringLiteral("TSssj"));
    setWindowTitle(QStringLiteral("Online monitoring"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(6, 6, 6, 0);
    BitBtn_Start_ = new QPushButton(QStringLiteral("Start"), this);
    BitBtn_Start_->setObjectName(QStringLiteral("BitBtn_Start"));
    BitBtn_Stop_ = new QPushButton(QStringLiteral("Stop"), this);
    BitBtn_Stop_->setObjectName(QStringLiteral("BitBtn_Stop"));
    BitBtn_Screenshot_ = new QPushButton(QStringLiteral("Screenshot"), this);
    BitBtn_Screenshot_->setObjectName(QStringLiteral("BitBtn_Screenshot"));
    bar->addWidget(BitBtn_Start_);
    bar->addWidget(BitBtn_Stop_);
    bar->addWidget(BitBtn_Screenshot_);

    view_ = new RecordView(RecordView::Kind::Online, this);
    pacer_ = new protocol::PollPacer(dispatcher_, this);
    recording_ = new RecordingControl(messages_, this, [this] { return pacer_->answerRate(); });
    reference_ = new ReferenceControl(view_, messages_, this, [] {
        return QStringLiteral("Frozen ") +
               QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    });
    // The recording's own "Stop" sits beside "Record", apart from the polling's.
    const auto separator = [this, bar] {
        auto* line = new QFrame(this);
        line->setFrameShape(QFrame::VLine);
        line->setFrameShadow(QFrame::Sunken);
        bar->addSpacing(6);
        bar->addWidget(line);
        bar->addSpacing(6);
    };
    separator();
    bar->addWidget(recording_->recordButton());
    bar->addWidget(recording_->stopButton());
    separator();
    bar->addWidget(reference_->referenceButton());
    bar->addWidget(reference_->clearButton());
    bar->addSpacing(12);
    bar->addWidget(recording_->statusLabel(), 1);
    outer->addLayout(bar);
    outer->addWidget(view_, 1);

    const QList<QLabel*> panels = app::addStatusPanels(this, outer, {300, 50, 380});
    panel0_ = panels.first();
    ratePanel_ = panels.last();
    ratePanel_->setObjectName(QStringLiteral("Panel_AnswerRate"));

    // FormCreate: idle, nothing drawn until the first record.
    BitBtn_Stop_->setEnabled(false);
    BitBtn_Start_->setEnabled(true);

    connect(BitBtn_Start_, &QPushButton::clicked, this, [this] { BitBtn_StartClick(); });
    connect(BitBtn_Stop_, &QPushButton::clicked, this, [this] { BitBtn_StopClick(); });
    connect(BitBtn_Screenshot_, &QPushButton::clicked, this, [this] { BitBtn_ScreenshotClick(); });
    connect(pacer_, &protocol::PollPacer::polled, this, [this] { onPolled(); });
    connect(pacer_, &protocol::PollPacer::answersOverdue, this, [this] { onOverdue(); });
    connect(pacer_, &protocol::PollPacer::answered, this, [this] { onAnswered(); });
    connect(&dispatcher_, &protocol::Dispatcher::lineGone, this,
            [this](const QString& text) { onLineGone(text); });
    connect(&dispatcher_, &protocol::Dispatcher::onlineData, this,
            [this](const QByteArray& packet) { OnlineDataShowProc(packet); });
    resize(1100, 700);
}

QTimer* TSssj::pollTimer() const {
    return pacer_->timer();
}

QString TSssj::statusText() const {
    return panel0_->text();
}

void TSssj::setStatus(const QString& text) {
    panel0_->setText(text);
}

void TSssj::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (shownOnce_) {
        return;
    }
    shownOnce_ = true;
    app::announcePortState(portOpen_(), messages_, panel0_);
}

void TSssj::BitBtn_StartClick() {
    if (!portOpen_()) {
        messages_.showMessage(QStringLiteral("请您先在“通信设置”菜单中打开通信口！"));
        return;
    }
    pollCounter_ = 0;
    pacer_->start();
    BitBtn_Start_->setEnabled(false);
    BitBtn_Stop_->setEnabled(true);
    setStatus(QStringLiteral("准备..."));
}

// A tick sends the poll only once the previous one is answered or given up; the pacer then
// reports each poll that goes out.
void TSssj::Timer_RealDataTimer() {
    pacer_->tick();
}

void TSssj::onPolled() {
    ++pollCounter_;
    // While the answers are overdue the panel keeps saying so.
    if (!pacer_->overdue()) {
        setStatus(QString::fromLatin1(kPollTexts[pollCounter_ % 3]));
    }
}

QString TSssj::rateText() const {
    return ratePanel_->text();
}

namespace {

QString lastAnswerNote(const QDateTime& at) {
    return at.isValid()
               ? QStringLiteral("not live, last answer ") + at.toString(QStringLiteral("hh:mm:ss"))
               : QStringLiteral("not live, no answer yet");
}

} // namespace

void TSssj::onOverdue() {
    const QDateTime& at = pacer_->lastAnswerTime();
    setStatus(at.isValid() ? QStringLiteral("No answer from the instrument since %1.")
                                 .arg(at.toString(QStringLiteral("hh:mm:ss")))
                           : QStringLiteral("No answer from the instrument."));
    view_->chart()->setLive(false, lastAnswerNote(at));
    ratePanel_->setText(QStringLiteral("0.0 answers a second"));
}

void TSssj::onAnswered() {
    view_->chart()->setLive(true);
    const double rate = pacer_->answerRate();
    const qint64 delay = pacer_->lastAnswerDelayMs();
    QString text = QStringLiteral("%1 answers a second").arg(rate, 0, 'f', 1);
    if (delay >= 0) {
        text += QStringLiteral(", the last %1 ms after its poll").arg(delay);
    }
    ratePanel_->setText(text);
}

void TSssj::setRecordFolder(const QString& folder) {
    recording_->setFolder(folder);
}

void TSssj::setArchive(reports::DataStore* store) {
    reference_->setArchive(store);
}

// A lost line cannot answer: polling stops, a recording ends with what it has, and what is on
// the screen is not live.
void TSssj::onLineGone(const QString& text) {
    recording_->end(text);
    if (!pacer_->timer()->isActive()) {
        return;
    }
    stopPolling();
    setStatus(text);
    view_->chart()->setLive(false, lastAnswerNote(pacer_->lastAnswerTime()));
}

void TSssj::stopPolling() {
    pacer_->stop();
    BitBtn_Start_->setEnabled(true);
    BitBtn_Stop_->setEnabled(false);
}

void TSssj::BitBtn_StopClick() {
    stopPolling();
    setStatus(QStringLiteral("Stop..."));
}

void TSssj::BitBtn_ScreenshotClick() {
    app::takeScreenshot(view_, outputFolder_, messages_);
}

void TSssj::OnlineDataShowProc(const QByteArray& packet) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(packet.constData());
    if (!online_->decodeLivePacket(bytes, static_cast<std::size_t>(packet.size()))) {
        return; // a packet too short to hold a record shows nothing
    }
    recording_->take(online_->raw().data());
    view_->showRecord(online_->decoded(), online_->curves());
}

void TSssj::closeEvent(QCloseEvent* event) {
    if (pacer_->timer()->isActive()) {
        // Answers still on the line are shown for another half second.
        pacer_->stop();
        QEventLoop drain;
        QTimer::singleShot(500, &drain, &QEventLoop::quit);
        drain.exec();
    }
    recording_->end(QString()); // closed with every frame the drain brought
    QWidget::closeEvent(event);
}

} // namespace ufd::online

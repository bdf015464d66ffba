#include "windows/protocol/upload_window.h"

#include "core/protocol/dispatcher.h"
#include "core/protocol/report_image.h"
#include "core/protocol/report_transfer.h"
#include "widgets/operator_messages.h"
#include "widgets/remembered.h"
#include "widgets/status_panels.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace ufd::protocol {

namespace {

QString defaultSaveChooser(QWidget* parent, const QString& folder, const QString& name) {
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("bin"));
    dialog.setNameFilter(QStringLiteral("*.bin"));
    dialog.setDirectory(folder);
    dialog.selectFile(name);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().front();
}

// A field the operator reads but does not type into looks it: the window's colour behind it,
// not an input box's.
void showReadOnly(QLineEdit* field) {
    field->setReadOnly(true);
    QPalette palette = field->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    field->setPalette(palette);
}

// The folder field always ends in a separator, so that folder and name join into the target.
QString folderText(const QString& folder) {
    QString f = QDir::toNativeSeparators(folder);
    if (!f.endsWith(QDir::separator())) {
        f += QDir::separator();
    }
    return f;
}

} // namespace

TFCallData::TFCallData(Dispatcher& dispatcher, ReportImage& image, std::function<bool()> portOpen,
                       app::OperatorMessages& messages, const QString& programFolder,
                       const QDate& today, QWidget* parent)
    : QWidget(parent), dispatcher_(dispatcher), portOpen_(std::move(portOpen)), messages_(messages),
      chooser_(defaultSaveChooser), transfer_(new ReportTransfer(dispatcher, image, this)) {
    setObjectName(QStringLiteral("TFCallData"));
    setWindowTitle(QStringLiteral("Upload Report"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* body = new QGridLayout;
    body->setContentsMargins(12, 12, 12, 6);
    body->setVerticalSpacing(6);

    body->addWidget(new QLabel(QStringLiteral("The path of the flaw detection report:"), this), 0,
                    0, 1, 2);
    suiEDBBackupDir_ = new QLineEdit(this);
    suiEDBBackupDir_->setObjectName(QStringLiteral("suiEDBBackupDir"));
    showReadOnly(suiEDBBackupDir_);
    suibtnSaveAs_ = new QPushButton(QStringLiteral("Save as"), this);
    suibtnSaveAs_->setObjectName(QStringLiteral("suibtnSaveAs"));
    body->addWidget(suiEDBBackupDir_, 1, 0);
    body->addWidget(suibtnSaveAs_, 1, 1);

    body->addWidget(new QLabel(QStringLiteral("The name of the flaw detection report:"), this), 2,
                    0, 1, 2);
    suiEDBBackupName_ = new QLineEdit(this);
    suiEDBBackupName_->setObjectName(QStringLiteral("suiEDBBackupName"));
    showReadOnly(suiEDBBackupName_);
    suibtnCollect_ = new QPushButton(QStringLiteral("Start Upload"), this);
    suibtnCollect_->setObjectName(QStringLiteral("suibtnCollect"));
    body->addWidget(suiEDBBackupName_, 3, 0);
    body->addWidget(suibtnCollect_, 3, 1);

    body->addWidget(
        new QLabel(QStringLiteral("Please click 'Start Upload'  to start communication!"), this), 4,
        0, 1, 2);
    body->addWidget(new QLabel(QStringLiteral("Data monitor"), this), 5, 0, 1, 2);
    Memo1_ = new QPlainTextEdit(this);
    Memo1_->setObjectName(QStringLiteral("Memo1"));
    Memo1_->setReadOnly(true);
    Memo1_->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1_->setFont(QFont(QStringLiteral("Monospace"), 9));
    body->addWidget(Memo1_, 6, 0, 1, 2);
    body->setRowStretch(6, 1);
    ProgressBar1_ = new QProgressBar(this);
    ProgressBar1_->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1_->setRange(0, 1);
    ProgressBar1_->setValue(0);
    body->addWidget(ProgressBar1_, 7, 0, 1, 2);
    body->setColumnStretch(0, 1);
    outer->addLayout(body, 1);

    panel0_ = app::addStatusPanels(this, outer, {300, 50}).first();

    // FormCreate: the port watch runs, and the target carries the date the window was made.
    Timer1_ = new QTimer(this);
    Timer1_->setObjectName(QStringLiteral("Timer1"));
    Timer1_->setInterval(kPortWatchMs);
    connect(Timer1_, &QTimer::timeout, this, [this] { Timer1Timer(); });
    Timer1_->start();
    suiEDBBackupDir_->setText(folderText(reportFolder(programFolder)));
    targetName_ = reportFileName(today);
    suiEDBBackupName_->setText(targetName_);

    connect(suibtnSaveAs_, &QPushButton::clicked, this, [this] { suibtnSaveAsClick(); });
    connect(suibtnCollect_, &QPushButton::clicked, this, [this] { suibtnCollectClick(); });
    connect(&dispatcher_, &Dispatcher::dataMonitorLine, this,
            [this](const QString& line) { addMonitorLine(line); });
    connect(transfer_, &ReportTransfer::statusText, this,
            [this](const QString& text) { setStatus(text); });
    connect(transfer_, &ReportTransfer::operatorMessage, this,
            [this](const QString& text) { messages_.showMessage(text); });
    // One transfer at a time: the button comes back with every end, saved or failed.
    connect(transfer_, &ReportTransfer::finished, this,
            [this](bool) { suibtnCollect_->setEnabled(true); });
    // An earlier, different upload of that name is kept: the window shows where this one went.
    connect(transfer_, &ReportTransfer::saved, this, [this](const QString& path) {
        suiEDBBackupName_->setText(QFileInfo(path).fileName());
    });
    connect(transfer_, &ReportTransfer::progressChanged, this, [this](int position, int maximum) {
        // A maximum of 0 would turn the bar into a busy indicator.
        ProgressBar1_->setRange(0, std::max(1, maximum));
        ProgressBar1_->setValue(std::min(position, ProgressBar1_->maximum()));
    });
    resize(560, 480);
}

TFCallData::~TFCallData() = default;

QString TFCallData::saveTarget() const {
    return QDir::fromNativeSeparators(suiEDBBackupDir_->text() + suiEDBBackupName_->text());
}

QString TFCallData::statusText() const {
    return panel0_->text();
}

void TFCallData::setStatus(const QString& text) {
    panel0_->setText(text);
}

QStringList TFCallData::monitorLines() const {
    return Memo1_->toPlainText().split(QLatin1Char('\n'));
}

void TFCallData::addMonitorLine(const QString& line) {
    // The list starts with an empty line; every command goes on a line of its own after it.
    QTextCursor cursor(Memo1_->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertBlock();
    cursor.insertText(line);
    Memo1_->verticalScrollBar()->setValue(Memo1_->verticalScrollBar()->maximum());
}

void TFCallData::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (shownOnce_) {
        return;
    }
    shownOnce_ = true;
    app::announcePortState(portOpen_(), messages_, panel0_);
    ProgressBar1_->setValue(0);
}

void TFCallData::Timer1Timer() {
    Timer1_->stop();
    if (portOpen_()) {
        return; // the watch ends for good
    }
    setStatus(QStringLiteral("请初始化通信口！"));
    Timer1_->start();
}

void TFCallData::suibtnSaveAsClick() {
    const QString chosen =
        chooser_(this, app::rememberedFolder(QStringLiteral("upload"), suiEDBBackupDir_->text()),
                 suiEDBBackupName_->text());
    if (chosen.isEmpty()) {
        return;
    }
    app::rememberFolder(QStringLiteral("upload"), chosen);
    const QFileInfo info(chosen);
    suiEDBBackupDir_->setText(folderText(info.absolutePath()));
    targetName_ = info.fileName();
    targetChosen_ = true;
    suiEDBBackupName_->setText(targetName_);
}

void TFCallData::suibtnCollectClick() {
    if (transfer_->running()) {
        return;
    }
    // A closed port (a lost line closes it) would only run into every time-out first.
    if (!portOpen_()) {
        messages_.showMessage(app::openPortFirstText());
        return;
    }
    suiEDBBackupName_->setText(targetName_);
    transfer_->setSaveTarget(saveTarget(), targetChosen_);
    suibtnCollect_->setEnabled(false);
    transfer_->StartUpload();
    suibtnCollect_->setEnabled(!transfer_->running());
}

void TFCallData::closeEvent(QCloseEvent* event) {
    // No more resends, and answers still on the line are dropped from now on, before the
    // window and its transfer are gone.
    dispatcher_.stopResponseTimer();
    dispatcher_.detachTransfer(transfer_);
    QWidget::closeEvent(event);
}

} // namespace ufd::protocol

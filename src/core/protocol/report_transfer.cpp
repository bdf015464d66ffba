#include "core/protocol/report_transfer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <limits>

namespace ufd::protocol {

namespace {

// The open answer carries the file size at payload bytes 8 to 11.
constexpr std::size_t kFileSizeOffset = kHeaderSize + 8;
constexpr std::int32_t kOpenAnswerMinPayload = 12;

} // namespace

QString openFileErrorText() {
    return QStringLiteral("Open file error!");
}
QString openFileSuccessText() {
    return QStringLiteral("Open file success!");
}
QString uploadErrorText() {
    return QStringLiteral("Upload report error!");
}
QString transferringText() {
    return QStringLiteral("Transferring data");
}
QString uploadSuccessText() {
    return QStringLiteral("Upload report success!");
}
QString setOffsetSuccessText() {
    return QStringLiteral("Set file offset success!");
}
QString closeFileSuccessText() {
    return QStringLiteral("Close File success!");
}
QString uploadAgainText() {
    return QStringLiteral("The line is back: press \"Start Upload\" to upload again.");
}

QString reportFileName(const QDate& day) {
    return QStringLiteral("Report") + day.toString(QStringLiteral("yyyyMMdd")) +
           QStringLiteral(".bin");
}

QString reportFolder(const QString& programFolder) {
    QString folder = QDir::fromNativeSeparators(programFolder);
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/'))) {
        folder += QLatin1Char('/');
    }
    return folder + QStringLiteral("Report/");
}

namespace {

bool holds(const QString& path, const QByteArray& image) {
    QFile f(path);
    return f.size() == image.size() && f.open(QIODevice::ReadOnly) && f.readAll() == image;
}

} // namespace

QString freeReportPath(const QString& target, const QByteArray& image) {
    const QFileInfo info(target);
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    const QString stem = info.dir().filePath(info.completeBaseName());
    QString candidate = target;
    for (int n = 2; QFileInfo::exists(candidate) && !holds(candidate, image); ++n) {
        candidate = stem + QLatin1Char('-') + QString::number(n) + suffix;
    }
    return candidate;
}

bool SaveReportImage(const QByteArray& image, const QString& path, QString* error) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size() || !file.commit()) {
        if (error != nullptr) {
            *error = file.errorString();
        }
        return false;
    }
    return true;
}

ReportTransfer::ReportTransfer(Dispatcher& dispatcher, ReportImage& image, QObject* parent)
    : QObject(parent), dispatcher_(&dispatcher), image_(image) {
    dispatcher.attachTransfer(this);
    connect(&dispatcher, &Dispatcher::communicationTimeout, this, &ReportTransfer::onTimeout);
    connect(&dispatcher, &Dispatcher::commandStarted, this, &ReportTransfer::onCommandStarted);
    connect(&dispatcher, &Dispatcher::lineGone, this, &ReportTransfer::onLineGone);
    // An upload the loss ended is not taken up again by itself: the operator is told he may.
    connect(&dispatcher, &Dispatcher::lineBack, this, [this] {
        if (endedByLoss_ && !running_) {
            emit statusText(uploadAgainText());
        }
        endedByLoss_ = false;
    });
}

ReportTransfer::~ReportTransfer() {
    if (Dispatcher* d = dispatcher_.data()) {
        d->detachTransfer(this);
    }
}

void ReportTransfer::StartUpload() {
    Dispatcher* d = dispatcher_.data();
    if (running_ || d == nullptr) {
        return;
    }
    running_ = true;
    endedByLoss_ = false;
    d->SendOpenFileCmd();
}

void ReportTransfer::fail(const QString& text, bool tellInBox) {
    if (!running_) {
        return;
    }
    running_ = false;
    received_.reset(0); // what arrived of a failed file goes nowhere
    emit statusText(text);
    if (tellInBox) {
        emit operatorMessage(text);
    }
    emit finished(false);
}

void ReportTransfer::OpenFileProc(const TRCOM& r) {
    if (!running_) {
        return;
    }
    if (r.RespStatus != 0) {
        fail(openFileErrorText());
        return;
    }
    // A success answer too short to hold the size, or a size far beyond any report storage
    // (the instrument's is 4,229,120 bytes), is not a file we copy: a damaged size must not
    // make the program claim gigabytes of memory.
    const std::uint32_t size = readU32(&r.RxBuffer[kFileSizeOffset]);
    if (r.PayloadLength < kOpenAnswerMinPayload || size > kMaxReportFileSize) {
        fail(openFileErrorText());
        return;
    }
    transferRemaining_ = static_cast<std::int32_t>(size);
    received_.reset(static_cast<qsizetype>(size));
    transferOffset_ = 0;
    progressMaximum_ =
        static_cast<int>(size / kTransferBlockSize) + (size % kTransferBlockSize != 0 ? 1 : 0);
    progressPosition_ = 0;
    emit progressChanged(progressPosition_, progressMaximum_);
    emit statusText(openFileSuccessText());
    // The first read always asks for a whole block, whatever the file size.
    if (Dispatcher* d = dispatcher_.data()) {
        d->SendLen16Cmd(CmdReadBlock, kTransferBlockSize);
    }
}

void ReportTransfer::readNext(Dispatcher::Attempts attempts) {
    if (Dispatcher* d = dispatcher_.data()) {
        d->SendLen16Cmd(
            CmdReadBlock,
            static_cast<std::uint32_t>(std::clamp(transferRemaining_, 0, kTransferBlockSize)),
            attempts);
    }
}

void ReportTransfer::ReadBlockProc(const TRCOM& r) {
    if (!running_) {
        return;
    }
    if (r.RespStatus != 0) {
        fail(uploadErrorText());
        return;
    }
    // Only the block asked for is stored: as many bytes as the read wanted, or the rest of the
    // file. Anything else is not the answer to this read and would put bytes in wrong places.
    // The whole first read of a short file brings the rest of it, as later reads do.
    const auto expected = std::clamp(transferRemaining_, 0, kTransferBlockSize);
    const qint64 pos = qint64{progressPosition_} * kTransferBlockSize;
    if (r.PayloadLength != expected ||
        !received_.write(pos, &r.RxBuffer[kHeaderSize], r.PayloadLength)) {
        fail(uploadErrorText());
        return;
    }
    emit statusText(transferringText());
    transferOffset_ += kTransferBlockSize;
    transferRemaining_ -= r.PayloadLength;
    ++progressPosition_;
    emit progressChanged(progressPosition_, progressMaximum_);

    if (transferRemaining_ > 0) {
        readNext(Dispatcher::Attempts::Reset);
    } else {
        complete();
    }
}

// The report is written before success is announced, so a save that fails is never shown
// as a successful upload.
void ReportTransfer::complete() {
    QString error;
    const QString path =
        replaceTarget_ ? saveTarget_ : freeReportPath(saveTarget_, received_.bytes());
    if (!SaveReportImage(received_.bytes(), path, &error)) {
        fail(QStringLiteral("Cannot save the report file %1: %2").arg(path, error));
        return;
    }
    savedPath_ = path;
    running_ = false;
    image_.assign(received_.bytes());
    image_.setSource(path);
    received_.reset(0);
    emit saved(path);
    emit statusText(uploadSuccessText());
    emit operatorMessage(uploadSuccessText());
    if (Dispatcher* d = dispatcher_.data()) {
        d->SendPublicCmd(CmdCloseFile);
    }
    emit finished(true);
}

// A refused seek means the instrument no longer has the file open (it was restarted): the
// block cannot be read again.
void ReportTransfer::SetOffsetProc(const TRCOM& r) {
    if (!running_) {
        return;
    }
    if (r.RespStatus != 0) {
        fail(uploadErrorText());
        return;
    }
    emit statusText(setOffsetSuccessText());
    readNext(Dispatcher::Attempts::Keep);
}

void ReportTransfer::CloseFileProc(const TRCOM& r) {
    if (r.RespStatus == 0) {
        emit statusText(closeFileSuccessText());
    }
}

void ReportTransfer::onTimeout(const QString& text, quint32 lastCmdCode, bool gaveUp) {
    const bool transferCommand =
        lastCmdCode == CmdOpenFile || lastCmdCode == CmdSetOffset || lastCmdCode == CmdReadBlock;
    if (!running_ || !transferCommand) {
        return;
    }
    if (gaveUp) {
        fail(text, false);
    } else if (Dispatcher::timeoutShownInUploadWindow(lastCmdCode)) {
        emit statusText(text);
    }
}

// Connect or disconnect sent in the middle of a transfer takes the line: the read it was
// waiting for will never be supervised again.
void ReportTransfer::onCommandStarted(quint32 code) {
    if (code != CmdOpenFile && code != CmdReadBlock && code != CmdSetOffset &&
        code != CmdCloseFile) {
        fail(uploadErrorText());
    }
}

void ReportTransfer::onLineGone(const QString& text) {
    endedByLoss_ = running_;
    fail(text, false);
}

} // namespace ufd::protocol

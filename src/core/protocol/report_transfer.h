#pragma once

#include "core/protocol/dispatcher.h"
#include "core/protocol/report_image.h"

#include <QDate>
#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>

namespace ufd::protocol {

constexpr std::int32_t kTransferBlockSize = 4096;
// The largest report file an upload accepts: many times the instrument's 4,229,120 bytes.
constexpr std::uint32_t kMaxReportFileSize = 64u * 1024u * 1024u;

// Copies the instrument's report file and saves it: open (96), read block by block (99), re-seek
// a block that has to be read again (98), close (97). The blocks go into a buffer of the
// transfer's own; the shared report image, which imports read, takes the file only once it has
// all arrived and is saved, so that a failed upload can never be imported as reports.
// Attaches itself to the dispatcher for its lifetime. Every transfer that starts ends with
// finished(): saved, or failed with the reason told.
class ReportTransfer : public QObject {
    Q_OBJECT
public:
    ReportTransfer(Dispatcher& dispatcher, ReportImage& image, QObject* parent = nullptr);
    ~ReportTransfer() override;

    // Full path the completed report is saved to, unless a different file is there already:
    // then it goes beside it (see freeReportPath) and savedPath() tells where. With `replace`
    // (the operator chose that file and confirmed replacing it) the file there is replaced.
    void setSaveTarget(const QString& path, bool replace = false) {
        saveTarget_ = path;
        replaceTarget_ = replace;
    }
    const QString& saveTarget() const { return saveTarget_; }
    // Where the last completed report was written.
    const QString& savedPath() const { return savedPath_; }

    // "Start Upload": sends the open-file command. While a transfer runs it starts nothing.
    void StartUpload();
    bool running() const { return running_; }

    // The answers 96, 97, 98 and 99 that passed the checksum.
    void OpenFileProc(const TRCOM& r);
    void CloseFileProc(const TRCOM& r);
    void SetOffsetProc(const TRCOM& r);
    void ReadBlockProc(const TRCOM& r);

    std::int32_t TransferOffset() const { return transferOffset_; }
    std::int32_t TransferRemaining() const { return transferRemaining_; }
    int progressPosition() const { return progressPosition_; }
    int progressMaximum() const { return progressMaximum_; }

signals:
    // Panel 0 of the upload window.
    void statusText(const QString& text);
    // Message boxes for the operator.
    void operatorMessage(const QString& text);
    void progressChanged(int position, int maximum);
    // The report has been written to `path`, before success is announced.
    void saved(const QString& path);
    // The transfer has stopped: saved true after the report was written, false on a failure
    // status, a block that is not the one asked for, a failed save, when the instrument stopped
    // answering, when the line vanished or when another command took the line.
    void finished(bool saved);

private:
    void onTimeout(const QString& text, quint32 lastCmdCode, bool gaveUp);
    void onCommandStarted(quint32 code);
    void onLineGone(const QString& text);
    // Ends a running transfer as failed; `text` goes to the status panel, and to a message box
    // when `tellInBox`.
    void fail(const QString& text, bool tellInBox = true);
    void readNext(Dispatcher::Attempts attempts);
    void complete();

    QPointer<Dispatcher> dispatcher_;
    ReportImage& image_;
    ReportImage received_; // the file as it arrives
    QString saveTarget_;
    bool replaceTarget_ = false;
    QString savedPath_;
    std::int32_t transferOffset_ = 0;
    std::int32_t transferRemaining_ = 0;
    int progressPosition_ = 0;
    int progressMaximum_ = 0;
    bool running_ = false;
    bool endedByLoss_ = false; // the last transfer ended because the line vanished
};

// Writes the image to a temporary file beside `path` and renames it into place, so a failed
// write leaves any earlier file untouched. On failure returns false with the reason in `error`.
bool SaveReportImage(const QByteArray& image, const QString& path, QString* error);

// Where `image` may be saved when `target` is asked for: `target` itself when it is free or
// already holds exactly these bytes, otherwise the first of "<name>-2.<ext>", "<name>-3.<ext>",
// ... beside it that is free or holds them. An earlier upload is never replaced by another.
QString freeReportPath(const QString& target, const QByteArray& image);

// "Report" + yyyymmdd + ".bin": the name a report uploaded on `day` is saved under.
QString reportFileName(const QDate& day);
// The folder reports are saved in: "Report/" in the program folder.
QString reportFolder(const QString& programFolder);

QString openFileErrorText();    // "Open file error!"
QString openFileSuccessText();  // "Open file success!"
QString uploadErrorText();      // "Upload report error!"
QString transferringText();     // "Transferring data"
QString uploadSuccessText();    // "Upload report success!"
QString setOffsetSuccessText(); // "Set file offset success!"
QString closeFileSuccessText(); // "Close File success!"
// When the line that ended an upload is back: the upload may be started again.
QString uploadAgainText();

} // namespace ufd::protocol

#pragma once

#include <QDate>
#include <QString>
#include <QWidget>
#include <functional>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace ufd::app {
class OperatorMessages;
}

namespace ufd::protocol {

class Dispatcher;
class ReportImage;
class ReportTransfer;

// "Upload Report": copies the instrument's report file into the shared report image and saves
// it under the folder and name shown, with the commands sent listed in the data monitor.
class TFCallData : public QWidget {
public:
    // Asks where to save, starting in `folder` with `name` proposed; empty when cancelled. An
    // existing file it returns is one the operator agreed to replace.
    using SaveChooser =
        std::function<QString(QWidget* parent, const QString& folder, const QString& name)>;

    static constexpr int kPortWatchMs = 1000;

    TFCallData(Dispatcher& dispatcher, ReportImage& image, std::function<bool()> portOpen,
               app::OperatorMessages& messages, const QString& programFolder,
               const QDate& today = QDate::currentDate(), QWidget* parent = nullptr);
    ~TFCallData() override;

    void setSaveChooser(SaveChooser chooser) { chooser_ = std::move(chooser); }

    void suibtnSaveAsClick();
    void suibtnCollectClick();
    void Timer1Timer();

    // The folder field followed by the name field: where the next report goes, or, after an
    // upload that had to go beside an earlier different file, where it went.
    QString saveTarget() const;
    QString statusText() const;
    // The data monitor's lines; the first is the empty line it starts with.
    QStringList monitorLines() const;

    QLineEdit* folderField() const { return suiEDBBackupDir_; }
    QLineEdit* nameField() const { return suiEDBBackupName_; }
    QPushButton* saveAsButton() const { return suibtnSaveAs_; }
    QPushButton* uploadButton() const { return suibtnCollect_; }
    QProgressBar* progressBar() const { return ProgressBar1_; }
    QTimer* portWatch() const { return Timer1_; }
    ReportTransfer* transfer() const { return transfer_; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void setStatus(const QString& text);
    void addMonitorLine(const QString& line);

    Dispatcher& dispatcher_;
    std::function<bool()> portOpen_;
    app::OperatorMessages& messages_;
    SaveChooser chooser_;
    ReportTransfer* transfer_ = nullptr;
    bool shownOnce_ = false;
    // The name asked for (the date's, or the one chosen with "Save as"); each upload starts
    // from it, whatever name the last one had to take.
    QString targetName_;
    // The name was the operator's own choice in "Save as", not the proposed one: an earlier file
    // of that name is replaced, as the dialog asked.
    bool targetChosen_ = false;

    QLineEdit* suiEDBBackupDir_ = nullptr;
    QLineEdit* suiEDBBackupName_ = nullptr;
    QPushButton* suibtnSaveAs_ = nullptr;
    QPushButton* suibtnCollect_ = nullptr;
    QPlainTextEdit* Memo1_ = nullptr;
    QProgressBar* ProgressBar1_ = nullptr;
    QLabel* panel0_ = nullptr;
    QTimer* Timer1_ = nullptr;
};

} // namespace ufd::protocol

#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <optional>

class QAction;
class QPushButton;
class QWidget;

namespace ufd::app {
class OperatorMessages;
}
namespace ufd::reports {
class DataStore;
}

namespace ufd::online {

class RecordView;

// "Reference" and "Clear" of the online and replay windows: the reference echo is an archived
// report or the trace now on the screen, drawn under every record the view shows.
class ReferenceControl : public QObject {
public:
    // Chooses an archived report; its archive id, or nothing when the operator cancelled.
    using ReportChooser = std::function<std::optional<qint64>(QWidget* parent)>;

    // `window` parents the buttons and the chooser; `freezeLabel` names a frozen trace.
    ReferenceControl(RecordView* view, app::OperatorMessages& messages, QWidget* window,
                     std::function<QString()> freezeLabel);

    // The archive to choose from; without one only the trace on the screen can be taken.
    void setArchive(reports::DataStore* store);
    // Tests replace the dialog.
    void setReportChooser(ReportChooser chooser) { chooseReport_ = std::move(chooser); }

    // "Freeze current trace": false, having said why, when nothing is on the plot yet.
    bool freezeClick();
    // "Archived report...": the chooser, then useArchivedReport.
    bool archivedClick();
    // The archived report `id` becomes the reference; false, having said why, when it cannot.
    bool useArchivedReport(qint64 id);
    void clearClick();

    QPushButton* referenceButton() const { return reference_; }
    QPushButton* clearButton() const { return clear_; }
    QAction* archivedAction() const { return archived_; }

private:
    void enable();

    RecordView* view_;
    app::OperatorMessages& messages_;
    QWidget* window_;
    std::function<QString()> freezeLabel_;
    reports::DataStore* store_ = nullptr;
    ReportChooser chooseReport_;
    QPushButton* reference_ = nullptr;
    QPushButton* clear_ = nullptr;
    QAction* archived_ = nullptr;
};

} // namespace ufd::online

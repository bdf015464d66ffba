#pragma once

#include "core/archive/report_archive.h"
#include "core/archive/report_records.h"
#include "core/reports/report_display.h"
#include "widgets/archive_filter_fields.h"

#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

class QBoxLayout;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace ufd::app {
class OperatorMessages;
}

namespace ufd::reports {

class ArchiveListModel;
class DataStore;
class RecordDetailsPage;
class RecordHistoryPage;
class ReportDocuments;
class ReportView;
struct SignCredentials;
struct StoredReport;

// "Report archive": every report ever imported, newest first or sorted by any column (a click
// on its title), with filters and a count; the grid reads its rows a page at a time as it is
// scrolled, however many match. The selected report on the browser's own pages; reports
// assigned to a workpiece, and the browser's documents made of one or many of them.
class TFReportArchive : public QWidget {
public:
    TFReportArchive(DataStore& store, app::OperatorMessages& messages, const QString& programFolder,
                    QWidget* parent = nullptr);
    ~TFReportArchive() override;

    // Lists the reports the filters match in the order the grid's titles show (the Search
    // button also reads the choices again). The current report stays current when it still
    // matches; else the first row is.
    void refresh();
    // Assigns every selected report (or the current one) to the workpiece chosen beside the
    // button; the empty choice takes the assignment away.
    void assignClick();
    void spreadsheetClick();
    void pdfClick();
    void printClick();
    void csvClick();
    // "Check and sign": the current report, by the user the prompt names.
    void signClick();
    // Stores the edited details of the current report for the logged-in user.
    void saveDetailsClick();

    // The logged-in user, who changes details.
    void setCurrentUser(std::function<QString()> user) { currentUser_ = std::move(user); }
    // Asks for the checker's name and password; nothing when cancelled.
    using SignPrompt = std::function<std::optional<SignCredentials>(
        const QStringList& users, const archive::ReportRecord& record)>;
    void setSignPrompt(SignPrompt prompt) { signPrompt_ = std::move(prompt); }

    // The archive ids of the selected rows in grid order, or of the current row alone.
    QList<qint64> chosenIds() const;
    // What the pages show: the current row's report.
    const ReportDisplay& lastShown() const { return lastShown_; }
    ReportDocuments& documents() const { return *documents_; }

    QTableView* grid() const { return grid_; }
    ArchiveListModel* listModel() const { return model_; }
    ReportView* pages() const { return pages_; }
    QLabel* countLabel() const { return count_; }
    QLineEdit* nameFilter() const { return fields_.name; }
    QCheckBox* fromEnabled() const { return fields_.fromOn; }
    QDateEdit* fromDate() const { return fields_.from; }
    QCheckBox* toEnabled() const { return fields_.toOn; }
    QDateEdit* toDate() const { return fields_.to; }
    QComboBox* workpieceFilter() const { return fields_.workpiece; }
    QComboBox* sourceFilter() const { return fields_.source; }
    QComboBox* assignBox() const { return assignTo_; }
    QPushButton* assignButton() const { return assign_; }
    QPushButton* pdfButton() const { return pdf_; }
    QString statusText() const;
    QPushButton* signButton() const { return sign_; }
    RecordDetailsPage* detailsPage() const { return details_; }
    RecordHistoryPage* historyPage() const { return history_; }

private:
    void buildFilters(QWidget* parent, QBoxLayout* outer);
    void buildActions(QWidget* parent, QBoxLayout* outer);
    void fillChoices();
    archive::ArchiveFilter currentFilter() const;
    // The id of the grid's current row; -1 when there is none.
    qint64 currentId() const;
    void showCurrent();
    void enableActions();
    std::vector<StoredReport> chosenReports();
    // The report of `id`, the one on the pages without asking the archive again; nothing, having
    // said why, when the archive cannot give it.
    std::optional<archive::ArchivedReport> fetchOrSay(qint64 id);
    // The Details and History pages from the archive, for the report on the pages.
    void showRecord();

    DataStore& store_;
    app::OperatorMessages& messages_;
    archive::ReportArchive archive_;
    std::unique_ptr<ReportDocuments> documents_;
    ReportDisplay lastShown_;
    qint64 shownId_ = -1;
    std::optional<archive::ArchivedReport> shownReport_; // what the pages show

    widgets::ArchiveFilterFields fields_;
    QLabel* count_ = nullptr;
    QTableView* grid_ = nullptr;
    ArchiveListModel* model_ = nullptr;
    ReportView* pages_ = nullptr;
    QComboBox* assignTo_ = nullptr;
    QPushButton* assign_ = nullptr;
    QPushButton* sheet_ = nullptr;
    QPushButton* pdf_ = nullptr;
    QPushButton* print_ = nullptr;
    QPushButton* csv_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* sign_ = nullptr;
    RecordDetailsPage* details_ = nullptr;
    RecordHistoryPage* history_ = nullptr;
    std::function<QString()> currentUser_;
    SignPrompt signPrompt_;
};

} // namespace ufd::reports

#include "windows/reports/report_archive_window.h"

#include "core/accounts/user_accounts.h"
#include "core/documents/report_document.h"
#include "core/reports/database.h"
#include "widgets/busy_cursor.h"
#include "widgets/operator_messages.h"
#include "widgets/status_panels.h"
#include "windows/reports/archive_list_model.h"
#include "windows/reports/report_browser_parts.h"
#include "windows/reports/report_documents.h"
#include "windows/reports/report_record_pages.h"

#include <QApplication>
#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <algorithm>

namespace ufd::reports {

namespace {

using app::BusyCursor;

// A filter's choices: "" for any, then the values, keeping what was chosen when it is still one.
void fillBox(QComboBox* box, const QStringList& values) {
    const QString chosen = box->currentText();
    const QSignalBlocker quiet(box);
    box->clear();
    box->addItem(QString());
    box->addItems(values);
    box->setCurrentIndex(std::max(0, box->findText(chosen)));
}

} // namespace

TFReportArchive::TFReportArchive(DataStore& store, app::OperatorMessages& messages,
                                 const QString& programFolder, QWidget* parent)
    : QWidget(parent), store_(store), messages_(messages), archive_(store.archiveDb()),
      documents_(std::make_unique<ReportDocuments>(messages, programFolder)) {
    setObjectName(QStringLiteral("TFReportArchive"));
    setWindowTitle(QStringLiteral("Report archive"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(4, 4, 4, 4);
    buildFilters(this, outer);

    auto* split = new QSplitter(Qt::Vertical, this);
    grid_ = new QTableView(split);
    grid_->setObjectName(QStringLiteral("ArchiveGrid"));
    model_ = new ArchiveListModel(archive_, grid_);
    // Told while the grid paints: said once the painting is over.
    model_->setErrorHandler([this](const QString& error) {
        QTimer::singleShot(0, this, [this, error] { messages_.showError(error); });
    });
    grid_->setModel(model_);
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Rows of one height, so that the grid never measures a million of them.
    grid_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid_->verticalHeader()->setDefaultSectionSize(grid_->fontMetrics().height() + 6);
    QHeaderView* titles = grid_->horizontalHeader();
    titles->setStretchLastSection(true);
    for (int c = 0; c < model_->columnCount(); ++c) {
        grid_->setColumnWidth(c, c == 1 || c == 5 ? 150 : 120);
    }
    // A click on a title sorts by its column, again the other way round; the archive sorts.
    titles->setSectionsClickable(true);
    titles->setSortIndicatorShown(true);
    titles->setSortIndicator(ArchiveListModel::columnOf(archive::ArchiveSort::FileDate),
                             Qt::DescendingOrder);
    connect(titles, &QHeaderView::sortIndicatorChanged, this, [this] { refresh(); });
    pages_ = new ReportView(split);
    details_ = new RecordDetailsPage(pages_);
    history_ = new RecordHistoryPage(pages_);
    pages_->addTab(details_, QStringLiteral("Details"));
    pages_->addTab(history_, QStringLiteral("History"));
    signPrompt_ = [this](const QStringList& users, const archive::ReportRecord& record) {
        return askSignCredentials(this, users, record);
    };
    split->addWidget(grid_);
    split->addWidget(pages_);
    split->setStretchFactor(0, 2);
    split->setStretchFactor(1, 3);
    split->setSizes({240, 360});
    outer->addWidget(split, 1);
    buildActions(this, outer);
    // Where the documents went, when the desktop shows nothing of them.
    status_ = app::addStatusPanels(this, outer, {300}).first();
    documents_->setWrittenNotice([this](const QString& text) { status_->setText(text); });

    connect(grid_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this] { showCurrent(); });
    connect(grid_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { enableActions(); });
    fillChoices();
    refresh();
    resize(1010, 660);
}

TFReportArchive::~TFReportArchive() = default;

void TFReportArchive::buildFilters(QWidget* parent, QBoxLayout* outer) {
    auto* bar = new QHBoxLayout;
    fields_.create(parent);
    fields_.name->setMinimumWidth(160);
    auto* search = new QPushButton(QStringLiteral("Search"), parent);
    search->setObjectName(QStringLiteral("BitBtn_Search"));
    count_ = new QLabel(parent);
    count_->setObjectName(QStringLiteral("ArchiveCount"));

    // Two rows: when, and what; the count beside the search that makes it.
    auto* when = new QHBoxLayout;
    when->addWidget(fields_.fromOn);
    when->addWidget(fields_.from);
    when->addSpacing(8);
    when->addWidget(fields_.toOn);
    when->addWidget(fields_.to);
    when->addSpacing(8);
    when->addWidget(new QLabel(QStringLiteral("Name contains"), parent));
    when->addWidget(fields_.name, 1);
    when->addWidget(search);
    bar->addWidget(new QLabel(QStringLiteral("Probe"), parent));
    bar->addWidget(fields_.probe, 1);
    bar->addWidget(new QLabel(QStringLiteral("Workpiece"), parent));
    bar->addWidget(fields_.workpiece, 1);
    bar->addWidget(new QLabel(QStringLiteral("Source file"), parent));
    bar->addWidget(fields_.source, 1);
    bar->addSpacing(8);
    bar->addWidget(count_);
    outer->addLayout(when);
    outer->addLayout(bar);

    // Search also reads the choices again: imports and workpieces may have come since.
    connect(search, &QPushButton::clicked, this, [this] {
        fillChoices();
        refresh();
    });
    connect(fields_.name, &QLineEdit::returnPressed, this, [this] { refresh(); });
    for (QComboBox* box : {fields_.probe, fields_.workpiece, fields_.source}) {
        connect(box, &QComboBox::activated, this, [this] { refresh(); });
    }
}

void TFReportArchive::buildActions(QWidget* parent, QBoxLayout* outer) {
    auto* bar = new QHBoxLayout;
    assignTo_ = new QComboBox(parent);
    assignTo_->setObjectName(QStringLiteral("AssignWorkpiece"));
    assignTo_->setMinimumContentsLength(10);
    assign_ = new QPushButton(QStringLiteral("Assign to workpiece"), parent);
    assign_->setObjectName(QStringLiteral("BitBtn_Assign"));
    sheet_ = new QPushButton(QStringLiteral("Edit Report "), parent);
    sheet_->setObjectName(QStringLiteral("BitBtn_Edit"));
    pdf_ = new QPushButton(QStringLiteral("PDF Report"), parent);
    pdf_->setObjectName(QStringLiteral("BitBtn_Pdf"));
    print_ = new QPushButton(QStringLiteral("Print"), parent);
    print_->setObjectName(QStringLiteral("BitBtn_Print"));
    csv_ = new QPushButton(QStringLiteral("CSV"), parent);
    csv_->setObjectName(QStringLiteral("BitBtn_Csv"));
    sign_ = new QPushButton(QStringLiteral("Check and sign"), parent);
    sign_->setObjectName(QStringLiteral("BitBtn_Sign"));
    auto* quit = new QPushButton(QStringLiteral("Quit"), parent);
    quit->setObjectName(QStringLiteral("BitBtn_Quit"));
    bar->addWidget(assignTo_);
    bar->addWidget(assign_);
    bar->addSpacing(12);
    bar->addWidget(sign_);
    bar->addSpacing(12);
    bar->addWidget(sheet_);
    bar->addWidget(pdf_);
    bar->addWidget(print_);
    bar->addWidget(csv_);
    bar->addStretch(1);
    bar->addWidget(quit);
    outer->addLayout(bar);

    connect(assign_, &QPushButton::clicked, this, [this] { assignClick(); });
    connect(sheet_, &QPushButton::clicked, this, [this] { spreadsheetClick(); });
    connect(pdf_, &QPushButton::clicked, this, [this] { pdfClick(); });
    connect(print_, &QPushButton::clicked, this, [this] { printClick(); });
    connect(csv_, &QPushButton::clicked, this, [this] { csvClick(); });
    connect(sign_, &QPushButton::clicked, this, [this] { signClick(); });
    connect(details_->saveButton(), &QPushButton::clicked, this, [this] { saveDetailsClick(); });
    connect(quit, &QPushButton::clicked, this, [this] { close(); });
}

QString TFReportArchive::statusText() const {
    return status_->text();
}

void TFReportArchive::fillChoices() {
    QString error;
    const QStringList workpieces = store_.workpieceNumbers(&error);
    if (!error.isEmpty()) {
        messages_.showError(error);
    }
    fillBox(fields_.probe, archive_.probeNames());
    fillBox(fields_.workpiece, workpieces);
    fillBox(fields_.source, archive_.sourceFiles());
    fillBox(assignTo_, workpieces);
}

archive::ArchiveFilter TFReportArchive::currentFilter() const {
    archive::ArchiveFilter filter = fields_.filter();
    const QHeaderView* titles = grid_->horizontalHeader();
    filter.sortBy = ArchiveListModel::sortOf(titles->sortIndicatorSection());
    filter.descending = titles->sortIndicatorOrder() == Qt::DescendingOrder;
    return filter;
}

qint64 TFReportArchive::currentId() const {
    const QModelIndex current = grid_->currentIndex();
    const archive::ArchiveEntry* e = current.isValid() ? model_->entry(current.row()) : nullptr;
    return e != nullptr ? e->id : -1;
}

void TFReportArchive::refresh() {
    const BusyCursor busy;
    const qint64 keep = shownId_;
    shownReport_.reset(); // an assignment may have changed it: read it again
    bool listed = false;
    {
        const QSignalBlocker quiet(grid_->selectionModel());
        listed = model_->setFilter(currentFilter());
    }
    if (!listed) {
        count_->setText(QString());
        messages_.showError(archive_.lastError());
        showCurrent();
        enableActions();
        return;
    }
    count_->setText(QStringLiteral("%1 reports").arg(model_->total()));
    // The report on the pages stays when the list still holds it; else the first row is shown.
    if (model_->total() > 0) {
        const std::optional<int> kept = keep >= 0 ? model_->rowOf(keep) : std::nullopt;
        const QModelIndex current = model_->index(kept.value_or(0), 0);
        grid_->setCurrentIndex(current);
        grid_->scrollTo(current);
    }
    showCurrent();
    enableActions();
}

void TFReportArchive::showCurrent() {
    const qint64 id = currentId();
    if (id == shownId_ && id >= 0 && shownReport_) {
        return;
    }
    shownId_ = id;
    shownReport_.reset();
    if (id < 0) {
        lastShown_ = ReportDisplay{};
        pages_->showFields(QSqlRecord());
        pages_->draw(lastShown_);
        showRecord();
        return;
    }
    shownReport_ = fetchOrSay(id);
    showRecord();
    if (!shownReport_) {
        return;
    }
    pages_->showFields(shownReport_->row);
    ShowResult shown = showCurrentReport(shownReport_->row, ReportDisplay{});
    lastShown_ = std::move(shown.display);
    pages_->draw(lastShown_);
    if (!shown.ok()) {
        messages_.showError(shown.error);
    }
}

std::optional<archive::ArchivedReport> TFReportArchive::fetchOrSay(qint64 id) {
    if (shownReport_ && shownReport_->entry.id == id) {
        return shownReport_; // on the pages already
    }
    auto report = archive_.fetch(id);
    if (!report) {
        messages_.showError(archive_.lastError().isEmpty()
                                ? QStringLiteral("The archive holds no report %1.").arg(id)
                                : archive_.lastError());
    }
    return report;
}

void TFReportArchive::enableActions() {
    const bool any = grid_->currentIndex().isValid() || grid_->selectionModel()->hasSelection();
    for (QPushButton* b : {assign_, sheet_, pdf_, print_, csv_}) {
        b->setEnabled(any);
    }
    const auto& record = details_->shown();
    sign_->setEnabled(record && !record->signature);
}

void TFReportArchive::showRecord() {
    archive::ReportRecords records(store_.archiveDb());
    std::optional<archive::ReportRecord> record;
    std::vector<archive::HistoryEvent> events;
    if (shownReport_) {
        record = records.record(shownId_);
        const auto history = record ? records.history(shownId_) : std::nullopt;
        if (!record || !history) {
            messages_.showError(
                records.lastError().isEmpty()
                    ? QStringLiteral("The archive holds no record of report %1.").arg(shownId_)
                    : records.lastError());
            record.reset();
        } else {
            events = *history;
        }
    }
    const QString qualification =
        record ? app::UserAccounts(store_.userDb()).level(record->examiner).value_or(QString())
               : QString();
    details_->showRecord(record, qualification);
    history_->showEvents(events);
    enableActions();
}

void TFReportArchive::saveDetailsClick() {
    const auto& record = details_->shown();
    if (!record) {
        return;
    }
    const archive::DetailValues changes = details_->edited();
    if (changes.empty()) {
        return;
    }
    archive::ReportRecords records(store_.archiveDb());
    // The record the user edited: a change made meanwhile elsewhere is not overwritten.
    if (!records.change(record->archiveId, changes, details_->reason(),
                        currentUser_ ? currentUser_() : QString(), record->hash())) {
        messages_.showError(records.lastError());
        return;
    }
    showRecord();
}

void TFReportArchive::signClick() {
    const auto record = details_->shown();
    if (!record || !signPrompt_) {
        return;
    }
    if (!details_->edited().empty()) {
        messages_.showError(QStringLiteral("The details of report %1 have changes that are not "
                                           "saved: save them before the report is signed.")
                                .arg(record->number()));
        return;
    }
    app::UserAccounts users(store_.userDb());
    const auto credentials = signPrompt_(users.userNames(), *record);
    if (!credentials) {
        return;
    }
    archive::ReportRecords records(store_.archiveDb());
    QString error;
    if (!archive::checkAndSign(records, users, record->archiveId, credentials->user,
                               credentials->password, record->hash(), error)) {
        messages_.showError(error);
    }
    showRecord();
}

QList<qint64> TFReportArchive::chosenIds() const {
    // The selection as ranges of rows: a million selected rows are one range, not a million
    // indexes, and their ids are read a range at a time.
    std::vector<std::pair<int, int>> ranges;
    qint64 selected = 0;
    for (const QItemSelectionRange& r : grid_->selectionModel()->selection()) {
        ranges.emplace_back(r.top(), r.bottom());
        selected += r.height();
    }
    std::sort(ranges.begin(), ranges.end());
    std::vector<std::pair<int, int>> merged;
    for (const auto& r : ranges) {
        if (!merged.empty() && r.first <= merged.back().second + 1) {
            merged.back().second = std::max(merged.back().second, r.second);
        } else {
            merged.push_back(r);
        }
    }
    // One selected row counts as none: the current row is the choice, as in the browser.
    if (selected < 2) {
        const int current = grid_->currentIndex().row();
        merged.clear();
        if (current >= 0) {
            merged.emplace_back(current, current);
        }
    }
    const auto ids = model_->ids(merged);
    if (!ids) {
        messages_.showError(archive_.lastError());
        return {};
    }
    return *ids;
}

std::vector<StoredReport> TFReportArchive::chosenReports() {
    const BusyCursor busy;
    QString error;
    auto pages = documents::archivedPages(store_, chosenIds(), error);
    if (!pages) {
        messages_.showError(error);
        return {};
    }
    std::vector<StoredReport> reports;
    reports.reserve(pages->size());
    for (documents::ArchivedPage& page : *pages) {
        reports.push_back(
            StoredReport{std::move(page.row), std::move(page.workpiece), std::move(page.record)});
    }
    return reports;
}

void TFReportArchive::assignClick() {
    const QList<qint64> ids = chosenIds();
    if (ids.isEmpty()) {
        return;
    }
    if (!archive_.assignWorkpiece(ids, assignTo_->currentText())) {
        messages_.showError(archive_.lastError());
        return;
    }
    // The assignment shows in the grid; a workpiece filter may now leave the rows out.
    refresh();
}

void TFReportArchive::spreadsheetClick() {
    documents_->saveSpreadsheets(this, chosenReports());
}

void TFReportArchive::pdfClick() {
    documents_->savePdf(this, chosenReports());
}

void TFReportArchive::printClick() {
    documents_->print(this, chosenReports());
}

void TFReportArchive::csvClick() {
    const qint64 id = currentId();
    if (id < 0) {
        return;
    }
    if (const auto report = fetchOrSay(id)) {
        documents_->saveCsv(report->row);
    }
}

} // namespace ufd::reports

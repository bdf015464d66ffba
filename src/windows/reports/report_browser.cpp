#include "windows/reports/report_browser.h"

#include "core/archive/report_records.h"
#include "core/documents/report_document.h"
#include "core/protocol/report_image.h"
#include "core/protocol/report_transfer.h"
#include "core/reports/database.h"
#include "core/reports/report_file.h"
#include "core/reports/report_query.h"
#include "core/spreadsheet/spreadsheet_report.h"
#include "widgets/ascan_chart.h"
#include "widgets/data_link.h"
#include "widgets/operator_messages.h"
#include "widgets/record_navigator.h"
#include "widgets/remembered.h"
#include "widgets/status_panels.h"
#include "windows/reports/report_browser_parts.h"
#include "windows/reports/report_documents.h"

#include <QBoxLayout>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QSplitter>
#include <QSqlTableModel>
#include <QTableView>

namespace ufd::reports {

namespace {

QString defaultChooser(QWidget* parent, const QString& folder) {
    return QFileDialog::getOpenFileName(parent, QString(), folder, QStringLiteral("*.bin"));
}

} // namespace

QString TFImPortData::startFolder(const QString& programFolder) {
    return QDir::toNativeSeparators(protocol::reportFolder(programFolder));
}

TFImPortData::TFImPortData(DataStore& store, ReportQuery& query, protocol::ReportImage& image,
                           app::OperatorMessages& messages, const QString& programFolder,
                           QWidget* parent)
    : QWidget(parent), store_(store), query_(query), image_(image), messages_(messages),
      programFolder_(programFolder), chooser_(defaultChooser),
      documents_(std::make_unique<ReportDocuments>(messages, programFolder)) {
    setObjectName(QStringLiteral("TFImPortData"));
    setWindowTitle(QStringLiteral("Flaw Detector Report"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(4, 4, 4, 4);
    buildToolBar(outer);

    auto* split = new QSplitter(Qt::Vertical, this);
    auto* upper = new QSplitter(Qt::Horizontal, split);
    workpiece_ = new WorkpieceGroup(store_, upper);
    grid_ = new QTableView(upper);
    grid_->setObjectName(QStringLiteral("DBGrid1"));
    upper->addWidget(workpiece_);
    upper->addWidget(grid_);
    upper->setStretchFactor(0, 0);
    upper->setStretchFactor(1, 1);
    upper->setSizes({340, 760});

    pages_ = new ReportView(split);
    split->addWidget(upper);
    split->addWidget(pages_);
    split->setStretchFactor(0, 2);
    split->setStretchFactor(1, 3);
    outer->addWidget(split, 1);
    // Where the documents went, when the desktop shows nothing of them.
    status_ = app::addStatusPanels(this, outer, {300}).first();
    documents_->setWrittenNotice([this](const QString& text) { status_->setText(text); });

    QSqlTableModel* model = query_.model();
    link_ = new app::DataLink(model, messages_, this);
    link_->setGrid(grid_);
    configureReportGrid(grid_, model);
    navigator_->setDataLink(link_);

    // Nothing stores a value typed into the grid.
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Several rows at once for the documents; a click still makes one row current and selected.
    grid_->setSelectionMode(QAbstractItemView::ExtendedSelection);

    // Plot and fields follow every move of the current row, by mouse, keyboard or navigator, so
    // that the window and the spreadsheet always show one report.
    connect(grid_, &QTableView::clicked, this, [this] { showIfStale(); });
    connect(navigator_, &app::RecordNavigator::clicked, this, [this] { showIfStale(); });
    connect(link_, &app::DataLink::changed, this, [this] { rowChanged(); });

    // FormCreate.
    enableDocuments(false);
    workpiece_->fill(messages_);
    if (query_.isOpen()) {
        // A browser opened again lists the last import, standing where the last one stood, and
        // shows that report with what can be done with it.
        {
            const QScopedValueRollback hold(holdShow_, true);
            const int row = query_.currentRow();
            link_->open();
            link_->moveTo(row);
        }
        if (link_->rowCount() > 0) {
            enableDocuments(true);
            ShowCurrentReport();
        }
    }
    resize(1010, 620);
}

TFImPortData::~TFImPortData() = default;

void TFImPortData::buildToolBar(QBoxLayout* outer) {
    auto* bar = new QHBoxLayout;
    navigator_ = new app::RecordNavigator(
        app::RecordNavigator::Buttons(app::RecordNavigator::First | app::RecordNavigator::Prior |
                                      app::RecordNavigator::Next | app::RecordNavigator::Last |
                                      app::RecordNavigator::Insert | app::RecordNavigator::Delete |
                                      app::RecordNavigator::Edit | app::RecordNavigator::Post |
                                      app::RecordNavigator::Cancel | app::RecordNavigator::Refresh),
        this);
    navigator_->setObjectName(QStringLiteral("DBNavigator1"));
    navigator_->setMaximumWidth(340);
    open_ = new QPushButton(QStringLiteral("Open Report File"), this);
    open_->setObjectName(QStringLiteral("BitBtn_Open"));
    edit_ = new QPushButton(QStringLiteral("Edit Report "), this);
    edit_->setObjectName(QStringLiteral("BitBtn_Edit"));
    pdf_ = new QPushButton(QStringLiteral("PDF Report"), this);
    pdf_->setObjectName(QStringLiteral("BitBtn_Pdf"));
    print_ = new QPushButton(QStringLiteral("Print"), this);
    print_->setObjectName(QStringLiteral("BitBtn_Print"));
    csv_ = new QPushButton(QStringLiteral("CSV"), this);
    csv_->setObjectName(QStringLiteral("BitBtn_Csv"));
    allRows_ = new QPushButton(QStringLiteral("All rows"), this);
    allRows_->setObjectName(QStringLiteral("BitBtn_AllRows"));
    allRows_->setToolTip(QStringLiteral("Select every report, for one PDF or a spreadsheet each"));
    quit_ = new QPushButton(QStringLiteral("Quit"), this);
    quit_->setObjectName(QStringLiteral("BitBtn_Quit"));
    bar->addWidget(navigator_);
    bar->addSpacing(12);
    bar->addWidget(open_);
    bar->addWidget(edit_);
    bar->addWidget(pdf_);
    bar->addWidget(print_);
    bar->addWidget(csv_);
    bar->addWidget(allRows_);
    bar->addWidget(quit_);
    bar->addStretch(1);
    outer->addLayout(bar);
    connect(open_, &QPushButton::clicked, this, [this] { BitBtn_OpenClick(); });
    connect(edit_, &QPushButton::clicked, this, [this] { BitBtn_EditClick(); });
    connect(quit_, &QPushButton::clicked, this, [this] { BitBtn_QuitClick(); });
    connect(pdf_, &QPushButton::clicked, this, [this] { BitBtn_PdfClick(); });
    connect(print_, &QPushButton::clicked, this, [this] { BitBtn_PrintClick(); });
    connect(csv_, &QPushButton::clicked, this, [this] { BitBtn_CsvClick(); });
    connect(allRows_, &QPushButton::clicked, this, [this] { grid_->selectAll(); });
}

void TFImPortData::enableDocuments(bool on) {
    for (QPushButton* b : {edit_, pdf_, print_, csv_, allRows_}) {
        b->setEnabled(on);
    }
}

void TFImPortData::setReportOpener(ReportOpener opener) {
    documents_->setOpener(std::move(opener));
}

QString TFImPortData::statusText() const {
    return status_->text();
}

online::AScanChart* TFImPortData::chart() const {
    return pages_->chart();
}

QLineEdit* TFImPortData::field(const QString& column) const {
    return pages_->field(column);
}

QSqlRecord TFImPortData::currentRecord() const {
    const int row = link_->currentRow();
    if (link_->state() == app::DataLink::State::Inactive || row < 0 || row >= link_->rowCount()) {
        return query_.model()->record(); // the columns without values
    }
    return query_.model()->record(row);
}

void TFImPortData::rowChanged() {
    if (link_->state() != app::DataLink::State::Inactive) {
        query_.setCurrentRow(link_->currentRow());
    }
    pages_->showFields(currentRecord());
    if (!holdShow_) {
        showIfStale();
    }
}

void TFImPortData::showIfStale() {
    // A move, a click and a navigator button may all report the same change; the operator
    // hears about a row that cannot be shown once.
    if (query_.isOpen() && (link_->currentRow() != shownRow_ || currentRecord() != shownRecord_)) {
        ShowCurrentReport();
    }
}

void TFImPortData::BitBtn_OpenClick() {
    const QString path = chooser_(
        this, app::rememberedFolder(QStringLiteral("reportFile"), startFolder(programFolder_)));
    if (!path.isEmpty()) {
        app::rememberFolder(QStringLiteral("reportFile"), path);
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            messages_.showError(file.errorString());
            return;
        }
        const QByteArray bytes = file.readAll();
        if (file.error() != QFileDevice::NoError) {
            messages_.showError(file.errorString());
            return;
        }
        image_.assign(bytes);
        image_.setSource(path);
    }
    // A cancelled dialog imports what the image already holds: the last file or upload.
    if (image_.size() != kReportFileSize) {
        messages_.showMessage(reportFileErrorText());
        return;
    }
    enableDocuments(true);
    importImage();
}

void TFImPortData::importImage() {
    const DecodeResult decoded = decodeReportFile(image_.bytes());
    {
        const QScopedValueRollback hold(holdShow_, true);
        link_->cancel(); // an edit in progress belongs to rows that are about to go
        const ReplaceResult stored = store_.replaceReports(decoded.rows);
        query_.setOpen(true);
        link_->open();
        link_->last();
        if (stored.failed > 0) {
            messages_.showError(stored.firstError);
            return;
        }
        if (!stored.archiveError.isEmpty()) {
            // The reports are on screen; the operator must know they are not kept for good.
            messages_.showError(
                QStringLiteral("Reports not archived: %1").arg(stored.archiveError));
        }
    }
    if (decoded.invalidDates > 0) {
        messages_.showError(
            QStringLiteral("Reports with an invalid date (stored without a date): %1")
                .arg(decoded.invalidDates));
    }
    ShowCurrentReport();
}

void TFImPortData::ShowCurrentReport() {
    if (!query_.isOpen()) {
        return;
    }
    shownRow_ = link_->currentRow();
    shownRecord_ = currentRecord();
    ShowResult shown = showCurrentReport(shownRecord_, lastShown_);
    lastShown_ = std::move(shown.display);
    pages_->draw(lastShown_);
    if (!shown.ok()) {
        messages_.showError(shown.error);
    }
}

std::vector<QSqlRecord> TFImPortData::chosenRecords() const {
    const QList<int> chosen = chosenRows(grid_, -1);
    if (chosen.isEmpty()) {
        return {currentRecord()};
    }
    std::vector<QSqlRecord> rows;
    rows.reserve(static_cast<std::size_t>(chosen.size()));
    for (const int row : chosen) {
        rows.push_back(query_.model()->record(row));
    }
    return rows;
}

std::vector<StoredReport> TFImPortData::chosenReports() const {
    // The workpiece chosen on the left goes with every report, as with one.
    const WorkpieceFields workpiece = workpiece_->fields();
    const QString station = archive::stationLocation(store_.archiveDb());
    std::vector<StoredReport> reports;
    for (QSqlRecord& row : chosenRecords()) {
        // Each imported report is archived: its pages carry its record.
        auto record = documents::archivedRecord(store_, row);
        StoredReport stored{std::move(row), workpiece, std::move(record)};
        stored.workpiece.location = documents::documentLocation(stored.record, station);
        reports.push_back(std::move(stored));
    }
    return reports;
}

void TFImPortData::BitBtn_EditClick() {
    documents_->saveSpreadsheets(this, chosenReports());
}

void TFImPortData::BitBtn_PdfClick() {
    documents_->savePdf(this, chosenReports());
}

void TFImPortData::BitBtn_PrintClick() {
    documents_->print(this, chosenReports());
}

void TFImPortData::BitBtn_CsvClick() {
    if (query_.isOpen() && link_->state() != app::DataLink::State::Inactive) {
        documents_->saveCsv(currentRecord());
    }
}

void TFImPortData::BitBtn_QuitClick() {
    close();
}

} // namespace ufd::reports

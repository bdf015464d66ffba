#include "windows/online/reference_chooser.h"

#include "core/reports/database.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

namespace ufd::online {

namespace {

constexpr char kStamp[] = "yyyy-MM-dd hh:mm:ss";
constexpr int kIdRole = Qt::UserRole + 1;

// A filter's choices: "" for any, then the values.
void fillChoices(QComboBox* box, const QStringList& values) {
    box->addItem(QString());
    box->addItems(values);
}

} // namespace

ReferenceChooser::ReferenceChooser(reports::DataStore& store, QWidget* parent)
    : QDialog(parent), archive_(store.archiveDb()) {
    setObjectName(QStringLiteral("ReferenceChooser"));
    setWindowTitle(QStringLiteral("Choose a reference"));
    auto* outer = new QVBoxLayout(this);

    // The archive window's filters: when, name, probe, workpiece and source file.
    auto* filters = new QGridLayout;
    fields_.create(this);
    fillChoices(fields_.probe, archive_.probeNames());
    fillChoices(fields_.workpiece, store.workpieceNumbers());
    fillChoices(fields_.source, archive_.sourceFiles());
    auto* search = new QPushButton(QStringLiteral("Search"), this);
    search->setAutoDefault(false);
    count_ = new QLabel(this);
    filters->addWidget(fields_.fromOn, 0, 0);
    filters->addWidget(fields_.from, 0, 1);
    filters->addWidget(fields_.toOn, 0, 2);
    filters->addWidget(fields_.to, 0, 3);
    filters->addWidget(new QLabel(QStringLiteral("Name contains"), this), 0, 4);
    filters->addWidget(fields_.name, 0, 5);
    filters->addWidget(search, 0, 6);
    filters->addWidget(new QLabel(QStringLiteral("Probe"), this), 1, 0);
    filters->addWidget(fields_.probe, 1, 1);
    filters->addWidget(new QLabel(QStringLiteral("Workpiece"), this), 1, 2);
    filters->addWidget(fields_.workpiece, 1, 3);
    filters->addWidget(new QLabel(QStringLiteral("Source file"), this), 1, 4);
    filters->addWidget(fields_.source, 1, 5);
    filters->addWidget(count_, 1, 6);
    filters->setColumnStretch(5, 1);
    outer->addLayout(filters);

    grid_ = new QTableView(this);
    model_ = new QStandardItemModel(0, 5, grid_);
    model_->setHorizontalHeaderLabels({QStringLiteral("Report Name"), QStringLiteral("Date"),
                                       QStringLiteral("Probe"), QStringLiteral("Workpiece"),
                                       QStringLiteral("Source file")});
    grid_->setModel(model_);
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->verticalHeader()->setVisible(false);
    grid_->horizontalHeader()->setStretchLastSection(true);
    grid_->setColumnWidth(0, 160);
    grid_->setColumnWidth(1, 150);
    outer->addWidget(grid_, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    outer->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(grid_, &QTableView::doubleClicked, this, &QDialog::accept);
    connect(search, &QPushButton::clicked, this, [this] { refresh(); });
    connect(fields_.name, &QLineEdit::returnPressed, this, [this] { refresh(); });
    for (QComboBox* box : {fields_.probe, fields_.workpiece, fields_.source}) {
        connect(box, &QComboBox::activated, this, [this] { refresh(); });
    }
    const auto enableOk = [this, buttons] {
        buttons->button(QDialogButtonBox::Ok)->setEnabled(chosenId() >= 0);
    };
    connect(grid_->selectionModel(), &QItemSelectionModel::currentRowChanged, this, enableOk);
    refresh();
    enableOk();
    resize(860, 480);
}

bool ReferenceChooser::refresh() {
    archive::ArchiveFilter filter = fields_.filter();
    filter.limit = kListLimit;
    model_->removeRows(0, model_->rowCount());
    const auto page = archive_.list(filter);
    if (!page) {
        count_->setText(archive_.lastError());
        return false;
    }
    for (const archive::ArchiveEntry& e : page->entries) {
        QList<QStandardItem*> items;
        for (const QString& text :
             {e.fileName,
              e.fileDate.isValid() ? e.fileDate.toString(QLatin1String(kStamp)) : QString(),
              e.probeName, e.workpiece, e.sourceFile}) {
            items << new QStandardItem(text);
        }
        items.front()->setData(e.id, kIdRole);
        model_->appendRow(items);
    }
    const auto shown = static_cast<qint64>(page->entries.size());
    count_->setText(
        page->total > shown
            ? QStringLiteral("%1 reports, the newest %2 shown").arg(page->total).arg(shown)
            : QStringLiteral("%1 reports").arg(page->total));
    if (model_->rowCount() > 0) {
        grid_->setCurrentIndex(model_->index(0, 0));
    }
    return true;
}

qint64 ReferenceChooser::chosenId() const {
    const QModelIndex current = grid_->currentIndex();
    return current.isValid() ? model_->index(current.row(), 0).data(kIdRole).toLongLong() : -1;
}

} // namespace ufd::online

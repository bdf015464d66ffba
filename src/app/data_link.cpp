#include "app/data_link.h"

#include "app/operator_messages.h"

#include <QDataWidgetMapper>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QSqlError>
#include <QSqlTableModel>
#include <QTableView>
#include <algorithm>

namespace ufd::app {

DataLink::DataLink(QSqlTableModel* model, OperatorMessages& messages, QObject* parent)
    : QObject(parent), model_(model), messages_(messages), mapper_(new QDataWidgetMapper(this)) {
    model_->setEditStrategy(QSqlTableModel::OnManualSubmit);
    mapper_->setModel(model_);
    mapper_->setSubmitPolicy(QDataWidgetMapper::ManualSubmit);
    connect(model_, &QAbstractItemModel::dataChanged, this, &DataLink::onModelDataChanged);
}

DataLink::~DataLink() = default;

void DataLink::setAutoEdit(bool on) {
    autoEdit_ = on;
    updateEditors();
}

void DataLink::addEditor(QLineEdit* editor, int column) {
    mapper_->addMapping(editor, column);
    editors_.emplace_back(editor);
    QPointer<QLineEdit> box(editor);
    connect(editor, &QLineEdit::textEdited, this, [this, box](const QString& typed) {
        if (!autoEdit_ || state_ != State::Browse || !box) {
            return;
        }
        edit();
        // Editing an empty table starts a new row, which empties the boxes: keep what was typed.
        if (box->text() != typed) {
            box->setText(typed);
            box->setModified(true);
        }
    });
    updateEditors();
}

void DataLink::setItemDelegate(QAbstractItemDelegate* delegate) {
    mapper_->setItemDelegate(delegate);
}

void DataLink::setGrid(QTableView* grid) {
    grid_ = grid;
    grid->setModel(model_);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    connect(grid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { onGridRowChanged(current.row()); });
}

int DataLink::currentRow() const {
    return mapper_->currentIndex();
}

int DataLink::rowCount() const {
    return model_->rowCount();
}

void DataLink::setState(State state) {
    if (state_ != state) {
        state_ = state;
        updateEditors();
    }
    emit changed();
}

void DataLink::updateEditors() {
    const bool writable = autoEdit_ || state_ == State::Edit || state_ == State::Insert;
    for (const QPointer<QLineEdit>& e : editors_) {
        if (e) {
            e->setReadOnly(!writable);
        }
    }
}

bool DataLink::select() {
    if (!model_->select()) {
        messages_.showError(model_->lastError().text());
        return false;
    }
    // Navigation to the last row needs every row, not only the first fetched batch.
    while (model_->canFetchMore()) {
        model_->fetchMore();
    }
    return true;
}

void DataLink::showRow(int row) {
    syncing_ = true;
    mapper_->setCurrentIndex(row);
    if (row < 0 || row >= rowCount()) {
        // The mapper leaves the boxes as they were when there is no row to show.
        for (const QPointer<QLineEdit>& e : editors_) {
            if (e) {
                e->setText(QString());
            }
        }
    }
    if (grid_) {
        if (row >= 0 && row < rowCount()) {
            const QModelIndex index =
                model_->index(row, grid_->horizontalHeader()->logicalIndex(0));
            grid_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                                QItemSelectionModel::Rows);
            grid_->scrollTo(index);
        } else {
            grid_->selectionModel()->clear();
        }
    }
    syncing_ = false;
    emit changed();
}

bool DataLink::open() {
    if (!select()) {
        state_ = State::Inactive;
        emit changed();
        return false;
    }
    setState(State::Browse);
    showRow(rowCount() > 0 ? 0 : -1);
    return true;
}

bool DataLink::first() {
    return moveTo(0);
}

bool DataLink::prior() {
    return moveTo(currentRow() - 1);
}

bool DataLink::next() {
    return moveTo(currentRow() + 1);
}

bool DataLink::last() {
    return moveTo(rowCount() - 1);
}

bool DataLink::moveTo(int row) {
    if (state_ == State::Inactive) {
        return false;
    }
    const int target = std::clamp(row, 0, std::max(0, rowCount() - 1));
    if (state_ != State::Browse) {
        if (target == currentRow()) {
            return true;
        }
        if (!post()) {
            showRow(currentRow());
            return false;
        }
    }
    showRow(rowCount() > 0 ? std::clamp(row, 0, rowCount() - 1) : -1);
    return true;
}

bool DataLink::insert() {
    if (state_ == State::Inactive) {
        return false;
    }
    if (state_ != State::Browse && !post()) {
        return false;
    }
    rowBeforeInsert_ = currentRow();
    const int position = std::max(0, currentRow());
    if (!model_->insertRow(position)) {
        messages_.showError(model_->lastError().text());
        return false;
    }
    setState(State::Insert);
    showRow(position);
    return true;
}

bool DataLink::remove() {
    if (state_ == State::Insert) {
        cancel();
        return true;
    }
    if (state_ == State::Inactive || rowCount() == 0) {
        return false;
    }
    if (!deleteQuestion_.isEmpty() && !messages_.askOkCancel(deleteQuestion_)) {
        return false;
    }
    const int row = currentRow();
    model_->revertAll();
    if (!model_->removeRow(row) || !model_->submitAll()) {
        const QString error = model_->lastError().text();
        model_->revertAll();
        messages_.showError(error);
        setState(State::Browse);
        showRow(row);
        return false;
    }
    select();
    setState(State::Browse);
    showRow(rowCount() > 0 ? std::min(row, rowCount() - 1) : -1);
    return true;
}

bool DataLink::edit() {
    if (state_ == State::Inactive) {
        return false;
    }
    if (state_ != State::Browse) {
        return true;
    }
    if (rowCount() == 0) {
        return insert();
    }
    setState(State::Edit);
    return true;
}

bool DataLink::post() {
    if (state_ != State::Edit && state_ != State::Insert) {
        return true;
    }
    const int row = currentRow();
    const bool inserting = state_ == State::Insert;
    mapper_->submit();
    if (!model_->submitAll()) {
        // The row stays as the operator left it, still being edited.
        messages_.showError(model_->lastError().text());
        return false;
    }
    select();
    setState(State::Browse);
    // A new row is stored at the end of the table, where a fresh query returns it.
    showRow(rowCount() == 0 ? -1 : (inserting ? rowCount() - 1 : std::min(row, rowCount() - 1)));
    return true;
}

void DataLink::cancel() {
    if (state_ != State::Edit && state_ != State::Insert) {
        return;
    }
    const int row = state_ == State::Insert ? rowBeforeInsert_ : currentRow();
    model_->revertAll();
    setState(State::Browse);
    // Reloads the boxes from the model, dropping what was typed.
    mapper_->revert();
    showRow(rowCount() > 0 ? std::clamp(row, 0, rowCount() - 1) : -1);
}

bool DataLink::refresh() {
    if (state_ == State::Inactive) {
        return open();
    }
    if (!post()) {
        return false;
    }
    const int row = currentRow();
    if (!select()) {
        return false;
    }
    showRow(rowCount() > 0 ? std::clamp(row, 0, rowCount() - 1) : -1);
    return true;
}

void DataLink::onGridRowChanged(int row) {
    if (syncing_ || row < 0 || row == currentRow()) {
        return;
    }
    moveTo(row);
}

void DataLink::onModelDataChanged() {
    // A value typed into the grid starts editing as typing into a box does.
    if (autoEdit_ && state_ == State::Browse && !syncing_) {
        setState(State::Edit);
    }
}

} // namespace ufd::app

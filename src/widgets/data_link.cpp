#include "widgets/data_link.h"

#include "widgets/operator_messages.h"

#include <QAbstractItemDelegate>
#include <QDataWidgetMapper>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScopedValueRollback>
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

void DataLink::setRequired(int column, const QString& message) {
    requiredColumn_ = column;
    requiredMessage_ = message;
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
    // Cell editors are made in the viewport; their keys are watched as the boxes' typing is.
    gridViewport_ = grid->viewport();
    grid->viewport()->installEventFilter(this);
}

bool DataLink::eventFilter(QObject* watched, QEvent* event) {
    // Only the viewport is compared: the grid itself may be in its destructor by now.
    if (!gridViewport_) {
        return QObject::eventFilter(watched, event);
    }
    if (watched == gridViewport_ && event->type() == QEvent::ChildAdded) {
        QObject* child = static_cast<QChildEvent*>(event)->child();
        if (child->isWidgetType()) {
            child->installEventFilter(this);
        }
    } else if (event->type() == QEvent::KeyPress && watched->parent() == gridViewport_) {
        const auto* key = static_cast<const QKeyEvent*>(event);
        const bool typing = (!key->text().isEmpty() && key->text().at(0).isPrint()) ||
                            key->key() == Qt::Key_Backspace || key->key() == Qt::Key_Delete ||
                            key->matches(QKeySequence::Paste) || key->matches(QKeySequence::Cut);
        if (typing && state_ != State::Edit && state_ != State::Insert) {
            // Typing into a cell starts editing where typing into a box does, and is ignored
            // where a box ignores it.
            if (!autoEdit_ || state_ != State::Browse) {
                return true;
            }
            edit();
        }
    }
    return QObject::eventFilter(watched, event);
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

void DataLink::finishGridEdit(bool keep) {
    if (!grid_) {
        return;
    }
    // A navigator button does not take the focus, so the cell editor would stay open with its
    // text never handed to the model.
    const QModelIndex index = grid_->currentIndex();
    QWidget* editor = index.isValid() ? grid_->indexWidget(index) : nullptr;
    if (!editor) {
        return;
    }
    QAbstractItemDelegate* delegate = grid_->itemDelegateForIndex(index);
    if (keep) {
        emit delegate->commitData(editor);
    }
    emit delegate->closeEditor(editor, QAbstractItemDelegate::NoHint);
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

int DataLink::gridColumn() const {
    // Typing goes into the current cell, which must be one the operator sees.
    const int current = grid_->currentIndex().column();
    if (current >= 0 && !grid_->isColumnHidden(current)) {
        return current;
    }
    const QHeaderView* header = grid_->horizontalHeader();
    for (int visual = 0; visual < header->count(); ++visual) {
        const int logical = header->logicalIndex(visual);
        if (!header->isSectionHidden(logical)) {
            return logical;
        }
    }
    return header->logicalIndex(0);
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
            const QModelIndex index = model_->index(row, gridColumn());
            // A row made current in the grid itself keeps the selection the grid made for it,
            // so that a grid allowing it can hold several rows at once.
            if (grid_->selectionModel()->currentIndex().row() != row) {
                grid_->selectionModel()->setCurrentIndex(
                    index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            }
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
    finishGridEdit(true);
    if (state_ == State::Inactive) {
        return false;
    }
    const int target = std::clamp(row, 0, std::max(0, rowCount() - 1));
    if (state_ != State::Browse) {
        if (target == currentRow()) {
            return true;
        }
        const int from = currentRow();
        switch (postRow()) {
        case Posted::Failed:
            showRow(currentRow());
            return false;
        case Posted::Dropped:
            // The rows after the dropped one moved up by one.
            if (row > from) {
                --row;
            }
            break;
        case Posted::Stored:
            break;
        }
    }
    showRow(rowCount() > 0 ? std::clamp(row, 0, rowCount() - 1) : -1);
    return true;
}

bool DataLink::insert() {
    finishGridEdit(true);
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
    if (deleteGuard_) {
        if (const QString refusal = deleteGuard_(); !refusal.isEmpty()) {
            messages_.showMessage(refusal);
            return false;
        }
    }
    if (!deleteQuestion_.isEmpty() && !messages_.askOkCancel(deleteQuestion_)) {
        return false;
    }
    finishGridEdit(false); // it belongs to the row that goes
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
    return postRow() != Posted::Failed;
}

// Nothing typed: every box is empty and so is every cell the grid shows (a column that neither
// shows, such as a key the database fills, may hold a default).
bool DataLink::rowIsBlank(int row) const {
    for (const QPointer<QLineEdit>& e : editors_) {
        if (e && !e->text().isEmpty()) {
            return false;
        }
    }
    if (grid_) {
        for (int c = 0; c < model_->columnCount(); ++c) {
            if (!grid_->isColumnHidden(c) &&
                !model_->data(model_->index(row, c), Qt::EditRole).toString().isEmpty()) {
                return false;
            }
        }
    }
    return true;
}

DataLink::Posted DataLink::postRow() {
    finishGridEdit(true);
    if (state_ != State::Edit && state_ != State::Insert) {
        return Posted::Stored;
    }
    const int row = currentRow();
    const bool inserting = state_ == State::Insert;
    // Insert then a move, or Post, with nothing typed: there is no row to store.
    if (inserting && rowIsBlank(row)) {
        cancel();
        return Posted::Dropped;
    }
    mapper_->submit();
    if (requiredColumn_ >= 0 && model_->data(model_->index(row, requiredColumn_), Qt::EditRole)
                                    .toString()
                                    .trimmed()
                                    .isEmpty()) {
        messages_.showMessage(requiredMessage_);
        return Posted::Failed;
    }
    if (!model_->submitAll()) {
        // The row stays as the operator left it, still being edited.
        messages_.showError(model_->lastError().text());
        return Posted::Failed;
    }
    select();
    setState(State::Browse);
    // A new row is stored at the end of the table, where a fresh query returns it.
    showRow(rowCount() == 0 ? -1 : (inserting ? rowCount() - 1 : std::min(row, rowCount() - 1)));
    return Posted::Stored;
}

void DataLink::cancel() {
    finishGridEdit(false);
    if (state_ != State::Edit && state_ != State::Insert) {
        return;
    }
    const int row = state_ == State::Insert ? rowBeforeInsert_ : currentRow();
    {
        // Taking an inserted row out moves the grid's current row; that move must not post the
        // row being taken out while the model is still removing it.
        const QScopedValueRollback quiet(syncing_, true);
        model_->revertAll();
    }
    // Told once, with the row to go back to: in between, the mapper has no row (an inserted
    // one it stood on is gone), which a listener would take for an empty report.
    state_ = State::Browse;
    updateEditors();
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

bool DataLink::closeQuery(const QString& title) {
    finishGridEdit(true);
    if (state_ != State::Edit && state_ != State::Insert) {
        return true;
    }
    bool typed = model_->isDirty();
    for (const QPointer<QLineEdit>& e : editors_) {
        typed = typed || (e && e->isModified());
    }
    if (state_ == State::Insert && rowIsBlank(currentRow())) {
        typed = false;
    }
    if (!typed) {
        cancel();
        return true;
    }
    switch (messages_.askYesNoCancel(title, QStringLiteral("Store the changes to this record?"))) {
    case OperatorMessages::Choice::Yes:
        return post();
    case OperatorMessages::Choice::No:
        cancel();
        return true;
    case OperatorMessages::Choice::Cancel:
        break;
    }
    return false;
}

void DataLink::onGridRowChanged(int row) {
    if (syncing_ || row < 0 || row == currentRow()) {
        return;
    }
    moveTo(row);
}

void DataLink::onModelDataChanged() {
    if (state_ != State::Browse || syncing_) {
        return;
    }
    // A value typed into the grid starts editing as typing into a box does; where typing needs
    // Edit first, it is taken back instead of showing a value that nothing would store.
    if (autoEdit_) {
        setState(State::Edit);
    } else {
        model_->revertAll();
    }
}

} // namespace ufd::app

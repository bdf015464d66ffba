#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <vector>

class QDataWidgetMapper;
class QLineEdit;
class QSqlTableModel;
class QTableView;
class QAbstractItemDelegate;

namespace ufd::app {

class OperatorMessages;

// Binds one table model to edit boxes and a grid and carries the record operations the
// navigator offers. Rows are stored only by post(); moving to another row posts first, as the
// operator expects of a data-aware form. A value typed into the grid counts as typed into a box:
// post() stores it, cancel() drops it, and without auto-edit it needs edit() or insert() first.
class DataLink : public QObject {
    Q_OBJECT
public:
    enum class State { Inactive, Browse, Edit, Insert };

    // `model` stays owned by the caller; it is switched to manual submission.
    DataLink(QSqlTableModel* model, OperatorMessages& messages, QObject* parent = nullptr);
    ~DataLink() override;

    // With auto-edit, typing into a box starts editing; without it the boxes are read-only
    // until edit() or insert().
    void setAutoEdit(bool on);
    bool autoEdit() const { return autoEdit_; }
    // A non-empty question is asked (OK/Cancel) before a row is deleted.
    void setDeleteQuestion(const QString& text) { deleteQuestion_ = text; }
    // Says why the current row may not be deleted, or nothing when it may.
    void setDeleteGuard(std::function<QString()> guard) { deleteGuard_ = std::move(guard); }
    // A row is stored only with a value in `column`; otherwise `message` is shown and the row
    // stays being edited.
    void setRequired(int column, const QString& message);

    void addEditor(QLineEdit* editor, int column);
    // Replaces how the boxes read and write model values (the box stays owned by the caller).
    void setItemDelegate(QAbstractItemDelegate* delegate);
    // The grid shows the model and follows, and moves, the current row.
    void setGrid(QTableView* grid);

    QSqlTableModel* model() const { return model_; }
    QDataWidgetMapper* mapper() const { return mapper_; }

    State state() const { return state_; }
    int currentRow() const;
    int rowCount() const;

    // Runs the model's query and goes to the first row. Failures go to the error display.
    bool open();

    bool first();
    bool prior();
    bool next();
    bool last();
    bool moveTo(int row);
    bool insert();
    bool remove();
    bool edit();
    // Stores the row being edited or inserted. An inserted row nobody typed into is dropped,
    // as cancel() does, and counts as posted.
    bool post();
    void cancel();
    bool refresh();
    // Before the window closes: a row being edited or inserted with something typed is stored,
    // dropped or kept open as the operator answers (titled `title`). False keeps the window.
    bool closeQuery(const QString& title);

signals:
    // State, current row or row count changed.
    void changed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class Posted { Stored, Dropped, Failed };
    Posted postRow();
    bool rowIsBlank(int row) const;
    void setState(State state);
    bool select();
    void showRow(int row);
    int gridColumn() const;
    void updateEditors();
    // Ends an edit still open in a grid cell, handing its value to the model or dropping it.
    void finishGridEdit(bool keep);
    void onGridRowChanged(int row);
    void onModelDataChanged();

    QSqlTableModel* model_;
    OperatorMessages& messages_;
    QDataWidgetMapper* mapper_;
    QPointer<QTableView> grid_;
    QPointer<QObject> gridViewport_;
    std::vector<QPointer<QLineEdit>> editors_;
    State state_ = State::Inactive;
    bool autoEdit_ = false;
    bool syncing_ = false;
    int rowBeforeInsert_ = -1;
    QString deleteQuestion_;
    std::function<QString()> deleteGuard_;
    int requiredColumn_ = -1;
    QString requiredMessage_;
};

} // namespace ufd::app

#pragma once

#include "core/spreadsheet/spreadsheet_report.h"

#include <QGroupBox>
#include <QSqlRecord>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QWidget>
#include <array>
#include <map>
#include <memory>

class QComboBox;
class QLineEdit;
class QSqlTableModel;
class QTableView;

namespace ufd::app {
class OperatorMessages;
}
namespace ufd::online {
class AScanChart;
}

namespace ufd::reports {

class DataStore;

// "Workpiece information": the workpiece numbers to choose from (free text may be typed) and
// the seven detail texts, which the operator may overwrite and nothing stores.
class WorkpieceGroup : public QGroupBox {
public:
    explicit WorkpieceGroup(DataStore& store, QWidget* parent = nullptr);

    // Fills the list with the workpiece numbers in table order and shows the first one's
    // details. A workpiece stored without a number cannot be chosen and is left out; a failing
    // database is shown with its own message, here and when a number is chosen.
    void fill(app::OperatorMessages& messages);

    WorkpieceFields fields() const;
    QComboBox* numberBox() const { return number_; }
    // The detail fields in the order Name, Type, Material, Heat treatment method,
    // Roughness Ra, Department, Flaw description.
    QLineEdit* detail(int index) const { return details_.at(static_cast<std::size_t>(index)); }

private:
    // A number that no workpiece has leaves the details as they are.
    void numberChanged(const QString& number);

    DataStore& store_;
    app::OperatorMessages* messages_ = nullptr;
    QComboBox* number_;
    std::array<QLineEdit*, 7> details_{};
};

// The "Parameter" and "Result" pages: read-only fields bound to columns of the current row.
class ReportFieldPages {
public:
    explicit ReportFieldPages(QWidget* owner);

    QWidget* parameterPage() const { return parameter_; }
    QWidget* resultPage() const { return result_; }

    // Shows the columns of `row`; an empty record empties every field.
    void showRow(const QSqlRecord& row);
    // The field bound to `column`, or null.
    QLineEdit* field(const QString& column) const;

private:
    std::map<QString, QLineEdit*> fields_; // filled while the pages are built
    QWidget* parameter_;
    QWidget* result_;
};

// A stored report as the windows that list reports show it: the "Waveform", "Parameter" and
// "Result" pages.
class ReportView : public QTabWidget {
public:
    explicit ReportView(QWidget* parent = nullptr);
    ~ReportView() override;

    // The Parameter and Result pages from the columns of `row` (an empty record empties them).
    void showFields(const QSqlRecord& row);
    // The Waveform page: the display made from a row by showCurrentReport.
    void draw(const ReportDisplay& shown);

    online::AScanChart* chart() const { return chart_; }
    QLineEdit* field(const QString& column) const { return fields_->field(column); }

private:
    online::AScanChart* chart_;
    std::unique_ptr<ReportFieldPages> fields_;
};

// Draws a long text column as the start of its text from the cell's left edge; laying out a
// whole 30,000-character text for every painted cell would stall the grid.
class MemoDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

// The rows chosen for documents: the selected rows in grid order when several are selected, else
// `current` alone (none when it is below 0).
QList<int> chosenRows(const QTableView* grid, int current);

// Shows only the report grid's columns, in their order and with their titles.
void configureReportGrid(QTableView* grid, QSqlTableModel* model);

} // namespace ufd::reports

#pragma once

#include <QString>
#include <memory>

class QSqlTableModel;

namespace ufd::reports {

class DataStore;

// The report browser's query over tabDetectorReport. It is opened by the first import and then
// lives for the whole run, so a browser opened again lists the rows of the last import; rows an
// earlier run stored stay hidden until an import replaces them.
class ReportQuery {
public:
    explicit ReportQuery(DataStore& store);
    ~ReportQuery();
    ReportQuery(const ReportQuery&) = delete;
    ReportQuery& operator=(const ReportQuery&) = delete;

    // The table model the browser's grid and navigator work on; made on first use, when the
    // report database is open.
    QSqlTableModel* model();

    bool isOpen() const { return open_; }
    void setOpen(bool open) { open_ = open; }

    // The row the query stands on, kept for a browser that is opened again.
    int currentRow() const { return currentRow_; }
    void setCurrentRow(int row) { currentRow_ = row; }

private:
    DataStore& store_;
    std::unique_ptr<QSqlTableModel> model_;
    bool open_ = false;
    int currentRow_ = -1;
};

} // namespace ufd::reports

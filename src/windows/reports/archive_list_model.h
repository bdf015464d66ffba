#pragma once

#include "core/archive/report_archive.h"

#include <QAbstractTableModel>
#include <QList>
#include <functional>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace ufd::reports {

// The archive window's grid: every report a filter matches, in its order, read from the archive
// a page at a time as the grid shows them, and only a few pages kept. The count is asked once a
// filter; rows are the filter's positions, so a selection made on one page stays while others
// are read.
class ArchiveListModel : public QAbstractTableModel {
public:
    static constexpr int kPageRows = 200;
    static constexpr int kPagesKept = 32;

    // The grid's columns, in order; each sorts by its own archive column.
    static const QStringList& titles();
    static archive::ArchiveSort sortOf(int column);
    static int columnOf(archive::ArchiveSort sort);

    explicit ArchiveListModel(archive::ReportArchive& archive, QObject* parent = nullptr);

    // Counts the matches of `filter` (its offset and limit aside) and forgets every page read.
    // False, with the rows gone, on a database error (archive().lastError()).
    bool setFilter(const archive::ArchiveFilter& filter);
    const archive::ArchiveFilter& filter() const { return filter_; }
    qint64 total() const { return total_; }

    // The entry of `row`, read with its page when the grid has not shown it yet; nothing when
    // the archive cannot give it (the error goes to the error handler, once a page).
    const archive::ArchiveEntry* entry(int row) const;
    // The row of report `id` under the current filter; nothing when it does not match.
    std::optional<int> rowOf(qint64 id) const;
    // The ids of the rows of `ranges` (first, last), in row order; nothing on a database error.
    std::optional<QList<qint64>> ids(const std::vector<std::pair<int, int>>& ranges) const;

    // Told of a page the archive could not give, once a page and filter.
    void setErrorHandler(std::function<void(const QString&)> handler) {
        onError_ = std::move(handler);
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    struct Page {
        std::vector<archive::ArchiveEntry> entries; // empty when the archive failed
        quint64 used = 0;
    };
    const Page& page(int index) const;

    archive::ReportArchive& archive_;
    archive::ArchiveFilter filter_;
    qint64 total_ = 0;
    // Read on demand from const data(): the cache is no part of the model's visible state.
    mutable std::map<int, Page> pages_;
    mutable quint64 uses_ = 0;
    std::function<void(const QString&)> onError_;
};

} // namespace ufd::reports

#include "windows/reports/archive_list_model.h"

#include <algorithm>
#include <iterator>

namespace ufd::reports {

namespace {

constexpr char kStamp[] = "yyyy-MM-dd hh:mm:ss";

using archive::ArchiveSort;

constexpr ArchiveSort kColumnSorts[] = {ArchiveSort::FileName,   ArchiveSort::FileDate,
                                        ArchiveSort::ProbeName,  ArchiveSort::Workpiece,
                                        ArchiveSort::SourceFile, ArchiveSort::ImportedAt,
                                        ArchiveSort::ImportedBy};

QString cellText(const archive::ArchiveEntry& e, int column) {
    switch (column) {
    case 0:
        return e.fileName;
    case 1:
        return e.fileDate.isValid() ? e.fileDate.toString(QLatin1String(kStamp)) : QString();
    case 2:
        return e.probeName;
    case 3:
        return e.workpiece;
    case 4:
        return e.sourceFile;
    case 5:
        return e.importedAt.toLocalTime().toString(QLatin1String(kStamp));
    case 6:
        return e.importedBy;
    default:
        return {};
    }
}

} // namespace

const QStringList& ArchiveListModel::titles() {
    static const QStringList titles{QStringLiteral("Report Name"), QStringLiteral("Date"),
                                    QStringLiteral("Probe"),       QStringLiteral("Workpiece"),
                                    QStringLiteral("Source file"), QStringLiteral("Imported"),
                                    QStringLiteral("Imported by")};
    return titles;
}

ArchiveSort ArchiveListModel::sortOf(int column) {
    return column >= 0 && column < static_cast<int>(std::size(kColumnSorts))
               ? kColumnSorts[column]
               : ArchiveSort::FileDate;
}

int ArchiveListModel::columnOf(ArchiveSort sort) {
    const auto* it = std::find(std::begin(kColumnSorts), std::end(kColumnSorts), sort);
    return static_cast<int>(it - std::begin(kColumnSorts));
}

ArchiveListModel::ArchiveListModel(archive::ReportArchive& archive, QObject* parent)
    : QAbstractTableModel(parent), archive_(archive) {}

bool ArchiveListModel::setFilter(const archive::ArchiveFilter& filter) {
    const auto total = archive_.count(filter);
    beginResetModel();
    filter_ = filter;
    total_ = total.value_or(0);
    pages_.clear();
    endResetModel();
    return total.has_value();
}

const ArchiveListModel::Page& ArchiveListModel::page(int index) const {
    auto found = pages_.find(index);
    if (found == pages_.end()) {
        if (static_cast<int>(pages_.size()) >= kPagesKept) {
            pages_.erase(
                std::min_element(pages_.begin(), pages_.end(), [](const auto& a, const auto& b) {
                    return a.second.used < b.second.used;
                }));
        }
        archive::ArchiveFilter f = filter_;
        f.offset = index * kPageRows;
        f.limit = kPageRows;
        auto entries = archive_.entries(f, total_);
        found = pages_.emplace(index, Page{}).first;
        if (entries) {
            found->second.entries = std::move(*entries);
        } else if (onError_) {
            // Kept empty: a grid painted again does not ask a failing archive again and again.
            onError_(archive_.lastError());
        }
    }
    found->second.used = ++uses_;
    return found->second;
}

const archive::ArchiveEntry* ArchiveListModel::entry(int row) const {
    if (row < 0 || row >= total_) {
        return nullptr;
    }
    const Page& p = page(row / kPageRows);
    const auto at = static_cast<std::size_t>(row % kPageRows);
    return at < p.entries.size() ? &p.entries[at] : nullptr;
}

std::optional<int> ArchiveListModel::rowOf(qint64 id) const {
    const auto at = archive_.position(filter_, id);
    if (!at || *at >= total_) {
        return std::nullopt;
    }
    return static_cast<int>(*at);
}

std::optional<QList<qint64>>
ArchiveListModel::ids(const std::vector<std::pair<int, int>>& ranges) const {
    QList<qint64> out;
    for (const auto& [first, last] : ranges) {
        // Rows a page already holds are not asked for again.
        if (first / kPageRows == last / kPageRows && pages_.count(first / kPageRows) > 0) {
            for (int r = first; r <= last; ++r) {
                const archive::ArchiveEntry* e = entry(r);
                if (e == nullptr) {
                    return std::nullopt;
                }
                out << e->id;
            }
            continue;
        }
        archive::ArchiveFilter f = filter_;
        f.offset = first;
        f.limit = last - first + 1;
        const auto got = archive_.ids(f, total_);
        if (!got) {
            return std::nullopt;
        }
        for (const qint64 id : *got) {
            out << id;
        }
    }
    return out;
}

int ArchiveListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(total_);
}

int ArchiveListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(titles().size());
}

QVariant ArchiveListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid()) {
        return {};
    }
    const archive::ArchiveEntry* e = entry(index.row());
    return e != nullptr ? QVariant(cellText(*e, index.column())) : QVariant();
}

QVariant ArchiveListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) {
        return {};
    }
    if (orientation == Qt::Horizontal) {
        return titles().value(section);
    }
    return section + 1;
}

} // namespace ufd::reports

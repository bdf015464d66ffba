#pragma once

#include "core/archive/report_archive.h"
#include "widgets/archive_filter_fields.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QStandardItemModel;
class QTableView;

namespace ufd::reports {
class DataStore;
}

namespace ufd::online {

// "Choose a reference": the archived reports the archive's filters match, newest first; the
// one chosen becomes the echo the live one is compared with.
class ReferenceChooser : public QDialog {
public:
    // Rows listed at most; the count says how many match.
    static constexpr int kListLimit = 1000;

    ReferenceChooser(reports::DataStore& store, QWidget* parent = nullptr);

    // Lists what the filters match; false, with the archive's error, when it cannot.
    bool refresh();
    // The archive id of the current row; -1 when none.
    qint64 chosenId() const;
    QString lastError() const { return archive_.lastError(); }

    QLineEdit* nameFilter() const { return fields_.name; }
    QTableView* grid() const { return grid_; }
    QLabel* countLabel() const { return count_; }

private:
    archive::ReportArchive archive_;
    widgets::ArchiveFilterFields fields_;
    QLabel* count_ = nullptr;
    QTableView* grid_ = nullptr;
    QStandardItemModel* model_ = nullptr;
};

} // namespace ufd::online

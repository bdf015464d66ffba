#include "core/reports/report_query.h"

#include "core/reports/database.h"

#include <QSqlTableModel>

namespace ufd::reports {

ReportQuery::ReportQuery(DataStore& store) : store_(store) {}

ReportQuery::~ReportQuery() = default;

QSqlTableModel* ReportQuery::model() {
    if (!model_) {
        // Reports have no key of their own: twin rows are told apart by the rowid.
        model_ = std::make_unique<RowIdTableModel>(nullptr, store_.scratchDb());
        model_->setTable(QStringLiteral("tabDetectorReport"));
    }
    return model_.get();
}

} // namespace ufd::reports

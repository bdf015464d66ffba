#include "reports/report_query.h"

#include "reports/database.h"

#include <QSqlTableModel>

namespace ufd::reports {

ReportQuery::ReportQuery(DataStore& store) : store_(store) {}

ReportQuery::~ReportQuery() = default;

QSqlTableModel* ReportQuery::model() {
    if (!model_) {
        model_ = std::make_unique<QSqlTableModel>(nullptr, store_.reportDb());
        model_->setTable(QStringLiteral("tabDetectorReport"));
    }
    return model_.get();
}

} // namespace ufd::reports

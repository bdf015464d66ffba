#pragma once

#include <QWidget>
#include <map>

class QLineEdit;
class QSqlTableModel;
class QStatusBar;
class QTableView;

namespace ufd::app {

class AppContext;
class DataLink;
class OperatorMessages;
class RecordNavigator;

// "Workpiece management": the workpieces of tabPartInfo. Boxes change only after Edit or
// Insert; Delete asks first.
class TSbgl : public QWidget {
    Q_OBJECT
public:
    TSbgl(AppContext& context, OperatorMessages& messages, QWidget* parent = nullptr);

    // The box bound to a column of tabPartInfo ("PartID", "PartName", ...).
    QLineEdit* editor(const QString& column) const;

    QTableView* DBGrid1 = nullptr;
    RecordNavigator* DBNavigator1 = nullptr;
    DataLink* link = nullptr;
    QStatusBar* StatusBar1 = nullptr;

protected:
    // An edit in progress is stored, dropped or kept as the operator answers.
    void closeEvent(QCloseEvent* e) override;

private:
    void FormCreate();

    QSqlTableModel* ADOQuery_PartInfo;
    std::map<QString, QLineEdit*> editors_;
};

} // namespace ufd::app

#pragma once

#include <QWidget>

class QLineEdit;
class QSqlTableModel;
class QTableView;

namespace ufd::app {

class AppContext;
class DataLink;
class OperatorMessages;
class RecordNavigator;

// "User management": the accounts of UserTable. Typing starts editing, "Save" stores, "Delete"
// deletes at once. A typed password is stored as its hash; a stored hash is never shown.
class TFUserManager : public QWidget {
    Q_OBJECT
public:
    TFUserManager(AppContext& context, OperatorMessages& messages, QWidget* parent = nullptr);

    QLineEdit* nameEdit = nullptr;
    QLineEdit* passwordEdit = nullptr;
    QLineEdit* levelEdit = nullptr;
    QTableView* DBGrid1 = nullptr;
    RecordNavigator* navigator = nullptr;
    DataLink* link = nullptr;

protected:
    void showEvent(QShowEvent* e) override;
    // An edit in progress is stored, dropped or kept as the operator answers.
    void closeEvent(QCloseEvent* e) override;

private:
    void FormShow();

    QSqlTableModel* ADOTable_User;
    bool opened_ = false;
};

} // namespace ufd::app

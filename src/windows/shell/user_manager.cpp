#include "windows/shell/user_manager.h"

#include "core/accounts/user_accounts.h"
#include "core/context/app_context.h"
#include "core/reports/database.h"
#include "widgets/data_link.h"
#include "widgets/record_navigator.h"

#include <QCloseEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QSqlTableModel>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

namespace ufd::app {

namespace {

// Reads and writes the password box: a stored hash shows as an empty box, and only a password
// the operator typed is written back, as its hash.
class PasswordDelegate final : public QStyledItemDelegate {
public:
    PasswordDelegate(int passwordColumn, QObject* parent)
        : QStyledItemDelegate(parent), column_(passwordColumn) {}

    void setEditorData(QWidget* editor, const QModelIndex& index) const override {
        auto* edit = qobject_cast<QLineEdit*>(editor);
        if (!edit || index.column() != column_) {
            QStyledItemDelegate::setEditorData(editor, index);
            return;
        }
        const QString stored = index.data(Qt::EditRole).toString();
        edit->setText(isPasswordHash(stored) ? QString() : stored);
        edit->setPlaceholderText(isPasswordHash(stored) ? QStringLiteral("(unchanged)")
                                                        : QString());
    }

    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override {
        auto* edit = qobject_cast<QLineEdit*>(editor);
        if (!edit || index.column() != column_) {
            QStyledItemDelegate::setModelData(editor, model, index);
            return;
        }
        if (!edit->isModified()) {
            return;
        }
        model->setData(index, hashPassword(edit->text()), Qt::EditRole);
    }

private:
    int column_;
};

} // namespace

TFUserManager::TFUserManager(AppContext& context, OperatorMessages& messages, QWidget* parent)
    : QWidget(parent),
      ADOTable_User(new reports::RowIdTableModel(this, context.dataStore().userDb())) {
    setObjectName(QStringLiteral("FUserManager"));
    setWindowTitle(QStringLiteral("User management"));
    resize(482, 332);

    ADOTable_User->setTable(QStringLiteral("UserTable"));
    const int nameColumn = ADOTable_User->fieldIndex(QStringLiteral("用户名"));
    const int passwordColumn = ADOTable_User->fieldIndex(QStringLiteral("密码"));
    const int levelColumn = ADOTable_User->fieldIndex(QStringLiteral("用户类型"));
    ADOTable_User->setHeaderData(nameColumn, Qt::Horizontal, QStringLiteral("Name"));

    link = new DataLink(ADOTable_User, messages, this);
    link->setAutoEdit(true);
    link->setItemDelegate(new PasswordDelegate(passwordColumn, this));
    // An account without a name cannot be told apart at the login; without any account nobody
    // could log in again.
    link->setRequired(nameColumn, QStringLiteral("The user name must not be empty."));
    link->setDeleteGuard([this] {
        return link->rowCount() <= 1
                   ? QStringLiteral("The last account cannot be deleted: nobody could log in.")
                   : QString();
    });

    nameEdit = new QLineEdit(this);
    nameEdit->setObjectName(QStringLiteral("nameEdit"));
    passwordEdit = new QLineEdit(this);
    passwordEdit->setObjectName(QStringLiteral("passwordEdit"));
    passwordEdit->setEchoMode(QLineEdit::Password);
    passwordEdit->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    levelEdit = new QLineEdit(this);
    levelEdit->setObjectName(QStringLiteral("levelEdit"));
    link->addEditor(nameEdit, nameColumn);
    link->addEditor(passwordEdit, passwordColumn);
    link->addEditor(levelEdit, levelColumn);

    DBGrid1 = new QTableView(this);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    link->setGrid(DBGrid1);
    for (int c = 0; c < ADOTable_User->columnCount(); ++c) {
        DBGrid1->setColumnHidden(c, c != nameColumn);
    }
    DBGrid1->horizontalHeader()->setStretchLastSection(true);
    DBGrid1->verticalHeader()->setDefaultSectionSize(22);
    DBGrid1->verticalHeader()->setFixedWidth(22);
    DBGrid1->setEditTriggers(QAbstractItemView::AnyKeyPressed | QAbstractItemView::DoubleClicked |
                             QAbstractItemView::EditKeyPressed);

    navigator = new RecordNavigator(RecordNavigator::Prior | RecordNavigator::Next |
                                        RecordNavigator::Insert | RecordNavigator::Delete |
                                        RecordNavigator::Edit | RecordNavigator::Post,
                                    this);
    navigator->setOrientation(Qt::Vertical);
    navigator->setButtonText(RecordNavigator::Prior, QStringLiteral("Prior"));
    navigator->setButtonText(RecordNavigator::Next, QStringLiteral("Next"));
    navigator->setButtonText(RecordNavigator::Insert, QStringLiteral("Insert"));
    navigator->setButtonText(RecordNavigator::Delete, QStringLiteral("Delete"));
    navigator->setButtonText(RecordNavigator::Edit, QStringLiteral("Edit"));
    navigator->setButtonText(RecordNavigator::Post, QStringLiteral("Save"));
    navigator->setDataLink(link);

    auto* fields = new QVBoxLayout;
    fields->setSpacing(3);
    for (auto [caption, edit] : {std::pair{"Name", nameEdit}, std::pair{"Password", passwordEdit},
                                 std::pair{"Level", levelEdit}}) {
        fields->addWidget(new QLabel(QLatin1String(caption), this));
        fields->addWidget(edit);
        fields->addSpacing(6);
    }
    fields->addStretch();

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(navigator);
    buttons->addStretch();

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(10);
    layout->addLayout(fields, 3);
    layout->addWidget(DBGrid1, 4);
    layout->addLayout(buttons, 0);
}

void TFUserManager::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    // Shown again after a minimised main window or frame is restored: reloading then would
    // throw away an edit in progress.
    if (!opened_) {
        opened_ = true;
        FormShow();
    }
}

void TFUserManager::FormShow() {
    // The table's current contents, from the first row, each time the window is opened.
    link->open();
}

void TFUserManager::closeEvent(QCloseEvent* e) {
    if (!link->closeQuery(windowTitle())) {
        e->ignore();
        return;
    }
    QWidget::closeEvent(e);
}

} // namespace ufd::app

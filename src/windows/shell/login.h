#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace ufd::app {

class AppContext;
class OperatorMessages;
class UserAccounts;

// The login dialog. Returns Accepted only after a successful login, with the user's name in
// DOXL_RunData; "Quit" ends it Rejected. Nothing else closes it.
class Tdenglu : public QDialog {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 349;
    static constexpr int kClientHeight = 199;

    Tdenglu(AppContext& context, OperatorMessages& messages, QWidget* parent = nullptr);

    QComboBox* ComboBox1 = nullptr;
    QLineEdit* MaskEdit1 = nullptr;
    QPushButton* BitBtn1 = nullptr; // "Login"
    QPushButton* BitBtn2 = nullptr; // "Quit"

public slots:
    void BitBtn1Click();
    void BitBtn2Click();
    // Without a close box the dialog cannot be dismissed: Esc does nothing.
    void reject() override;

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    void FormCreate();

    AppContext& context_;
    OperatorMessages& messages_;
};

// Asks for the first account of a users database that was just created, so that somebody can
// log in at all. Accepted once the account is stored; "Quit" rejects.
class FirstAccountDialog : public QDialog {
    Q_OBJECT
public:
    FirstAccountDialog(UserAccounts& accounts, OperatorMessages& messages,
                       QWidget* parent = nullptr);

    QLineEdit* nameEdit = nullptr;
    QLineEdit* passwordEdit = nullptr;
    QLineEdit* repeatEdit = nullptr;
    QLabel* problemLabel = nullptr;
    QPushButton* createButton = nullptr;
    QPushButton* quitButton = nullptr;

public slots:
    void createClick();
    void reject() override;

private:
    UserAccounts& accounts_;
    OperatorMessages& messages_;
};

// The login of the start sequence: the first account where the users database was just
// created, then the login dialog. False when the operator quit.
bool runLoginSequence(AppContext& context, OperatorMessages& messages, QWidget* parent);

} // namespace ufd::app

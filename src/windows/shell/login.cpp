#include "windows/shell/login.h"

#include "core/accounts/user_accounts.h"
#include "core/context/app_context.h"
#include "widgets/operator_messages.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCompleter>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace ufd::app {

namespace {

constexpr Qt::WindowFlags kNoCaptionButtons =
    Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;

QLineEdit* passwordBox(QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setEchoMode(QLineEdit::Password);
    edit->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    return edit;
}

QLabel* heading(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.25);
    label->setFont(font);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

void centreOnScreen(QWidget* w) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        w->move(area.center() - QPoint(w->width() / 2, w->height() / 2));
    }
}

} // namespace

Tdenglu::Tdenglu(AppContext& context, OperatorMessages& messages, QWidget* parent)
    : QDialog(parent, kNoCaptionButtons), context_(context), messages_(messages) {
    setObjectName(QStringLiteral("denglu"));
    setWindowTitle(QStringLiteral("System Login"));
    setFixedSize(kClientWidth, kClientHeight);

    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    // Names are matched exactly: the completer must not turn "admin" into "Admin".
    ComboBox1->completer()->setCaseSensitivity(Qt::CaseSensitive);
    MaskEdit1 = passwordBox(this);
    MaskEdit1->setObjectName(QStringLiteral("MaskEdit1"));
    BitBtn1 = new QPushButton(QStringLiteral("Login"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setDefault(true);
    BitBtn2 = new QPushButton(QStringLiteral("Quit"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setAutoDefault(false);

    auto* form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form->setHorizontalSpacing(12);
    form->setVerticalSpacing(10);
    form->addRow(QStringLiteral("User Name"), ComboBox1);
    form->addRow(QStringLiteral("Password"), MaskEdit1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn2);
    buttons->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 14, 24, 14);
    layout->addWidget(heading(QStringLiteral("Tarvenix of ultrasonic flaw detector"), this));
    layout->addSpacing(6);
    layout->addLayout(form);
    layout->addStretch();
    layout->addLayout(buttons);

    connect(BitBtn1, &QPushButton::clicked, this, &Tdenglu::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &Tdenglu::BitBtn2Click);
    FormCreate();
}

void Tdenglu::FormCreate() {
    UserAccounts accounts(context_.dataStore().userDb());
    ComboBox1->addItems(accounts.userNames());
    if (ComboBox1->count() > 0) {
        ComboBox1->setCurrentIndex(0);
    }
    if (!accounts.lastError().isEmpty()) {
        messages_.showError(accounts.lastError());
    }
}

void Tdenglu::BitBtn1Click() {
    UserAccounts accounts(context_.dataStore().userDb());
    const std::optional<QString> user = accounts.login(ComboBox1->currentText(), MaskEdit1->text());
    if (user) {
        context_.DOXL_RunData.CurrentUser = *user;
        accept();
        return;
    }
    // A wrong name or password gives no message; a failing database does.
    if (!accounts.lastError().isEmpty()) {
        messages_.showError(accounts.lastError());
    }
}

void Tdenglu::BitBtn2Click() {
    done(QDialog::Rejected);
}

void Tdenglu::reject() {}

void Tdenglu::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    centreOnScreen(this);
    MaskEdit1->setFocus();
}

void Tdenglu::closeEvent(QCloseEvent* e) {
    e->ignore();
}

FirstAccountDialog::FirstAccountDialog(UserAccounts& accounts, OperatorMessages& messages,
                                       QWidget* parent)
    : QDialog(parent, kNoCaptionButtons), accounts_(accounts), messages_(messages) {
    setObjectName(QStringLiteral("FirstAccountDialog"));
    setWindowTitle(QStringLiteral("First account"));

    nameEdit = new QLineEdit(this);
    nameEdit->setObjectName(QStringLiteral("nameEdit"));
    passwordEdit = passwordBox(this);
    passwordEdit->setObjectName(QStringLiteral("passwordEdit"));
    repeatEdit = passwordBox(this);
    repeatEdit->setObjectName(QStringLiteral("repeatEdit"));
    problemLabel = new QLabel(this);
    problemLabel->setObjectName(QStringLiteral("problemLabel"));
    problemLabel->setStyleSheet(QStringLiteral("color: #b00000;"));
    createButton = new QPushButton(QStringLiteral("Create"), this);
    createButton->setDefault(true);
    quitButton = new QPushButton(QStringLiteral("Quit"), this);
    quitButton->setAutoDefault(false);

    auto* intro = new QLabel(QStringLiteral("No user account exists yet. Create the account "
                                            "you will log in with."),
                             this);
    intro->setWordWrap(true);

    auto* form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form->addRow(QStringLiteral("User Name"), nameEdit);
    form->addRow(QStringLiteral("Password"), passwordEdit);
    form->addRow(QStringLiteral("Repeat password"), repeatEdit);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(createButton);
    buttons->addWidget(quitButton);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 14, 20, 14);
    layout->addWidget(heading(QStringLiteral("Tarvenix of ultrasonic flaw detector"), this));
    layout->addWidget(intro);
    layout->addLayout(form);
    layout->addWidget(problemLabel);
    layout->addLayout(buttons);
    setFixedSize(400, 250);

    connect(createButton, &QPushButton::clicked, this, &FirstAccountDialog::createClick);
    connect(quitButton, &QPushButton::clicked, this, [this] { done(QDialog::Rejected); });
}

void FirstAccountDialog::createClick() {
    if (nameEdit->text().trimmed().isEmpty()) {
        problemLabel->setText(QStringLiteral("Enter a user name."));
        return;
    }
    if (passwordEdit->text() != repeatEdit->text()) {
        problemLabel->setText(QStringLiteral("The two passwords differ."));
        repeatEdit->clear();
        repeatEdit->setFocus();
        return;
    }
    if (!accounts_.addUser(nameEdit->text(), passwordEdit->text())) {
        messages_.showError(accounts_.lastError());
        return;
    }
    accept();
}

void FirstAccountDialog::reject() {}

bool runLoginSequence(AppContext& context, OperatorMessages& messages, QWidget* parent) {
    UserAccounts accounts(context.dataStore().userDb());
    // A database without an account (a new one, or one whose accounts are gone) would leave
    // only "Quit": the first account is made first.
    if (accounts.userNames().isEmpty() && accounts.lastError().isEmpty()) {
        FirstAccountDialog first(accounts, messages, parent);
        if (first.exec() != QDialog::Accepted) {
            return false;
        }
    }
    Tdenglu login(context, messages, parent);
    return login.exec() == QDialog::Accepted;
}

} // namespace ufd::app

#include "app/startup.h"
#include "core/accounts/user_accounts.h"
#include "core/context/app_context.h"
#include "gui_test_support.h"
#include "operator_messages_double.h"
#include "windows/shell/login.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace ufd::app {
namespace {

using testing::ScriptedOperatorMessages;

class LoginTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(data.ok); }

    void addUser(const QString& name, const QString& password) {
        ASSERT_TRUE(UserAccounts(data.context.dataStore().userDb()).addUser(name, password));
    }
    // A row as an older database holds it: the password in plain text.
    void addPlainRow(const QString& name, const QString& password) {
        QSqlQuery q(data.context.dataStore().userDb());
        q.prepare(QStringLiteral("INSERT INTO UserTable (\"用户名\", \"密码\") VALUES (?, ?)"));
        q.addBindValue(name);
        q.addBindValue(password);
        ASSERT_TRUE(q.exec());
    }
    QString storedPassword(int row) {
        QSqlQuery q(data.context.dataStore().userDb());
        q.exec(QStringLiteral("SELECT \"密码\" FROM UserTable ORDER BY rowid"));
        for (int i = 0; i <= row; ++i) {
            q.next();
        }
        return q.value(0).toString();
    }
    // Types as the operator does, the name last, and presses Enter in the name box, which
    // finishes its editing and presses the default button "Login". True when accepted.
    bool attempt(Tdenglu& dialog, const QString& name, const QString& password) {
        dialog.MaskEdit1->clear();
        QTest::keyClicks(dialog.MaskEdit1, password);
        dialog.ComboBox1->lineEdit()->clear();
        QTest::keyClicks(dialog.ComboBox1->lineEdit(), name);
        QTest::keyClick(dialog.ComboBox1->lineEdit(), Qt::Key_Return);
        return dialog.result() == QDialog::Accepted;
    }

    testing::TempData data;
    ScriptedOperatorMessages messages;
};

TEST_F(LoginTest, DialogListsTheUsersInTableOrderAndShowsTheFirst) {
    addUser(QStringLiteral("zoe"), QStringLiteral("1"));
    addUser(QStringLiteral("Ann"), QStringLiteral("2"));
    Tdenglu dialog(data.context, messages);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("System Login"));
    EXPECT_EQ(dialog.size(), QSize(349, 199));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    EXPECT_FALSE(dialog.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    ASSERT_EQ(dialog.ComboBox1->count(), 2);
    EXPECT_EQ(dialog.ComboBox1->itemText(0), QStringLiteral("zoe"));
    EXPECT_EQ(dialog.ComboBox1->itemText(1), QStringLiteral("Ann"));
    EXPECT_EQ(dialog.ComboBox1->currentText(), QStringLiteral("zoe"));
    EXPECT_EQ(dialog.MaskEdit1->echoMode(), QLineEdit::Password);
}

TEST_F(LoginTest, NameAndPasswordMustMatchExactly) {
    addUser(QStringLiteral("Admin"), QStringLiteral("Secret"));
    Tdenglu dialog(data.context, messages);
    dialog.show();

    EXPECT_FALSE(attempt(dialog, QStringLiteral("admin"), QStringLiteral("Secret")));
    // The box keeps what was typed: no completion to the listed "Admin".
    EXPECT_EQ(dialog.ComboBox1->currentText(), QStringLiteral("admin"));
    EXPECT_EQ(dialog.MaskEdit1->text(), QStringLiteral("Secret"));
    EXPECT_FALSE(attempt(dialog, QStringLiteral("Adm"), QStringLiteral("Secret")));
    EXPECT_FALSE(attempt(dialog, QStringLiteral("Admin"), QStringLiteral("secret")));
    EXPECT_FALSE(attempt(dialog, QStringLiteral("Admin"), QStringLiteral("Secret ")));
    EXPECT_FALSE(attempt(dialog, QStringLiteral("Admin "), QStringLiteral("Secret")));
    // Failures show nothing and leave the dialog open.
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(data.context.DOXL_RunData.CurrentUser.isEmpty());

    EXPECT_TRUE(attempt(dialog, QStringLiteral("Admin"), QStringLiteral("Secret")));
    EXPECT_EQ(data.context.DOXL_RunData.CurrentUser, QStringLiteral("Admin"));
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(LoginTest, TheFirstOfTwoUsersWithTheSameNameDecides) {
    addUser(QStringLiteral("anna"), QStringLiteral("first"));
    addUser(QStringLiteral("anna"), QStringLiteral("second"));
    Tdenglu dialog(data.context, messages);
    dialog.show();
    EXPECT_FALSE(attempt(dialog, QStringLiteral("anna"), QStringLiteral("second")));
    EXPECT_TRUE(attempt(dialog, QStringLiteral("anna"), QStringLiteral("first")));
}

TEST_F(LoginTest, OlderPlainTextRowsLogInOnceAndAreStoredAsHashes) {
    addPlainRow(QStringLiteral("old"), QStringLiteral("pw"));
    addPlainRow(QStringLiteral("empty"), QString(QLatin1String("")));
    {
        Tdenglu dialog(data.context, messages);
        dialog.show();
        EXPECT_TRUE(attempt(dialog, QStringLiteral("old"), QStringLiteral("pw")));
    }
    EXPECT_TRUE(isPasswordHash(storedPassword(0)));
    EXPECT_TRUE(passwordMatches(storedPassword(0), QStringLiteral("pw")));
    Tdenglu dialog(data.context, messages);
    dialog.show();
    EXPECT_FALSE(attempt(dialog, QStringLiteral("empty"), QStringLiteral(" ")));
    EXPECT_TRUE(attempt(dialog, QStringLiteral("empty"), QString()));
}

TEST_F(LoginTest, OnlyQuitLeavesTheDialogWithoutLoggingIn) {
    addUser(QStringLiteral("op"), QStringLiteral("pw"));
    Tdenglu dialog(data.context, messages);
    dialog.show();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(dialog.close());
    EXPECT_TRUE(dialog.isVisible());
    QTest::mouseClick(dialog.BitBtn2, Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

// A database whose accounts are all gone is no dead end: it asks for the first account, as a
// new one does.
TEST_F(LoginTest, EmptyUserTableOfAnExistingDatabaseAsksForTheFirstAccount) {
    // The fixture created kvrt.mdb; a second start finds it existing and empty.
    AppContext again;
    ASSERT_TRUE(again.openData(data.dir.path()));
    ASSERT_FALSE(again.dataStore().usersDatabaseCreated());
    QStringList seen;
    testing::ModalScript script({[&seen](QWidget* modal) {
        seen << modal->metaObject()->className();
        auto* first = qobject_cast<FirstAccountDialog*>(modal);
        if (!first) {
            return false;
        }
        QTest::mouseClick(first->quitButton, Qt::LeftButton);
        return true;
    }});
    EXPECT_FALSE(runLoginSequence(again, messages, nullptr));
    EXPECT_TRUE(script.completed());
    EXPECT_FALSE(script.forcedClose());
    EXPECT_EQ(seen, QStringList{QStringLiteral("ufd::app::FirstAccountDialog")});
}

// A file of the database's name that is no database.
void damage(const QTemporaryDir& dir, const char* file) {
    QFile f(dir.filePath(QLatin1String(file)));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(8192, '\x5a'));
}

TEST(DamagedDatabase, DamagedUsersDatabaseEndsStartUpWithItsError) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    damage(dir, reports::kUserDbFile);
    AppContext context;
    ScriptedOperatorMessages messages;
    EXPECT_FALSE(openStartupData(context, messages, dir.path()));
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].kind, ScriptedOperatorMessages::Kind::Error);
    EXPECT_EQ(messages.shown[0].text, context.lastError());
    EXPECT_FALSE(context.lastError().isEmpty());
}

TEST(DamagedDatabase, DamagedReportDatabaseIsToldAndTheLoginFollows) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    {
        AppContext earlier; // an earlier run left an account
        ASSERT_TRUE(earlier.openData(dir.path()));
        ASSERT_TRUE(UserAccounts(earlier.dataStore().userDb())
                        .addUser(QStringLiteral("op"), QStringLiteral("pw")));
    }
    QFile::remove(dir.filePath(QLatin1String(reports::kReportDbFile)));
    damage(dir, reports::kReportDbFile);
    AppContext context;
    ScriptedOperatorMessages messages;
    EXPECT_TRUE(openStartupData(context, messages, dir.path()));
    ASSERT_EQ(messages.count(ScriptedOperatorMessages::Kind::Error), 1);
    EXPECT_FALSE(context.dataStore().replaceReports({}).firstError.isEmpty()); // no reports
    Tdenglu login(context, messages);
    EXPECT_EQ(login.ComboBox1->count(), 1);
    EXPECT_EQ(messages.shown.size(), 1u);
}

TEST(FirstRun, AsksForTheFirstAccountTwiceTypedBeforeTheLogin) {
    testing::TempData data;
    ASSERT_TRUE(data.ok);
    ASSERT_TRUE(data.context.dataStore().usersDatabaseCreated());
    ScriptedOperatorMessages messages;
    QString problem;
    QStringList listed;
    testing::ModalScript script({
        [&problem](QWidget* modal) {
            auto* first = qobject_cast<FirstAccountDialog*>(modal);
            if (!first) {
                return false;
            }
            QTest::keyClicks(first->nameEdit, QStringLiteral("Chief"));
            QTest::keyClicks(first->passwordEdit, QStringLiteral("abc"));
            QTest::keyClicks(first->repeatEdit, QStringLiteral("abd"));
            QTest::mouseClick(first->createButton, Qt::LeftButton);
            problem = first->problemLabel->text();
            return first->isVisible();
        },
        [](QWidget* modal) {
            auto* first = qobject_cast<FirstAccountDialog*>(modal);
            if (!first) {
                return false;
            }
            QTest::keyClicks(first->repeatEdit, QStringLiteral("abc"));
            QTest::mouseClick(first->createButton, Qt::LeftButton);
            return true;
        },
        [&listed](QWidget* modal) {
            auto* login = qobject_cast<Tdenglu*>(modal);
            if (!login) {
                return false;
            }
            for (int i = 0; i < login->ComboBox1->count(); ++i) {
                listed << login->ComboBox1->itemText(i);
            }
            QTest::keyClicks(login->MaskEdit1, QStringLiteral("abc"));
            QTest::mouseClick(login->BitBtn1, Qt::LeftButton);
            return true;
        },
    });
    EXPECT_TRUE(runLoginSequence(data.context, messages, nullptr));
    EXPECT_TRUE(script.completed());
    EXPECT_FALSE(script.forcedClose());
    EXPECT_FALSE(problem.isEmpty());
    EXPECT_EQ(listed, QStringList{QStringLiteral("Chief")});
    EXPECT_EQ(data.context.DOXL_RunData.CurrentUser, QStringLiteral("Chief"));
    QSqlQuery q(data.context.dataStore().userDb());
    ASSERT_TRUE(q.exec(QStringLiteral("SELECT \"密码\" FROM UserTable")));
    ASSERT_TRUE(q.next());
    EXPECT_TRUE(isPasswordHash(q.value(0).toString()));
    EXPECT_FALSE(q.next());
}

TEST(FirstRun, QuittingTheFirstAccountEndsWithoutAnAccount) {
    testing::TempData data;
    ASSERT_TRUE(data.ok);
    ScriptedOperatorMessages messages;
    testing::ModalScript script({[](QWidget* modal) {
        auto* first = qobject_cast<FirstAccountDialog*>(modal);
        if (!first) {
            return false;
        }
        QTest::mouseClick(first->createButton, Qt::LeftButton); // no name: refused
        if (!first->isVisible()) {
            return false;
        }
        QTest::mouseClick(first->quitButton, Qt::LeftButton);
        return true;
    }});
    EXPECT_FALSE(runLoginSequence(data.context, messages, nullptr));
    EXPECT_TRUE(script.completed());
    EXPECT_FALSE(script.forcedClose());
    EXPECT_TRUE(UserAccounts(data.context.dataStore().userDb()).userNames().isEmpty());
}

} // namespace
} // namespace ufd::app

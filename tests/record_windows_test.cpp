#include "app/main_form.h"
#include "core/accounts/user_accounts.h"
#include "core/archive/shared_database.h"
#include "gui_test_support.h"
#include "operator_messages_double.h"
#include "throwaway_postgres.h"
#include "widgets/data_link.h"
#include "widgets/record_navigator.h"
#include "windows/reports/report_browser_parts.h"
#include "windows/shell/login.h"
#include "windows/shell/user_manager.h"
#include "windows/shell/workpieces.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace ufd::app {
namespace {

using testing::ScriptedOperatorMessages;
using Nav = RecordNavigator;

void press(RecordNavigator* navigator, Nav::Button which) {
    QAbstractButton* b = navigator->button(which);
    ASSERT_NE(b, nullptr);
    ASSERT_TRUE(b->isEnabled()) << RecordNavigator::hint(which).toStdString();
    QTest::mouseClick(b, Qt::LeftButton);
}

// The editor open in the grid's current cell, or null.
QLineEdit* gridEditor(QTableView* grid) {
    return qobject_cast<QLineEdit*>(grid->indexWidget(grid->currentIndex()));
}

class WorkpieceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(data.ok); }

    void addPart(const QString& id, const QString& name) {
        QSqlQuery q(data.context.dataStore().reportDb());
        q.prepare(QStringLiteral("INSERT INTO tabPartInfo (PartID, PartName) VALUES (?, ?)"));
        q.addBindValue(id);
        q.addBindValue(name);
        ASSERT_TRUE(q.exec());
    }
    QStringList names() {
        QStringList out;
        QSqlQuery q(data.context.dataStore().reportDb());
        q.exec(QStringLiteral("SELECT PartName FROM tabPartInfo ORDER BY rowid"));
        while (q.next()) {
            out << q.value(0).toString();
        }
        return out;
    }
    std::unique_ptr<TSbgl> openWindow() {
        auto w = std::make_unique<TSbgl>(data.context, messages);
        w->show();
        return w;
    }

    testing::TempData data;
    ScriptedOperatorMessages messages;
};

TEST_F(WorkpieceTest, GridShowsTheColumnsInOrderWithTheirTitles) {
    auto w = openWindow();
    QHeaderView* header = w->DBGrid1->horizontalHeader();
    QStringList titles;
    for (int visual = 0; visual < header->count(); ++visual) {
        const int logical = header->logicalIndex(visual);
        if (!w->DBGrid1->isColumnHidden(logical)) {
            titles << w->DBGrid1->model()->headerData(logical, Qt::Horizontal).toString();
        }
    }
    EXPECT_EQ(titles.join(QLatin1Char('|')),
              QStringLiteral("Num|Name|Type|Material|Roughness|Heat treatment|Department|"
                             "Additional"));
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Workpiece management"));
    for (Nav::Button b : {Nav::Cancel, Nav::Refresh}) {
        EXPECT_EQ(w->DBNavigator1->button(b), nullptr);
    }
}

TEST_F(WorkpieceTest, EmptyTableThenInsertAndPostAddsTheFirstRow) {
    auto w = openWindow();
    EXPECT_EQ(w->DBGrid1->model()->rowCount(), 0);
    EXPECT_TRUE(w->editor(QStringLiteral("PartID"))->text().isEmpty());
    EXPECT_FALSE(w->DBNavigator1->button(Nav::Edit)->isEnabled());
    EXPECT_FALSE(w->DBNavigator1->button(Nav::Post)->isEnabled());

    press(w->DBNavigator1, Nav::Insert);
    QTest::keyClicks(w->editor(QStringLiteral("PartID")), QStringLiteral("W-001"));
    QTest::keyClicks(w->editor(QStringLiteral("PartName")), QStringLiteral("Flange"));
    testing::typeText(w->editor(QStringLiteral("FlawInfo")), QStringLiteral("裂纹"));
    press(w->DBNavigator1, Nav::Post);

    EXPECT_EQ(w->link->state(), DataLink::State::Browse);
    EXPECT_EQ(data.context.dataStore().workpieceNumbers(), QStringList{QStringLiteral("W-001")});
    const auto details = data.context.dataStore().workpieceDetails(QStringLiteral("W-001"));
    ASSERT_TRUE(details);
    EXPECT_EQ(details->PartName, QStringLiteral("Flange"));
    EXPECT_EQ(details->FlawInfo, QStringLiteral("裂纹"));
    EXPECT_EQ(w->DBGrid1->model()->rowCount(), 1);
}

// Insert then Post or a move with nothing typed stores no row; a workpiece needs its number.
TEST_F(WorkpieceTest, ABlankInsertIsDroppedAndANumberIsRequired) {
    addPart(QStringLiteral("A1"), QStringLiteral("Shaft"));
    addPart(QStringLiteral("A2"), QStringLiteral("Axle"));
    auto w = openWindow();
    press(w->DBNavigator1, Nav::Next); // an inserted row then has rows on both sides
    for (Nav::Button move : {Nav::Post, Nav::Prior, Nav::Next}) {
        press(w->DBNavigator1, Nav::Insert);
        press(w->DBNavigator1, move);
        EXPECT_EQ(w->link->state(), DataLink::State::Browse);
        EXPECT_EQ(names(), (QStringList{QStringLiteral("Shaft"), QStringLiteral("Axle")}));
    }
    EXPECT_TRUE(messages.shown.empty());

    press(w->DBNavigator1, Nav::Insert);
    QTest::keyClicks(w->editor(QStringLiteral("PartName")), QStringLiteral("No number"));
    press(w->DBNavigator1, Nav::Post);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, "The workpiece number must not be empty.");
    EXPECT_EQ(w->link->state(), DataLink::State::Insert); // still there to be finished
    EXPECT_EQ(names().size(), 2);
}

// A stored workpiece without a number (an older database) hides none after it in the browser.
TEST_F(WorkpieceTest, AnEmptyNumberHidesNoWorkpieceInTheBrowsersList) {
    addPart(QStringLiteral("A1"), QStringLiteral("Shaft"));
    addPart(QString(QLatin1String("")), QStringLiteral("Nameless"));
    addPart(QStringLiteral("A3"), QStringLiteral("Axle"));
    reports::WorkpieceGroup group(data.context.dataStore());
    group.fill(messages);
    ASSERT_EQ(group.numberBox()->count(), 2);
    EXPECT_EQ(group.numberBox()->itemText(1), QStringLiteral("A3"));
    EXPECT_TRUE(messages.shown.empty());

    // A failing query shows the engine's text.
    QSqlQuery q(data.context.dataStore().reportDb());
    ASSERT_TRUE(q.exec(QStringLiteral("ALTER TABLE tabPartInfo RENAME TO gone")));
    group.fill(messages);
    ASSERT_EQ(messages.count(ScriptedOperatorMessages::Kind::Error), 1);
    EXPECT_TRUE(messages.shown[0].text.contains(QStringLiteral("tabPartInfo")));
}

// Closing with an edit in progress asks whether to store it: Cancel keeps the window, No drops
// the edit, Yes stores it; with nothing typed it closes without asking.
TEST_F(WorkpieceTest, ClosingWithAnEditInProgressAsks) {
    using Choice = OperatorMessages::Choice;
    addPart(QStringLiteral("A1"), QStringLiteral("Shaft"));
    auto w = openWindow();
    press(w->DBNavigator1, Nav::Edit);
    EXPECT_TRUE(w->close()); // nothing typed
    EXPECT_TRUE(messages.shown.empty());

    w = openWindow();
    press(w->DBNavigator1, Nav::Edit);
    QLineEdit* name = w->editor(QStringLiteral("PartName"));
    name->selectAll();
    QTest::keyClicks(name, QStringLiteral("Axle"));
    messages.choices = {Choice::Cancel, Choice::No};
    EXPECT_FALSE(w->close());
    ASSERT_EQ(messages.count(ScriptedOperatorMessages::Kind::YesNoCancel), 1);
    EXPECT_EQ(messages.shown[0].title, QStringLiteral("Workpiece management"));
    EXPECT_EQ(name->text(), QStringLiteral("Axle"));
    EXPECT_TRUE(w->close());
    EXPECT_EQ(names(), QStringList{QStringLiteral("Shaft")});

    w = openWindow();
    press(w->DBNavigator1, Nav::Edit);
    w->editor(QStringLiteral("PartName"))->selectAll();
    QTest::keyClicks(w->editor(QStringLiteral("PartName")), QStringLiteral("Axle"));
    messages.choices = {Choice::Yes};
    EXPECT_TRUE(w->close());
    EXPECT_EQ(names(), QStringList{QStringLiteral("Axle")});

    // The user window asks the same.
    UserAccounts(data.context.dataStore().userDb())
        .addUser(QStringLiteral("a"), QStringLiteral("1"));
    TFUserManager users(data.context, messages);
    users.show();
    QTest::keyClicks(users.nameEdit, QStringLiteral("x"));
    messages.choices = {Choice::Yes};
    EXPECT_TRUE(users.close());
    EXPECT_EQ(UserAccounts(data.context.dataStore().userDb()).userNames(),
              QStringList{QStringLiteral("ax")});
}

TEST_F(WorkpieceTest, BoxesChangeOnlyAfterEditAndPostStores) {
    addPart(QStringLiteral("A1"), QStringLiteral("Shaft"));
    auto w = openWindow();
    QLineEdit* name = w->editor(QStringLiteral("PartName"));
    EXPECT_EQ(name->text(), QStringLiteral("Shaft"));

    QTest::keyClicks(name, QStringLiteral("XX"));
    EXPECT_EQ(name->text(), QStringLiteral("Shaft"));
    EXPECT_EQ(w->link->state(), DataLink::State::Browse);

    press(w->DBNavigator1, Nav::Edit);
    name->selectAll();
    QTest::keyClicks(name, QStringLiteral("Axle"));
    EXPECT_EQ(names(), QStringList{QStringLiteral("Shaft")}); // not stored before Post
    press(w->DBNavigator1, Nav::Post);
    EXPECT_EQ(names(), QStringList{QStringLiteral("Axle")});
    QTest::keyClicks(name, QStringLiteral("YY"));
    EXPECT_EQ(name->text(), QStringLiteral("Axle"));
}

TEST_F(WorkpieceTest, DeleteAsksAndCancelKeepsTheRow) {
    addPart(QStringLiteral("A1"), QStringLiteral("Shaft"));
    addPart(QStringLiteral("A2"), QStringLiteral("Gear"));
    auto w = openWindow();
    press(w->DBNavigator1, Nav::Next);
    EXPECT_EQ(w->editor(QStringLiteral("PartID"))->text(), QStringLiteral("A2"));

    messages.answers = {false};
    press(w->DBNavigator1, Nav::Delete);
    ASSERT_EQ(messages.count(ScriptedOperatorMessages::Kind::OkCancel), 1);
    EXPECT_EQ(messages.shown.back().text, QStringLiteral("Delete record?"));
    EXPECT_EQ(names(), (QStringList{QStringLiteral("Shaft"), QStringLiteral("Gear")}));

    messages.answers = {true};
    press(w->DBNavigator1, Nav::Delete);
    EXPECT_EQ(names(), QStringList{QStringLiteral("Shaft")});
    EXPECT_EQ(w->editor(QStringLiteral("PartID"))->text(), QStringLiteral("A1"));
}

TEST_F(WorkpieceTest, NavigatorMovesBoxesAndGridTogether) {
    for (int i = 1; i <= 4; ++i) {
        addPart(QStringLiteral("P%1").arg(i), QStringLiteral("part %1").arg(i));
    }
    auto w = openWindow();
    auto currentId = [&w] { return w->editor(QStringLiteral("PartID"))->text(); };
    auto gridRow = [&w] { return w->DBGrid1->currentIndex().row(); };
    EXPECT_EQ(currentId(), QStringLiteral("P1"));
    EXPECT_FALSE(w->DBNavigator1->button(Nav::First)->isEnabled());
    EXPECT_FALSE(w->DBNavigator1->button(Nav::Prior)->isEnabled());
    press(w->DBNavigator1, Nav::Last);
    EXPECT_EQ(currentId(), QStringLiteral("P4"));
    EXPECT_EQ(gridRow(), 3);
    EXPECT_FALSE(w->DBNavigator1->button(Nav::Next)->isEnabled());
    press(w->DBNavigator1, Nav::Prior);
    EXPECT_EQ(currentId(), QStringLiteral("P3"));
    EXPECT_EQ(gridRow(), 2);
    press(w->DBNavigator1, Nav::First);
    EXPECT_EQ(currentId(), QStringLiteral("P1"));

    // A click into the grid moves the boxes.
    const QModelIndex second = w->DBGrid1->model()->index(1, 0);
    w->DBGrid1->setCurrentIndex(second);
    EXPECT_EQ(currentId(), QStringLiteral("P2"));
}

TEST_F(WorkpieceTest, RefusedPostReportsTheErrorAndKeepsTheRowBeingEdited) {
    addPart(QStringLiteral("A1"), QStringLiteral("Shaft"));
    auto w = openWindow();
    press(w->DBNavigator1, Nav::Edit);
    QLineEdit* name = w->editor(QStringLiteral("PartName"));
    name->selectAll();
    QTest::keyClicks(name, QStringLiteral("Axle"));
    QSqlQuery(data.context.dataStore().reportDb()).exec(QStringLiteral("DROP TABLE tabPartInfo"));
    press(w->DBNavigator1, Nav::Post);
    EXPECT_EQ(messages.count(ScriptedOperatorMessages::Kind::Error), 1);
    EXPECT_EQ(w->link->state(), DataLink::State::Edit);
    EXPECT_EQ(name->text(), QStringLiteral("Axle"));
}

TEST_F(WorkpieceTest, TwinRowsAreEditedAndDeletedOneAtATime) {
    for (const char* name : {"Shaft", "Shaft", "Gear", "Gear"}) {
        addPart(QStringLiteral("A1"), QLatin1String(name));
    }
    auto w = openWindow();
    press(w->DBNavigator1, Nav::Next);
    press(w->DBNavigator1, Nav::Edit);
    QLineEdit* name = w->editor(QStringLiteral("PartName"));
    name->selectAll();
    QTest::keyClicks(name, QStringLiteral("Axle"));
    press(w->DBNavigator1, Nav::Post);
    EXPECT_EQ(names(), (QStringList{QStringLiteral("Shaft"), QStringLiteral("Axle"),
                                    QStringLiteral("Gear"), QStringLiteral("Gear")}));

    press(w->DBNavigator1, Nav::Last);
    messages.answers = {true};
    press(w->DBNavigator1, Nav::Delete);
    EXPECT_EQ(names(), (QStringList{QStringLiteral("Shaft"), QStringLiteral("Axle"),
                                    QStringLiteral("Gear")}));
    EXPECT_EQ(w->DBGrid1->model()->rowCount(), 3);
}

TEST_F(WorkpieceTest, ValueTypedIntoTheGridIsStoredOnlyAsTheNavigatorSays) {
    addPart(QStringLiteral("A1"), QStringLiteral("Shaft"));
    addPart(QStringLiteral("A2"), QStringLiteral("Gear"));
    auto w = openWindow();
    QTableView* grid = w->DBGrid1;
    const int nameColumn = w->link->model()->fieldIndex(QStringLiteral("PartName"));
    // This grid opens no cell by itself; the cell is opened as a grid that takes typing would.
    auto typeIntoGrid = [grid, nameColumn](const QString& text) {
        grid->setCurrentIndex(grid->model()->index(grid->currentIndex().row(), nameColumn));
        grid->edit(grid->currentIndex());
        QLineEdit* cell = gridEditor(grid);
        ASSERT_NE(cell, nullptr);
        cell->selectAll();
        QTest::keyClicks(cell, text);
    };
    auto shownName = [grid, nameColumn](int row) {
        return grid->model()->index(row, nameColumn).data().toString();
    };

    // Without Edit neither typing nor pasting into a cell stays: nothing would store it.
    typeIntoGrid(QStringLiteral("Axle"));
    gridEditor(grid)->insert(QStringLiteral("Axle")); // as the cell's context menu pastes
    press(w->DBNavigator1, Nav::Next);
    EXPECT_EQ(shownName(0), QStringLiteral("Shaft"));
    EXPECT_EQ(names(), (QStringList{QStringLiteral("Shaft"), QStringLiteral("Gear")}));

    press(w->DBNavigator1, Nav::Edit);
    typeIntoGrid(QStringLiteral("Cog"));
    w->link->cancel();
    EXPECT_EQ(gridEditor(grid), nullptr);
    EXPECT_EQ(shownName(1), QStringLiteral("Gear"));

    press(w->DBNavigator1, Nav::Edit);
    typeIntoGrid(QStringLiteral("Cog"));
    press(w->DBNavigator1, Nav::Post);
    EXPECT_EQ(names(), (QStringList{QStringLiteral("Shaft"), QStringLiteral("Cog")}));
    EXPECT_EQ(shownName(1), QStringLiteral("Cog"));
}

TEST_F(WorkpieceTest, ReopenedWindowShowsTheCurrentContents) {
    TMainForm form(data.context, messages);
    form.setLoginStep([](TMainForm&) { return true; });
    form.show();
    addPart(QStringLiteral("A1"), QStringLiteral("Shaft"));
    auto* first = qobject_cast<TSbgl*>(form.openChild(ChildKind::Workpieces));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->DBGrid1->model()->rowCount(), 1);
    addPart(QStringLiteral("A2"), QStringLiteral("Gear"));
    EXPECT_EQ(first->DBGrid1->model()->rowCount(), 1);
    qobject_cast<QMdiSubWindow*>(first->parentWidget())->close();
    testing::settleClosedWindows();
    EXPECT_EQ(form.child(ChildKind::Workpieces), nullptr);
    auto* second = qobject_cast<TSbgl*>(form.openChild(ChildKind::Workpieces));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->DBGrid1->model()->rowCount(), 2);
}

class UserManagerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(data.ok); }

    QSqlQuery rows() {
        QSqlQuery q(data.context.dataStore().userDb());
        q.exec(QStringLiteral(
            "SELECT \"用户名\", \"密码\", \"用户类型\" FROM UserTable ORDER BY rowid"));
        return q;
    }
    std::unique_ptr<TFUserManager> openWindow() {
        auto w = std::make_unique<TFUserManager>(data.context, messages);
        w->show();
        return w;
    }

    testing::TempData data;
    ScriptedOperatorMessages messages;
};

TEST_F(UserManagerTest, LayoutButtonsAndGrid) {
    auto w = openWindow();
    EXPECT_EQ(w->windowTitle(), QStringLiteral("User management"));
    QStringList captions;
    for (Nav::Button b : {Nav::Prior, Nav::Next, Nav::Insert, Nav::Delete, Nav::Edit, Nav::Post}) {
        ASSERT_NE(w->navigator->button(b), nullptr);
        captions << w->navigator->button(b)->text();
    }
    EXPECT_EQ(captions.join(QLatin1Char(' ')),
              QStringLiteral("Prior Next Insert Delete Edit Save"));
    EXPECT_EQ(w->navigator->button(Nav::First), nullptr);
    int shown = 0;
    for (int c = 0; c < w->DBGrid1->model()->columnCount(); ++c) {
        if (!w->DBGrid1->isColumnHidden(c)) {
            ++shown;
            EXPECT_EQ(w->DBGrid1->model()->headerData(c, Qt::Horizontal).toString(),
                      QStringLiteral("Name"));
        }
    }
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(w->passwordEdit->echoMode(), QLineEdit::Password);
}

TEST_F(UserManagerTest, TypedPasswordIsStoredAsItsHashAndNeverShown) {
    auto w = openWindow();
    press(w->navigator, Nav::Insert);
    QTest::keyClicks(w->nameEdit, QStringLiteral("inspector"));
    QTest::keyClicks(w->passwordEdit, QStringLiteral("pa ss"));
    QTest::keyClicks(w->levelEdit, QStringLiteral("2"));
    press(w->navigator, Nav::Post);

    QSqlQuery q = rows();
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toString(), QStringLiteral("inspector"));
    const QString stored = q.value(1).toString();
    EXPECT_TRUE(isPasswordHash(stored));
    EXPECT_TRUE(passwordMatches(stored, QStringLiteral("pa ss")));
    EXPECT_EQ(q.value(2).toString(), QStringLiteral("2"));
    EXPECT_TRUE(w->passwordEdit->text().isEmpty());

    // Changing the name alone keeps the stored hash as it was.
    QTest::keyClicks(w->nameEdit, QStringLiteral("2"));
    EXPECT_EQ(w->link->state(), DataLink::State::Edit); // typing started editing
    press(w->navigator, Nav::Post);
    q = rows();
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toString(), QStringLiteral("inspector2"));
    EXPECT_EQ(q.value(1).toString(), stored);

    // A new password replaces the hash; the login accepts it.
    QTest::keyClicks(w->passwordEdit, QStringLiteral("new"));
    press(w->navigator, Nav::Post);
    q = rows();
    ASSERT_TRUE(q.next());
    EXPECT_NE(q.value(1).toString(), stored);
    EXPECT_TRUE(UserAccounts(data.context.dataStore().userDb())
                    .login(QStringLiteral("inspector2"), QStringLiteral("new")));
}

TEST_F(UserManagerTest, TypingIntoAnEmptyTableStartsANewRow) {
    auto w = openWindow();
    QTest::keyClicks(w->nameEdit, QStringLiteral("first"));
    EXPECT_EQ(w->link->state(), DataLink::State::Insert);
    EXPECT_TRUE(w->navigator->button(Nav::Post)->isEnabled());
    press(w->navigator, Nav::Post);
    EXPECT_EQ(UserAccounts(data.context.dataStore().userDb()).userNames(),
              QStringList{QStringLiteral("first")});
}

TEST_F(UserManagerTest, NameTypedIntoTheGridIsStoredBySaveAndByMoving) {
    UserAccounts accounts(data.context.dataStore().userDb());
    accounts.addUser(QStringLiteral("a"), QStringLiteral("1"));
    accounts.addUser(QStringLiteral("b"), QStringLiteral("2"));
    auto w = openWindow();
    // What the cell shows once typed into.
    auto typeIntoGrid = [&w](const QString& text) {
        testing::typeText(w->DBGrid1, text.left(1)); // the first key opens the cell
        QLineEdit* cell = gridEditor(w->DBGrid1);
        if (!cell) {
            ADD_FAILURE() << "typing opened no cell";
            return QString();
        }
        QTest::keyClicks(cell, text.mid(1));
        return cell->text();
    };
    auto shownName = [&w](int row) {
        return w->DBGrid1->model()
            ->index(row, w->DBGrid1->currentIndex().column())
            .data()
            .toString();
    };

    const QString first = typeIntoGrid(QStringLiteral("ann"));
    press(w->navigator, Nav::Post);
    EXPECT_EQ(gridEditor(w->DBGrid1), nullptr);
    EXPECT_EQ(shownName(0), first);
    EXPECT_EQ(w->nameEdit->text(), first);

    press(w->navigator, Nav::Next);
    const QString second = typeIntoGrid(QStringLiteral("bob"));
    press(w->navigator, Nav::Prior);
    EXPECT_EQ(accounts.userNames(), (QStringList{first, second}));
    EXPECT_EQ(w->link->state(), DataLink::State::Browse);
}

TEST_F(UserManagerTest, RestoringTheWindowKeepsAnEditInProgress) {
    UserAccounts(data.context.dataStore().userDb())
        .addUser(QStringLiteral("a"), QStringLiteral("1"));
    TMainForm form(data.context, messages);
    form.setLoginStep([](TMainForm&) { return true; });
    form.show();
    auto* w = qobject_cast<TFUserManager*>(form.openChild(ChildKind::UserManager));
    ASSERT_NE(w, nullptr);
    QTest::keyClicks(w->nameEdit, QStringLiteral("x"));
    ASSERT_EQ(w->link->state(), DataLink::State::Edit);

    form.showMinimized();
    form.showNormal();
    auto* frame = qobject_cast<QMdiSubWindow*>(w->parentWidget());
    frame->showMinimized();
    frame->showNormal();
    EXPECT_EQ(w->link->state(), DataLink::State::Edit);
    EXPECT_EQ(w->nameEdit->text(), QStringLiteral("ax"));
}

// No account without a name, none typed by nobody, and never none at all.
TEST_F(UserManagerTest, NoBlankAccountAndTheLastOneStays) {
    UserAccounts accounts(data.context.dataStore().userDb());
    accounts.addUser(QStringLiteral("a"), QStringLiteral("1"));
    auto w = openWindow();
    press(w->navigator, Nav::Insert);
    press(w->navigator, Nav::Next);
    press(w->navigator, Nav::Insert);
    press(w->navigator, Nav::Post);
    EXPECT_EQ(accounts.userNames(), QStringList{QStringLiteral("a")});
    EXPECT_TRUE(messages.shown.empty()) << messages.shown[0].text.toStdString();

    press(w->navigator, Nav::Insert);
    QTest::keyClicks(w->passwordEdit, QStringLiteral("pw"));
    press(w->navigator, Nav::Post);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, "The user name must not be empty.");
    EXPECT_EQ(accounts.userNames(), QStringList{QStringLiteral("a")});
    w->link->cancel();

    press(w->navigator, Nav::Delete);
    ASSERT_EQ(messages.shown.size(), 2u);
    EXPECT_EQ(messages.shown[1].text, "The last account cannot be deleted: nobody could log in.");
    EXPECT_EQ(accounts.userNames(), QStringList{QStringLiteral("a")});

    // An account stored without a name by an older program never logs in.
    QSqlQuery q(data.context.dataStore().userDb());
    ASSERT_TRUE(
        q.exec(QStringLiteral("INSERT INTO UserTable (\"用户名\", \"密码\") VALUES ('', '')")));
    EXPECT_FALSE(accounts.login(QString(), QString()));
}

TEST_F(UserManagerTest, DeleteTakesEffectAtOnceWithoutAsking) {
    UserAccounts accounts(data.context.dataStore().userDb());
    accounts.addUser(QStringLiteral("a"), QStringLiteral("1"));
    accounts.addUser(QStringLiteral("b"), QStringLiteral("2"));
    auto w = openWindow();
    press(w->navigator, Nav::Next);
    EXPECT_EQ(w->nameEdit->text(), QStringLiteral("b"));
    press(w->navigator, Nav::Delete);
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(accounts.userNames(), QStringList{QStringLiteral("a")});
    // A later login no longer offers the account.
    Tdenglu login(data.context, messages);
    EXPECT_EQ(login.ComboBox1->count(), 1);
    EXPECT_EQ(login.ComboBox1->itemText(0), QStringLiteral("a"));
}

} // namespace
} // namespace ufd::app

namespace ufd::app {
namespace {

// The workpiece and user windows when a settings file puts both lists on a shared server.
TEST(SharedServerWindows, WorkpiecesAndUsersAreEditedOnTheServerOneRowAtATime) {
    if (testing::ThrowawayPostgres::unavailableHere()) {
        GTEST_SKIP() << "no PostgreSQL on this machine";
    }
    testing::ThrowawayPostgres server;
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    ASSERT_TRUE(server.createDatabase(QStringLiteral("lab")));
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString settings = dir.filePath(QStringLiteral("ufd-database.ini"));
    QFile ini(settings);
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write(QStringLiteral("[server]\nhost=127.0.0.1\nport=%1\ndatabase=lab\nuser=%2\n")
                  .arg(server.port())
                  .arg(server.user())
                  .toUtf8());
    ini.close();
    qputenv(archive::kPasswordVariable, server.password().toUtf8());
    AppContext context;
    context.setDatabaseSettingsFile(settings);
    ASSERT_TRUE(context.openData(dir.path())) << context.lastError().toStdString();
    ASSERT_TRUE(context.dataStore().isShared());
    ScriptedOperatorMessages messages;

    {
        TSbgl w(context, messages);
        w.show();
        for (const char* id : {"A1", "A1"}) {
            press(w.DBNavigator1, Nav::Insert);
            QTest::keyClicks(w.editor(QStringLiteral("PartID")), QLatin1String(id));
            QTest::keyClicks(w.editor(QStringLiteral("PartName")), QStringLiteral("Shaft"));
            press(w.DBNavigator1, Nav::Post);
        }
        // Twins: the edit and the delete reach one of them only.
        press(w.DBNavigator1, Nav::First);
        press(w.DBNavigator1, Nav::Edit);
        QLineEdit* name = w.editor(QStringLiteral("PartName"));
        name->selectAll();
        QTest::keyClicks(name, QStringLiteral("Axle"));
        press(w.DBNavigator1, Nav::Post);
        const auto names = [&context] {
            QStringList out;
            QSqlQuery q(context.dataStore().reportDb());
            q.exec(QStringLiteral("SELECT PartName FROM tabPartInfo ORDER BY rowid"));
            while (q.next()) {
                out << q.value(0).toString();
            }
            return out;
        };
        EXPECT_EQ(names(), (QStringList{"Axle", "Shaft"}));
        messages.answers = {true};
        press(w.DBNavigator1, Nav::Delete);
        EXPECT_EQ(names(), QStringList{"Shaft"});
        EXPECT_EQ(messages.count(ScriptedOperatorMessages::Kind::Error), 0)
            << messages.shown.back().text.toStdString();
    }
    {
        TFUserManager w(context, messages);
        w.show();
        for (const char* user : {"ann", "bob"}) {
            press(w.navigator, Nav::Insert);
            QTest::keyClicks(w.nameEdit, QLatin1String(user));
            QTest::keyClicks(w.passwordEdit, QStringLiteral("pw"));
            press(w.navigator, Nav::Post);
        }
        press(w.navigator, Nav::Prior);
        press(w.navigator, Nav::Delete);
        UserAccounts accounts(context.dataStore().userDb());
        EXPECT_EQ(accounts.userNames(), QStringList{"bob"});
        EXPECT_TRUE(accounts.login("bob", "pw"));
        EXPECT_EQ(messages.count(ScriptedOperatorMessages::Kind::Error), 0);
    }
}

} // namespace
} // namespace ufd::app

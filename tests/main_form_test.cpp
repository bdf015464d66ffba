#include "app/child_windows.h"
#include "app/main_form.h"
#include "app/port_windows.h"
#include "app/report_windows.h"
#include "core/accounts/user_accounts.h"
#include "core/context/app_context.h"
#include "core/protocol/dispatcher.h"
#include "core/protocol/packet.h"
#include "gui_test_support.h"
#include "operator_messages_double.h"
#include "wait_for.h"
#include "windows/serial/port_link.h"
#include "windows/shell/about.h"
#include "windows/shell/login.h"
#include "windows/shell/user_manager.h"
#include "windows/shell/workpieces.h"

#include <QAbstractButton>
#include <QAction>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusTipEvent>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <gtest/gtest.h>

namespace ufd::app {
namespace {

using testing::ScriptedOperatorMessages;

class FakePortLink final : public PortLink {
public:
    bool open = false;
    int shows = 0;
    int closes = 0;
    std::vector<bool> connectPresses; // the link state each press saw

    bool portOpen() const override { return open; }
    void showPortWindow() override { ++shows; }
    void connectClicked(bool linkConnected) override { connectPresses.push_back(linkConnected); }
    void closePort() override { ++closes; }
};

class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(data.ok);
        form = std::make_unique<TMainForm>(data.context, messages);
        form->setLoginStep([](TMainForm&) { return true; });
        form->setPortLinkFactory([this](TMainForm&) {
            auto link = std::make_unique<FakePortLink>();
            port = link.get();
            return link;
        });
        connectDispatcher(*form);
        form->show();
    }
    void TearDown() override { form.reset(); }

    // The program asks for connect (16) or disconnect (18), and the instrument's answer comes
    // in as the line delivers it.
    void answer(std::uint8_t code, std::uint8_t status = 0) {
        data.context.dispatcher().SendPublicCmd(code);
        const std::string packet = protocol::buildResponsePacket(code, status, nullptr, 0);
        data.context.dispatcher().CommReceiveData(QByteArray::fromStdString(packet));
    }

    QAction* action(const char* name) const {
        return form->findChild<QAction*>(QLatin1String(name));
    }
    QToolButton* button(const char* name) const {
        return form->findChild<QToolButton*>(QLatin1String(name));
    }
    int childCount() const { return static_cast<int>(form->mdiArea()->subWindowList().size()); }

    testing::TempData data;
    ScriptedOperatorMessages messages;
    std::unique_ptr<TMainForm> form;
    FakePortLink* port = nullptr;
};

struct Item {
    const char* name;
    const char* caption;
    const char* hint;
    bool visible;
    bool enabled;
};

TEST_F(MainFormTest, MenuHasTheItemsCaptionsHintsAndStatesInOrder) {
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Tarvenix of ultrasonic flaw detector V1.00"));
    const std::vector<std::pair<Item, std::vector<Item>>> expected{
        {{"N10", "System", "", true, true},
         {{"N11", "Workpiece", "Workpiece management", true, true},
          {"N14", "User Management", "User management", true, true},
          {"N16", "Station", "Station details", true, true},
          {"N2", "--------", "", true, true},
          {"N15", "Exit", "Exit the system", true, true}}},
        {{"N30", "Communication", "", true, true},
         {{"N31", "Port Setting", "Communication port setting", true, true},
          {"N32", "Online monitoring", "Online monitoring", true, false},
          {"N33", "Video replay", "", false, true},
          {"N34", "Upload Report", "Upload flaw detection report file", true, false},
          {"N35", "", "", false, true}}},
        {{"N40", "", "", false, true},
         {{"N41", "", "", false, true},
          {"N42", "", "", false, true},
          {"N43", "", "", false, true},
          {"N44", "", "", false, true}}},
        {{"N50", "Database", "", true, true},
         {{"N51", "Data Backup", "Data Backup", true, false},
          {"N52", "Data Restore", "Data Restore", true, false},
          {"N53", "Data Clear", "Data Clear", true, false},
          {"N1", "--------", "", true, true},
          {"N55", "Flaw detection report", "Edit flaw detection report", true, true},
          {"N56", "Video replay", "Video Replay", true, true},
          {"N57", "Report archive", "Every report ever imported", true, true}}},
        {{"N60", "", "", false, true},
         {{"N61", "", "", false, true},
          {"N62", "", "", false, true},
          {"N63", "", "", false, true}}},
        {{"N70", "Help", "", true, true}, {{"N71", "About", "", true, true}}},
    };
    const QList<QAction*> top = form->menuBar()->actions();
    ASSERT_EQ(top.size(), static_cast<qsizetype>(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto& [menuItem, items] = expected[i];
        QAction* menuAction = top[static_cast<qsizetype>(i)];
        SCOPED_TRACE(menuItem.name);
        EXPECT_EQ(menuAction->objectName(), QLatin1String(menuItem.name));
        EXPECT_EQ(menuAction->text(), QString::fromUtf8(menuItem.caption));
        EXPECT_EQ(menuAction->isVisible(), menuItem.visible);
        ASSERT_NE(menuAction->menu(), nullptr);
        const QList<QAction*> sub = menuAction->menu()->actions();
        ASSERT_EQ(sub.size(), static_cast<qsizetype>(items.size()));
        for (std::size_t j = 0; j < items.size(); ++j) {
            const Item& want = items[j];
            QAction* got = sub[static_cast<qsizetype>(j)];
            SCOPED_TRACE(want.name);
            EXPECT_EQ(got->objectName(), QLatin1String(want.name));
            EXPECT_EQ(got->text(), QString::fromUtf8(want.caption));
            EXPECT_EQ(got->statusTip(), QString::fromUtf8(want.hint));
            EXPECT_EQ(got->isVisible(), want.visible);
            if (want.visible) { // Qt counts a hidden action as disabled
                EXPECT_EQ(got->isEnabled(), want.enabled);
            }
            // The dividers are plain items, not separators.
            EXPECT_FALSE(got->isSeparator());
        }
    }
}

TEST_F(MainFormTest, ToolbarButtonsFollowTheirMenuItems) {
    auto* bar = form->findChild<QToolBar*>(QStringLiteral("suiToolBar"));
    ASSERT_NE(bar, nullptr);
    QStringList order;
    for (QAction* a : bar->actions()) {
        if (a->isSeparator()) {
            order << QStringLiteral("|");
        } else if (QWidget* w = bar->widgetForAction(a)) {
            order << w->objectName();
        }
    }
    EXPECT_EQ(order.join(QLatin1Char(' ')),
              QStringLiteral("tbtnSetup tbtnCollect | tbtnWriteProg ToolButton_Connect "
                             "tbtnRealData tbtnDownloadFile | tbtnDateQ tbtnColQ | tbtnThickQ | "
                             "tbtnDBBackup"));
    const std::vector<std::pair<const char*, const char*>> hints{
        {"tbtnSetup", "Workpiece management"},
        {"tbtnCollect", "User management"},
        {"tbtnWriteProg", "Communication port setting"},
        {"ToolButton_Connect", "Connect"},
        {"tbtnRealData", "Online monitoring"},
        {"tbtnDownloadFile", "Upload flaw detection report file"},
        {"tbtnDateQ", "Video Replay"},
        {"tbtnThickQ", "Edit flaw detection report"},
        {"tbtnDBBackup", "Exit the system"},
    };
    for (const auto& [name, hint] : hints) {
        QToolButton* b = button(name);
        ASSERT_NE(b, nullptr) << name;
        EXPECT_EQ(b->toolTip(), QLatin1String(hint)) << name;
        EXPECT_EQ(b->toolButtonStyle(), Qt::ToolButtonIconOnly) << name;
        EXPECT_FALSE(b->icon().isNull()) << name;
    }
    EXPECT_FALSE(button("tbtnColQ")->isVisible());
    EXPECT_FALSE(button("tbtnRealData")->isEnabled());
    EXPECT_FALSE(button("tbtnDownloadFile")->isEnabled());

    // The port button is the menu item's action: it shows the port window.
    QTest::mouseClick(button("tbtnWriteProg"), Qt::LeftButton);
    EXPECT_EQ(port->shows, 1);
}

TEST_F(MainFormTest, StatusBarPanelsAndClock) {
    std::vector<int> widths;
    for (int i = 0; i < TMainForm::kPanelCount; ++i) {
        auto* panel = form->findChild<QLabel*>(QStringLiteral("StatusPanel%1").arg(i));
        ASSERT_NE(panel, nullptr);
        widths.push_back(panel->width());
    }
    EXPECT_EQ(widths, (std::vector<int>{300, 100, 100, 100, 220, 50}));
    EXPECT_EQ(form->panelText(1), QStringLiteral("Status"));
    EXPECT_EQ(form->panelText(3), QStringLiteral("System time"));
    EXPECT_EQ(form->panelText(0), QString()); // empty at start

    form->Timer1Timer();
    EXPECT_EQ(form->panelText(2), QStringLiteral("Disconnect"));
    const QString today = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    EXPECT_TRUE(form->panelText(4).startsWith(today + QLatin1Char(' ')))
        << form->panelText(4).toStdString();

    // A damaged answer shows in the clock panel until the clock's next tick replaces it.
    form->showDataCheckError(QStringLiteral("Data Check error"));
    EXPECT_EQ(form->panelText(4), QStringLiteral("Data Check error"));
    auto* timer = form->findChild<QTimer*>(QStringLiteral("Timer1"));
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->interval(), 300);
    EXPECT_TRUE(timer->isActive());
    UFD_WAIT_TRUE(form->panelText(4).startsWith(today), 2000);

    // Hints of the control under the mouse go to panel 0 only.
    QStatusTipEvent tip(QStringLiteral("Workpiece management"));
    QCoreApplication::sendEvent(form.get(), &tip);
    EXPECT_EQ(form->panelText(0), QStringLiteral("Workpiece management"));
    EXPECT_EQ(form->panelText(1), QStringLiteral("Status"));
}

TEST_F(MainFormTest, OnlyTheInstrumentsAnswersChangeTheLinkState) {
    int onlineMade = 0;
    form->setChildFactory(ChildKind::Online, [&onlineMade](TMainForm&) -> QWidget* {
        ++onlineMade;
        auto* w = new QWidget;
        w->setWindowTitle(QStringLiteral("Online monitoring"));
        w->resize(300, 200);
        return w;
    });
    answer(protocol::CmdConnect, 7); // the status byte is not examined
    EXPECT_TRUE(data.context.LinkConnected);
    EXPECT_EQ(form->panelText(0), QStringLiteral("Connect"));
    for (const char* name : {"N32", "N34"}) {
        EXPECT_TRUE(action(name)->isEnabled()) << name;
    }
    EXPECT_TRUE(button("tbtnRealData")->isEnabled());
    EXPECT_TRUE(button("tbtnDownloadFile")->isEnabled());
    EXPECT_EQ(button("ToolButton_Connect")->toolTip(), QStringLiteral("Disconnect"));
    form->Timer1Timer();
    EXPECT_EQ(form->panelText(2), QStringLiteral("Connect"));

    QTest::mouseClick(button("tbtnRealData"), Qt::LeftButton);
    ASSERT_EQ(onlineMade, 1);
    QPointer<QWidget> online = form->child(ChildKind::Online);
    ASSERT_TRUE(online);

    answer(protocol::CmdDisconnect);
    EXPECT_FALSE(data.context.LinkConnected);
    EXPECT_EQ(form->panelText(0), QStringLiteral("Disconnect"));
    EXPECT_FALSE(action("N32")->isEnabled());
    EXPECT_FALSE(button("tbtnDownloadFile")->isEnabled());
    EXPECT_EQ(button("ToolButton_Connect")->toolTip(), QStringLiteral("Connect"));
    // An open window stays open; only the commands that open it go away.
    EXPECT_TRUE(online);
    EXPECT_EQ(form->child(ChildKind::Online), online.data());
}

TEST_F(MainFormTest, ConnectButtonHandsTheLinkStateToThePortSide) {
    QTest::mouseClick(button("ToolButton_Connect"), Qt::LeftButton);
    answer(protocol::CmdConnect);
    QTest::mouseClick(button("ToolButton_Connect"), Qt::LeftButton);
    EXPECT_EQ(port->connectPresses, (std::vector<bool>{false, true}));
    // Pressing changes nothing by itself.
    EXPECT_TRUE(data.context.LinkConnected);
}

TEST(MainFormWithoutPortWindow, ConnectButtonAsksForThePortFirst) {
    testing::TempData data;
    ASSERT_TRUE(data.ok);
    ScriptedOperatorMessages messages;
    TMainForm form(data.context, messages);
    form.setLoginStep([](TMainForm&) { return true; });
    form.show();
    form.ToolButton_ConnectClick();
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, QStringLiteral("请您先在“通信设置”菜单中打开通信口！"));
    EXPECT_FALSE(data.context.LinkConnected);
}

TEST_F(MainFormTest, EachChildKindExistsOnceAndIsMadeAnewAfterClosing) {
    struct Case {
        ChildKind kind;
        const char* menuItem;
        const char* caption;
        QSize size;
    };
    const std::vector<Case> cases{
        {ChildKind::Workpieces, "N11", "Workpiece management", {672, 429}},
        {ChildKind::UserManager, "N14", "User management", {482, 332}},
        {ChildKind::About, "N71", "About", {380, 260}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caption);
        action(c.menuItem)->trigger();
        QPointer<QWidget> first = form->child(c.kind);
        ASSERT_TRUE(first);
        EXPECT_EQ(first->windowTitle(), QLatin1String(c.caption));
        auto* frame = qobject_cast<QMdiSubWindow*>(first->parentWidget());
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->size(), c.size);

        // Another window in front, then the second request brings the first one forward.
        form->openChild(ChildKind::About == c.kind ? ChildKind::Workpieces : ChildKind::About);
        action(c.menuItem)->trigger();
        EXPECT_EQ(form->child(c.kind), first.data());
        EXPECT_EQ(form->mdiArea()->activeSubWindow(), frame);
        int sameKind = 0;
        for (QMdiSubWindow* sub : form->mdiArea()->subWindowList()) {
            sameKind += sub->widget()->windowTitle() == QLatin1String(c.caption) ? 1 : 0;
        }
        EXPECT_EQ(sameKind, 1);

        frame->close();
        testing::settleClosedWindows();
        EXPECT_TRUE(first.isNull());
        EXPECT_EQ(form->child(c.kind), nullptr);
        action(c.menuItem)->trigger();
        QWidget* second = form->child(c.kind);
        ASSERT_NE(second, nullptr);
        closeChildWindow(second);
        testing::settleClosedWindows();
        EXPECT_EQ(form->child(c.kind), nullptr);
        for (QMdiSubWindow* sub : form->mdiArea()->subWindowList()) {
            sub->close();
        }
        testing::settleClosedWindows();
        EXPECT_EQ(childCount(), 0);
    }
}

TEST_F(MainFormTest, WindowsThatCloseThemselvesTakeTheirFramesWithThem) {
    registerRecordWindows(*form);
    registerReportWindows(*form);
    // The caption of the button that quits the window; the others are closed from inside.
    const std::vector<std::pair<ChildKind, const char*>> cases{
        {ChildKind::Workpieces, nullptr}, {ChildKind::UserManager, nullptr},
        {ChildKind::Online, nullptr},     {ChildKind::Upload, nullptr},
        {ChildKind::Replay, "Quit"},      {ChildKind::ReportBrowser, "Quit"},
        {ChildKind::About, "OK"},
    };
    for (const auto& [kind, quit] : cases) {
        SCOPED_TRACE(static_cast<int>(kind));
        for (int round = 0; round < 2; ++round) { // quit, then open and quit again
            QWidget* w = form->openChild(kind);
            ASSERT_NE(w, nullptr);
            ASSERT_EQ(childCount(), 1);
            if (quit) {
                QAbstractButton* button = nullptr;
                for (QAbstractButton* b : w->findChildren<QAbstractButton*>()) {
                    button = b->text() == QLatin1String(quit) ? b : button;
                }
                ASSERT_NE(button, nullptr) << quit;
                QTest::mouseClick(button, Qt::LeftButton);
            } else {
                w->close();
            }
            testing::settleClosedWindows();
            EXPECT_EQ(childCount(), 0);
            EXPECT_EQ(form->child(kind), nullptr);
        }
    }
}

TEST_F(MainFormTest, ToolbarOpensTheSameWindowAsTheMenu) {
    QTest::mouseClick(button("tbtnSetup"), Qt::LeftButton);
    QWidget* fromButton = form->child(ChildKind::Workpieces);
    ASSERT_NE(fromButton, nullptr);
    EXPECT_NE(qobject_cast<TSbgl*>(fromButton), nullptr);
    action("N11")->trigger();
    EXPECT_EQ(form->child(ChildKind::Workpieces), fromButton);
    QTest::mouseClick(button("tbtnCollect"), Qt::LeftButton);
    EXPECT_NE(qobject_cast<TFUserManager*>(form->child(ChildKind::UserManager)), nullptr);
    EXPECT_EQ(childCount(), 2);
}

TEST_F(MainFormTest, KindsNotYetPluggedInOpenNothing) {
    for (const char* name : {"N55", "N56", "N57"}) {
        action(name)->trigger();
    }
    EXPECT_EQ(childCount(), 0);
    int made = 0;
    form->setChildFactory(ChildKind::Replay, [&made](TMainForm&) -> QWidget* {
        ++made;
        return new QWidget;
    });
    QTest::mouseClick(button("tbtnDateQ"), Qt::LeftButton);
    action("N56")->trigger();
    EXPECT_EQ(made, 1);
    EXPECT_EQ(childCount(), 1);
}

TEST_F(MainFormTest, ExitAnsweredNoKeepsRunningWithThePortOpen) {
    port->open = true;
    QSignalSpy exits(form.get(), &TMainForm::exitConfirmed);
    messages.answers = {false};
    action("N15")->trigger();
    ASSERT_EQ(messages.count(ScriptedOperatorMessages::Kind::YesNo), 1);
    EXPECT_EQ(messages.shown[0].title, QStringLiteral("Tarvenix of ultrasonic flaw detector"));
    EXPECT_EQ(messages.shown[0].text, QStringLiteral("Are you sure you want to exit the system?"));
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(port->closes, 0);
    EXPECT_TRUE(port->open);
    EXPECT_EQ(exits.count(), 0);

    // The toolbar's exit button asks the same; Yes closes the port and ends the program.
    messages.answers = {true};
    QTest::mouseClick(button("tbtnDBBackup"), Qt::LeftButton);
    EXPECT_EQ(messages.count(ScriptedOperatorMessages::Kind::YesNo), 2);
    EXPECT_EQ(port->closes, 1);
    EXPECT_EQ(exits.count(), 1);
    EXPECT_FALSE(form->isVisible());
}

TEST(MainFormLogin, QuitAtLoginEndsTheProgram) {
    testing::TempData data;
    ASSERT_TRUE(data.ok);
    ScriptedOperatorMessages messages;
    UserAccounts(data.context.dataStore().userDb())
        .addUser(QStringLiteral("op"), QStringLiteral("pw"));
    TMainForm form(data.context, messages);
    QSignalSpy quits(&form, &TMainForm::loginQuit);
    bool sawLogin = false;
    testing::ModalScript script({[&sawLogin](QWidget* modal) {
        auto* login = qobject_cast<Tdenglu*>(modal);
        if (!login) {
            return false;
        }
        sawLogin = login->windowTitle() == QStringLiteral("System Login");
        QTest::mouseClick(login->BitBtn2, Qt::LeftButton);
        return true;
    }});
    form.show(); // the first showing runs the real login dialog
    EXPECT_TRUE(script.completed());
    EXPECT_FALSE(script.forcedClose());
    EXPECT_TRUE(sawLogin);
    EXPECT_TRUE(form.endRequested());
    EXPECT_EQ(quits.count(), 1);
    EXPECT_TRUE(data.context.DOXL_RunData.CurrentUser.isEmpty());
    // Ending after a quit asks nothing.
    form.close();
    EXPECT_TRUE(messages.shown.empty());
}

TEST(ClockText, ShortDateBlankAndLongTimeWithoutZone) {
    const QDateTime at(QDate(2024, 3, 5), QTime(14, 7, 9));
    const QString text = clockText(at, QLocale::c());
    EXPECT_TRUE(text.startsWith(QStringLiteral("2024-03-05 "))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("14:07:09"))) << text.toStdString();
    EXPECT_FALSE(text.trimmed().endsWith(QStringLiteral("UTC"))) << text.toStdString();
    EXPECT_EQ(text, text.trimmed());
}

} // namespace
} // namespace ufd::app

// The port window, the connect button and the link state against the simulated instrument on a
// real pseudo-terminal.
#include "app/child_windows.h"
#include "app/main_form.h"
#include "app/port_windows.h"
#include "core/context/app_context.h"
#include "core/protocol/dispatcher.h"
#include "core/serial/comm.h"
#include "gui_test_support.h"
#include "instrument.h"
#include "operator_messages_double.h"
#include "wait_for.h"
#include "widgets/message_boxes.h"
#include "widgets/remembered.h"
#include "windows/online/replay_window.h"
#include "windows/serial/port_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

namespace ufd {
namespace {

using serial::Tcksz;
using Kind = testing::ScriptedOperatorMessages::Kind;

const QString kClosed = QStringLiteral("Communication Port closed！");

class PortWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        link = dir.filePath(QLatin1String(serial::kSimulatorLinkName));
        std::string error;
        ASSERT_TRUE(sim.start(link.toStdString(), error)) << error;
    }
    void TearDown() override {
        window.reset();
        context.comm().ClosePort();
        sim.stop();
    }

    Tcksz& makeWindow(const QString& simulatorLink,
                      serial::DeviceEnumerator devices = serial::systemDevices) {
        window = std::make_unique<Tcksz>(context.comm(), context.dispatcher(), messages,
                                         simulatorLink, nullptr, std::move(devices));
        return *window;
    }
    // Picks the simulator's entry and opens it with the button.
    void openSimulator(Tcksz& w) {
        const int at = w.portBox()->findData(link);
        ASSERT_GE(at, 0);
        w.portBox()->setCurrentIndex(at);
        QTest::mouseClick(w.openButton(), Qt::LeftButton);
        ASSERT_TRUE(w.portOpen());
    }
    static void retype(QComboBox* box, const QString& text) {
        box->lineEdit()->selectAll();
        QTest::keyClicks(box->lineEdit(), text);
    }
    // A connect that the instrument answers proves the line works at the current settings.
    void expectInstrumentAnswers() {
        const long long before = sim.stats().answers;
        context.dispatcher().SendPublicCmd(protocol::CmdConnect);
        UFD_WAIT_TRUE(context.dispatcher().linkConnected(), 5000);
        EXPECT_GT(sim.stats().answers, before);
    }
    void expectShowsClosed(const Tcksz& w) {
        EXPECT_FALSE(w.portOpen());
        EXPECT_FALSE(w.lampLit());
        EXPECT_EQ(w.openButton()->text(), QStringLiteral("Open Port"));
        EXPECT_EQ(w.statusText(), kClosed);
        EXPECT_FALSE(context.comm().isOpen());
    }

    QTemporaryDir dir;
    QString link;
    sim::Instrument sim;
    app::AppContext context;
    testing::ScriptedOperatorMessages messages;
    std::unique_ptr<Tcksz> window;
};

TEST_F(PortWindowTest, StartsClosedWithItsControlsAndTexts) {
    Tcksz& w = makeWindow(link);
    w.show();
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Communication Port "));
    EXPECT_GE(w.width(), 294); // as wide as the longest entry needs
    EXPECT_EQ(w.height(), 257);
    EXPECT_EQ(w.findChild<QGroupBox*>(QStringLiteral("GroupBox1"))->title(),
              QStringLiteral("Setting"));
    QStringList labels;
    for (const QLabel* label : w.findChild<QGroupBox*>(QStringLiteral("GroupBox1"))
                                   ->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
        labels << label->text();
    }
    EXPECT_EQ(labels, QStringList({"Port:", "BaudRate:", "Parity:"}));

    // The simulator's link is offered and, with no other device here, it may not be first;
    // whatever is first is selected.
    EXPECT_TRUE(w.portBox()->isEditable());
    const int simAt = w.portBox()->findData(link);
    ASSERT_GE(simAt, 0);
    EXPECT_EQ(w.portBox()->itemText(simAt), QStringLiteral("ufd-sim-port — simulated instrument"));
    for (int i = 0; i < w.portBox()->count(); ++i) {
        EXPECT_GE(w.portBox()->width(),
                  w.portBox()->fontMetrics().horizontalAdvance(w.portBox()->itemText(i)));
    }
    EXPECT_EQ(w.portBox()->currentIndex(), 0);
    EXPECT_TRUE(w.speedBox()->isEditable());
    QStringList speeds;
    for (int i = 0; i < w.speedBox()->count(); ++i) {
        speeds << w.speedBox()->itemText(i);
    }
    EXPECT_EQ(speeds, QStringList({"9600", "38400", "115200", "921600"}));
    EXPECT_EQ(w.speedBox()->currentText(), QStringLiteral("921600"));
    EXPECT_EQ(w.speedBox()->currentIndex(), -1);
    EXPECT_FALSE(w.parityBox()->isEnabled());
    EXPECT_EQ(w.parityBox()->count(), 3);
    EXPECT_EQ(w.parityBox()->itemText(1), QStringLiteral("Odd "));
    EXPECT_EQ(w.parityBox()->currentText(), QStringLiteral("None"));

    EXPECT_FALSE(w.portOpen());
    EXPECT_FALSE(w.lampLit());
    EXPECT_EQ(w.openButton()->text(), QStringLiteral("Open Port"));
    EXPECT_EQ(w.statusText(), QString());
    auto* flag = w.findChild<QCheckBox*>(QStringLiteral("CheckBox1"));
    ASSERT_NE(flag, nullptr);
    EXPECT_EQ(flag->text(), QStringLiteral("打开通信口"));
    EXPECT_FALSE(flag->isVisible());
}

TEST_F(PortWindowTest, OpensTheInstrumentsLineAndClosesIt) {
    Tcksz& w = makeWindow(link);
    w.show();
    openSimulator(w);
    EXPECT_TRUE(w.lampLit());
    EXPECT_EQ(w.openButton()->text(), QStringLiteral("Close Port"));
    // The port's name alone, not what the box says it is.
    EXPECT_EQ(w.statusText(),
              QStringLiteral("Communication Port opened.（ufd-sim-port,921600，None）"));
    EXPECT_EQ(context.comm().CommName(), link);
    EXPECT_EQ(context.comm().BaudRate(), 921600u);
    expectInstrumentAnswers();
    EXPECT_TRUE(messages.shown.empty());

    QTest::mouseClick(w.openButton(), Qt::LeftButton);
    expectShowsClosed(w);
    // Closing the port is no answer of the instrument: the link state stays.
    EXPECT_TRUE(context.dispatcher().linkConnected());
}

TEST_F(PortWindowTest, APortThatCannotBeOpenedEndsClosedWithTheMessage) {
    Tcksz& w = makeWindow(link);
    w.portBox()->setEditText(dir.filePath("no-such-port"));
    QTest::mouseClick(w.openButton(), Qt::LeftButton);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].kind, Kind::Message);
    // The text, and why on a line of its own.
    EXPECT_EQ(messages.shown[0].text,
              QStringLiteral("The communication port is invalid!\nThere is no port %1: is the "
                             "adapter plugged in?")
                  .arg(dir.filePath("no-such-port")));
    expectShowsClosed(w);

    // An empty port box only says so.
    w.portBox()->setEditText(QString());
    QTest::mouseClick(w.openButton(), Qt::LeftButton);
    ASSERT_EQ(messages.shown.size(), 2u);
    EXPECT_EQ(messages.shown[1].text, QStringLiteral("The communication port is invalid!"));
    EXPECT_FALSE(w.lampLit());
    EXPECT_FALSE(w.portOpen());

    // A good port afterwards opens as usual.
    openSimulator(w);
    EXPECT_TRUE(context.comm().isOpen());
}

TEST_F(PortWindowTest, ASpeedThatIsNotANumberGoesToTheErrorDisplay) {
    Tcksz& w = makeWindow(link);
    w.portBox()->setCurrentIndex(w.portBox()->findData(link));
    retype(w.speedBox(), QStringLiteral("fast"));
    QTest::mouseClick(w.openButton(), Qt::LeftButton);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].kind, Kind::Error);
    EXPECT_EQ(messages.shown[0].text, QStringLiteral("'fast' is not a valid integer value"));
    // Nothing had changed yet.
    EXPECT_FALSE(w.portOpen());
    EXPECT_EQ(w.statusText(), QString());
    EXPECT_FALSE(context.comm().isOpen());

    retype(w.speedBox(), QStringLiteral("115200"));
    QTest::mouseClick(w.openButton(), Qt::LeftButton);
    ASSERT_TRUE(w.portOpen());
    EXPECT_EQ(context.comm().BaudRate(), 115200u);

    // While open the change has closed the port before the text is read: the window follows.
    messages.shown.clear();
    QTest::keyClick(w.speedBox()->lineEdit(), Qt::Key_X);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].kind, Kind::Error);
    EXPECT_EQ(messages.shown[0].text, QStringLiteral("'115200x' is not a valid integer value"));
    expectShowsClosed(w);
}

TEST_F(PortWindowTest, ASpeedChosenWhileOpenReopensAtThatSpeed) {
    Tcksz& w = makeWindow(link);
    // Closed: the choice waits for the next open.
    w.speedBox()->setCurrentIndex(w.speedBox()->findText(QStringLiteral("38400")));
    EXPECT_FALSE(context.comm().isOpen());
    EXPECT_EQ(context.comm().BaudRate(), 9600u); // as the window configured the component
    EXPECT_EQ(w.statusText(), QString());

    openSimulator(w);
    EXPECT_EQ(context.comm().BaudRate(), 38400u);
    w.speedBox()->setCurrentIndex(w.speedBox()->findText(QStringLiteral("115200")));
    EXPECT_TRUE(w.portOpen());
    EXPECT_TRUE(context.comm().isOpen());
    EXPECT_EQ(context.comm().BaudRate(), 115200u);
    EXPECT_TRUE(w.statusText().endsWith(QStringLiteral(",115200，None）")));
    expectInstrumentAnswers();

    // Typed digit by digit: a reopen after every digit, each at the number so far.
    std::vector<std::uint32_t> speeds;
    QObject::connect(w.speedBox(), &QComboBox::editTextChanged, &w,
                     [this, &speeds] { speeds.push_back(context.comm().BaudRate()); });
    retype(w.speedBox(), QStringLiteral("192"));
    EXPECT_EQ(speeds, (std::vector<std::uint32_t>{1, 19, 192}));
    EXPECT_TRUE(w.statusText().endsWith(QStringLiteral(",192，None）")));
    EXPECT_TRUE(context.comm().isOpen());
    EXPECT_TRUE(messages.shown.empty());
}

// A speed the port refuses is said in the status text, not shown as the speed the line runs at.
TEST_F(PortWindowTest, ASpeedThePortRefusesIsSaidSo) {
    Tcksz& w = makeWindow(link);
    w.speedBox()->setEditText(QStringLiteral("0"));
    openSimulator(w);
    EXPECT_TRUE(w.statusText().startsWith(QStringLiteral("Communication Port opened (")))
        << w.statusText().toStdString();
    EXPECT_TRUE(w.statusText().contains(QStringLiteral("refused the speed 0")));
    retype(w.speedBox(), QStringLiteral("9600"));
    EXPECT_EQ(w.statusText(),
              QStringLiteral("Communication Port opened.（ufd-sim-port,9600，None）"));
}

// Texts are not cut at the default font nor at a quarter larger (a desktop at 125 %): the port
// window grows to its status text, and a message box to its title beside the title bar's
// buttons.
TEST_F(PortWindowTest, StatusTextsAndMessageTitlesAreNotCut) {
    const QFont normal = QApplication::font();
    // A port typed by a name of a usual length.
    const QString typed =
        QDir::temp().filePath(QStringLiteral("ufd%1").arg(QCoreApplication::applicationPid()));
    QFile::remove(typed);
    ASSERT_TRUE(QFile::link(link, typed));
    for (const double scale : {1.0, 1.25}) {
        QFont font = normal;
        font.setPointSizeF(normal.pointSizeF() * scale);
        QApplication::setFont(font);
        // No entry to widen the window: the port is typed.
        Tcksz& w = makeWindow(QString(), [] { return QList<serial::DeviceInfo>{}; });
        w.show();
        w.portBox()->setEditText(typed);
        QTest::mouseClick(w.openButton(), Qt::LeftButton);
        ASSERT_TRUE(w.portOpen());
        QApplication::processEvents();
        const auto* panel = w.findChild<QLabel*>(QStringLiteral("StatusPanel0"));
        ASSERT_NE(panel, nullptr);
        EXPECT_GE(panel->contentsRect().width() - 6,
                  panel->fontMetrics().horizontalAdvance(w.statusText()))
            << scale;
        window.reset();
        context.comm().ClosePort();

        const QString title = QStringLiteral("Tarvenix of ultrasonic flaw detector");
        int boxWidth = 0;
        testing::ModalScript script({[&boxWidth](QWidget* modal) {
            boxWidth = modal->width();
            static_cast<QDialog*>(modal)->done(QMessageBox::No);
            return true;
        }});
        app::MessageBoxOperatorMessages boxes;
        boxes.askYesNo(title, QStringLiteral("Are you sure you want to exit the system?"));
        EXPECT_GE(
            boxWidth,
            QFontMetrics(QApplication::font("QMdiSubWindowTitleBar")).horizontalAdvance(title) +
                100)
            << scale;
    }
    QApplication::setFont(normal);
    QFile::remove(typed);
}

TEST_F(PortWindowTest, APortChangeWhileOpenThatFailsEndsClosed) {
    Tcksz& w = makeWindow(link);
    openSimulator(w);
    w.portBox()->setEditText(dir.filePath("gone"));
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_TRUE(messages.shown[0].text.startsWith(
        QStringLiteral("The communication port is invalid\nThere is no port ")));
    expectShowsClosed(w);
    // Closed, a change is only remembered for the next open.
    w.portBox()->setEditText(link);
    EXPECT_FALSE(context.comm().isOpen());
    EXPECT_EQ(messages.shown.size(), 1u);
}

TEST_F(PortWindowTest, HidingKeepsTheStateAndShowingClearsTheReceiveErrorFlag) {
    // A link that appears after the window was made is listed at the next showing.
    const QString later = dir.filePath("later-port");
    Tcksz& w = makeWindow(later);
    EXPECT_EQ(w.portBox()->findData(later), -1);
    w.portBox()->setEditText(link);
    QTest::mouseClick(w.openButton(), Qt::LeftButton);
    ASSERT_TRUE(w.portOpen());
    const QString opened = w.statusText();

    w.showPortWindow();
    ASSERT_TRUE(w.isVisible());
    w.close();
    EXPECT_FALSE(w.isVisible());
    EXPECT_FALSE(w.portRefresh()->isActive());
    EXPECT_TRUE(w.portOpen());
    EXPECT_TRUE(w.lampLit());
    EXPECT_TRUE(context.comm().isOpen());

    sim::Instrument second;
    std::string error;
    ASSERT_TRUE(second.start(later.toStdString(), error)) << error;
    context.dispatcher().CommReceiveError(0);
    ASSERT_TRUE(context.dispatcher().Rcom().RxErrorFlag);
    w.showPortWindow();
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(context.dispatcher().Rcom().RxErrorFlag);
    EXPECT_GE(w.portBox()->findData(later), 0);
    EXPECT_EQ(w.portBox()->currentText(), link); // the port typed stays
    EXPECT_EQ(w.statusText(), opened);
    EXPECT_EQ(w.openButton()->text(), QStringLiteral("Close Port"));
    second.stop();
}

// An adapter plugged in while the window shows appears within the refresh; one pulled goes. The
// open port and the box's text are left as they are.
TEST_F(PortWindowTest, ThePortListFollowsAdaptersWhileShown) {
    QList<serial::DeviceInfo> devices{{"/dev/ttyS0", "ttyS0", ""}};
    Tcksz& w = makeWindow(link, [&devices] { return devices; });
    EXPECT_EQ(w.portBox()->itemText(0), QStringLiteral("ttyS0"));
    w.show();
    openSimulator(w);
    const QString shown = w.portBox()->currentText();
    const QString opened = w.statusText();

    devices.append({"/dev/ttyUSB0", "ttyUSB0", "USB serial"});
    UFD_WAIT_TRUE(w.portBox()->findText(QStringLiteral("ttyUSB0 — USB serial")) >= 0, 3000);
    EXPECT_EQ(w.portBox()->itemData(w.portBox()->findText(QStringLiteral("ttyUSB0 — USB serial"))),
              QStringLiteral("/dev/ttyUSB0"));
    devices.removeFirst();
    UFD_WAIT_TRUE(w.portBox()->findText(QStringLiteral("ttyS0")) < 0, 3000);
    EXPECT_EQ(w.portBox()->currentText(), shown);
    EXPECT_TRUE(w.portOpen());
    EXPECT_EQ(w.statusText(), opened);
    EXPECT_TRUE(messages.shown.empty());
    expectInstrumentAnswers();
}

// The main window with the real port window, as the program wires them.
class ConnectedProgramTest : public PortWindowTest {
protected:
    void SetUp() override {
        PortWindowTest::SetUp();
        form = std::make_unique<app::TMainForm>(context, messages);
        context.ProgramFolder = dir.path() + QLatin1Char('/'); // where the simulator's link is
        form->setLoginStep([](app::TMainForm&) { return true; });
        app::registerPortWindow(*form);
        app::connectDispatcher(*form);
        form->show();
        port = dynamic_cast<Tcksz*>(&form->portLink());
        ASSERT_NE(port, nullptr);
    }
    void TearDown() override {
        form.reset();
        PortWindowTest::TearDown();
    }

    QAction* action(const char* name) const {
        return form->findChild<QAction*>(QLatin1String(name));
    }
    QToolButton* button(const char* name) const {
        return form->findChild<QToolButton*>(QLatin1String(name));
    }
    void expectOnlineAndUploadAvailable(bool available) {
        for (const char* name : {"N32", "N34"}) {
            EXPECT_EQ(action(name)->isEnabled(), available) << name;
        }
        for (const char* name : {"tbtnRealData", "tbtnDownloadFile"}) {
            EXPECT_EQ(button(name)->isEnabled(), available) << name;
        }
    }

    std::unique_ptr<app::TMainForm> form;
    Tcksz* port = nullptr;
};

TEST_F(ConnectedProgramTest, ThePortWindowIsMadeHiddenAtTheFirstShowing) {
    EXPECT_FALSE(port->isVisible());
    EXPECT_TRUE(port->isWindow());
    // A tool window of the main window, which keeps it in front of it.
    EXPECT_EQ(port->windowType(), Qt::Tool);
    EXPECT_EQ(port->parentWidget(), form.get());
    EXPECT_GE(port->portBox()->findData(link), 0); // the program folder's simulator link
    action("N31")->trigger();
    EXPECT_TRUE(port->isVisible());
    port->close();
    EXPECT_EQ(&form->portLink(), port); // hidden, not gone
}

TEST_F(ConnectedProgramTest, WithThePortClosedConnectAsksForItAndSendsNothing) {
    QTest::mouseClick(button("ToolButton_Connect"), Qt::LeftButton);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].kind, Kind::Message);
    EXPECT_EQ(messages.shown[0].text, QStringLiteral("请您先在“通信设置”菜单中打开通信口！"));
    EXPECT_EQ(context.dispatcher().TxLength(), 0);
    EXPECT_EQ(context.dispatcher().Scom().LastCmdCode, 0u);
}

TEST_F(ConnectedProgramTest, OnlyTheInstrumentsRepliesChangeTheLinkState) {
    context.dispatcher().setResponseTimeout(40);
    openSimulator(*port);
    expectOnlineAndUploadAvailable(false);

    QTest::mouseClick(button("ToolButton_Connect"), Qt::LeftButton);
    UFD_WAIT_TRUE(action("N32")->isEnabled(), 5000);
    expectOnlineAndUploadAvailable(true);
    EXPECT_EQ(form->panelText(0), QStringLiteral("Connect"));
    EXPECT_EQ(button("ToolButton_Connect")->toolTip(), QStringLiteral("Disconnect"));

    // An unanswered disconnect runs out of resends and leaves the state as it was.
    sim.setDropEvery(1);
    QSignalSpy timeouts(&context.dispatcher(), &protocol::Dispatcher::communicationTimeout);
    QTest::mouseClick(button("ToolButton_Connect"), Qt::LeftButton);
    UFD_WAIT_TRUE(!timeouts.isEmpty() && timeouts.last().at(2).toBool(), 5000);
    EXPECT_TRUE(context.LinkConnected);
    expectOnlineAndUploadAvailable(true);

    // Closing the port is no reply either.
    sim.setDropEvery(0);
    QTest::mouseClick(port->openButton(), Qt::LeftButton);
    ASSERT_FALSE(port->portOpen());
    form->Timer1Timer();
    EXPECT_EQ(form->panelText(2), QStringLiteral("Connect"));
    expectOnlineAndUploadAvailable(true);

    // Reopened, the button now sends disconnect, and reply 18 disconnects.
    QTest::mouseClick(port->openButton(), Qt::LeftButton);
    ASSERT_TRUE(port->portOpen());
    QTest::mouseClick(button("ToolButton_Connect"), Qt::LeftButton);
    UFD_WAIT_TRUE(!action("N34")->isEnabled(), 5000);
    expectOnlineAndUploadAvailable(false);
    EXPECT_EQ(form->panelText(0), QStringLiteral("Disconnect"));
    form->Timer1Timer();
    EXPECT_EQ(form->panelText(2), QStringLiteral("Disconnect"));
    EXPECT_EQ(button("ToolButton_Connect")->toolTip(), QStringLiteral("Connect"));
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(ConnectedProgramTest, AnAdapterBackInAnotherSocketIsFoundByItsSerialNumber) {
    // The machine's list as the adapter goes from one socket to another.
    QList<serial::DeviceInfo> devices{
        {link, QStringLiteral("ttyUSB0"), {}, QStringLiteral("FT4711")}};
    context.portReturn().setDevices([&devices] { return devices; });
    context.portReturn().setInterval(50);
    openSimulator(*port); // open, not connected
    ASSERT_FALSE(HasFatalFailure());
    devices.clear();
    sim.stop();
    UFD_WAIT_TRUE(!port->portOpen(), 5000);
    QTest::qWait(150);
    EXPECT_FALSE(context.comm().isOpen());

    const QString moved = dir.filePath(QStringLiteral("ttyUSB1"));
    std::string error;
    ASSERT_TRUE(sim.start(moved.toStdString(), error)) << error;
    devices = {{moved, QStringLiteral("ttyUSB1"), {}, QStringLiteral("FT4711")}};
    UFD_WAIT_TRUE(port->portOpen(), 5000);
    EXPECT_EQ(context.comm().CommName(), moved);
    EXPECT_EQ(port->portLocation(), moved);
    EXPECT_TRUE(port->lampLit());
    EXPECT_EQ(form->panelText(0), protocol::lineBackText(moved, false));
    // It was not connected, so nothing is sent; the line works at the settings it had.
    QTest::qWait(150);
    EXPECT_EQ(sim.stats().commands, 0);
    EXPECT_FALSE(context.dispatcher().linkConnected());
    EXPECT_EQ(context.comm().BaudRate(), 921600u);
    expectInstrumentAnswers();
}

TEST_F(ConnectedProgramTest, TheNextRunRestoresWindowsFoldersAndThePort) {
    // This run: the port opened at 115200, the windows moved, a recording chosen in a folder.
    port->speedBox()->setEditText(QStringLiteral("115200"));
    openSimulator(*port);
    form->setGeometry(40, 50, 1000, 700);
    const QRect mainGeometry = form->geometry();
    app::registerRecordWindows(*form);
    auto* replay = dynamic_cast<online::TFYaokong*>(form->openChild(app::ChildKind::Replay));
    ASSERT_NE(replay, nullptr);
    const QString recordings = dir.filePath(QStringLiteral("elsewhere"));
    ASSERT_TRUE(QDir().mkpath(recordings));
    QStringList offered;
    replay->setFileChooser([&offered, &recordings](QWidget*, const QString& folder) {
        offered << folder;
        return recordings + QStringLiteral("/none.Rec");
    });
    replay->sbtOpenVideoClick();
    messages.shown.clear();
    auto* frame = qobject_cast<QMdiSubWindow*>(replay->parentWidget());
    frame->setGeometry(10, 20, 500, 400);
    port->show();
    port->move(120, 130);
    const QPoint portAt = port->pos();
    port->hide();
    messages.answers = {true};
    form->close();

    // The next run.
    app::AppContext next;
    app::TMainForm again(next, messages);
    next.ProgramFolder = dir.path() + QLatin1Char('/');
    again.setLoginStep([](app::TMainForm&) { return true; });
    app::registerPortWindow(again);
    app::registerRecordWindows(again);
    again.show();
    EXPECT_EQ(again.geometry(), mainGeometry);
    auto* nextPort = dynamic_cast<Tcksz*>(&again.portLink());
    ASSERT_NE(nextPort, nullptr);
    EXPECT_EQ(nextPort->portLocation(), link);
    EXPECT_EQ(nextPort->speedBox()->currentText(), QStringLiteral("115200"));
    nextPort->show();
    EXPECT_EQ(nextPort->pos(), portAt);
    auto* nextReplay = dynamic_cast<online::TFYaokong*>(again.openChild(app::ChildKind::Replay));
    ASSERT_NE(nextReplay, nullptr);
    EXPECT_EQ(nextReplay->parentWidget()->geometry(), QRect(10, 20, 500, 400));
    nextReplay->setFileChooser([&offered](QWidget*, const QString& folder) {
        offered << folder;
        return QString();
    });
    nextReplay->sbtOpenVideoClick();
    ASSERT_EQ(offered.size(), 2);
    EXPECT_EQ(offered[1], recordings);
    EXPECT_NE(offered[0], recordings);

    // A remembered port that is gone gives way to the first one present.
    app::rememberPort(dir.filePath(QStringLiteral("unplugged")), QStringLiteral("38400"));
    Tcksz& fresh = makeWindow(link);
    EXPECT_EQ(fresh.portBox()->currentIndex(), 0);
    EXPECT_EQ(fresh.speedBox()->currentText(), QStringLiteral("38400"));
}

TEST_F(ConnectedProgramTest, ExitAnsweredNoKeepsThePortOpenAndYesClosesIt) {
    openSimulator(*port);
    QSignalSpy exits(form.get(), &app::TMainForm::exitConfirmed);
    messages.answers = {false, true};
    form->close();
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(port->portOpen());
    EXPECT_TRUE(context.comm().isOpen());
    expectInstrumentAnswers();

    form->close();
    EXPECT_EQ(messages.count(Kind::YesNo), 2);
    EXPECT_EQ(exits.count(), 1);
    EXPECT_FALSE(context.comm().isOpen());
    // No disconnect is sent on the way out.
    EXPECT_EQ(context.dispatcher().Scom().LastCmdCode, protocol::CmdConnect);
}

} // namespace
} // namespace ufd

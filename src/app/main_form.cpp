#include "app/main_form.h"

#include "core/context/app_context.h"
#include "widgets/icons.h"
#include "widgets/operator_messages.h"
#include "widgets/remembered.h"
#include "windows/serial/port_link.h"
#include "windows/shell/about.h"
#include "windows/shell/login.h"
#include "windows/shell/station.h"
#include "windows/shell/user_manager.h"
#include "windows/shell/workpieces.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

namespace ufd::app {

namespace {

constexpr char kKindProperty[] = "ufdChildKind";
constexpr int kClockPeriodMs = 300;

const QString kConnectText = QStringLiteral("Connect");
const QString kDisconnectText = QStringLiteral("Disconnect");
const QString kExitTitle = QStringLiteral("Tarvenix of ultrasonic flaw detector");
const QString kExitQuestion = QStringLiteral("Are you sure you want to exit the system?");

// The link before the port window exists: a port that was never opened.
class NoPortLink final : public PortLink {
public:
    explicit NoPortLink(OperatorMessages& messages) : messages_(messages) {}
    bool portOpen() const override { return false; }
    void showPortWindow() override {}
    void connectClicked(bool) override {
        messages_.showMessage(QStringLiteral("请您先在“通信设置”菜单中打开通信口！"));
    }
    void closePort() override {}

private:
    OperatorMessages& messages_;
};

} // namespace

TMainForm::TMainForm(AppContext& context, OperatorMessages& messages, QWidget* parent)
    : QMainWindow(parent), context_(context), messages_(messages), mdiArea_(new QMdiArea(this)),
      timer1_(new QTimer(this)) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QLatin1String(kMainCaption));
    setWindowIcon(drawnIcon(Picture::Online));
    mdiArea_->setObjectName(QStringLiteral("MdiArea"));
    setCentralWidget(mdiArea_);
    timer1_->setObjectName(QStringLiteral("Timer1"));
    timer1_->setInterval(kClockPeriodMs);
    connect(timer1_, &QTimer::timeout, this, &TMainForm::Timer1Timer);

    buildMenu();
    buildToolBar();
    buildStatusBar();
    resize(1280, 860); // room for the A-scan windows (1100 x 700) inside the frame
    restoreWindowGeometry(this, objectName());

    setChildFactory(ChildKind::Workpieces, [](TMainForm& form) -> QWidget* {
        return new TSbgl(form.context(), form.messages());
    });
    setChildFactory(
        ChildKind::UserManager,
        [](TMainForm& form) -> QWidget* {
            return new TFUserManager(form.context(), form.messages());
        },
        Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
            Qt::WindowCloseButtonHint);
    setChildFactory(ChildKind::Station, [](TMainForm& form) -> QWidget* {
        return new TFStation(form.context().dataStore(), form.messages());
    });
    setChildFactory(ChildKind::About, [](TMainForm&) -> QWidget* { return new TFAbout; });
    loginStep_ = [](TMainForm& form) {
        return runLoginSequence(form.context(), form.messages(), &form);
    };

    FormCreate();
}

TMainForm::~TMainForm() = default;

void TMainForm::FormCreate() {
    // Date and time patterns are the constants of app_context.h; nothing to set per process.
    findChild<QAction*>(QStringLiteral("N32"))->setEnabled(false);
    findChild<QAction*>(QStringLiteral("N34"))->setEnabled(false);
    // LinkConnected starts false in the dispatcher, its only writer.
    // The folder of the program file unless start-up chose the user's data folder.
    if (context_.ProgramFolder.isEmpty()) {
        context_.ProgramFolder = QCoreApplication::applicationDirPath() + QLatin1Char('/');
    }
}

QAction* TMainForm::addItem(QMenu* menu, const char* name, const QString& caption,
                            const QString& hint) {
    auto* action = new QAction(caption, this);
    action->setObjectName(QLatin1String(name));
    if (!hint.isEmpty()) {
        action->setStatusTip(hint);
        action->setToolTip(hint);
    }
    menu->addAction(action);
    return action;
}

void TMainForm::openOnTrigger(QAction* action, ChildKind kind) {
    connect(action, &QAction::triggered, this, [this, kind] { openChild(kind); });
}

void TMainForm::buildMenu() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    auto submenu = [bar](const char* name, const QString& caption) {
        QMenu* menu = bar->addMenu(caption);
        menu->setObjectName(QLatin1String(name));
        menu->menuAction()->setObjectName(QLatin1String(name));
        return menu;
    };
    auto hidden = [](QAction* action) {
        action->setVisible(false);
        return action;
    };
    auto disabled = [](QAction* action) {
        action->setEnabled(false);
        return action;
    };

    QMenu* system = submenu("N10", QStringLiteral("System"));
    QAction* n11 =
        addItem(system, "N11", QStringLiteral("Workpiece"), QStringLiteral("Workpiece management"));
    n11->setIcon(drawnIcon(Picture::Workpiece));
    openOnTrigger(n11, ChildKind::Workpieces);
    QAction* n14 = addItem(system, "N14", QStringLiteral("User Management"),
                           QStringLiteral("User management"));
    n14->setIcon(drawnIcon(Picture::Users));
    openOnTrigger(n14, ChildKind::UserManager);
    QAction* n16 =
        addItem(system, "N16", QStringLiteral("Station"), QStringLiteral("Station details"));
    openOnTrigger(n16, ChildKind::Station);
    addItem(system, "N2", QStringLiteral("--------"));
    QAction* n15 =
        addItem(system, "N15", QStringLiteral("Exit"), QStringLiteral("Exit the system"));
    n15->setIcon(drawnIcon(Picture::Exit));
    connect(n15, &QAction::triggered, this, &QWidget::close);

    QMenu* comm = submenu("N30", QStringLiteral("Communication"));
    QAction* n31 = addItem(comm, "N31", QStringLiteral("Port Setting"),
                           QStringLiteral("Communication port setting"));
    n31->setIcon(drawnIcon(Picture::PortSetting));
    connect(n31, &QAction::triggered, this, [this] { portLink().showPortWindow(); });
    QAction* n32 = addItem(comm, "N32", QStringLiteral("Online monitoring"),
                           QStringLiteral("Online monitoring"));
    n32->setIcon(drawnIcon(Picture::Online));
    openOnTrigger(n32, ChildKind::Online);
    hidden(addItem(comm, "N33", QStringLiteral("Video replay")));
    QAction* n34 = addItem(comm, "N34", QStringLiteral("Upload Report"),
                           QStringLiteral("Upload flaw detection report file"));
    n34->setIcon(drawnIcon(Picture::Upload));
    openOnTrigger(n34, ChildKind::Upload);
    hidden(addItem(comm, "N35", QString()));

    // Controller functions of an older product: present, never shown.
    QMenu* n40 = submenu("N40", QString());
    for (const char* name : {"N41", "N42", "N43", "N44"}) {
        hidden(addItem(n40, name, QString()));
    }
    hidden(n40->menuAction());

    QMenu* database = submenu("N50", QStringLiteral("Database"));
    disabled(
        addItem(database, "N51", QStringLiteral("Data Backup"), QStringLiteral("Data Backup")));
    disabled(
        addItem(database, "N52", QStringLiteral("Data Restore"), QStringLiteral("Data Restore")));
    disabled(addItem(database, "N53", QStringLiteral("Data Clear"), QStringLiteral("Data Clear")));
    addItem(database, "N1", QStringLiteral("--------"));
    QAction* n55 = addItem(database, "N55", QStringLiteral("Flaw detection report"),
                           QStringLiteral("Edit flaw detection report"));
    n55->setIcon(drawnIcon(Picture::Report));
    openOnTrigger(n55, ChildKind::ReportBrowser);
    QAction* n56 =
        addItem(database, "N56", QStringLiteral("Video replay"), QStringLiteral("Video Replay"));
    n56->setIcon(drawnIcon(Picture::Replay));
    openOnTrigger(n56, ChildKind::Replay);
    QAction* n57 = addItem(database, "N57", QStringLiteral("Report archive"),
                           QStringLiteral("Every report ever imported"));
    openOnTrigger(n57, ChildKind::ReportArchive);

    QMenu* n60 = submenu("N60", QString());
    for (const char* name : {"N61", "N62", "N63"}) {
        hidden(addItem(n60, name, QString()));
    }
    hidden(n60->menuAction());

    QMenu* help = submenu("N70", QStringLiteral("Help"));
    QAction* n71 = addItem(help, "N71", QStringLiteral("About"));
    openOnTrigger(n71, ChildKind::About);
}

void TMainForm::setToolButtonName(QAction* action, const char* name) {
    if (QWidget* button = toolBar_->widgetForAction(action)) {
        button->setObjectName(QLatin1String(name));
    }
}

void TMainForm::buildToolBar() {
    toolBar_ = addToolBar(QStringLiteral("suiToolBar"));
    toolBar_->setObjectName(QStringLiteral("suiToolBar"));
    toolBar_->setMovable(false);
    toolBar_->setFloatable(false);
    toolBar_->setIconSize(QSize(32, 32));
    toolBar_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    toolBar_->toggleViewAction()->setEnabled(false);
    setContextMenuPolicy(Qt::NoContextMenu);

    auto item = [this](const char* menuItem) {
        return findChild<QAction*>(QLatin1String(menuItem));
    };
    // A button tied to a menu item shares its action: caption, hint and enabled state follow.
    auto tied = [this, &item](const char* menuItem, const char* button) {
        QAction* action = item(menuItem);
        toolBar_->addAction(action);
        setToolButtonName(action, button);
    };

    tied("N11", "tbtnSetup");
    tied("N14", "tbtnCollect");
    toolBar_->addSeparator();
    tied("N31", "tbtnWriteProg");
    connectAction_ = new QAction(drawnIcon(Picture::Disconnected), kConnectText, this);
    connectAction_->setObjectName(QStringLiteral("ToolButton_ConnectAction"));
    connectAction_->setToolTip(kConnectText);
    connectAction_->setStatusTip(kConnectText);
    connect(connectAction_, &QAction::triggered, this, &TMainForm::ToolButton_ConnectClick);
    toolBar_->addAction(connectAction_);
    setToolButtonName(connectAction_, "ToolButton_Connect");
    tied("N32", "tbtnRealData");
    tied("N34", "tbtnDownloadFile");
    toolBar_->addSeparator();
    tied("N56", "tbtnDateQ");
    auto* colQ = new QAction(this);
    colQ->setObjectName(QStringLiteral("tbtnColQAction"));
    toolBar_->addAction(colQ);
    setToolButtonName(colQ, "tbtnColQ");
    colQ->setVisible(false);
    toolBar_->addSeparator();
    tied("N55", "tbtnThickQ");
    toolBar_->addSeparator();
    tied("N15", "tbtnDBBackup");
}

void TMainForm::buildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    for (int i = 0; i < kPanelCount; ++i) {
        auto* panel = new QLabel(bar);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panel->setFixedWidth(kPanelWidths[static_cast<std::size_t>(i)]);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setContentsMargins(3, 0, 3, 0);
        const bool centred = i == 1 || i == 3 || i == 4;
        panel->setAlignment((centred ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignVCenter);
        bar->addWidget(panel);
        panels_[static_cast<std::size_t>(i)] = panel;
    }
    panels_[1]->setText(QStringLiteral("Status"));
    panels_[3]->setText(QStringLiteral("System time"));
}

QString TMainForm::panelText(int panel) const {
    return panels_.at(static_cast<std::size_t>(panel))->text();
}

void TMainForm::setPanelText(int panel, const QString& text) {
    panels_.at(static_cast<std::size_t>(panel))->setText(text);
}

void TMainForm::setChildFactory(ChildKind kind, ChildFactory factory, Qt::WindowFlags flags) {
    factories_[kind] = ChildEntry{std::move(factory), flags};
}

QWidget* TMainForm::child(ChildKind kind) const {
    QMdiSubWindow* found = nullptr;
    for (QMdiSubWindow* sub : mdiArea_->subWindowList()) {
        QWidget* w = sub->widget();
        if (w && w->property(kKindProperty).toInt() == static_cast<int>(kind)) {
            found = sub;
        }
    }
    return found ? found->widget() : nullptr;
}

QWidget* TMainForm::openChild(ChildKind kind) {
    QWidget* w = child(kind);
    QMdiSubWindow* sub = nullptr;
    if (w) {
        sub = qobject_cast<QMdiSubWindow*>(w->parentWidget());
    } else {
        const auto it = factories_.find(kind);
        if (it == factories_.end() || !it->second.make) {
            return nullptr;
        }
        w = it->second.make(*this);
        if (!w) {
            return nullptr;
        }
        w->setProperty(kKindProperty, static_cast<int>(kind));
        w->setAttribute(Qt::WA_DeleteOnClose);
        // The window's own size is the size of its frame, as each window states it.
        const QSize frameSize = w->size();
        sub = mdiArea_->addSubWindow(w, it->second.flags);
        sub->setAttribute(Qt::WA_DeleteOnClose);
        // A window that closes itself ("Quit") goes, and the frame would stay empty. Queued, as
        // the frame may itself be on its way out when the window goes.
        connect(w, &QObject::destroyed, sub, &QWidget::close, Qt::QueuedConnection);
        sub->setWindowIcon(windowIcon());
        if (const auto frame = rememberedFrame(w->objectName())) {
            sub->setGeometry(*frame); // where the operator left it last time
        } else {
            sub->resize(frameSize);
            const QSize area = mdiArea_->viewport()->size();
            sub->move(std::max(0, (area.width() - frameSize.width()) / 2),
                      std::max(0, (area.height() - frameSize.height()) / 2));
        }
        sub->installEventFilter(this);
    }
    sub->show();
    sub->raise();
    mdiArea_->setActiveSubWindow(sub);
    return w;
}

PortLink& TMainForm::portLink() {
    if (!portLink_) {
        portLink_ = std::make_unique<NoPortLink>(messages_);
    }
    return *portLink_;
}

void TMainForm::setLinkConnected(bool connected, const QString& statusText) {
    setPanelText(0,
                 !statusText.isEmpty() ? statusText : (connected ? kConnectText : kDisconnectText));
    const QString hint = connected ? kDisconnectText : kConnectText;
    connectAction_->setIcon(drawnIcon(connected ? Picture::Connected : Picture::Disconnected));
    connectAction_->setText(hint);
    connectAction_->setToolTip(hint);
    connectAction_->setStatusTip(hint);
    for (const char* name : {"N32", "N34"}) {
        findChild<QAction*>(QLatin1String(name))->setEnabled(connected);
    }
}

void TMainForm::showDataCheckError(const QString& text) {
    setPanelText(4, text);
}

void TMainForm::ToolButton_ConnectClick() {
    portLink().connectClicked(static_cast<bool>(context_.LinkConnected));
}

void TMainForm::Timer1Timer() {
    timer1_->stop();
    setPanelText(4, clockText(QDateTime::currentDateTime(), QLocale::system()));
    setPanelText(2, context_.LinkConnected ? kConnectText : kDisconnectText);
    timer1_->start();
}

bool TMainForm::event(QEvent* e) {
    if (e->type() == QEvent::StatusTip) {
        // Hints go to panel 0 and leave the other panels in place.
        setPanelText(0, static_cast<QStatusTipEvent*>(e)->tip());
        return true;
    }
    return QMainWindow::event(e);
}

void TMainForm::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void TMainForm::FormShow() {
    if (portLinkFactory_) {
        portLink_ = portLinkFactory_(*this);
    }
    portLink();
    timer1_->start();
    if (loginStep_ && !loginStep_(*this)) {
        endRequested_ = true;
        timer1_->stop();
        emit loginQuit();
    }
}

void TMainForm::rememberChildFrame(const QMdiSubWindow* sub) {
    if (sub->widget() != nullptr && !sub->isMaximized() && !sub->isMinimized()) {
        rememberFrame(sub->widget()->objectName(), sub->geometry());
    }
}

bool TMainForm::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::Close) {
        if (const auto* sub = qobject_cast<QMdiSubWindow*>(watched)) {
            rememberChildFrame(sub);
        }
    }
    return QMainWindow::eventFilter(watched, e);
}

void TMainForm::closeEvent(QCloseEvent* e) {
    if (!endRequested_ && !messages_.askYesNo(kExitTitle, kExitQuestion)) {
        e->ignore();
        return;
    }
    if (!endRequested_) {
        saveWindowGeometry(this, objectName());
        for (const QMdiSubWindow* sub : mdiArea_->subWindowList()) {
            rememberChildFrame(sub);
        }
    }
    portLink().closePort();
    timer1_->stop();
    e->accept();
    emit exitConfirmed();
}

} // namespace ufd::app

// ufd-shots OUTDIR: saves a PNG of every window, drawn on whatever platform Qt runs on (the
// offscreen one needs no display), and prints how long the start sequence takes to bring up the
// login dialog and the largest gap between clock ticks while the online window polls the
// simulated instrument. The windows work on demo databases in a temporary folder.
#include "app/child_windows.h"
#include "app/main_form.h"
#include "app/port_windows.h"
#include "app/report_windows.h"
#include "core/accounts/user_accounts.h"
#include "core/archive/report_records.h"
#include "core/context/app_context.h"
#include "demo/demo_data.h"
#include "instrument.h"
#include "widgets/message_boxes.h"
#include "widgets/operator_messages.h"
#include "windows/online/online_window.h"
#include "windows/reports/report_archive_window.h"
#include "windows/reports/report_browser.h"
#include "windows/reports/report_browser_parts.h"
#include "windows/reports/report_record_pages.h"
#include "windows/serial/port_window.h"
#include "windows/shell/about.h"
#include "windows/shell/login.h"
#include "windows/shell/user_manager.h"
#include "windows/shell/welcome.h"
#include "windows/shell/workpieces.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <cstdio>

namespace {

using namespace ufd::app;

// Answers nothing: a picture run must never wait for the operator.
class SilentMessages final : public OperatorMessages {
public:
    void showMessage(const QString&) override {}
    void showError(const QString& text) override {
        std::fprintf(stderr, "error: %s\n", qPrintable(text));
    }
    bool askYesNo(const QString&, const QString&) override { return true; }
    bool askOkCancel(const QString&) override { return false; }
};

void save(QWidget* w, const QString& dir, const QString& name) {
    QApplication::processEvents();
    const QString path = QDir(dir).filePath(name + QStringLiteral(".png"));
    if (!w->grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    } else {
        std::printf("%s\n", qPrintable(path));
    }
}

void fillDemo(AppContext& context) {
    UserAccounts users(context.dataStore().userDb());
    users.addUser(QStringLiteral("Administrator"), QStringLiteral("admin"), QStringLiteral("1"));
    users.addUser(QStringLiteral("检验员"), QStringLiteral("1234"), QStringLiteral("2"));
    users.addUser(QStringLiteral("inspector"), QStringLiteral("ut"), QStringLiteral("2"));
    QSqlQuery q(context.dataStore().reportDb());
    q.prepare(QStringLiteral("INSERT INTO tabPartInfo (PartID, PartName, PartType, Material, Heat, "
                             "Face, Mandator, FlawInfo) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
    const QStringList rows[] = {
        {"W-0001", "Flange", "DN200", "Q345R", "Normalised", "Ra 6.3", "Boiler shop",
         "Slag inclusion near the root"},
        {"W-0002", "Main shaft", "Forging", "42CrMo", "Quenched and tempered", "Ra 1.6",
         "Machining", "None recorded"},
        {"W-0003", "对接焊缝", "Butt weld", "20#", "消除应力", "Ra 12.5", "焊接车间", "根部未焊透"},
    };
    for (const QStringList& row : rows) {
        for (const QString& v : row) {
            q.addBindValue(v);
        }
        q.exec();
    }
}

} // namespace

int main(int argc, char* argv[]) {
    QElapsedTimer sinceStart;
    sinceStart.start();
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const QString out = args.size() > 1 ? args[1] : QStringLiteral("/tmp/shots");
    QDir().mkpath(out);
    QTemporaryDir folder;

    // The start sequence of the program, up to the login dialog.
    Tlogo splash;
    splash.show();
    splash.repaint();
    QApplication::processEvents();
    QCoreApplication::setApplicationName(QLatin1String(kApplicationTitle));
    SilentMessages messages;
    AppContext context;
    if (!context.openData(folder.path())) {
        std::fprintf(stderr, "%s\n", qPrintable(context.lastError()));
        return 1;
    }
    // The instrument, linked where the port window looks for it.
    ufd::sim::Instrument instrument;
    std::string simError;
    if (!instrument.start(QDir(folder.path())
                              .filePath(QLatin1String(ufd::serial::kSimulatorLinkName))
                              .toStdString(),
                          simError)) {
        std::fprintf(stderr, "ufd-sim: %s\n", simError.c_str());
        return 1;
    }
    QElapsedTimer demoFill;
    demoFill.start();
    fillDemo(context); // hashing the demo passwords is no part of a start
    const qint64 demoFillMs = demoFill.elapsed();
    TMainForm form(context, messages);
    context.ProgramFolder = folder.path() + QLatin1Char('/');
    registerRecordWindows(form);
    registerPortWindow(form);
    registerReportWindows(form);
    connectDispatcher(form);
    qint64 loginShownMs = -1;
    form.setLoginStep([&](TMainForm& f) {
        Tdenglu login(context, messages, &f);
        QTimer::singleShot(0, &login, [&] {
            loginShownMs = sinceStart.elapsed();
            save(&login, out, QStringLiteral("login"));
            login.MaskEdit1->setText(QStringLiteral("admin"));
            login.BitBtn1Click();
        });
        return login.exec() == QDialog::Accepted;
    });
    form.show();
    std::printf("start to login dialog: %lld ms from main() (demo data creation of %lld ms left "
                "out)\n",
                static_cast<long long>(loginShownMs - demoFillMs),
                static_cast<long long>(demoFillMs));
    save(&splash, out, QStringLiteral("splash"));
    splash.close();

    {
        UserAccounts none(context.dataStore().userDb());
        FirstAccountDialog first(none, messages);
        first.show();
        save(&first, out, QStringLiteral("first_account"));
    }

    save(&form, out, QStringLiteral("main_disconnected"));

    // The port window closed, then open on the simulator's line.
    auto& port = dynamic_cast<ufd::serial::Tcksz&>(form.portLink());
    port.showPortWindow();
    save(&port, out, QStringLiteral("port_closed"));
    port.portBox()->setCurrentIndex(
        port.portBox()->findData(QString::fromStdString(instrument.linkPath())));
    port.suiButtonOpenCommClick();
    save(&port, out, QStringLiteral("port_open"));
    port.close();

    form.ToolButton_ConnectClick();
    QElapsedTimer waited;
    waited.start();
    while (!context.LinkConnected && waited.elapsed() < 5000) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    form.Timer1Timer();
    save(&form, out, QStringLiteral("main_connected"));

    // The clock while the online window polls: the largest gap between two ticks.
    auto* clock = form.findChild<QTimer*>(QStringLiteral("Timer1"));
    qint64 largestGap = 0;
    long long ticks = 0;
    QElapsedTimer sinceTick;
    QObject::connect(clock, &QTimer::timeout, &form, [&] {
        if (sinceTick.isValid()) {
            largestGap = std::max(largestGap, sinceTick.elapsed());
        }
        ++ticks;
        sinceTick.restart();
    });
    form.resize(1180, 860); // room for the online window's own size
    auto* online = dynamic_cast<ufd::online::TSssj*>(form.openChild(ChildKind::Online));
    if (online == nullptr || !context.LinkConnected) {
        std::fprintf(stderr, "the instrument did not connect\n");
        return 1;
    }
    online->BitBtn_StartClick();
    QElapsedTimer polling;
    polling.start();
    while (polling.elapsed() < 10000) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    std::printf("clock while polling for 10 s: %lld ticks, largest gap %lld ms (period 300 ms); "
                "%lld live answers\n",
                ticks, static_cast<long long>(largestGap),
                static_cast<long long>(instrument.stats().answers));
    save(&form, out, QStringLiteral("main_online_polling"));
    online->BitBtn_StopClick();
    ufd::app::closeChildWindow(online);
    QApplication::processEvents();
    form.resize(1024, 700);

    const std::pair<ChildKind, const char*> children[] = {
        {ChildKind::Workpieces, "workpieces"},
        {ChildKind::UserManager, "user_manager"},
        {ChildKind::Station, "station"},
        {ChildKind::About, "about"},
    };
    for (const auto& [kind, name] : children) {
        QWidget* w = form.openChild(kind);
        save(w->parentWidget(), out, QLatin1String(name));
    }
    form.mdiArea()->cascadeSubWindows();
    save(&form, out, QStringLiteral("main_with_children"));

    // The reports imported from here on take the station's details over.
    ufd::archive::ReportRecords(context.dataStore().archiveDb())
        .setStation({ufd::archive::stationName(),
                     {{"instrument", "UFD-2000"},
                      {"instrument-serial", "SN 20417"},
                      {"calibration-due", "2027-03-31"},
                      {"location", "Shanghai, bay 3"}}});
    // The report browser after an import, three reports selected for one PDF.
    context.reportImage().assign(ufd::demo::makeReportImage(12, 3));
    auto* browser =
        dynamic_cast<ufd::reports::TFImPortData*>(form.openChild(ChildKind::ReportBrowser));
    if (browser != nullptr) {
        browser->setFileChooser([](QWidget*, const QString&) { return QString(); });
        browser->BitBtn_OpenClick();
        browser->parentWidget()->showMaximized();
        auto* selection = browser->grid()->selectionModel();
        for (int row : {2, 4, 5}) {
            selection->select(browser->grid()->model()->index(row, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
        save(&form, out, QStringLiteral("report_browser_selected"));
        QTimer::singleShot(300, [&out] {
            if (QWidget* preview = QApplication::activeModalWidget()) {
                preview->resize(900, 900);
                save(preview, out, QStringLiteral("print_preview"));
                preview->close();
            }
        });
        browser->BitBtn_PrintClick();
        ufd::app::closeChildWindow(browser);
        QApplication::processEvents();
    }
    // The archive holds what the browser imported.
    if (QWidget* archive = form.openChild(ChildKind::ReportArchive)) {
        archive->parentWidget()->showMaximized();
        save(&form, out, QStringLiteral("report_archive"));
        // The newest report examined, checked by another user, then amended with a reason.
        if (auto* window = dynamic_cast<ufd::reports::TFReportArchive*>(archive)) {
            ufd::reports::RecordDetailsPage* details = window->detailsPage();
            window->pages()->setCurrentWidget(details);
            qobject_cast<QLineEdit*>(details->editor("procedure"))->setText("QP-UT-07 rev. C");
            qobject_cast<QLineEdit*>(details->editor("acceptance"))->setText("GB/T 11345, level 2");
            qobject_cast<QComboBox*>(details->editor("evaluation"))->setCurrentText("accept");
            qobject_cast<QLineEdit*>(details->editor("couplant"))->setText("Glycerine paste");
            qobject_cast<QLineEdit*>(details->editor("block"))->setText("CSK-IA");
            window->saveDetailsClick();
            window->setSignPrompt([](const QStringList&, const ufd::archive::ReportRecord&) {
                return std::optional<ufd::reports::SignCredentials>({"inspector", "ut"});
            });
            window->signClick();
            save(&form, out, QStringLiteral("report_archive_details_signed"));
            qobject_cast<QComboBox*>(details->editor("evaluation"))->setCurrentText("repair");
            details->reasonBox()->setText("Indication at 42 mm re-read as lack of fusion");
            window->saveDetailsClick();
            save(&form, out, QStringLiteral("report_archive_details_amended"));
            window->pages()->setCurrentWidget(window->historyPage());
            save(&form, out, QStringLiteral("report_archive_history"));
            // A name search, typed in lower case.
            window->pages()->setCurrentIndex(0);
            window->nameFilter()->setText(QStringLiteral("weld-001"));
            window->refresh();
            QApplication::processEvents();
            save(&form, out, QStringLiteral("report_archive_name_search"));
        }
        ufd::app::closeChildWindow(archive);
        QApplication::processEvents();
    }

    QMessageBox question(QMessageBox::Question,
                         QStringLiteral("Tarvenix of ultrasonic flaw detector"),
                         QStringLiteral("Are you sure you want to exit the system?"),
                         QMessageBox::Yes | QMessageBox::No);
    question.show();
    fitMessageBoxTitle(question);
    save(&question, out, QStringLiteral("exit_question"));
    QMessageBox askForPort(QMessageBox::NoIcon, QLatin1String(kApplicationTitle),
                           QStringLiteral("请您先在“通信设置”菜单中打开通信口！"), QMessageBox::Ok);
    askForPort.show();
    fitMessageBoxTitle(askForPort);
    save(&askForPort, out, QStringLiteral("connect_without_port"));
    return 0;
}

// ufd-shots OUTDIR: saves a PNG of every window, drawn on whatever platform Qt runs on (the
// offscreen one needs no display), and prints how long the start sequence takes to bring up the
// login dialog. The windows work on demo databases in a temporary folder.
#include "app/about.h"
#include "app/app_context.h"
#include "app/login.h"
#include "app/main_form.h"
#include "app/message_boxes.h"
#include "app/operator_messages.h"
#include "app/user_accounts.h"
#include "app/user_manager.h"
#include "app/welcome.h"
#include "app/workpieces.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QSqlQuery>
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
    QElapsedTimer demoFill;
    demoFill.start();
    fillDemo(context); // hashing the demo passwords is no part of a start
    const qint64 demoFillMs = demoFill.elapsed();
    TMainForm form(context, messages);
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
    form.setLinkConnected(true);
    form.Timer1Timer();
    save(&form, out, QStringLiteral("main_connected"));

    const std::pair<ChildKind, const char*> children[] = {
        {ChildKind::Workpieces, "workpieces"},
        {ChildKind::UserManager, "user_manager"},
        {ChildKind::About, "about"},
    };
    for (const auto& [kind, name] : children) {
        QWidget* w = form.openChild(kind);
        save(w->parentWidget(), out, QLatin1String(name));
    }
    form.mdiArea()->cascadeSubWindows();
    save(&form, out, QStringLiteral("main_with_children"));

    QMessageBox question(QMessageBox::Question,
                         QStringLiteral("Tarvenix of ultrasonic flaw detector"),
                         QStringLiteral("Are you sure you want to exit the system?"),
                         QMessageBox::Yes | QMessageBox::No);
    question.show();
    save(&question, out, QStringLiteral("exit_question"));
    QMessageBox port(QMessageBox::NoIcon, QLatin1String(kApplicationTitle),
                     QStringLiteral("请您先在“通信设置”菜单中打开通信口！"), QMessageBox::Ok);
    port.show();
    save(&port, out, QStringLiteral("connect_without_port"));
    return 0;
}

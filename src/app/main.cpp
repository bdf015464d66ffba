// The program's wiring: splash, application title, databases, main window, message loop.
#include "app/child_windows.h"
#include "app/main_form.h"
#include "app/port_windows.h"
#include "app/report_windows.h"
#include "app/startup.h"
#include "core/context/app_context.h"
#include "widgets/message_boxes.h"
#include "windows/shell/welcome.h"

#include <QApplication>
#include <QDir>
#include <QInputDialog>
#include <QLineEdit>
#include <QTimer>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);

    ufd::app::Tlogo splash;
    splash.show();
    splash.repaint();
    QApplication::processEvents();

    QCoreApplication::setApplicationName(QLatin1String(ufd::app::kApplicationTitle));
    ufd::app::MessageBoxOperatorMessages messages;

    // The databases are named without a folder: they live in the current folder.
    ufd::app::AppContext context;
    // Only for a shared server named beside the program, when UFD_DB_PASSWORD is not set.
    context.setPasswordPrompt(
        [](const ufd::archive::ServerAddress& server) -> std::optional<QString> {
            bool ok = false;
            const QString password = QInputDialog::getText(
                nullptr, QLatin1String(ufd::app::kApplicationTitle),
                QStringLiteral("Password for the database server %1:").arg(server.describe()),
                QLineEdit::Password, QString(), &ok);
            return ok ? std::optional<QString>(password) : std::nullopt;
        });
    if (!ufd::app::openStartupData(context, messages, QDir::currentPath())) {
        return 1;
    }

    ufd::app::TMainForm mainForm(context, messages);
    ufd::app::registerRecordWindows(mainForm);
    ufd::app::registerReportWindows(mainForm);
    ufd::app::registerPortWindow(mainForm);
    ufd::app::connectDispatcher(mainForm);
    messages.setParentWindow(&mainForm);
    // The main window has closed by then; quit() would send every window a close event again.
    QObject::connect(&mainForm, &ufd::app::TMainForm::exitConfirmed, &app,
                     [] { QCoreApplication::exit(0); });
    mainForm.show(); // the first showing runs the login
    if (mainForm.endRequested()) {
        return 0;
    }

    QTimer::singleShot(1000, &splash, &QWidget::close);
    return QApplication::exec();
}

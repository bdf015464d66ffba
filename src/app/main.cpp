// The program's wiring: splash, application title, databases, main window, message loop.
#include "app/child_windows.h"
#include "app/command_line.h"
#include "app/main_form.h"
#include "app/port_windows.h"
#include "app/report_windows.h"
#include "app/startup.h"
#include "core/context/app_context.h"
#include "core/context/station_folder.h"
#include "widgets/message_boxes.h"
#include "windows/shell/welcome.h"

#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QTimer>
#include <cstdio>

int main(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    // Before the application object, which needs a display.
    const ufd::app::ProgramCommandLine line = ufd::app::readProgramCommandLine(arguments);
    using Action = ufd::app::ProgramCommandLine::Action;
    if (line.action != Action::Run) {
        const QByteArray text = line.text.toLocal8Bit();
        std::fputs(text.constData(), line.action == Action::Refused ? stderr : stdout);
        return line.action == Action::Refused ? ufd::app::kExitUsage : ufd::app::kExitOk;
    }
    QApplication app(argc, argv);

    ufd::app::Tlogo splash;
    splash.show();
    splash.repaint();
    QApplication::processEvents();

    ufd::app::setStationIdentity();
    ufd::app::MessageBoxOperatorMessages messages;

    // Beside the program, or in the user's data folder where the program is installed.
    const ufd::app::StationFolders folders = ufd::app::stationFolders();
    if (!folders.error.isEmpty()) {
        messages.showError(folders.error);
    }
    ufd::app::AppContext context;
    context.ProgramFolder = folders.program;
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
    if (!ufd::app::openStartupData(context, messages, folders.databases)) {
        return ufd::app::kExitFailure;
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

#include "app/port_windows.h"

#include "app/main_form.h"
#include "core/context/app_context.h"
#include "widgets/operator_messages.h"
#include "windows/serial/port_window.h"

#include <QDir>

namespace ufd::app {

void registerPortWindow(TMainForm& form) {
    form.setPortLinkFactory([](TMainForm& f) -> std::unique_ptr<PortLink> {
        AppContext& c = f.context();
        const QString simulatorLink =
            QDir(c.ProgramFolder).filePath(QLatin1String(serial::kSimulatorLinkName));
        // Owned by the main window as its port link; a window of its own above it.
        return std::make_unique<serial::Tcksz>(c.comm(), c.dispatcher(), f.messages(),
                                               simulatorLink, &f);
    });
}

void connectDispatcher(TMainForm& form) {
    protocol::Dispatcher& dispatcher = form.context().dispatcher();
    QObject::connect(&dispatcher, &protocol::Dispatcher::linkStateChanged, &form,
                     &TMainForm::setLinkConnected);
    QObject::connect(&dispatcher, &protocol::Dispatcher::dataCheckError, &form,
                     &TMainForm::showDataCheckError);
    OperatorMessages& messages = form.messages();
    QObject::connect(&dispatcher, &protocol::Dispatcher::operatorMessage, &form,
                     [&messages](const QString& text) { messages.showMessage(text); });
    // A lost line back: panel 0 says so until the instrument answers the new connect.
    QObject::connect(&dispatcher, &protocol::Dispatcher::lineBack, &form,
                     [&form](const QString&, const QString& text) { form.setPanelText(0, text); });
    // Queued, so that the port window and the status bar show the closed line first.
    QObject::connect(
        &dispatcher, &protocol::Dispatcher::lineGone, &form,
        [&messages](const QString& text) { messages.showMessage(text); }, Qt::QueuedConnection);
}

} // namespace ufd::app

#include "app/report_windows.h"

#include "app/main_form.h"
#include "core/context/app_context.h"
#include "windows/protocol/upload_window.h"
#include "windows/reports/report_archive_window.h"
#include "windows/reports/report_browser.h"
#include "windows/reports/report_documents.h"
#include "windows/serial/port_link.h"

namespace ufd::app {

void registerReportWindows(TMainForm& form) {
    form.setChildFactory(ChildKind::Upload, [](TMainForm& f) -> QWidget* {
        AppContext& c = f.context();
        return new protocol::TFCallData(
            c.dispatcher(), c.reportImage(), [&f] { return f.portLink().portOpen(); }, f.messages(),
            c.ProgramFolder);
    });
    form.setChildFactory(ChildKind::ReportBrowser, [](TMainForm& f) -> QWidget* {
        AppContext& c = f.context();
        auto* browser = new reports::TFImPortData(c.dataStore(), c.reportQuery(), c.reportImage(),
                                                  f.messages(), c.ProgramFolder);
        // The logged-in user signs the printed pages as the inspector.
        browser->documents().setInspector([&c] { return c.DOXL_RunData.CurrentUser; });
        return browser;
    });
    form.setChildFactory(ChildKind::ReportArchive, [](TMainForm& f) -> QWidget* {
        AppContext& c = f.context();
        auto* archive = new reports::TFReportArchive(c.dataStore(), f.messages(), c.ProgramFolder);
        archive->documents().setInspector([&c] { return c.DOXL_RunData.CurrentUser; });
        archive->setCurrentUser([&c] { return c.DOXL_RunData.CurrentUser; });
        return archive;
    });
}

} // namespace ufd::app

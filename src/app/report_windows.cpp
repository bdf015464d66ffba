#include "app/report_windows.h"

#include "app/app_context.h"
#include "app/main_form.h"
#include "app/port_link.h"
#include "protocol/upload_window.h"
#include "reports/report_browser.h"

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
        return new reports::TFImPortData(c.dataStore(), c.reportQuery(), c.reportImage(),
                                         f.messages(), c.ProgramFolder);
    });
}

} // namespace ufd::app

#include "app/child_windows.h"

#include "app/main_form.h"
#include "core/context/app_context.h"
#include "core/spreadsheet/spreadsheet_report.h"
#include "windows/online/online_window.h"
#include "windows/online/replay_window.h"
#include "windows/serial/port_link.h"

namespace ufd::app {

void registerRecordWindows(TMainForm& form) {
    form.setChildFactory(ChildKind::Online, [](TMainForm& f) -> QWidget* {
        auto* w = new online::TSssj(
            f.context().dispatcher(), [&f] { return f.portLink().portOpen(); }, f.messages());
        w->setOutputFolder(reports::outfilesPath(f.context().ProgramFolder));
        return w;
    });
    form.setChildFactory(ChildKind::Replay, [](TMainForm& f) -> QWidget* {
        return new online::TFYaokong(f.context().replayState(), f.messages(),
                                     f.context().ProgramFolder);
    });
}

} // namespace ufd::app

#include "app/child_windows.h"

#include "app/main_form.h"
#include "core/context/app_context.h"
#include "core/spreadsheet/spreadsheet_report.h"
#include "windows/online/online_window.h"
#include "windows/online/replay_window.h"
#include "windows/serial/port_link.h"

#include <QDir>

namespace ufd::app {

void registerRecordWindows(TMainForm& form) {
    form.setChildFactory(ChildKind::Online, [](TMainForm& f) -> QWidget* {
        auto* w = new online::TSssj(
            f.context().dispatcher(), [&f] { return f.portLink().portOpen(); }, f.messages());
        w->setOutputFolder(reports::outfilesPath(f.context().ProgramFolder));
        w->setRecordFolder(QDir(f.context().ProgramFolder).filePath(QStringLiteral("Record")));
        w->setArchive(&f.context().dataStore());
        return w;
    });
    form.setChildFactory(ChildKind::Replay, [](TMainForm& f) -> QWidget* {
        auto* w = new online::TFYaokong(f.context().replayState(), f.messages(),
                                        f.context().ProgramFolder);
        w->setArchive(&f.context().dataStore());
        return w;
    });
}

} // namespace ufd::app

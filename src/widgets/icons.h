#pragma once

#include <QIcon>

namespace ufd::app {

// The program's own simple pictures for toolbar and record navigator buttons.
enum class Picture {
    Workpiece,
    Users,
    PortSetting,
    Connected,
    Disconnected,
    Online,
    Upload,
    Replay,
    Report,
    Exit,
    NavFirst,
    NavPrior,
    NavNext,
    NavLast,
    NavInsert,
    NavDelete,
    NavEdit,
    NavPost,
    NavCancel,
    NavRefresh,
};

QIcon drawnIcon(Picture picture);

} // namespace ufd::app
